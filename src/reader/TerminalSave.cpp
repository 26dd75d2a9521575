#include "reader/TerminalSave.h"

#include <QStringList>

#include "common/Sjis.h"
#include "reader/TerminalScreen.h"

namespace brelo {
namespace {

// Lines up to the last one with something written on it.
int UsedLines(const TTerminalScreen& s) {
  int n = s.LineCount();
  while (n > 0 && s.LineText(n - 1).isEmpty()) --n;
  return n;
}

std::string ToSjis(const QString& text) {
  const TSjisResult whole = QStringToSjis(text);
  if (whole.ok()) return whole.bytes;
  std::string out;
  for (const uint u : text.toUcs4()) {
    const char32_t c = u;
    const TSjisResult one = QStringToSjis(QString::fromUcs4(&c, 1));
    out += one.ok() ? one.bytes : "?";
  }
  return out;
}

QString Colour(uint32_t rgb) { return QStringLiteral("#%1").arg(rgb & 0xFFFFFF, 6, 16, QLatin1Char('0')); }

QString Html(const TTerminalScreen& s, bool yen) {
  constexpr uint32_t kFg = 0xFFFFFF, kBg = 0x000000;  // the screen's own colours
  QString out = QStringLiteral(
                    "<!DOCTYPE html>\n<html lang=\"ja\">\n<head>\n<meta charset=\"UTF-8\">\n<title>ターミナル</title>\n"
                    "</head>\n<body style=\"background:%1\">\n<pre style=\"color:%2;background:%1;"
                    "font-family:'Migu 1M','IPAGothic',monospace\">")
                    .arg(Colour(kBg), Colour(kFg));
  const int lines = UsedLines(s);
  for (int l = 0; l < lines; ++l) {
    const TScreenLine line = s.Line(l);
    int end = static_cast<int>(line.size());
    while (end > 0 && line[static_cast<size_t>(end - 1)].width != 0 && line[static_cast<size_t>(end - 1)].ch == U' ' &&
           line[static_cast<size_t>(end - 1)].SameStyle(TScreenCell())) {
      --end;
    }
    for (int c = 0; c < end;) {
      const TScreenCell& head = line[static_cast<size_t>(c)];
      QString text;
      int j = c;
      for (; j < end; ++j) {
        const TScreenCell& cell = line[static_cast<size_t>(j)];
        if (cell.width == 0) continue;  // a wide character's second cell
        if (!cell.SameStyle(head)) break;
        char32_t ch = cell.ch == 0 ? U' ' : cell.ch;
        if (yen && ch == U'\\') ch = U'¥';
        text += QString::fromUcs4(&ch, 1);
      }
      c = j;
      if (head.SameStyle(TScreenCell())) {
        out += text.toHtmlEscaped();
        continue;
      }
      uint32_t fg = head.fg == TScreenCell::kDefaultColour ? kFg : head.fg;
      uint32_t bg = head.bg == TScreenCell::kDefaultColour ? kBg : head.bg;
      if (head.reverse) std::swap(fg, bg);
      QStringList style{QStringLiteral("color:") + Colour(fg)};
      if (bg != kBg) style << QStringLiteral("background:") + Colour(bg);
      if (head.bold) style << QStringLiteral("font-weight:bold");
      if (head.italic) style << QStringLiteral("font-style:italic");
      QStringList lines;
      if (head.underline) lines << QStringLiteral("underline");
      if (head.strike) lines << QStringLiteral("line-through");
      if (!lines.isEmpty()) style << QStringLiteral("text-decoration:") + lines.join(QLatin1Char(' '));
      out += QStringLiteral("<span style=\"%1\">%2</span>").arg(style.join(QLatin1Char(';')), text.toHtmlEscaped());
    }
    out += QLatin1Char('\n');
  }
  out += QStringLiteral("</pre>\n</body>\n</html>\n");
  return out;
}

}  // namespace

std::string TerminalSaveBytes(const TTerminalScreen& screen, ETerminalSaveFormat format, bool yen) {
  if (format == ETerminalSaveFormat::kHtml) return Html(screen, yen).toStdString();
  const bool sjis = format == ETerminalSaveFormat::kShiftJis;
  std::string out;
  const int lines = UsedLines(screen);
  for (int l = 0; l < lines; ++l) {
    const QString text = screen.LineText(l);
    out += sjis ? ToSjis(text) : text.toStdString();
    out += sjis ? "\r\n" : "\n";
  }
  return out;
}

}  // namespace brelo
