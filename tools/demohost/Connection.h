// One caller's line (a telnet socket or the modem's pseudo-terminal), with
// the faults a test can ask for applied to everything the host writes.
#pragma once

#include <atomic>
#include <cstdio>
#include <mutex>
#include <string>

#include <termios.h>

#include "common/HostEncoding.h"

namespace demohost {

struct Faults {
  enum Chunking { kBurst, kTrickle, kSplit } chunking = kBurst;
  bool negotiate = false;   // telnet negotiations and a subnegotiation at the start
  bool negotiateStrict = false;  // no ID prompt before the caller has answered the options
  bool ansi = false;        // every line and prompt painted with colour escapes
  bool longLines = false;   // over-long lines in the banner
  bool garbage = false;     // garbage bytes in the banner
  bool silent = false;      // never says anything
  long dropAfter = -1;      // hangs up after this many bytes of a news listing
  long dropAfterMessages = -1;  // hangs up right after this many whole messages of a news listing
  long messagePauseMs = 0;      // pauses after each message of a news listing (a slow line)
  enum DropBy { kClose, kReset } dropBy = kClose;  // how a telnet line is dropped
  bool failWrites = false;  // every post and mail fails
  bool ignoreLogout = false;  // "Q" is not a command it knows: the caller must hang up
  long flood = 0;           // numbered lines sent before the banner
  long floodRate = 0;       // lines a second of the flood (0: as fast as the line takes them)
  bool floodOnly = false;   // hang up after the flood (a reader's time to take it all)
  bool echoPassword = false; // the password is echoed as typed
  bool ttyOutput = false;   // behind a telnet server, the terminal's output processing stays on
  // What the host speaks on the line; it works in Shift-JIS inside.
  brelo::EHostEncoding encoding = brelo::EHostEncoding::kShiftJis;
};

// Everything received, escaped, one line per read, for the operator.
class ReceiveLog {
 public:
  explicit ReceiveLog(const std::string& path);
  ~ReceiveLog();
  void Add(int caller, const char* data, size_t n);

 private:
  std::mutex m_;
  std::FILE* f_ = nullptr;
};

// What the line is: a telnet socket of the host's own; the modem's
// pseudo-terminal; or standard input and output behind a telnet server or a
// relay, which speaks telnet itself where it does (one session, --stdio).
enum class LineKind { kTelnet, kModem, kStdio };

class Connection {
 public:
  // Reads from fd, writes to outFd (-1: fd too).
  Connection(int fd, int caller, const Faults& faults, ReceiveLog* log, LineKind kind, int outFd = -1);
  ~Connection();
  // Writes bytes as the fault settings say; false once the line is gone.
  bool Write(const std::string& bytes);
  // The next byte; -1 when nothing came within timeoutMs, -2 when the line is gone.
  int ReadByte(int timeoutMs);
  // A file transfer's bytes, as they are: written whole, no faults applied;
  // read what came within timeoutMs (0: nothing, -1: the line is gone).
  bool WriteRaw(const std::string& bytes);
  long ReadRaw(char* buf, size_t n, int timeoutMs);
  // Bytes a transfer read from the line but its program never took (the
  // caller typed at once after it): the line reader gets them first.
  void Unread(const std::string& bytes);
  bool IsSocket() const { return isSocket_; }
  LineKind Kind() const { return kind_; }
  // Standard input is a terminal (a telnet server's pseudo-terminal): its
  // line discipline is the host's only while text is read; a transfer
  // takes the bytes as they are, and gives the terminal back after.
  void RawTerminal(bool raw);
  void Close();
  // Drops the line at once, as the faults say: a plain close or a reset on a
  // socket; on the modem line the session ends and the modem hangs up.
  void HangUp();
  bool Gone() const { return gone_.load(); }
  int Caller() const { return caller_; }
  // Counts bytes written while counting is on (for dropAfter).
  void CountFrom() { counted_ = 0; counting_ = true; }
  void StopCounting() { counting_ = false; }
  // Set by the modem: the caller sent the escape "+++".
  bool escaped = false;

 private:
  bool RawWrite(const char* p, size_t n);
  static std::string Paint(const std::string& bytes, int& colour);
  int colour_ = 0;  // the last colour painted (--ansi)

  int fd_;
  int outFd_;
  bool terminal_ = false;  // standard input is a terminal
  termios cooked_{};        // its settings while text is read
  LineKind kind_;
  int caller_;
  Faults faults_;
  ReceiveLog* log_;
  bool isSocket_;
  std::atomic<bool> gone_{false};
  std::mutex writeMutex_;
  std::string inbuf_;
  size_t inpos_ = 0;
  bool counting_ = false;
  long counted_ = 0;
  std::string plusRun_;
  // The caller's bytes to Shift-JIS, telnet commands left as they are.
  void DecodeInput(const char* p, size_t n);
  brelo::THostDecoder decoder_;
  int telnet_ = 0;  // 0 data, 1 after IAC, 2 after a verb, 3 inside SB, 4 after IAC inside SB
};

}  // namespace demohost
