#include "session/SendThread.h"

#include <cerrno>
#include <chrono>

namespace brelo {

TSendThread::TSendThread(ISendTarget& target, int retryMs) : target_(target), retryMs_(retryMs) {
  thread_ = std::thread([this] { Run(); });
}

TSendThread::~TSendThread() {
  Terminate();
  Join();
}

void TSendThread::Join() {
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

void TSendThread::Terminate() {
  terminated_ = true;
  { std::lock_guard<std::mutex> lk(waitMutex_); }
  roomCv_.notify_all();
  sleepCv_.notify_all();
}

int TSendThread::FreeSpace() const {
  const int r = readIdx_.load(std::memory_order_acquire);
  const int w = writeIdx_.load(std::memory_order_acquire);
  return w < r ? r - w : kRingSize - w + r;
}

int TSendThread::Pending() const { return kRingSize - FreeSpace(); }

void TSendThread::Enqueue(const char* data, size_t length) {
  std::lock_guard<std::mutex> producer(producers_);
  if (terminated_) return;
  size_t done = 0;
  while (done < length) {
    const int len = static_cast<int>(std::min<size_t>(kChunk, length - done));
    {
      std::unique_lock<std::mutex> lk(waitMutex_);
      // The ring never fills completely: equal indexes always mean empty.
      while (FreeSpace() <= len && !terminated_) roomCv_.wait_for(lk, std::chrono::milliseconds(50));
    }
    if (terminated_) return;
    int w = writeIdx_.load(std::memory_order_relaxed);
    for (int i = 0; i < len; ++i) {
      buffer_[w] = data[done + static_cast<size_t>(i)];
      w = (w + 1) % kRingSize;
    }
    writeIdx_.store(w, std::memory_order_release);
    done += static_cast<size_t>(len);
  }
}

int TSendThread::CopyPending(char* out, int max) const {
  int r = readIdx_.load(std::memory_order_relaxed);
  const int w = writeIdx_.load(std::memory_order_acquire);
  int n = 0;
  while (r != w && n < max) {
    out[n++] = buffer_[r];
    r = (r + 1) % kRingSize;
  }
  return n;
}

void TSendThread::Advance(int n) {
  if (n <= 0) return;
  readIdx_.store((readIdx_.load(std::memory_order_relaxed) + n) % kRingSize, std::memory_order_release);
  { std::lock_guard<std::mutex> lk(waitMutex_); }
  roomCv_.notify_all();
}

void TSendThread::Sleep(int ms) {
  std::unique_lock<std::mutex> lk(waitMutex_);
  sleepCv_.wait_for(lk, std::chrono::milliseconds(ms), [this] { return terminated_.load(); });
}

void TSendThread::Run() {
  char transfer[1025];
  int failures = 0;
  while (!terminated_) {
    if (target_.Transport() == 0) {
      const int n = CopyPending(transfer, 512);
      if (n == 0) {
        Sleep(20);
        continue;
      }
      // Only when the driver's output queue can take them all.
      while (!terminated_ && target_.SerialOutQueueSize() - target_.SerialQueued() < n) Sleep(5);
      if (terminated_) break;
      const int written = target_.SerialWrite(transfer, n);
      if (written >= 0) {
        failures = 0;
        Advance(written);
      } else if (errno != EAGAIN && errno != EWOULDBLOCK) {
        if (++failures >= 30) {
          Terminate();  // thirty failed writes in a row: the line is gone
          break;
        }
        Sleep(retryMs_);
      }
    } else {
      const int n = CopyPending(transfer, kChunk);
      if (n > 0) Advance(target_.SendTcp(transfer, n));
      Sleep(50);
    }
  }
  // The work thread sends without checking for this thread: end only after it.
  while (!target_.WorkThreadGone()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  finished_ = true;
  target_.SendThreadEnded();
}

}  // namespace brelo
