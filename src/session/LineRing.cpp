#include "session/LineRing.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

namespace brelo {
namespace {

long long NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// How often the reader looks for a change before it sleeps (WaitForChange).
constexpr int kLooksBeforeSleep = 50;

}  // namespace

TLineRing::TLineRing() = default;

std::string TLineRing::Line(int slot) const {
  std::lock_guard lk(writerMutex_);
  return slots_[static_cast<size_t>(slot) % kSize];
}

void TLineRing::LineWithRuns(int slot, std::string& text, std::vector<TAttrRun>& runs) const {
  std::lock_guard lk(writerMutex_);
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
  std::lock_guard lk(writerMutex_);
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
  std::lock_guard lk(writerMutex_);
  ++batch_;
}

void TLineRing::EndBatch() {
  bool signal;
  {
    std::lock_guard lk(writerMutex_);
    signal = --batch_ == 0 && batchSignal_;
    if (batch_ == 0) batchSignal_ = false;
  }
  if (signal) Signal();
}

void TLineRing::WaitForChange(int ms) {
  RecheckRoom();
  // A writer on another core brings the next chunk within microseconds
  // while the host sends: a short look before sleeping spares it a wake-up
  // call per chunk. Yielding, not spinning, so that a writer on this
  // reader's own core runs meanwhile.
  for (int i = 0; i < kLooksBeforeSleep && changes_.load() == seen_; ++i) std::this_thread::yield();
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
  const auto li = static_cast<size_t>(writeIndex_);
  slots_[li] = lines_.Partial();
  runs_[li] = lines_.PartialRuns();
  // The chunk's complete lines go to the reader together: one store the
  // reader's core has to fetch per chunk, not one per line.
  lineIndex_.store(writeIndex_, std::memory_order_release);
}

bool TLineRing::EndLine(std::string& line, std::vector<TAttrRun>& runs) {
  const int li = writeIndex_;
  const int next = (li + 1) % kSize;
  // The reader's position as last seen can only be behind: it is fetched
  // again only when it says the ring is full.
  if (next == readPosSeen_) {
    readPosSeen_ = readPos_.load(std::memory_order_acquire);
    if (next == readPosSeen_) return false;  // 999 unread: no room
  }
  // Both under the writer's lock, held by the caller.
  slots_[static_cast<size_t>(li)].swap(line);
  slots_[static_cast<size_t>(next)].clear();
  runs_[static_cast<size_t>(li)].swap(runs);
  runs_[static_cast<size_t>(next)].clear();
  writeIndex_ = next;
  return true;
}

size_t TLineRing::TDecodeIn::Put(const char* p, size_t n) {
  if (!r.decoding_) {
    r.Lines(p, n);
    return n;
  }
  // The buffer only grows: no clearing of memory that is written over anyway.
  const size_t room = r.decoder_.MaxDecoded(n);
  if (r.decoded_.size() < room) r.decoded_.resize(room);
  const size_t out = r.decoder_.Decode(p, n, r.decoded_.data());
  r.replaced_.store(r.decoder_.Replaced(), std::memory_order_relaxed);
  r.Lines(r.decoded_.data(), out);
  return n;
}

void TLineRing::Lines(const char* p, size_t n) {
  if (!backlog_.empty()) {
    backlog_.append(p, n);
    return;
  }
  const size_t used = escapes_.Put(p, n, lines_);
  if (tapping_) tapped_.append(p, used);
  if (used < n) backlog_.assign(p + used, n - used);
}

void TLineRing::TextAfterTelnet(const std::string& bytes) {
  // The data byte 0xFF, which text drops, is no telnet command here either.
  std::string text;
  text.reserve(bytes.size());
  for (char c : bytes) {
    if (static_cast<unsigned char>(c) != telnet::IAC) text += c;
  }
  if (!text.empty()) decodeIn_.Put(text.data(), text.size());
}

void TLineRing::FlushTap() {
  if (tapped_.empty()) return;
  screenTap_(tapped_.data(), tapped_.size());
  tapped_.clear();
}

void TLineRing::SetScreenTap(TSink tap) {
  std::lock_guard lk(writerMutex_);
  screenTap_ = std::move(tap);
  tapping_ = static_cast<bool>(screenTap_);
  tapped_.clear();
}

bool TLineRing::Feed(const char* data, size_t len) {
  bool room;
  {
    std::lock_guard lk(writerMutex_);
    room = FeedLocked(data, len);
  }
  if (!room) RecheckRoom();  // the reader may have made room while this paused
  return room;
}

bool TLineRing::FeedLocked(const char* data, size_t len) {
  // The quiet spell that ends a drain is counted from its last byte; no
  // other chunk needs the clock.
  if (len > 0 && draining_.load(std::memory_order_relaxed)) lastByteMs_.store(NowMs());
  // Each way takes the bytes up to where the next way begins.
  const auto way = [this] { return sink_ ? 1 : draining_.load(std::memory_order_relaxed) ? 2 : 0; };
  while (len > 0) {
    const int before = way();
    size_t used;
    if (before == 1) {
      used = telnet_.Transfer(data, len, sinkIn_);
    } else if (before == 2) {
      used = telnet_.Transfer(data, len, drainIn_);
      drained_.store(drain_.Dropped());
      if (!drain_.Active()) EndDrainLocked();
    } else {
      used = telnet_.Text(data, len, textIn_);
      if (watch_.Found()) {
        // A ZMODEM start: the rest is the transfer's, when one begins.
        const std::string header = watch_.TakeHeader();
        sink_ = onZmodemStart_ ? onZmodemStart_(header) : nullptr;
        if (sink_) telnet_.BeginTransfer(true);
        else decodeIn_.Put(header.data(), header.size());
      }
    }
    if (used == 0 && way() == before) break;  // no way takes them (never so)
    data += used;
    len -= used;
  }
  return Settle();
}

bool TLineRing::Settle() {
  PublishPartial();
  FlushTap();
  if (!telnet_.Replies().empty()) hasReplies_ = true;
  binaryOut_ = telnet_.Options().WeDo(telnet::BINARY);
  backlogBytes_ = backlog_.size();
  // A resume already asked for stays due; otherwise the pause is published
  // before the caller looks at the reader's position (RecheckRoom).
  if (!backlog_.empty() && gate_.State() == TResumeGate::kFlowing) gate_.Pause();
  if (batch_ > 0) batchSignal_ = true;
  else Signal();
  return backlog_.empty();
}

void TLineRing::SetTransferSink(TSink sink) {
  std::lock_guard lk(writerMutex_);
  const bool begins = !sink_ && sink;
  sink_ = std::move(sink);
  if (begins) {
    telnet_.BeginTransfer();
    if (!telnet_.Replies().empty()) hasReplies_ = true;
  }
}

void TLineRing::EndTransfer(const std::function<std::string()>& replayOf, const std::function<bool()>& drain) {
  {
    std::lock_guard lk(writerMutex_);
    EndTransferLocked(replayOf, drain);
  }
  RecheckRoom();
}

void TLineRing::EndTransferLocked(const std::function<std::string()>& replayOf, const std::function<bool()>& drain) {
  sink_ = nullptr;
  watch_.Reset();
  telnet_.EndTransfer();
  const std::string replay = replayOf ? replayOf() : std::string();
  if (drain && drain()) {
    drain_.Start();
    draining_ = true;
    lastByteMs_.store(NowMs());
    const size_t used = drain_.Put(replay.data(), replay.size());
    drained_.store(drain_.Dropped());
    if (!drain_.Active()) {
      EndDrainLocked();
      TextAfterTelnet(replay.substr(used));
    }
  } else {
    TextAfterTelnet(replay);
  }
  Settle();
}

void TLineRing::EndDrainLocked() {
  drain_.Stop();
  draining_ = false;
  TextAfterTelnet(drain_.TakeText());
}

void TLineRing::EndDrain() {
  {
    std::lock_guard lk(writerMutex_);
    if (!draining_.load()) return;
    EndDrainLocked();
    Settle();
  }
  RecheckRoom();
}

void TLineRing::WatchForZmodem(TStart onStart) {
  std::lock_guard lk(writerMutex_);
  onZmodemStart_ = std::move(onStart);
  watch_.SetOn(static_cast<bool>(onZmodemStart_));
}

void TLineRing::SetTelnetLine(bool telnet) {
  std::lock_guard lk(writerMutex_);
  telnet_.SetTcp(telnet);
}

void TLineRing::SetLineKind(ELineKind kind) {
  std::lock_guard lk(writerMutex_);
  lineKind_ = kind;
  telnet_.Reset(kind);
}

void TLineRing::AskTelnet(unsigned char option) {
  std::lock_guard lk(writerMutex_);
  if (!answerTelnet_) return;
  telnet_.Options().Ask(option, telnet_.Replies());
  if (!telnet_.Replies().empty()) hasReplies_ = true;
}

void TLineRing::SetWindowSize(int columns, int rows) {
  std::lock_guard lk(writerMutex_);
  telnet_.Options().WindowSize(columns, rows, telnet_.Replies());
  if (!telnet_.Replies().empty()) hasReplies_ = true;
}

void TLineRing::GiveBackTelnet(unsigned char option) {
  std::lock_guard lk(writerMutex_);
  if (!answerTelnet_) return;
  telnet_.Options().GiveBack(option, telnet_.Replies());
  if (!telnet_.Replies().empty()) hasReplies_ = true;
  binaryOut_ = telnet_.Options().WeDo(telnet::BINARY);
}

bool TLineRing::FeedBacklog() {
  bool drained;
  {
    std::lock_guard lk(writerMutex_);
    if (!backlog_.empty()) {
      const size_t used = escapes_.Put(backlog_.data(), backlog_.size(), lines_);
      if (tapping_) tapped_.append(backlog_.data(), used);
      backlog_.erase(0, used);
      backlogBytes_ = backlog_.size();
      PublishPartial();
      FlushTap();
      if (!telnet_.Replies().empty()) hasReplies_ = true;
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
  std::lock_guard lk(writerMutex_);
  escapes_.SetRemoval(on);
}

void TLineRing::SetEncoding(EHostEncoding e) {
  std::lock_guard lk(writerMutex_);
  decoder_.SetEncoding(e);
  decoding_ = e != EHostEncoding::kShiftJis;
  replaced_ = 0;
}

void TLineRing::SetTelnetAnswers(bool on, const std::string& terminalType) {
  std::lock_guard lk(writerMutex_);
  answerTelnet_ = on;
  telnet_.SetAnswers(on);
  telnet_.Options().TerminalType = terminalType;
}

std::string TLineRing::TakeTelnetReplies() {
  std::lock_guard lk(writerMutex_);
  std::string out;
  out.swap(telnet_.Replies());
  hasReplies_ = false;
  return out;
}

void TLineRing::ResetIndexes() {
  std::lock_guard lk(writerMutex_);
  const std::string terminalType = telnet_.Options().TerminalType;
  telnet_.Reset(lineKind_);
  telnet_.Options().TerminalType = terminalType;
  escapes_.Reset();
  lines_.Reset();
  decoder_.Reset();
  replaced_ = 0;
  hasReplies_ = false;
  binaryOut_ = false;
  sink_ = nullptr;
  watch_.Reset();
  draining_ = false;
  drain_.Stop();
  drain_.TakeText();
  writeIndex_ = 0;
  readPosSeen_ = 0;
  readPos_.store(0, std::memory_order_release);
  backlog_.clear();
  backlogBytes_ = 0;
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
