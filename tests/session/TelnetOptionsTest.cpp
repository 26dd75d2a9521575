// Telnet option negotiation answered from the receive path: what is agreed
// (once per change), what is refused (each time it is asked), binary mode
// only for a transfer, whatever the chunks.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/Sjis.h"
#include "session/LineRing.h"
#include "support/DemoHost.h"
#include "support/DemoPass.h"
#include "support/TempDir.h"

namespace brelo {
namespace {

using namespace telnet;

std::string Cmd(unsigned char verb, unsigned char option) {
  return {static_cast<char>(IAC), static_cast<char>(verb), static_cast<char>(option)};
}
std::string Sub(const std::string& body) {
  return std::string{static_cast<char>(IAC), static_cast<char>(SB)} + body +
         std::string{static_cast<char>(IAC), static_cast<char>(SE)};
}

struct TResult {
  std::string replies;
  std::vector<std::string> lines;
  bool operator==(const TResult&) const = default;
};

// Feeds the chunks into a fresh ring with answers on; the replies and lines.
TResult Negotiate(const std::vector<std::string>& chunks, bool answer = true, const std::string& type = "VT100") {
  TLineRing ring;
  ring.SetTelnetAnswers(answer, type);
  ring.ResetIndexes();
  TResult r;
  for (const std::string& c : chunks) {
    ring.Feed(c.data(), c.size());
    r.replies += ring.TakeTelnetReplies();
    while (ring.LineWaiting()) r.lines.push_back(ring.Take());
  }
  return r;
}

// A host as today's telnet servers greet: the options, repeated requests, a
// data byte 0xFF, and the terminal type asked for.
const std::string kGreeting = Cmd(WILL, ECHO) + Cmd(WILL, SGA) + Cmd(DO, TTYPE) + Cmd(DO, NAWS) + Cmd(WILL, 5) +
                              Cmd(DO, 32) + Cmd(WILL, ECHO) + Cmd(DO, 32) + Cmd(WILL, 5) + "a\xFF\xFF" + "b\r\n" +
                              Sub(std::string{static_cast<char>(TTYPE), static_cast<char>(TTYPE_SEND)}) +
                              Sub(std::string{static_cast<char>(TTYPE), static_cast<char>(TTYPE_SEND)}) + "ID: ";

const std::string kAnswers =
    Cmd(DO, ECHO) + Cmd(DO, SGA) + Cmd(WILL, TTYPE) + Cmd(WILL, NAWS) +
    Sub(std::string{static_cast<char>(NAWS), 0, 80, 0, 24}) + Cmd(DONT, 5) + Cmd(WONT, 32) + Cmd(WONT, 32) +
    Cmd(DONT, 5) + Sub(std::string{static_cast<char>(TTYPE), static_cast<char>(TTYPE_IS)} + "ANSI") +
    Sub(std::string{static_cast<char>(TTYPE), static_cast<char>(TTYPE_IS)} + "ANSI");

TEST(TelnetOptions, AgreedOptionsAnsweredOnceAndTheRestRefusedEachTime) {
  const TResult r = Negotiate({kGreeting}, true, "ANSI");
  EXPECT_EQ(r.replies, kAnswers);
  // IAC IAC is data, never a command: the line keeps its text and no answer comes of it.
  ASSERT_EQ(r.lines.size(), 1u);
  EXPECT_EQ(r.lines[0], "ab");
}

TEST(TelnetOptions, TurningOffIsConfirmedOnceAndOnlyForWhatWasOn) {
  const TResult r = Negotiate({Cmd(WILL, ECHO) + Cmd(DO, NAWS) + Cmd(WONT, ECHO) + Cmd(WONT, ECHO) + Cmd(DONT, NAWS) +
                         Cmd(DONT, NAWS) + Cmd(WONT, SGA) + Cmd(DONT, TTYPE) + Cmd(WILL, ECHO)});
  EXPECT_EQ(r.replies, Cmd(DO, ECHO) + Cmd(WILL, NAWS) + Sub(std::string{static_cast<char>(NAWS), 0, 80, 0, 24}) +
                           Cmd(DONT, ECHO) + Cmd(WONT, NAWS) + Cmd(DO, ECHO));
}

TEST(TelnetOptions, BinaryIsRefusedOutsideATransferAndGivenBackAfterOne) {
  // A telnet server asks for binary at login: refused, each time it asks.
  const TResult login = Negotiate({Cmd(DO, BINARY) + Cmd(WILL, BINARY) + Cmd(DO, BINARY) + "ID: "});
  EXPECT_EQ(login.replies, Cmd(WONT, BINARY) + Cmd(DONT, BINARY) + Cmd(WONT, BINARY));

  TLineRing ring;
  ring.SetTelnetAnswers(true, "VT100");
  ring.ResetIndexes();
  const auto feed = [&](const std::string& bytes) {
    ring.Feed(bytes.data(), bytes.size());
    return ring.TakeTelnetReplies();
  };
  // A transfer asks for it both ways; the host's agreement gets no answer.
  ring.AskTelnet(BINARY);
  EXPECT_EQ(ring.TakeTelnetReplies(), Cmd(DO, BINARY) + Cmd(WILL, BINARY));
  EXPECT_EQ(feed(Cmd(WILL, BINARY) + Cmd(DO, BINARY)), "");
  EXPECT_TRUE(ring.BinaryOut());
  EXPECT_TRUE(ring.Telnet().HostDoes(BINARY));
  // After it, binary is given back; the host's confirmation gets no answer,
  // and a new request is refused again.
  ring.GiveBackTelnet(BINARY);
  EXPECT_EQ(ring.TakeTelnetReplies(), Cmd(DONT, BINARY) + Cmd(WONT, BINARY));
  EXPECT_FALSE(ring.BinaryOut());
  EXPECT_EQ(feed(Cmd(WONT, BINARY) + Cmd(DONT, BINARY)), "");
  EXPECT_FALSE(ring.Telnet().HostDoes(BINARY));
  EXPECT_EQ(feed(Cmd(DO, BINARY)), Cmd(WONT, BINARY));
  // A transfer that ends before the host answered: its agreement is
  // followed at once by the request to turn binary off again.
  ring.AskTelnet(BINARY);
  EXPECT_EQ(ring.TakeTelnetReplies(), Cmd(DO, BINARY) + Cmd(WILL, BINARY));
  ring.GiveBackTelnet(BINARY);
  EXPECT_EQ(ring.TakeTelnetReplies(), "");
  EXPECT_EQ(feed(Cmd(WILL, BINARY) + Cmd(WONT, BINARY) + Cmd(DO, BINARY)), Cmd(DONT, BINARY) + Cmd(WONT, BINARY));
  EXPECT_EQ(feed(Cmd(DONT, BINARY)), "");
  EXPECT_FALSE(ring.BinaryOut());
  EXPECT_FALSE(ring.Telnet().HostDoes(BINARY));
}

TEST(TelnetOptions, TheSameAnswersWhereverTheChunksSplit) {
  const TResult whole = Negotiate({kGreeting}, true, "ANSI");
  for (size_t cut = 0; cut <= kGreeting.size(); ++cut) {
    EXPECT_EQ(Negotiate({kGreeting.substr(0, cut), kGreeting.substr(cut)}, true, "ANSI"), whole) << "cut at " << cut;
  }
  std::vector<std::string> bytes;
  for (char c : kGreeting) bytes.emplace_back(1, c);
  EXPECT_EQ(Negotiate(bytes, true, "ANSI"), whole);
}

TEST(TelnetOptions, NothingIsSentToAHostThatSendsNoCommandOrOverAModem) {
  EXPECT_EQ(Negotiate({"Welcome\r\nID: "}).replies, "");
  EXPECT_EQ(Negotiate({kGreeting}, false).replies, "");
  // A new session forgets the last one's options: the same greeting is answered again.
  TLineRing ring;
  ring.SetTelnetAnswers(true, "VT100");
  for (int session = 0; session < 2; ++session) {
    ring.ResetIndexes();
    const std::string greet = Cmd(WILL, ECHO);
    ring.Feed(greet.data(), greet.size());
    EXPECT_EQ(ring.TakeTelnetReplies(), Cmd(DO, ECHO)) << session;
  }
}

TEST(TelnetOptions, ANewWindowSizeGoesOutOnlyWhenAgreedAndChanged) {
  TLineRing ring;
  ring.SetTelnetAnswers(true, "VT100");
  ring.ResetIndexes();
  // Before the host asks: kept, and the agreement carries the size.
  ring.SetWindowSize(100, 30);
  EXPECT_EQ(ring.TakeTelnetReplies(), "");
  const std::string ask = Cmd(DO, NAWS);
  ring.Feed(ask.data(), ask.size());
  EXPECT_EQ(ring.TakeTelnetReplies(), Cmd(WILL, NAWS) + Sub(std::string{static_cast<char>(NAWS), 0, 100, 0, 30}));
  // Agreed: each change once; the same size again is nothing; 255 is doubled.
  ring.SetWindowSize(100, 30);
  EXPECT_EQ(ring.TakeTelnetReplies(), "");
  ring.SetWindowSize(255, 40);
  EXPECT_EQ(ring.TakeTelnetReplies(), Sub(std::string{static_cast<char>(NAWS), 0, '\xFF', '\xFF', 0, 40}));
  // Refused later: nothing more goes out.
  const std::string stop = Cmd(DONT, NAWS);
  ring.Feed(stop.data(), stop.size());
  ring.TakeTelnetReplies();
  ring.SetWindowSize(120, 50);
  EXPECT_EQ(ring.TakeTelnetReplies(), "");
}

TEST(TelnetOptions, AHostOverIpv6IsCalledLikeAnyOther) {
  test::TDemoHost host;
  test::TTempDir home;
  EXPECT_FALSE(test::PassThatLogsOut(home.Path(), "telnet://[::1]:" + std::to_string(host.Port()) + "/").empty());
}

TEST(TelnetOptions, AHostThatWaitsForTheAnswersGetsThemAndThePassLogsIn) {
  test::TDemoHost host({"--negotiate-strict"});
  test::TTempDir home;
  EXPECT_FALSE(test::PassThatLogsOut(home.Path(), host.TelnetAddress(), [](THostEntry& e) { e.TerminalType = "ANSI"; }).empty());
  // The host was told the terminal type of the host entry and the window size.
  const std::string received = host.Received();
  EXPECT_NE(received.find("ANSI"), std::string::npos) << received.substr(0, 400);
}

}  // namespace
}  // namespace brelo
