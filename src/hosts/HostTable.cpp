#include "hosts/HostTable.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <map>
#include <mutex>
#include <thread>

#include "common/FileUtil.h"
#include "common/IniFile.h"
#include "common/Sjis.h"
#include "common/StringLock.h"
#include "session/Address.h"

namespace brelo {

std::string THostTable::FileName(const std::string& programFolder) {
  return JoinPath(programFolder, "veskohosts.dat");
}

namespace {

// The list locks this process holds: a lock taken again by the thread that
// holds it only counts.
struct THeldListLock {
  int fd = -1;
  int depth = 0;
  std::thread::id owner;
};
std::mutex g_heldMutex;
std::map<std::string, THeldListLock> g_held;

}  // namespace

std::string THostListLock::FileName(const std::string& programFolder) {
  return JoinPath(programFolder, "veskohosts.lock");
}

THostListLock::THostListLock(const std::string& programFolder, int waitMs) : path_(FileName(programFolder)) {
  {
    std::lock_guard<std::mutex> lk(g_heldMutex);
    THeldListLock& h = g_held[path_];
    if (h.depth > 0 && h.owner == std::this_thread::get_id()) {
      ++h.depth;
      return;
    }
  }
  int fd = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
  if (struct stat st; fd >= 0 && (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
    ::close(fd);
    fd = -1;
    errno = kErrNotRegular;
  }
  if (fd < 0) {
    // A folder that takes no file takes no list either: the list is named.
    const int err = errno;
    if (err == ENOENT || err == ENOTDIR) throw EInOutError(CannotWriteText(THostTable::FileName(programFolder)));
    throw EInOutError(CannotWriteText(path_, err));
  }
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
  while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int err = errno;
    if ((err != EWOULDBLOCK && err != EINTR) || std::chrono::steady_clock::now() >= end) {
      ::close(fd);
      if (err != EWOULDBLOCK && err != EINTR) throw EInOutError(CannotWriteText(path_, err));
      throw EInOutError(PathText(path_) + Sjis(": ほかのプロセスがホスト一覧を書き換えているため、") +
                        std::to_string(waitMs / 1000) + Sjis(" 秒待っても書き込めませんでした"));
    }
    // A writer's turn is a read and a write of a small file.
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  std::lock_guard<std::mutex> lk(g_heldMutex);
  g_held[path_] = {fd, 1, std::this_thread::get_id()};
}

THostListLock::~THostListLock() {
  std::lock_guard<std::mutex> lk(g_heldMutex);
  THeldListLock& h = g_held[path_];
  if (--h.depth > 0) return;
  ::close(h.fd);  // closing lets go of the flock
  g_held.erase(path_);
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
  // A pipe or a device link in its place is no missing list: the sample
  // shown for it would be written over it.
  if (const std::string why = NotARegularFile(path, ELinks::kRefuse); !why.empty()) throw EInOutError(why);
  if (!FileExists(path)) {
    HostTable[0] = SampleEntry();
    HostCount = 1;
    Loaded();
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
    Loaded();
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
  Loaded();
}

void THostTable::Loaded() {
  loaded_ = true;
  asLoaded_.assign(HostTable.begin(), HostTable.begin() + HostCount);
  for (int i = 0; i < kMaxHosts; ++i) origin_[static_cast<size_t>(i)] = i < HostCount ? i : -1;
}

std::string THostTable::FieldProblem(const std::string& what, const std::string& sjis, size_t limit) {
  if (sjis.size() > limit) {
    return what + Sjis(" は ") + std::to_string(limit) + Sjis(" バイトまでです (") + std::to_string(sjis.size()) +
           Sjis(" バイトあります)");
  }
  // Characters counted as the user sees them: a double-byte one is one.
  size_t at = 0;
  for (int n = 1; at < sjis.size(); ++n) {
    const auto b = static_cast<unsigned char>(sjis[at]);
    if (b < 0x20 || b == 0x7F) return what + Sjis(" の ") + std::to_string(n) + Sjis(" 文字目が制御文字です");
    at += IsDBCSLeadByte(b) && at + 1 < sjis.size() ? 2 : 1;
  }
  // A blank at either end (a TAB is a control character above).
  if (!sjis.empty() && sjis.front() == ' ') return what + Sjis(" の先頭が空白です (ホスト一覧には残りません)");
  if (!sjis.empty() && sjis.back() == ' ') return what + Sjis(" の末尾が空白です (ホスト一覧には残りません)");
  return std::string();
}

std::string THostTable::EntryProblem(int i, const std::string& programFolder, const THostEntry* before) const {
  const THostEntry& e = HostTable[static_cast<size_t>(i)];
  // A field as it was loaded is not judged again: an old list keeps working.
  const auto changed = [&](std::string THostEntry::*field) { return before == nullptr || e.*field != before->*field; };
  static constexpr size_t kMaxValue = 1023;  // what a read of the file gives back
  const std::pair<std::string THostEntry::*, std::pair<const char*, size_t>> fields[] = {
      {&THostEntry::Title, {"タイトル", kMaxValue}},      {&THostEntry::FilePath, {"フォルダ", kMaxValue}},
      {&THostEntry::Address, {"接続先", kMaxValue}},      {&THostEntry::UserID, {"ユーザーID", 8}},
      {&THostEntry::Password, {"パスワード", 8}},        {&THostEntry::HandleName, {"ハンドルネーム", 14}}};
  for (const auto& [field, how] : fields) {
    if (!changed(field)) continue;
    if (std::string why = FieldProblem(Sjis(how.first), e.*field, how.second); !why.empty()) return why;
  }
  if (!changed(&THostEntry::FilePath)) return std::string();
  if (std::string why = FolderProblem(e.FilePath); !why.empty()) return why;
  for (int j = 0; j < HostCount; ++j) {
    if (j != i && HostTable[static_cast<size_t>(j)].FilePath == e.FilePath) {
      return Sjis("フォルダ \"") + e.FilePath + Sjis("\" はほかのホスト (") + HostTable[static_cast<size_t>(j)].Title +
             Sjis(") のフォルダです");
    }
  }
  // The program's own files: a folder of that name would stand in their way.
  static const char* const kOwnFiles[] = {"veskohosts.dat", "veskohosts.lock", "Brelo_V3.ini", "Modem.Ini",
                                          "H0.TXT", "F0.TXT", "H1.TXT", "F1.TXT", "readme.TXT", "known_hosts"};
  struct stat st;
  const std::string folder = JoinPath(programFolder, SjisToUtf8(e.FilePath));
  if (std::find(std::begin(kOwnFiles), std::end(kOwnFiles), e.FilePath) != std::end(kOwnFiles) ||
      (::lstat(folder.c_str(), &st) == 0 && !S_ISDIR(st.st_mode))) {
    return Sjis("フォルダ \"") + e.FilePath + Sjis("\" はプログラムのフォルダにあるファイルの名前です");
  }
  return std::string();
}

bool THostTable::ChangesInto(THostTable& list, std::string& why, bool& conflict, const std::string& programFolder) const {
  conflict = false;
  // Each entry as loaded, found again in the list: the first one not taken
  // that is the same in every field.
  const size_t loaded = asLoaded_.size();
  std::vector<int> there(loaded, -1), loadedAt(static_cast<size_t>(list.HostCount), -1);
  for (size_t j = 0; j < loaded; ++j) {
    for (int k = 0; k < list.HostCount; ++k) {
      if (loadedAt[static_cast<size_t>(k)] < 0 && list.HostTable[static_cast<size_t>(k)] == asLoaded_[j]) {
        there[j] = k;
        loadedAt[static_cast<size_t>(k)] = static_cast<int>(j);
        break;
      }
    }
  }
  std::vector<int> row(loaded, -1);  // the table's entry that loaded entry j became; -1: removed
  for (int i = 0; i < HostCount; ++i) {
    if (origin_[static_cast<size_t>(i)] >= 0) row[static_cast<size_t>(origin_[static_cast<size_t>(i)])] = i;
  }
  for (size_t j = 0; j < loaded; ++j) {
    if (row[j] >= 0 && there[j] < 0 && !(HostTable[static_cast<size_t>(row[j])] == asLoaded_[j])) {
      conflict = true;
      why = Sjis("ホスト「") + asLoaded_[j].Title + Sjis("」はその間にほかで変更または削除されたため、保存しませんでした。") +
            Sjis("いまのホスト一覧を読み直しました。もう一度変更してください");
      return false;
    }
  }
  THostTable out;
  std::vector<const THostEntry*> before;  // what each entry of ours was (nullptr: added); others' are not judged
  std::vector<bool> ours;
  const auto put = [&](const THostEntry& e, bool mine, const THostEntry* was) {
    if (out.HostCount < kMaxHosts) out.HostTable[static_cast<size_t>(out.HostCount)] = e;
    ++out.HostCount;
    ours.push_back(mine);
    before.push_back(was);
  };
  for (int k = 0; k < list.HostCount; ++k) {
    const int j = loadedAt[static_cast<size_t>(k)];
    if (j < 0) put(list.HostTable[static_cast<size_t>(k)], false, nullptr);  // another writer's
    else if (row[static_cast<size_t>(j)] >= 0) {
      const THostEntry& e = HostTable[static_cast<size_t>(row[static_cast<size_t>(j)])];
      put(e, !(e == asLoaded_[static_cast<size_t>(j)]), &asLoaded_[static_cast<size_t>(j)]);
    }
  }
  for (int i = 0; i < HostCount; ++i) {
    if (origin_[static_cast<size_t>(i)] < 0) put(HostTable[static_cast<size_t>(i)], true, nullptr);
  }
  if (out.HostCount > kMaxHosts) {
    why = Sjis("ホストは ") + std::to_string(kMaxHosts) + Sjis(" 件までです。使わないホストを削除してから追加してください");
    return false;
  }
  for (int i = 0; i < out.HostCount; ++i) {
    if (!ours[static_cast<size_t>(i)]) continue;
    why = out.EntryProblem(i, programFolder, before[static_cast<size_t>(i)]);
    if (!why.empty()) return false;
  }
  list.HostTable = out.HostTable;
  list.HostCount = out.HostCount;
  return true;
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
  THostListLock lock(programFolder);
  if (loaded_) {
    // The list as it is now, with this table's changes made in it.
    THostTable now;
    now.LoadHostList(programFolder);
    std::string why;
    bool conflict = false;
    if (!ChangesInto(now, why, conflict, programFolder)) {
      if (!conflict) throw EInOutError(why);
      *this = now;
      throw EHostListChanged(why);
    }
    HostTable = now.HostTable;
    HostCount = now.HostCount;
    damaged_ = now.damaged_;
  }
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
  // Nothing of an entry that left the list stays behind, its password least.
  for (int i = HostCount; i < kMaxHosts; ++i) ini.EraseSection(SectionName(i));
  ini.Save(0600);
  damaged_ = false;
  Loaded();
}

bool THostTable::Add(int32_t tickCount) {
  if (HostCount >= kMaxHosts) return false;
  origin_[static_cast<size_t>(HostCount)] = -1;
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
  for (int i = index; i + 1 < HostCount; ++i) {
    HostTable[static_cast<size_t>(i)] = HostTable[static_cast<size_t>(i + 1)];
    origin_[static_cast<size_t>(i)] = origin_[static_cast<size_t>(i + 1)];
  }
  --HostCount;
}

}  // namespace brelo
