// An SSH host as a line. Brelo's own connector (TTCPClient: the addresses in
// turn, IPv6, a delay per address) makes the socket and hands it over; libssh
// runs the protocol on it. The host's key is checked against the known_hosts
// files as OpenSSH checks it before anything else is sent, then the login
// (the host's own key, the agent, the user's default keys, then password
// and keyboard-interactive), then a terminal (its type and size) and a
// shell. From then on the channel is the line: its bytes go to OnData, and
// what the session sends goes out on it, nothing added or taken away.
//
// Threads: Open runs on the calling thread (the session's work thread) and
// blocks; Adopt, Send, SetWindowSize, Wake and Close may come from any
// thread. Once open, the line has a thread of its own that alone touches
// libssh: it reads the channel (OnData, OnEnd, OnResume run there) and
// writes what Send queued.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "transport/KnownHosts.h"

namespace brelo {

// What a line is opened with.
struct TSshLogin {
  std::string host;          // as the address names it: the name known_hosts and the server see
  int port = 22;
  std::string user;          // UTF-8
  std::string keyFile;       // the host's own key, tried first; "" for none
  std::string password;      // UTF-8, for password and keyboard-interactive; "" tries neither
  std::string agentSocket;   // the agent's socket (SSH_AUTH_SOCK); "" for none
  std::string userSshFolder; // the user's ~/.ssh/: default keys, known_hosts read only
  std::string knownHosts;    // the program's own known_hosts, where keys are recorded
  std::string terminalType;  // as the terminal's type is named on the host ("xterm", "vt100")
  int timeoutSeconds = 30;   // a step of the handshake the server leaves unanswered this long fails
};

// The user's ssh folder, ~/.ssh/ ("" without a home).
std::string DefaultSshFolder();

// The user's word on a key no file knows.
enum class EHostKeyAnswer { kRemember, kOnce, kRefuse };

// What opening a line came to.
struct TSshOutcome {
  enum EKind {
    kNone,            // no SSH line was called
    kOpen,            // the channel is the line
    kFailed,          // the handshake or the terminal failed: `error`
    kHostKeyUnknown,  // no file knows the key and it was not accepted
    kHostKeyChanged,  // the files hold another key of its type for the host (or revoked it)
    kLoginRefused,    // no way of logging in worked: `methods` is what the server offers
    kAborted,         // Close came first
  } kind = kNone;
  std::string hostName;       // the host as known_hosts names it
  THostKey key;               // what the server showed
  THostKeyCheck check;        // what the files say of it
  std::string methods;        // kLoginRefused: "publickey,password", as the server named them
  std::string error;          // kFailed: libssh's words
  std::string method;         // kOpen: how the login went ("publickey", "password", ...)
  std::string keyFile;        // kOpen by a key file: which
  bool remembered = false;    // kOpen: the user had the unknown key recorded
  int recordError = 0;        // ... which failed with this errno
};

// What the line asks of its owner while it opens, on Open's thread.
struct TSshAsk {
  // Unassigned: an unknown key is refused.
  std::function<EHostKeyAnswer(const std::string& hostName, const THostKey& key)> unknownKey;
  // The passphrase of a key file (again: the last one was wrong); nothing:
  // the key is passed over. Unassigned: encrypted keys are passed over.
  std::function<std::optional<std::string>(const std::string& keyFile, bool again)> passphrase;
};

class TSshLine {
 public:
  TSshLine();
  ~TSshLine();  // Close
  TSshLine(const TSshLine&) = delete;
  TSshLine& operator=(const TSshLine&) = delete;

  // A new session (no thread of the last one left): Close is forgotten.
  void Reset();
  // The connector's socket, connected; the line owns it from now on.
  void Adopt(int fd);
  // Waits for the socket (until Close, or stopping() says so), then opens
  // the line on it. On kOpen the line's thread runs.
  TSshOutcome Open(const TSshLogin& login, const TSshAsk& ask, const std::function<bool()>& stopping);
  // Only the host's key and what the files say of it (kOpen when the
  // server showed it); nothing of ours goes to the server.
  TSshOutcome FetchHostKey(const TSshLogin& login, const std::function<bool()>& stopping);
  // Ends the line: an Open under way gives up at once; an open line's
  // thread delivers what arrived, says goodbye to the server and ends.
  // Waits for that thread (unless called on it).
  void Close();
  bool Running() const { return running_.load(); }

  // Bytes for the host, queued for the line's thread; how many it took
  // (0 when its queue is full or the line is not open).
  int Send(const char* p, int n);
  // The terminal's size in characters, told to the host at once.
  void SetWindowSize(int columns, int rows);
  // The line's thread looks at ReceivePaused again and calls OnResume.
  void Wake();

  // The line's thread. Reading stops while ReceivePaused says so; OnResume
  // runs when woken, and every 100 ms while paused.
  std::function<void(const char* p, size_t n)> OnData;
  // Around each burst of OnData calls.
  std::function<void(bool begin)> OnBurst;
  std::function<bool()> ReceivePaused;
  std::function<void()> OnResume;
  // The line ended by itself (the host closed it, or it broke): why, in
  // libssh's words ("" for an orderly end). Once, after the last OnData.
  std::function<void(const std::string& why)> OnEnd;

  static constexpr size_t kSendQueueBytes = 256u << 10;

 private:
  int WaitForSocket(const std::function<bool()>& stopping);
  // The socket, the protocol up to the server's key, and the files' word
  // on it; false (the session gone) when it did not get that far.
  bool Handshake(const TSshLogin& login, const std::function<bool()>& stopping, TSshOutcome& out);
  // The session ends before the line opened: why, unless Close came first.
  void Ended(TSshOutcome& out, TSshOutcome::EKind kind);
  // The login, in order; true when the server let us in.
  bool Authenticate(const TSshLogin& login, const TSshAsk& ask, TSshOutcome& out);
  // One key file: its public half tried first, the passphrase asked only
  // for a key the server would take. SSH_AUTH_* result.
  int TryKeyFile(const std::string& file, const TSshLogin& login, const TSshAsk& ask, bool& agentTried);
  bool TryAgent(const TSshLogin& login, bool& agentTried);
  // The open line's thread.
  void Run();
  // The last reads when the line is closed: what arrived is delivered.
  void Drain();
  bool ReadBurst(bool& ended, std::string& why);
  void FreeSession();

  mutable std::mutex mutex_;
  std::condition_variable adopted_;
  int pendingFd_ = -1;      // the socket adopted, not yet opened on (mutex_)
  int fd_ = -1;             // the socket while a session uses it (mutex_)
  bool closed_ = false;     // Close came (mutex_)
  void* session_ = nullptr; // ssh_session
  void* channel_ = nullptr; // ssh_channel
  std::thread thread_;
  std::atomic<bool> running_{false};
  std::atomic<bool> stop_{false};
  int wake_ = -1;           // eventfd

  std::mutex outMutex_;
  std::string out_;         // queued by Send (outMutex_)
  std::atomic<bool> resized_{false};
  std::atomic<int> columns_{80}, rows_{24};
};

}  // namespace brelo
