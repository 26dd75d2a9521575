// The stage of the receive path that takes colour and screen escape
// sequences out of the text: ECMA-48 CSI sequences (their colour settings
// become the painting of the text after them), the short ESC sequences, and
// the control strings (OSC, ended by BEL or ST; DCS, SOS, PM and APC, ended
// by ST; ST is ESC \), each whole. Off, everything goes on and the line
// stage drops ESC alone, as ever.
//
// A byte that cannot continue a sequence ends it and counts as what it is;
// so does a line end inside a control string (a host that never ends its
// string loses no line). No sequence runs on without end: past 64 bytes
// (4096 for a control string) the rest is text.
#pragma once

#include <cstddef>

#include "session/LineBuilder.h"

namespace brelo {

class TEscapeFilter {
 public:
  static constexpr int kMaxEscapeLength = 64;
  static constexpr int kMaxStringLength = 4096;

  void SetRemoval(bool on) { remove_ = on; }
  bool Removal() const { return remove_; }
  void Reset();
  // Bytes in; text and the painting to out. Returns the bytes taken (fewer
  // when out took fewer).
  size_t Put(const char* p, size_t n, ITextSink& out);

 private:
  // Moves a sequence on by one byte; false when the byte is no part of it.
  bool Continue(unsigned char b, ITextSink& out);
  // One byte of a CSI sequence: the parameters of a colour setting (SGR).
  void CsiByte(unsigned char b, ITextSink& out);
  void ApplySgr(ITextSink& out);

  bool remove_ = false;
  int state_ = 0;
  int length_ = 0;            // bytes of the sequence so far
  static constexpr int kMaxSgr = 16;
  int sgr_[kMaxSgr] = {};     // a CSI sequence's parameters so far
  int sgrCount_ = 0;
  int sgrValue_ = 0;          // the parameter being read
  bool sgrOther_ = false;     // private or intermediate bytes: no colour setting
};

}  // namespace brelo
