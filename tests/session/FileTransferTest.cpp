// File transfers over the line against the demo host's library: every
// protocol lrzsz offers, both ways, over telnet and over the pty modem (the
// protocols side by side), ZMODEM over SSH, random bytes arriving byte for byte; a cancelled
// download; a ZMODEM header inside a text that is no transfer, told by what
// follows it.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "common/Sjis.h"
#include "session/TransferProgram.h"
#include "session/TransferStart.h"
#include "session/VeskoClient.h"
#include "support/DemoHost.h"
#include "support/Loopback.h"
#include "support/ProgramHost.h"
#include "support/SessionRecorder.h"
#include "support/SshdHost.h"
#include "support/TelnetdHost.h"
#include "support/TempDir.h"
#include "support/Wait.h"

namespace brelo {
namespace {

using test::TDemoHost;
using test::TSessionRecorder;
using test::WaitUntil;

// Random bytes with every byte the line treats specially in them.
std::string RandomBytes(size_t n, unsigned seed) {
  std::mt19937 g(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(g() & 0xFF);
  const std::string special = std::string("\xFF\xFF\x18\x11\x13\r\0\r\n\xFF", 10);
  s.replace(n / 2, special.size(), special);
  return s;
}

// A session against the demo host, its transfers recorded.
struct TTransferSession {
  test::TTempDir dir;
  TVeskoClient c;
  TSessionRecorder r{c};
  std::vector<TVeskoClient::TTransferEnd> ends;

  TTransferSession(TDemoHost& host, bool modem, ProtType p)
      : TTransferSession(modem ? "tel://0312345678/" : host.TelnetAddress(), p) {
    if (modem) c.ModemDevice = host.ModemLink();
  }
  TTransferSession(const std::string& address, ProtType p) {
    c.Address = address;
    c.UserID = "GUEST";
    c.HandleName = Sjis("ゲスト");
    c.DownloadFolder = dir.Path() + "DOWN/";
    c.ModemPort().Protocol = p;
    c.OnTransferEnd = [this](TVeskoClient*, const TVeskoClient::TTransferEnd& e) { ends.push_back(e); };
  }
  // Through sshd: its key known, the test's key to log in, nothing of the
  // account's own ssh folder or agent.
  TTransferSession(test::TSshdHost& host, ProtType p) : TTransferSession(host.Address(test::TSshdHost::UserName()), p) {
    c.SshKey = host.ClientKey();
    c.SshKnownHosts = dir.File("known_hosts");
    c.SshUserFolder = dir.Path() + "ssh/";
    c.SshAgentSocket.clear();
    test::WriteBytes(c.SshKnownHosts, host.KnownHostsLine());
  }
  // Whether a text of the host is on the terminal (the ring's recent lines).
  bool ShowsNow(const std::string& utf8) {
    for (int i = std::max(0, c.LineIndex() - 20); i <= c.LineIndex(); ++i) {
      if (SjisToUtf8(c.Lines(i)).find(utf8) != std::string::npos) return true;
    }
    return false;
  }
  // Waits for it.
  bool Shows(const std::string& utf8, int limitMs = 20000) {
    return WaitUntil([&] { return ShowsNow(utf8); }, limitMs);
  }
  // Waits for the n-th transfer's end; false at once when the session and
  // its transfer are over without it.
  bool Ended(size_t n, int limitMs = 120000) {
    WaitUntil([&] { return ends.size() >= n || (!c.SessionRunning() && !c.TransferRunning()); }, limitMs);
    if (ends.size() < n) test::ProcessEventsFor(20);  // an end posted on the transfer's way out
    return ends.size() >= n;
  }
};

template <class THost>
void PutInLibrary(THost& host, const std::string& name, const std::string& bytes) {
  ::mkdir((host.DataFolder() + "files").c_str(), 0755);
  test::WriteBytes(host.DataFolder() + "files/" + name, bytes);
}

TTransferSession MakeSession(TDemoHost& host, bool modem, ProtType p) { return {host, modem, p}; }
TTransferSession MakeSession(test::TTelnetdHost& host, bool, ProtType p) { return {host.TelnetAddress(), p}; }
TTransferSession MakeSession(test::TSshdHost& host, bool, ProtType p) { return {host, p}; }

// Downloads and uploads `bytes` with the protocol; the host's library
// commands are typed at its main prompts, as a user types them. A step at a
// time, so that several protocols run side by side, each with a host and a
// session of its own; a session that ends before its step is failed at once.
template <class THost>
class TBothWays {
 public:
  TBothWays(THost& host, bool modem, ProtType p, const std::string& bytes, ELineKind line)
      : host_(host), p_(p), bytes_(bytes), s_(MakeSession(host, modem, p)) {
    PutInLibrary(host, "rand.bin", bytes);
    s_.c.Line = line;
    const char* kind = p <= pr_XMODEM_CRC_1024 ? "X" : p == pr_ZMODEM ? "" : "Y";
    s_.r.script = {
        [=](TVeskoClient& c) { c.SendLine(std::string("D") + kind + " rand.bin"); },
        [=](TVeskoClient& c) { c.SendLine(std::string("UP") + kind + (p <= pr_XMODEM_CRC_1024 ? " up.bin" : "")); },
        [](TVeskoClient& c) {
          c.SendLine("Q");
          c.SendLine("");
        },
    };
    s_.c.Connect();
    // ZMODEM starts by itself; the others after the host says it has begun.
    step_ = p == pr_ZMODEM ? kDownloaded : kDownload;
  }
  TBothWays(const TBothWays&) = delete;
  TBothWays& operator=(const TBothWays&) = delete;

  // Takes the step that can be taken now; true once the pass is over.
  bool Poll() {
    SCOPED_TRACE(ProtTypeName(p_));
    switch (step_) {
      case kDownload:
        if (s_.ShowsNow("送信を開始します")) {
          if (!s_.c.StartDownload("rand.bin")) return Fail("the download did not start");
          step_ = kDownloaded;
        }
        break;
      case kDownloaded:
        if (s_.ends.size() >= 1) {
          EXPECT_TRUE(s_.ends[0].download);
          EXPECT_TRUE(s_.ends[0].result.success) << s_.ends[0].result.message;
          EXPECT_EQ(s_.ends[0].result.done, std::vector<std::string>{"rand.bin"});
          EXPECT_TRUE(test::ReadBytes(s_.c.DownloadFolder + "rand.bin") == bytes_);
          test::WriteBytes(s_.dir.Path() + "up.bin", bytes_);
          step_ = kUpload;
        }
        break;
      case kUpload:
        if (s_.ShowsNow("受信を開始します")) {
          if (!s_.c.StartUpload({s_.dir.Path() + "up.bin"})) return Fail("the upload did not start");
          step_ = kUploaded;
        }
        break;
      case kUploaded:
        if (s_.ends.size() >= 2) {
          EXPECT_FALSE(s_.ends[1].download);
          EXPECT_TRUE(s_.ends[1].result.success) << s_.ends[1].result.message;
          step_ = kLoggedOut;
        }
        break;
      case kLoggedOut:
        if (!s_.c.SessionRunning()) {
          test::ProcessEventsFor(20);  // what the session's threads posted on their way out
          EXPECT_EQ(s_.r.logouts, 1);  // the line went on after both transfers
          EXPECT_TRUE(host_.DataFile("upload/up.bin") == bytes_);
          step_ = kOver;
        }
        break;
      default:
        break;
    }
    // A session over before its pass leaves nothing more to wait for.
    if (step_ < kLoggedOut && !s_.c.SessionRunning() && !s_.c.TransferRunning()) {
      test::ProcessEventsFor(20);  // an end posted on the transfer's way out
      if (step_ != kUploaded || s_.ends.size() < 2) return Fail("the session ended first");
    }
    // Each step within a generous bound.
    const auto now = std::chrono::steady_clock::now();
    if (step_ != stepSeen_) {
      stepSeen_ = step_;
      stepSince_ = now;
    } else if (step_ != kOver && now - stepSince_ > std::chrono::seconds(120)) {
      return Fail("no progress for two minutes");
    }
    return step_ == kOver;
  }

 private:
  enum { kDownload, kDownloaded, kUpload, kUploaded, kLoggedOut, kOver };
  bool Fail(const std::string& why) {
    ADD_FAILURE() << ProtTypeName(p_) << ": " << why << " (step " << step_ << ")";
    step_ = kOver;
    return true;
  }
  THost& host_;
  const ProtType p_;
  const std::string& bytes_;
  TTransferSession s_;
  int step_ = kDownload;
  int stepSeen_ = -1;
  std::chrono::steady_clock::time_point stepSince_;
};

template <class THost>
void BothWays(THost& host, bool modem, ProtType p, const std::string& bytes, ELineKind line = ELineKind::kAuto) {
  TBothWays<THost> w(host, modem, p, bytes, line);
  WaitUntil([&] { return w.Poll(); }, 900000);  // each step is bounded
}

// Each protocol both ways at once, each against a demo host of its own.
// ZMODEM streams a megabyte through the line's flow control; the others
// wait for an answer to each block and carry 320 KiB, past the point where
// the block number wraps (256 blocks of 1 KiB).
template <class THost>
void SideBySide(bool modem, const std::vector<ProtType>& protocols, unsigned seed) {
  const std::string megabyte = RandomBytes(1 << 20, seed), blocks = RandomBytes(320 << 10, seed);
  std::vector<std::unique_ptr<THost>> hosts;
  std::vector<std::unique_ptr<TBothWays<THost>>> passes;
  for (ProtType p : protocols) {
    hosts.push_back(std::make_unique<THost>(modem ? std::vector<std::string>{"--modem"} : std::vector<std::string>{}));
    passes.push_back(std::make_unique<TBothWays<THost>>(*hosts.back(), modem, p, p == pr_ZMODEM ? megabyte : blocks,
                                                        ELineKind::kAuto));
  }
  WaitUntil(
      [&] {
        bool over = true;
        for (auto& w : passes) over = w->Poll() && over;
        return over;
      },
      900000);  // each step is bounded
}

TEST(FileTransfer, ZmodemBothWaysOverTelnetAndAFileThatExistsIsNotWrittenOver) {
  TDemoHost host;
  const std::string bytes = RandomBytes(1 << 20, 1);
  BothWays(host, false, pr_ZMODEM, bytes);
  // The same file again lands beside the first.
  TTransferSession s(host, false, pr_ZMODEM);
  ::mkdir(s.c.DownloadFolder.c_str(), 0700);
  test::WriteBytes(s.c.DownloadFolder + "rand.bin", "mine");
  s.r.script = {[](TVeskoClient& c) { c.SendLine("D rand.bin"); },
                [](TVeskoClient& c) {
                  c.SendLine("Q");
                  c.SendLine("");
                }};
  s.c.Connect();
  ASSERT_TRUE(s.Ended(1));
  EXPECT_EQ(test::ReadBytes(s.c.DownloadFolder + "rand.bin"), "mine");
  EXPECT_EQ(s.ends[0].result.files, std::vector<std::string>{"rand.bin.0"});
  EXPECT_TRUE(test::ReadBytes(s.c.DownloadFolder + "rand.bin.0") == bytes);
  ASSERT_TRUE(s.r.WaitForEnd(60000));
}

TEST(FileTransfer, EveryOtherProtocolBothWaysOverTelnet) {
  SideBySide<TDemoHost>(false, {pr_XMODEM_SUM_128, pr_XMODEM_CRC_128, pr_XMODEM_CRC_1024, pr_YMODEM, pr_YMODEM_G}, 2);
}

TEST(FileTransfer, WithoutBinaryModeTheTelnetRulesStillCarryEveryByte) {
  // This host speaks no telnet command first: its entry says it is telnet.
  TDemoHost host({"--no-binary"});
  BothWays(host, false, pr_ZMODEM, RandomBytes(1 << 20, 3), ELineKind::kTelnet);
}

TEST(FileTransfer, ThroughARealTelnetServerBinaryModeForTheTransferAndTextAfterIt) {
  // telnetd relays the host's pseudo-terminal; binary mode is asked for at
  // each start and given back after, so the lines after a transfer reach
  // the host once each and the session logs out.
  SideBySide<test::TTelnetdHost>(false, {pr_ZMODEM, pr_YMODEM, pr_XMODEM_CRC_1024}, 6);
}

TEST(FileTransfer, ZmodemBothWaysOverSshWithEveryByteAsItIs) {
  if (const std::string why = test::TSshdHost::Missing(); !why.empty()) GTEST_SKIP() << why;
  test::TSshdHost host;
  BothWays(host, false, pr_ZMODEM, RandomBytes(1 << 20, 7));
}

TEST(FileTransfer, EveryProtocolBothWaysOverThePtyModem) {
  SideBySide<TDemoHost>(true, {pr_ZMODEM, pr_XMODEM_SUM_128, pr_XMODEM_CRC_128, pr_XMODEM_CRC_1024, pr_YMODEM, pr_YMODEM_G}, 4);
}

// SIGINT ignored and blocked while it lives, as in a program started with
// `brelo &` from a script.
struct TInterruptIgnored {
  struct sigaction old {};
  sigset_t oldMask{};
  TInterruptIgnored() {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGINT, &ignore, &old);
    sigset_t block;
    sigemptyset(&block);
    sigaddset(&block, SIGINT);
    ::pthread_sigmask(SIG_BLOCK, &block, &oldMask);
  }
  ~TInterruptIgnored() {
    ::pthread_sigmask(SIG_SETMASK, &oldMask, nullptr);
    ::sigaction(SIGINT, &old, nullptr);
  }
};

TEST(TransferProgram, StartsWithEverySignalAsANewProgramHasItWhateverThisProcessIgnores) {
  TTransferProgram p;
  std::mutex m;
  std::string out;
  std::atomic<bool> ended{false};
  p.OnOutput = [&](const char* d, size_t n) {
    std::lock_guard<std::mutex> lk(m);
    out.append(d, n);
  };
  p.OnEnd = [&](const TTransferResult&) { ended = true; };
  std::string error;
  {
    TInterruptIgnored ignored;
    ASSERT_TRUE(p.Start({"grep", "-E", "^Sig(Blk|Ign):", "/proc/self/status"}, "/", true, error)) << error;
  }
  ASSERT_TRUE(WaitUntil([&] { return ended.load(); }));
  std::lock_guard<std::mutex> lk(m);
  unsigned long long blocked = ~0ULL, ignored = ~0ULL;
  ASSERT_EQ(std::sscanf(out.c_str(), "SigBlk: %llx SigIgn: %llx", &blocked, &ignored), 2) << out;
  EXPECT_EQ(blocked, 0u);
  EXPECT_EQ(ignored & 0x7FFFFFFF, 0u) << out;  // signals 1 to 31 (above them, the C library's own)
}

// A cancel in the middle of the pump's turn (as the program's report is
// read) still goes to the line; the sender's answer to it, arriving before
// the program has stopped, is the line's and never the program's.
TEST(TransferProgram, ACancelAlwaysReachesTheLineAndWhatFollowsItIsTheLinesNeverTheProgramsOwn) {
  test::TTempDir dir;
  ASSERT_EQ(::mkfifo((dir.Path() + "go").c_str(), 0600), 0);
  TTransferProgram p;
  std::mutex m;
  std::string line;
  std::atomic<bool> ended{false};
  TTransferResult result;
  p.OnOutput = [&](const char* d, size_t n) {
    std::lock_guard<std::mutex> lk(m);
    line.append(d, n);
  };
  p.OnProgress = [&](const TTransferProgress&) { p.Cancel(); };
  p.OnEnd = [&](const TTransferResult& r) {
    result = r;
    ended = true;
  };
  std::string error;
  // One process (builtins only), which the interrupt does not stop: it
  // reports, then waits until the test lets it go.
  ASSERT_TRUE(p.Start({"sh", "-c", "trap '' INT; echo 'Bytes received: 10/100' >&2; read x < go; exit 1"}, dir.Path(),
                      true, error))
      << error;
  const std::string cancel = std::string(10, '\x18') + std::string(10, '\b');
  ASSERT_TRUE(WaitUntil([&] {
    std::lock_guard<std::mutex> lk(m);
    return line == cancel;
  })) << "the cancel never reached the line";
  // The sender's cancel, its last subpacket's end and the host's prompt,
  // while the program still runs: the line's, in order.
  const std::string answer = cancel + std::string("\x18h\xe7\x06k\x18\xd1\r\nID: ", 13);
  p.Input(answer.data(), answer.size());
  EXPECT_EQ(p.TakeUnconsumed(), answer);
  // Let go, the program stops.
  ASSERT_TRUE(WaitUntil([&] {
    const int fd = ::open((dir.Path() + "go").c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    [[maybe_unused]] const ssize_t w = ::write(fd, "\n", 1);
    ::close(fd);
    return true;
  }));
  ASSERT_TRUE(WaitUntil([&] { return ended.load(); }));
  EXPECT_TRUE(result.cancelled);
  EXPECT_EQ(p.TakeUnconsumed(), "");
}

TEST(FileTransfer, ACancelledDownloadKeepsAPartFileAndTheLineGoesOnWithInterruptsIgnoredToo) {
  TInterruptIgnored ignored;
  TDemoHost host;
  PutInLibrary(host, "big.bin", RandomBytes(64 << 20, 5));
  TTransferSession s(host, false, pr_ZMODEM);
  s.r.script = {[](TVeskoClient& c) { c.SendLine("D big.bin"); },
                [](TVeskoClient& c) { c.SendLine("D big.bin"); },
                [](TVeskoClient& c) {
                  c.SendLine("Q");
                  c.SendLine("");
                }};
  s.c.Connect();
  ASSERT_TRUE(WaitUntil([&] { return s.c.TransferProgress().bytes > 0; }, 30000));
  s.c.CancelTransfer();
  ASSERT_TRUE(s.Ended(1, 30000));
  const TTransferResult& r = s.ends[0].result;
  EXPECT_FALSE(r.success);
  EXPECT_TRUE(r.cancelled);
  ASSERT_EQ(r.files, std::vector<std::string>{"big.bin.part"});
  EXPECT_TRUE(r.done.empty());  // never reported as downloaded
  struct stat st {};
  ASSERT_EQ(::stat((s.c.DownloadFolder + "big.bin.part").c_str(), &st), 0);
  EXPECT_GT(st.st_size, 0);
  EXPECT_LT(st.st_size, 64 << 20);
  // The host's next main prompt is answered: the same file again, cancelled
  // again, is kept beside the first part, which stays as it was.
  const std::string first = test::ReadBytes(s.c.DownloadFolder + "big.bin.part");
  ASSERT_TRUE(WaitUntil([&] { return s.c.TransferProgress().bytes > 0; }, 30000));
  s.c.CancelTransfer();
  ASSERT_TRUE(s.Ended(2, 30000));
  EXPECT_TRUE(s.ends[1].result.cancelled);
  EXPECT_EQ(s.ends[1].result.files, std::vector<std::string>{"big.bin.part.1"});
  EXPECT_TRUE(test::ReadBytes(s.c.DownloadFolder + "big.bin.part") == first);
  EXPECT_FALSE(test::ReadBytes(s.c.DownloadFolder + "big.bin.part.1").empty());
  // And the session logs out at the prompt after that.
  ASSERT_TRUE(s.r.WaitForEnd(60000));
  EXPECT_EQ(s.r.logouts, 1);
  // The status says it was cancelled and where the part is.
  for (const char* part : {"big.bin.part", "big.bin.part.1"}) {
    const std::string said = std::string("ダウンロード中止....") + part + " は途中までです (保存先: " + s.c.DownloadFolder + ")";
    EXPECT_TRUE(s.r.HasStatus(said)) << said;
  }
}

// lrzsz's sz on a raw TCP line, as a relay gives it: the host never speaks
// telnet, so nothing of telnet may reach it and its 0xFF bytes are data.
TEST(FileTransfer, AHostThatNeverSpokeTelnetGetsNoTelnetAndItsBytesArriveAsTheyAre) {
  test::TTempDir hostDir;
  const std::string bytes = RandomBytes(1 << 20, 7);
  test::WriteBytes(hostDir.Path() + "rand.bin", bytes);
  // What the host read is kept beside the file.
  test::TProgramHost host("printf 'file follows\\r\\n'; tee heard.bin | sz -b rand.bin", hostDir.Path());
  TTransferSession s(host.Address(), pr_ZMODEM);
  s.c.Connect();
  ASSERT_TRUE(s.Ended(1));
  EXPECT_TRUE(s.ends[0].result.success) << s.ends[0].result.message;
  EXPECT_EQ(s.ends[0].result.done, std::vector<std::string>{"rand.bin"});
  EXPECT_TRUE(test::ReadBytes(s.c.DownloadFolder + "rand.bin") == bytes);
  const std::string heard = test::ReadBytes(hostDir.Path() + "heard.bin");
  EXPECT_FALSE(heard.empty());
  for (const char verb : {'\xFB', '\xFC', '\xFD', '\xFE'}) {
    EXPECT_EQ(heard.find(std::string{'\xFF', verb, '\0'}), std::string::npos) << "a telnet command on a raw line";
  }
  s.c.Disconnect();
}

// A cancelled download through the raw relay: the sender's data still in
// flight never becomes text (no lines, no log, no prompt found in it); the
// host's next prompt, once sz has stopped, is answered.
TEST(FileTransfer, AfterACancelTheSendersDataInFlightIsDroppedAndTheNextPromptIsAnswered) {
  test::TTempDir hostDir;
  test::WriteBytes(hostDir.Path() + "big.bin", RandomBytes(16 << 20, 8));
  test::TProgramHost host(
      "printf 'ready\\r\\n'; sz -b big.bin; printf '\\r\\nLOGIN ID: '; read -r answer; "
      "printf '%s\\n' \"$answer\" > answer.txt; printf '\\r\\nthank you\\r\\n'; sleep 60",
      hostDir.Path());
  TTransferSession s(host.Address(), pr_ZMODEM);
  s.c.MakeLogFile = true;
  s.c.LogFileName = s.dir.Path() + "log/session.log";
  std::vector<std::string> lines;
  s.c.OnReceiveLine = [&](TVeskoClient*, const std::string& l) { lines.push_back(l); };
  s.c.Connect();
  ASSERT_TRUE(WaitUntil([&] { return s.c.TransferProgress().bytes > 0; }, 30000));
  s.c.CancelTransfer();
  ASSERT_TRUE(s.Ended(1, 30000));
  EXPECT_TRUE(s.ends[0].result.cancelled);
  // The login answer goes to the prompt after the transfer, and to it alone.
  ASSERT_TRUE(WaitUntil([&] { return test::ReadBytes(hostDir.Path() + "answer.txt").size() > 0; }, 30000))
      << "the prompt after the cancel was not answered";
  EXPECT_EQ(test::ReadBytes(hostDir.Path() + "answer.txt"), "GUEST\r\n");
  ASSERT_TRUE(s.Shows("thank you"));
  s.c.Disconnect();
  // Only the host's words: its text, sz's "rz" and the start of its header.
  const std::string header = "**B00000000000000";
  const auto text = [&](const std::string& l) {
    return l == "ready" || l == "rz" || l.empty() || l == "LOGIN ID: " || l == "thank you" ||
           (l.size() >= 2 && header.compare(0, l.size(), l) == 0);
  };
  EXPECT_GT(s.c.Ring().Drained(), 0u);
  for (const std::string& l : lines) {
    EXPECT_TRUE(text(l)) << "binary as a line: " << l.substr(0, 40);
  }
  const std::string log = test::ReadBytes(s.c.LogFileName);
  ASSERT_FALSE(log.empty());
  for (size_t at = 0; at < log.size();) {
    const size_t end = std::min(log.find("\r\n", at), log.size());
    const std::string l = log.substr(at, end - at);
    if ((l.empty() || l[0] != '(') && !TSessionLog::IsPassMark(l)) {
      EXPECT_TRUE(text(l)) << "binary in the log: " << l.substr(0, 40);
    }
    at = end + 2;
  }
}

// A ZRQINIT header as lrzsz writes it.
const std::string kZrqinit = std::string("**\x18" "B00000000000000\r\x8a\x11", 21);

TEST(FileTransfer, AZmodemHeaderFollowedByTextStartsNoTransferAndTheTextGoesOn) {
  test::TLoopbackPeer peer;
  test::TTempDir dir;
  TVeskoClient c;
  c.DownloadFolder = dir.Path() + "DOWN/";
  c.Address = "127.0.0.1:" + std::to_string(peer.Port());
  std::vector<std::string> lines;
  c.OnReceiveLine = [&](TVeskoClient*, const std::string& l) { lines.push_back(l); };
  bool ended = false;
  c.OnTransferEnd = [&](TVeskoClient*, const TVeskoClient::TTransferEnd&) { ended = true; };
  c.Connect();
  ASSERT_TRUE(peer.Accept());
  peer.Write("before\r\n" + kZrqinit + "after the header\r\nand more\r\n");
  // The program was started, and stopped by the text after the header with
  // the protocol's cancel (its own ZRINIT may or may not have gone first).
  const std::string cancel = std::string(10, '\x18') + std::string(10, '\b');
  EXPECT_NE(peer.ReadUntil(cancel, 10000).find(cancel), std::string::npos);
  // Lines reach the window one at a time: wait for the last one sent, not for
  // a count that an earlier line (the header's own text) may make up.
  const auto has = [&](const char* l) { return std::find(lines.begin(), lines.end(), l) != lines.end(); };
  ASSERT_TRUE(WaitUntil([&] { return !c.TransferRunning() && has("and more"); }, 20000));
  EXPECT_FALSE(ended);  // no transfer is reported
  EXPECT_EQ(lines.front(), "before");
  EXPECT_TRUE(has("after the header"));
  // Lines go on as before.
  peer.Write("later\r\n");
  ASSERT_TRUE(WaitUntil([&] { return lines.back() == "later"; }));
  c.Disconnect();
}

// An XMODEM or YMODEM receiver asks with "C", NAK or "G" at the start of a
// line; the host's text before it — its echo of the command, its answer
// that holds "[CRC]" — is no start, wherever the reads split it.
TEST(ReceiverStart, OnlyTheReceiversAskAfterTheHostsTextStartsAnUpload) {
  const std::string text = "UPX up.bin\r\n" + Sjis("受信を開始します (") + ProtTypeName(pr_XMODEM_CRC_1024) + ")\r\n";
  const size_t none = TReceiverStartWatch::kNone;
  const struct {
    std::string bytes;
    size_t start;
  } cases[] = {
      {text + "C", text.size()},
      {text + "CC", text.size()},
      {text + "\x15", text.size()},
      {"UPY\r\n" + Sjis("受信を開始します (YMODEM-G)") + "\r\nG", 5 + Sjis("受信を開始します (YMODEM-G)").size() + 2},
      {text + std::string("\r\0C", 3), text.size() + 2},  // a telnet line's CR NUL
      {text, none},
      {"C" + text, none},  // the rest of the command's line
  };
  for (const auto& c : cases) {
    for (size_t split = 0; split <= c.bytes.size(); ++split) {
      TReceiverStartWatch w("UPX");  // the command was answered on the host's prompt line
      size_t at = w.Find(c.bytes.data(), split);
      if (at == none) {
        const size_t rest = w.Find(c.bytes.data() + split, c.bytes.size() - split);
        at = rest == none ? none : split + rest;
      }
      EXPECT_EQ(at, c.start) << SjisToUtf8(c.bytes) << " split at " << split;
    }
  }
  // Begun after the host's answer ended its line, or after the receiver
  // had asked already (the sender starts once the answer shows): its next
  // ask starts the upload; begun inside the host's text, it does not.
  for (const auto& [line, start] : std::vector<std::pair<std::string, size_t>>{
           {"", 0}, {"C", 0}, {"CC", 0}, {"\x15", 0}, {"XMODEM [", none}, {"MAIN ", none}}) {
    TReceiverStartWatch w(line);
    EXPECT_EQ(w.Find("C", 1), start) << line;
  }
}

TEST(ZmodemStart, WhatFollowsTheHeaderTellsATransferFromATextWhereverTheReadsSplitIt) {
  using V = TZmodemFollowCheck::EVerdict;
  const std::string zfile = std::string("*\x18" "C\x04\x00\x00\x00\x00\x4b\x3a\x11\x22", 10) + "rand.bin";
  const std::string zsinitHex = std::string("**\x18" "B0900000000a87c\r\x8a\x11", 21);
  const std::string escapedType = std::string("*\x18" "A\x18\x52\x00", 6);  // ZCOMMAND, type escaped
  const struct {
    std::string after;
    V verdict;
  } cases[] = {
      // What senders send: the XON after the header, a ZRQINIT again ("rz" CR
      // first), ZSINIT in hex, ZFILE in binary, a cancel.
      {"\x11" + zfile, TZmodemFollowCheck::fvFrames},
      {"\x11\r\n" + std::string("rz\r") + kZrqinit + zfile, TZmodemFollowCheck::fvFrames},
      {zsinitHex, TZmodemFollowCheck::fvFrames},
      {escapedType, TZmodemFollowCheck::fvFrames},
      {std::string("\x18\x18\x18\x18\x18", 5), TZmodemFollowCheck::fvFrames},
      // A text: words, an empty line and a prompt, a row of stars, "rz" said
      // in a text, our own ZRINIT echoed back by a host.
      {"\x11" "after the header\r\n", TZmodemFollowCheck::fvText},
      {"\r\n\r\n> ", TZmodemFollowCheck::fvText},
      {"*****\r\n", TZmodemFollowCheck::fvText},
      {"rz is the receiver\r\n", TZmodemFollowCheck::fvText},
      {std::string("**\x18" "B0100000023be50\r\n", 20), TZmodemFollowCheck::fvText},
      {std::string("*\x18" "Dxyz", 6), TZmodemFollowCheck::fvText},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.after);
    for (size_t cut = 0; cut <= k.after.size(); ++cut) {
      TZmodemFollowCheck check;
      check.Feed(k.after.data(), cut);
      EXPECT_EQ(check.Feed(k.after.data() + cut, k.after.size() - cut), k.verdict) << "cut at " << cut;
    }
  }
  // Nothing after the header, or only what comes between frames: nothing is
  // decided yet, however long the sender takes.
  TZmodemFollowCheck check;
  EXPECT_EQ(check.Feed("", 0), TZmodemFollowCheck::fvUnknown);
  EXPECT_EQ(check.Feed("\x11\r\n\x13\0\x8a", 6), TZmodemFollowCheck::fvUnknown);
  EXPECT_EQ(check.Feed("**\x18", 3), TZmodemFollowCheck::fvUnknown);
  // A verdict stays.
  EXPECT_EQ(check.Feed("B04", 3), TZmodemFollowCheck::fvFrames);
  EXPECT_EQ(check.Feed("text", 4), TZmodemFollowCheck::fvFrames);
}

TEST(ZmodemStart, OnlyAWholeRightHeaderWhereverTheReadsSplitIt) {
  const std::string text = "text ** *" + kZrqinit + "rest";
  const size_t end = text.find(kZrqinit) + 20;  // after CR and 0x8A
  {
    TZmodemStartWatch w;
    EXPECT_EQ(w.Find(text.data(), text.size()), end);
  }
  for (size_t cut = 1; cut < text.size(); ++cut) {
    TZmodemStartWatch w;
    const size_t first = w.Find(text.data(), cut);
    const size_t second = first == TZmodemStartWatch::kNone ? w.Find(text.data() + cut, text.size() - cut) : first;
    EXPECT_EQ(first == TZmodemStartWatch::kNone ? cut + second : first, end) << "cut at " << cut;
  }
  TZmodemStartWatch w;
  // A wrong check, another frame type (ZRINIT) and half a header are text.
  for (const std::string& no : {std::string("**\x18" "B00000000000001\r\n", 20), std::string("**\x18" "B0100000023be50\r\n", 20),
                                std::string("**\x18" "B0000000000", 13)}) {
    EXPECT_EQ(w.Find(no.data(), no.size()), TZmodemStartWatch::kNone) << no;
    w.Reset();
  }
  // Three stars hold the header too; a telnet line's NUL after the CR is part of it.
  const std::string three = "*" + kZrqinit;
  EXPECT_EQ(w.Find(three.data(), three.size()), 21u);
  const std::string withNul = std::string("**\x18" "B00000000000000\r\0\x8a", 21);
  EXPECT_EQ(w.Find(withNul.data(), withNul.size()), 21u);
  EXPECT_EQ(w.HeaderBytes(), 21u);
}

}  // namespace
}  // namespace brelo
