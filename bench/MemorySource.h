// Host output held in memory as one block of bytes, sent `times` times over,
// and split into lines by the receive path itself (the line ring), as the
// dialogue reads them: for benchmarks that must not measure a socket.
#pragma once

#include <string>
#include <vector>

#include "session/LineRing.h"
#include "session/LineSource.h"

namespace brelo::bench {

class TMemorySource : public ILineSource, public ILineSink {
 public:
  explicit TMemorySource(const std::string& block, int times = 1) : block_(block), times_(times) {}
  std::string NextLine() override {
    std::string line;
    NextLineInto(line);
    return line;
  }
  bool NextLineInto(std::string& line) override {
    if (!Fill()) {
      done_ = true;
      line.clear();
      return false;
    }
    ring_.TakeInto(line);
    return true;
  }
  bool TakeWaitingLine(std::string& line) override {
    if (!Fill()) return false;
    ring_.TakeInto(line);
    return true;
  }
  bool Terminated() const override { return done_; }
  bool LineWaiting() override { return Fill(); }
  int ReadPos() override { return ring_.ReadPos(); }
  int LineIndex() override { return ring_.LineIndex(); }
  std::string LineAt(int slot) override { return ring_.Line(slot); }
  std::string_view WaitingLine(int k) override { return ring_.Waiting(k); }
  bool LineHas(int slot, const std::function<bool(const std::string&)>& pred) override {
    return ring_.LineHas(slot, pred);
  }
  // The dialogue waits for more: the next chunk comes, or, at the end,
  // the host has gone quiet and the session ends.
  void Idle(int ms) override {
    clock_ += ms;
    if (!Feed()) done_ = true;
  }
  long long TickCount() override { return clock_; }
  void SendLine(const std::string&) override {}
  void SendText(const std::string&) override {}

 private:
  // Feeds chunks of bytes until a line waits; false at the end.
  bool Fill() {
    while (!ring_.LineWaiting()) {
      if (!Feed()) return false;
    }
    return true;
  }
  // Feeds the next chunk; false when none is left.
  bool Feed() {
    if (ring_.Paused()) {
      ring_.FeedBacklog();
      return true;
    }
    if (pos_ >= block_.size()) {
      if (--times_ <= 0) return false;
      pos_ = 0;
    }
    const size_t n = std::min<size_t>(16384, block_.size() - pos_);
    ring_.Feed(block_.data() + pos_, n);
    pos_ += n;
    return true;
  }
  const std::string& block_;
  int times_;
  TLineRing ring_;
  size_t pos_ = 0;
  bool done_ = false;
  long long clock_ = 0;
};

}  // namespace brelo::bench
