#include "session/LineRing.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "common/Sjis.h"

namespace brelo {
namespace {

// Escape sequence state.
enum : int {
  kNoEscape = 0,
  kEsc,           // after ESC
  kCsi,           // after ESC [: parameters and intermediates up to the final byte
  kIntermediate,  // after ESC and an intermediate byte (ESC ( B, ...)
};
// A sequence longer than this is no sequence: what follows is text again.
constexpr int kMaxEscapeLength = 64;

// Telnet command state.
enum : int {
  kData = 0,
  kIac,       // after IAC
  kOption,    // after IAC WILL/WONT/DO/DONT: one option byte follows
  kSub,       // inside IAC SB ... IAC SE
  kSubIac,    // inside a subnegotiation, after IAC
};
using telnet::IAC, telnet::SB, telnet::SE, telnet::WILL, telnet::DONT;
// A subnegotiation longer than this is no option this client knows: the rest
// of it is skipped, not kept.
constexpr size_t kMaxSubnegotiation = 256;

// Bytes that end a run of plain bytes: controls and IAC.
struct TSpecial {
  bool b[256];
  constexpr TSpecial() : b() {
    for (int i = 0; i < 0x20; ++i) b[i] = true;
    b[IAC] = true;
  }
};
constexpr TSpecial kSpecial;

// The end of the run of plain bytes that starts at p[i]: the first control
// byte or IAC at or after i, or n. Sixteen bytes at a time where possible.
size_t RunEnd(const char* p, size_t i, size_t n) {
#if defined(__SSE2__)
  const __m128i limit = _mm_set1_epi8(0x1F);
  const __m128i iac = _mm_set1_epi8(static_cast<char>(0xFF));
  while (i + 16 <= n) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
    // x <= 0x1F (unsigned) exactly when max(x, 0x1F) == 0x1F.
    const __m128i ctl = _mm_cmpeq_epi8(_mm_max_epu8(x, limit), limit);
    const int mask = _mm_movemask_epi8(_mm_or_si128(ctl, _mm_cmpeq_epi8(x, iac)));
    if (mask != 0) return i + static_cast<size_t>(__builtin_ctz(static_cast<unsigned>(mask)));
    i += 16;
  }
#endif
  while (i < n && !kSpecial.b[static_cast<unsigned char>(p[i])]) ++i;
  return i;
}

// Moves an escape sequence on by one byte; false when the byte is no part of it.
bool ContinueEscape(int& state, unsigned char b) {
  switch (state) {
    case kEsc:
      if (b == '[') state = kCsi;
      else if (b >= 0x20 && b <= 0x2F) state = kIntermediate;
      else if (b >= 0x30 && b <= 0x7E) state = kNoEscape;  // a two-byte sequence
      else return false;
      return true;
    case kCsi:
      if (b >= 0x40 && b <= 0x7E) state = kNoEscape;  // the final byte
      else if (b < 0x20 || b > 0x3F) return false;
      return true;
    default:  // kIntermediate
      if (b >= 0x30 && b <= 0x7E) state = kNoEscape;
      else if (b < 0x20 || b > 0x2F) return false;
      return true;
  }
}

}  // namespace

TLineRing::TLineRing() = default;

std::string TLineRing::Line(int slot) const {
  std::lock_guard<std::mutex> lk(writerMutex_);
  return slots_[static_cast<size_t>(slot) % kSize];
}

void TLineRing::LineWithRuns(int slot, std::string& text, std::vector<TAttrRun>& runs) const {
  std::lock_guard<std::mutex> lk(writerMutex_);
  text = slots_[static_cast<size_t>(slot) % kSize];
  runs = runs_[static_cast<size_t>(slot) % kSize];
}

bool TLineRing::ReadersOwn(int slot) const {
  // Between ReadPos and LineIndex: complete, and not written again before
  // the reader has moved past it.
  const int rp = readPos_.load(std::memory_order_relaxed);
  const int li = lineIndex_.load(std::memory_order_acquire);
  return (slot - rp + kSize) % kSize < (li - rp + kSize) % kSize;
}

bool TLineRing::LineHas(int slot, const std::function<bool(const std::string&)>& f) const {
  slot %= kSize;
  if (ReadersOwn(slot)) return f(slots_[static_cast<size_t>(slot)]);
  std::lock_guard<std::mutex> lk(writerMutex_);
  return f(slots_[static_cast<size_t>(slot)]);
}

void TLineRing::Signal() {
  changes_.fetch_add(1);
  if (readerWaiting_.load()) {
    { std::lock_guard<std::mutex> lk(waitMutex_); }
    waitCv_.notify_all();
  }
}

void TLineRing::Wake() {
  changes_.fetch_add(1);
  { std::lock_guard<std::mutex> lk(waitMutex_); }
  waitCv_.notify_all();
}

void TLineRing::BeginBatch() {
  std::lock_guard<std::mutex> lk(writerMutex_);
  ++batch_;
}

void TLineRing::EndBatch() {
  bool signal;
  {
    std::lock_guard<std::mutex> lk(writerMutex_);
    signal = --batch_ == 0 && batchSignal_;
    if (batch_ == 0) batchSignal_ = false;
  }
  if (signal) Signal();
}

void TLineRing::WaitForChange(int ms) {
  RecheckRoom();
  std::unique_lock<std::mutex> lk(waitMutex_);
  // Compared with the count when the last wait ended, not when this one
  // begins: the reader looked at the ring after that, and a change made
  // between its look and this call would otherwise sleep the whole wait
  // with the ring full and reading paused.
  readerWaiting_ = true;
  waitCv_.wait_for(lk, std::chrono::milliseconds(ms), [&] { return changes_.load() != seen_; });
  readerWaiting_ = false;
  seen_ = changes_.load();
}

void TLineRing::PublishPartial() {
  const auto li = static_cast<size_t>(lineIndex_.load(std::memory_order_relaxed));
  slots_[li] = partial_;
  runs_[li] = partialRuns_;
}

bool TLineRing::EndLine() {
  const int li = lineIndex_.load(std::memory_order_relaxed);
  const int next = (li + 1) % kSize;
  if (next == readPos_.load(std::memory_order_acquire)) return false;  // 999 unread: no room
  // Both under the writer's lock, held by the caller.
  slots_[static_cast<size_t>(li)].swap(partial_);
  slots_[static_cast<size_t>(next)].clear();
  partial_.clear();
  runs_[static_cast<size_t>(li)].swap(partialRuns_);
  runs_[static_cast<size_t>(next)].clear();
  partialRuns_.clear();
  if (!(attr_ == TTextAttr())) partialRuns_.push_back({0, attr_});  // the painting goes on
  lineIndex_.store(next, std::memory_order_release);
  return true;
}

void TLineRing::TelnetByte(unsigned char b) {
  switch (esc_) {
    case kIac:
      if (b == SB) {
        esc_ = kSub;
        sub_.clear();
      } else if (b >= WILL && b <= DONT) {
        esc_ = kOption;
        verb_ = b;
      } else {
        esc_ = kData;  // IAC IAC is a data byte 0xFF, which a line drops;
                       // a two-byte command (GA, NOP, ...) ends here
      }
      break;
    case kOption:
      esc_ = kData;
      if (answerTelnet_) telnet_.Command(verb_, b, replies_);
      break;
    case kSub:
      if (b == IAC) esc_ = kSubIac;
      else if (sub_.size() < kMaxSubnegotiation) sub_ += static_cast<char>(b);
      break;
    case kSubIac:
      if (b == SE) {
        esc_ = kData;
        if (answerTelnet_ && sub_.size() < kMaxSubnegotiation) telnet_.Subnegotiation(sub_, replies_);
      } else {
        esc_ = kSub;
        if (b == IAC && sub_.size() < kMaxSubnegotiation) sub_ += static_cast<char>(b);
      }
      break;
  }
}

void TLineRing::CsiByte(unsigned char b) {
  if (b >= '0' && b <= '9') {
    if (sgrValue_ < 10000) sgrValue_ = sgrValue_ * 10 + (b - '0');
  } else if (b == ';' || b == ':') {
    if (sgrCount_ < kMaxSgr) sgr_[sgrCount_++] = sgrValue_;
    sgrValue_ = 0;
  } else if (b < 0x40) {
    sgrOther_ = true;  // a private parameter or an intermediate byte
  } else if (b == 'm' && !sgrOther_) {
    if (sgrCount_ < kMaxSgr) sgr_[sgrCount_++] = sgrValue_;
    ApplySgr();
  }
}

void TLineRing::ApplySgr() {
  TTextAttr a = attr_;
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
  if (a == attr_) return;
  attr_ = a;
  MarkRun();
}

void TLineRing::MarkRun() {
  const auto at = static_cast<uint32_t>(partial_.size());
  if (!partialRuns_.empty() && partialRuns_.back().start == at) partialRuns_.pop_back();
  const TTextAttr before = partialRuns_.empty() ? TTextAttr() : partialRuns_.back().attr;
  if (!(before == attr_)) partialRuns_.push_back({at, attr_});
}

size_t TLineRing::Process(const char* p, size_t n) {
  size_t i = 0;
  while (i < n) {
    const unsigned char b = static_cast<unsigned char>(p[i]);
    if (esc_ != kData && !decoding_) {
      TelnetByte(b);
      ++i;
      continue;
    }
    if (ansi_ != kNoEscape) {
      // A byte that cannot continue the sequence ends it and counts as what it is.
      const int before = ansi_;
      const bool consumed = ++ansiLength_ <= kMaxEscapeLength && ContinueEscape(ansi_, b);
      if (consumed) {
        if (tapping_) tapped_ += static_cast<char>(b);
        if (before == kCsi) {
          CsiByte(b);
        } else if (ansi_ == kCsi) {  // ESC [: a new parameter list
          sgrCount_ = 0;
          sgrValue_ = 0;
          sgrOther_ = false;
        }
        ++i;
        continue;
      }
      ansi_ = kNoEscape;
    }
    if (!kSpecial.b[b]) {
      // A run of plain bytes goes in at once.
      size_t j = RunEnd(p, i + 1, n);
      size_t room = kMaxLineBytes - partial_.size();
      if (j - i > room) j = i + room;
      partial_.append(p + i, j - i);
      if (tapping_) tapped_.append(p + i, j - i);
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
      case 0x1B:
        if (removeEscapes_) {
          ansi_ = kEsc;
          ansiLength_ = 0;
        }
        break;
      default:
        break;  // other control bytes, LF among them, are dropped
    }
    if (tapping_ && b != IAC) tapped_ += static_cast<char>(b);
    ++i;
  }
  return n;
}

void TLineRing::FlushTap() {
  if (tapped_.empty()) return;
  screenTap_(tapped_.data(), tapped_.size());
  tapped_.clear();
}

void TLineRing::SetScreenTap(TSink tap) {
  std::lock_guard<std::mutex> lk(writerMutex_);
  screenTap_ = std::move(tap);
  tapping_ = static_cast<bool>(screenTap_);
  tapped_.clear();
}

bool TLineRing::Feed(const char* data, size_t len) {
  bool room;
  {
    std::lock_guard<std::mutex> lk(writerMutex_);
    room = FeedLocked(data, len);
  }
  if (!room) RecheckRoom();  // the reader may have made room while this paused
  return room;
}

bool TLineRing::FeedLocked(const char* data, size_t len) {
  if (sink_) {
    ToSink(data, len);
    return true;
  }
  if (onZmodemStart_) {
    const size_t end = zmodemWatch_.Find(data, len);
    if (end != TZmodemStartWatch::kNone) {
      // What came before the header is text (a start of it in an earlier
      // read, too); the rest goes to the transfer when one starts.
      const size_t header = std::min(end, zmodemWatch_.HeaderBytes());
      FeedText(data, end - header);
      sink_ = onZmodemStart_();
      if (sink_) {
        ToSink(data + end, len - end);
        return true;
      }
      return FeedText(data + end - header, len - end + header);
    }
  }
  return FeedText(data, len);
}

void TLineRing::ToSink(const char* data, size_t len) {
  if (!telnetLine_.load()) {
    sink_(data, len);
    return;
  }
  // Telnet commands are still answered; IAC IAC is the data byte 0xFF; CR
  // NUL is CR unless the host sends in binary.
  const bool binary = telnet_.HostDoes(telnet::BINARY);
  sinkBuffer_.clear();
  size_t i = 0;
  while (i < len) {
    const auto b = static_cast<unsigned char>(data[i++]);
    if (esc_ != kData) {
      if (esc_ == kIac && b == IAC) sinkBuffer_ += static_cast<char>(IAC);
      TelnetByte(b);
      continue;
    }
    if (b == IAC) {
      esc_ = kIac;
      continue;
    }
    if (b == 0 && sinkCr_ && !binary) {
      sinkCr_ = false;
      continue;
    }
    sinkCr_ = b == '\r';
    sinkBuffer_ += static_cast<char>(b);
  }
  if (!sinkBuffer_.empty()) sink_(sinkBuffer_.data(), sinkBuffer_.size());
  if (!replies_.empty()) hasReplies_ = true;
  binaryOut_ = telnet_.WeDo(telnet::BINARY);
}

void TLineRing::SetTransferSink(TSink sink) {
  std::lock_guard<std::mutex> lk(writerMutex_);
  sink_ = std::move(sink);
  sinkCr_ = false;
}

void TLineRing::EndTransfer(const std::function<std::string()>& replayOf) {
  {
    std::lock_guard<std::mutex> lk(writerMutex_);
    EndTransferLocked(replayOf);
  }
  RecheckRoom();
}

void TLineRing::EndTransferLocked(const std::function<std::string()>& replayOf) {
  sink_ = nullptr;
  zmodemWatch_.Reset();
  const std::string replay = replayOf ? replayOf() : std::string();
  // Bytes that went to a transfer that never began are text after all (the
  // data byte 0xFF, which a line drops anyway, cannot be taken for IAC).
  std::string text;
  text.reserve(replay.size());
  for (char c : replay) {
    if (static_cast<unsigned char>(c) != IAC) text += c;
  }
  if (!text.empty()) FeedText(text.data(), text.size());
}

void TLineRing::WatchForZmodem(std::function<TSink()> onStart) {
  std::lock_guard<std::mutex> lk(writerMutex_);
  onZmodemStart_ = std::move(onStart);
  zmodemWatch_.Reset();
}

void TLineRing::AskTelnet(unsigned char option) {
  std::lock_guard<std::mutex> lk(writerMutex_);
  if (!answerTelnet_) return;
  telnet_.Ask(option, replies_);
  if (!replies_.empty()) hasReplies_ = true;
}

void TLineRing::SetWindowSize(int columns, int rows) {
  std::lock_guard<std::mutex> lk(writerMutex_);
  telnet_.WindowSize(columns, rows, replies_);
  if (!replies_.empty()) hasReplies_ = true;
}

void TLineRing::GiveBackTelnet(unsigned char option) {
  std::lock_guard<std::mutex> lk(writerMutex_);
  if (!answerTelnet_) return;
  telnet_.GiveBack(option, replies_);
  if (!replies_.empty()) hasReplies_ = true;
  binaryOut_ = telnet_.WeDo(telnet::BINARY);
}

bool TLineRing::FeedText(const char* data, size_t len) {
  if (decoding_) {
    // Telnet commands out first: the conversion sees the host's text alone,
    // and a character split by a command or a chunk's end is joined.
    // The buffer only grows: no clearing of memory that is written over anyway.
    const size_t room = decoder_.MaxDecoded(len);
    if (decoded_.size() < room) decoded_.resize(room);
    size_t out = 0;
    size_t i = 0;
    while (i < len) {
      if (esc_ != kData) {
        TelnetByte(static_cast<unsigned char>(data[i++]));
        continue;
      }
      const void* iac = std::memchr(data + i, IAC, len - i);
      const size_t j = iac != nullptr ? static_cast<size_t>(static_cast<const char*>(iac) - data) : len;
      out += decoder_.Decode(data + i, j - i, decoded_.data() + out);
      i = j;
      if (i < len) {
        esc_ = kIac;
        ++i;
      }
    }
    replaced_.store(decoder_.Replaced(), std::memory_order_relaxed);
    data = decoded_.data();
    len = out;
  }
  if (!backlog_.empty()) {
    backlog_.append(data, len);
  } else {
    size_t used = Process(data, len);
    if (used < len) backlog_.assign(data + used, len - used);
  }
  PublishPartial();
  FlushTap();
  if (!replies_.empty()) hasReplies_ = true;
  binaryOut_ = telnet_.WeDo(telnet::BINARY);
  backlogBytes_ = backlog_.size();
  // A resume already asked for stays due; otherwise the pause is published
  // before the caller looks at the reader's position (RecheckRoom).
  if (!backlog_.empty() && gate_.State() == TResumeGate::kFlowing) gate_.Pause();
  if (batch_ > 0) batchSignal_ = true;
  else Signal();
  return backlog_.empty();
}

bool TLineRing::FeedBacklog() {
  bool drained;
  {
    std::lock_guard<std::mutex> lk(writerMutex_);
    if (!backlog_.empty()) {
      size_t used = Process(backlog_.data(), backlog_.size());
      backlog_.erase(0, used);
      backlogBytes_ = backlog_.size();
      PublishPartial();
      FlushTap();
      if (!replies_.empty()) hasReplies_ = true;
      Signal();
    }
    drained = backlog_.empty();
    // Full again: paused anew, so that the reader's progress asks once more.
    if (drained) gate_.Flow();
    else gate_.Pause();
  }
  if (!drained) RecheckRoom();
  return drained;
}

bool TLineRing::HasRoom() const {
  const int li = lineIndex_.load(std::memory_order_seq_cst);
  const int rp = readPos_.load(std::memory_order_seq_cst);
  return (li - rp + kSize) % kSize <= kLowWater;
}

void TLineRing::RecheckRoom() {
  if (gate_.State() == TResumeGate::kPaused && gate_.Claim(HasRoom()) && OnRoom) OnRoom();
}

void TLineRing::SetEscapeRemoval(bool on) {
  std::lock_guard<std::mutex> lk(writerMutex_);
  removeEscapes_ = on;
}

void TLineRing::SetEncoding(EHostEncoding e) {
  std::lock_guard<std::mutex> lk(writerMutex_);
  decoder_.SetEncoding(e);
  decoding_ = e != EHostEncoding::kShiftJis;
  replaced_ = 0;
}

void TLineRing::SetTelnetAnswers(bool on, const std::string& terminalType) {
  std::lock_guard<std::mutex> lk(writerMutex_);
  answerTelnet_ = on;
  telnet_.TerminalType = terminalType;
}

std::string TLineRing::TakeTelnetReplies() {
  std::lock_guard<std::mutex> lk(writerMutex_);
  std::string out;
  out.swap(replies_);
  hasReplies_ = false;
  return out;
}

void TLineRing::ResetIndexes() {
  std::lock_guard<std::mutex> lk(writerMutex_);
  telnet_.Reset();
  ansi_ = kNoEscape;
  attr_ = TTextAttr();
  partialRuns_.clear();
  decoder_.Reset();
  replaced_ = 0;
  replies_.clear();
  hasReplies_ = false;
  binaryOut_ = false;
  sink_ = nullptr;
  sinkCr_ = false;
  zmodemWatch_.Reset();
  sub_.clear();
  lineIndex_.store(0, std::memory_order_release);
  readPos_.store(0, std::memory_order_release);
  partial_.clear();
  backlog_.clear();
  backlogBytes_ = 0;
  esc_ = kData;
  gate_.Flow();
  PublishPartial();
}

std::string TLineRing::Take() {
  std::string s;
  TakeInto(s);
  return s;
}

void TLineRing::TakeInto(std::string& out) {
  // A waiting line is the reader's: the writer is past it until ReadPos moves.
  out.assign(slots_[static_cast<size_t>(readPos_.load(std::memory_order_relaxed))]);
  Skip();
}

void TLineRing::Skip() {
  const int rp = readPos_.load(std::memory_order_relaxed);
  // Published before the pause is looked at: see ResumeGate.h.
  readPos_.store((rp + 1) % kSize, std::memory_order_seq_cst);
  taken_.store(taken_.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);  // the reader alone counts
  RecheckRoom();
}

}  // namespace brelo
