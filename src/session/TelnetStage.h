// The first stage of the receive path: the host's bytes in, its data out,
// its telnet commands taken out and answered through TTelnetOptions.
//
// What the line is decides what an IAC is:
// - a telnet line: always a command;
// - a raw line: never (0xFF is no character, and text drops it);
// - a line still unknown (the default): in text, the first IAC makes the
//   line a telnet line. A transfer's bytes go on as they are, so that a
//   host that never spoke telnet gets its 0xFF bytes through; only before
//   the peer's first frame is an IAC a command (a host that asks for binary
//   mode as its transfer starts, after its words about it).
// A modem line has no telnet in its transfers; in its text, commands are
// taken out as on any line.
//
// Text and a transfer's bytes differ in two ways: IAC IAC is the data byte
// 0xFF, which text drops and a transfer keeps; CR NUL is a carriage return,
// and in text one right before another CR adds no line end (telnetd sends a
// line end as CR NUL CR LF), while a transfer gets CR for it unless the
// host sends in binary.
#pragma once

#include <atomic>
#include <string>

#include "common/LineKind.h"
#include "session/ReceiveStage.h"
#include "session/TelnetOptions.h"

namespace brelo {

class TTelnetStage {
 public:
  // A new session: options off, the line as its host entry says.
  void Reset(ELineKind kind);
  // A modem line (no telnet in transfers) or a TCP one.
  void SetTcp(bool tcp) { tcp_.store(tcp, std::memory_order_relaxed); }
  // Off, commands are taken out and nothing is answered.
  void SetAnswers(bool on) { answers_ = on; }

  // Text: data goes to out, commands are answered into Replies().
  size_t Text(const char* p, size_t n, IByteSink& out);
  // A transfer's bytes (also those drained after a cancel).
  size_t Transfer(const char* p, size_t n, IByteSink& out);

  // A transfer begins: binary mode is agreed while it runs, and asked for
  // on a telnet line. framesSeen: the peer's first frame came already (a
  // ZMODEM start found in the text). It ends: binary is given back.
  void BeginTransfer(bool framesSeen = false);
  void EndTransfer();

  // Whether the line is known to speak telnet (any thread).
  bool TelnetKnown() const { return known_.load(std::memory_order_relaxed); }
  // Whether a transfer's bytes are telnet's (IAC doubled, CR NUL) now.
  bool TelnetTransfer() const { return tcp_.load(std::memory_order_relaxed) && TelnetKnown(); }

  TTelnetOptions& Options() { return options_; }
  const TTelnetOptions& Options() const { return options_; }
  std::string& Replies() { return replies_; }

 private:
  // A command's byte after IAC; false when the IAC was IAC IAC (data 0xFF).
  bool CommandByte(unsigned char b);
  void BecomeTelnet() { known_.store(true, std::memory_order_relaxed); }
  // Text on a telnet line from p[i]: runs between IAC and NUL.
  size_t TelnetText(const char* p, size_t i, size_t n, IByteSink& out);

  TTelnetOptions options_;
  std::string replies_;
  std::string sub_;           // a subnegotiation's bytes so far
  int state_ = 0;             // where in a command the bytes are
  unsigned char verb_ = 0;    // WILL, WONT, DO or DONT waiting for its option
  ELineKind kind_ = ELineKind::kAuto;
  std::atomic<bool> known_{false};  // the line is a telnet line
  std::atomic<bool> tcp_{true};
  bool answers_ = false;
  bool lastCr_ = false;       // the last data byte was CR
  bool atColumnZero_ = false; // text: after CR NUL, a CR adds nothing
  bool fresh_ = false;        // a transfer's peer has sent no frame yet
  bool transfer_ = false;
};

}  // namespace brelo
