#include "session/WorkThread.h"

#include <algorithm>
#include <chrono>

#include "common/FileUtil.h"
#include "common/MainThread.h"
#include "common/Sjis.h"
#include "session/VeskoClient.h"

namespace brelo {

TWorkThread::TWorkThread(TVeskoClient& owner) : owner_(owner) {}

TWorkThread::~TWorkThread() {
  Terminate();
  Join();
}

void TWorkThread::Start() {
  thread_ = std::thread([this] { Execute(); });
}

void TWorkThread::Join() {
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

void TWorkThread::Terminate() {
  terminated_ = true;
  owner_.ring_.Wake();
}

void TWorkThread::Finish() {
  finishing_ = true;
  owner_.ring_.Wake();
}

bool TWorkThread::Drained() const {
  TLineRing& ring = owner_.ring_;
  if (ring.LineWaiting()) return false;
  // The transports are closed by now; what waited behind a full ring is
  // part of what arrived, and this thread runs it in.
  if (ring.Paused()) {
    ring.FeedBacklog();
    return !ring.LineWaiting();
  }
  return true;
}

bool TWorkThread::Terminated() const { return terminated_.load() || (finishing_.load() && Drained()); }

void TWorkThread::Synchronize(const std::function<void()>& fn) { RunOnMainAndWait(fn, &owner_.destroying_); }

void TWorkThread::Execute() {
  owner_.mode_ = sm_login;
  // The send thread is created first; the dialogue sends without checking.
  while (!owner_.sendAlive_.load() && !Terminated()) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  TDialogue dialogue(*this, *this, *this, *this, owner_.session_, owner_.mode_, owner_.channel_, [this] {
    std::lock_guard<std::mutex> lk(owner_.writeMutex_);
    return owner_.pendingWrite_;
  });
  dialogue.Execute();
  if (const unsigned long long n = owner_.ring_.Replaced(); n > 0) {
    owner_.log_.WriteLine(Sjis("(このセッションで受信した文字のうち ") + std::to_string(n) +
                          Sjis(" 字は Shift-JIS にないため〓にしました)"));
  }
  owner_.log_.Close();  // Disconnect leaves it to this thread, which logs to the last line
  // Ending clears the owner's reference and puts the session back to idle.
  owner_.mode_ = sm_idle;
  finished_ = true;
  owner_.workAlive_ = false;
}

// ------------------------------------------------------------- ILineSource

std::string TWorkThread::NextLine() {
  std::string line;
  NextLineInto(line);
  return line;
}

bool TWorkThread::NextLineInto(std::string& line) {
  TLineRing& ring = owner_.ring_;
  while (!ring.LineWaiting()) {
    if (Terminated()) {
      line.clear();
      return false;
    }
    ring.WaitForChange(50);
  }
  return TakeWaitingLine(line);
}

bool TWorkThread::TakeWaitingLine(std::string& line) {
  TLineRing& ring = owner_.ring_;
  if (!ring.LineWaiting()) return false;
  const int slot = ring.ReadPos();
  ring.TakeInto(line);
  Consumed(line, slot);
  return true;
}

void TWorkThread::MaskAnswer() {
  TLineRing& ring = owner_.ring_;
  // The answer comes back on the line the host waits on.
  maskSlot_ = ring.LineIndex();
  maskFrom_ = ring.Line(maskSlot_).size();
  // The usual prompt, "Password: ", waits unterminated and the echo follows
  // it; a prompt that ended its line gets an echo on a line of its own.
  maskWholeLine_ = maskFrom_ == 0;
}

void TWorkThread::Consumed(const std::string& consumed, int slot) {
  TLineRing& ring = owner_.ring_;
  // A host that echoes the password as typed must not put it into the log.
  // Only the answer to the password prompt is masked: everything else the
  // host sent is logged as it came, so that re-capturing the log stores what
  // the pass stored.
  std::string masked;
  if (slot == maskSlot_) {
    const std::string& password = owner_.session_.Password;
    const bool mask = maskWholeLine_ ? (!password.empty() && consumed == password) : consumed.size() > maskFrom_;
    if (mask) {
      masked = consumed;
      std::fill(masked.begin() + static_cast<std::ptrdiff_t>(maskFrom_), masked.end(), '*');
    }
    maskSlot_ = -1;
  }
  const std::string& line = masked.empty() ? consumed : masked;
  LogLine(line);
  if (owner_.OnReceiveLine) {
    // Reported only while the thread keeps up; far behind, lines are logged only.
    const int li = ring.LineIndex(), rp = ring.ReadPos();
    if ((li >= rp && li - rp < 699) || (li < rp && rp - li > 300)) {
      Synchronize([&] { owner_.OnReceiveLine(&owner_, line); });
    }
  }
}

void TWorkThread::LogLine(const std::string& line) {
  if (const int err = owner_.log_.WriteLine(line); err != 0 && !logFailed_) {
    logFailed_ = true;
    const std::string why = CannotWriteText(owner_.log_.Path(), err);
    if (owner_.OnLogFailed) Synchronize([&] { owner_.OnLogFailed(&owner_, why); });
    else PostStatus(why);
  }
}

void TWorkThread::SkipLine() {
  if (owner_.log_.IsOpen() || owner_.OnReceiveLine || !owner_.ring_.LineWaiting()) NextLine();
  else owner_.ring_.Skip();
}

bool TWorkThread::LineWaiting() { return owner_.ring_.LineWaiting(); }
int TWorkThread::ReadPos() { return owner_.ring_.ReadPos(); }
int TWorkThread::LineIndex() { return owner_.ring_.LineIndex(); }
std::string TWorkThread::LineAt(int slot) { return owner_.ring_.Line(slot); }
std::string_view TWorkThread::WaitingLine(int k) { return owner_.ring_.Waiting(k); }
bool TWorkThread::LineHas(int slot, const std::function<bool(const std::string&)>& pred) {
  return owner_.ring_.LineHas(slot, pred);
}
void TWorkThread::Idle(int ms) {
  if (!Terminated()) owner_.ring_.WaitForChange(ms);
}
long long TWorkThread::TickCount() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// --------------------------------------------------------------- ILineSink

void TWorkThread::SendLine(const std::string& s) { owner_.Enqueue(s + "\r\n"); }
void TWorkThread::SendText(const std::string& s) { owner_.Enqueue(s); }

// --------------------------------------------------------- IDialogueEvents

void TWorkThread::PostStatus(const std::string& s) {
  if (owner_.OnStatusOut) Synchronize([&] { owner_.OnStatusOut(&owner_, s); });
}
void TWorkThread::Login() {
  if (owner_.OnLogin) Synchronize([&] { owner_.OnLogin(&owner_); });
}
bool TWorkThread::LogoutCommandSent() { return owner_.LogoutCommandSent; }

void TWorkThread::Logout() {
  if (owner_.OnLogout) Synchronize([&] { owner_.OnLogout(&owner_); });
}
void TWorkThread::GetMainPrompt() {
  if (owner_.OnGetMainPrompt) Synchronize([&] { owner_.OnGetMainPrompt(&owner_); });
}
void TWorkThread::GetMessageBoard(int boardNo, const std::string& name, const std::string& title) {
  if (owner_.OnGetMessageBoard) Synchronize([&] { owner_.OnGetMessageBoard(&owner_, boardNo, name, title); });
}
void TWorkThread::ReceiveMessage(TVeskoMessage& m) {
  if (owner_.OnReceiveMessage) Synchronize([&] { owner_.OnReceiveMessage(&owner_, m); });
}
void TWorkThread::ReceiveMail(TVeskoMessage& m) {
  if (owner_.OnReceiveMail) Synchronize([&] { owner_.OnReceiveMail(&owner_, m); });
}
void TWorkThread::ReceiveTelegram(const std::string& from, const std::string& mes) {
  if (owner_.OnReceiveTelegram) Synchronize([&] { owner_.OnReceiveTelegram(&owner_, from, mes); });
}
void TWorkThread::ReceiveLoginUsers(const std::string& users) {
  if (owner_.OnReceiveLoginUsers) Synchronize([&] { owner_.OnReceiveLoginUsers(&owner_, users); });
}
void TWorkThread::ReceiveUsers(const std::string& users, bool cut) {
  if (owner_.OnReceiveUsers) Synchronize([&] { owner_.OnReceiveUsers(&owner_, users, cut); });
}
void TWorkThread::ReceiveChatLine(int ch, const std::string& handle, const std::string& mes, bool isNext) {
  if (owner_.OnReceiveChatLine) Synchronize([&] { owner_.OnReceiveChatLine(&owner_, ch, handle, mes, isNext); });
}
void TWorkThread::ExecuteWriteMessage(int tag) {
  if (owner_.OnExecuteWriteMessage) Synchronize([&] { owner_.OnExecuteWriteMessage(&owner_, tag); });
}
void TWorkThread::WriteFailed(int tag, bool refused) {
  if (owner_.OnWriteFailed) Synchronize([&] { owner_.OnWriteFailed(&owner_, tag, refused); });
}
void TWorkThread::LoginFailed(ELoginEnd why, const std::string& hostWords) {
  if (owner_.OnLoginFailed) Synchronize([&] { owner_.OnLoginFailed(&owner_, why, hostWords); });
}
bool TWorkThread::HasExecuteWriteMessage() { return static_cast<bool>(owner_.OnExecuteWriteMessage); }
bool TWorkThread::HasReceiveMail() { return static_cast<bool>(owner_.OnReceiveMail); }

// ------------------------------------------------------------ ILineControl

void TWorkThread::SetTransport(int transport) {
  owner_.transport_ = transport;
  owner_.ring_.SetTelnetLine(transport == 1);
}
void TWorkThread::SetConnected(bool connected) { owner_.connected_ = connected; }
void TWorkThread::TcpSetHostPort(const std::string& host, const std::string& port) {
  owner_.tcp_.SetHost(host);
  owner_.tcp_.SetPort(port);
}
void TWorkThread::TcpClose() { owner_.tcp_.Close(); }
void TWorkThread::TcpConnect() { owner_.tcp_.Connect(); }
bool TWorkThread::UserTyped() { return owner_.UserHasTyped(); }
bool TWorkThread::TcpClosed() { return owner_.tcp_.State() == ssClosed; }

TWebPage TWorkThread::FetchPage(const std::string& url) {
  TWebPage page = FetchWebPage(url, [this] { return Stopping(); });
  std::string found;
  if (!page.ok || !FindPageAddress(page.body, found)) {
    std::lock_guard<std::mutex> lk(owner_.errorMutex_);
    owner_.lastError_.lookup = url + ": " + (page.ok ? Sjis("ページに telnet のアドレスがありません") : page.error);
  }
  // The page goes into the session log as the host's lines do: without
  // control bytes, as the receive path makes lines (a form feed would be
  // taken for the start of a pass).
  if (page.ok && owner_.log_.IsOpen()) {
    size_t start = 0;
    while (start < page.body.size()) {
      size_t end = page.body.find_first_of("\r\n", start);
      if (end == std::string::npos) end = page.body.size();
      if (end > start) {
        std::string line = page.body.substr(start, end - start);
        std::replace_if(line.begin(), line.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; }, ' ');
        LogLine(line);
      }
      start = end + 1;
    }
  }
  return page;
}

TSshOutcome TWorkThread::SshOpen(const std::string& host, const std::string& port, const std::string& user) {
  // The user is asked on the main thread while the handshake waits.
  TSshAsk ask;
  ask.unknownKey = [this](const std::string& name, const THostKey& key) {
    EHostKeyAnswer answer = EHostKeyAnswer::kRefuse;
    if (owner_.OnUnknownHostKey) Synchronize([&] { answer = owner_.OnUnknownHostKey(&owner_, name, key); });
    return answer;
  };
  ask.passphrase = [this](const std::string& file, bool again) {
    std::optional<std::string> passphrase;
    if (owner_.OnKeyPassphrase) Synchronize([&] { passphrase = owner_.OnKeyPassphrase(&owner_, file, again); });
    return passphrase;
  };
  return owner_.OpenSsh(host, port, user, ask, [this] { return Stopping(); });
}

bool TWorkThread::ModemOpen(int port, int rate, const std::string& device) {
  TZENUCOMM& m = owner_.modem_;
  m.Port = static_cast<uint8_t>(port);
  m.DeviceName = device;
  m.SetBaudRate(rate);
  m.Close();
  try {
    m.Open();
  } catch (const std::exception&) {
    return false;
  }
  return true;
}

}  // namespace brelo
