#include "session/TransferStart.h"

#include <cstdint>
#include <algorithm>
#include <cstring>

namespace brelo {
namespace {

constexpr unsigned char kZdle = 0x18;

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// CRC-16 as the XMODEM family computes it (polynomial 0x1021, start 0).
uint16_t Crc16(const unsigned char* p, size_t n) {
  uint16_t crc = 0;
  for (size_t i = 0; i < n; ++i) {
    crc ^= static_cast<uint16_t>(p[i] << 8);
    for (int k = 0; k < 8; ++k) crc = static_cast<uint16_t>(crc & 0x8000 ? (crc << 1) ^ 0x1021 : crc << 1);
  }
  return crc;
}

}  // namespace

bool TZmodemStartWatch::Valid() const {
  // Digits 4..13: type and four flags; 14..17: the check.
  unsigned char bytes[7];
  for (int k = 0; k < 7; ++k) {
    bytes[k] = static_cast<unsigned char>(HexValue(held_[4 + 2 * k]) << 4 | HexValue(held_[5 + 2 * k]));
  }
  if (bytes[0] != 0) return false;  // ZRQINIT only: other frames belong to a transfer already running
  return Crc16(bytes, 5) == static_cast<uint16_t>(bytes[5] << 8 | bytes[6]);
}

bool TZmodemStartWatch::Accept(unsigned char b) {
  const size_t k = matched_;
  if (k == 19 && b == 0 && headerBytes_ == 19) {  // CR NUL on a telnet line
    ++headerBytes_;
    return true;
  }
  bool ok;
  if (k < 2) ok = b == '*';
  else if (k == 2) ok = b == kZdle;
  else if (k == 3) ok = b == 'B';
  else if (k < 18) ok = HexValue(static_cast<char>(b)) >= 0;
  else if (k == 18) ok = b == '\r';
  else ok = b == '\n' || b == 0x8A;
  if (ok) {
    held_[matched_++] = static_cast<char>(b);
    ++headerBytes_;
    return true;
  }
  // A star may begin the next header ("***" holds "**").
  matched_ = b != '*' ? 0 : (k == 2 ? 2 : 1);
  headerBytes_ = matched_;
  if (matched_ > 0) std::memset(held_, '*', matched_);
  return false;
}

size_t TZmodemStartWatch::Find(const char* p, size_t n) {
  size_t i = 0;
  while (i < n) {
    if (matched_ == 0) {
      const void* star = std::memchr(p + i, '*', n - i);
      if (star == nullptr) return kNone;
      i = static_cast<size_t>(static_cast<const char*>(star) - p);
    }
    Accept(static_cast<unsigned char>(p[i++]));
    if (matched_ == kHeaderBytes) {
      const bool start = Valid();
      lastHeaderBytes_ = headerBytes_;
      matched_ = 0;
      headerBytes_ = 0;
      if (start) return i;
    }
  }
  return kNone;
}

void TTransferWatch::Reset() {
  watch_.Reset();
  header_.clear();
  found_ = false;
}

size_t TTransferWatch::Put(const char* p, size_t n, IByteSink& next) {
  if (!on_) return next.Put(p, n);
  const size_t end = watch_.Find(p, n);
  if (end == TZmodemStartWatch::kNone) return next.Put(p, n);
  const size_t start = end - std::min(end, watch_.HeaderBytes());
  next.Put(p, start);
  header_.assign(p + start, end - 1 - start);  // the closing line feed is no text
  found_ = true;
  return end;
}

std::string TTransferWatch::TakeHeader() {
  found_ = false;
  std::string h;
  h.swap(header_);
  return h;
}

TZmodemFollowCheck::EVerdict TZmodemFollowCheck::Byte(unsigned char b) {
  constexpr unsigned char kZrinit = 1, kLastFrameType = 19;
  const auto frameType = [](int type) { return type == kZrinit || type < 0 || type > kLastFrameType ? fvText : fvFrames; };
  const unsigned char low = b & 0x7F;
  switch (state_) {
    case 0:  // between frames
      if (low == 0 || low == '\r' || low == '\n' || low == 0x11 || low == 0x13) return fvUnknown;
      if (low == '*') state_ = 1;
      else if (b == 'r') state_ = 10;
      else return b == kZdle ? fvFrames : fvText;  // a sender's cancel, or text
      return fvUnknown;
    case 1:  // stars
      if (low == '*') return fvUnknown;
      if (b != kZdle) return fvText;
      state_ = 2;
      return fvUnknown;
    case 2:  // the header's kind
      if (b == 'A' || b == 'C') state_ = 3;
      else if (b == 'B') state_ = 5;
      else return fvText;
      return fvUnknown;
    case 3:  // a binary header's type, perhaps escaped
      if (b != kZdle) return frameType(b);
      state_ = 4;
      return fvUnknown;
    case 4:
      return frameType(b ^ 0x40);
    case 5:  // a hex header's type, two digits
      if (HexValue(static_cast<char>(b)) < 0) return fvText;
      hexType_ = static_cast<char>(b);
      state_ = 6;
      return fvUnknown;
    case 6:
      return HexValue(static_cast<char>(b)) < 0 ? fvText : frameType(HexValue(hexType_) << 4 | HexValue(static_cast<char>(b)));
    case 10:  // "rz" CR before a header
      if (b != 'z') return fvText;
      state_ = 11;
      return fvUnknown;
    default:
      if (b != '\r') return fvText;
      state_ = 0;
      return fvUnknown;
  }
}

namespace {

// The bytes a receiver asks with; CR, LF and a telnet line's NUL may stand between.
bool ReceiverAsk(unsigned char b) { return b == 'C' || b == 0x15 || b == 'G'; }
bool AskOrBreak(char c) { return ReceiverAsk(static_cast<unsigned char>(c)) || c == '\r' || c == '\n' || c == 0; }

}  // namespace

TReceiverStartWatch::TReceiverStartWatch(std::string_view line)
    : lineStart_(std::all_of(line.begin(), line.end(), AskOrBreak)) {}

size_t TReceiverStartWatch::Find(const char* p, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    const auto b = static_cast<unsigned char>(p[i]);
    if (b == '\r' || b == '\n') {
      lineStart_ = true;
    } else if (b != 0) {  // NUL after a CR on a telnet line
      if (lineStart_ && ReceiverAsk(b) && std::all_of(p + i, p + n, AskOrBreak)) {
        return i;
      }
      lineStart_ = false;
    }
  }
  return kNone;
}

TZmodemFollowCheck::EVerdict TZmodemFollowCheck::Feed(const char* p, size_t n) {
  for (size_t i = 0; i < n && verdict_ == fvUnknown; ++i) verdict_ = Byte(static_cast<unsigned char>(p[i]));
  return verdict_;
}

}  // namespace brelo
