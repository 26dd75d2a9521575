#include "session/TransferDrain.h"

#include <cstdint>

namespace brelo {
namespace {

constexpr unsigned char kCan = 0x18, kBs = 0x08;

enum : int {
  kData = 0,
  kFinType,    // "**" ZDLE "B": the frame type's digits follow
  kFinHeader,  // a ZFIN header, up to its line feed
  kFinOver,    // after ZFIN: "OO", then text
  kCancelled,  // after five CAN: more CAN and backspaces
  kCheck,      // the check of an empty subpacket's end
};

uint16_t Crc16Of(unsigned char c) {
  uint16_t crc = static_cast<uint16_t>(c << 8);
  for (int k = 0; k < 8; ++k) crc = static_cast<uint16_t>(crc & 0x8000 ? (crc << 1) ^ 0x1021 : crc << 1);
  return crc;
}

uint32_t Crc32Of(unsigned char c) {
  uint32_t crc = 0xFFFFFFFFu ^ c;
  for (int k = 0; k < 8; ++k) crc = crc & 1 ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
  return ~crc;
}

// The k-th check byte of an empty subpacket that ends with frameEnd.
unsigned char Check16(unsigned char frameEnd, int k) {
  const uint16_t c = Crc16Of(frameEnd);
  return static_cast<unsigned char>(k == 0 ? c >> 8 : c & 0xFF);
}
unsigned char Check32(unsigned char frameEnd, int k) {
  return static_cast<unsigned char>(Crc32Of(frameEnd) >> (8 * k));
}

// A byte after ZDLE, as the byte it stands for.
unsigned char Unescape(unsigned char b) {
  if (b == 'l') return 0x7F;
  if (b == 'm') return 0xFF;
  return b ^ 0x40;
}

}  // namespace

void TTransferDrain::Start() {
  active_ = true;
  state_ = kData;
  cans_ = stars_ = headerBytes_ = os_ = check_ = 0;
  escaped_ = false;
  held_.clear();
  text_.clear();
  dropped_ = 0;
}

void TTransferDrain::End() {
  active_ = false;
  text_ += held_;
  held_.clear();
}

void TTransferDrain::Stop() {
  if (active_) End();
}

std::string TTransferDrain::TakeText() {
  std::string t;
  t.swap(text_);
  return t;
}

bool TTransferDrain::CheckByte(unsigned char b) {
  if (!escaped_ && b == kCan) {
    escaped_ = true;
    return true;
  }
  const unsigned char v = escaped_ ? Unescape(b) : b;
  escaped_ = false;
  crc16_ = crc16_ && check_ < 2 && v == Check16(frameEnd_, check_);
  crc32_ = crc32_ && v == Check32(frameEnd_, check_);
  ++check_;
  if (!crc16_ && !crc32_) return false;
  if ((crc32_ && check_ == 4) || (crc16_ && check_ == 2 && !crc32_)) {
    held_.clear();
    active_ = false;  // the sender's last bytes: what follows is text
  }
  return true;
}

bool TTransferDrain::Byte(unsigned char b) {
  switch (state_) {
    case kCancelled:
      if (b == kCan) {
        cans_ = 1;
        return true;
      }
      if (b == kBs) {
        cans_ = 0;
        return true;
      }
      if (cans_ > 0 && b >= 'h' && b <= 'k') {
        // ZDLE and a frame end: an empty subpacket's end, if its check fits.
        state_ = kCheck;
        frameEnd_ = b;
        check_ = 0;
        escaped_ = false;
        crc16_ = crc32_ = true;
        held_.assign(1, static_cast<char>(b));
        return true;
      }
      return false;
    case kCheck:
      held_ += static_cast<char>(b);
      if (CheckByte(b)) return true;
      held_.pop_back();  // this byte is the text's, not held
      return false;
    case kFinType:
      // "**" ZDLE "B" seen: "08" is ZFIN.
      if ((headerBytes_ == 0 && b == '0') || (headerBytes_ == 1 && b == '8')) {
        if (++headerBytes_ == 2) state_ = kFinHeader;
        return true;
      }
      state_ = kData;
      break;
    case kFinHeader:
      if (b == '\n' || b == 0x8A || ++headerBytes_ > 24) state_ = kFinOver;
      return true;
    case kFinOver:
      if (b == 'O' && os_ < 2) {
        ++os_;
        return true;
      }
      if (os_ == 0 && (b == '\r' || b == 0x11 || b == 0)) return true;  // the header's tail
      return false;
    default:
      break;
  }
  // The data of the stream.
  if (b == kCan) {
    if (++cans_ >= 5) {
      state_ = kCancelled;
      cans_ = 1;
    } else if (stars_ >= 2) {
      stars_ = -1;  // "**" ZDLE: a hex header's kind follows
    }
    return true;
  }
  if (stars_ == -1 && b == 'B') {
    stars_ = 0;
    cans_ = 0;
    headerBytes_ = 0;
    os_ = 0;
    state_ = kFinType;
    return true;
  }
  cans_ = 0;
  stars_ = b == '*' ? (stars_ < 0 ? 1 : stars_ + 1) : 0;
  return true;
}

size_t TTransferDrain::Put(const char* p, size_t n) {
  if (!active_) return 0;
  for (size_t i = 0; i < n; ++i) {
    if (dropped_ >= kMaxBytes || !Byte(static_cast<unsigned char>(p[i]))) {
      End();
      return i;
    }
    ++dropped_;
    if (!active_) return i + 1;  // the stream's last byte
  }
  return n;
}

}  // namespace brelo
