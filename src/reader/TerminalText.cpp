#include "reader/TerminalText.h"

#include "common/Sjis.h"

namespace brelo {

int TerminalRows(int viewHeight, int textHeight) { return textHeight > 0 ? viewHeight / textHeight : 0; }

std::string TerminalRow(const std::string& line) {
  std::string row = (line + std::string(90, ' ')).substr(0, 80);
  // The cut may split a double-byte character: its first half shows as a blank.
  size_t i = 0;
  while (i < 80) {
    if (IsDBCSLeadByte(static_cast<unsigned char>(row[i]))) {
      if (i == 79) row[79] = ' ';
      i += 2;
    } else {
      ++i;
    }
  }
  return row;
}

std::vector<std::string> TerminalRowsText(const std::function<std::string(int)>& line, int lineIndex, int rows) {
  std::vector<std::string> out;
  if (rows <= 0) return out;
  const int first = std::max(0, lineIndex - rows + 1);
  for (int i = first; i <= lineIndex; ++i) out.push_back(TerminalRow(line(i)));
  return out;
}

}  // namespace brelo
