// The terminal view's text: the tail of the session's line ring as rows of
// exactly 80 bytes, without a screen buffer of its own.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace brelo {

// Rows that fit a view: its height divided by the text height, rounded down.
int TerminalRows(int viewHeight, int textHeight);

// Slots max(0, lineIndex - rows + 1) .. lineIndex (the wrap is not followed
// backwards), each padded with spaces or cut to 80 bytes. A double-byte
// character cut in half at the end becomes a blank.
std::vector<std::string> TerminalRowsText(const std::function<std::string(int)>& line, int lineIndex, int rows);

// One 80-byte row, cut or padded.
std::string TerminalRow(const std::string& line);

}  // namespace brelo
