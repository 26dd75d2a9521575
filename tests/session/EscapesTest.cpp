// Colour and screen escape sequences taken out of the text in the receive
// path, and a pass against a host that paints everything storing exactly what
// a plain pass stores.
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

struct TText {
  std::vector<std::string> lines;
  std::string partial;
  bool operator==(const TText&) const = default;
};

TText Feed(const std::vector<std::string>& chunks, bool remove = true) {
  TLineRing ring;
  ring.SetEscapeRemoval(remove);
  ring.ResetIndexes();
  TText t;
  for (const std::string& c : chunks) {
    ring.Feed(c.data(), c.size());
    while (ring.LineWaiting()) t.lines.push_back(ring.Take());
  }
  t.partial = ring.Line(ring.LineIndex());
  return t;
}

const std::string kPainted = "\x1b[1;32mSubj: \x1b[31m" + Sjis("題名") + "\x1b[0m\r\n" + "\x1b[2K\x1b(B\x1b" +
                             "7plain\x1b" + "8\r\n" + "\x1b[1;33mMAIN (A,C,E,N,Q,T,U,W,?)>\x1b[0m";

TEST(Escapes, TakenOutWhereverTheChunksSplit) {
  const TText whole = Feed({kPainted});
  ASSERT_EQ(whole.lines, (std::vector<std::string>{"Subj: " + Sjis("題名"), "plain"}));
  // The prompt the watcher looks for ends in ")>" once the reset is gone.
  EXPECT_EQ(whole.partial, "MAIN (A,C,E,N,Q,T,U,W,?)>");
  for (size_t cut = 0; cut <= kPainted.size(); ++cut) {
    EXPECT_EQ(Feed({kPainted.substr(0, cut), kPainted.substr(cut)}), whole) << "cut at " << cut;
  }
  std::vector<std::string> bytes;
  for (char c : kPainted) bytes.emplace_back(1, c);
  EXPECT_EQ(Feed(bytes), whole);
}

TEST(Escapes, KeptAsEverWhenTheHostEntrySaysSoAndBrokenSequencesEndInText) {
  // Off: ESC alone goes, as it always did.
  EXPECT_EQ(Feed({"\x1b[1mA\r\n"}, false).lines, std::vector<std::string>{"[1mA"});
  // A sequence cut by a character that cannot be in it: the character stays.
  EXPECT_EQ(Feed({"\x1b[1" + Sjis("漢") + "\r\n"}).lines, std::vector<std::string>{Sjis("漢")});
  EXPECT_EQ(Feed({"a\x1b[12\r\nb\r\n"}).lines, (std::vector<std::string>{"a", "b"}));
  // No sequence runs on without end: past 64 bytes the rest is text.
  EXPECT_EQ(Feed({"\x1b[" + std::string(70, '1') + "\r\n"}).lines, std::vector<std::string>{std::string(7, '1')});
}

// The runs of each line (complete lines, then the partial one).
std::vector<std::vector<TAttrRun>> Runs(const std::vector<std::string>& chunks) {
  TLineRing ring;
  ring.SetEscapeRemoval(true);
  ring.ResetIndexes();
  for (const std::string& c : chunks) ring.Feed(c.data(), c.size());
  std::vector<std::vector<TAttrRun>> out;
  std::string text;
  for (int i = 0; i <= ring.LineIndex(); ++i) {
    out.emplace_back();
    ring.LineWithRuns(i, text, out.back());
  }
  return out;
}

TEST(Escapes, TheColoursAreKeptBesideEachLineWhereverTheChunksSplit) {
  // Bold green, then red; a reset; a background that runs on into the next
  // line; reverse; 256-colour and true-colour forms; a private sequence that
  // sets no colour.
  const std::string bytes = "\x1b[1;32mSubj: \x1b[31m" + Sjis("題名") + "\x1b[0m!\r\n" +
                            "\x1b[44mblue\r\nstill\x1b[7m rev\x1b[27;49m\r\n" +
                            "\x1b[38;5;3my\x1b[38;2;1;2;3m\x1b[?25lz\x1b[m";
  TTextAttr green, red, blueBg, reverse, yellow;
  green.fg = 2;
  green.bold = true;
  red = green;
  red.fg = 1;
  blueBg.bg = 4;
  reverse = blueBg;
  reverse.reverse = true;
  yellow.fg = 3;
  const std::vector<std::vector<TAttrRun>> want = {
      {{0, green}, {6, red}, {10, TTextAttr()}},
      {{0, blueBg}},
      {{0, blueBg}, {5, reverse}, {9, TTextAttr()}},
      {{0, yellow}, {2, TTextAttr()}},
  };
  EXPECT_EQ(Runs({bytes}), want);
  for (size_t cut = 1; cut < bytes.size(); ++cut) {
    EXPECT_EQ(Runs({bytes.substr(0, cut), bytes.substr(cut)}), want) << "cut at " << cut;
  }
  // The text is what it always was.
  EXPECT_EQ(Feed({bytes}).lines, (std::vector<std::string>{"Subj: " + Sjis("題名") + "!", "blue", "still rev"}));
}

TEST(Escapes, APaintedHostStoresWhatAPlainOneDoes) {
  test::TDemoHost plain, painted({"--ansi"});
  test::TTempDir a, b;
  const std::string plainFolder = test::PassThatLogsOut(a.Path(), plain.TelnetAddress());
  const std::string paintedFolder = test::PassThatLogsOut(b.Path(), painted.TelnetAddress());
  ASSERT_FALSE(plainFolder.empty());
  ASSERT_FALSE(paintedFolder.empty());
  for (const char* f : {"Boards.Dat", "MES00.IDX", "MES00.TXT", "MES01.IDX", "MES01.TXT", "MES03.IDX", "MES03.TXT"}) {
    const std::string want = test::ReadBytes(plainFolder + f);
    EXPECT_FALSE(want.empty()) << f;
    EXPECT_TRUE(test::ReadBytes(paintedFolder + f) == want) << f;
  }
}

}  // namespace
}  // namespace brelo
