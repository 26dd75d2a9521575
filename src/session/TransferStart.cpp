#include "session/TransferStart.h"

#include <cstdint>
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

}  // namespace brelo
