// A line that is cut keeps what already arrived: every whole message the host
// sent before it closed (by a plain close, a reset or a modem hang-up, with
// no pause) is captured with all of its complete lines, although the work
// thread had not read them yet when the line went.
#include <gtest/gtest.h>

#include <algorithm>

#include "common/Sjis.h"
#include "support/Loopback.h"
#include "support/Pty.h"
#include "support/SessionRecorder.h"
#include "support/Wait.h"

namespace brelo {
namespace {

const std::string kPrompt = "MAIN (A,C,E,N,Q,T,U,W,?)>";

std::string Body(int n) {
  return "first line of " + std::to_string(n) + "\r\n" + Sjis("二行目です") + "\r\n\r\nlast line\r\n";
}

// The host's news listing: one board, n whole messages, and nothing after the
// last one (not even its "//").
std::string Listing(int n) {
  std::string s = "\r\n" + Sjis("日付が 98/01/01 以降のものを読みます。") + "\r\n0001: GENERAL  " + Sjis("雑談") + "\r\n";
  for (int i = 1; i <= n; ++i) {
    char head[64];
    std::snprintf(head, sizeof head, "Message  #%04d is from: TARO ", i);
    s += head + Sjis("たろう") + "\r\nTime: 98/03/15 21:07:33  Section 1:" + Sjis("雑談") + "\r\nSubj: title " +
         std::to_string(i) + "\r\n" + Body(i);
  }
  return s;
}

// The login as the host leads it, then the first main prompt.
template <class TLine>
void HostLogin(TLine& line) {
  line.Write("ID: ");
  ASSERT_NE(line.ReadUntil("TARO\r\n").find("TARO"), std::string::npos);
  line.Write("\r\nPassword: ");
  ASSERT_NE(line.ReadUntil("p\r\n").find("p\r\n"), std::string::npos);
  line.Write("\r\n*CH01 TARO\r\n" + kPrompt);
  ASSERT_NE(line.ReadUntil("% +M\r\n").find("% +M"), std::string::npos);
}

void Taro(TVeskoClient& c) {
  c.UserID = "TARO";
  c.Password = "p";
}

// A session over the loopback peer up to the host reading the unread fetch
// the client sent at its first main prompt.
void UntilTheUnreadFetch(test::TLoopbackPeer& peer, TVeskoClient& c, test::TSessionRecorder& r) {
  Taro(c);
  c.Address = "127.0.0.1:" + std::to_string(peer.Port());
  r.script = {[](TVeskoClient& s) {
    s.SendText("N@ ");
    s.SendLine("");
  }};
  c.Connect();
  ASSERT_TRUE(peer.Accept());
  HostLogin(peer);
  ASSERT_TRUE(test::WaitUntil([&] { return r.prompts == 1; }));
  ASSERT_NE(peer.ReadUntil("N@ \r\n").find("N@ "), std::string::npos);
}

void ExpectAllMessages(const test::TSessionRecorder& r, int n) {
  ASSERT_EQ(static_cast<int>(r.messages.size()), n);
  for (int i = 0; i < n; ++i) {
    const TVeskoMessage& m = r.messages[static_cast<size_t>(i)];
    EXPECT_EQ(m.MesNo, i + 1);
    EXPECT_EQ(m.FromID, "TARO");
    EXPECT_EQ(m.Title, "title " + std::to_string(i + 1));
    EXPECT_EQ(m.Text, Body(i + 1)) << i + 1;
  }
  EXPECT_EQ(r.EventIndex("board:1") >= 0, true);
}

class LineLossTest : public ::testing::TestWithParam<bool> {};

// 300 messages are 2,100 lines: more than the ring holds, so part of them
// still waits in the socket when the host has already gone.
TEST_P(LineLossTest, EveryWholeMessageSentBeforeTheCutIsCaptured) {
  const bool reset = GetParam();
  test::TLoopbackPeer peer;
  TVeskoClient c;
  test::TSessionRecorder r(c);
  UntilTheUnreadFetch(peer, c, r);
  ASSERT_FALSE(::testing::Test::HasFatalFailure());
  // All at once and gone: the client's main thread has read none of it yet.
  peer.Write(Listing(300));
  if (reset) peer.Reset();
  else peer.HangUp();
  ASSERT_TRUE(r.WaitForEnd(60000));
  ExpectAllMessages(r, 300);
  EXPECT_TRUE(r.HasStatus("接続が切れました..127.0.0.1"));  // a reset ends the line like a hang-up
  EXPECT_EQ(r.logouts, 1);
}

INSTANTIATE_TEST_SUITE_P(CloseAndReset, LineLossTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Reset" : "Close"; });

TEST(LineLoss, AMessageTheLineCutsInItsMiddleIsStoredWithTheLinesThatCame) {
  test::TLoopbackPeer peer;
  TVeskoClient c;
  test::TSessionRecorder r(c);
  std::vector<std::string> lines;
  c.OnReceiveLine = [&](TVeskoClient*, const std::string& l) { lines.push_back(l); };
  UntilTheUnreadFetch(peer, c, r);
  ASSERT_FALSE(::testing::Test::HasFatalFailure());
  // Two whole messages and the head and two lines of a third; the work
  // thread has read all of it and waits inside the third when the line goes.
  const std::string listing = Listing(3);
  const std::string cut = "first line of 3\r\n" + Sjis("二行目です") + "\r\n";
  peer.Write(listing.substr(0, listing.find(cut) + cut.size()));
  ASSERT_TRUE(test::WaitUntil([&] {
    return r.messages.size() == 2 && std::count(lines.begin(), lines.end(), Sjis("二行目です")) == 3;
  }));
  peer.HangUp();
  ASSERT_TRUE(r.WaitForEnd(60000));
  ASSERT_EQ(r.messages.size(), 3u);
  EXPECT_EQ(r.messages[2].MesNo, 3);
  EXPECT_EQ(r.messages[2].Text, cut);
}

TEST(LineLoss, AModemHangUpKeepsWhatThePortReceived) {
  test::TPty pty;
  pty.WatchCaller();
  TVeskoClient c;
  test::TSessionRecorder r(c);
  Taro(c);
  c.Address = "tel://0312345678/";
  c.ModemDevice = pty.SlavePath();
  r.script = {[](TVeskoClient& s) {
    s.SendText("N@ ");
    s.SendLine("");
  }};
  c.Connect();
  ASSERT_NE(pty.ReadUntil("ATD0312345678\r\n").find("ATD"), std::string::npos) << ::testing::PrintToString(r.statuses);
  pty.Write("\r\nCONNECT 9600\r\n");
  HostLogin(pty);
  ASSERT_TRUE(test::WaitUntil([&] { return r.prompts == 1; }));
  ASSERT_NE(pty.ReadUntil("N@ \r\n").find("N@ "), std::string::npos);
  pty.Write(Listing(100));
  // The modem hangs up once its bytes have reached the computer; the work
  // thread, waiting for this thread, has consumed none of them yet.
  pty.HangUpWhenRead();
  ASSERT_TRUE(r.WaitForEnd(60000));
  ExpectAllMessages(r, 100);
  EXPECT_TRUE(r.HasStatus("切断されました.."));
}

}  // namespace
}  // namespace brelo
