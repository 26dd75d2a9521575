// The start of a ZMODEM send in the host's bytes: the whole ZRQINIT hex
// header ("**", ZDLE, "B", the frame type 00, four flag bytes and the
// header's CRC-16, all in hex, then CR and LF; a telnet line outside binary
// mode may put NUL after the CR), wherever the reads split it.
// Half a header, a header with a wrong check or another frame type is text.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "session/ReceiveStage.h"

namespace brelo {

class TZmodemStartWatch {
 public:
  static constexpr size_t kNone = static_cast<size_t>(-1);
  static constexpr size_t kHeaderBytes = 20;

  // The offset just past the first whole header that ends within these
  // bytes, or kNone. The watch starts afresh after a header.
  size_t Find(const char* p, size_t n);
  void Reset() { matched_ = 0; headerBytes_ = 0; }
  // The bytes the header found last took on the line (its NUL included).
  size_t HeaderBytes() const { return lastHeaderBytes_; }

 private:
  bool Accept(unsigned char b);
  // Whether the hex digits held spell a ZRQINIT with a right check.
  bool Valid() const;

  char held_[kHeaderBytes] = {};
  size_t matched_ = 0;
  size_t headerBytes_ = 0;      // line bytes of the header so far
  size_t lastHeaderBytes_ = 0;
};

// The stage of the receive path that watches the text for a ZMODEM start.
// The text goes on to the next stage as it is; at a whole header the bytes
// of it in this read are held back (a start of it in an earlier read went
// on as text already) and the rest of the read is for the transfer. If the
// header turns out to be part of a text, what was held goes on as text, but
// for its closing line feed, which the line stage drops as it drops LF.
class TTransferWatch {
 public:
  void SetOn(bool on) { on_ = on; Reset(); }
  bool On() const { return on_; }
  void Reset();
  // Returns the bytes taken: fewer than n when a header ended within them
  // (Found() is then true until Take).
  size_t Put(const char* p, size_t n, IByteSink& next);
  bool Found() const { return found_; }
  // The header's bytes held back, and the watch goes on.
  std::string TakeHeader();

 private:
  TZmodemStartWatch watch_;
  std::string header_;
  bool on_ = false;
  bool found_ = false;
};

// The receiver's start of an XMODEM or YMODEM upload in the host's bytes.
// The receiver asks for the first block with "C" (CRC), NAK (checksum) or
// "G" (YMODEM-G), at the start of a line and with nothing but more of them
// after it. Before that the host sends its text — the echo of the upload
// command and its answer, which may hold a "C" ("XMODEM [CRC]") — which no
// sender may take for the start.
class TReceiverStartWatch {
 public:
  static constexpr size_t kNone = static_cast<size_t>(-1);
  // line: what of the host's last line came before the watch began. Only
  // an empty one, or one of the receiver's asks alone (it asked before the
  // sender started, and asks again), lets the next ask start the upload;
  // any other text on it is the host's until its line break.
  explicit TReceiverStartWatch(std::string_view line = "");
  // Where the receiver's start begins within these bytes (kNone: all text).
  size_t Find(const char* p, size_t n);

 private:
  bool lineStart_;
};

// Whether a ZRQINIT began a transfer, told by what the host sends after it,
// never by how long the receiving program takes to start. A sender waits for
// the receiver's answer and then sends frames only: "**" or "*", ZDLE, the
// header's kind ("A", "B", "C") and a frame type. Between them it may send
// XON, XOFF, CR, LF and NUL, and once "rz" and CR before a ZRQINIT. Any other
// byte, or a frame that is the receiver's own answer (ZRINIT) echoed by a
// host that takes it for typed text, shows the header was part of a text.
class TZmodemFollowCheck {
 public:
  enum EVerdict { fvUnknown, fvFrames, fvText };
  // The bytes after the header, as the reads bring them; the verdict stays
  // once it is not fvUnknown.
  EVerdict Feed(const char* p, size_t n);
  EVerdict Verdict() const { return verdict_; }

 private:
  EVerdict Byte(unsigned char b);

  EVerdict verdict_ = fvUnknown;
  int state_ = 0;        // where in the next frame's start the bytes are
  char hexType_ = 0;     // the first hex digit of a hex header's type
};

}  // namespace brelo
