#include "common/StringLock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace brelo {
namespace {

TEST(SafeHelpers, CopyAtItsEdges) {
  EXPECT_EQ(SafeCopy("abcdef", 2, 3), "bcd");
  EXPECT_EQ(SafeCopy("abcdef", 0, 2), "ab");     // a start below 1 counts as 1
  EXPECT_EQ(SafeCopy("abcdef", -5, 2), "ab");
  EXPECT_EQ(SafeCopy("abcdef", 7, 2), "");       // past the end
  EXPECT_EQ(SafeCopy("abcdef", 6, 99), "f");
  EXPECT_EQ(SafeCopy("abcdef", 2, 0), "");
  EXPECT_EQ(SafeCopy("abcdef", 2, -1), "");
}

TEST(SafeHelpers, PosIsOneBased) {
  EXPECT_EQ(SafePos("cd", "abcdcd"), 3);
  EXPECT_EQ(SafePos("x", "abc"), 0);
  EXPECT_EQ(SafePos("", "abc"), 0);
}

TEST(SafeHelpers, NumbersAndCase) {
  EXPECT_EQ(SafeStrToIntDef("05", -1), 5);
  EXPECT_EQ(SafeStrToIntDef(" 12", -1), 12);
  EXPECT_EQ(SafeStrToIntDef("12 ", -1), -1);
  EXPECT_EQ(SafeStrToIntDef("", -1), -1);
  EXPECT_EQ(SafeStrToIntDef("$1F", -1), 31);
  EXPECT_EQ(SafeStrToIntDef("-3", 0), -3);
  EXPECT_EQ(SafeStrToIntDef("4294967296", 0), 0);
  EXPECT_EQ(SafeIntToStr(-42), "-42");
  EXPECT_EQ(SafeUpperCase("telnet://a/"), "TELNET://A/");
  EXPECT_EQ(SafeFormat("#%.6d", 123), "#000123");
  EXPECT_EQ(SafeFormat("%.2d %.8s|", 5, std::string("ABCDEFGHIJ")), "05 ABCDEFGH|");
}

TEST(StringLockTest, ReentrantForItsOwnerAndExclusiveForOthers) {
  TMutex& m = StringLock();
  ASSERT_TRUE(m.Enter());
  ASSERT_TRUE(m.Enter());  // re-entrant
  std::atomic<bool> other{false};
  std::thread t([&] {
    TStringLockGuard g;  // waits for the owner
    other = true;
  });
  m.Leave();
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_FALSE(other.load());
  m.Leave();
  t.join();
  EXPECT_TRUE(other.load());
}

}  // namespace
}  // namespace brelo
