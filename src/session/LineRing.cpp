#include "session/LineRing.h"

#include <chrono>

#include "common/Sjis.h"

namespace brelo {
namespace {

// Telnet command state.
enum : int {
  kData = 0,
  kIac,       // after IAC
  kOption,    // after IAC WILL/WONT/DO/DONT: one option byte follows
  kSub,       // inside IAC SB ... IAC SE
  kSubIac,    // inside a subnegotiation, after IAC
};
constexpr unsigned char IAC = 0xFF, SB = 0xFA, SE = 0xF0, WILL = 0xFB, DONT = 0xFE;

}  // namespace

TLineRing::TLineRing() = default;

std::string TLineRing::Line(int slot) const {
  const TSlot& s = slots_[static_cast<size_t>(slot) % kSize];
  std::lock_guard<std::mutex> lk(s.m);
  return s.s;
}

void TLineRing::Signal() {
  changes_.fetch_add(1);
  if (readerWaiting_.load()) {
    { std::lock_guard<std::mutex> lk(waitMutex_); }
    waitCv_.notify_all();
  }
}

void TLineRing::Wake() { Signal(); }

void TLineRing::WaitForChange(int ms) {
  std::unique_lock<std::mutex> lk(waitMutex_);
  const unsigned start = changes_.load();
  readerWaiting_ = true;
  waitCv_.wait_for(lk, std::chrono::milliseconds(ms), [&] { return changes_.load() != start; });
  readerWaiting_ = false;
}

void TLineRing::PublishPartial() {
  TSlot& s = slots_[static_cast<size_t>(lineIndex_.load(std::memory_order_relaxed))];
  std::lock_guard<std::mutex> lk(s.m);
  s.s = partial_;
}

bool TLineRing::EndLine() {
  const int li = lineIndex_.load(std::memory_order_relaxed);
  const int next = (li + 1) % kSize;
  if (next == readPos_.load(std::memory_order_acquire)) return false;  // 999 unread: no room
  {
    TSlot& s = slots_[static_cast<size_t>(li)];
    std::lock_guard<std::mutex> lk(s.m);
    s.s.swap(partial_);
  }
  {
    TSlot& s = slots_[static_cast<size_t>(next)];
    std::lock_guard<std::mutex> lk(s.m);
    s.s.clear();
  }
  partial_.clear();
  lineIndex_.store(next, std::memory_order_release);
  return true;
}

size_t TLineRing::Process(const char* p, size_t n) {
  size_t i = 0;
  while (i < n) {
    const unsigned char b = static_cast<unsigned char>(p[i]);
    if (esc_ != kData) {
      switch (esc_) {
        case kIac:
          if (b == SB) esc_ = kSub;
          else if (b >= WILL && b <= DONT) esc_ = kOption;
          else esc_ = kData;  // IAC IAC is a data byte 0xFF, which a line drops;
                              // a two-byte command (GA, NOP, ...) ends here
          break;
        case kOption: esc_ = kData; break;
        case kSub: if (b == IAC) esc_ = kSubIac; break;
        case kSubIac: esc_ = b == SE ? kData : kSub; break;
      }
      ++i;
      continue;
    }
    if (b >= 0x20 && b != IAC) {
      // A run of plain bytes goes in at once.
      size_t j = i + 1;
      while (j < n) {
        const unsigned char c = static_cast<unsigned char>(p[j]);
        if (c < 0x20 || c == IAC) break;
        ++j;
      }
      size_t room = kMaxLineBytes - partial_.size();
      if (j - i > room) j = i + room;
      partial_.append(p + i, j - i);
      i = j;
      if (partial_.size() >= kMaxLineBytes && !EndLine()) return i;
      continue;
    }
    switch (b) {
      case IAC:
        esc_ = kIac;
        break;
      case 0x09: {  // TAB: length mod 8 spaces, 8 when that is 0
        size_t k = partial_.size() % 8;
        if (k == 0) k = 8;
        partial_.append(k, ' ');
        break;
      }
      case 0x08:  // BS: a whole double-byte character when one ends the line
        if (!partial_.empty()) {
          size_t len = partial_.size();
          if (len >= 2 && IsDBCSLeadByte(static_cast<unsigned char>(partial_[len - 2]))) partial_.resize(len - 2);
          else partial_.resize(len - 1);
        }
        break;
      case 0x0D:
        if (!EndLine()) return i;  // this CR and the rest wait in the backlog
        break;
      default:
        break;  // other control bytes, LF among them, are dropped
    }
    ++i;
  }
  return n;
}

bool TLineRing::Feed(const char* data, size_t len) {
  std::lock_guard<std::mutex> lk(writerMutex_);
  if (!backlog_.empty()) {
    backlog_.append(data, len);
  } else {
    size_t used = Process(data, len);
    if (used < len) backlog_.assign(data + used, len - used);
  }
  PublishPartial();
  if (!backlog_.empty() && !paused_.load()) {
    roomSignalled_ = false;
    paused_ = true;
  }
  Signal();
  return backlog_.empty();
}

bool TLineRing::FeedBacklog() {
  std::lock_guard<std::mutex> lk(writerMutex_);
  if (!backlog_.empty()) {
    size_t used = Process(backlog_.data(), backlog_.size());
    backlog_.erase(0, used);
    PublishPartial();
    Signal();
  }
  if (backlog_.empty()) {
    paused_ = false;
  } else {
    roomSignalled_ = false;  // still full: the reader signals again
  }
  return backlog_.empty();
}

void TLineRing::ResetIndexes() {
  std::lock_guard<std::mutex> lk(writerMutex_);
  lineIndex_.store(0, std::memory_order_release);
  readPos_.store(0, std::memory_order_release);
  partial_.clear();
  backlog_.clear();
  esc_ = kData;
  paused_ = false;
  PublishPartial();
}

std::string TLineRing::Take() {
  const int rp = readPos_.load(std::memory_order_relaxed);
  std::string s = Line(rp);
  readPos_.store((rp + 1) % kSize, std::memory_order_release);
  if (paused_.load()) {
    int unread = (LineIndex() - ((rp + 1) % kSize) + kSize) % kSize;
    if (unread <= kLowWater && !roomSignalled_.exchange(true) && OnRoom) OnRoom();
  }
  return s;
}

}  // namespace brelo
