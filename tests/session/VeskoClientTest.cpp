// The session component: connect and disconnect, the session log, the line
// lost while connected.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "common/FileUtil.h"
#include "common/Sjis.h"
#include "session/SessionLog.h"
#include "session/VeskoClient.h"
#include "support/Loopback.h"
#include "support/TempDir.h"
#include "support/Wait.h"

namespace brelo {
namespace {

using test::WaitUntil;

struct TStatusLog {
  std::vector<std::string> lines;
  int disconnects = 0;
  void Attach(TVeskoClient& c) {
    c.OnStatusOut = [this](TVeskoClient*, const std::string& s) { lines.push_back(SjisToUtf8(s)); };
    c.OnDisConnect = [this](TVeskoClient*) { ++disconnects; };
  }
  bool Has(const std::string& utf8) const {
    for (const auto& l : lines)
      if (l == utf8) return true;
    return false;
  }
};

TEST(VeskoClientTest, DefaultsAndHostKindNames) {
  TVeskoClient c;
  EXPECT_EQ(c.HostKind, HK_vesko);
  EXPECT_EQ(c.ModemDialCommand, "ATD");
  EXPECT_EQ(c.CommRate, 9600);
  EXPECT_TRUE(c.ModemInitCommand.empty());
  EXPECT_TRUE(c.GetTelegram && c.GetMessage && c.GetMail);
  EXPECT_FALSE(c.StealthLogin || c.AutoReceiveMail || c.MakeLogFile);
  EXPECT_EQ(c.Mode(), sm_idle);
  EXPECT_EQ(c.ModemPort().SendNotifySize(), 2048);
  EXPECT_EQ(c.ModemPort().EventMask(), Bit(evRlsd));
  EXPECT_EQ(HostKindName(HK_ktbbs), "KTBBS");
  EXPECT_EQ(SjisToUtf8(HostKindName(HK_bigmodel)), "BIG-MODEL(未対応)");
  EXPECT_EQ(HostKindName(7), "");
}

TEST(VeskoClientTest, ConnectTwiceAndDisconnectWithoutSession) {
  test::TLoopbackPeer peer;
  TVeskoClient c;
  TStatusLog log;
  log.Attach(c);
  c.Disconnect();
  EXPECT_TRUE(log.Has("接続されていません"));
  EXPECT_EQ(log.disconnects, 0);
  int connects = 0;
  c.OnConnect = [&](TVeskoClient*) { ++connects; };
  c.Address = "telnet://127.0.0.1:" + std::to_string(peer.Port()) + "/";
  c.Connect();
  c.Connect();
  EXPECT_TRUE(log.Has("すでに接続されています"));
  EXPECT_EQ(connects, 1);
  ASSERT_TRUE(peer.Accept());
  c.Disconnect();
  EXPECT_EQ(log.disconnects, 1);
  ASSERT_TRUE(WaitUntil([&] { return !c.SessionRunning(); }));
  EXPECT_EQ(c.Mode(), sm_idle);
  EXPECT_TRUE(log.Has("接続に失敗しました"));  // ended during the login
  // Once both threads are gone, a new session can start.
  c.Connect();
  EXPECT_EQ(connects, 2);
  c.Disconnect();
}

TEST(VeskoClientTest, HostHangingUpIsALossOfTheLine) {
  test::TLoopbackPeer peer;
  TVeskoClient c;
  TStatusLog log;
  log.Attach(c);
  c.Address = "127.0.0.1:" + std::to_string(peer.Port());
  c.Connect();
  ASSERT_TRUE(peer.Accept());
  ASSERT_TRUE(WaitUntil([&] { return c.Connected() && c.TCPClient().State() == ssConnected; }));
  peer.HangUp();
  ASSERT_TRUE(WaitUntil([&] { return log.disconnects == 1; }));
  EXPECT_TRUE(log.Has("接続が切れました..127.0.0.1"));
  ASSERT_TRUE(WaitUntil([&] { return !c.SessionRunning(); }));
}

TEST(VeskoClientTest, RefusedConnectionReportsAConnectionError) {
  TVeskoClient c;
  TStatusLog log;
  log.Attach(c);
  c.Address = "telnet://127.0.0.1:" + std::to_string(test::ClosedPort()) + "/";
  c.Connect();
  ASSERT_TRUE(WaitUntil([&] { return log.disconnects == 1; }));
  EXPECT_TRUE(log.Has("接続エラーが発生しました..127.0.0.1"));
  ASSERT_TRUE(WaitUntil([&] { return !c.SessionRunning(); }));
  EXPECT_TRUE(log.Has("接続に失敗しました"));
}

TEST(VeskoClientTest, SessionLogAppendsConsumedLines) {
  test::TTempDir dir;
  test::TLoopbackPeer peer;
  const std::string name = dir.Path() + "logs/a.log";
  test::WriteBytes(dir.Path() + "logs-placeholder", "");
  for (int pass = 0; pass < 2; ++pass) {
    TVeskoClient c;
    c.MakeLogFile = true;
    c.LogFileName = name;
    c.Address = "127.0.0.1:" + std::to_string(peer.Port());
    c.Connect();
    EXPECT_TRUE(c.LogOpen());
    ASSERT_TRUE(peer.Accept());
    peer.Write("line " + std::to_string(pass) + "\r\n");
    ASSERT_TRUE(WaitUntil([&] { return test::ReadBytes(name).find("line " + std::to_string(pass)) != std::string::npos; }));
    c.Disconnect();
    // The work thread logs what it still consumes, then closes the log.
    EXPECT_TRUE(WaitUntil([&] { return !c.LogOpen(); }));
    peer.HangUp();
  }
  // Each pass begins with its mark.
  const std::vector<std::string> lines = SplitLines(test::ReadBytes(name));
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_TRUE(TSessionLog::IsPassMark(lines[0])) << lines[0];
  EXPECT_EQ(lines[1], "line 0");
  EXPECT_TRUE(TSessionLog::IsPassMark(lines[2])) << lines[2];
  EXPECT_EQ(lines[3], "line 1");
}

TEST(VeskoClientTest, DefaultLogNameGoesToTheProgramFolder) {
  test::TTempDir dir;
  TVeskoClient c;
  c.MakeLogFile = true;
  c.ProgramFolder = dir.Path();
  c.Address = "telnet://127.0.0.1:" + std::to_string(test::ClosedPort()) + "/";
  c.Connect();
  EXPECT_EQ(c.LogFileName.substr(0, dir.Path().size()), dir.Path());
  EXPECT_EQ(c.LogFileName.size(), dir.Path().size() + std::string("20261207_1234.LOG").size());
  EXPECT_TRUE(FileExists(c.LogFileName));
  c.Disconnect();
}

TEST(VeskoClientTest, UnwritableLogIsReportedAndTheSessionGoesOn) {
  test::TTempDir dir;
  test::WriteBytes(dir.File("plainfile"), "x");
  test::TLoopbackPeer peer;
  TVeskoClient c;
  TStatusLog log;
  log.Attach(c);
  c.MakeLogFile = true;
  c.LogFileName = dir.File("plainfile/logs/a.log");
  c.Address = "127.0.0.1:" + std::to_string(peer.Port());
  c.Connect();
  EXPECT_TRUE(log.Has("ログファイルを作成できません"));
  EXPECT_FALSE(c.LogOpen());
  ASSERT_TRUE(peer.Accept());
  ASSERT_TRUE(WaitUntil([&] { return c.Connected(); }));
  c.Disconnect();
}

TEST(SessionLogTest, AHostThatNeverStopsCannotFillTheDiskAndAFullDiskIsToldOnce) {
  test::TTempDir dir;
  TSessionLog log;
  log.SetLimit(100);
  ASSERT_TRUE(log.Open(dir.File("a.log")));
  for (int i = 0; i < 50; ++i) EXPECT_EQ(log.WriteLine("MAIN (A,C,E,N,Q,T,U,W,?)>"), 0);
  log.Close();
  const std::vector<std::string> lines = SplitLines(test::ReadBytes(dir.File("a.log")));
  ASSERT_EQ(lines.size(), 4u);  // three lines of 27 bytes, then the note
  EXPECT_NE(SjisToUtf8(lines.back()).find("記録していません"), std::string::npos);
  // The next pass starts its own count.
  ASSERT_TRUE(log.Open(dir.File("a.log")));
  EXPECT_EQ(log.WriteLine("next pass"), 0);
  log.Close();
  EXPECT_EQ(SplitLines(test::ReadBytes(dir.File("a.log"))).size(), 5u);
  // A log on a full disk: the failure comes back once, with its reason.
  test::TFullFile full(dir.File("full.log"));
  full.Now();
  ASSERT_TRUE(log.Open(dir.File("full.log")));
  EXPECT_EQ(log.WriteLine("x"), EFBIG);
  EXPECT_EQ(log.WriteLine("y"), 0);
  EXPECT_FALSE(log.IsOpen());
  // A log that is not a file of its own is never written through.
  test::WriteBytes(dir.File("target"), "kept\r\n");
  ASSERT_EQ(::symlink(dir.File("target").c_str(), dir.File("link.log").c_str()), 0);
  ASSERT_EQ(::mkfifo(dir.File("fifo.log").c_str(), 0600), 0);
  for (const std::string& path : {dir.File("link.log"), dir.File("fifo.log"), std::string("/dev/null")}) {
    EXPECT_FALSE(log.Open(path)) << path;
    EXPECT_EQ(log.WriteLine("x"), 0);  // nothing open, nothing written
  }
  EXPECT_EQ(test::ReadBytes(dir.File("target")), "kept\r\n");
}

TEST(VeskoClientTest, DestroyingDuringASessionEndsItSafely) {
  test::TLoopbackPeer peer;
  auto c = std::make_unique<TVeskoClient>();
  int statuses = 0;
  c->OnStatusOut = [&](TVeskoClient*, const std::string&) { ++statuses; };
  c->Address = "127.0.0.1:" + std::to_string(peer.Port());
  c->Connect();
  ASSERT_TRUE(peer.Accept());
  peer.Write(std::string(50000, 'x') + "\r\n");
  c.reset();  // the work thread may be waiting for the main thread right now
  test::ProcessEventsFor(50);
  SUCCEED();
}

}  // namespace
}  // namespace brelo
