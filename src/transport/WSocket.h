// The TCP transport: TCustomWSocket (socket lifetime, address resolution,
// orderly close, send/receive wrappers, the error-text table) and
// TTCPClient (a stream client that connects without blocking and reports
// OnConnect, OnData, OnClose and OnError on the main thread).
//
// Threads: the notifiers belong to the main thread and are created, enabled
// and deleted only there. Connect and Close may be called from the session's
// work thread, Send from the send thread: the socket descriptor is guarded by
// a mutex, and a Close from another thread hands the descriptor to the main
// thread, which deletes its notifiers before closing it. Errors found by
// Send, Connect or Close raise OnError on the calling thread.
#pragma once

#include <atomic>
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
  // outcome arrives later as OnConnect or OnError. Any thread.
  void Connect();
  // Ends the connection: shutdown, drain, close. Any thread.
  void Close();

  // Main thread: stop or resume watching for received data (the session's
  // line ring is full). A hang-up is noticed once watching resumes.
  void SetReceivePaused(bool paused);

  TSocketEvent OnData;     // main thread
  TSocketEvent OnConnect;  // main thread
  TSocketEvent OnClose;    // main thread

 private:
  struct TNotifiers;
  struct TEndpoint;
  // Resolves Host/Port into the addresses to try, in the resolver's order
  // (IPv6 and IPv4 alike); false after the error path.
  bool Resolve(std::vector<TEndpoint>& out);
  // Starts connecting to the next address not tried yet; the error of the
  // last one is reported when none answers.
  void ConnectNext();
  // Main thread: watch descriptor fd of connection generation gen.
  void Arm(int fd, unsigned gen);
  void OnWritable(unsigned gen);
  void OnReadable(unsigned gen);
  // Main thread: what a close notification does.
  void CloseNotification(unsigned gen, int error);

  mutable std::mutex propMutex_;
  std::string host_, port_;          // guarded by propMutex_
  unsigned gen_ = 0;                 // guarded by mutex_: one per socket
  std::vector<TEndpoint> endpoints_;  // guarded by mutex_: the addresses of this Connect
  size_t nextEndpoint_ = 0;           // guarded by mutex_
  std::shared_ptr<TNotifiers> notifiers_;  // main thread only
  std::shared_ptr<char> alive_;      // posted work checks it on the main thread
  bool receivePaused_ = false;       // main thread only
};

}  // namespace brelo
