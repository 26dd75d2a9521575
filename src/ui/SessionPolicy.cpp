#include "ui/SessionPolicy.h"

#include <memory>

#include "common/DateTime.h"
#include "common/FileUtil.h"
#include "common/MainThread.h"
#include "common/Sjis.h"
#include "common/StringLock.h"

namespace brelo {

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
  client_.OnLogin = [](TVeskoClient*) {};
  client_.OnLogout = [this](TVeskoClient*) { VeskoClient1Logout(); };
  client_.OnReceiveUsers = [this](TVeskoClient*, const std::string& u) { VeskoClient1ReceiveUsers(u); };
}

std::string TSessionPolicy::FolderOf(int index) const {
  const THostEntry& e = hosts_.HostTable[static_cast<size_t>(index)];
  return WithSlash(programFolder_ + SjisToUtf8(e.FilePath));
}

void TSessionPolicy::Counter() { view_.SetCounter(std::to_string(received_) + " "); }

void TSessionPolicy::HostComboBoxChange(int index) {
  if (index == currentHost_) return;
  if (!view_.CloseEditors()) {
    view_.SelectHost(currentHost_);  // an editor refused to close: the old host stays
    return;
  }
  if (!store_.HostFolder.empty()) {
    try {
      box_.SaveReservations();
    } catch (const EInOutError& e) {
      view_.ReportError(e.what());
    }
  }
  currentHost_ = index;
  if (index < 0 || index >= hosts_.HostCount) {
    currentHost_ = -1;
    users_.Clear();
    view_.ClearBrowser();
    box_.ReservationCount = 0;
    box_.EditorSlots.fill(nullptr);
    if (box_.OnChanged) box_.OnChanged();
    store_.HostFolder.clear();
    box_.HostFolder.clear();
    view_.SetControls(ESessionControls::kNoHost);
    return;
  }
  view_.SetControls(ESessionControls::kHostSelected);
  store_.HostFolder = box_.HostFolder = FolderOf(index);
  view_.ShowBoardList();
  try {
    box_.LoadReservations();
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

void TSessionPolicy::SpeedButton1Click(bool down) {
  if (!down) {
    client_.Disconnect();
    return;
  }
  if (currentHost_ < 0) return;
  const THostEntry& e = hosts_.HostTable[static_cast<size_t>(currentHost_)];
  client_.Address = e.Address;
  client_.UserID = e.UserID;
  client_.Password = e.Password;
  client_.HandleName = e.HandleName;
  client_.HostKind = static_cast<THostKind>(e.HostKind);
  client_.StealthLogin = Options.SealthLogin;
  client_.AutoReceiveMail = Options.CheckBox7;
  // One session log per host and day.
  client_.LogFileName = store_.HostFolder + ExpandDateName("%y%M%D.LOG");
  logoutSent_ = false;
  loggedOut_ = false;
  client_.Connect();
}

void TSessionPolicy::VeskoClient1Connect() {
  captured_ = false;
  view_.ShowTerminal(false);
  writeCursor_ = 0;
  view_.SetControls(ESessionControls::kSession);
  if (Options.ClearNews) store_.ClearNewMarks();
  received_ = 0;
  Counter();
}

void TSessionPolicy::VeskoClient1DisConnect() {
  view_.SetControls(currentHost_ >= 0 ? ESessionControls::kHostSelected : ESessionControls::kNoHost);
  Options.ClearNews = true;
  Options.GetMidoku = true;
  Options.SetMidokuDate = false;
  Options.ExecuteWriteYoyaku = true;
  Options.GoodbyeWhenExecute = true;
  view_.OptionsChanged();
}

void TSessionPolicy::VeskoClient1StatusOut(const std::string& status) { view_.SetStatus(status); }

void TSessionPolicy::VeskoClient1GetMessageBoard(int boardNo, const std::string& name, const std::string& title) {
  captured_ = true;
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
    view_.ReportError(e.what());
  }
  view_.SetStatus(Sjis("未読拾得中....") + name);
  Counter();
}

void TSessionPolicy::Store(TVeskoMessage& mes) {
  try {
    store_.AppendMessage(mes);
  } catch (const EInOutError& e) {
    view_.ReportError(e.what());
  }
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
  view_.SetStatus(CutBytes("Writing..." + mes.Title, 70));
  mes.BoardNo = 0;
  Store(mes);
  captured_ = true;
  ++received_;
  Counter();
}

void TSessionPolicy::VeskoClient1GetMainPrompt() {
  view_.SetStatus(Sjis("メインメニューを検出しました"));
  Counter();
  if (captured_) {
    try {
      store_.SaveBoards();
    } catch (const EInOutError& e) {
      view_.ReportError(e.what());
    }
    view_.ShowBoardList();
  }
  if (Options.GetUserList) {
    Options.GetUserList = false;
    view_.OptionsChanged();
    commands_->SendLine("u\r\n");  // "u", CR, LF, CR, LF
    return;
  }
  if (Options.ExecuteWriteYoyaku) {
    while (writeCursor_ < box_.ReservationCount) {
      const TWriteReservation& r = box_.ReservationTable[static_cast<size_t>(writeCursor_)];
      if (r.Status != 0) {
        ++writeCursor_;
        continue;
      }
      std::optional<std::string> body;
      try {
        body = box_.ReadBody(writeCursor_);
      } catch (const EInOutError&) {
        body.reset();
      }
      if (!body) {
        // Passed over and left in the box: nothing is sent with a lost text.
        view_.SetStatus(Sjis("本文ファイル ") + r.FileName + Sjis(" がないため送りません"));
        ++writeCursor_;
        continue;
      }
      const size_t nul = body->find('\0');
      if (nul != std::string::npos) body->resize(nul);
      if (r.BoardNo != 0) commands_->WriteMessage(SafeIntToStr(r.BoardNo), r.Title, *body, writeCursor_);
      else commands_->WriteMail(r.ToIDs, r.Title, *body, writeCursor_);
      ++writeCursor_;
      return;
    }
    Options.ExecuteWriteYoyaku = false;
    writeCursor_ = 0;
    view_.OptionsChanged();
  }
  if (Options.GetMidoku) {
    Options.GetMidoku = false;
    view_.OptionsChanged();
    commands_->SendText("N@ ");
    commands_->SendLine(Options.SetMidokuDate ? Options.MidokuDate : std::string());
    return;
  }
  if (Options.GoodbyeWhenExecute) {
    commands_->SendLine("Q");
    logoutSent_ = true;
    if (Options.PassgoodbyeMessage) commands_->SendLine("");
    else view_.ShowTerminal(true);
  }
}

void TSessionPolicy::VeskoClient1ExecuteWriteMessage(int tag) {
  if (tag < 0 || tag >= box_.ReservationCount) return;
  view_.SetStatus(CutBytes(Sjis("書き込みました....") + box_.ReservationTable[static_cast<size_t>(tag)].Title, 78));
  try {
    box_.DeleteReservation(tag);
  } catch (const EInOutError& e) {
    view_.ReportError(e.what());
  }
  --writeCursor_;  // the entries behind tag moved one place forward
}

void TSessionPolicy::VeskoClient1Logout() {
  loggedOut_ = true;
  try {
    store_.SaveBoards();
  } catch (const EInOutError& e) {
    view_.ReportError(e.what());
  }
}

void TSessionPolicy::VeskoClient1ReceiveUsers(const std::string& users) {
  try {
    users_.Receive(users, store_.HostFolder);
  } catch (const EInOutError& e) {
    view_.ReportError(e.what());
  }
}

}  // namespace brelo
