// The TCP client against a peer on loopback.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <thread>
#include <vector>

#include "support/Loopback.h"
#include "support/Wait.h"
#include "transport/WSocket.h"

namespace brelo {
namespace {

using test::WaitUntil;

struct Recorder {
  std::vector<std::string> events;
  std::vector<int> errors;
  std::string data;
  void Attach(TTCPClient& c) {
    c.OnConnect = [this](TTCPClient*, int) { events.push_back("connect"); };
    c.OnClose = [this](TTCPClient* s, int) { events.push_back("close:" + std::to_string(s->State())); };
    c.OnError = [this](TCustomWSocket*, int code, const std::string& msg) {
      errors.push_back(code);
      events.push_back("error:" + msg);
    };
    c.OnData = [this](TTCPClient* s, int) {
      char buf[1024];
      int n = s->Receive(buf, sizeof buf);
      data.append(buf, static_cast<size_t>(n));
    };
  }
};

TEST(TCPClient, ConnectsSendsAndReceives) {
  test::TLoopbackPeer peer;
  TTCPClient c;
  Recorder r;
  r.Attach(c);
  c.SetHost("127.0.0.1");
  c.SetPort(std::to_string(peer.Port()));
  c.Connect();
  EXPECT_EQ(c.State(), ssConnecting);
  c.Connect();  // while connecting: nothing
  ASSERT_TRUE(peer.Accept());
  ASSERT_TRUE(WaitUntil([&] { return c.State() == ssConnected; }));
  EXPECT_EQ(r.events, std::vector<std::string>{"connect"});
  EXPECT_EQ(c.Send("hello", 5), 5);
  EXPECT_EQ(peer.ReadUntil("hello"), "hello");
  peer.Write("from host\r\n");
  ASSERT_TRUE(WaitUntil([&] { return r.data == "from host\r\n"; }));
  c.Close();
  EXPECT_EQ(c.State(), ssClosed);
}

TEST(TCPClient, RefusedReportsTheTableTextAndStaysConnectingUntilClose) {
  TTCPClient c;
  Recorder r;
  r.Attach(c);
  c.SetHost("127.0.0.1");
  c.SetPort(std::to_string(test::ClosedPort()));
  c.Connect();
  ASSERT_TRUE(WaitUntil([&] { return !r.errors.empty(); }));
  EXPECT_EQ(r.errors, std::vector<int>{10061});
  EXPECT_EQ(r.events.back(), "error:Connection refused");
  EXPECT_EQ(c.LastError(), 10061);
  EXPECT_EQ(c.State(), ssConnecting);
  c.Close();
  EXPECT_EQ(c.State(), ssClosed);
}

TEST(TCPClient, AnUnreachableNetworkIsReportedLikeARefusalAfterTheConnectStarted) {
  // The kernel refuses TCP to a broadcast address with ENETUNREACH before
  // anything is sent: the line's "network unreachable", on this machine.
  TTCPClient c;
  Recorder r;
  r.Attach(c);
  c.SetHost("255.255.255.255");
  c.SetPort("23");
  c.Connect();
  EXPECT_TRUE(r.errors.empty());  // not from inside Connect: from the main thread, later
  EXPECT_EQ(c.State(), ssConnecting);
  ASSERT_TRUE(WaitUntil([&] { return !r.errors.empty(); }));
  EXPECT_EQ(r.errors, std::vector<int>{10051});
  EXPECT_EQ(r.events.back(), "error:Network is unreachable");
  EXPECT_EQ(c.State(), ssConnecting);
  c.Close();
  EXPECT_EQ(c.State(), ssClosed);
  EXPECT_EQ(WinsockCodeFromErrno(ENETUNREACH), 10051);
}

TEST(TCPClient, AnIpv6AddressConnectsAndARefusalIsReportedAsForIpv4) {
  const int fd = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in6 a{};
  a.sin6_family = AF_INET6;
  a.sin6_addr = in6addr_loopback;
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 1) != 0) {
    if (fd >= 0) ::close(fd);
    GTEST_SKIP() << "no IPv6 loopback on this machine";
  }
  socklen_t len = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  TTCPClient c;
  Recorder r;
  r.Attach(c);
  c.SetHost("::1");
  c.SetPort(std::to_string(ntohs(a.sin6_port)));
  c.Connect();
  ASSERT_TRUE(WaitUntil([&] { return c.State() == ssConnected; }));
  const int peer = ::accept(fd, nullptr, nullptr);
  ASSERT_GE(peer, 0);
  ASSERT_EQ(::write(peer, "v6\r\n", 4), 4);
  ASSERT_TRUE(WaitUntil([&] { return r.data == "v6\r\n"; }));
  c.Close();
  ::close(peer);
  ::close(fd);  // nobody listens there now
  TTCPClient refused;
  Recorder rr;
  rr.Attach(refused);
  refused.SetHost("::1");
  refused.SetPort(std::to_string(ntohs(a.sin6_port)));
  refused.Connect();
  ASSERT_TRUE(WaitUntil([&] { return !rr.errors.empty(); }));
  EXPECT_EQ(rr.errors, std::vector<int>{10061});
  refused.Close();
}

TEST(TCPClient, PeerHangUpAndResetEndTheConnection) {
  for (bool reset : {false, true}) {
    test::TLoopbackPeer peer;
    TTCPClient c;
    Recorder r;
    r.Attach(c);
    c.SetHost("127.0.0.1");
    c.SetPort(std::to_string(peer.Port()));
    c.Connect();
    ASSERT_TRUE(peer.Accept());
    ASSERT_TRUE(WaitUntil([&] { return c.State() == ssConnected; }));
    peer.Write("last words\r\n");
    if (reset) {
      test::ProcessEventsFor(50);
      peer.Reset();
    } else {
      peer.HangUp();
    }
    ASSERT_TRUE(WaitUntil([&] { return c.State() == ssClosed; }));
    // OnClose comes while still connected, then the close sequence.
    EXPECT_EQ(r.events.back(), "close:3") << reset;
    EXPECT_TRUE(r.errors.empty()) << reset;
    EXPECT_EQ(r.data, "last words\r\n") << reset;
  }
}

TEST(TCPClient, NotificationsAfterCloseAreDropped) {
  test::TLoopbackPeer peer;
  TTCPClient c;
  Recorder r;
  r.Attach(c);
  c.SetHost("127.0.0.1");
  c.SetPort(std::to_string(peer.Port()));
  c.Connect();
  ASSERT_TRUE(peer.Accept());
  ASSERT_TRUE(WaitUntil([&] { return c.State() == ssConnected; }));
  peer.Write("late data");
  peer.HangUp();
  c.Close();  // before the main thread has seen the data or the hang-up
  test::ProcessEventsFor(100);
  EXPECT_EQ(r.data, "");
  EXPECT_EQ(r.events, std::vector<std::string>{"connect"});
}

TEST(TCPClient, ConnectAndCloseFromAnotherThread) {
  test::TLoopbackPeer peer;
  TTCPClient c;
  Recorder r;
  r.Attach(c);
  c.SetHost("127.0.0.1");
  c.SetPort(std::to_string(peer.Port()));
  std::thread([&] { c.Connect(); }).join();
  ASSERT_TRUE(peer.Accept());
  ASSERT_TRUE(WaitUntil([&] { return c.State() == ssConnected; }));
  std::thread([&] { c.Close(); }).join();
  EXPECT_EQ(c.State(), ssClosed);
  test::ProcessEventsFor(50);
  EXPECT_EQ(peer.ReadUntil("never", 200), "");  // the peer saw an orderly end
}

// A name whose addresses are the given ones, in this order.
TTCPClient::TResolver Addresses(const std::vector<TTCPAddress>& list) {
  return [list](const std::string&, const std::string&, std::vector<TTCPAddress>& out) {
    out = list;
    return 0;
  };
}

TEST(TCPClient, AnAddressThatDropsTheCallGivesWayToTheNextWhileItKeepsTrying) {
  test::TSilentListener silent;
  test::TLoopbackPeer peer;
  TTCPClient c;
  Recorder r;
  r.Attach(c);
  int unansweredAtConnect = -1;
  c.OnConnect = [&](TTCPClient*, int) {
    r.events.push_back("connect");
    unansweredAtConnect = test::UnansweredCallsTo(silent.Port());
  };
  c.Resolver = Addresses({{"127.0.0.1", silent.Port()}, {"127.0.0.1", peer.Port()}});
  c.SetHost("bbs.example");
  c.SetPort("23");
  c.Connect();
  EXPECT_EQ(c.State(), ssConnecting);
  ASSERT_TRUE(peer.Accept());  // long before the first call's own time-out
  ASSERT_TRUE(WaitUntil([&] { return c.State() == ssConnected; }));
  EXPECT_EQ(r.events, std::vector<std::string>{"connect"});
  EXPECT_EQ(unansweredAtConnect, 1);  // the first call was still under way
  EXPECT_EQ(test::UnansweredCallsTo(silent.Port()), 0);  // and is closed once the second won
  EXPECT_EQ(c.Send("hello", 5), 5);
  EXPECT_EQ(peer.ReadUntil("hello"), "hello");
  c.Close();
  EXPECT_EQ(c.State(), ssClosed);
}

TEST(TCPClient, ARefusedAddressGivesWayAtOnceAndOneErrorTellsThatAllFailed) {
  test::TLoopbackPeer peer;
  TTCPClient c;
  Recorder r;
  r.Attach(c);
  c.AttemptDelayMs = 24 * 3600 * 1000;  // only a failure can start the next call
  c.Resolver = Addresses({{"127.0.0.1", test::ClosedPort()}, {"127.0.0.1", peer.Port()}});
  c.SetHost("bbs.example");
  c.SetPort("23");
  c.Connect();
  ASSERT_TRUE(peer.Accept());
  ASSERT_TRUE(WaitUntil([&] { return c.State() == ssConnected; }));
  EXPECT_EQ(r.events, std::vector<std::string>{"connect"});
  c.Close();

  TTCPClient all;
  Recorder ra;
  ra.Attach(all);
  all.AttemptDelayMs = 24 * 3600 * 1000;
  // The broadcast address fails at once with "network unreachable" (nothing
  // is sent), after the refusals: the refusal says more about the host.
  all.Resolver = Addresses({{"127.0.0.1", test::ClosedPort()}, {"127.0.0.1", test::ClosedPort()},
                            {"255.255.255.255", 23}});
  all.SetHost("bbs.example");
  all.SetPort("23");
  all.Connect();
  ASSERT_TRUE(WaitUntil([&] { return !ra.errors.empty(); }));
  EXPECT_EQ(ra.errors, std::vector<int>{10061});
  EXPECT_EQ(all.State(), ssConnecting);  // until the owner closes, as for one address
  all.Close();
  EXPECT_EQ(all.State(), ssClosed);
  EXPECT_EQ(ra.errors.size(), 1u);

  TTCPClient none;
  Recorder rn;
  rn.Attach(none);
  none.Resolver = [](const std::string&, const std::string&, std::vector<TTCPAddress>&) { return 11001; };
  none.SetHost("bbs.example");
  none.SetPort("23");
  none.Connect();
  EXPECT_EQ(rn.errors, std::vector<int>{11001});
  EXPECT_EQ(none.State(), ssClosed);
}

TEST(TCPClient, CloseFromAnotherThreadEndsEveryCallStillUnderWay) {
  test::TSilentListener first, second;
  TTCPClient c;
  Recorder r;
  r.Attach(c);
  c.Resolver = Addresses({{"127.0.0.1", first.Port()}, {"127.0.0.1", second.Port()}});
  c.SetHost("bbs.example");
  c.SetPort("23");
  std::thread([&] { c.Connect(); }).join();
  ASSERT_TRUE(WaitUntil([&] {
    return test::UnansweredCallsTo(first.Port()) == 1 && test::UnansweredCallsTo(second.Port()) == 1;
  }));
  std::thread([&] { c.Close(); }).join();
  EXPECT_EQ(c.State(), ssClosed);
  ASSERT_TRUE(WaitUntil([&] {
    return test::UnansweredCallsTo(first.Port()) == 0 && test::UnansweredCallsTo(second.Port()) == 0;
  }));
  EXPECT_TRUE(r.events.empty());
}

TEST(TCPClient, TheFamiliesTakeTurnsSoASilentIpv6HostIsReachedOverIpv4) {
  if (!test::HaveIpv6Loopback()) GTEST_SKIP() << "no IPv6 loopback on this machine";
  test::TSilentListener silent6(true);
  test::TLoopbackPeer peer4;
  const int fd6 = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in6 a{};
  a.sin6_family = AF_INET6;
  a.sin6_addr = in6addr_loopback;
  socklen_t len = sizeof a;
  ASSERT_EQ(::bind(fd6, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  ASSERT_EQ(::listen(fd6, 1), 0);
  ::getsockname(fd6, reinterpret_cast<sockaddr*>(&a), &len);
  TTCPClient c;
  Recorder r;
  r.Attach(c);
  // In the resolver's order the second IPv6 address would come next; taking
  // turns, IPv4 does.
  c.Resolver = Addresses({{"::1", silent6.Port()}, {"::1", ntohs(a.sin6_port)}, {"127.0.0.1", peer4.Port()}});
  c.SetHost("bbs.example");
  c.SetPort("23");
  c.Connect();
  ASSERT_TRUE(peer4.Accept());
  ASSERT_TRUE(WaitUntil([&] { return c.State() == ssConnected; }));
  pollfd p{fd6, POLLIN, 0};
  EXPECT_EQ(::poll(&p, 1, 0), 0);  // never called: the first to answer ended the round
  c.Close();
  ::close(fd6);

  EXPECT_EQ(InterleaveFamilies({AF_INET6, AF_INET6, AF_INET6, AF_INET, AF_INET}),
            (std::vector<size_t>{0, 3, 1, 4, 2}));
  EXPECT_EQ(InterleaveFamilies({AF_INET, AF_INET6, AF_INET6}), (std::vector<size_t>{0, 1, 2}));
}

TEST(TCPClient, NamesPortsAndErrors) {
  EXPECT_EQ(TCustomWSocket::ErrorText(10061), "Connection refused");
  EXPECT_EQ(TCustomWSocket::ErrorText(11001), "Host not found");
  EXPECT_EQ(TCustomWSocket::ErrorText(12345), "Not a Winsock error");
  TTCPClient c;
  Recorder r;
  r.Attach(c);
  c.SetHost("no-such-host.invalid");
  c.SetPort("23");
  c.Connect();
  ASSERT_EQ(r.errors.size(), 1u);
  EXPECT_TRUE(r.errors[0] == 11001 || r.errors[0] == 11002) << r.errors[0];
  EXPECT_EQ(c.State(), ssClosed);
  c.SetHost("127.0.0.1");
  c.SetPort("no-such-service");
  c.Connect();
  EXPECT_EQ(r.errors.back(), 10022);  // reported, never thrown
  EXPECT_EQ(WinsockCodeFromErrno(ECONNRESET), 10054);
  EXPECT_EQ(WinsockCodeFromErrno(EHOSTUNREACH), 10065);
}

}  // namespace
}  // namespace brelo
