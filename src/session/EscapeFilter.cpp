#include "session/EscapeFilter.h"

#include <cstring>

namespace brelo {
namespace {

enum : int {
  kNone = 0,
  kEsc,           // after ESC
  kCsi,           // after ESC [: parameters and intermediates up to the final byte
  kIntermediate,  // after ESC and an intermediate byte (ESC ( B, ...)
  kString,        // a control string's body
  kStringEsc,     // an ESC inside a control string: ST when "\" follows
};

constexpr unsigned char kEscByte = 0x1B, kBel = 0x07, kCan = 0x18, kSub = 0x1A;

}  // namespace

void TEscapeFilter::Reset() {
  state_ = kNone;
  length_ = 0;
  sgrCount_ = 0;
  sgrValue_ = 0;
  sgrOther_ = false;
}

bool TEscapeFilter::Continue(unsigned char b, ITextSink& out) {
  const bool inString = state_ == kString || state_ == kStringEsc;
  if (++length_ > (inString ? kMaxStringLength : kMaxEscapeLength)) return false;
  switch (state_) {
    case kEsc:
      if (b == '[') {
        state_ = kCsi;
        sgrCount_ = 0;
        sgrValue_ = 0;
        sgrOther_ = false;
      } else if (b == ']' || b == 'P' || b == 'X' || b == '^' || b == '_') {
        state_ = kString;  // OSC, DCS, SOS, PM, APC
      } else if (b >= 0x20 && b <= 0x2F) {
        state_ = kIntermediate;
      } else if (b >= 0x30 && b <= 0x7E) {
        state_ = kNone;  // a two-byte sequence
      } else {
        return false;
      }
      return true;
    case kCsi:
      if (b >= 0x40 && b <= 0x7E) state_ = kNone;  // the final byte
      else if (b < 0x20 || b > 0x3F) return false;
      CsiByte(b, out);
      return true;
    case kIntermediate:
      if (b >= 0x30 && b <= 0x7E) state_ = kNone;
      else if (b < 0x20 || b > 0x2F) return false;
      return true;
    case kString:
      if (b == kBel || b == kCan || b == kSub) state_ = kNone;  // its end, or cancelled
      else if (b == kEscByte) state_ = kStringEsc;
      else if (b == '\r' || b == '\n') return false;
      return true;
    default:  // kStringEsc
      if (b == '\\') {
        state_ = kNone;  // ST
        return true;
      }
      // The string ends unfinished; its ESC begins the next sequence.
      state_ = kEsc;
      length_ = 0;
      return Continue(b, out);
  }
}

void TEscapeFilter::CsiByte(unsigned char b, ITextSink& out) {
  if (b >= '0' && b <= '9') {
    if (sgrValue_ < 10000) sgrValue_ = sgrValue_ * 10 + (b - '0');
  } else if (b == ';' || b == ':') {
    if (sgrCount_ < kMaxSgr) sgr_[sgrCount_++] = sgrValue_;
    sgrValue_ = 0;
  } else if (b < 0x40) {
    sgrOther_ = true;  // a private parameter or an intermediate byte
  } else if (b == 'm' && !sgrOther_) {
    if (sgrCount_ < kMaxSgr) sgr_[sgrCount_++] = sgrValue_;
    ApplySgr(out);
  }
}

void TEscapeFilter::ApplySgr(ITextSink& out) {
  TTextAttr a = out.Attr();
  for (int k = 0; k < sgrCount_; ++k) {
    const int v = sgr_[k];
    if (v == 0) a = TTextAttr();
    else if (v == 1) a.bold = true;
    else if (v == 22) a.bold = false;
    else if (v == 7) a.reverse = true;
    else if (v == 27) a.reverse = false;
    else if (v >= 30 && v <= 37) a.fg = static_cast<uint8_t>(v - 30);
    else if (v == 39) a.fg = TTextAttr::kDefault;
    else if (v >= 40 && v <= 47) a.bg = static_cast<uint8_t>(v - 40);
    else if (v == 49) a.bg = TTextAttr::kDefault;
    else if (v >= 90 && v <= 97) a.fg = static_cast<uint8_t>(v - 90 + 8);
    else if (v >= 100 && v <= 107) a.bg = static_cast<uint8_t>(v - 100 + 8);
    else if (v == 38 || v == 48) {
      // 256 colours (5;n): the first sixteen are ours; true colour (2;r;g;b) is skipped.
      const int kind = k + 1 < sgrCount_ ? sgr_[k + 1] : 0;
      if (kind == 5 && k + 2 < sgrCount_) {
        const int n = sgr_[k + 2];
        if (n < 16) (v == 38 ? a.fg : a.bg) = static_cast<uint8_t>(n);
        k += 2;
      } else if (kind == 2) {
        k += 4;
      }
    }
  }
  if (!(a == out.Attr())) out.SetAttr(a);
}

size_t TEscapeFilter::Put(const char* p, size_t n, ITextSink& out) {
  if (!remove_) return out.Text(p, n);
  size_t i = 0;
  while (i < n) {
    // A colour setting's digits and separators, the bulk of the sequences
    // hosts send, taken in a row: each is what Continue makes of it.
    while (state_ == kCsi && i < n && length_ < kMaxEscapeLength) {
      const auto b = static_cast<unsigned char>(p[i]);
      if (b < '0' || b > ';') break;
      ++length_;
      CsiByte(b, out);
      ++i;
    }
    if (i == n) return n;
    if (state_ != kNone) {
      if (Continue(static_cast<unsigned char>(p[i]), out)) {
        ++i;
        continue;
      }
      state_ = kNone;  // the byte counts as what it is
    }
    const void* esc = std::memchr(p + i, kEscByte, n - i);
    const size_t j = esc != nullptr ? static_cast<size_t>(static_cast<const char*>(esc) - p) : n;
    if (j > i) {
      const size_t took = out.Text(p + i, j - i);
      if (took < j - i) return i + took;
    }
    if (j == n) return n;
    state_ = kEsc;
    length_ = 0;
    i = j + 1;
  }
  return n;
}

}  // namespace brelo
