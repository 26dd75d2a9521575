// The TCP transport: TCustomWSocket (socket lifetime, address resolution,
// orderly close, send/receive wrappers, the error-text table) and
// TTCPClient (a stream client that connects without blocking and reports
// OnConnect, OnData, OnClose and OnError on the main thread).
//
// A name with several addresses is called in the manner of RFC 8305: the
// families take turns, the next address is called when the one before fails
// or has not answered within AttemptDelayMs (while it keeps trying), the
// first to connect is the line and the others are closed.
//
// Threads: the notifiers and the delay timers belong to the main thread and
// are created, enabled and deleted only there. Connect and Close may be
// called from the session's work thread, Send from the send thread: the
// socket descriptors are guarded by a mutex, and a Close from another thread
// hands them to the main thread, which deletes their notifiers before closing
// them. Errors found by Send, Connect or Close raise OnError on the calling
// thread; a connect that fails later reports from the main thread.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace brelo {

enum TSocketState : unsigned char { ssNotStarted, ssClosed, ssConnecting, ssConnected };

// Winsock error codes the system's texts are keyed by.
enum : int {
  WSAEINTR = 10004, WSAEBADF = 10009, WSAEACCES = 10013, WSAEFAULT = 10014, WSAEINVAL = 10022,
  WSAEMFILE = 10024, WSAEWOULDBLOCK = 10035, WSAEINPROGRESS = 10036, WSAEALREADY = 10037,
  WSAENOTSOCK = 10038, WSAEDESTADDRREQ = 10039, WSAEMSGSIZE = 10040, WSAEPROTOTYPE = 10041,
  WSAENOPROTOOPT = 10042, WSAEPROTONOSUPPORT = 10043, WSAESOCKTNOSUPPORT = 10044, WSAEOPNOTSUPP = 10045,
  WSAEPFNOSUPPORT = 10046, WSAEAFNOSUPPORT = 10047, WSAEADDRINUSE = 10048, WSAEADDRNOTAVAIL = 10049,
  WSAENETDOWN = 10050, WSAENETUNREACH = 10051, WSAENETRESET = 10052, WSAECONNABORTED = 10053,
  WSAECONNRESET = 10054, WSAENOBUFS = 10055, WSAEISCONN = 10056, WSAENOTCONN = 10057, WSAESHUTDOWN = 10058,
  WSAETOOMANYREFS = 10059, WSAETIMEDOUT = 10060, WSAECONNREFUSED = 10061, WSAELOOP = 10062,
  WSAENAMETOOLONG = 10063, WSAEHOSTDOWN = 10064, WSAEHOSTUNREACH = 10065, WSAENOTEMPTY = 10066,
  WSAEPROCLIM = 10067, WSAEUSERS = 10068, WSAEDQUOT = 10069, WSAESTALE = 10070, WSAEREMOTE = 10071,
  WSASYSNOTREADY = 10091, WSAVERNOTSUPPORTED = 10092, WSANOTINITIALISED = 10093, WSAHOST_NOT_FOUND = 11001,
  WSATRY_AGAIN = 11002, WSANO_RECOVERY = 11003, WSANO_DATA = 11004,
};

// errno and resolver results as Winsock codes, so that the texts are the table's.
int WinsockCodeFromErrno(int err);
int WinsockCodeFromResolver(int gaiError);

// The order in which to call a name's addresses, given their families in the
// resolver's order: the families take turns, starting with the first's, each
// keeping its own order (so a host whose IPv6 addresses are all dead is
// reached over IPv4 at the second try).
std::vector<size_t> InterleaveFamilies(const std::vector<int>& families);

// How long an address may go unanswered before the next one is called too.
// A quarter second, as RFC 8305 recommends: longer than a connect takes on
// nearly every working line, short enough that a silent address costs little.
constexpr int kConnectAttemptDelayMs = 250;

// One address to call: a numeric IPv4 or IPv6 address and a port.
struct TTCPAddress {
  std::string host;
  int port = 0;
};

class TCustomWSocket {
 public:
  using TOnError = std::function<void(TCustomWSocket* sender, int error, const std::string& msg)>;

  TCustomWSocket();
  virtual ~TCustomWSocket();
  TCustomWSocket(const TCustomWSocket&) = delete;
  TCustomWSocket& operator=(const TCustomWSocket&) = delete;

  // The text of a Winsock error code; "Not a Winsock error" for others.
  static std::string ErrorText(int code);

  TSocketState State() const { return state_.load(); }
  int LastError() const { return lastError_.load(); }

  // Bytes the socket accepted, or 0 (would block: silent; other failures:
  // the error path). Any thread.
  int Send(const char* buf, int len);
  // Bytes received (0 when the peer has closed or nothing waits), at most size.
  int Receive(char* buf, int size);

  TOnError OnError;  // assign before use; not changed while a session runs

 protected:
  // The error path: records the code, raises OnError with its text.
  void SocketError(int code);

  mutable std::mutex mutex_;          // guards fd_ and every call on it
  int fd_ = -1;                       // guarded by mutex_
  std::atomic<TSocketState> state_{ssNotStarted};
  std::atomic<int> lastError_{0};
  int protocol_ = 0;                  // 6 for TCP
  int socketType_ = 3;                // 1 for a stream
};

class TTCPClient : public TCustomWSocket {
 public:
  using TSocketEvent = std::function<void(TTCPClient* sender, int socket)>;

  TTCPClient();
  ~TTCPClient() override;

  void SetHost(const std::string& host);
  std::string Host() const;
  void SetPort(const std::string& port);
  std::string Port() const;

  // Starts a connection to Host:Port; does nothing unless ssClosed. The
  // outcome arrives later as OnConnect or OnError; when every address has
  // failed, one OnError names the failure that says most about the host (a
  // refusal before a route this machine lacks; else the last), and the state
  // stays ssConnecting until Close. Any thread.
  void Connect();
  // Ends the connection, or every call still under way: shutdown, drain,
  // close. Any thread.
  void Close();

  // Main thread: stop or resume watching for received data (the session's
  // line ring is full). A hang-up is noticed once watching resumes.
  void SetReceivePaused(bool paused);
  // Main thread, from OnConnect: the connected socket is the caller's now
  // (another protocol runs on it); this client forgets it, closed, and
  // reports nothing more of it. -1 when there is none.
  int TakeSocket();

  TSocketEvent OnData;     // main thread
  // Main thread. Raised while the other addresses' calls are still open:
  // they are closed when it returns.
  TSocketEvent OnConnect;
  TSocketEvent OnClose;  // main thread

  // The name look-up: fills the addresses of host and port in the order to
  // try and returns 0, or returns a Winsock code. Empty: the system's
  // resolver. Replaceable so that a name with several addresses can be made
  // up on a machine that has none. Assign before use.
  using TResolver = std::function<int(const std::string& host, const std::string& port, std::vector<TTCPAddress>& out)>;
  TResolver Resolver;
  // Assign before use; not changed while a connect is under way.
  int AttemptDelayMs = kConnectAttemptDelayMs;

 private:
  struct TWatch;
  struct TEndpoint;
  // Resolves Host/Port into the addresses to try, in the order to try them;
  // false after the error path.
  bool Resolve(std::vector<TEndpoint>& out);
  bool ResolveName(const std::string& host, const std::string& port, std::vector<TEndpoint>& out);
  bool ResolveWith(const TResolver& resolver, const std::string& host, const std::string& port,
                   std::vector<TEndpoint>& out);
  // Main thread, for connect generation gen: call the next address not
  // tried yet; arm the delay after which the one after it is called too.
  void StartNextAttempt(unsigned gen);
  void ArmAttemptDelay(unsigned gen);
  // Main thread: the call on fd (-1: no socket could be made) failed with
  // code; the next address is called at once, or, when none is left and no
  // call is still under way, the round's error is reported.
  void AttemptFailed(unsigned gen, int fd, int code);
  // Main thread: watch the call on fd of generation gen.
  void Watch(int fd, unsigned gen);
  TWatch* FindWatch(int fd);
  void DropWatch(int fd);
  void OnWritable(unsigned gen, int fd);
  void OnReadable(unsigned gen, int fd);
  // Main thread: what a close notification does.
  void CloseNotification(unsigned gen, int error);

  mutable std::mutex propMutex_;
  std::string host_, port_;          // guarded by propMutex_
  // Guarded by mutex_, written by the thread of Connect, Close or the main
  // thread. gen_ counts connects and closes: work for an older one is late.
  unsigned gen_ = 0;
  std::vector<TEndpoint> endpoints_;  // the addresses of this Connect
  size_t nextEndpoint_ = 0;           // the next one to call
  std::vector<int> attempts_;         // calls under way; whoever takes one out closes it
  int roundError_ = 0;                // the error to report when every call has failed
  // Main thread only.
  std::vector<std::unique_ptr<TWatch>> watches_;
  unsigned delayToken_ = 0;          // a delay that fires with another token is stale
  std::shared_ptr<char> alive_;      // posted work checks it on the main thread
  bool receivePaused_ = false;
};

}  // namespace brelo
