// TSendThread: everyone who sends to the host copies bytes into a 2000-byte
// ring and returns; this thread drains it into the line in use, paced: on TCP
// at most 1024 bytes every 50 ms, on the serial line at most 512 bytes at a
// time and only when the driver's output queue has room for them.
//
// Producers (the main thread's commands and terminal line, the work thread's
// dialogue) are serialised, so each SendLine reaches the line whole. The
// read index is written only by this thread, the write index only by a
// producer holding the producer lock.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace brelo {

// What the send thread writes to; the session component implements it.
class ISendTarget {
 public:
  virtual ~ISendTarget() = default;
  virtual int Transport() = 0;                         // 1 TCP, 0 serial
  virtual int SendTcp(const char* p, int n) = 0;       // bytes the socket accepted
  virtual int SerialOutQueueSize() = 0;                // the port's OutQueueSize
  virtual int SerialQueued() = 0;                      // bytes still in the driver's queue
  virtual int SerialWrite(const char* p, int n) = 0;   // bytes written, -1 on failure (errno)
  virtual bool WorkThreadGone() = 0;
  virtual void SendThreadEnded() = 0;                  // clears the owner's reference
};

class TSendThread {
 public:
  static constexpr int kRingSize = 2000;
  static constexpr int kChunk = 1024;
  // A failed serial write is tried again after this; thirty in a row end
  // the thread.
  static constexpr int kSerialRetryMs = 500;

  // retryMs: kSerialRetryMs but where a test counts failures.
  explicit TSendThread(ISendTarget& target, int retryMs = kSerialRetryMs);
  ~TSendThread();  // asks to terminate and waits for the thread

  // Copies data into the ring in 1024-byte chunks, each waiting until the
  // ring has more free space than the chunk; gives up on termination.
  void Enqueue(const char* data, size_t length);
  void Terminate();
  bool Terminated() const { return terminated_.load(); }
  bool Finished() const { return finished_.load(); }
  void Join();
  // Bytes waiting in the ring.
  int Pending() const;

 private:
  void Run();
  int FreeSpace() const;
  // Copies up to max pending bytes from the read index into out.
  int CopyPending(char* out, int max) const;
  void Advance(int n);
  void Sleep(int ms);

  ISendTarget& target_;
  const int retryMs_;
  char buffer_[kRingSize];
  std::atomic<int> readIdx_{0};
  std::atomic<int> writeIdx_{0};
  std::mutex producers_;
  std::mutex waitMutex_;
  std::condition_variable roomCv_;   // the consumer made room, or termination
  std::condition_variable sleepCv_;  // termination cuts a sleep short
  std::atomic<bool> terminated_{false};
  std::atomic<bool> finished_{false};
  std::thread thread_;
};

}  // namespace brelo
