#include "reader/SessionPolicy.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <utility>

#include "common/DateTime.h"
#include "common/FileUtil.h"
#include "common/MainThread.h"
#include "common/Sjis.h"
#include "common/StringLock.h"
#include "reader/Settings.h"
#include "store/LogPruning.h"

namespace brelo {
namespace {

std::string BaseName(const std::string& path) { return path.substr(path.rfind('/') + 1); }

}  // namespace

TSessionPolicy::TSessionPolicy(TVeskoClient& client, THostTable& hosts, TMessageStore& store, TReservationBox& box,
                               TUserList& users, IMainView& view, std::string programFolder)
    : client_(client),
      hosts_(hosts),
      store_(store),
      box_(box),
      users_(users),
      view_(view),
      programFolder_(WithSlash(std::move(programFolder))) {
  // The component as the window places it.
  client_.MakeLogFile = true;
  client_.GetTelegram = false;
  client_.ModemDialCommand = "ATD";
  client_.ProgramFolder = programFolder_;
  client_.OnConnect = [this](TVeskoClient*) { VeskoClient1Connect(); };
  // These two may come from the serial watch thread: their effects are
  // applied on the main thread.
  std::weak_ptr<char> alive = alive_;
  client_.OnDisConnect = [this, alive](TVeskoClient*) {
    OnMainThread([this, alive] {
      if (alive.lock()) VeskoClient1DisConnect();
    });
  };
  client_.OnStatusOut = [this, alive](TVeskoClient*, const std::string& s) {
    OnMainThread([this, alive, s] {
      if (alive.lock()) VeskoClient1StatusOut(s);
    });
  };
  client_.OnGetMessageBoard = [this](TVeskoClient*, int no, const std::string& name, const std::string& title) {
    VeskoClient1GetMessageBoard(no, name, title);
  };
  client_.OnReceiveMessage = [this](TVeskoClient*, TVeskoMessage& m) { VeskoClient1ReceiveMessage(m); };
  client_.OnReceiveMail = [this](TVeskoClient*, TVeskoMessage& m) { VeskoClient1ReceiveMail(m); };
  client_.OnGetMainPrompt = [this](TVeskoClient*) { VeskoClient1GetMainPrompt(); };
  client_.OnExecuteWriteMessage = [this](TVeskoClient*, int tag) { VeskoClient1ExecuteWriteMessage(tag); };
  client_.OnWriteFailed = [this](TVeskoClient*, int tag, bool refused) { VeskoClient1WriteFailed(tag, refused); };
  client_.OnLogin = [this](TVeskoClient*) { VeskoClient1Login(); };
  client_.OnLoginFailed = [this](TVeskoClient*, ELoginEnd why, const std::string& words) {
    VeskoClient1LoginFailed(why, words);
  };
  client_.OnLogout = [this](TVeskoClient*) { VeskoClient1Logout(); };
  // An SSH host's questions go to the user; a round has nobody to ask.
  client_.OnUnknownHostKey = [this](TVeskoClient*, const std::string& name, const THostKey& key) {
    return Unattended ? EHostKeyAnswer::kRefuse : view_.AskUnknownHostKey(name, key);
  };
  client_.OnKeyPassphrase = [this](TVeskoClient*, const std::string& file, bool again) {
    return Unattended ? std::nullopt : view_.AskKeyPassphrase(file, again);
  };
  client_.OnReceiveUsers = [this](TVeskoClient*, const std::string& u, bool cut) { VeskoClient1ReceiveUsers(u, cut); };
  // The log is what a re-capture stores from: a pass that cannot write it
  // stops fetching like one that cannot store.
  client_.OnLogFailed = [this](TVeskoClient*, const std::string& why) { StoreFailed(why, EWhere::kCapturing); };
  client_.OnTransferEnd = [this](TVeskoClient*, const TVeskoClient::TTransferEnd& e) {
    const TTransferResult& r = e.result;
    if (!r.success) ++summary_.transfersFailed;
    if (e.download) {
      summary_.downloaded.insert(summary_.downloaded.end(), r.done.begin(), r.done.end());
      for (const std::string& f : r.files) {
        if (std::find(r.done.begin(), r.done.end(), f) == r.done.end()) summary_.notDownloaded.push_back(f);
      }
    } else if (!uploading_.empty()) {
      UploadEnded(r);
    } else {
      auto& list = r.success ? summary_.uploaded : summary_.notUploaded;
      list.insert(list.end(), r.files.begin(), r.files.end());
    }
  };
}

std::string TSessionPolicy::FolderOf(int index) const {
  const THostEntry& e = hosts_.HostTable[static_cast<size_t>(index)];
  return WithSlash(programFolder_ + SjisToUtf8(e.FilePath));
}

std::string TSessionPolicy::FolderProblem(int index) const {
  return THostTable::FolderProblem(hosts_.HostTable[static_cast<size_t>(index)].FilePath);
}

void TSessionPolicy::Counter() { view_.SetCounter(std::to_string(received_) + " "); }

void TSessionPolicy::BeginCount() {
  summary_ = TPassSummary();
  duplicates_.reset();
  tried_.clear();
  inFlight_.reset();
  uploadsTried_ = false;
}

// ------------------------------------------------------------ host selection

void TSessionPolicy::HostComboBoxChange(int index) {
  if (index == currentHost_) return;
  if (client_.SessionRunning()) {
    // The session still files what it receives under the selected host.
    view_.SelectHost(currentHost_);
    return;
  }
  if (!view_.CloseEditors()) {
    view_.SelectHost(currentHost_);  // an editor refused to close: the old host stays
    return;
  }
  // An empty box of a folder that was never made has nothing to keep.
  if (!store_.HostFolder.empty() && (box_.ReservationCount > 0 || DirExists(store_.HostFolder))) {
    try {
      box_.SaveReservations();
    } catch (const EInOutError& e) {
      view_.ReportError(e.what());
    }
  }
  currentHost_ = index;
  busy_ = false;
  if (index < 0 || index >= hosts_.HostCount) {
    currentHost_ = -1;
    selectedFolder_.clear();
    lock_.Release();
    ForgetHost();
    view_.SetControls(ESessionControls::kNoHost);
    return;
  }
  if (const std::string why = FolderProblem(index); !why.empty()) {
    // Never a folder outside the program's: nothing is read or made there.
    selectedFolder_.clear();
    lock_.Release();
    ForgetHost();
    view_.SetControls(ESessionControls::kHostSelected);
    view_.SetStatus(why);  // a pass for it says so again, and does not start
    return;
  }
  selectedFolder_ = FolderOf(index);
  if (!lock_.Acquire(selectedFolder_, LockWaitMs) && lock_.Contended()) {
    // Another process writes there: showing its files half-written, or
    // writing beside it, would lose what one of the two wrote.
    busy_ = true;
    ForgetHost();
    view_.SetControls(ESessionControls::kHostBusy);
    view_.SetStatus(lock_.Problem());
    return;
  }
  // A lock file that cannot be made is a folder that cannot be written: the
  // pass's own check says so and refuses to start.
  LoadHost();
}

bool TSessionPolicy::RetryHostLock() {
  if (!busy_ || client_.SessionRunning()) return false;
  if (!lock_.Acquire(selectedFolder_, 0) && lock_.Contended()) return false;
  busy_ = false;
  LoadHost();
  view_.SetStatus(Sjis("ほかのプロセスが使い終わりました"));
  return true;
}

void TSessionPolicy::ForgetHost() {
  users_.Clear();
  view_.ClearBrowser();
  box_.ReservationCount = 0;
  box_.EditorSlots.fill(nullptr);
  box_.HostFolder.clear();
  box_.Limits = TEditorLimits();
  box_.LoadReservations();  // nothing to read: the box forgets the old host's state
  if (box_.OnChanged) box_.OnChanged();
  store_.HostFolder.clear();
}

void TSessionPolicy::LoadHost() {
  view_.SetControls(ESessionControls::kHostSelected);
  store_.HostFolder = box_.HostFolder = selectedFolder_;
  box_.Limits = TEditorLimits::For(hosts_.HostTable[static_cast<size_t>(currentHost_)]);
  view_.ShowBoardList();
  try {
    box_.LoadReservations();
    if (!box_.LoadProblem.empty()) view_.ReportError(box_.LoadProblem);
  } catch (const EInOutError& e) {
    view_.ReportError(e.what());
  }
  if (box_.OnChanged) box_.OnChanged();
  try {
    users_.Load(store_.HostFolder);
  } catch (const EInOutError& e) {
    users_.Clear();
    view_.ReportError(e.what());
  }
}

int TSessionPolicy::HostTableChanged() {
  if (currentHost_ < 0) return -1;
  for (int i = 0; i < hosts_.HostCount; ++i) {
    if (FolderOf(i) == selectedFolder_) {
      currentHost_ = i;
      return i;
    }
  }
  // The selected host left the table: nothing is selected any more. An
  // editor that stays open keeps its box and folder until it closes.
  HostComboBoxChange(-1);
  if (currentHost_ >= 0) {
    currentHost_ = -1;
    view_.SetControls(ESessionControls::kNoHost);
  }
  return -1;
}

// ----------------------------------------------------------------- sessions

void TSessionPolicy::SpeedButton1Click(bool down) {
  if (!down) {
    if (client_.SessionRunning() && !summary_.loggedOut) summary_.cutByUser = true;
    client_.Disconnect();
    return;
  }
  if (currentHost_ < 0) return;
  BeginCount();
  if (busy_) {
    summary_.problem = lock_.Problem();
    view_.SetControls(ESessionControls::kHostBusy);
    view_.SetStatus(summary_.problem);
    return;
  }
  // A pass that could not keep what it receives does not start: the host
  // marks as read whatever it sends.
  std::string problem = FolderProblem(currentHost_);
  if (problem.empty()) problem = CheckWritableFolder(store_.HostFolder, kPassMinFreeBytes);
  if (problem.empty()) problem = TMessageStore::FilesProblem(store_.HostFolder);
  if (!problem.empty()) {
    summary_.problem = problem;
    summary_.storeFailed = true;
    view_.SetControls(ESessionControls::kHostSelected);
    view_.SetStatus(problem);
    view_.ReportError(problem + Sjis("\r\n受信したものを保存できないため、接続しません。"));
    return;
  }
  // Old session logs go before today's is opened: nights need no care.
  TAppSettings settings;
  settings.Read(programFolder_);
  if (const auto removed = PruneSessionLogs(store_.HostFolder, settings.Logs, NowCivil()); !removed.empty()) {
    view_.SetStatus(Sjis("古いセッションログを ") + std::to_string(removed.size()) + Sjis(" 個削除しました (") +
                    removed.front() + (removed.size() > 1 ? Sjis(" から ") + removed.back() : std::string()) + ")");
  }
  const THostEntry& e = hosts_.HostTable[static_cast<size_t>(currentHost_)];
  client_.Address = e.Address;
  client_.UserID = e.UserID;
  client_.Password = e.Password;
  client_.HandleName = e.HandleName;
  client_.HostKind = static_cast<THostKind>(e.HostKind);
  client_.TerminalType = e.TerminalType;
  client_.RemoveEscapes = e.RemoveEscapes;
  client_.Encoding = e.Encoding;
  client_.Line = e.Line;
  client_.DownloadFolder = store_.HostFolder + "DOWN/";
  client_.UploadFolder = store_.HostFolder + "UP/";
  client_.TerminalOnly = e.TerminalOnly;
  client_.SshKey = e.SshKey;
  client_.LoginWatchSeconds = settings.LoginWatchSeconds;
  client_.StealthLogin = Options.SealthLogin;
  client_.AutoReceiveMail = Options.CheckBox7;
  // One session log per host and day.
  client_.LogFileName = store_.HostFolder + ExpandDateName("%y%M%D.LOG");
  summary_.started = true;
  client_.Connect();
}

void TSessionPolicy::VeskoClient1Connect() {
  captured_ = false;
  goodbyeToUser_ = false;
  view_.ShowTerminal(false);
  tried_.clear();
  inFlight_.reset();
  uploadsTried_ = false;
  uploading_.clear();
  duplicates_.reset();
  view_.SetControls(ESessionControls::kSession);
  if (Options.ClearNews) store_.ClearNewMarks();
  received_ = 0;
  Counter();
}

void TSessionPolicy::VeskoClient1DisConnect() {
  view_.SetControls(currentHost_ >= 0 ? ESessionControls::kHostSelected : ESessionControls::kNoHost);
  Options.ClearNews = UserOptions.ClearNews;
  Options.GetUserList = UserOptions.GetUserList;
  Options.GetMidoku = UserOptions.GetMidoku;
  Options.SetMidokuDate = false;
  Options.ExecuteWriteYoyaku = UserOptions.ExecuteWriteYoyaku;
  Options.GoodbyeWhenExecute = UserOptions.GoodbyeWhenExecute;
  view_.OptionsChanged();
}

void TSessionPolicy::VeskoClient1StatusOut(const std::string& status) { view_.SetStatus(status); }

void TSessionPolicy::VeskoClient1Login() { summary_.loggedIn = true; }

void TSessionPolicy::VeskoClient1LoginFailed(ELoginEnd why, const std::string& hostWords) {
  switch (why) {
    case ELoginEnd::kRefused:
      // The password goes once: the line goes at once, whoever is watching.
      summary_.loginRefused = true;
      summary_.loginWords = hostWords;
      commands_->Disconnect();
      return;
    case ELoginEnd::kNotRecognised:
    case ELoginEnd::kUserTyped:
      summary_.loginNotRecognised = why == ELoginEnd::kNotRecognised;
      // In the window the session is the user's now; a round cannot wait.
      if (Unattended) commands_->Disconnect();
      else view_.ShowTerminal(true);
      return;
    case ELoginEnd::kTerminalOnly:
      if (Unattended) commands_->Disconnect();
      else view_.ShowTerminal(true);
      return;
    case ELoginEnd::kSshRefused:
    case ELoginEnd::kHostKeyUnknown:
    case ELoginEnd::kHostKeyChanged:
      // The line never came up: the pass is over.
      summary_.sshRefused = why == ELoginEnd::kSshRefused;
      summary_.hostKeyUnknown = why == ELoginEnd::kHostKeyUnknown;
      summary_.hostKeyChanged = why == ELoginEnd::kHostKeyChanged;
      summary_.loginWords = hostWords;
      commands_->Disconnect();
      if (why == ELoginEnd::kHostKeyChanged && !Unattended) {
        view_.ReportError(Sjis("ホストの鍵が記録と違うため、接続しませんでした。ホストが鍵を替えたのでなければ、") +
                          Sjis("だれかがホストになりすましているおそれがあります。\r\n") + hostWords);
      }
      return;
  }
}

void TSessionPolicy::HangUpAfterLogout() {
  if (!client_.SessionRunning()) return;
  summary_.hungUp = true;
  view_.SetStatus(Sjis("ログアウト後もホストが回線を切らないため、切断しました"));
  commands_->Disconnect();
}

// ---------------------------------------------------------------- capturing

void TSessionPolicy::StoreFailed(const std::string& sjis, EWhere where) {
  if (summary_.storeFailed) return;  // the first failure is told; the rest only counted
  summary_.storeFailed = true;
  summary_.problem = sjis;
  // Whatever the host sends now is marked read there and lost here: no more
  // of it. At the main prompt the pass logs out; elsewhere it hangs up.
  if (where == EWhere::kAtPrompt) {
    commands_->SendLine("Q");
    commands_->SendLine("");  // nobody may be there to answer the goodbye
    summary_.logoutSent = true;
  } else if (where == EWhere::kCapturing) {
    commands_->Disconnect();
  }
  view_.SetStatus(sjis);
  view_.ReportError(sjis + Sjis("\r\n保存できないため、受信を止めました。"));
}

bool TSessionPolicy::SyncStore(EWhere where) {
  try {
    store_.Sync();
    return true;
  } catch (const EInOutError& e) {
    StoreFailed(e.what(), where);
    return false;
  }
}

void TSessionPolicy::VeskoClient1GetMessageBoard(int boardNo, const std::string& name, const std::string& title) {
  captured_ = true;
  SyncStore(EWhere::kCapturing);  // the previous board's capture is complete
  if (!TMessageStore::ValidBoard(boardNo)) {
    view_.SetStatus(Sjis("ボード番号 ") + SafeIntToStr(boardNo) + Sjis(" は範囲外のため記録しません"));
    return;
  }
  TBoardEntry& b = store_.BoardTable[static_cast<size_t>(boardNo)];
  b.Active = 1;
  b.Name = CutBytes(name, 8);
  b.Title = CutBytes(title, 32);
  try {
    store_.SaveBoards();
  } catch (const EInOutError& e) {
    StoreFailed(e.what(), EWhere::kCapturing);
  }
  view_.SetStatus(Sjis("未読拾得中....") + name);
  Counter();
}

bool TSessionPolicy::Store(TVeskoMessage& mes, EWhere where) {
  const int board = mes.BoardNo;
  if (!mes.NumberBeyondRange.empty()) {
    // Stored under another number it would be a different article, and
    // stored again at every pass: it stays in the session log instead.
    ++summary_.beyondRange;
    const std::string text = Sjis("メッセージ番号 #") + mes.NumberBeyondRange +
                             Sjis(" は記録できる範囲 (2147483647 まで) を超えるため保存しません (ボード ") +
                             SafeIntToStr(board) + ")";
    view_.SetStatus(text);
    client_.LogNote(text);
    return false;
  }
  try {
    if (!duplicates_) duplicates_ = std::make_unique<TDuplicateIndex>(store_);
    const TDuplicateIndex::TFinding found = duplicates_->Find(board, mes);
    switch (found.verdict) {
      case TDuplicateIndex::EVerdict::kStored:
        ++summary_.duplicates;
        return true;
      case TDuplicateIndex::EVerdict::kCompletes:
        store_.CompleteMessage(mes, found.indexNo);
        ++summary_.completed;
        break;
      case TDuplicateIndex::EVerdict::kNew:
        store_.AppendMessage(mes);
        ++summary_.stored;
        if (board == 0) ++summary_.storedMail;
        break;
    }
    duplicates_->Stored(board, mes);
  } catch (const EInOutError& e) {
    ++summary_.lost;
    StoreFailed(e.what(), where);
    return false;
  }
  return true;
}

void TSessionPolicy::VeskoClient1ReceiveMessage(TVeskoMessage& mes) {
  if (!TMessageStore::ValidBoard(mes.BoardNo)) {
    // Not stored in the board table, and nowhere to file the message.
    view_.SetStatus(Sjis("ボード番号 ") + SafeIntToStr(mes.BoardNo) + Sjis(" のメッセージは範囲外のため記録しません"));
    return;
  }
  store_.BoardTable[static_cast<size_t>(mes.BoardNo)].Title = CutBytes(mes.BoardName, 32);
  Store(mes);
  captured_ = true;
  ++received_;
}

void TSessionPolicy::VeskoClient1ReceiveMail(TVeskoMessage& mes) {
  store_.BoardTable[0].Title = Sjis("メールボックス");
  view_.SetStatus(CutChars("Writing..." + mes.Title, 70));
  mes.BoardNo = 0;
  // The host deletes the mail read at the login once it is told it was read:
  // it is told so only when the mail is on the disk here for good (Kept).
  // A mail that could not be is left at the host, which then goes on to
  // its prompt, where the pass logs out; a mail that comes any other way
  // ends the pass at once, as a message does.
  const EWhere where = summary_.loggedIn ? EWhere::kCapturing : EWhere::kBeforePrompt;
  mes.Kept = Store(mes, where) && SyncStore(where);
  captured_ = true;
  ++received_;
  Counter();
}

void TSessionPolicy::VeskoClient1ReceiveUsers(const std::string& users, bool cut) {
  if (cut) {
    // Only the beginning of the list: the last whole one stays until a
    // whole one comes (what came is in the session log).
    view_.SetStatus(Sjis("ユーザーリストが途中で切れたため、前のリストを残しました"));
    return;
  }
  try {
    users_.Receive(users, store_.HostFolder);
  } catch (const EInOutError& e) {
    StoreFailed(e.what(), EWhere::kCapturing);
  }
}

// -------------------------------------------------------------- the prompt

bool TSessionPolicy::SendUploads() {
  if (uploadsTried_ || currentHost_ < 0) return false;
  uploadsTried_ = true;
  const std::string& command = hosts_.HostTable[static_cast<size_t>(currentHost_)].UploadCommand;
  const std::string folder = store_.HostFolder + "UP/";
  if (command.empty() || !DirExists(folder)) return false;
  std::vector<std::string> files;
  if (DIR* d = ::opendir(folder.c_str())) {
    while (dirent* e = ::readdir(d)) {
      const std::string name = e->d_name;
      struct stat st {};
      if (name[0] != '.' && ::stat((folder + name).c_str(), &st) == 0 && S_ISREG(st.st_mode)) files.push_back(folder + name);
    }
    ::closedir(d);
  }
  if (files.empty()) return false;
  std::sort(files.begin(), files.end());
  // XMODEM carries one file per transfer: the others wait for later passes.
  if (client_.ModemPort().Protocol <= pr_XMODEM_CRC_1024) {
    for (size_t i = 1; i < files.size(); ++i) summary_.notUploaded.push_back(BaseName(files[i]));
    files.resize(1);
  }
  // The host is asked to receive, and the program starts at once: the
  // sender waits for the host's receiver to answer.
  commands_->SendLine(command);
  uploading_ = files;
  if (client_.StartUpload(files)) return true;
  for (const std::string& f : files) summary_.notUploaded.push_back(BaseName(f));
  uploading_.clear();
  return false;
}

void TSessionPolicy::UploadEnded(const TTransferResult& r) {
  // The host has taken every file of a transfer that succeeded; of one that
  // failed, those sent before the one it was cut in.
  std::vector<std::string> taken;
  for (size_t i = 0; i < r.files.size(); ++i) {
    if (r.success || i + 1 < r.files.size()) taken.push_back(BaseName(r.files[i]));
  }
  const std::string sent = store_.HostFolder + "UP/sent/";
  for (const std::string& f : uploading_) {
    const std::string name = BaseName(f);
    if (!r.success && std::find(taken.begin(), taken.end(), name) == taken.end()) {
      summary_.notUploaded.push_back(name);
      continue;
    }
    summary_.uploaded.push_back(name);
    // Out of the way of the next pass, never deleted.
    MakeDir(sent);
    if (::rename(f.c_str(), (sent + FreeName(sent, name)).c_str()) != 0) {
      view_.SetStatus(CannotWriteText(sent + name, errno));
    }
  }
  uploading_.clear();
}

void TSessionPolicy::VeskoClient1GetMainPrompt() {
  view_.SetStatus(Sjis("メインメニューを検出しました"));
  Counter();
  if (inFlight_) {
    // A write sequence ended without any result: the entry stays held as
    // interrupted, for the user to decide.
    ++summary_.interrupted;
    inFlight_.reset();
    box_.SendingName.clear();
    if (box_.OnChanged) box_.OnChanged();
  }
  if (captured_) {
    try {
      store_.SaveBoards();
    } catch (const EInOutError& e) {
      StoreFailed(e.what(), EWhere::kAtPrompt);
    }
    SyncStore(EWhere::kAtPrompt);
    view_.ShowBoardList();
  }
  if (Unattended && summary_.logoutSent) {
    // Back at the main prompt after "Q": the host did not take it.
    HangUpAfterLogout();
    return;
  }
  if (summary_.storeFailed) {
    if (!summary_.logoutSent) {
      commands_->SendLine("Q");
      commands_->SendLine("");
      summary_.logoutSent = true;
    }
    return;
  }
  if (Options.GetUserList) {
    Options.GetUserList = false;
    view_.OptionsChanged();
    commands_->SendLine("u\r\n");  // "u", CR, LF, CR, LF
    return;
  }
  if (Options.ExecuteWriteYoyaku) {
    if (SendNextReservation()) return;
    Options.ExecuteWriteYoyaku = false;
    view_.OptionsChanged();
  }
  if (SendUploads()) return;
  if (Options.GetMidoku) {
    Options.GetMidoku = false;
    view_.OptionsChanged();
    commands_->SendText("N@ ");
    commands_->SendLine(Options.SetMidokuDate ? Options.MidokuDate : std::string());
    return;
  }
  if (Options.GoodbyeWhenExecute) {
    commands_->SendLine("Q");
    summary_.logoutSent = true;
    if (Options.PassgoodbyeMessage) {
      commands_->SendLine("");
    } else {
      // The host now asks its goodbye questions and waits; the status line
      // says so, not "main menu detected" while nothing moves.
      goodbyeToUser_ = true;
      view_.SetStatus(GoodbyeWaitStatus(std::string()));
      view_.ShowTerminal(true);
    }
  }
}

std::string TSessionPolicy::GoodbyeWaitStatus(const std::string& question) {
  std::string q = question;
  while (!q.empty() && static_cast<unsigned char>(q.back()) <= ' ') q.pop_back();
  if (q.empty()) return Sjis("ログアウト中: ホストが返事を待っています。ターミナルで答えてください");
  return Sjis("ホストが返事を待っています: ") + q + Sjis(" (ターミナルで答えてください)");
}

// ------------------------------------------------------------------ writes

std::string TSessionPolicy::Unsendable(int i, std::string& body) {
  const TWriteReservation& r = box_.ReservationTable[static_cast<size_t>(i)];
  if (box_.EditorSlots[static_cast<size_t>(i)] != nullptr) {
    return Sjis("編集中のため送りません....") + r.Title;
  }
  if (const std::string why = TReservationBox::HeadProblem(r); !why.empty()) {
    return why + Sjis("送りません....") + CutBytes(r.Title, 60);
  }
  std::optional<std::string> text;
  try {
    text = box_.ReadBody(i);
  } catch (const EInOutError& e) {
    return e.what() + Sjis("。この予約は送りません");
  }
  if (!text) return Sjis("本文ファイル ") + r.FileName + Sjis(" がないため送りません");
  // A body file is Shift-JIS, as the editor writes it; it is never guessed
  // to be anything else (half-width kana can look like UTF-8). Only the
  // external editor's own copy is UTF-8, and that is converted back when it
  // is read.
  body = std::move(*text);
  // Nothing goes out that the host would take only in part.
  if (const std::string why = TReservationBox::BodyProblem(body, box_.Limits); !why.empty()) {
    return Sjis("本文ファイル ") + r.FileName + ": " + why + Sjis("送りません....") + r.Title;
  }
  return std::string();
}

bool TSessionPolicy::SendNextReservation() {
  for (;;) {
    // The first entry due in box order that this pass has not offered yet.
    int i = -1;
    for (int k = 0; k < box_.ReservationCount; ++k) {
      const TWriteReservation& r = box_.ReservationTable[static_cast<size_t>(k)];
      if (r.Status == 0 && tried_.count(r.FileName) == 0) {
        i = k;
        break;
      }
    }
    if (i < 0) return false;
    const TWriteReservation r = box_.ReservationTable[static_cast<size_t>(i)];
    tried_.insert(r.FileName);
    std::string body;
    const std::string why = Unsendable(i, body);
    if (!why.empty()) {
      // Left in the box as it is: nothing goes out unfinished or mangled.
      view_.SetStatus(why);
      ++summary_.skipped;
      summary_.notSent.push_back(why);
      continue;
    }
    try {
      box_.MarkSending(i);
    } catch (const EInOutError& e) {
      // Unrecorded, a post could go out twice: nothing is sent. A folder
      // that cannot take Write.Dat takes nothing else either: the pass stops.
      ++summary_.skipped;
      const std::string text = e.what() + Sjis("。書き込み予約箱を保存できないため、このパスでは書き込みを行いません");
      summary_.notSent.push_back(text);
      StoreFailed(text, EWhere::kAtPrompt);
      return true;
    }
    box_.SendingName = r.FileName;
    box_.DeleteWhenSent = false;
    if (box_.OnChanged) box_.OnChanged();
    inFlight_ = TInFlight{i, r.FileName, r.Title};
    if (r.BoardNo != 0) commands_->WriteMessage(SafeIntToStr(r.BoardNo), r.Title, body, i);
    else commands_->WriteMail(r.ToIDs, r.Title, body, i);
    return true;
  }
}

void TSessionPolicy::WriteSettled(bool sent, bool refused) {
  const TInFlight w = *inFlight_;
  inFlight_.reset();
  box_.SendingName.clear();
  const bool deleteAsked = std::exchange(box_.DeleteWhenSent, false);
  if (sent) ++summary_.sent;
  else if (refused) ++summary_.refused;
  else ++summary_.failed;
  const int i = box_.Find(w.fileName);
  if (i >= 0) {
    try {
      // Write.Dat is replaced before the body file goes.
      if (sent || deleteAsked) box_.DeleteReservation(i);
      else box_.ClearSending(i);  // not posted: due again at the next pass
    } catch (const EInOutError& e) {
      // The box on the disk still marks it as being sent: the next load
      // shows it as interrupted, never posts it again by itself. The host
      // goes back to its prompt, where the pass logs out.
      if (sent) {
        ++summary_.unrecorded;
        summary_.unrecordedFiles.push_back(w.fileName);
      }
      StoreFailed(e.what() + Sjis(sent ? "。書き込みましたが予約箱を保存できないため、このパスの書き込みはここまでにします"
                                       : "。書き込み予約箱を保存できません"),
                  EWhere::kBeforePrompt);
    }
  }
  if (box_.OnChanged) box_.OnChanged();
}

void TSessionPolicy::VeskoClient1ExecuteWriteMessage(int /*tag*/) {
  // The write in flight is the one confirmed, whatever position it has now.
  if (!inFlight_) return;
  view_.SetStatus(CutChars(Sjis("書き込みました....") + inFlight_->title, 78));
  WriteSettled(true, false);
}

void TSessionPolicy::VeskoClient1WriteFailed(int /*tag*/, bool refused) {
  if (inFlight_) WriteSettled(false, refused);
}

void TSessionPolicy::EndOfPass() {
  if (inFlight_) {
    // The line went before the result came: posted or not, nobody knows. The
    // entry stays held as interrupted; one the user asked to delete goes.
    ++summary_.interrupted;
    const int i = box_.Find(inFlight_->fileName);
    inFlight_.reset();
    box_.SendingName.clear();
    if (std::exchange(box_.DeleteWhenSent, false) && i >= 0) {
      try {
        box_.DeleteReservation(i);
      } catch (const EInOutError& e) {
        StoreFailed(e.what(), EWhere::kPassOver);
      }
    }
    if (box_.OnChanged) box_.OnChanged();
  }
}

void TSessionPolicy::VeskoClient1Logout() {
  summary_.loggedOut = true;
  EndOfPass();
  try {
    store_.SaveBoards();
  } catch (const EInOutError& e) {
    StoreFailed(e.what(), EWhere::kPassOver);
  }
  SyncStore(EWhere::kPassOver);
  // The end of the pass must not hide why it stopped.
  if (summary_.storeFailed) view_.SetStatus(summary_.problem);
}

}  // namespace brelo
