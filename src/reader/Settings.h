// The application settings file "Brelo_V3.ini" in the program folder: the
// quote prefix of responses and the external editor.
#pragma once

#include <string>

namespace brelo {

struct TAppSettings {
  std::string QuoteString = "> ";   // Shift-JIS
  std::string Editor = "NotePad";   // a program name or a full path

  // Reads the file; missing file, section or key give the defaults.
  void Read(const std::string& programFolder);
  // Writes both keys, creating the file and its sections when missing.
  // Raises EInOutError("%s に書き込めません").
  void Write(const std::string& programFolder) const;

  static std::string FileName(const std::string& programFolder);
};

// The profile functions drop blanks around a value, so the quote string is
// stored with "_" for each space. Only single-byte underscores turn back into
// spaces: 0x5F is also the second byte of some double-byte characters (ダ).
std::string QuoteFromStored(const std::string& stored);
std::string QuoteToStored(const std::string& quote);

}  // namespace brelo
