// TVeskoClient: the non-visual session component. It owns the TCP client and
// the modem port, turns every received byte into the ring of 1000 screen
// lines, writes the session log, notices the loss of the line, and per
// connection runs a work thread (the host dialogue) and a send thread.
//
// Threads:
// - main thread: Connect, Disconnect, the properties, the TCP notifications
//   and so the receive path of telnet sessions;
// - serial watch thread: the receive path of modem sessions, the carrier
//   check and a Disconnect it may start;
// - SSH line thread: the receive path of SSH sessions;
// - work thread: the only reader of the ring; every event it raises runs on
//   the main thread while it waits (RunOnMainAndWait);
// - send thread: drains the send ring.
// OnReceive, OnStatusOut and OnDisConnect run on the thread that raised them
// (the caller of Connect/Disconnect, or the delivering thread).
// Destroying the component ends a running session and waits for its threads.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "session/LineRing.h"
#include "session/SendThread.h"
#include "session/SessionLog.h"
#include "session/TransferProgram.h"
#include "session/TransferStart.h"
#include "session/VeskoMessage.h"
#include "transport/SshLine.h"
#include "transport/WSocket.h"
#include "transport/ZenuComm.h"

namespace brelo {

enum THostKind : unsigned char { HK_vesko = 0, HK_ktbbs = 1, HK_bigmodel = 2 };
// "VESKO", "KTBBS", "BIG-MODEL(未対応)" in Shift-JIS; "" for other values.
std::string HostKindName(int kind);
constexpr int kHostKindCount = 3;

enum TSessionMode : unsigned char {
  sm_idle = 0, sm_login = 1, sm_online = 2, sm_telegram = 3, sm_writemessage = 4, sm_writemail = 5
};

class TWorkThread;

// The connection and login parameters, copied from the properties when a
// session starts so that the work thread reads a stable set.
struct TSessionSettings {
  THostKind HostKind = HK_vesko;
  std::string ModemInitCommand;
  std::string ModemDialCommand = "ATD";
  int CommPort = 1;
  int CommRate = 9600;
  std::string ModemDevice;
  std::string UserID, Password, HandleName, Address;
  bool GetTelegram = true, GetMessage = true, GetMail = true;
  bool StealthLogin = false, AutoReceiveMail = false;
  // No automation at all: the session is the user's.
  bool TerminalOnly = false;
  // How long the login watch waits for a login prompt it knows, counted
  // afresh at each prompt it answers; then it gives the session to the user.
  int LoginWatchMs = 60000;
};

// Why a session's login watch ended without reaching the main prompt.
enum class ELoginEnd {
  kRefused,        // the host turned the ID or the password down
  kNotRecognised,  // no login prompt the dialogue knows came within the bound
  kUserTyped,      // the user typed: the session is theirs
  kTerminalOnly,   // the host is marked "自動ログインしない"
  // SSH hosts, before any login prompt: the server refused every way of
  // logging in Brelo had; its key is known to no known_hosts file and was
  // not accepted; its key differs from the one recorded (or was revoked).
  kSshRefused,
  kHostKeyUnknown,
  kHostKeyChanged,
};

// The pending write of WriteMessage/WriteMail.
struct TPendingWrite {
  std::string Target, Title, Body;
  int Tag = 0;
};

class TVeskoClient : private ISendTarget {
 public:
  using TNotifyEvent = std::function<void(TVeskoClient* sender)>;
  using TStringEvent = std::function<void(TVeskoClient* sender, const std::string& s)>;
  using TTelegramEvent = std::function<void(TVeskoClient* sender, const std::string& from, const std::string& mes)>;
  using TMessageEvent = std::function<void(TVeskoClient* sender, TVeskoMessage& mes)>;
  using TBoardEvent = std::function<void(TVeskoClient* sender, int boardNo, const std::string& boardName,
                                         const std::string& boardTitle)>;
  using TChatLineEvent = std::function<void(TVeskoClient* sender, int ch, const std::string& handleName,
                                            const std::string& mes, bool isNextChatLine)>;
  using TTagEvent = std::function<void(TVeskoClient* sender, int tag)>;
  using TWriteFailedEvent = std::function<void(TVeskoClient* sender, int tag, bool refused)>;

  TVeskoClient();
  ~TVeskoClient() override;
  TVeskoClient(const TVeskoClient&) = delete;
  TVeskoClient& operator=(const TVeskoClient&) = delete;

  // Published properties (main thread; read when a session starts).
  THostKind HostKind = HK_vesko;
  std::string ModemInitCommand;          // empty: the modem is not initialised
  std::string ModemDialCommand = "ATD";
  int CommPort = 1;
  int CommRate = 9600;
  std::string ModemDevice;               // DEVICE of Modem.Ini: a device path for the modem
  bool MakeLogFile = false;
  std::string LogFileName;               // rewritten by Connect to the full name
  std::string UserID, Password, HandleName, Address;
  bool GetTelegram = true, GetMessage = true, GetMail = true;
  bool StealthLogin = false, AutoReceiveMail = false;
  // Our addition: "自動ログインしない": nothing is answered for the user.
  bool TerminalOnly = false;
  // Our addition: the login watch's bound, in seconds without a login
  // prompt it knows (the settings file's LoginWatchSeconds).
  int LoginWatchSeconds = 60;
  std::string ProgramFolder;             // where a log name without a folder goes
  std::string TerminalType = "VT100";    // answered when a telnet host asks
  bool RemoveEscapes = true;             // colour and screen escapes out of the text
  EHostEncoding Encoding = EHostEncoding::kShiftJis;  // what the host speaks on the line
  // Whether a TCP host speaks telnet: known from its first IAC (automatic),
  // or forced by its host entry.
  ELineKind Line = ELineKind::kAuto;
  // SSH hosts (ssh:// addresses): the host's own key file, tried first
  // (SshKey in the host list); the program's known_hosts, where keys the
  // user accepts are recorded ("" : known_hosts in ProgramFolder); the
  // user's ssh folder, whose default keys are tried and whose known_hosts
  // is read, never written (default ~/.ssh/); the agent's socket (default
  // $SSH_AUTH_SOCK; "" for none).
  std::string SshKey;
  std::string SshKnownHosts;
  std::string SshUserFolder;
  std::string SshAgentSocket;

  // Published events; each fires only when assigned.
  TStringEvent OnReceive;
  TNotifyEvent OnConnect;
  TNotifyEvent OnDisConnect;
  TNotifyEvent OnLogin;
  TNotifyEvent OnLogout;
  TStringEvent OnReceiveLine;
  TTelegramEvent OnReceiveTelegram;
  TMessageEvent OnReceiveMessage;
  TBoardEvent OnGetMessageBoard;
  TNotifyEvent OnGetMainPrompt;
  TMessageEvent OnReceiveMail;
  TChatLineEvent OnReceiveChatLine;
  TStringEvent OnReceiveLoginUsers;
  TStringEvent OnStatusOut;
  TTagEvent OnExecuteWriteMessage;
  // The user list, and whether the line cut it off before its end (our
  // addition: such a list is not the whole one).
  std::function<void(TVeskoClient* sender, const std::string& users, bool cut)> OnReceiveUsers;
  // Our addition: a write that ended without the host's confirmation,
  // refused by the host (nothing posted) or failed (main thread, synchronised).
  TWriteFailedEvent OnWriteFailed;
  // Our addition: the session log could not be created or written, with
  // the reason naming the file (main thread; from the work thread
  // synchronised). Once per session. Unassigned, the status line says it
  // and the session goes on without a log.
  TStringEvent OnLogFailed;
  // Our addition: the login watch ended without the main prompt (why, and
  // the host's own words when it refused: Shift-JIS). Work thread,
  // synchronised. Unassigned, the session is left to the user.
  std::function<void(TVeskoClient* sender, ELoginEnd why, const std::string& hostWords)> OnLoginFailed;
  // Our addition, SSH hosts: a host key that no known_hosts file knows
  // (its host as known_hosts names it, the key, and the keys of other types
  // recorded for the host); unassigned, it is refused. A key file's
  // passphrase (again: the last one was wrong); nothing passes the key
  // over. Both work thread, synchronised.
  std::function<EHostKeyAnswer(TVeskoClient* sender, const std::string& hostName, const THostKey& key)>
      OnUnknownHostKey;
  std::function<std::optional<std::string>(TVeskoClient* sender, const std::string& keyFile, bool again)>
      OnKeyPassphrase;

  // Our addition: whether the host was sent its logout command ("Q" at the
  // main prompt), so that the session's end says "ログアウトしました" only
  // after it (a line lost before is "切断されました.."). Cleared by Connect.
  std::atomic<bool> LogoutCommandSent{false};

  void Connect();
  // Ends the session. The lines already received are still consumed and
  // captured by the work thread before it ends (the host counts them as
  // read); OnDisConnect fires at once.
  void Disconnect();
  // Queue s + CR LF (SendText: s alone) when a session's send thread exists.
  void SendLine(const std::string& s);
  void SendText(const std::string& s);
  // The user typed to the host (main thread, before the bytes are sent): a
  // login watch still running ends at once, so that nothing is answered
  // for them any more.
  void UserTyped() { userTyped_ = true; }
  bool UserHasTyped() const { return userTyped_.load(); }
  // The terminal's size in characters (main thread): a telnet host that
  // agreed to hear it is told at once when it changes, any other when it asks.
  void SetWindowSize(int columns, int rows);
  void WriteMessage(const std::string& board, const std::string& title, const std::string& body, int tag);
  void WriteMail(const std::string& to, const std::string& title, const std::string& body, int tag);
  // Sends a telegram to a channel through the host's telegram dialogue; the
  // work thread picks it up at its next turn, like a write.
  void SendTelegram(const std::string& channel, const std::string& message);
  // A line of ours in the session log, in parentheses (nothing without a
  // log). Main thread, while the work thread waits for an event's handler.
  void LogNote(const std::string& sjis);

  // The ring, for the terminal view (any thread) and the work thread.
  TLineRing& Ring() { return ring_; }
  std::string Lines(int slot) const { return ring_.Line(slot); }
  void LineWithRuns(int slot, std::string& text, std::vector<TAttrRun>& runs) const {
    ring_.LineWithRuns(slot, text, runs);
  }
  int LineIndex() const { return ring_.LineIndex(); }

  TSessionMode Mode() const { return static_cast<TSessionMode>(mode_.load()); }
  bool Connected() const { return connected_.load(); }
  int Channel() const { return channel_.load(); }
  int Transport() override { return transport_.load(); }
  bool SessionRunning() const { return workAlive_.load() || sendAlive_.load(); }
  bool WorkThreadRunning() const { return workAlive_.load(); }
  bool LogOpen() const { return log_.IsOpen(); }

  // The last error the TCP client reported in this session (code 0: none),
  // with the Winsock text: why a connection failed, for the user.
  struct TLineError {
    int code = 0;
    std::string text;
    // Why the address look-up gave no address (Shift-JIS), when it did not:
    // the line's error that follows it is only its consequence.
    std::string lookup;
    // An SSH host: what opening its line came to.
    TSshOutcome ssh;
  };
  TLineError LastLineError() const;

  TTCPClient& TCPClient() { return tcp_; }
  TZENUCOMM& ModemPort() { return modem_; }
  const TZENUCOMM& ModemPort() const { return modem_; }

  // Runs the receive path over a chunk and raises OnReceive (delivering thread).
  void ReceiveChunk(const char* data, size_t len);

  // File transfers over the line (our addition), by the system's lrzsz.
  // Downloads are stored in DownloadFolder (created 0700 when one starts),
  // where no file is ever written over; with the folder set, a host that
  // starts a ZMODEM send during a session is answered at once. The
  // protocol is ModemPort().Protocol, for both transports.
  std::string DownloadFolder;
  // Where the files to upload are chosen from (the host folder's UP/).
  std::string UploadFolder;
  struct TTransferEnd {
    bool download = true;
    ProtType protocol = pr_ZMODEM;
    TTransferResult result;
  };
  // At the end of a transfer (main thread), after ModemPort().OnUpOrDownLoaded.
  std::function<void(TVeskoClient*, const TTransferEnd&)> OnTransferEnd;
  // Main thread, during a session. A download with an X/YMODEM protocol
  // after the host was asked to send (XMODEM stores under xmodemName);
  // an upload of files. False, with a status line, when it cannot start.
  bool StartDownload(const std::string& xmodemName = std::string());
  bool StartUpload(const std::vector<std::string>& files);
  // The protocol's cancel sequence; a download keeps its ".part" file.
  void CancelTransfer();
  bool TransferRunning() const;
  TTransferProgress TransferProgress() const;

 private:
  friend class TWorkThread;
  friend class TSessionDriver;

  // ISendTarget for the send thread: an SSH line's channel, else the socket.
  int SendTcp(const char* p, int n) override { return transport_ == 2 ? ssh_.Send(p, n) : tcp_.Send(p, n); }
  int SerialOutQueueSize() override { return modem_.OutQueueSize; }
  int SerialQueued() override { return modem_.OutQueueBytes(); }
  int SerialWrite(const char* p, int n) override { return modem_.Write(p, n); }
  bool WorkThreadGone() override { return !workAlive_.load(); }
  void SendThreadEnded() override { sendAlive_ = false; }

  void Status(const std::string& s);  // OnStatusOut on the calling thread
  // Opens the session log with the pass's mark; why it could not ("" when open).
  std::string OpenLog();
  void TcpData();
  // The TCP loss handlers' common body, on the main thread.
  void LineLost(const std::string& what);
  // Work thread: the SSH line to host:port as user (Shift-JIS), opened over
  // the connector's socket; a failure of the connector or of the handshake
  // is reported as the line's loss.
  TSshOutcome OpenSsh(const std::string& host, const std::string& port, const std::string& user, const TSshAsk& ask,
                      const std::function<bool()>& stopping);
  // Main thread: the bytes the socket still holds go into the ring.
  void TakeWhatTheSocketHolds();
  // Serial watch thread: the bytes the port still holds go into the ring.
  void TakeWhatThePortHolds();
  void ReapThreads();
  // Text for the host, in its encoding.
  void Enqueue(const std::string& sjis);
  // Bytes for the line as they are (telnet answers).
  void EnqueueBytes(const std::string& bytes);
  void OnRingRoom();
  // Main thread: the ring is full; reading from the socket pauses until the
  // backlog has run (RunBacklog), which is also looked for on a tick.
  void PauseSocket();
  void PauseTick();
  void RunBacklog();
  // Sends what the host's option requests call for (a modem line: nothing).
  void SendTelnetReplies();
  // A transfer's program, started; its sink for the ring (empty: not started).
  // A start from the host keeps its header: text again if the start was.
  TLineRing::TSink BeginTransfer(bool download, ProtType protocol, const std::vector<std::string>& argv,
                                 const std::string& folder, bool fromHost, const std::string& header = {});
  // Called from the ring when the host starts a ZMODEM send (under its lock).
  TLineRing::TSink ZmodemFromHost(const std::string& folder, const std::string& header);
  // A session without a transfer, and a protocol there is a program for
  // (else a status line says why not).
  bool TransferPossible();
  // The program's bytes for the line: telnet's IAC and CR rules on TCP.
  void SendTransferBytes(const char* p, size_t n);
  void TransferEnded(const std::shared_ptr<TTransferProgram>& program, const TTransferResult& r);
  // Main thread, while the bytes after a cancelled download are dropped:
  // ends the drop after a quiet spell counted from the last byte.
  void DrainTick();
  static constexpr int kDrainQuietMs = 500;

  TTCPClient tcp_;
  TSshLine ssh_;
  TZENUCOMM modem_;
  TLineRing ring_;
  TSessionLog log_;

  std::atomic<int> mode_{sm_idle};
  std::atomic<bool> connected_{false};
  std::atomic<int> channel_{-1};
  std::atomic<int> transport_{0};  // 0 modem, 1 TCP, 2 SSH
  std::atomic<bool> userTyped_{false};  // main thread sets, work thread reads; cleared by Connect

  mutable std::mutex errorMutex_;
  TLineError lastError_;                // guarded by errorMutex_

  std::mutex writeMutex_;
  TPendingWrite pendingWrite_;          // guarded by writeMutex_

  std::mutex threadsMutex_;             // guards the two thread objects
  std::unique_ptr<TSendThread> send_;
  std::unique_ptr<TWorkThread> work_;
  std::atomic<bool> workAlive_{false};  // the work-thread reference: cleared when it ends
  std::atomic<bool> sendAlive_{false};  // the send-thread reference
  std::atomic<EHostEncoding> sessionEncoding_{EHostEncoding::kShiftJis};  // set by Connect
  std::atomic<bool> destroying_{false};
  TSessionSettings session_;            // written by Connect before the threads start
  TSshLogin sshLogin_;                  // likewise: what an SSH line is opened with, but where
  // What the serial watch thread reads ahead of a full ring (into its
  // backlog) before it stops reading: a hang-up flushes whatever the port
  // still holds, so the bytes are better taken early.
  static constexpr size_t kSerialBacklogLimit = 1u << 20;
  static constexpr int kPauseTickMs = 100;
  bool socketPaused_ = false;           // main thread only
  mutable std::mutex transferMutex_;
  std::shared_ptr<TTransferProgram> transfer_;  // guarded by transferMutex_
  bool transferDownload_ = false;               // guarded by transferMutex_
  bool transferFromHost_ = false;               // guarded by transferMutex_
  ProtType transferProtocol_ = pr_ZMODEM;       // guarded by transferMutex_
  // Under the ring's lock: what the host sent after a ZMODEM start in its
  // bytes, until it shows frames, and what it showed.
  std::string transferAttempt_;
  TZmodemFollowCheck startCheck_;
  // An XMODEM or YMODEM upload: the host's text until its receiver starts,
  // which the sender never sees (it goes back to the lines afterwards).
  TReceiverStartWatch receiverStart_;
  bool receiverStarted_ = false;
  std::string uploadText_;
  std::shared_ptr<char> alive_;
};

}  // namespace brelo
