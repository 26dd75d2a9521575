// INI-style settings files ("Brelo_V3.ini", "veskohosts.dat", "Modem.Ini")
// with the private-profile rules the stored files were written under:
// section and key names case-insensitive; values trimmed of surrounding
// blanks and cut to 1023 bytes; a present empty key is empty; integers decimal
// or "0x" hexadecimal, else the caller's default; a write replaces the key's
// value in place, keeps every other line and creates the file or section when
// missing; lines end in CR LF; values are Shift-JIS bytes.
//
// A TIniFile holds the file in memory: read it with Load, change it, then
// write it whole with Save (temporary file and rename). ReadProfileString and
// WriteProfileString do one key at a time, as the old profile calls did.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace brelo {

class TIniFile {
 public:
  explicit TIniFile(std::string path);

  // Reads the file; a missing file is an empty one. An unreadable file
  // raises EInOutError. Lines that are neither sections nor keys are kept.
  void Load();
  // Load for a reader with defaults: an unreadable file reads like a missing
  // one.
  void LoadOrEmpty();
  // Load before a rewrite: an unreadable file raises
  // EInOutError("%s に書き込めません"), since writing it whole would lose
  // every key it holds.
  void LoadForUpdate();
  // Writes the file whole; raises EInOutError("%s に書き込めません").
  // New files get `mode` (the host list, which holds passwords, uses 0600).
  void Save(unsigned mode = 0644) const;

  // Parses text as the file's content (for tests and fuzzing).
  void Parse(std::string_view text);
  std::string Text() const;

  bool HasKey(std::string_view section, std::string_view key) const;
  std::string ReadString(std::string_view section, std::string_view key, std::string_view def) const;
  int ReadInteger(std::string_view section, std::string_view key, int def) const;
  void WriteString(std::string_view section, std::string_view key, std::string_view value);
  void WriteInteger(std::string_view section, std::string_view key, int value);
  // Removes the key's line, if the section has one.
  void DeleteKey(std::string_view section, std::string_view key);
  // Removes the section: its header and every line up to the next one.
  void EraseSection(std::string_view section);

  const std::string& Path() const { return path_; }

 private:
  // Index of the section header line, or -1.
  int FindSection(std::string_view section) const;
  // Index of the key's line within the section starting at header, or -1.
  int FindKey(int header, std::string_view key) const;

  std::string path_;
  std::vector<std::string> lines_;
};

std::string ReadProfileString(const std::string& path, std::string_view section, std::string_view key,
                              std::string_view def);
int ReadProfileInteger(const std::string& path, std::string_view section, std::string_view key, int def);
void WriteProfileString(const std::string& path, std::string_view section, std::string_view key,
                        std::string_view value);
void WriteProfileInteger(const std::string& path, std::string_view section, std::string_view key, int value);

// The profile rule for integers: decimal, or hexadecimal after "0x"/"0X",
// with an optional sign; anything else gives def.
int ProfileIntDef(std::string_view text, int def);

}  // namespace brelo
