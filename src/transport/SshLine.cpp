#include "transport/SshLine.h"

#include <libssh/libssh.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>

#include "common/FileUtil.h"

namespace brelo {
namespace {

ssh_session Session(void* p) { return static_cast<ssh_session>(p); }
ssh_channel Channel(void* p) { return static_cast<ssh_channel>(p); }

// The methods a server offers, by the names it gives them.
std::string MethodNames(int methods) {
  static const std::pair<int, const char*> kNames[] = {
      {SSH_AUTH_METHOD_PUBLICKEY, "publickey"},     {SSH_AUTH_METHOD_PASSWORD, "password"},
      {SSH_AUTH_METHOD_INTERACTIVE, "keyboard-interactive"}, {SSH_AUTH_METHOD_HOSTBASED, "hostbased"},
      {SSH_AUTH_METHOD_GSSAPI_MIC, "gssapi-with-mic"}};
  std::string out;
  for (const auto& [bit, name] : kNames) {
    if (methods & bit) out += (out.empty() ? "" : ",") + std::string(name);
  }
  return out.empty() ? "none" : out;
}

// Keyboard-interactive with the password as the one answer: a server that
// asks for more than the password, shows the question as typed, or asks
// again, is not answered (the password goes once).
int KeyboardInteractive(ssh_session s, const std::string& password) {
  bool answered = false;
  int rc = ssh_userauth_kbdint(s, nullptr, nullptr);
  for (int round = 0; rc == SSH_AUTH_INFO && round < 8; ++round) {
    const int n = ssh_userauth_kbdint_getnprompts(s);
    if (n > 1 || (n == 1 && answered)) return SSH_AUTH_DENIED;
    if (n == 1) {
      char echo = 0;
      ssh_userauth_kbdint_getprompt(s, 0, &echo);
      if (echo) return SSH_AUTH_DENIED;
      if (ssh_userauth_kbdint_setanswer(s, 0, password.c_str()) < 0) return SSH_AUTH_ERROR;
      answered = true;
    }
    rc = ssh_userauth_kbdint(s, nullptr, nullptr);
  }
  return rc == SSH_AUTH_INFO ? SSH_AUTH_DENIED : rc;
}

}  // namespace

std::string DefaultSshFolder() {
  const char* home = std::getenv("HOME");
  return home != nullptr && *home != '\0' ? WithSlash(JoinPath(home, ".ssh")) : std::string();
}

TSshLine::TSshLine() { wake_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC); }

TSshLine::~TSshLine() {
  Close();
  if (wake_ >= 0) ::close(wake_);
}

void TSshLine::Reset() {
  if (thread_.joinable()) thread_.join();
  FreeSession();
  std::lock_guard<std::mutex> lk(mutex_);
  if (pendingFd_ >= 0) ::close(pendingFd_);
  pendingFd_ = -1;
  closed_ = false;
  stop_ = false;
  std::lock_guard<std::mutex> out(outMutex_);
  out_.clear();
}

void TSshLine::Adopt(int fd) {
  {
    std::lock_guard<std::mutex> lk(mutex_);
    if (closed_ || pendingFd_ >= 0) {
      if (fd >= 0) ::close(fd);
      return;
    }
    pendingFd_ = fd;
  }
  adopted_.notify_all();
}

int TSshLine::WaitForSocket(const std::function<bool()>& stopping) {
  std::unique_lock<std::mutex> lk(mutex_);
  while (pendingFd_ < 0 && !closed_ && !(stopping && stopping())) {
    adopted_.wait_for(lk, std::chrono::milliseconds(50));
  }
  if (closed_ || pendingFd_ < 0) return -1;
  const int fd = pendingFd_;
  pendingFd_ = -1;
  return fd;
}

void TSshLine::Ended(TSshOutcome& out, TSshOutcome::EKind kind) {
  {
    std::lock_guard<std::mutex> lk(mutex_);
    out.kind = closed_ ? TSshOutcome::kAborted : kind;
  }
  if (out.kind == TSshOutcome::kFailed && out.error.empty() && session_ != nullptr) out.error = ssh_get_error(session_);
  FreeSession();
}

bool TSshLine::Handshake(const TSshLogin& in, const std::function<bool()>& stopping, TSshOutcome& out) {
  out.kind = TSshOutcome::kAborted;
  out.hostName = KnownHostName(in.host, in.port);
  int fd = WaitForSocket(stopping);
  if (fd < 0) return false;
  ssh_session s = ssh_new();
  {
    std::lock_guard<std::mutex> lk(mutex_);
    if (s == nullptr || closed_) {
      ::close(fd);
      if (s != nullptr) ssh_free(s);
      if (!closed_) out.kind = TSshOutcome::kFailed;
      out.error = "ssh_new";
      return false;
    }
    fd_ = fd;
    session_ = s;
  }
  // Nothing of the user's ssh configuration applies: the host list says
  // where and how; the known_hosts files are named here, read by libssh
  // only to prefer the key types it knows.
  bool processConfig = false;
  long timeout = in.timeoutSeconds;
  int port = in.port;
  const std::string userKnownHosts = in.userSshFolder + "known_hosts";
  ssh_options_set(s, SSH_OPTIONS_PROCESS_CONFIG, &processConfig);
  ssh_options_set(s, SSH_OPTIONS_HOST, in.host.c_str());
  ssh_options_set(s, SSH_OPTIONS_PORT, &port);
  ssh_options_set(s, SSH_OPTIONS_USER, in.user.c_str());
  ssh_options_set(s, SSH_OPTIONS_FD, &fd);
  ssh_options_set(s, SSH_OPTIONS_TIMEOUT, &timeout);
  ssh_options_set(s, SSH_OPTIONS_KNOWNHOSTS, in.knownHosts.c_str());
  ssh_options_set(s, SSH_OPTIONS_GLOBAL_KNOWNHOSTS, userKnownHosts.c_str());
  if (!in.agentSocket.empty()) ssh_options_set(s, SSH_OPTIONS_IDENTITY_AGENT, in.agentSocket.c_str());
  ssh_set_blocking(s, 1);
  if (ssh_connect(s) != SSH_OK) {
    Ended(out, TSshOutcome::kFailed);
    return false;
  }
  // The host's key, before anything of ours goes to the server.
  ssh_key key = nullptr;
  char* base64 = nullptr;
  if (ssh_get_server_publickey(s, &key) == SSH_OK && ssh_pki_export_pubkey_base64(key, &base64) == SSH_OK) {
    out.key = THostKey::FromBase64(base64);
  }
  ssh_string_free_char(base64);
  ssh_key_free(key);
  if (out.key.Empty()) {
    out.error = "the server's key cannot be read";
    Ended(out, TSshOutcome::kFailed);
    return false;
  }
  out.check = CheckHostKey({in.knownHosts, userKnownHosts}, in.host, in.port, out.key);
  return true;
}

TSshOutcome TSshLine::FetchHostKey(const TSshLogin& login, const std::function<bool()>& stopping) {
  TSshOutcome out;
  if (Handshake(login, stopping, out)) Ended(out, TSshOutcome::kOpen);
  return out;
}

TSshOutcome TSshLine::Open(const TSshLogin& in, const TSshAsk& ask, const std::function<bool()>& stopping) {
  TSshOutcome out;
  if (!Handshake(in, stopping, out)) return out;
  const auto ended = [&](TSshOutcome::EKind kind) {
    Ended(out, kind);
    return out;
  };
  switch (out.check.verdict) {
    case THostKeyCheck::kKnown: break;
    case THostKeyCheck::kChanged:
    case THostKeyCheck::kRevoked: return ended(TSshOutcome::kHostKeyChanged);
    case THostKeyCheck::kUnknown: {
      const EHostKeyAnswer answer = ask.unknownKey ? ask.unknownKey(out.hostName, out.key) : EHostKeyAnswer::kRefuse;
      if (answer == EHostKeyAnswer::kRefuse) return ended(TSshOutcome::kHostKeyUnknown);
      if (answer == EHostKeyAnswer::kRemember) {
        out.remembered = true;
        out.recordError = RecordHostKey(in.knownHosts, in.host, in.port, out.key);
      }
      break;
    }
  }
  if (!Authenticate(in, ask, out)) return ended(out.kind == TSshOutcome::kFailed ? TSshOutcome::kFailed : TSshOutcome::kLoginRefused);

  // A terminal of the page's type and size, and the host's shell on it.
  ssh_session s = Session(session_);
  ssh_channel ch = ssh_channel_new(s);
  channel_ = ch;
  if (ch == nullptr || ssh_channel_open_session(ch) != SSH_OK ||
      ssh_channel_request_pty_size(ch, in.terminalType.c_str(), columns_.load(), rows_.load()) != SSH_OK ||
      ssh_channel_request_shell(ch) != SSH_OK) {
    return ended(TSshOutcome::kFailed);
  }
  {
    std::lock_guard<std::mutex> lk(mutex_);
    if (!closed_) {
      ssh_set_blocking(s, 0);
      stop_ = false;
      running_ = true;
      thread_ = std::thread([this] { Run(); });
      out.kind = TSshOutcome::kOpen;
      return out;
    }
  }
  return ended(TSshOutcome::kAborted);
}

bool TSshLine::TryAgent(const TSshLogin& in, bool& agentTried) {
  if (agentTried || in.agentSocket.empty()) return false;
  agentTried = true;
  return ssh_userauth_agent(Session(session_), nullptr) == SSH_AUTH_SUCCESS;
}

int TSshLine::TryKeyFile(const std::string& file, const TSshLogin& in, const TSshAsk& ask, bool& agentTried) {
  ssh_session s = Session(session_);
  ssh_key pub = nullptr;
  if (ssh_pki_import_pubkey_file((file + ".pub").c_str(), &pub) == SSH_OK) {
    const int rc = ssh_userauth_try_publickey(s, nullptr, pub);
    ssh_key_free(pub);
    if (rc != SSH_AUTH_SUCCESS) return rc;  // the server would not take it: no passphrase is asked for
  }
  ssh_key priv = nullptr;
  if (ssh_pki_import_privkey_file(file.c_str(), nullptr, nullptr, nullptr, &priv) != SSH_OK) {
    priv = nullptr;
    if (::access(file.c_str(), R_OK) != 0) return SSH_AUTH_DENIED;
    // Locked by a passphrase: the agent may hold the key; else the user
    // gives the passphrase.
    if (TryAgent(in, agentTried)) return SSH_AUTH_SUCCESS;
    for (int i = 0; priv == nullptr && ask.passphrase && i < 3; ++i) {
      const std::optional<std::string> passphrase = ask.passphrase(file, i > 0);
      if (!passphrase) break;
      if (ssh_pki_import_privkey_file(file.c_str(), passphrase->c_str(), nullptr, nullptr, &priv) != SSH_OK) {
        priv = nullptr;
      }
    }
    if (priv == nullptr) return SSH_AUTH_DENIED;
  }
  const int rc = ssh_userauth_publickey(s, nullptr, priv);
  ssh_key_free(priv);
  return rc;
}

bool TSshLine::Authenticate(const TSshLogin& in, const TSshAsk& ask, TSshOutcome& out) {
  ssh_session s = Session(session_);
  // SSH_AUTH_SUCCESS ends the login; a broken line ends it too; anything
  // else (denied, partly done) goes on to the next way.
  bool failed = false;
  const auto settled = [&](int rc, const char* method, const std::string& file = std::string()) {
    if (rc == SSH_AUTH_SUCCESS) {
      out.method = method;
      out.keyFile = file;
      return true;
    }
    failed = failed || rc == SSH_AUTH_ERROR;
    return failed;
  };
  const auto offers = [&](unsigned method) { return !failed && (ssh_userauth_list(s, nullptr) & method) != 0; };
  const auto outcome = [&] {
    if (!out.method.empty()) return true;
    out.kind = TSshOutcome::kFailed;
    return false;
  };
  if (settled(ssh_userauth_none(s, nullptr), "none")) return outcome();
  bool agentTried = false;
  if (!in.keyFile.empty() && offers(SSH_AUTH_METHOD_PUBLICKEY) &&
      settled(TryKeyFile(in.keyFile, in, ask, agentTried), "publickey", in.keyFile)) {
    return outcome();
  }
  if (!agentTried && offers(SSH_AUTH_METHOD_PUBLICKEY) && TryAgent(in, agentTried)) {
    out.method = "agent";
    return true;
  }
  for (const char* name : {"id_ed25519", "id_ecdsa", "id_rsa"}) {
    const std::string file = in.userSshFolder + name;
    if (::access(file.c_str(), F_OK) == 0 && offers(SSH_AUTH_METHOD_PUBLICKEY) &&
        settled(TryKeyFile(file, in, ask, agentTried), "publickey", file)) {
      return outcome();
    }
  }
  if (!in.password.empty() && offers(SSH_AUTH_METHOD_PASSWORD) &&
      settled(ssh_userauth_password(s, nullptr, in.password.c_str()), "password")) {
    return outcome();
  }
  if (!in.password.empty() && offers(SSH_AUTH_METHOD_INTERACTIVE) &&
      settled(KeyboardInteractive(s, in.password), "keyboard-interactive")) {
    return outcome();
  }
  if (failed) {
    out.kind = TSshOutcome::kFailed;
    return false;
  }
  out.kind = TSshOutcome::kLoginRefused;
  out.methods = MethodNames(ssh_userauth_list(s, nullptr));
  return false;
}

void TSshLine::FreeSession() {
  void* s;
  void* ch;
  {
    std::lock_guard<std::mutex> lk(mutex_);
    s = session_;
    ch = channel_;
    session_ = channel_ = nullptr;
    fd_ = -1;  // from here on the socket may go: nobody shuts it down any more
  }
  if (ch != nullptr) ssh_channel_free(Channel(ch));
  if (s != nullptr) {
    ssh_disconnect(Session(s));
    ssh_free(Session(s));
  }
}

void TSshLine::Close() {
  {
    std::lock_guard<std::mutex> lk(mutex_);
    closed_ = true;
    if (pendingFd_ >= 0) ::close(pendingFd_);
    pendingFd_ = -1;
    // An Open under way: its blocking calls end at once.
    if (fd_ >= 0 && !running_) ::shutdown(fd_, SHUT_RDWR);
  }
  adopted_.notify_all();
  if (!thread_.joinable() || thread_.get_id() == std::this_thread::get_id()) return;
  stop_ = true;
  Wake();
  thread_.join();
  FreeSession();
}

int TSshLine::Send(const char* p, int n) {
  if (!running_ || n <= 0) return 0;
  int taken;
  {
    std::lock_guard<std::mutex> lk(outMutex_);
    taken = static_cast<int>(std::min<size_t>(static_cast<size_t>(n), kSendQueueBytes - std::min(kSendQueueBytes, out_.size())));
    out_.append(p, static_cast<size_t>(taken));
  }
  if (taken > 0) Wake();
  return taken;
}

void TSshLine::SetWindowSize(int columns, int rows) {
  if (columns == columns_ && rows == rows_) return;
  columns_ = columns;
  rows_ = rows;
  resized_ = true;
  if (running_) Wake();
}

void TSshLine::Wake() {
  if (wake_ < 0) return;
  const uint64_t one = 1;
  const ssize_t r = ::write(wake_, &one, sizeof one);  // a counter at its limit wakes the thread already
  (void)r;
}

bool TSshLine::ReadBurst(bool& ended, std::string& why) {
  ssh_channel ch = Channel(channel_);
  char buf[32768];
  bool any = false;
  for (int i = 0; i < 64; ++i) {
    const int n = ssh_channel_read_nonblocking(ch, buf, sizeof buf, 0);
    if (n > 0) {
      if (!any && OnBurst) OnBurst(true);
      any = true;
      if (OnData) OnData(buf, static_cast<size_t>(n));
      if (ReceivePaused && ReceivePaused()) break;
      continue;
    }
    if (n == SSH_EOF || ssh_channel_is_closed(ch) || ssh_channel_is_eof(ch)) {
      ended = true;
    } else if (n < 0 && n != SSH_AGAIN) {
      ended = true;
      why = ssh_get_error(Session(session_));
    }
    break;
  }
  if (any && OnBurst) OnBurst(false);
  return any;
}

void TSshLine::Drain() {
  // What the socket and libssh already hold has arrived: it is delivered,
  // however full the ring (it waits in the backlog).
  const int fd = ssh_get_fd(Session(session_));
  bool ended = false;
  std::string why;
  for (int i = 0; i < 256 && !ended; ++i) {
    if (ReadBurst(ended, why)) continue;
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 0) <= 0 || !(p.revents & POLLIN)) break;
  }
}

void TSshLine::Run() {
  ssh_session s = Session(session_);
  ssh_channel ch = Channel(channel_);
  const int fd = ssh_get_fd(s);
  std::string pending;  // taken from the queue, not written yet
  std::string why;
  bool ended = false;
  // libssh's last flush left nothing to write: its wish to write is stale
  // until something is written or read again (waiting for it would spin).
  bool flushed = false;
  while (!stop_ && !ended) {
    if (resized_.exchange(false)) ssh_channel_change_pty_size(ch, columns_, rows_);
    if (pending.empty()) {
      std::lock_guard<std::mutex> lk(outMutex_);
      pending.swap(out_);
    }
    // Never more than the host's window takes: libssh would wait for it.
    if (const size_t n = std::min<size_t>(pending.size(), ssh_channel_window_size(ch)); n > 0) {
      const int w = ssh_channel_write(ch, pending.data(), static_cast<uint32_t>(n));
      if (w < 0 && w != SSH_AGAIN) {
        why = ssh_get_error(s);
        ended = true;
        break;
      }
      if (w > 0) {
        pending.erase(0, static_cast<size_t>(w));
        flushed = false;
      }
    }
    const bool paused = ReceivePaused && ReceivePaused();
    if (!paused) {
      ReadBurst(ended, why);
      flushed = false;  // reading may have answered the host (a window's growth)
    }
    if (ended) break;
    // Waits for the host, for room to write, for the queue or a wake-up.
    // Paused, the socket is left alone, unless the host's window must grow
    // before the queue can go (its message comes on the socket).
    const bool flush = !flushed && (ssh_get_poll_flags(s) & SSH_WRITE_PENDING) != 0;
    const bool needWindow = !pending.empty() && ssh_channel_window_size(ch) == 0;
    const short events = static_cast<short>(((!paused || needWindow) ? POLLIN : 0) | (flush ? POLLOUT : 0));
    pollfd p[2] = {{wake_, POLLIN, 0}, {fd, events, 0}};
    const int r = ::poll(p, events != 0 ? 2 : 1, paused ? 100 : 1000);
    bool woken = false;
    if (r > 0 && (p[0].revents & POLLIN)) {
      uint64_t count;
      woken = ::read(wake_, &count, sizeof count) > 0;
    }
    if (stop_) break;
    // The wake-up may have come while reading, which paused since: the
    // ring as it is now decides.
    if ((woken || r == 0) && OnResume && ReceivePaused && ReceivePaused()) OnResume();
    // libssh writes what it holds, and takes in what came, when asked.
    if (events != 0 && (p[1].revents & (POLLOUT | POLLHUP | POLLERR) || (paused && (p[1].revents & POLLIN)))) {
      const int rc = ssh_blocking_flush(s, 0);
      if (rc == SSH_ERROR) {
        why = ssh_get_error(s);
        ended = true;
      }
      flushed = rc == SSH_OK;
    }
  }
  if (stop_) Drain();
  running_ = false;
  if (ended && OnEnd) OnEnd(why);
}

}  // namespace brelo
