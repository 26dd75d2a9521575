// The terminal view's text: the tail of the session's line ring as rows of
// exactly 80 bytes, without a screen buffer of its own.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "session/LineRing.h"

namespace brelo {

// Rows that fit a view: its height divided by the text height, rounded down.
int TerminalRows(int viewHeight, int textHeight);

// One 80-byte row, cut or padded.
std::string TerminalRow(const std::string& line);

// A stretch of a row painted one way: columns [column, column + length).
struct TTerminalSpan {
  int column = 0;
  int length = 0;
  TTextAttr attr;
  bool operator==(const TTerminalSpan&) const = default;
};
// How the 80-byte row of a line of lineLength bytes is painted, from the
// line's runs: spans in order, covering the line's text up to column 80 and
// never starting inside a double-byte character (a change there waits for
// the character's end); the padding after the text is not covered.
std::vector<TTerminalSpan> TerminalSpans(const std::string& row, size_t lineLength, const std::vector<TAttrRun>& runs);

// The colour a painted stretch is drawn in, as 0xRRGGBB: the foreground
// and the background after bold (the bright colours) and reverse.
struct TTerminalColours {
  uint32_t fg;
  uint32_t bg;
};
TTerminalColours TerminalColours(const TTextAttr& a);

// A row as the view draws it: 80 bytes, and its spans when the host painted
// the line (none: the terminal's own colours throughout).
struct TTerminalRow {
  std::string text;
  std::vector<TTerminalSpan> spans;
};
// Fills in a ring slot's line and its runs.
using TLineFetch = std::function<void(int slot, std::string& text, std::vector<TAttrRun>& runs)>;
// Slots max(0, lineIndex - rows + 1) .. lineIndex (the wrap is not followed
// backwards), each as a row.
std::vector<TTerminalRow> TerminalRowsText(const TLineFetch& line, int lineIndex, int rows);

}  // namespace brelo
