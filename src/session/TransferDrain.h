// The stage of the receive path after a cancelled download: the sender's
// bytes still in flight are dropped, never read as text, until its stream
// ends. A ZMODEM sender ends it with its cancel (five CAN or more, then
// backspaces; lrzsz's sz then flushes the end of one empty data subpacket)
// or with its ZFIN header (and "OO"). A sender that stops without either is
// over after a quiet spell, which the owner measures from the last byte
// (Stop). Never more than kMaxBytes are dropped: past them the rest is text.
#pragma once

#include <cstddef>
#include <string>

namespace brelo {

class TTransferDrain {
 public:
  static constexpr size_t kMaxBytes = 64u << 20;

  void Start();
  bool Active() const { return active_; }
  // The sender's bytes: returns how many were its (fewer than n when its
  // stream ended within them: the rest is text).
  size_t Put(const char* p, size_t n);
  // A quiet spell: the stream is over.
  void Stop();
  // Bytes held while it was not yet clear whether they were the sender's,
  // given back as text when they were not (after Put or Stop ended it).
  std::string TakeText();
  unsigned long long Dropped() const { return dropped_; }

 private:
  // One byte; false when it is no longer the sender's (and the drain ends).
  bool Byte(unsigned char b);
  // One byte of the check of an empty subpacket's end.
  bool CheckByte(unsigned char b);
  void End();

  bool active_ = false;
  int state_ = 0;
  int cans_ = 0;             // CAN in a row
  int stars_ = 0;            // "*" in a row, before a hex header
  int headerBytes_ = 0;      // of a ZFIN header
  int os_ = 0;               // "O" after ZFIN
  unsigned char frameEnd_ = 0;
  int check_ = 0;            // check bytes matched
  bool escaped_ = false;     // a ZDLE within the check
  bool crc16_ = false, crc32_ = false;  // which checks still fit
  std::string held_;
  std::string text_;
  unsigned long long dropped_ = 0;
};

}  // namespace brelo
