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
  auto rows = TerminalRowsText([&](int i) { return lines[static_cast<size_t>(i)]; }, 100, 25);
  ASSERT_EQ(rows.size(), 25u);
  EXPECT_EQ(rows.front().substr(0, 2), "76");
  rows = TerminalRowsText([&](int i) { return lines[static_cast<size_t>(i)]; }, 3, 25);
  ASSERT_EQ(rows.size(), 4u);  // the wrap is not followed backwards
  EXPECT_EQ(rows[3].substr(0, 1), "3");
}

}  // namespace
}  // namespace brelo
