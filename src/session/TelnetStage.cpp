#include "session/TelnetStage.h"

#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace brelo {
namespace {

using telnet::IAC, telnet::SB, telnet::SE, telnet::WILL, telnet::DONT, telnet::BINARY;

// Command state.
enum : int {
  kData = 0,
  kIac,     // after IAC
  kOption,  // after IAC WILL/WONT/DO/DONT: one option byte follows
  kSub,     // inside IAC SB ... IAC SE
  kSubIac,  // inside a subnegotiation, after IAC
};
// A subnegotiation longer than this is no option this client knows: the rest
// of it is skipped, not kept.
constexpr size_t kMaxSubnegotiation = 256;

// The first IAC or NUL at or after i, or n.
size_t IacOrNul(const char* p, size_t i, size_t n) {
#if defined(__SSE2__)
  const __m128i iac = _mm_set1_epi8(static_cast<char>(0xFF));
  const __m128i nul = _mm_setzero_si128();
  while (i + 16 <= n) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
    const int mask = _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(x, iac), _mm_cmpeq_epi8(x, nul)));
    if (mask != 0) return i + static_cast<size_t>(__builtin_ctz(static_cast<unsigned>(mask)));
    i += 16;
  }
#endif
  while (i < n && p[i] != 0 && static_cast<unsigned char>(p[i]) != IAC) ++i;
  return i;
}

size_t NextIac(const char* p, size_t i, size_t n) {
  const void* at = std::memchr(p + i, IAC, n - i);
  return at != nullptr ? static_cast<size_t>(static_cast<const char*>(at) - p) : n;
}

}  // namespace

void TTelnetStage::Reset(ELineKind kind) {
  options_.Reset();
  replies_.clear();
  sub_.clear();
  state_ = kData;
  verb_ = 0;
  kind_ = kind;
  known_.store(kind == ELineKind::kTelnet, std::memory_order_relaxed);
  lastCr_ = false;
  atColumnZero_ = false;
  fresh_ = false;
  transfer_ = false;
}

bool TTelnetStage::CommandByte(unsigned char b) {
  switch (state_) {
    case kIac:
      if (b == SB) {
        state_ = kSub;
        sub_.clear();
      } else if (b >= WILL && b <= DONT) {
        state_ = kOption;
        verb_ = b;
      } else {
        state_ = kData;  // a two-byte command (GA, NOP, ...) ends here
        return b == IAC;  // IAC IAC: the data byte 0xFF
      }
      break;
    case kOption:
      state_ = kData;
      if (answers_) options_.Command(verb_, b, replies_);
      break;
    case kSub:
      if (b == IAC) state_ = kSubIac;
      else if (sub_.size() < kMaxSubnegotiation) sub_ += static_cast<char>(b);
      break;
    default:  // kSubIac
      if (b == SE) {
        state_ = kData;
        if (answers_ && sub_.size() < kMaxSubnegotiation) options_.Subnegotiation(sub_, replies_);
      } else {
        state_ = kSub;
        if (b == IAC && sub_.size() < kMaxSubnegotiation) sub_ += static_cast<char>(b);
      }
      break;
  }
  return false;
}

size_t TTelnetStage::TelnetText(const char* p, size_t i, size_t n, IByteSink& out) {
  if (atColumnZero_) {
    // After CR NUL the line has ended: a CR (telnetd's CR LF) adds nothing.
    while (i < n && (p[i] == '\r' || p[i] == 0)) {
      lastCr_ = p[i] == '\r';
      ++i;
    }
    if (i == n) return n;
    if (static_cast<unsigned char>(p[i]) == IAC) {
      state_ = kIac;
      return i + 1;
    }
    atColumnZero_ = false;
  }
  const size_t j = IacOrNul(p, i, n);
  if (j > i) {
    const size_t took = out.Put(p + i, j - i);
    if (took > 0) lastCr_ = p[i + took - 1] == '\r';
    if (took < j - i) return i + took;
  }
  if (j == n) return n;
  if (p[j] == 0) {
    if (lastCr_) {
      atColumnZero_ = true;  // CR NUL: the NUL is telnet's, not the host's
    } else if (out.Put(p + j, 1) == 0) {
      return j;
    }
    lastCr_ = false;
    return j + 1;
  }
  state_ = kIac;
  return j + 1;
}

size_t TTelnetStage::Text(const char* p, size_t n, IByteSink& out) {
  size_t i = 0;
  while (i < n) {
    if (state_ != kData) {
      CommandByte(static_cast<unsigned char>(p[i++]));  // IAC IAC in text: a byte text drops
      continue;
    }
    if (TelnetKnown()) {
      const size_t at = TelnetText(p, i, n, out);
      if (at == i) return i;  // the next path takes the rest
      i = at;
      continue;
    }
    // Raw, or not known yet: plain runs up to the next IAC.
    const size_t j = NextIac(p, i, n);
    if (j > i) {
      const size_t took = out.Put(p + i, j - i);
      if (took < j - i) return i + took;
    }
    if (j == n) return n;
    i = j + 1;
    if (kind_ == ELineKind::kRaw) continue;  // 0xFF is no character
    BecomeTelnet();
    lastCr_ = false;
    state_ = kIac;
  }
  return n;
}

size_t TTelnetStage::Transfer(const char* p, size_t n, IByteSink& out) {
  size_t i = 0;
  while (i < n) {
    const auto b = static_cast<unsigned char>(p[i]);
    if (state_ != kData) {
      if (CommandByte(b)) {
        const char ff = static_cast<char>(IAC);
        if (out.Put(&ff, 1) == 0) {
          state_ = kIac;  // the IAC IAC waits for the next path
          return i;
        }
        lastCr_ = false;
        fresh_ = false;
      }
      ++i;
      continue;
    }
    const bool mayBeTelnet = tcp_.load(std::memory_order_relaxed) && kind_ != ELineKind::kRaw;
    if (!mayBeTelnet || (!TelnetKnown() && !fresh_)) {
      // The bytes as they are: a host that never spoke telnet.
      return i + out.Put(p + i, n - i);
    }
    if (!TelnetKnown()) {
      // Before the peer's first frame, an IAC is a command: a host that
      // asks for binary mode as its transfer starts. A frame's first byte
      // (SOH, STX, ZDLE) ends that: what follows may hold any byte.
      size_t j = i;
      while (j < n && static_cast<unsigned char>(p[j]) != IAC && p[j] != 0x01 && p[j] != 0x02 && p[j] != 0x18) ++j;
      if (j < n && static_cast<unsigned char>(p[j]) != IAC) {
        fresh_ = false;
        ++j;
      }
      const size_t took = j > i ? out.Put(p + i, j - i) : 0;
      if (took < j - i) return i + took;
      i = j;
      if (i < n && fresh_) {
        BecomeTelnet();
        state_ = kIac;
        ++i;
      }
      continue;
    }
    if (b == IAC) {
      BecomeTelnet();
      state_ = kIac;
      ++i;
      continue;
    }
    const bool binary = options_.HostDoes(BINARY);
    const size_t j = binary ? NextIac(p, i, n) : IacOrNul(p, i, n);
    if (j > i) {
      const size_t took = out.Put(p + i, j - i);
      if (took > 0) {
        lastCr_ = p[i + took - 1] == '\r';
        fresh_ = false;
      }
      if (took < j - i) return i + took;
    }
    if (j == n) return n;
    if (static_cast<unsigned char>(p[j]) == IAC) {
      i = j;
      continue;
    }
    // NUL outside binary: after CR it is telnet's, else data.
    if (!lastCr_ && out.Put(p + j, 1) == 0) return j;
    lastCr_ = false;
    i = j + 1;
  }
  return n;
}

void TTelnetStage::BeginTransfer(bool framesSeen) {
  transfer_ = true;
  fresh_ = !framesSeen;
  lastCr_ = false;
  atColumnZero_ = false;
  options_.SetTransfer(true);
  if (answers_ && TelnetTransfer()) options_.Ask(BINARY, replies_);
}

void TTelnetStage::EndTransfer() {
  if (!transfer_) return;
  transfer_ = false;
  fresh_ = false;
  lastCr_ = false;
  options_.SetTransfer(false);
  if (answers_) options_.GiveBack(BINARY, replies_);
}

}  // namespace brelo
