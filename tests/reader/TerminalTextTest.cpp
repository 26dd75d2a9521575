// The terminal view's rows.
#include "reader/TerminalText.h"

#include <gtest/gtest.h>

#include "common/Sjis.h"

namespace brelo {
namespace {

TEST(TerminalRowsTest, EightyByteRows) {
  EXPECT_EQ(TerminalRow(std::string(100, 'x')), std::string(80, 'x'));
  EXPECT_EQ(TerminalRow("abc"), "abc" + std::string(77, ' '));
  const std::string cut = TerminalRow(std::string(79, 'a') + Sjis("あ"));
  EXPECT_EQ(cut, std::string(79, 'a') + " ");  // a cut half shows as a blank cell
  EXPECT_EQ(TerminalRows(308, 12), 25);
  std::vector<std::string> lines(1000);
  for (int i = 0; i < 1000; ++i) lines[static_cast<size_t>(i)] = std::to_string(i);
  const TLineFetch fetch = [&](int i, std::string& text, std::vector<TAttrRun>& runs) {
    text = lines[static_cast<size_t>(i)];
    runs.clear();
  };
  auto rows = TerminalRowsText(fetch, 100, 25);
  ASSERT_EQ(rows.size(), 25u);
  EXPECT_EQ(rows.front().text.substr(0, 2), "76");
  EXPECT_TRUE(rows.front().spans.empty());
  rows = TerminalRowsText(fetch, 3, 25);
  ASSERT_EQ(rows.size(), 4u);  // the wrap is not followed backwards
  EXPECT_EQ(rows[3].text.substr(0, 1), "3");
}

TEST(TerminalRowsTest, PaintedStretchesKeepToCharactersAndTheEightyColumns) {
  TTextAttr red, green;
  red.fg = 1;
  green.bg = 2;
  green.reverse = true;
  const std::string line = "ab" + Sjis("漢字") + "cd";  // 8 bytes
  // A change inside a double-byte character waits for its end; one past the
  // line's end paints nothing.
  const std::vector<TAttrRun> runs = {{1, red}, {3, green}, {8, TTextAttr()}};
  EXPECT_EQ(TerminalSpans(TerminalRow(line), line.size(), runs),
            (std::vector<TTerminalSpan>{{0, 1, TTextAttr()}, {1, 3, red}, {4, 4, green}}));
  // A line longer than the row is painted up to column 80.
  const std::string longLine(100, 'x');
  EXPECT_EQ(TerminalSpans(TerminalRow(longLine), longLine.size(), {{0, red}, {90, green}}),
            (std::vector<TTerminalSpan>{{0, 80, red}}));
  // Bold brightens the eight colours; reverse swaps the colours in force.
  TTextAttr bold = red;
  bold.bold = true;
  EXPECT_EQ(TerminalColours(red).fg, 0xCD0000u);
  EXPECT_EQ(TerminalColours(bold).fg, 0xFF4040u);
  EXPECT_EQ(TerminalColours(green).fg, 0x00CD00u);
  EXPECT_EQ(TerminalColours(green).bg, 0xFFFFFFu);
  EXPECT_EQ(TerminalColours(TTextAttr()).fg, 0xFFFFFFu);
}

}  // namespace
}  // namespace brelo
