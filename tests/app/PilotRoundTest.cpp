// Rounds as a server runs them at night: several passes at once, the sample
// host without a display, signals at every wait, and silence when nothing
// happened. The real program, the demo host.
#include <gtest/gtest.h>

#include <dirent.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QProcess>
#include <csignal>

#include "common/FileUtil.h"
#include "common/Sjis.h"
#include "hosts/HostTable.h"
#include "store/HostLock.h"
#include "store/MessageStore.h"
#include "support/DemoHost.h"
#include "support/TempDir.h"

namespace brelo {
namespace {

struct TRun {
  int exit = -1;
  std::string out, err;
};

TRun Round(const std::string& home, const QStringList& args, const QString& program = BRELO_PROGRAM,
           const QStringList& before = {}) {
  QProcess p;
  p.start(program, before + QStringList{"--home", QString::fromStdString(home)} + args);
  p.waitForFinished(120000);
  return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardOutput().toStdString(),
          p.readAllStandardError().toStdString()};
}

// Hosts titled A, B, ... at the addresses given, in the folders given.
void Hosts(const std::string& home, const std::vector<std::pair<std::string, std::string>>& addressFolder) {
  THostTable t;
  t.HostCount = static_cast<int>(addressFolder.size());
  for (size_t i = 0; i < addressFolder.size(); ++i) {
    t.HostTable[i] = THostTable::SampleEntry();
    t.HostTable[i].Title = std::string(1, static_cast<char>('A' + i));
    t.HostTable[i].Address = addressFolder[i].first;
    t.HostTable[i].FilePath = addressFolder[i].second;
    t.HostTable[i].UserID = "TARO";
    t.HostTable[i].Password = "taro";
  }
  t.SaveHostList(home);
}

size_t Find(const std::string& text, const std::string& part) { return text.find(part); }

TEST(ParallelRounds, PassesRunAtOnceOnePerFolderAndTheirLinesComeInHostOrder) {
  // A is slow to answer; B and C are over long before it. C shares B's
  // folder, so it waits for B rather than finding its folder in use.
  test::TDemoHost slow({"--message-pause", "150"});
  test::TDemoHost quick;
  test::TTempDir home;
  Hosts(home.Path(), {{slow.TelnetAddress(), "H0"}, {quick.TelnetAddress(), "H1"}, {quick.TelnetAddress(), "H1"}});
  const TRun r = Round(home.Path(), {"--pilot", "all", "--jobs", "3"});
  EXPECT_EQ(r.exit, 0) << r.out << r.err;
  // Each host's lines together, in the order of the round.
  const size_t a = Find(r.out, "brelo: A ("), aDone = Find(r.out, "brelo: 0 A: done (0)");
  const size_t b = Find(r.out, "brelo: B ("), bDone = Find(r.out, "brelo: 1 B: done (0)");
  const size_t c = Find(r.out, "brelo: C ("), cDone = Find(r.out, "brelo: 2 C: done (0); 0 new");
  ASSERT_NE(cDone, std::string::npos) << r.out;
  EXPECT_TRUE(a < aDone && aDone < b && b < bDone && bDone < c && c < cDone) << r.out;
  EXPECT_EQ(Find(r.out.substr(a, aDone - a), "brelo: B"), std::string::npos);
  EXPECT_NE(Find(r.out.substr(a, aDone - a), "ログアウトしました"), std::string::npos);
  EXPECT_NE(Find(r.out, "brelo: round of 3 hosts: 3 done; 24 new (4 mail); exit status 0"), std::string::npos)
      << r.out;
  TMessageStore store;
  store.HostFolder = home.Path() + "H0/";
  EXPECT_EQ(store.RecordCount(1), 7);
  store.HostFolder = home.Path() + "H1/";
  EXPECT_EQ(store.RecordCount(1), 7);  // B's; the host had nothing new for C
}

TEST(ParallelRounds, AHostNamedTwiceIsCalledOnceAndAQuietRoundWithNothingNewSaysNothing) {
  test::TDemoHost host, other;
  test::TTempDir home;
  Hosts(home.Path(), {{host.TelnetAddress(), "H0"}, {other.TelnetAddress(), "H1"}});
  TRun r = Round(home.Path(), {"--pilot", "0,A, 0", "--quiet"});
  EXPECT_EQ(r.exit, 0) << r.err;
  EXPECT_EQ(r.out, "brelo: 0 A: done (0); 12 new (2 mail), 0 already stored, 0 lost; 0 sent, 0 left in the box\n");
  EXPECT_EQ(other.Received(), "");
  // Nothing new, no failure: cron has nothing to mail.
  r = Round(home.Path(), {"--pilot", "all", "--quiet", "--jobs", "2"});
  EXPECT_EQ(r.exit, 0) << r.err;
  EXPECT_NE(r.out, "");  // B was new
  r = Round(home.Path(), {"--pilot", "all", "--quiet", "--jobs", "2"});
  EXPECT_EQ(r.exit, 0) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
  // A failure is told, with every summary.
  Hosts(home.Path(), {{host.TelnetAddress(), "H0"}, {"telnet://127.0.0.1:1/", "H1"}});
  r = Round(home.Path(), {"--pilot", "all", "--quiet"});
  EXPECT_EQ(r.exit, 1);
  EXPECT_NE(r.out.find("brelo: 0 A: done (0); 0 new"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("brelo: 1 B: no login (1)"), std::string::npos) << r.out;
}

TEST(ParallelRounds, SignalsEndTheWaitForAFolderInUseAndASecondSignalEndsTheProgram) {
  test::TDemoHost host;
  test::TTempDir home;
  Hosts(home.Path(), {{host.TelnetAddress(), "H0"}, {host.TelnetAddress(), "H1"}});
  THostLock window;  // as an open window holds the host it shows
  ASSERT_TRUE(window.Acquire(home.Path() + "H0/"));
  // A round that waits an hour for A's folder: what it printed up to the wait.
  const auto startWaiting = [&](QProcess& p) {
    p.start(BRELO_PROGRAM, {"--home", QString::fromStdString(home.Path()), "--pilot", "all", "--lock-wait", "3600"});
    std::string out;
    for (int i = 0; i < 300 && out.find("使用中") == std::string::npos; ++i) {
      p.waitForReadyRead(100);
      out += p.readAllStandardOutput().toStdString();
    }
    return out;
  };
  for (const int sig : {SIGTERM, SIGINT}) {
    QProcess p;
    std::string out = startWaiting(p);
    ASSERT_NE(out.find("使用中"), std::string::npos) << out;
    ::kill(static_cast<pid_t>(p.processId()), sig);
    ASSERT_TRUE(p.waitForFinished(30000));  // an hour's wait given, ended at once
    out += p.readAllStandardOutput().toStdString();
    EXPECT_EQ(p.exitCode(), 9) << out;
    EXPECT_NE(out.find("brelo: 0 A: stopped (9)"), std::string::npos) << out;
    EXPECT_NE(out.find("1 not called"), std::string::npos) << out;
    EXPECT_NE(p.readAllStandardError().toStdString().find("stopped before the host was called"), std::string::npos);
  }
  // Two signals at once: the first stops the round, the second the program.
  QProcess p;
  ASSERT_NE(startWaiting(p).find("使用中"), std::string::npos);
  const auto pid = static_cast<pid_t>(p.processId());
  ::kill(pid, SIGSTOP);  // both arrive before it runs again
  ::kill(pid, SIGTERM);
  ::kill(pid, SIGINT);
  ::kill(pid, SIGCONT);
  ASSERT_TRUE(p.waitForFinished(30000));
  EXPECT_EQ(p.exitStatus(), QProcess::CrashExit);
}

// The processes whose command line names `part`.
int ProcessesNaming(const std::string& part) {
  int n = 0;
  DIR* proc = ::opendir("/proc");
  while (dirent* e = proc != nullptr ? ::readdir(proc) : nullptr) {
    const auto cmdline = ReadWholeFile(std::string("/proc/") + e->d_name + "/cmdline");
    if (e->d_name[0] >= '1' && e->d_name[0] <= '9' && cmdline && cmdline->find(part) != std::string::npos) ++n;
  }
  if (proc != nullptr) ::closedir(proc);
  return n;
}

TEST(ParallelRounds, TheSampleHostIsStartedForTheRoundAndStoppedAfterIt) {
  // The sample's address is a fixed loopback port: the pass runs in a
  // network of its own, where that port is free.
  if (::system("unshare -n sh -c 'ip link set lo up' >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "no private network here (unshare -n, ip)";
  }
  test::TTempDir dir;
  const std::string home = dir.Path() + "fresh/";
  const TRun r = Round(home, {"--pilot", "all", "--timeout", "60"}, "/usr/bin/unshare",
                       {"-n", "sh", "-c", "ip link set lo up && exec \"$0\" \"$@\"", BRELO_PROGRAM});
  EXPECT_EQ(r.exit, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("デモホストを起動しました (127.0.0.1:2323"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("ログアウトしました"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("brelo: 0 デモ草の根ネット (練習用): done (0)"), std::string::npos) << r.out;
  EXPECT_EQ(ProcessesNaming(home + "demohost-data"), 0);  // stopped with the round
}


TEST(PilotMessages, EachLineSaysWhatHappenedAndNothingIsSaidTwice) {
  test::TTempDir home;
  // Refused: no login lines follow the connection error.
  Hosts(home.Path(), {{"telnet://127.0.0.1:1/", "H0"}});
  MakePath(home.Path() + "H0");
  test::WriteBytes(home.Path() + "H0/20200101.LOG", "a night long ago\r\n");  // pruned as the pass starts
  TRun r = Round(home.Path(), {"--pilot", "A"});
  EXPECT_EQ(r.exit, 1);
  EXPECT_FALSE(FileExists(home.Path() + "H0/20200101.LOG"));
  EXPECT_NE(r.out.find("古いセッションログを 1 個削除しました (20200101.LOG)"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("接続エラーが発生しました"), std::string::npos) << r.out;
  for (const char* never : {"ログインモード", "ID送出待機中", "ログアウトしました"}) {
    EXPECT_EQ(r.out.find(never), std::string::npos) << never << r.out;
  }
  // A line lost after the login, before the logout: no logout is claimed.
  test::TDemoHost dropping({"--drop-after-messages", "3"});
  Hosts(home.Path(), {{dropping.TelnetAddress(), "H0"}});
  r = Round(home.Path(), {"--pilot", "A"});
  EXPECT_EQ(r.exit, 4);
  EXPECT_NE(r.out.find("ログインしました"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("ログアウトしました"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("切断されました.."), std::string::npos) << r.out;
}

TEST(PilotMessages, AProgramFolderThatCannotBeWrittenNamesTheSystemsReasonOnce) {
  test::TDemoHost host;
  test::TTempDir dir;
  const std::string home = dir.Path() + "home/";
  MakePath(home);
  Hosts(home, {{host.TelnetAddress(), "H0"}, {host.TelnetAddress(), "H1"}});
  ASSERT_EQ(::chmod(THostTable::FileName(home).c_str(), 0644), 0);  // readable by the one below, as an admin set it up
  ASSERT_EQ(::chmod(home.c_str(), 0555), 0);
  // Permissions bind only a user without privileges: as root, run as nobody.
  QStringList before;
  QString program = BRELO_PROGRAM;
  if (::geteuid() == 0) {
    if (!FileExists("/usr/bin/setpriv")) GTEST_SKIP() << "running as root without setpriv: cannot drop privileges";
    ::chmod(dir.Path().c_str(), 0755);
    program = "/usr/bin/setpriv";
    before = {"--reuid=65534", "--regid=65534", "--clear-groups", BRELO_PROGRAM};
  }
  const TRun r = Round(home, {"--pilot", "all", "--quiet"}, program, before);
  EXPECT_EQ(r.exit, 6) << r.err;
  for (const std::string folder : {"H0/", "H1/"}) {
    const std::string said = "brelo: " + home + folder + " を作れません (アクセスが許可されていません)";
    const size_t at = r.err.find(said);
    EXPECT_NE(at, std::string::npos) << r.err;
    EXPECT_EQ(r.err.find(said, at + 1), std::string::npos) << r.err;  // once
  }
  EXPECT_EQ(r.err.find("Write.Dat"), std::string::npos) << r.err;
  EXPECT_EQ(host.Received(), "");  // never called
  ::chmod(home.c_str(), 0755);
}

}  // namespace
}  // namespace brelo
