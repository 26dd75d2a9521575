// The send thread's ring, pacing and producers, against a recording line.
#include "session/SendThread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <mutex>
#include <thread>
#include <vector>

#include "support/Wait.h"

namespace brelo {
namespace {

using test::WaitUntil;

struct TLine : ISendTarget {
  std::atomic<int> transport{1};
  std::atomic<int> accept{1 << 30};  // bytes the socket still takes
  std::atomic<int> driverRoom{4096};
  std::atomic<bool> failSerial{false};
  std::atomic<int> failedWrites{0};
  std::atomic<int> succeedAtFailure{-1};  // this failure succeeds instead, once
  std::atomic<bool> workGone{true};
  std::atomic<bool> ended{false};
  std::mutex m;
  std::string sent;
  std::vector<int> calls;
  int Transport() override { return transport; }
  int SendTcp(const char* p, int n) override {
    const int take = std::min(n, accept.load());
    accept -= take;
    std::lock_guard<std::mutex> lk(m);
    if (take > 0) {
      sent.append(p, static_cast<size_t>(take));
      calls.push_back(take);
    }
    return take;
  }
  int SerialOutQueueSize() override { return 4096; }
  int SerialQueued() override { return 4096 - driverRoom; }
  int SerialWrite(const char* p, int n) override {
    if (failSerial) {
      if (failedWrites == succeedAtFailure) {
        succeedAtFailure = -1;  // this one goes
      } else {
        ++failedWrites;
        errno = EIO;
        return -1;
      }
    }
    std::lock_guard<std::mutex> lk(m);
    sent.append(p, static_cast<size_t>(n));
    calls.push_back(n);
    return n;
  }
  bool WorkThreadGone() override { return workGone; }
  void SendThreadEnded() override { ended = true; }
  size_t SentSize() {
    std::lock_guard<std::mutex> lk(m);
    return sent.size();
  }
};

std::string Pattern(size_t n) {
  std::string s;
  for (size_t i = 0; i < n; ++i) s += static_cast<char>('a' + i % 26);
  return s;
}

TEST(SendThreadTest, ThreeThousandBytesArriveWholeInOrderAndPaced) {
  TLine line;
  TSendThread t(line);
  const std::string data = Pattern(3000);
  t.Enqueue(data.data(), data.size());
  ASSERT_TRUE(WaitUntil([&] { return line.SentSize() == 3000; }));
  std::lock_guard<std::mutex> lk(line.m);
  EXPECT_EQ(line.sent, data);
  for (int c : line.calls) EXPECT_LE(c, 1024);  // at most 1024 bytes per 50 ms cycle
  EXPECT_GE(line.calls.size(), 3u);
}

TEST(SendThreadTest, AChunkWaitsUntilTheRingHasMoreRoomThanItNeeds) {
  TLine line;
  line.accept = 0;  // the socket takes nothing for now
  TSendThread t(line);
  const std::string first = Pattern(976);
  t.Enqueue(first.data(), first.size());
  EXPECT_EQ(t.Pending(), 976);
  std::atomic<bool> done{false};
  std::thread producer([&] {
    const std::string chunk = Pattern(1024);
    t.Enqueue(chunk.data(), chunk.size());
    done = true;
  });
  test::ProcessEventsFor(300);
  EXPECT_FALSE(done.load());  // 1024 free bytes are not more than 1024
  line.accept = 1;            // one byte goes out: now there is room
  ASSERT_TRUE(WaitUntil([&] { return done.load(); }));
  producer.join();
  EXPECT_EQ(t.Pending(), 976 - 1 + 1024);
}

TEST(SendThreadTest, TerminationReleasesABlockedSenderAndQueuesNothingAfterwards) {
  TLine line;
  line.accept = 0;
  TSendThread t(line);
  const std::string big = Pattern(5000);
  std::thread producer([&] { t.Enqueue(big.data(), big.size()); });
  ASSERT_TRUE(WaitUntil([&] { return t.Pending() > 0; }));
  t.Terminate();
  producer.join();
  ASSERT_TRUE(WaitUntil([&] { return line.ended.load(); }));
  const int before = t.Pending();
  t.Enqueue("late", 4);
  EXPECT_EQ(t.Pending(), before);
}

TEST(SendThreadTest, EndsOnlyAfterTheWorkThread) {
  TLine line;
  line.workGone = false;
  TSendThread t(line);
  t.Terminate();
  test::ProcessEventsFor(100);
  EXPECT_FALSE(t.Finished());
  line.workGone = true;
  ASSERT_TRUE(WaitUntil([&] { return t.Finished(); }));
}

TEST(SendThreadTest, SerialWritesAreSmallAndWaitForDriverRoom) {
  TLine line;
  line.transport = 0;
  line.driverRoom = 100;  // less than the 512 bytes waiting
  TSendThread t(line);
  const std::string data = Pattern(1500);
  t.Enqueue(data.data(), data.size());
  test::ProcessEventsFor(100);
  EXPECT_EQ(line.SentSize(), 0u);
  line.driverRoom = 4096;
  ASSERT_TRUE(WaitUntil([&] { return line.SentSize() == 1500; }));
  std::lock_guard<std::mutex> lk(line.m);
  EXPECT_EQ(line.sent, data);
  for (int c : line.calls) EXPECT_LE(c, 512);
}

TEST(SendThreadTest, ThirtyFailedSerialWritesInARowEndTheThread) {
  TLine line;
  line.transport = 0;
  line.failSerial = true;
  line.succeedAtFailure = 29;  // 29 failures, a write that goes, then failures only
  TSendThread t(line, 2);  // tries 2 ms apart, not half a second
  t.Enqueue("xy", 2);
  ASSERT_TRUE(WaitUntil([&] { return line.SentSize() == 2; }));
  t.Enqueue("z", 1);
  ASSERT_TRUE(WaitUntil([&] { return t.Terminated(); }));
  ASSERT_TRUE(WaitUntil([&] { return t.Finished(); }));
  // The success started the count afresh: 29 failures before it, 30 after.
  EXPECT_EQ(line.failedWrites, 59);
  EXPECT_EQ(line.SentSize(), 2u);
}

TEST(SendThreadTest, ConcurrentProducersNeverInterleaveALine) {
  TLine line;
  TSendThread t(line);
  auto produce = [&](char c) {
    for (int i = 0; i < 20; ++i) {
      const std::string l = std::string(1500, c) + "\r\n";
      t.Enqueue(l.data(), l.size());
    }
  };
  std::thread a(produce, 'A'), b(produce, 'B');
  a.join();
  b.join();
  ASSERT_TRUE(WaitUntil([&] { return line.SentSize() == 40 * 1502; }, 30000));
  std::lock_guard<std::mutex> lk(line.m);
  for (size_t at = 0; at < line.sent.size(); at += 1502) {
    const std::string l = line.sent.substr(at, 1502);
    EXPECT_TRUE(l == std::string(1500, 'A') + "\r\n" || l == std::string(1500, 'B') + "\r\n") << at;
  }
}

}  // namespace
}  // namespace brelo
