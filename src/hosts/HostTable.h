// The user's list of hosts: up to 100 entries, kept in "veskohosts.dat" in
// the program folder (an INI file; it holds passwords and is created readable
// by its owner only).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "common/FileUtil.h"
#include "common/HostEncoding.h"
#include "common/LineKind.h"

namespace brelo {

// What Backspace sends at the terminal page.
enum class EBackspaceKey { kAuto, kBS, kDEL };

struct THostEntry {
  std::string Title;
  std::string FilePath;   // the host's data folder, below the program folder
  std::string Address;
  std::string UserID;     // at most 8 bytes
  std::string Password;   // at most 8 bytes
  std::string HandleName; // at most 14 bytes
  int HostKind = 0;       // kept as read, even outside 0-2
  // Our addition: the name answered when a telnet host asks for the terminal
  // type; kept in the host list only when it is not the default.
  std::string TerminalType = kDefaultTerminalType;
  static constexpr const char* kDefaultTerminalType = "VT100";
  // Our addition: colour and screen escape sequences taken out of what the
  // host sends ("Escapes=0" in the host list keeps them).
  bool RemoveEscapes = true;
  // Our addition: what the host speaks on the line ("Encoding" in the host
  // list, only when it is not Shift-JIS).
  EHostEncoding Encoding = EHostEncoding::kShiftJis;
  // Our addition: whether the host's TCP line speaks telnet ("Line" in the
  // host list, only when forced: "telnet" or "raw"; absent is automatic).
  ELineKind Line = ELineKind::kAuto;
  // Our addition: the command that asks the host to receive a file
  // ("UploadCommand", only when set). With it, a pass uploads the files left
  // in the host folder's UP/.
  std::string UploadCommand;
  // Our addition: "自動ログインしない" ("TerminalOnly=1", only when set): the
  // session is the user's at the terminal; nothing is answered for them and
  // rounds skip the host.
  bool TerminalOnly = false;
  // Our addition: what the host's line editor takes, where it differs from
  // its family's ("EditorLines", "EditorLineBytes", only when set; 0 is the
  // family's). A body beyond it is held, never sent to be cut.
  int EditorLines = 0;
  int EditorLineBytes = 0;
  // Our addition, the terminal page's profile of the host (each kept only
  // when it is not the default): what Backspace sends ("Backspace", "BS" or
  // "DEL"; absent: BackspaceSendsDelete decides by the kind of host), the
  // font size in pixels ("FontSize"; 0: the options' size) and whether keys
  // go to the host as typed from the session's start ("KeyMode=1").
  EBackspaceKey Backspace = EBackspaceKey::kAuto;
  int FontSize = 0;
  bool KeyModeAtStart = false;
  // Our addition, SSH hosts: the key file tried first when logging in
  // ("SshKey", only when set; a path in the file system's encoding).
  std::string SshKey;
  static constexpr int kMinFontSize = 8;
  static constexpr int kMaxFontSize = 48;

  // The same host, as the list holds it: how a save finds an entry again in
  // the list another writer may have changed meanwhile.
  bool operator==(const THostEntry&) const = default;
};

// What a host's line editor takes: lines of a body (the "//" that ends it
// among them) and bytes in a line. A body beyond it would be cut, or its
// lines would answer the editor's questions.
struct TEditorLimits {
  int Lines = 2000;
  int LineBytes = 1024;
  // The host family's (both families' editors take the same), or the
  // entry's own where it sets them.
  static TEditorLimits For(const THostEntry& e);
};

// Whether Backspace sends DEL (a Unix shell's erase character) rather than
// BS: as set, else DEL for a host the user drives at the terminal or
// reaches by SSH (a shell, as a rule), BS for a bulletin board.
bool BackspaceSendsDelete(const THostEntry& e);

// A terminal type as it may be answered: up to 40 printable ASCII bytes
// without blanks; anything else is the default.
std::string TerminalTypeOrDefault(const std::string& name);

constexpr int kMaxHosts = 100;

// A save found an entry it changed or removed changed by another writer
// meanwhile: nothing was written, and the table is the list on the disk.
class EHostListChanged : public EInOutError {
 public:
  using EInOutError::EInOutError;
};

// What every writer of the host list holds from reading the list afresh to
// writing it: an exclusive lock on "veskohosts.lock" beside the list (flock;
// the kernel lets go when the process ends, however it ends). Two writers
// never change the list at once, so neither loses the other's entry. Taken
// again in the same process it only counts (a save under a lock its caller
// holds).
class THostListLock {
 public:
  // Waits up to waitMs for another writer. Raises EInOutError naming the
  // lock file when it stays held or cannot be made (a link, a pipe or a
  // device in its place is refused).
  explicit THostListLock(const std::string& programFolder, int waitMs = kWaitMs);
  ~THostListLock();
  THostListLock(const THostListLock&) = delete;
  THostListLock& operator=(const THostListLock&) = delete;

  static std::string FileName(const std::string& programFolder);
  // Far beyond any writer's turn, which lasts a file's read and write.
  static constexpr int kWaitMs = 30000;

 private:
  std::string path_;
};

class THostTable {
 public:
  std::array<THostEntry, kMaxHosts> HostTable;
  int HostCount = 0;

  static std::string FileName(const std::string& programFolder);
  static std::string SectionName(int i);  // "HOST%2d": "HOST 0", ..., "HOST10"

  // What the last load found wrong or mended, for the user (Shift-JIS, naming
  // the file; empty when nothing): a damaged file (kept aside), or one that
  // others could read (set back to 0600).
  std::string LoadProblem;

  // Without the file: one sample entry, the demo host, and nothing written.
  // A "Count" above 100 loads 100. Raises EInOutError, naming the file, for
  // an unreadable file and for anything but a regular file in its place (a
  // link, a pipe, a device), which is never read. A file that is not a
  // whole host list — NUL bytes, no "Count", an entry below Count without
  // its section or one of the keys a save writes, a last line without its
  // line break (a cut file) — loads no host: it is kept aside and
  // LoadProblem says what is wrong.
  void LoadHostList(const std::string& programFolder);
  // Why a host's FilePath cannot be its folder (Shift-JIS; empty when it
  // can): it is empty, absolute, or has a "." or ".." part. The folder is
  // always below the program folder.
  static std::string FolderProblem(const std::string& filePath);
  // Writes the list under THostListLock. A table that was loaded writes
  // what it changed since (entries added, removed, changed) into the list as
  // it is on the disk now: what other writers did meanwhile stays, and the
  // table is the list as written afterwards. A table that was never loaded
  // is written as it is. Count and every entry's keys are written, and
  // nothing of a removed entry stays (its section goes). A damaged file
  // (kept aside at load) is replaced by a fresh one. The file is created
  // with mode 0600. Raises EInOutError("%s に書き込めません"), and, writing
  // nothing, when an entry it changed or removed was changed by another
  // writer meanwhile (the table is then the list on the disk), when the list
  // would hold more than 100 hosts, or when an entry it added or changed is
  // refused by EntryProblem.
  void SaveHostList(const std::string& programFolder);
  // Appends a new entry named with the tick suffix; false when the table is full.
  bool Add(int32_t tickCount);
  void Delete(int index);

  // Why a text cannot be kept in the host list as it is (Shift-JIS, naming
  // `what`; empty when it can): more than `limit` bytes, a control character
  // (a line break would end the line), or a blank at either end (the file's
  // values are read without them). A character is named by its position,
  // never shown: the text may be a password.
  static std::string FieldProblem(const std::string& what, const std::string& sjis, size_t limit);
  // Why entry i cannot be stored as it is (Shift-JIS; empty when it can):
  // a field FieldProblem refuses, a folder FolderProblem refuses, one that
  // another entry of the list uses, or one whose name is a file in the
  // program folder (the host list itself, the settings). The shell's
  // --add-host and the window's host dialogs check with it.
  // With `before` (the entry as it was loaded), only the fields that
  // changed are judged: an old list keeps working.
  std::string EntryProblem(int i, const std::string& programFolder, const THostEntry* before = nullptr) const;

  static THostEntry SampleEntry();
  // "%.4X" of tickCount mod 65535 (the tick count taken as signed 32 bits).
  static std::string TickSuffix(int32_t tickCount);

 private:
  // The entries as the last load or save left them, and for each entry of
  // the table the one of those it is (-1: added since): what a save changes.
  void Loaded();
  // The table's changes since Loaded() made in `list`; false, with `why`,
  // when one of them cannot be made there (`conflict`: an entry it changed
  // was changed or removed in `list` meanwhile).
  bool ChangesInto(THostTable& list, std::string& why, bool& conflict, const std::string& programFolder) const;
  bool damaged_ = false;  // the loaded file was not a host list
  bool loaded_ = false;   // the table came from the file: a save writes its changes only
  std::vector<THostEntry> asLoaded_;
  std::array<int, kMaxHosts> origin_{};
};

}  // namespace brelo
