#include "transport/WSocket.h"

#include <QSocketNotifier>
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>

#include "common/MainThread.h"

namespace brelo {

struct TTCPClient::TNotifiers {
  int fd = -1;
  std::unique_ptr<QSocketNotifier> read;
  std::unique_ptr<QSocketNotifier> write;
  int connectError = 0;  // a refusal that connect() reported at once
};

struct TTCPClient::TEndpoint {
  sockaddr_storage addr{};
  socklen_t len = 0;
  int family = AF_INET;
};

int WinsockCodeFromErrno(int err) {
  switch (err) {
    case EINTR: return WSAEINTR;
    case EBADF: return WSAEBADF;
    case EACCES: case EPERM: return WSAEACCES;
    case EFAULT: return WSAEFAULT;
    case EINVAL: return WSAEINVAL;
    case EMFILE: case ENFILE: return WSAEMFILE;
    case EAGAIN: return WSAEWOULDBLOCK;
    case EINPROGRESS: return WSAEINPROGRESS;
    case EALREADY: return WSAEALREADY;
    case ENOTSOCK: return WSAENOTSOCK;
    case EDESTADDRREQ: return WSAEDESTADDRREQ;
    case EMSGSIZE: return WSAEMSGSIZE;
    case EPROTOTYPE: return WSAEPROTOTYPE;
    case ENOPROTOOPT: return WSAENOPROTOOPT;
    case EPROTONOSUPPORT: return WSAEPROTONOSUPPORT;
    case ESOCKTNOSUPPORT: return WSAESOCKTNOSUPPORT;
    case EOPNOTSUPP: return WSAEOPNOTSUPP;
    case EPFNOSUPPORT: return WSAEPFNOSUPPORT;
    case EAFNOSUPPORT: return WSAEAFNOSUPPORT;
    case EADDRINUSE: return WSAEADDRINUSE;
    case EADDRNOTAVAIL: return WSAEADDRNOTAVAIL;
    case ENETDOWN: return WSAENETDOWN;
    case ENETUNREACH: return WSAENETUNREACH;
    case ENETRESET: return WSAENETRESET;
    case ECONNABORTED: return WSAECONNABORTED;
    case ECONNRESET: return WSAECONNRESET;
    case ENOBUFS: case ENOMEM: return WSAENOBUFS;
    case EISCONN: return WSAEISCONN;
    case ENOTCONN: return WSAENOTCONN;
    case ESHUTDOWN: case EPIPE: return WSAESHUTDOWN;
    case ETOOMANYREFS: return WSAETOOMANYREFS;
    case ETIMEDOUT: return WSAETIMEDOUT;
    case ECONNREFUSED: return WSAECONNREFUSED;
    case ELOOP: return WSAELOOP;
    case ENAMETOOLONG: return WSAENAMETOOLONG;
    case EHOSTDOWN: return WSAEHOSTDOWN;
    case EHOSTUNREACH: return WSAEHOSTUNREACH;
    case ENOTEMPTY: return WSAENOTEMPTY;
    case EUSERS: return WSAEUSERS;
    case EDQUOT: return WSAEDQUOT;
    case ESTALE: return WSAESTALE;
    case EREMOTE: return WSAEREMOTE;
    default: return err;  // outside the table: "Not a Winsock error"
  }
}

int WinsockCodeFromResolver(int gaiError) {
  switch (gaiError) {
    case EAI_NONAME: return WSAHOST_NOT_FOUND;
    case EAI_AGAIN: return WSATRY_AGAIN;
    case EAI_FAIL: return WSANO_RECOVERY;
#ifdef EAI_NODATA
    case EAI_NODATA: return WSANO_DATA;
#endif
    case EAI_ADDRFAMILY: return WSANO_DATA;
    case EAI_MEMORY: return WSAENOBUFS;
    case EAI_SYSTEM: return WinsockCodeFromErrno(errno);
    default: return WSAHOST_NOT_FOUND;
  }
}

std::string TCustomWSocket::ErrorText(int code) {
  static const std::map<int, const char*> kTexts = {
      {10004, "Interrupted system call"},
      {10009, "Bad file number"},
      {10013, "Permission denied"},
      {10014, "Bad address"},
      {10022, "Invalid argument"},
      {10024, "Too many open files"},
      {10035, "Operation would block"},
      {10036, "Operation now in progress"},
      {10037, "Operation already in progress"},
      {10038, "Socket operation on nonsocket"},
      {10039, "Destination address required"},
      {10040, "Message too long"},
      {10041, "Protocol wrong type for socket"},
      {10042, "Protocol not available"},
      {10043, "Protocol not supported"},
      {10044, "Socket not supported"},
      {10045, "Operation not supported on socket"},
      {10046, "Protocol family not supported"},
      {10047, "Address family not supported"},
      {10048, "Address already in use"},
      {10049, "Can't assign requested address"},
      {10050, "Network is down"},
      {10051, "Network is unreachable"},
      {10052, "Network dropped connection on reset"},
      {10053, "Software caused connection abort"},
      {10054, "Connection reset by peer"},
      {10055, "No buffer space available"},
      {10056, "Socket is already connected"},
      {10057, "Socket is not connected"},
      {10058, "Can't send after socket shutdown"},
      {10059, "Too many references:can't splice"},
      {10060, "Connection timed out"},
      {10061, "Connection refused"},
      {10062, "Too many levels of symbolic links"},
      {10063, "File name is too long"},
      {10064, "Host is down"},
      {10065, "No route to host"},
      {10066, "Directory is not empty"},
      {10067, "Too many processes"},
      {10068, "Too many users"},
      {10069, "Disk quota exceeded"},
      {10070, "Stale NFS file handle"},
      {10071, "Too many levels of remote in path"},
      {10091, "Network subsystem is unusable"},
      {10092, "Winsock DLL cannot support this application"},
      {10093, "Winsock not initialized"},
      {11001, "Host not found"},
      {11002, "Non authoritative - host not found"},
      {11003, "Non recoverable error"},
      {11004, "Valid name, no data record of requested type"},
  };
  auto it = kTexts.find(code);
  return it == kTexts.end() ? "Not a Winsock error" : it->second;
}

TCustomWSocket::TCustomWSocket() {
  // POSIX sockets need no start-up: the library is always usable.
  lastError_ = 0;
  state_ = ssClosed;
}

TCustomWSocket::~TCustomWSocket() {
  std::lock_guard<std::mutex> lk(mutex_);
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

void TCustomWSocket::SocketError(int code) {
  lastError_ = code;
  if (OnError) OnError(this, code, ErrorText(code));
}

int TCustomWSocket::Send(const char* buf, int len) {
  int code = 0;
  {
    std::lock_guard<std::mutex> lk(mutex_);
    if (fd_ < 0 || len <= 0) return 0;
    ssize_t n = ::send(fd_, buf, static_cast<size_t>(len), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n >= 0) return static_cast<int>(n);
    code = WinsockCodeFromErrno(errno);
    // A connect still under way takes no data yet: the bytes stay queued.
    if (code == WSAENOTCONN && state_ == ssConnecting) code = WSAEWOULDBLOCK;
  }
  if (code != WSAEWOULDBLOCK && code != WSAEINTR) SocketError(code);
  return 0;
}

int TCustomWSocket::Receive(char* buf, int size) {
  int code = 0;
  {
    std::lock_guard<std::mutex> lk(mutex_);
    if (fd_ < 0 || size <= 0) return 0;
    ssize_t n = ::recv(fd_, buf, static_cast<size_t>(size), MSG_DONTWAIT);
    if (n >= 0) return static_cast<int>(n);
    code = WinsockCodeFromErrno(errno);
  }
  if (code != WSAEWOULDBLOCK && code != WSAEINTR) SocketError(code);
  return 0;
}

TTCPClient::TTCPClient() : alive_(std::make_shared<char>(0)) {
  protocol_ = 6;
  socketType_ = 1;
}

TTCPClient::~TTCPClient() {
  Close();
  notifiers_.reset();
  alive_.reset();
}

void TTCPClient::SetHost(const std::string& host) {
  std::lock_guard<std::mutex> lk(propMutex_);
  host_ = host;
}
std::string TTCPClient::Host() const {
  std::lock_guard<std::mutex> lk(propMutex_);
  return host_;
}
void TTCPClient::SetPort(const std::string& port) {
  std::lock_guard<std::mutex> lk(propMutex_);
  port_ = port;
}
std::string TTCPClient::Port() const {
  std::lock_guard<std::mutex> lk(propMutex_);
  return port_;
}

bool TTCPClient::Resolve(std::vector<TEndpoint>& out) {
  out.clear();
  const std::string host = Host();
  const std::string port = Port();

  // The port: a service name of the TCP protocol, else a decimal number.
  in_port_t portBytes = 0;
  servent se;
  servent* found = nullptr;
  char buf[1024];
  if (!port.empty() && getservbyname_r(port.c_str(), "tcp", &se, buf, sizeof buf, &found) == 0 && found) {
    portBytes = static_cast<in_port_t>(found->s_port);
  } else {
    // A port that is neither a service nor a number is an invalid argument;
    // it is reported like every other failure rather than thrown.
    char* end = nullptr;
    long v = port.empty() ? -1 : std::strtol(port.c_str(), &end, 10);
    if (v < 0 || v > 65535 || *end != '\0') {
      SocketError(WSAEINVAL);
      return false;
    }
    portBytes = htons(static_cast<uint16_t>(v));
  }
  auto add = [&](const sockaddr* sa, socklen_t len) {
    TEndpoint e;
    std::memcpy(&e.addr, sa, len);
    e.len = len;
    e.family = sa->sa_family;
    if (e.family == AF_INET6) reinterpret_cast<sockaddr_in6*>(&e.addr)->sin6_port = portBytes;
    else reinterpret_cast<sockaddr_in*>(&e.addr)->sin_port = portBytes;
    out.push_back(e);
  };

  // Dotted IPv4 in the forms the original accepted, without the resolver.
  in_addr_t a = ::inet_addr(host.c_str());
  if (a != INADDR_NONE) {
    sockaddr_in v4{};
    v4.sin_family = AF_INET;
    v4.sin_addr.s_addr = a;
    add(reinterpret_cast<sockaddr*>(&v4), sizeof v4);
    return true;
  }
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* res = nullptr;
  int r = host.empty() ? EAI_NONAME : ::getaddrinfo(host.c_str(), nullptr, &hints, &res);
  if (r != 0 || res == nullptr) {
    SocketError(WinsockCodeFromResolver(r != 0 ? r : EAI_NONAME));
    return false;
  }
  for (addrinfo* i = res; i != nullptr; i = i->ai_next) {
    if ((i->ai_family == AF_INET || i->ai_family == AF_INET6) && i->ai_addrlen <= sizeof(sockaddr_storage)) {
      add(i->ai_addr, i->ai_addrlen);
    }
  }
  ::freeaddrinfo(res);
  if (out.empty()) {
    SocketError(WinsockCodeFromResolver(EAI_NONAME));
    return false;
  }
  return true;
}

void TTCPClient::Connect() {
  if (state_ != ssClosed) return;
  std::vector<TEndpoint> endpoints;
  if (!Resolve(endpoints)) return;
  {
    std::lock_guard<std::mutex> lk(mutex_);
    endpoints_ = std::move(endpoints);
    nextEndpoint_ = 0;
  }
  ConnectNext();
}

void TTCPClient::ConnectNext() {
  for (;;) {
    TEndpoint ep;
    bool last;
    {
      std::lock_guard<std::mutex> lk(mutex_);
      if (nextEndpoint_ >= endpoints_.size()) return;
      ep = endpoints_[nextEndpoint_++];
      last = nextEndpoint_ == endpoints_.size();
    }
    int fd = ::socket(ep.family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
      if (!last) continue;  // no IPv6 here, say: the next address
      SocketError(WinsockCodeFromErrno(errno));
      return;
    }
    int on = -1;  // urgent data arrives in the normal stream
    if (::setsockopt(fd, SOL_SOCKET, SO_OOBINLINE, &on, sizeof on) != 0) {
      int code = WinsockCodeFromErrno(errno);
      ::close(fd);
      SocketError(code);
      return;
    }
    int connectError = 0;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&ep.addr), ep.len) != 0 && errno != EINPROGRESS) {
      connectError = WinsockCodeFromErrno(errno);
      if (!last) {
        ::close(fd);  // refused or unreachable at once: the next address
        continue;
      }
      // A refusal known at once is reported like one that comes later: from
      // the main thread, with the socket left connecting until Close.
      if (connectError != WSAECONNREFUSED && connectError != WSAETIMEDOUT && connectError != WSAENETUNREACH &&
          connectError != WSAEHOSTUNREACH) {
        ::close(fd);
        SocketError(connectError);
        return;
      }
    }
    unsigned gen;
    {
      std::lock_guard<std::mutex> lk(mutex_);
      if (state_ != ssClosed) {  // another thread connected meanwhile
        ::close(fd);
        return;
      }
      fd_ = fd;
      gen = ++gen_;
      state_ = ssConnecting;
    }
    auto arm = [this, fd, gen, connectError] {
      Arm(fd, gen);
      if (notifiers_ && notifiers_->fd == fd) notifiers_->connectError = connectError;
    };
    if (IsMainThread()) {
      arm();
    } else {
      std::weak_ptr<char> alive = alive_;
      PostToMain([alive, arm] {
        if (alive.lock()) arm();
      });
    }
    return;
  }
}

void TTCPClient::Arm(int fd, unsigned gen) {
  {
    std::lock_guard<std::mutex> lk(mutex_);
    if (gen != gen_ || fd != fd_) return;  // closed before the main thread got here
  }
  auto n = std::make_shared<TNotifiers>();
  n->fd = fd;
  n->read = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
  n->read->setEnabled(false);
  QObject::connect(n->read.get(), &QSocketNotifier::activated, [this, gen] { OnReadable(gen); });
  n->write = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Write);
  QObject::connect(n->write.get(), &QSocketNotifier::activated, [this, gen] { OnWritable(gen); });
  notifiers_ = std::move(n);
}

void TTCPClient::SetReceivePaused(bool paused) {
  receivePaused_ = paused;
  if (notifiers_ && notifiers_->read && state_ == ssConnected) notifiers_->read->setEnabled(!paused);
}

void TTCPClient::OnWritable(unsigned gen) {
  int fd;
  int err = 0;
  {
    std::lock_guard<std::mutex> lk(mutex_);
    if (gen != gen_ || state_ != ssConnecting) {
      if (notifiers_) notifiers_->write->setEnabled(false);
      return;
    }
    fd = fd_;
    socklen_t len = sizeof err;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
  }
  notifiers_->write->setEnabled(false);
  int code = notifiers_->connectError != 0 ? notifiers_->connectError : (err != 0 ? WinsockCodeFromErrno(err) : 0);
  if (code != 0) {
    bool more;
    {
      std::lock_guard<std::mutex> lk(mutex_);
      more = gen == gen_ && nextEndpoint_ < endpoints_.size();
      if (more) {
        // This address refused: the next one of the same name is tried.
        ++gen_;
        fd_ = -1;
        state_ = ssClosed;
      }
    }
    if (more) {
      notifiers_.reset();
      ::close(fd);
      ConnectNext();
      return;
    }
    SocketError(code);  // stays connecting until the owner closes
    return;
  }
  notifiers_->read->setEnabled(!receivePaused_);
  if (OnConnect) OnConnect(this, fd);
  std::lock_guard<std::mutex> lk(mutex_);
  TSocketState expected = ssConnecting;
  if (gen == gen_) state_.compare_exchange_strong(expected, ssConnected);
}

void TTCPClient::OnReadable(unsigned gen) {
  ssize_t n;
  int err = 0;
  int fd;
  {
    std::lock_guard<std::mutex> lk(mutex_);
    if (gen != gen_ || state_ != ssConnected) {
      if (notifiers_ && notifiers_->read) notifiers_->read->setEnabled(false);
      return;
    }
    fd = fd_;
    char c;
    n = ::recv(fd, &c, 1, MSG_PEEK | MSG_DONTWAIT);
    if (n < 0) err = errno;
  }
  if (n > 0) {
    if (OnData) {
      OnData(this, fd);
    } else {
      char scratch[1024];  // nobody reads: discard, or the notifier would spin
      Receive(scratch, sizeof scratch);
    }
  } else if (n == 0) {
    CloseNotification(gen, 0);
  } else if (err != EAGAIN && err != EINTR) {
    CloseNotification(gen, WinsockCodeFromErrno(err));
  }
}

void TTCPClient::CloseNotification(unsigned gen, int error) {
  if (error == WSAENETDOWN) {
    SocketError(error);
    return;
  }
  int fd;
  {
    std::lock_guard<std::mutex> lk(mutex_);
    if (gen != gen_) return;
    fd = fd_;
  }
  // A reset or an abort ends the connection like a hang-up.
  if (OnClose) OnClose(this, fd);
  Close();
}

void TTCPClient::Close() {
  int code = 0;
  int fd;
  {
    std::lock_guard<std::mutex> lk(mutex_);
    TSocketState st = state_;
    if (st == ssNotStarted || st == ssClosed) return;
    fd = fd_;
    ++gen_;  // every notification still on its way is now late
    if (fd >= 0) {
      if (::shutdown(fd, SHUT_WR) != 0 && errno != ENOTCONN) code = WinsockCodeFromErrno(errno);
      // Drain what waits, bounded so that a peer that keeps sending cannot
      // hold the close forever.
      char drain[1024];
      for (int i = 0; i < 1024; ++i) {
        ssize_t n = ::recv(fd, drain, sizeof drain, MSG_DONTWAIT);
        if (n <= 0) break;
      }
    }
    fd_ = -1;
    state_ = ssClosed;
  }
  if (fd >= 0) {
    if (IsMainThread()) {
      if (notifiers_ && notifiers_->fd == fd) notifiers_.reset();
      ::close(fd);
    } else {
      // The notifiers are the main thread's: it deletes them, then closes.
      std::weak_ptr<char> alive = alive_;
      PostToMain([this, alive, fd] {
        if (alive.lock() && notifiers_ && notifiers_->fd == fd) notifiers_.reset();
        ::close(fd);
      });
    }
  }
  if (code != 0) SocketError(code);
}

}  // namespace brelo
