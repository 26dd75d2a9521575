#include "session/VeskoClient.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <QCoreApplication>
#include <QTimer>

#include "common/FileUtil.h"
#include "common/MainThread.h"
#include "common/Sjis.h"
#include "common/StringLock.h"
#include "session/Address.h"
#include "session/WorkThread.h"

namespace brelo {

std::string HostKindName(int kind) {
  switch (kind) {
    case HK_vesko: return "VESKO";
    case HK_ktbbs: return "KTBBS";
    case HK_bigmodel: return Sjis("BIG-MODEL(未対応)");
    default: return std::string();
  }
}

TVeskoClient::TVeskoClient() : alive_(std::make_shared<char>(0)) {
  tcp_.OnData = [this](TTCPClient*, int) { TcpData(); };
  tcp_.OnError = [this](TCustomWSocket*, int code, const std::string& text) {
    {
      std::lock_guard<std::mutex> lk(errorMutex_);
      lastError_.code = code;  // the look-up's reason, if any, stays
      lastError_.text = text;
    }
    LineLost(Sjis("接続エラーが発生しました.."));
  };
  tcp_.OnClose = [this](TTCPClient*, int) { LineLost(Sjis("接続が切れました..")); };
  // An SSH host: the connector's socket goes to the SSH line, whose thread
  // then delivers the channel's bytes into the same receive path.
  tcp_.OnConnect = [this](TTCPClient*, int) {
    if (transport_ == 2) ssh_.Adopt(tcp_.TakeSocket());
  };
  ssh_.OnData = [this](const char* p, size_t n) { ReceiveChunk(p, n); };
  ssh_.OnBurst = [this](bool begin) {
    if (begin) ring_.BeginBatch();
    else ring_.EndBatch();
  };
  ssh_.ReceivePaused = [this] { return ring_.Paused(); };
  ssh_.OnResume = [this] { ring_.FeedBacklog(); };
  ssh_.OnEnd = [this](const std::string& why) {
    if (!why.empty()) {
      std::lock_guard<std::mutex> lk(errorMutex_);
      lastError_.text = why;
    }
    LineLost(Sjis("接続が切れました.."));
  };
  SshUserFolder = DefaultSshFolder();
  if (const char* agent = std::getenv("SSH_AUTH_SOCK"); agent != nullptr) SshAgentSocket = agent;

  // The modem port: wakes on carrier changes too; received bytes go into the
  // same receive path as TCP, on the watch thread.
  modem_.SetSendNotifySize(2048);
  modem_.SetEventMask(Bit(evRlsd));
  modem_.OnCommReceive = [this](TComm* port, uint16_t size) {
    std::string buf(size, '\0');
    buf.resize(static_cast<size_t>(port->Read(buf.data(), size)));  // what did arrive, nothing more
    ReceiveChunk(buf.data(), buf.size());
  };
  modem_.OnCommEvent = [this](TComm*, TCommEventMask events) {
    if ((events & Bit(evRlsd)) && !modem_.CarrierDetected() && connected_) {
      TakeWhatThePortHolds();
      Status(Sjis("切断されました.."));
      Disconnect();
    }
  };
  modem_.ReceivePaused = [this] { return ring_.Paused() && ring_.BacklogBytes() >= kSerialBacklogLimit; };
  modem_.OnResume = [this] { ring_.FeedBacklog(); };
  ring_.OnRoom = [this] { OnRingRoom(); };
}

TVeskoClient::~TVeskoClient() {
  destroying_ = true;
  std::shared_ptr<TTransferProgram> transfer;
  {
    std::lock_guard<std::mutex> lk(transferMutex_);
    transfer.swap(transfer_);
  }
  transfer.reset();  // the program stops and its thread ends before anything it uses goes
  {
    std::lock_guard<std::mutex> lk(threadsMutex_);
    if (work_) work_->Terminate();
    if (send_) send_->Terminate();
  }
  connected_ = false;
  tcp_.Close();
  ssh_.Close();
  modem_.Close();
  // No thread outlives what it uses.
  work_.reset();
  send_.reset();
  log_.Close();
  alive_.reset();
}

void TVeskoClient::Status(const std::string& s) {
  if (OnStatusOut) OnStatusOut(this, s);
}

void TVeskoClient::LineLost(const std::string& what) {
  if (!IsMainThread()) {
    // A send that failed on the send thread: the socket is read on the main
    // thread only, so the loss is handled there, in order with the reads.
    std::weak_ptr<char> alive = alive_;
    PostToMain([this, alive, what] {
      if (alive.lock()) LineLost(what);
    });
    return;
  }
  if (!connected_.exchange(false)) return;
  Status(what + tcp_.Host());
  Disconnect();
}

TSshOutcome TVeskoClient::OpenSsh(const std::string& host, const std::string& port, const std::string& user,
                                  const TSshAsk& ask, const std::function<bool()>& stopping) {
  TSshLogin login = sshLogin_;
  login.host = host;
  login.port = SafeStrToIntDef(port, 22);
  login.user = SjisToUtf8(user);
  // Brelo's own connector makes the socket, as for telnet: a failure there
  // is the line's, reported as its loss.
  tcp_.SetHost(host);
  tcp_.SetPort(port);
  connected_ = false;
  tcp_.Close();
  connected_ = true;
  tcp_.Connect();
  TSshOutcome o = ssh_.Open(login, ask, stopping);
  {
    std::lock_guard<std::mutex> lk(errorMutex_);
    lastError_.ssh = o;
    if (o.kind == TSshOutcome::kFailed) lastError_.text = o.error;
  }
  if (o.kind == TSshOutcome::kFailed) {
    const std::string why = o.error;
    std::weak_ptr<char> alive = alive_;
    PostToMain([this, alive, host, why] {
      if (!alive.lock() || !connected_.exchange(false)) return;
      Status(Sjis("SSH の接続に失敗しました..") + host + " (" + why + ")");
      Disconnect();
    });
  }
  return o;
}

TVeskoClient::TLineError TVeskoClient::LastLineError() const {
  std::lock_guard<std::mutex> lk(errorMutex_);
  return lastError_;
}

void TVeskoClient::TakeWhatTheSocketHolds() {
  char buf[1024];
  ring_.BeginBatch();
  for (int i = 0; i < 65536; ++i) {  // a socket holds at most its buffer
    const int n = tcp_.Receive(buf, sizeof buf);
    if (n <= 0) break;
    ReceiveChunk(buf, static_cast<size_t>(n));
  }
  ring_.EndBatch();
}

void TVeskoClient::TakeWhatThePortHolds() {
  char buf[4096];
  for (int i = 0; i < 4096; ++i) {
    int n = std::min<int>(modem_.InQueueBytes(), sizeof buf);
    if (n <= 0) break;
    try {
      n = modem_.Read(buf, n);
    } catch (const std::exception&) {
      break;
    }
    ReceiveChunk(buf, static_cast<size_t>(n));
  }
}

void TVeskoClient::TcpData() {
  char buf[1024 + 1];
  // Several chunks per notification when the socket has more: the same as
  // notifications arriving back to back, without a trip round the event loop.
  ring_.BeginBatch();
  for (int i = 0; i < 16; ++i) {
    const int n = tcp_.Receive(buf, 1024);
    if (n <= 0) break;
    ReceiveChunk(buf, static_cast<size_t>(n));
    if (ring_.Paused() || n < 1024) break;
  }
  ring_.EndBatch();
}

void TVeskoClient::ReceiveChunk(const char* data, size_t len) {
  const bool room = ring_.Feed(data, len);
  // Option requests are answered as they come, before the host's next prompt
  // (some hosts wait for the answers); a modem line has nobody to answer.
  SendTelnetReplies();
  if (!room && transport_ == 1) PauseSocket();
  if (OnReceive) {
    const void* nul = std::memchr(data, 0, len);
    const size_t n = nul ? static_cast<size_t>(static_cast<const char*>(nul) - data) : len;
    OnReceive(this, std::string(data, n));
  }
}

void TVeskoClient::SendTelnetReplies() {
  if (!ring_.HasTelnetReplies()) return;
  const std::string replies = ring_.TakeTelnetReplies();
  if (transport_ == 1) EnqueueBytes(replies);
}

void TVeskoClient::OnRingRoom() {
  // The reader made room: the writer's thread runs the backlog and reads on.
  if (transport_ == 1) {
    std::weak_ptr<char> alive = alive_;
    PostToMain([this, alive] {
      if (alive.lock()) RunBacklog();
    });
  } else if (transport_ == 2) {
    ssh_.Wake();
  } else {
    modem_.Wake();
  }
}

void TVeskoClient::PauseSocket() {
  tcp_.SetReceivePaused(true);
  if (socketPaused_) return;
  socketPaused_ = true;
  PauseTick();
}

void TVeskoClient::PauseTick() {
  // While the socket is paused, the resume is also looked for on a tick: a
  // signal lost on its way costs a tick, never the session.
  std::weak_ptr<char> alive = alive_;
  QTimer::singleShot(kPauseTickMs, QCoreApplication::instance(), [this, alive] {
    if (!alive.lock() || !socketPaused_) return;
    if (!ring_.Paused() || ring_.HasRoom()) RunBacklog();
    if (socketPaused_) PauseTick();
  });
}

void TVeskoClient::RunBacklog() {
  const bool drained = ring_.FeedBacklog();
  SendTelnetReplies();
  if (drained) {
    socketPaused_ = false;
    tcp_.SetReceivePaused(false);
  }
}

void TVeskoClient::ReapThreads() {
  // Both have ended on their own; their objects go now.
  if (work_ && work_->Finished()) work_.reset();
  if (send_ && send_->Finished()) send_.reset();
}

std::string TVeskoClient::OpenLog() {
  std::string name = LogFileName;
  if (name.empty()) name = ExpandDateName("%y%M%D_%H%I.LOG");
  if (name.find('/') == std::string::npos) {
    name = JoinPath(ProgramFolder, name);
  } else {
    MakeDir(DirName(name));  // one level; an existing folder or a failure is ignored
  }
  LogFileName = name;
  // Several passes of a day share a log: each begins with its mark.
  int err = 0;
  if (log_.Open(name) && (err = log_.WriteLine(TSessionLog::PassMark())) == 0) return std::string();
  if (err == 0) err = errno;
  return CannotWriteText(name, err);
}

void TVeskoClient::LogNote(const std::string& sjis) {
  if (const int err = log_.WriteLine("(" + sjis + ")"); err != 0) {
    const std::string why = CannotWriteText(log_.Path(), err);
    if (OnLogFailed) OnLogFailed(this, why);
    else Status(why);
  }
}

void TVeskoClient::Connect() {
  std::unique_lock<std::mutex> lk(threadsMutex_);
  if (workAlive_ || sendAlive_) {
    lk.unlock();
    Status(Sjis("すでに接続されています"));
    return;
  }
  ReapThreads();
  lk.unlock();
  LogoutCommandSent = false;
  if (OnConnect) OnConnect(this);
  lk.lock();
  ReapThreads();
  session_.HostKind = HostKind;
  session_.ModemInitCommand = ModemInitCommand;
  session_.ModemDialCommand = ModemDialCommand;
  session_.CommPort = CommPort;
  session_.CommRate = CommRate;
  session_.ModemDevice = ModemDevice;
  session_.UserID = UserID;
  session_.Password = Password;
  session_.HandleName = HandleName;
  session_.Address = Address;
  session_.GetTelegram = GetTelegram;
  session_.GetMessage = GetMessage;
  session_.GetMail = GetMail;
  session_.StealthLogin = StealthLogin;
  session_.AutoReceiveMail = AutoReceiveMail;
  session_.TerminalOnly = TerminalOnly;
  session_.LoginWatchMs = std::max(1, LoginWatchSeconds) * 1000;
  userTyped_ = false;
  // An SSH channel carries the host's bytes as they are: no telnet.
  const bool ssh = ParseAddress(Address).kind == TAddress::kSsh;
  ring_.SetLineKind(ssh ? ELineKind::kRaw : Line);
  ring_.ResetIndexes();
  ring_.SetTelnetAnswers(!ssh, TerminalType);
  ssh_.Reset();
  sshLogin_ = TSshLogin();
  sshLogin_.keyFile = SshKey;
  if (sshLogin_.keyFile.starts_with("~/") && std::getenv("HOME") != nullptr) {
    sshLogin_.keyFile = JoinPath(std::getenv("HOME"), sshLogin_.keyFile.substr(2));
  }
  sshLogin_.password = SjisToUtf8(Password);
  sshLogin_.agentSocket = SshAgentSocket;
  sshLogin_.userSshFolder = SshUserFolder.empty() ? std::string() : WithSlash(SshUserFolder);
  sshLogin_.knownHosts = !SshKnownHosts.empty() || ProgramFolder.empty() ? SshKnownHosts
                                                                         : JoinPath(ProgramFolder, "known_hosts");
  // Terminal types go by lower-case names on a Unix host.
  sshLogin_.terminalType = TerminalType;
  for (char& c : sshLogin_.terminalType) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  ring_.SetEscapeRemoval(RemoveEscapes);
  ring_.SetEncoding(Encoding);
  if (DownloadFolder.empty()) ring_.WatchForZmodem(nullptr);
  else ring_.WatchForZmodem([this, folder = DownloadFolder](const std::string& header) { return ZmodemFromHost(folder, header); });
  sessionEncoding_ = Encoding;
  {
    std::lock_guard<std::mutex> lk(errorMutex_);
    lastError_ = TLineError();
  }
  tcp_.SetReceivePaused(false);
  socketPaused_ = false;
  transport_ = 0;
  channel_ = -1;
  sendAlive_ = true;
  send_ = std::make_unique<TSendThread>(*static_cast<ISendTarget*>(this));
  // The log is open, its mark first, before the work thread can take a line
  // (or a look-up page) into it; a failure is told once the session runs,
  // so that a handler can end it.
  log_.Close();
  const std::string logProblem = MakeLogFile ? OpenLog() : std::string();
  workAlive_ = true;
  work_ = std::make_unique<TWorkThread>(*this);
  work_->Start();
  lk.unlock();
  if (!logProblem.empty()) {
    Status(Sjis("ログファイルを作成できません"));
    if (OnLogFailed) OnLogFailed(this, logProblem);
  }
}

void TVeskoClient::Disconnect() {
  bool running;
  {
    std::lock_guard<std::mutex> lk(threadsMutex_);
    running = workAlive_ || sendAlive_;
    if (running) {
      connected_ = false;  // the closes below are no loss of the line
      if (send_) send_->Terminate();
    }
  }
  if (!running) {
    Status(Sjis("接続されていません"));
    return;
  }
  // What the socket already holds has arrived: it goes into the ring (the
  // socket is read on the main thread only) before the close drops it.
  if (transport_ == 1 && IsMainThread()) TakeWhatTheSocketHolds();
  CancelTransfer();  // the line goes: what a download brought stays as ".part"
  tcp_.Close();
  ssh_.Close();  // what the SSH line already holds goes into the ring first
  modem_.Close();
  {
    // Nothing arrives any more: the work thread consumes and captures what
    // did, then ends.
    std::lock_guard<std::mutex> lk(threadsMutex_);
    if (work_) work_->Finish();
  }
  if (OnDisConnect) OnDisConnect(this);
  // A work thread still consuming what arrived logs it too, and closes the
  // log when it ends.
  if (!workAlive_) log_.Close();
}

void TVeskoClient::Enqueue(const std::string& sjis) {
  const EHostEncoding e = sessionEncoding_.load();
  std::string bytes = e == EHostEncoding::kShiftJis ? sjis : EncodeForHost(e, sjis);
  // A telnet host that reads us in binary mode takes CR LF for two line
  // ends: while it does, a line ends with CR alone. So does an SSH host,
  // whose terminal takes the Return key's CR for the line's end.
  if ((transport_ == 1 && ring_.BinaryOut()) || transport_ == 2) {
    for (size_t at = 0; (at = bytes.find("\r\n", at)) != std::string::npos;) bytes.erase(++at, 1);
  }
  EnqueueBytes(bytes);
}

void TVeskoClient::EnqueueBytes(const std::string& bytes) {
  TSendThread* s;
  {
    std::lock_guard<std::mutex> lk(threadsMutex_);
    s = sendAlive_ ? send_.get() : nullptr;
  }
  // The send thread lives until both threads of the session have ended, and
  // its object until the next Connect or the component's end.
  if (s != nullptr) s->Enqueue(bytes.data(), bytes.size());
}

void TVeskoClient::SetWindowSize(int columns, int rows) {
  ssh_.SetWindowSize(columns, rows);
  ring_.SetWindowSize(columns, rows);
  SendTelnetReplies();
}

void TVeskoClient::SendLine(const std::string& s) {
  // "Q" at the main prompt is the host's logout, whoever sends it (the
  // policy, the user at the terminal page).
  if ((s == "Q" || s == "q") && mode_ == sm_online) LogoutCommandSent = true;
  Enqueue(s + "\r\n");
}
void TVeskoClient::SendText(const std::string& s) { Enqueue(s); }

void TVeskoClient::WriteMessage(const std::string& board, const std::string& title, const std::string& body,
                                int tag) {
  {
    std::lock_guard<std::mutex> lk(writeMutex_);
    pendingWrite_ = {board, title, body, tag};
  }
  mode_ = sm_writemessage;
}

void TVeskoClient::WriteMail(const std::string& to, const std::string& title, const std::string& body, int tag) {
  {
    std::lock_guard<std::mutex> lk(writeMutex_);
    pendingWrite_ = {to, title, body, tag};
  }
  mode_ = sm_writemail;
}

void TVeskoClient::SendTelegram(const std::string& channel, const std::string& message) {
  {
    std::lock_guard<std::mutex> lk(writeMutex_);
    pendingWrite_ = {channel, message, std::string(), 0};
  }
  mode_ = sm_telegram;
}

}  // namespace brelo
