#include "transport/WSocket.h"

#include <QSocketNotifier>
#include <QTimer>
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>

#include "common/MainThread.h"

namespace brelo {

// The notifiers of one socket: a call under way has a write notifier (its
// connect completes or fails), the line also a read notifier.
struct TTCPClient::TWatch {
  int fd = -1;
  std::unique_ptr<QSocketNotifier> read;
  std::unique_ptr<QSocketNotifier> write;
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
    // No line yet (a connect still under way): nothing taken, nothing lost.
    if (fd_ < 0 || len <= 0) return 0;
    ssize_t n = ::send(fd_, buf, static_cast<size_t>(len), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n >= 0) return static_cast<int>(n);
    code = WinsockCodeFromErrno(errno);
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

namespace {

// Failures that connect() may report at once and that are reported like
// those that come later: from the main thread, with the state connecting.
bool ReportedLater(int code) {
  return code == WSAECONNREFUSED || code == WSAETIMEDOUT || code == WSAENETUNREACH || code == WSAEHOSTUNREACH;
}

// How much a failure of one address says about the host: an answer (a
// refusal, a reset) most, a family or route this machine lacks least.
int Telling(int code) {
  switch (code) {
    case WSAECONNREFUSED: case WSAECONNRESET: case WSAECONNABORTED: return 3;
    case WSAENETUNREACH: case WSAEHOSTUNREACH: case WSAEADDRNOTAVAIL: case WSAENETDOWN: return 1;
    case WSAEAFNOSUPPORT: case WSAEPFNOSUPPORT: case WSAEPROTONOSUPPORT: return 0;
    default: return 2;
  }
}

// The failure to report for a name once another has failed: the more
// telling, the later of two alike.
int MoreTelling(int earlier, int later) {
  return earlier != 0 && Telling(earlier) > Telling(later) ? earlier : later;
}

}  // namespace

std::vector<size_t> InterleaveFamilies(const std::vector<int>& families) {
  std::vector<size_t> first, other, order;
  for (size_t i = 0; i < families.size(); ++i) (families[i] == families[0] ? first : other).push_back(i);
  for (size_t i = 0; i < first.size() || i < other.size(); ++i) {
    if (i < first.size()) order.push_back(first[i]);
    if (i < other.size()) order.push_back(other[i]);
  }
  return order;
}

TTCPClient::TTCPClient() : alive_(std::make_shared<char>(0)) {
  protocol_ = 6;
  socketType_ = 1;
}

TTCPClient::~TTCPClient() {
  Close();
  watches_.clear();
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
  if (!(Resolver ? ResolveWith(Resolver, host, port, out) : ResolveName(host, port, out))) return false;
  // The resolver sorts by preference; the families then take turns, so
  // that one family's silence does not hold up the other.
  std::vector<int> families;
  for (const TEndpoint& e : out) families.push_back(e.family);
  std::vector<TEndpoint> sorted;
  for (size_t i : InterleaveFamilies(families)) sorted.push_back(out[i]);
  out = std::move(sorted);
  return true;
}

bool TTCPClient::ResolveName(const std::string& host, const std::string& port, std::vector<TEndpoint>& out) {
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

bool TTCPClient::ResolveWith(const TResolver& resolver, const std::string& host, const std::string& port,
                             std::vector<TEndpoint>& out) {
  std::vector<TTCPAddress> addresses;
  int code = resolver(host, port, addresses);
  if (code == 0 && addresses.empty()) code = WSAHOST_NOT_FOUND;
  for (size_t i = 0; code == 0 && i < addresses.size(); ++i) {
    const TTCPAddress& a = addresses[i];
    TEndpoint e;
    sockaddr_in v4{};
    sockaddr_in6 v6{};
    if (a.port < 0 || a.port > 65535) {
      code = WSAEINVAL;
    } else if (::inet_pton(AF_INET, a.host.c_str(), &v4.sin_addr) == 1) {
      v4.sin_family = AF_INET;
      v4.sin_port = htons(static_cast<uint16_t>(a.port));
      std::memcpy(&e.addr, &v4, sizeof v4);
      e.len = sizeof v4;
      e.family = AF_INET;
    } else if (::inet_pton(AF_INET6, a.host.c_str(), &v6.sin6_addr) == 1) {
      v6.sin6_family = AF_INET6;
      v6.sin6_port = htons(static_cast<uint16_t>(a.port));
      std::memcpy(&e.addr, &v6, sizeof v6);
      e.len = sizeof v6;
      e.family = AF_INET6;
    } else {
      code = WSAEINVAL;  // not a numeric address
    }
    out.push_back(e);
  }
  if (code != 0) {
    out.clear();
    SocketError(code);
    return false;
  }
  return true;
}

namespace {

// Makes a socket and starts its connect. Returns the socket, with connectError
// set when connect() failed at once; or -1 with connectError set.
int OpenAttempt(const sockaddr_storage& addr, socklen_t len, int family, int& connectError) {
  connectError = 0;
  int fd = ::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    connectError = WinsockCodeFromErrno(errno);
    return -1;
  }
  int on = -1;  // urgent data arrives in the normal stream
  if (::setsockopt(fd, SOL_SOCKET, SO_OOBINLINE, &on, sizeof on) != 0) {
    connectError = WinsockCodeFromErrno(errno);
    ::close(fd);
    return -1;
  }
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), len) != 0 && errno != EINPROGRESS) {
    connectError = WinsockCodeFromErrno(errno);
  }
  return fd;
}

}  // namespace

void TTCPClient::Connect() {
  if (state_ != ssClosed) return;
  std::vector<TEndpoint> endpoints;
  if (!Resolve(endpoints)) return;
  // The first call starts here, so that a connect that cannot start at all
  // is reported from Connect with the state closed; an address that fails at
  // once gives way to the next at once.
  int telling = 0;
  for (size_t i = 0; i < endpoints.size(); ++i) {
    const bool last = i + 1 == endpoints.size();
    int connectError = 0;
    const int fd = OpenAttempt(endpoints[i].addr, endpoints[i].len, endpoints[i].family, connectError);
    if (connectError != 0) telling = MoreTelling(telling, connectError);
    if (fd < 0 || (connectError != 0 && !last)) {
      if (fd >= 0) ::close(fd);
      if (!last) continue;
      SocketError(telling);
      return;
    }
    if (connectError != 0 && !ReportedLater(connectError)) {
      ::close(fd);
      SocketError(telling);
      return;
    }
    unsigned gen;
    {
      std::lock_guard<std::mutex> lk(mutex_);
      if (state_ != ssClosed) {  // another thread connected meanwhile
        ::close(fd);
        return;
      }
      endpoints_ = std::move(endpoints);
      nextEndpoint_ = i + 1;
      attempts_ = {fd};
      roundError_ = telling;
      gen = ++gen_;
      state_ = ssConnecting;
    }
    // The main thread watches the call and keeps time; even from the main
    // thread, a failure comes later, never from inside Connect.
    std::weak_ptr<char> alive = alive_;
    PostToMain([this, alive, gen, fd, connectError] {
      if (!alive.lock()) return;
      if (connectError != 0) {
        AttemptFailed(gen, fd, connectError);
        return;
      }
      Watch(fd, gen);
      ArmAttemptDelay(gen);
    });
    return;
  }
}

void TTCPClient::StartNextAttempt(unsigned gen) {
  TEndpoint ep;
  {
    std::lock_guard<std::mutex> lk(mutex_);
    if (gen != gen_ || state_ != ssConnecting || fd_ >= 0 || nextEndpoint_ >= endpoints_.size()) return;
    ep = endpoints_[nextEndpoint_++];
  }
  int code = 0;
  int fd = OpenAttempt(ep.addr, ep.len, ep.family, code);
  if (fd >= 0 && code != 0) {
    ::close(fd);
    fd = -1;
  }
  if (fd < 0) {
    AttemptFailed(gen, -1, code);
    return;
  }
  {
    std::lock_guard<std::mutex> lk(mutex_);
    if (gen != gen_) {  // closed meanwhile
      ::close(fd);
      return;
    }
    attempts_.push_back(fd);
  }
  Watch(fd, gen);
  ArmAttemptDelay(gen);
}

void TTCPClient::ArmAttemptDelay(unsigned gen) {
  const unsigned token = ++delayToken_;
  {
    std::lock_guard<std::mutex> lk(mutex_);
    if (gen != gen_ || nextEndpoint_ >= endpoints_.size()) return;
  }
  std::weak_ptr<char> alive = alive_;
  QTimer::singleShot(AttemptDelayMs, Qt::PreciseTimer, [this, alive, gen, token] {
    if (alive.lock() && token == delayToken_) StartNextAttempt(gen);
  });
}

void TTCPClient::AttemptFailed(unsigned gen, int fd, int code) {
  bool more;
  bool report;
  int error;
  {
    std::lock_guard<std::mutex> lk(mutex_);
    if (gen != gen_) return;  // closed meanwhile: the close took the socket
    if (fd >= 0) {
      auto it = std::find(attempts_.begin(), attempts_.end(), fd);
      if (it == attempts_.end()) return;
      attempts_.erase(it);
    }
    roundError_ = MoreTelling(roundError_, code);
    error = roundError_;
    more = nextEndpoint_ < endpoints_.size();
    report = !more && attempts_.empty();
  }
  if (fd >= 0) {
    DropWatch(fd);
    ::close(fd);
  }
  if (more) {
    StartNextAttempt(gen);  // a failure does not wait for the delay
  } else if (report) {
    SocketError(error);  // stays connecting until the owner closes
  }
}

void TTCPClient::Watch(int fd, unsigned gen) {
  {
    std::lock_guard<std::mutex> lk(mutex_);
    if (gen != gen_ || std::find(attempts_.begin(), attempts_.end(), fd) == attempts_.end()) return;
  }
  auto w = std::make_unique<TWatch>();
  w->fd = fd;
  w->write = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Write);
  QObject::connect(w->write.get(), &QSocketNotifier::activated, [this, gen, fd] { OnWritable(gen, fd); });
  watches_.push_back(std::move(w));
}

TTCPClient::TWatch* TTCPClient::FindWatch(int fd) {
  for (auto& w : watches_) {
    if (w->fd == fd) return w.get();
  }
  return nullptr;
}

void TTCPClient::DropWatch(int fd) {
  std::erase_if(watches_, [fd](const std::unique_ptr<TWatch>& w) { return w->fd == fd; });
}

void TTCPClient::SetReceivePaused(bool paused) {
  receivePaused_ = paused;
  int fd;
  {
    std::lock_guard<std::mutex> lk(mutex_);
    if (state_ != ssConnected) return;
    fd = fd_;
  }
  TWatch* w = FindWatch(fd);
  if (w && w->read) w->read->setEnabled(!paused);
}

int TTCPClient::TakeSocket() {
  int fd;
  {
    std::lock_guard<std::mutex> lk(mutex_);
    fd = fd_;
    if (fd < 0) return -1;
    ++gen_;  // whatever is still on its way for it is late
    fd_ = -1;
    state_ = ssClosed;
  }
  DropWatch(fd);
  return fd;
}

void TTCPClient::OnWritable(unsigned gen, int fd) {
  int err = 0;
  bool current;
  {
    std::lock_guard<std::mutex> lk(mutex_);
    current = gen == gen_ && state_ == ssConnecting && fd_ < 0 &&
              std::find(attempts_.begin(), attempts_.end(), fd) != attempts_.end();
    socklen_t len = sizeof err;
    if (current && ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
  }
  TWatch* w = FindWatch(fd);
  if (w) w->write->setEnabled(false);
  if (!current || w == nullptr) return;
  if (err != 0) {
    AttemptFailed(gen, fd, WinsockCodeFromErrno(err));
    return;
  }
  std::vector<int> others;
  {
    std::lock_guard<std::mutex> lk(mutex_);
    std::erase(attempts_, fd);
    others.swap(attempts_);
    nextEndpoint_ = endpoints_.size();
    fd_ = fd;
  }
  ++delayToken_;  // no further address is called
  w->read = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
  w->read->setEnabled(false);
  QObject::connect(w->read.get(), &QSocketNotifier::activated, [this, gen, fd] { OnReadable(gen, fd); });
  if (OnConnect) OnConnect(this, fd);
  bool connected;
  {
    std::lock_guard<std::mutex> lk(mutex_);
    TSocketState expected = ssConnecting;
    connected = gen == gen_ && state_.compare_exchange_strong(expected, ssConnected);
  }
  // Reading starts once connected (OnConnect may have closed the line).
  if (connected) {
    if (TWatch* line = FindWatch(fd)) line->read->setEnabled(!receivePaused_);
  }
  // The calls that lost: taken out above, so nobody else closes them.
  for (int other : others) {
    DropWatch(other);
    ::close(other);
  }
}

void TTCPClient::OnReadable(unsigned gen, int fd) {
  ssize_t n = -1;
  int err = 0;
  bool current;
  {
    std::lock_guard<std::mutex> lk(mutex_);
    current = gen == gen_ && state_ == ssConnected && fd == fd_;
    if (current) {
      char c;
      n = ::recv(fd, &c, 1, MSG_PEEK | MSG_DONTWAIT);
      if (n < 0) err = errno;
    }
  }
  if (!current) {
    if (TWatch* w = FindWatch(fd); w && w->read) w->read->setEnabled(false);
    return;
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
  std::vector<int> fds;
  {
    std::lock_guard<std::mutex> lk(mutex_);
    TSocketState st = state_;
    if (st == ssNotStarted || st == ssClosed) return;
    const int fd = fd_;
    ++gen_;  // every notification and delay still on its way is now late
    if (fd >= 0) {
      if (::shutdown(fd, SHUT_WR) != 0 && errno != ENOTCONN) code = WinsockCodeFromErrno(errno);
      // Drain what waits, bounded so that a peer that keeps sending cannot
      // hold the close forever.
      char drain[1024];
      for (int i = 0; i < 1024; ++i) {
        ssize_t n = ::recv(fd, drain, sizeof drain, MSG_DONTWAIT);
        if (n <= 0) break;
      }
      fds.push_back(fd);
    }
    fds.insert(fds.end(), attempts_.begin(), attempts_.end());
    attempts_.clear();
    endpoints_.clear();
    nextEndpoint_ = 0;
    fd_ = -1;
    state_ = ssClosed;
  }
  if (!fds.empty()) {
    if (IsMainThread()) {
      for (int fd : fds) {
        DropWatch(fd);
        ::close(fd);
      }
    } else {
      // The notifiers are the main thread's: it deletes them, then closes.
      std::weak_ptr<char> alive = alive_;
      PostToMain([this, alive, fds] {
        const bool live = alive.lock() != nullptr;
        for (int fd : fds) {
          if (live) DropWatch(fd);
          ::close(fd);
        }
      });
    }
  }
  if (code != 0) SocketError(code);
}

}  // namespace brelo
