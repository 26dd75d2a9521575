#include "common/IniFile.h"

#include <limits>
#include <utility>

#include "common/FileUtil.h"

namespace brelo {
namespace {

constexpr size_t kMaxValue = 1023;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && (IsBlank(s.back()) || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 32);
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 32);
    if (x != y) return false;
  }
  return true;
}

// The section name of a header line "[name]", or false.
bool SectionName(std::string_view line, std::string_view& name) {
  line = Trim(line);
  if (line.empty() || line.front() != '[') return false;
  size_t close = line.find(']');
  if (close == std::string_view::npos) return false;
  name = Trim(line.substr(1, close - 1));
  return true;
}

// Splits "key=value"; comments (";") and lines without "=" are no keys.
bool KeyValue(std::string_view line, std::string_view& key, std::string_view& value) {
  std::string_view t = Trim(line);
  if (t.empty() || t.front() == ';') return false;
  size_t eq = line.find('=');
  if (eq == std::string_view::npos) return false;
  key = Trim(line.substr(0, eq));
  value = Trim(line.substr(eq + 1));
  return true;
}

}  // namespace

int ProfileIntDef(std::string_view s, int def) {
  s = Trim(s);
  bool neg = false;
  if (!s.empty() && (s.front() == '-' || s.front() == '+')) {
    neg = s.front() == '-';
    s.remove_prefix(1);
  }
  int base = 10;
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    base = 16;
    s.remove_prefix(2);
  }
  if (s.empty()) return def;
  long long v = 0;
  for (char c : s) {
    int d;
    if (c >= '0' && c <= '9') d = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f') d = c - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F') d = c - 'A' + 10;
    else return def;
    v = v * base + d;
    if (v > 0xFFFFFFFFLL) return def;
  }
  // "0xFFFFFFFF" is -1, as a 32-bit profile value always was.
  if (base == 16 && v > std::numeric_limits<int>::max()) v -= 0x100000000LL;
  if (neg) v = -v;
  if (v > std::numeric_limits<int>::max() || v < std::numeric_limits<int>::min()) return def;
  return static_cast<int>(v);
}

TIniFile::TIniFile(std::string path) : path_(std::move(path)) {}

void TIniFile::Load() {
  std::optional<std::string> text = ReadWholeFile(path_);
  Parse(text ? *text : std::string());
}

void TIniFile::LoadOrEmpty() {
  try {
    Load();
  } catch (const EInOutError&) {
    lines_.clear();
  }
}

void TIniFile::LoadForUpdate() {
  try {
    Load();
  } catch (const EInOutError&) {
    throw EInOutError(CannotWriteText(path_));
  }
}

void TIniFile::Parse(std::string_view text) { lines_ = SplitLines(text); }

std::string TIniFile::Text() const { return JoinLinesCRLF(lines_); }

void TIniFile::Save(unsigned mode) const {
  try {
    WriteFileAtomic(path_, Text(), mode);
  } catch (const EInOutError&) {
    throw EInOutError(CannotWriteText(path_));  // the settings files' own message, as it stands
  }
}

int TIniFile::FindSection(std::string_view section) const {
  for (size_t i = 0; i < lines_.size(); ++i) {
    std::string_view name;
    if (SectionName(lines_[i], name) && EqualNoCase(name, Trim(section))) return static_cast<int>(i);
  }
  return -1;
}

int TIniFile::FindKey(int header, std::string_view key) const {
  for (size_t i = static_cast<size_t>(header) + 1; i < lines_.size(); ++i) {
    std::string_view name;
    if (SectionName(lines_[i], name)) break;
    std::string_view k, v;
    if (KeyValue(lines_[i], k, v) && EqualNoCase(k, Trim(key))) return static_cast<int>(i);
  }
  return -1;
}

bool TIniFile::HasKey(std::string_view section, std::string_view key) const {
  int h = FindSection(section);
  return h >= 0 && FindKey(h, key) >= 0;
}

std::string TIniFile::ReadString(std::string_view section, std::string_view key, std::string_view def) const {
  int h = FindSection(section);
  int k = h >= 0 ? FindKey(h, key) : -1;
  std::string_view value = def;
  if (k >= 0) {
    std::string_view name;
    KeyValue(lines_[static_cast<size_t>(k)], name, value);
  }
  return std::string(value.substr(0, kMaxValue));
}

int TIniFile::ReadInteger(std::string_view section, std::string_view key, int def) const {
  if (!HasKey(section, key)) return def;
  return ProfileIntDef(ReadString(section, key, ""), def);
}

void TIniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
  std::string line = std::string(Trim(key)) + "=" + std::string(value);
  int h = FindSection(section);
  if (h < 0) {
    // Appended piece by piece: GCC 12's -O3 sees an overlap in "[" + string
    // (a false -Wrestrict) that a user's Release build would stop on.
    std::string heading = "[";
    heading.append(Trim(section));
    heading += ']';
    lines_.push_back(std::move(heading));
    lines_.push_back(line);
    return;
  }
  int k = FindKey(h, key);
  if (k >= 0) {
    lines_[static_cast<size_t>(k)] = line;
    return;
  }
  // After the section's last key, before any blank lines that separate it
  // from the next section.
  size_t end = static_cast<size_t>(h) + 1;
  size_t insert = end;
  for (; end < lines_.size(); ++end) {
    std::string_view name;
    if (SectionName(lines_[end], name)) break;
    if (!Trim(lines_[end]).empty()) insert = end + 1;
  }
  lines_.insert(lines_.begin() + static_cast<long>(insert), line);
}

void TIniFile::DeleteKey(std::string_view section, std::string_view key) {
  const int h = FindSection(section);
  const int k = h < 0 ? -1 : FindKey(h, key);
  if (k >= 0) lines_.erase(lines_.begin() + k);
}

void TIniFile::EraseSection(std::string_view section) {
  const int h = FindSection(section);
  if (h < 0) return;
  size_t end = static_cast<size_t>(h) + 1;
  for (std::string_view name; end < lines_.size() && !SectionName(lines_[end], name);) ++end;
  lines_.erase(lines_.begin() + h, lines_.begin() + static_cast<long>(end));
}

void TIniFile::WriteInteger(std::string_view section, std::string_view key, int value) {
  WriteString(section, key, std::to_string(value));
}

std::string ReadProfileString(const std::string& path, std::string_view section, std::string_view key,
                              std::string_view def) {
  TIniFile f(path);
  f.Load();
  return f.ReadString(section, key, def);
}

int ReadProfileInteger(const std::string& path, std::string_view section, std::string_view key, int def) {
  TIniFile f(path);
  f.Load();
  return f.ReadInteger(section, key, def);
}

void WriteProfileString(const std::string& path, std::string_view section, std::string_view key,
                        std::string_view value) {
  TIniFile f(path);
  f.LoadForUpdate();
  f.WriteString(section, key, value);
  f.Save();
}

void WriteProfileInteger(const std::string& path, std::string_view section, std::string_view key, int value) {
  WriteProfileString(path, section, key, std::to_string(value));
}

}  // namespace brelo
