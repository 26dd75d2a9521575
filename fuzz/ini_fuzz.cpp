// INI files: reading keys, writing one, and reading it back.
#include <cstdint>
#include <string>

#include "common/IniFile.h"

using namespace brelo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TIniFile ini("unused");
  ini.Parse(std::string_view(reinterpret_cast<const char*>(data), size));
  for (const char* section : {"Hosts", "HOST 0", "MODEM", "Text"}) {
    for (const char* key : {"Count", "Title", "PORT", "QuoteString"}) {
      if (ini.ReadString(section, key, "").size() > 1023) __builtin_trap();
      ini.ReadInteger(section, key, 0);
    }
  }
  ini.WriteString("HOST 5", "Title", "value");
  TIniFile again("unused");
  again.Parse(ini.Text());
  if (again.ReadString("HOST 5", "Title", "") != "value") __builtin_trap();
  return 0;
}
