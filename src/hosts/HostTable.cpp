#include "hosts/HostTable.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>

#include "common/FileUtil.h"
#include "common/IniFile.h"
#include "common/Sjis.h"
#include "common/StringLock.h"
#include "session/Address.h"

namespace brelo {

std::string THostTable::FileName(const std::string& programFolder) {
  return JoinPath(programFolder, "veskohosts.dat");
}

std::string THostTable::SectionName(int i) { return SafeFormat("HOST%2d", i); }

std::string THostTable::TickSuffix(int32_t tickCount) {
  return SafeFormat("%.4X", static_cast<unsigned>(tickCount % 65535));
}

THostEntry THostTable::SampleEntry() {
  THostEntry e;
  e.Title = Sjis("デモ草の根ネット (練習用)");
  e.FilePath = "DEMO";
  e.Address = "telnet://127.0.0.1:2323/";
  e.UserID = "GUEST";
  e.Password = "";
  e.HandleName = "Pallo";
  e.HostKind = 0;
  return e;
}

namespace {

// The keys a save writes for every entry.
constexpr const char* kEntryKeys[] = {"Title", "FilePath", "Address", "UserID", "Password", "HandleName", "HostKind"};

// What makes a host list text less than whole (Shift-JIS; empty when it is whole).
std::string Incomplete(const TIniFile& ini, const std::string& text, int count) {
  if (text.find('\0') != std::string::npos) return Sjis("NUL 文字があります");
  if (!ini.HasKey("Hosts", "Count")) return Sjis("[Hosts] の Count がありません");
  if (text.back() != '\n') return Sjis("最後の行が途中で切れています");
  for (int i = 0; i < count; ++i) {
    for (const char* key : kEntryKeys) {
      if (!ini.HasKey(THostTable::SectionName(i), key)) {
        return "[" + THostTable::SectionName(i) + "] " + Sjis("の ") + key + Sjis(" がありません");
      }
    }
  }
  return std::string();
}

}  // namespace

void THostTable::LoadHostList(const std::string& programFolder) {
  LoadProblem.clear();
  damaged_ = false;
  const std::string path = FileName(programFolder);
  if (!FileExists(path)) {
    HostTable[0] = SampleEntry();
    HostCount = 1;
    return;
  }
  // The file holds passwords: one that others can read is set back to the
  // owner only, as ssh does with its keys, and the user is told once.
  struct stat st;
  if (::stat(path.c_str(), &st) == 0 && (st.st_mode & 077) != 0) {
    if (::chmod(path.c_str(), 0600) == 0) {
      LoadProblem = PathText(path) + Sjis(" はほかのユーザーも読める状態でした (パスワードを含みます)。") +
                    Sjis("所有者だけが読み書きできるように直しました");
    } else {
      LoadProblem = PathText(path) + Sjis(" はほかのユーザーも読める状態ですが、直せませんでした (") +
                    ReasonText(errno) + ")";
    }
  }
  // The bytes as they are on the disk: a cut last line shows only there.
  const std::string text = ReadWholeFile(path).value_or(std::string());
  TIniFile ini(path);
  ini.Parse(text);
  // Not a host list at all, or not a whole one: the file is kept aside and
  // a save writes a fresh one.
  const bool blank = text.find_first_not_of(" \t\r\n") == std::string::npos;
  HostCount = std::clamp(ini.ReadInteger("Hosts", "Count", 0), 0, kMaxHosts);
  const std::string why = blank ? std::string() : Incomplete(ini, text, HostCount);
  if (!why.empty()) {
    // Nothing of it is used: a host filled in with guesses would call the
    // wrong place with the wrong password and file into the wrong folder.
    damaged_ = true;
    HostCount = 0;
    const std::string aside = KeepAside(path);
    if (!LoadProblem.empty()) LoadProblem += "\r\n";
    LoadProblem += PathText(path) + Sjis(" はホスト一覧として読めません (") + why + Sjis(")。ホストは読み込みません。");
    LoadProblem += aside.empty() ? Sjis("控えを作れませんでした") : Sjis("元のファイルを ") + PathText(aside) + Sjis(" に残しました");
    return;
  }
  for (int i = 0; i < HostCount; ++i) {
    const std::string s = SectionName(i);
    THostEntry& e = HostTable[static_cast<size_t>(i)];
    e.Title = ini.ReadString(s, "Title", Sjis("新規ホスト"));
    e.FilePath = ini.ReadString(s, "FilePath", SafeIntToStr(i));
    e.Address = ini.ReadString(s, "Address", "127.0.0.1");
    e.UserID = CutBytes(ini.ReadString(s, "UserID", "GUEST"), 8);
    e.Password = CutBytes(ini.ReadString(s, "Password", "QWKZ"), 8);
    e.HandleName = CutBytes(ini.ReadString(s, "HandleName", "Pallo"), 14);
    e.HostKind = ini.ReadInteger(s, "HostKind", 0);
    e.TerminalType = TerminalTypeOrDefault(ini.ReadString(s, "TerminalType", THostEntry::kDefaultTerminalType));
    e.RemoveEscapes = ini.ReadInteger(s, "Escapes", 1) != 0;
    e.Encoding = ParseHostEncoding(ini.ReadString(s, "Encoding", ""));
    e.Line = ParseLineKind(ini.ReadString(s, "Line", ""));
    e.UploadCommand = CutBytes(ini.ReadString(s, "UploadCommand", ""), 64);
    e.TerminalOnly = ini.ReadInteger(s, "TerminalOnly", 0) != 0;
    e.EditorLines = std::max(0, ini.ReadInteger(s, "EditorLines", 0));
    e.EditorLineBytes = std::max(0, ini.ReadInteger(s, "EditorLineBytes", 0));
    const std::string backspace = SafeUpperCase(ini.ReadString(s, "Backspace", ""));
    e.Backspace = backspace == "BS" ? EBackspaceKey::kBS : backspace == "DEL" ? EBackspaceKey::kDEL : EBackspaceKey::kAuto;
    const int size = ini.ReadInteger(s, "FontSize", 0);
    e.FontSize = size <= 0 ? 0 : std::clamp(size, THostEntry::kMinFontSize, THostEntry::kMaxFontSize);
    e.KeyModeAtStart = ini.ReadInteger(s, "KeyMode", 0) != 0;
    e.SshKey = ini.ReadString(s, "SshKey", "");
  }
}

std::string THostTable::FolderProblem(const std::string& filePath) {
  bool dotPart = false;
  for (size_t at = 0; at <= filePath.size();) {
    const size_t end = std::min(filePath.find_first_of("/\\", at), filePath.size());
    const std::string part = filePath.substr(at, end - at);
    dotPart |= part == "." || part == "..";
    at = end + 1;
  }
  if (filePath.empty() || filePath.front() == '/' || filePath.front() == '\\' || dotPart ||
      filePath.find('\0') != std::string::npos) {
    return Sjis("ホストのフォルダ \"") + filePath + Sjis("\" は使えません (プログラムのフォルダの下のフォルダの名前にしてください)");
  }
  return std::string();
}

TEditorLimits TEditorLimits::For(const THostEntry& e) {
  TEditorLimits l;
  if (e.EditorLines > 0) l.Lines = e.EditorLines;
  if (e.EditorLineBytes > 0) l.LineBytes = e.EditorLineBytes;
  return l;
}

bool BackspaceSendsDelete(const THostEntry& e) {
  if (e.Backspace != EBackspaceKey::kAuto) return e.Backspace == EBackspaceKey::kDEL;
  return e.TerminalOnly || ParseAddress(e.Address).kind == TAddress::kSsh;
}

std::string TerminalTypeOrDefault(const std::string& name) {
  // A name with a control byte or a blank would break the answer to the host.
  const bool usable = !name.empty() && name.size() <= 40 && std::all_of(name.begin(), name.end(), [](char c) {
    return static_cast<unsigned char>(c) > 0x20 && static_cast<unsigned char>(c) < 0x7F;
  });
  return usable ? name : THostEntry::kDefaultTerminalType;
}

void THostTable::SaveHostList(const std::string& programFolder) {
  const std::string path = FileName(programFolder);
  TIniFile ini(path);
  if (!damaged_) ini.LoadForUpdate();
  ini.WriteInteger("Hosts", "Count", HostCount);
  for (int i = 0; i < HostCount; ++i) {
    const std::string s = SectionName(i);
    const THostEntry& e = HostTable[static_cast<size_t>(i)];
    ini.WriteString(s, "Title", e.Title);
    ini.WriteString(s, "FilePath", e.FilePath);
    ini.WriteString(s, "Address", e.Address);
    ini.WriteString(s, "UserID", e.UserID);
    ini.WriteString(s, "Password", e.Password);
    ini.WriteString(s, "HandleName", e.HandleName);
    ini.WriteInteger(s, "HostKind", e.HostKind);
    // Older versions ignore the key; it is there only when it says something.
    if (e.TerminalType != THostEntry::kDefaultTerminalType) {
      ini.WriteString(s, "TerminalType", e.TerminalType);
    } else {
      ini.DeleteKey(s, "TerminalType");
    }
    if (!e.RemoveEscapes) ini.WriteString(s, "Escapes", "0");
    else ini.DeleteKey(s, "Escapes");
    if (e.Encoding != EHostEncoding::kShiftJis) ini.WriteString(s, "Encoding", HostEncodingName(e.Encoding));
    else ini.DeleteKey(s, "Encoding");
    if (e.Line != ELineKind::kAuto) ini.WriteString(s, "Line", LineKindName(e.Line));
    else ini.DeleteKey(s, "Line");
    if (!e.UploadCommand.empty()) ini.WriteString(s, "UploadCommand", e.UploadCommand);
    else ini.DeleteKey(s, "UploadCommand");
    if (e.TerminalOnly) ini.WriteString(s, "TerminalOnly", "1");
    else ini.DeleteKey(s, "TerminalOnly");
    if (e.EditorLines > 0) ini.WriteInteger(s, "EditorLines", e.EditorLines);
    else ini.DeleteKey(s, "EditorLines");
    if (e.EditorLineBytes > 0) ini.WriteInteger(s, "EditorLineBytes", e.EditorLineBytes);
    else ini.DeleteKey(s, "EditorLineBytes");
    if (e.Backspace != EBackspaceKey::kAuto) ini.WriteString(s, "Backspace", e.Backspace == EBackspaceKey::kDEL ? "DEL" : "BS");
    else ini.DeleteKey(s, "Backspace");
    if (e.FontSize > 0) ini.WriteInteger(s, "FontSize", e.FontSize);
    else ini.DeleteKey(s, "FontSize");
    if (e.KeyModeAtStart) ini.WriteString(s, "KeyMode", "1");
    else ini.DeleteKey(s, "KeyMode");
    if (!e.SshKey.empty()) ini.WriteString(s, "SshKey", e.SshKey);
    else ini.DeleteKey(s, "SshKey");
  }
  ini.Save(0600);
  damaged_ = false;
}

bool THostTable::Add(int32_t tickCount) {
  if (HostCount >= kMaxHosts) return false;
  const std::string suffix = TickSuffix(tickCount);
  THostEntry e;
  e.Title = Sjis("新規ホスト") + suffix;
  e.FilePath = "HOST" + suffix;
  e.Address = "127.0.0.1";
  e.UserID = "GUEST";
  e.Password = "QWKZ";
  e.HandleName = "Pallo";
  e.HostKind = 0;
  HostTable[static_cast<size_t>(HostCount++)] = e;
  return true;
}

void THostTable::Delete(int index) {
  if (index < 0 || index >= HostCount) return;
  for (int i = index; i + 1 < HostCount; ++i) HostTable[static_cast<size_t>(i)] = HostTable[static_cast<size_t>(i + 1)];
  --HostCount;
}

}  // namespace brelo
