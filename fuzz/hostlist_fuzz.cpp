// The host list "veskohosts.dat" as found on disk.
#include "FuzzSupport.h"
#include "hosts/HostTable.h"

using namespace brelo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Write(THostTable::FileName(fuzz::Scratch()), data, size);
  THostTable hosts;
  hosts.LoadHostList(fuzz::Scratch());
  if (hosts.HostCount < 0 || hosts.HostCount > kMaxHosts) __builtin_trap();
  for (int i = 0; i < hosts.HostCount; ++i) {
    const THostEntry& e = hosts.HostTable[static_cast<size_t>(i)];
    if (e.UserID.size() > 8 || e.Password.size() > 8 || e.HandleName.size() > 14) __builtin_trap();
  }
  return 0;
}
