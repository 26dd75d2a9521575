// An ILineSource over a real TLineRing, for the ring primitives with a
// writer on another thread.
#pragma once

#include <atomic>
#include <chrono>

#include "session/LineRing.h"
#include "session/LineSource.h"

namespace brelo::test {

class TRingSource : public brelo::ILineSource {
 public:
  explicit TRingSource(brelo::TLineRing& ring) : ring_(ring) {}
  std::string NextLine() override {
    while (!ring_.LineWaiting()) {
      if (terminated_) return std::string();
      ring_.WaitForChange(50);
    }
    return ring_.Take();
  }
  bool Terminated() const override { return terminated_.load(); }
  bool LineWaiting() override { return ring_.LineWaiting(); }
  int ReadPos() override { return ring_.ReadPos(); }
  int LineIndex() override { return ring_.LineIndex(); }
  std::string LineAt(int slot) override { return ring_.Line(slot); }
  void Idle(int ms) override { ring_.WaitForChange(ms); }
  long long TickCount() override {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
  }
  void Terminate() {
    terminated_ = true;
    ring_.Wake();
  }

 private:
  brelo::TLineRing& ring_;
  std::atomic<bool> terminated_{false};
};

}  // namespace brelo::test
