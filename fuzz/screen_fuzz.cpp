// The terminal page's screen: any host bytes (Shift-JIS after the receive
// path, escape sequences kept) through the screen at a size taken from the
// input. Fed whole and split at two places taken from the input, it must
// show the same rows, cursor and scrollback; selection text, find, a word,
// a URL and the mouse run over whatever came of it.
#include <cstdint>
#include <string>
#include <vector>

#include "reader/TerminalScreen.h"
#include "Split.h"

namespace {

std::vector<std::string> Screen(const std::vector<std::string>& chunks, int columns, int rows) {
  brelo::TTerminalScreen s(columns, rows);
  for (const std::string& c : chunks) s.Feed(c);
  std::vector<std::string> out;
  for (int l = 0; l < s.LineCount(); ++l) out.push_back(s.LineText(l).toStdString());
  out.push_back("cursor:" + std::to_string(s.CursorRow()) + "," + std::to_string(s.CursorColumn()));
  out.push_back("answers:" + s.TakeAnswers());
  (void)s.Text({0, 3}, {s.LineCount() - 1, s.Columns() - 1});
  brelo::TScreenPos at;
  int cells = 0;
  (void)s.Find(QStringLiteral("a"), {s.LineCount() - 1, s.Columns()}, true, at, cells);
  brelo::TScreenPos from, to;
  s.WordAt({s.LineCount() - 1, s.Columns() / 2}, from, to);
  (void)s.Text(from, to);
  (void)s.UrlAt({s.LineCount() - 2, 3});
  (void)s.MouseBytes(brelo::EMouseAction::kPress, 1, s.Rows() - 1, s.Columns() - 1, Qt::ControlModifier);
  (void)s.MouseBytes(brelo::EMouseAction::kMove, 0, 0, 1, Qt::NoModifier);
  s.Resize(columns + 7, rows + 3);
  s.SessionEnded();
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string in(reinterpret_cast<const char*>(data), size);
  const int columns = 80 + (size > 2 ? data[2] % 64 : 0);
  const int rows = 24 + (size > 3 ? data[3] % 16 : 0);
  const auto whole = Screen({in}, columns, rows);
  const auto split = Screen(brelo::fuzz::ThreeReads(data, size), columns, rows);
  if (whole != split) __builtin_trap();
  return 0;
}
