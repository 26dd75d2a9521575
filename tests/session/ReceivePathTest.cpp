// The receive path byte for byte, and the ring's back-pressure.
#include <gtest/gtest.h>

#include <random>
#include <thread>
#include <vector>

#include "common/Sjis.h"
#include "session/LineRing.h"
#include "session/LineSource.h"
#include "support/RingSource.h"

namespace brelo {
namespace {

void Feed(TLineRing& r, const std::string& bytes) { r.Feed(bytes.data(), bytes.size()); }

// Every complete line the ring holds, consumed, then the partial line.
std::vector<std::string> Drain(TLineRing& r) {
  std::vector<std::string> out;
  while (r.LineWaiting()) out.push_back(r.Take());
  out.push_back("[" + r.Line(r.LineIndex()) + "]");
  return out;
}

TEST(ReceivePath, CrLfSplitAcrossChunks) {
  TLineRing r;
  Feed(r, "AB\r");
  Feed(r, "\nCD");
  EXPECT_EQ(r.Line(0), "AB");
  EXPECT_EQ(r.LineIndex(), 1);
  EXPECT_EQ(r.Line(1), "CD");  // the LF is dropped
}

TEST(ReceivePath, TabIsLengthModEight) {
  TLineRing r;
  Feed(r, "abc\t|\r\t|\rabcdefgh\t|\r");
  EXPECT_EQ(Drain(r), (std::vector<std::string>{"abc   |", "        |", "abcdefgh        |", "[]"}));
}

TEST(ReceivePath, BackspaceRemovesWholeDoubleByteCharacters) {
  TLineRing r;
  Feed(r, Sjis("aあ") + "\b\r\bx\b\rab\b\r");
  EXPECT_EQ(Drain(r), (std::vector<std::string>{"a", "", "a", "[]"}));
}

TEST(ReceivePath, ControlsDroppedAndOnlyPrintableKept) {
  TLineRing r;
  Feed(r, std::string("a\x01\x07\n\x1b[m\x7f\xfe\r", 11));
  EXPECT_EQ(Drain(r)[0], std::string("a[m\x7f\xfe", 5));
}

TEST(ReceivePath, TelnetCommandsAreSkipped) {
  TLineRing r;
  Feed(r, "\xFF\xFB\x01X\r");                    // IAC WILL ECHO
  Feed(r, "\xFF");                                // IAC at a chunk end ...
  Feed(r, "\xFD\x03Y\r");                         // ... DO SUPPRESS-GO-AHEAD
  Feed(r, "\xFF\xFA\x18\x01\xFF\xF0Z\r");         // a subnegotiation, whole
  Feed(r, "\xFF\xFA\x18\x01\xFF\xFF\x41\xFF\xF0W\r");  // an escaped 0xFF inside it
  Feed(r, "a\xFF\xFF" "b\r");                     // IAC IAC: a data byte 0xFF, which a line drops
  Feed(r, "P>\xFF\xF9Q\r");                       // IAC GA is two bytes: Q stays
  EXPECT_EQ(Drain(r), (std::vector<std::string>{"X", "Y", "Z", "W", "ab", "P>Q", "[]"}));
}

TEST(ReceivePath, WholeAndByteByByteGiveTheSameLines) {
  const std::string input = std::string("\xFF\xFB\x01", 3) + Sjis("ログイン名(ID)を入力してください") + "\r\n" +
                            "tab\there\r\n\xFF\xFA\x18\x01\xFF\xF0" + Sjis("あい") + "\b\b\r\nMAIN (A)>";
  TLineRing whole, bytes;
  Feed(whole, input);
  for (char c : input) Feed(bytes, std::string(1, c));
  std::mt19937 rng(7);
  TLineRing random;
  for (size_t i = 0; i < input.size();) {
    size_t n = std::min(input.size() - i, static_cast<size_t>(rng() % 5 + 1));
    Feed(random, input.substr(i, n));
    i += n;
  }
  auto w = Drain(whole);
  EXPECT_EQ(w, Drain(bytes));
  EXPECT_EQ(w, Drain(random));
  EXPECT_EQ(w.back(), "[MAIN (A)>]");
}

TEST(LineRingTest, ThousandthLineEndWrapsAndClearsSlotZero) {
  TLineRing r;
  std::string half;
  for (int i = 0; i < 500; ++i) half += "line\r";
  Feed(r, half);
  while (r.LineWaiting()) r.Take();
  Feed(r, half);
  EXPECT_EQ(r.LineIndex(), 0);
  EXPECT_EQ(r.Line(0), "");
  Feed(r, "new");
  EXPECT_EQ(r.Line(0), "new");
}

TEST(LineRingTest, FullRingPausesAndLosesNothing) {
  TLineRing r;
  int roomCalls = 0;
  r.OnRoom = [&] { ++roomCalls; };
  std::string input;
  for (int i = 0; i < 1500; ++i) input += "L" + std::to_string(i) + "\r\n";
  EXPECT_FALSE(r.Feed(input.data(), input.size()));
  EXPECT_TRUE(r.Paused());
  // 999 unread complete lines, nothing overwritten.
  EXPECT_EQ(r.LineIndex(), 999);
  std::vector<std::string> got;
  while (r.LineWaiting()) {
    got.push_back(r.Take());
    if (roomCalls > 0 && r.Paused()) r.FeedBacklog();
  }
  EXPECT_GE(roomCalls, 1);
  EXPECT_FALSE(r.Paused());
  ASSERT_EQ(got.size(), 1500u);
  for (int i = 0; i < 1500; ++i) ASSERT_EQ(got[static_cast<size_t>(i)], "L" + std::to_string(i));
}

TEST(LineRingTest, AFullRingAsksForMoreExactlyWhenHalfOfItIsFree) {
  TLineRing r;
  int takenAtRoom = -1;
  int taken = 0;
  r.OnRoom = [&] { takenAtRoom = taken; };
  std::string input;
  for (int i = 0; i < 1200; ++i) input += "L" + std::to_string(i) + "\r\n";
  ASSERT_FALSE(r.Feed(input.data(), input.size()));
  ASSERT_EQ(r.LineIndex(), 999);  // 999 unread lines
  // Reading resumes with the take that leaves 500 unread (500 slots free),
  // not one take sooner or later.
  while (takenAtRoom < 0 && taken < 999) {
    ++taken;
    r.Take();
  }
  EXPECT_EQ(takenAtRoom, 499);
  EXPECT_TRUE(r.Paused());  // until the writer has run its backlog
  EXPECT_TRUE(r.FeedBacklog());
  EXPECT_FALSE(r.Paused());
}

TEST(LineRingTest, OverlongLineIsSplitNotDropped) {
  TLineRing r;
  std::string big(TLineRing::kMaxLineBytes + 10, 'x');
  Feed(r, big + "\r");
  ASSERT_TRUE(r.LineWaiting());
  EXPECT_EQ(r.Take().size(), TLineRing::kMaxLineBytes);
  EXPECT_EQ(r.Take().size(), 10u);
}

// The primitives against a ring written by another thread.
class RingPrimitives : public ::testing::Test {
 protected:
  TLineRing ring;
  test::TRingSource src{ring};
  void FeedLater(std::vector<std::string> chunks) {
    writer = std::thread([this, chunks] {
      for (const auto& c : chunks) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        ring.Feed(c.data(), c.size());
      }
    });
  }
  void TearDown() override {
    src.Terminate();
    if (writer.joinable()) writer.join();
  }
  std::thread writer;
};

TEST_F(RingPrimitives, WaitAnyTestsInListOrderAndLeavesTheLine) {
  FeedLater({"welcome\r\n", "Pass/", Sjis("ハンドル") + ":"});
  // Both texts on one (partial) line: the list order decides.
  EXPECT_EQ(WaitAny(src, {"Pass", Sjis("ハンドル")}), 0);
  writer.join();
  EXPECT_EQ(WaitAny(src, {Sjis("ハンドル"), "Pass"}), 0);
  EXPECT_EQ(src.CurrentLine(), "Pass/" + Sjis("ハンドル") + ":");
}

TEST_F(RingPrimitives, TheMatchStaysForNextLine) {
  FeedLater({"noise\r\nID: \r\n"});
  EXPECT_EQ(WaitAny(src, {"ID"}), 0);
  EXPECT_EQ(src.NextLine(), "ID: ");
}

TEST_F(RingPrimitives, WaitTextConsumesLinesWithoutTheText) {
  FeedLater({"a\r\nb\r\nOK\r\n"});
  EXPECT_TRUE(WaitText(src, "OK"));
  EXPECT_EQ(src.CurrentLine(), "OK");
}

TEST_F(RingPrimitives, TerminationEndsEveryWait) {
  std::thread t([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    src.Terminate();
  });
  EXPECT_EQ(WaitAny(src, {"never"}), -1);
  EXPECT_FALSE(WaitText(src, "never"));
  EXPECT_EQ(src.NextLine(), "");
  t.join();
}

}  // namespace
}  // namespace brelo
