#include "reader/TerminalText.h"

#include <algorithm>
#include <utility>

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

std::vector<TTerminalSpan> TerminalSpans(const std::string& row, size_t lineLength, const std::vector<TAttrRun>& runs) {
  std::vector<TTerminalSpan> out;
  const size_t end = std::min<size_t>(lineLength, row.size());
  const auto snap = [&](size_t pos) { return pos < end && !IsCharBoundary(row, pos) ? pos + 1 : std::min(pos, end); };
  size_t from = 0;
  TTextAttr attr;
  for (size_t k = 0; k <= runs.size(); ++k) {
    const size_t to = k < runs.size() ? snap(runs[k].start) : end;
    if (to > from) {
      out.push_back({static_cast<int>(from), static_cast<int>(to - from), attr});
      from = to;
    }
    if (k < runs.size()) attr = runs[k].attr;
  }
  return out;
}

TTerminalColours TerminalColours(const TTextAttr& a) {
  // The eight colours and their bright forms, as terminals commonly show them.
  static constexpr uint32_t kPalette[16] = {0x000000, 0xCD0000, 0x00CD00, 0xCDCD00, 0x3B78FF, 0xCD00CD,
                                            0x00CDCD, 0xE5E5E5, 0x7F7F7F, 0xFF4040, 0x40FF40, 0xFFFF40,
                                            0x7F9FFF, 0xFF40FF, 0x40FFFF, 0xFFFFFF};
  uint32_t fg = 0xFFFFFF, bg = 0x000000;  // the terminal's own: white on black
  if (a.fg != TTextAttr::kDefault) fg = kPalette[(a.bold && a.fg < 8 ? a.fg + 8 : a.fg) & 15];
  if (a.bg != TTextAttr::kDefault) bg = kPalette[a.bg & 15];
  if (a.reverse) std::swap(fg, bg);
  return {fg, bg};
}

std::vector<TTerminalRow> TerminalRowsText(const TLineFetch& line, int lineIndex, int rows) {
  std::vector<TTerminalRow> out;
  if (rows <= 0) return out;
  const int first = std::max(0, lineIndex - rows + 1);
  std::string text;
  std::vector<TAttrRun> runs;
  for (int i = first; i <= lineIndex; ++i) {
    line(i, text, runs);
    TTerminalRow& r = out.emplace_back();
    r.text = TerminalRow(text);
    if (!runs.empty()) r.spans = TerminalSpans(r.text, text.size(), runs);
  }
  return out;
}

}  // namespace brelo
