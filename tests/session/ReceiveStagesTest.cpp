// Each stage of the receive path alone, bytes in and events out, against
// golden transcripts, fed whole and split at every offset; then the ring,
// where the stages meet.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/Sjis.h"
#include "session/EscapeFilter.h"
#include "session/LineBuilder.h"
#include "session/LineRing.h"
#include "session/TelnetStage.h"
#include "session/TransferDrain.h"
#include "session/TransferStart.h"

namespace brelo {
namespace {

using namespace telnet;
using namespace std::string_literals;

std::string Cmd(unsigned char verb, unsigned char option) {
  return {static_cast<char>(IAC), static_cast<char>(verb), static_cast<char>(option)};
}

// Every split of `in` into two reads must give what the whole read gives.
template <class F>
void AtEveryOffset(const std::string& in, F run) {
  const auto whole = run(std::vector<std::string>{in});
  for (size_t at = 1; at < in.size(); ++at) {
    EXPECT_EQ(run(std::vector<std::string>{in.substr(0, at), in.substr(at)}), whole) << "split at " << at;
  }
}

struct TCollect : IByteSink {
  std::string bytes;
  size_t Put(const char* p, size_t n) override {
    bytes.append(p, n);
    return n;
  }
};

// ------------------------------------------------------------------ telnet

struct TTelnetRun {
  std::string data, replies;
  bool telnet = false;
  bool operator==(const TTelnetRun&) const = default;
};

TTelnetRun Telnet(const std::vector<std::string>& reads, ELineKind kind, bool transfer, bool tcp = true) {
  TTelnetStage s;
  s.Reset(kind);
  s.SetTcp(tcp);
  s.SetAnswers(true);
  if (transfer) s.BeginTransfer();
  TCollect out;
  for (const std::string& r : reads) {
    const size_t took = transfer ? s.Transfer(r.data(), r.size(), out) : s.Text(r.data(), r.size(), out);
    EXPECT_EQ(took, r.size());
  }
  return {out.bytes, s.Replies(), s.TelnetKnown()};
}

TEST(TelnetStage, TextTakesCommandsOutAndTelnetdsLineEndsAreOneEach) {
  // telnetd sends a line end as CR NUL CR LF; a bare carriage return is CR
  // NUL; IAC IAC is a byte text has no use for.
  const std::string in = "Welcome\r\n" + Cmd(WILL, ECHO) + "ID: a\xFF\xFF" "b\r\0\r\nbare\r\0more\r\n\r\n"s +
                         Cmd(DO, BINARY) + "\0end"s;
  const auto run = [](const std::vector<std::string>& r) { return Telnet(r, ELineKind::kAuto, false); };
  const TTelnetRun r = run({in});
  EXPECT_EQ(r.data, "Welcome\r\nID: ab\r\nbare\rmore\r\n\r\n\0end"s);
  EXPECT_EQ(r.replies, Cmd(DO, ECHO) + Cmd(WONT, BINARY));
  EXPECT_TRUE(r.telnet);
  AtEveryOffset(in, run);
}

TEST(TelnetStage, ARawLineHasNoTelnetAndAnUnknownOneLearnsItFromTheFirstIac) {
  const std::string in = "a\r\0b"s + Cmd(DO, ECHO) + "c";
  const auto raw = [](const std::vector<std::string>& r) { return Telnet(r, ELineKind::kRaw, false); };
  EXPECT_EQ(raw({in}), (TTelnetRun{"a\r\0b\xFD\x01" "c"s, "", false}));
  AtEveryOffset(in, raw);
  // Unknown, without an IAC: nothing changes and nothing is answered.
  const std::string plain = "a\r\0b\r\n"s;
  EXPECT_EQ(Telnet({plain}, ELineKind::kAuto, false), (TTelnetRun{plain, "", false}));
}

TEST(TelnetStage, ATransferOnALineThatNeverSpokeTelnetKeepsEveryByte) {
  // Bytes that would be commands and CR NUL go through as they are.
  const std::string in = "**\x18" "B0\r\0"s + Cmd(DO, BINARY) + "\xFF\xFF\r\n" + Cmd(WILL, ECHO);
  const auto run = [](const std::vector<std::string>& r) { return Telnet(r, ELineKind::kAuto, true); };
  EXPECT_EQ(run({in}), (TTelnetRun{in, "", false}));
  AtEveryOffset(in, run);
  // Over a modem the same, even on a line known as telnet.
  EXPECT_EQ(Telnet({in}, ELineKind::kTelnet, true, false).data, in);
  // A line named raw, even where a line not yet known would take the
  // host's request for binary mode (before the transfer's first frame).
  const std::string asks = Cmd(DO, BINARY) + "\xFF\xFF" + Cmd(WILL, BINARY) + "**\x18" "B0";
  EXPECT_EQ(Telnet({asks}, ELineKind::kRaw, true), (TTelnetRun{asks, "", false}));
}

TEST(TelnetStage, AHostThatAsksForBinaryAsItsTransferStartsIsAgreedWithAndSpeaksTelnet) {
  const std::string in = Cmd(DO, BINARY) + Cmd(WILL, BINARY) + "x\xFF\xFFy\r\0z"s;
  const auto run = [](const std::vector<std::string>& r) { return Telnet(r, ELineKind::kAuto, true); };
  // Binary both ways: IAC IAC is 0xFF, CR NUL stays (the host sends in binary).
  EXPECT_EQ(run({in}), (TTelnetRun{"x\xFFy\r\0z"s, Cmd(WILL, BINARY) + Cmd(DO, BINARY), true}));
  AtEveryOffset(in, run);
  // After the host's words about the transfer, before its program's first
  // frame, too; once a frame began, 0xFF is data.
  const std::string words = Sjis("受信を開始します") + "\r\n";
  const std::string late = words + Cmd(DO, BINARY) + "**\x18" "B01" + Cmd(WILL, BINARY);
  EXPECT_EQ(run({late}), (TTelnetRun{words + "**\x18" "B01", Cmd(WILL, BINARY) + Cmd(DO, BINARY), true}));
  AtEveryOffset(late, run);
  const std::string framed = words + "\x01" + Cmd(DO, BINARY);
  EXPECT_EQ(run({framed}), (TTelnetRun{framed, "", false}));
  // Outside a transfer the same requests are refused.
  EXPECT_EQ(Telnet({Cmd(DO, BINARY) + Cmd(WILL, BINARY)}, ELineKind::kAuto, false).replies,
            Cmd(WONT, BINARY) + Cmd(DONT, BINARY));
}

TEST(TelnetStage, ATelnetLineAsksForBinaryAtATransferAndGivesItBackAfter) {
  TTelnetStage s;
  s.Reset(ELineKind::kTelnet);
  s.SetAnswers(true);
  s.BeginTransfer();
  EXPECT_EQ(s.Replies(), Cmd(DO, BINARY) + Cmd(WILL, BINARY));
  s.Replies().clear();
  TCollect out;
  const std::string in = Cmd(WILL, BINARY) + Cmd(DO, BINARY) + "a\r\0b\xFF\xFF"s;
  s.Transfer(in.data(), in.size(), out);
  // The host agreed (no answer to an agreement): it sends in binary, so CR NUL stays.
  EXPECT_EQ(out.bytes, "a\r\0b\xFF"s);
  EXPECT_EQ(s.Replies(), "");
  s.EndTransfer();
  EXPECT_EQ(s.Replies(), Cmd(DONT, BINARY) + Cmd(WONT, BINARY));
  // An unknown line that stayed so asks for nothing and gives nothing back.
  TTelnetStage u;
  u.Reset(ELineKind::kAuto);
  u.SetAnswers(true);
  u.BeginTransfer();
  u.EndTransfer();
  EXPECT_EQ(u.Replies(), "");
}

TEST(TelnetStage, ATransferOnATelnetLineOutsideBinaryTakesCrNulAsCr) {
  const std::string in = "a\r\0b\0c\xFF\xFF\r"s + Cmd(WILL, SGA) + "\0d"s;
  const auto run = [](const std::vector<std::string>& r) { return Telnet(r, ELineKind::kTelnet, true); };
  EXPECT_EQ(run({in}).data, "a\rb\0c\xFF\rd"s);
  AtEveryOffset(in, run);
}

// ------------------------------------------------------------ escape filter

struct TTextEvents : ITextSink {
  std::string events;  // text, and "<fg,bg,bold,reverse>" where the painting changes
  TTextAttr attr;
  size_t Text(const char* p, size_t n) override {
    events.append(p, n);
    return n;
  }
  const TTextAttr& Attr() const override { return attr; }
  void SetAttr(const TTextAttr& a) override {
    attr = a;
    events += "<" + std::to_string(a.fg) + "," + std::to_string(a.bg) + "," + std::to_string(a.bold) + "," +
              std::to_string(a.reverse) + ">";
  }
};

std::string Filtered(const std::vector<std::string>& reads, bool remove = true) {
  TEscapeFilter f;
  f.SetRemoval(remove);
  TTextEvents out;
  for (const std::string& r : reads) EXPECT_EQ(f.Put(r.data(), r.size(), out), r.size());
  return out.events;
}

TEST(EscapeFilter, ControlStringsGoWholeWithTheSequencesAndLeaveTheColours) {
  // A window title (OSC, BEL and ST ends), a hyperlink, a DCS reply, an
  // APC; colours around them; a string a host never ended stops at the line end.
  const std::string in = "\x1b[1;31ma\x1b]0;" + Sjis("題名") + "\x07" "b\x1b]8;;http://x/\x1b\\link\x1b]8;;\x1b\\" +
                         "\x1bP1$r0m\x1b\\c\x1b_app\x1b\\\x1b[0md\x1b]2;unended\r\ne\x1b]0;t\x1b[32mf";
  const auto run = [](const std::vector<std::string>& r) { return Filtered(r); };
  EXPECT_EQ(run({in}), "<1,255,1,0>ablinkc<255,255,0,0>d\r\ne<2,255,0,0>f");
  AtEveryOffset(in, run);
  // Off, everything goes on (the lines drop ESC alone).
  EXPECT_EQ(Filtered({in}, false), in);
}

// ------------------------------------------------------------------- lines

struct TLines : ILineEnd {
  std::vector<std::string> lines;
  int room = 1000;
  bool EndLine(std::string& line, std::vector<TAttrRun>& runs) override {
    if (room == 0) return false;
    --room;
    lines.push_back(line);
    runs.clear();
    return true;
  }
};

TEST(LineBuilder, TabBackspaceAndCrAndAFullRingStopsAtTheLineEnd) {
  TLines end;
  TLineBuilder b(end);
  const std::string in = "abc\t|\r" + Sjis("aあ") + "\b\r\x01x\x1b\n\xFFy\rnext";
  EXPECT_EQ(b.Text(in.data(), in.size()), in.size());
  EXPECT_EQ(end.lines, (std::vector<std::string>{"abc   |", "a", "xy"}));
  EXPECT_EQ(b.Partial(), "next");
  // No room: the CR and what follows are not taken, and nothing changes.
  end.room = 0;
  const std::string more = "!\rafter";
  EXPECT_EQ(b.Text(more.data(), more.size()), 1u);
  EXPECT_EQ(b.Partial(), "next!");
  end.room = 1;
  EXPECT_EQ(b.Text(more.data() + 1, more.size() - 1), more.size() - 1);
  EXPECT_EQ(end.lines.back(), "next!");
  EXPECT_EQ(b.Partial(), "after");
}

// ---------------------------------------------------------- transfer watch

const std::string kZrqinit = std::string("**\x18" "B00000000000000\r\x8a", 20);

TEST(TransferWatch, TextGoesOnAndAHeaderIsHeldWhereverTheReadsSplitIt) {
  const std::string in = "text ** *" + kZrqinit + "\x11rest";
  const size_t end = in.find(kZrqinit) + kZrqinit.size();
  const auto run = [&](const std::vector<std::string>& reads) {
    TTransferWatch w;
    w.SetOn(true);
    TCollect text;
    std::string header;
    size_t at = 0;
    for (const std::string& r : reads) {
      const size_t took = w.Put(r.data(), r.size(), text);
      if (w.Found()) {
        header = w.TakeHeader();
        at += took;
        break;
      }
      at += took;
    }
    // What went on as text and what was held make the text up to the header's line feed.
    return std::make_pair(text.bytes + header, at);
  };
  EXPECT_EQ(run({in}), std::make_pair(in.substr(0, end - 1), end));
  AtEveryOffset(in, run);
}

// ------------------------------------------------------------------- drain

struct TDrained {
  size_t sender = 0;  // bytes taken as the sender's
  std::string text;   // given back, then the rest
  bool operator==(const TDrained&) const = default;
};

TDrained Drain(const std::vector<std::string>& reads, bool quietAtEnd = false) {
  TTransferDrain d;
  d.Start();
  TDrained r;
  for (const std::string& read : reads) {
    if (!d.Active()) {
      r.text += read;
      continue;
    }
    const size_t took = d.Put(read.data(), read.size());
    r.sender += took;
    if (!d.Active()) r.text += d.TakeText() + read.substr(took);
  }
  if (quietAtEnd) {
    d.Stop();
    r.text += d.TakeText();
  }
  return r;
}

std::string SomeData() {
  std::string s;
  for (int i = 0; i < 600; ++i) s += static_cast<char>((i * 151 + 7) & 0xFF);
  // ZMODEM data never holds CAN unescaped.
  for (char& c : s) {
    if (c == '\x18') c = 'X';
  }
  return s;
}

TEST(TransferDrain, TheSendersCancelAndItsLastSubpacketEndAreItsAndTheTextAfterIsNot) {
  // What lrzsz's sz sends when it is cancelled: ten CAN, ten backspaces,
  // then the end of an empty data subpacket (ZCRCG, CRC-32, 0x91 escaped).
  const std::string cancel = std::string(10, '\x18') + std::string(10, '\b') + std::string("\x18h\xe7\x06k\x18\xd1", 7);
  const std::string in = SomeData() + cancel + "\r\nID: ";
  const auto run = [](const std::vector<std::string>& r) { return Drain(r); };
  EXPECT_EQ(run({in}), (TDrained{in.size() - 6, "\r\nID: "}));
  AtEveryOffset(in, run);
  // A CRC-16 subpacket end, and none at all, do as well.
  const std::string crc16 = SomeData() + std::string(8, '\x18') + "\x18i" + "\xfd\x8f" "ok";  // CRC-16 of "i"
  EXPECT_EQ(Drain({crc16}).text, "ok");
  EXPECT_EQ(Drain({SomeData() + std::string(5, '\x18') + "MAIN>"}).text, "MAIN>");
  // A word after the cancel that only begins like a subpacket end is text.
  EXPECT_EQ(Drain({SomeData() + std::string(5, '\x18') + "\x18hello"}).text, "hello");
}

TEST(TransferDrain, ASenderThatStopsWithoutAWordIsOverAfterTheQuietSpellAndZfinEndsItToo) {
  EXPECT_EQ(Drain({SomeData(), SomeData()}, true), (TDrained{1200, ""}));
  // ZFIN, then "OO": the words after are text.
  const std::string fin = SomeData() + std::string("**\x18" "B0800000000022d\r\x8a", 20) + "OOMAIN>";
  EXPECT_EQ(Drain({fin}).text, "MAIN>");
}

// -------------------------------------------------------------------- ring

std::vector<std::string> RingLines(TLineRing& ring) {
  std::vector<std::string> out;
  while (ring.LineWaiting()) out.push_back(ring.Take());
  out.push_back("[" + ring.Line(ring.LineIndex()) + "]");
  return out;
}

TEST(ReceiveChain, TelnetdsLineEndsGiveNoBlankLines) {
  // The line is telnet (its first IAC); each line end is CR NUL CR LF.
  const std::string in = Cmd(DO, TTYPE) + "one\r\0\r\ntwo\r\0\r\n\r\0\r\nID: "s;
  const auto run = [](const std::vector<std::string>& reads) {
    TLineRing ring;
    ring.ResetIndexes();
    for (const std::string& r : reads) ring.Feed(r.data(), r.size());
    return RingLines(ring);
  };
  EXPECT_EQ(run({in}), (std::vector<std::string>{"one", "two", "", "[ID: ]"}));
  AtEveryOffset(in, run);
}

TEST(ReceiveChain, AFalseZmodemStartLeavesTheTextAndItsLineEndsAsTheyWere) {
  // The header inside a line of text; the program finds text after it and
  // the ring is handed back what went to it.
  const std::string header = std::string("**\x18" "B00000000000000\r\n", 20);
  const std::string in = "before\r\nsee " + header + "\x11" "after\r\nmore\r\nX";
  const auto run = [&](const std::vector<std::string>& reads, bool watch) {
    TLineRing ring;
    ring.ResetIndexes();
    std::string attempt;
    if (watch) {
      ring.WatchForZmodem([&](const std::string& held) -> TLineRing::TSink {
        attempt = held;
        return [&](const char* p, size_t n) { attempt.append(p, n); };
      });
    }
    for (const std::string& r : reads) ring.Feed(r.data(), r.size());
    if (ring.InTransfer()) ring.EndTransfer([&] { return attempt; });
    return RingLines(ring);
  };
  const auto unwatched = run({in}, false);
  EXPECT_EQ(unwatched, (std::vector<std::string>{"before", "see **B00000000000000", "after", "more", "[X]"}));
  AtEveryOffset(in, [&](const std::vector<std::string>& reads) {
    EXPECT_EQ(run(reads, true), unwatched);
    return 0;
  });
}

TEST(ReceiveChain, TheBytesAfterACancelledDownloadNeverBecomeText) {
  TLineRing ring;
  ring.ResetIndexes();
  std::string toProgram;
  ring.WatchForZmodem([&](const std::string&) -> TLineRing::TSink {
    return [&](const char* p, size_t n) { toProgram.append(p, n); };
  });
  const std::string start = "ready\r\nrz\r" + kZrqinit + "\x11";
  ring.Feed(start.data(), start.size());
  ASSERT_TRUE(ring.InTransfer());
  // Cancelled: what the program never took and what follows are the sender's.
  const std::string inFlight = SomeData() + "\r\nID: " + SomeData();
  ring.EndTransfer([&] { return inFlight; }, [] { return true; });
  EXPECT_TRUE(ring.Draining());
  const std::string more = SomeData() + std::string(10, '\x18') + std::string(10, '\b') +
                           std::string("\x18h\xe7\x06k\x18\xd1", 7) + "\r\nMAIN>";
  ring.Feed(more.data(), more.size());
  EXPECT_FALSE(ring.Draining());
  EXPECT_EQ(RingLines(ring), (std::vector<std::string>{"ready", "rz", "", "[MAIN>]"}));
  // A sender that goes quiet: the owner ends the drop, and text follows.
  ring.Feed(start.data(), start.size());
  ASSERT_TRUE(ring.InTransfer());
  ring.EndTransfer([] { return SomeData(); }, [] { return true; });
  const std::string data = SomeData();
  ring.Feed(data.data(), data.size());
  ring.EndDrain();
  ring.Feed("\r\nok\r\n", 6);
  EXPECT_EQ(RingLines(ring), (std::vector<std::string>{"MAIN>ready", "rz", "", "ok", "[]"}));
}

TEST(ReceiveChain, OscAndDcsStringsAreTakenOutWhole) {
  TLineRing ring;
  ring.SetEscapeRemoval(true);
  ring.ResetIndexes();
  const std::string in = "\x1b]0;BBS title\x07MAIN\x1bP1$r0m\x1b\\>\x1b]8;;http://x/\x1b\\ \r\n";
  ring.Feed(in.data(), in.size());
  EXPECT_EQ(RingLines(ring), (std::vector<std::string>{"MAIN> ", "[]"}));
}

}  // namespace
}  // namespace brelo
