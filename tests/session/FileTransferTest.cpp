// File transfers over the line against the demo host's library: every
// protocol lrzsz offers, both ways, over telnet and over the pty modem, a
// megabyte of random bytes arriving byte for byte; a cancelled download; a
// ZMODEM header inside a text that is no transfer, told by what follows it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <atomic>
#include <cstdio>
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
  // Waits for a text of the host on the terminal (the ring's recent lines).
  bool Shows(const std::string& utf8, int limitMs = 20000) {
    return WaitUntil(
        [&] {
          for (int i = std::max(0, c.LineIndex() - 20); i <= c.LineIndex(); ++i) {
            if (SjisToUtf8(c.Lines(i)).find(utf8) != std::string::npos) return true;
          }
          return false;
        },
        limitMs);
  }
  bool Ended(size_t n, int limitMs = 120000) {
    return WaitUntil([&] { return ends.size() >= n; }, limitMs);
  }
};

template <class THost>
void PutInLibrary(THost& host, const std::string& name, const std::string& bytes) {
  ::mkdir((host.DataFolder() + "files").c_str(), 0755);
  test::WriteBytes(host.DataFolder() + "files/" + name, bytes);
}

TTransferSession MakeSession(TDemoHost& host, bool modem, ProtType p) { return {host, modem, p}; }
TTransferSession MakeSession(test::TTelnetdHost& host, bool, ProtType p) { return {host.TelnetAddress(), p}; }

// Downloads and uploads `bytes` with the protocol; the host's library
// commands are typed at its main prompts, as a user types them.
template <class THost>
void BothWays(THost& host, bool modem, ProtType p, const std::string& bytes, ELineKind line = ELineKind::kAuto) {
  SCOPED_TRACE(ProtTypeName(p));
  PutInLibrary(host, "rand.bin", bytes);
  TTransferSession s = MakeSession(host, modem, p);
  s.c.Line = line;
  const bool zmodem = p == pr_ZMODEM;
  const char* kind = p <= pr_XMODEM_CRC_1024 ? "X" : p == pr_ZMODEM ? "" : "Y";
  s.r.script = {
      [&](TVeskoClient& c) { c.SendLine(std::string("D") + kind + " rand.bin"); },
      [&](TVeskoClient& c) { c.SendLine(std::string("UP") + kind + (p <= pr_XMODEM_CRC_1024 ? " up.bin" : "")); },
      [](TVeskoClient& c) {
        c.SendLine("Q");
        c.SendLine("");
      },
  };
  s.c.Connect();
  // ZMODEM starts by itself; the others after the host says it has begun.
  if (!zmodem) {
    ASSERT_TRUE(s.Shows("送信を開始します"));
    ASSERT_TRUE(s.c.StartDownload("rand.bin"));
  }
  ASSERT_TRUE(s.Ended(1));
  EXPECT_TRUE(s.ends[0].download);
  EXPECT_TRUE(s.ends[0].result.success) << s.ends[0].result.message;
  EXPECT_EQ(s.ends[0].result.done, std::vector<std::string>{"rand.bin"});
  EXPECT_TRUE(test::ReadBytes(s.c.DownloadFolder + "rand.bin") == bytes);
  const std::string upload = s.dir.Path() + "up.bin";
  test::WriteBytes(upload, bytes);
  ASSERT_TRUE(s.Shows("受信を開始します"));
  ASSERT_TRUE(s.c.StartUpload({upload}));
  ASSERT_TRUE(s.Ended(2));
  EXPECT_FALSE(s.ends[1].download);
  EXPECT_TRUE(s.ends[1].result.success) << s.ends[1].result.message;
  ASSERT_TRUE(s.r.WaitForEnd(60000));
  EXPECT_EQ(s.r.logouts, 1);  // the line went on after both transfers
  EXPECT_TRUE(host.DataFile("upload/up.bin") == bytes);
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
  const std::string bytes = RandomBytes(1 << 20, 2);
  for (ProtType p : {pr_XMODEM_SUM_128, pr_XMODEM_CRC_128, pr_XMODEM_CRC_1024, pr_YMODEM, pr_YMODEM_G}) {
    TDemoHost host;
    BothWays(host, false, p, bytes);
  }
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
  const std::string bytes = RandomBytes(1 << 20, 6);
  for (ProtType p : {pr_ZMODEM, pr_YMODEM, pr_XMODEM_CRC_1024}) {
    test::TTelnetdHost host;
    BothWays(host, false, p, bytes);
  }
}

TEST(FileTransfer, EveryProtocolBothWaysOverThePtyModem) {
  const std::string bytes = RandomBytes(1 << 20, 4);
  for (ProtType p : {pr_ZMODEM, pr_XMODEM_SUM_128, pr_XMODEM_CRC_128, pr_XMODEM_CRC_1024, pr_YMODEM, pr_YMODEM_G}) {
    TDemoHost host({"--modem"});
    BothWays(host, true, p, bytes);
  }
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
  // The program answered (its ZRINIT reached the peer), and was stopped by
  // the text after the header.
  EXPECT_FALSE(peer.ReadUntil("B01", 10000).empty());
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
