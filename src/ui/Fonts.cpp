#include "ui/Fonts.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QStringList>

namespace brelo {
namespace {
QFont Make(const QString& family, int pixelSize, bool fixed) {
  QFont f(family);
  f.setPixelSize(pixelSize);
  f.setFixedPitch(fixed);
  f.setStyleHint(fixed ? QFont::TypeWriter : QFont::AnyStyle);
  f.setKerning(false);
  return f;
}
}  // namespace

QFont UiFont() { return Make(QStringLiteral("IPAPGothic"), 12, false); }
QFont FixedFont(int pixelSize) { return Make(QStringLiteral("IPAMincho"), pixelSize, true); }
QFont FixedGothicFont(int pixelSize) { return Make(QStringLiteral("IPAGothic"), pixelSize, true); }
QFont ProportionalMinchoFont(int pixelSize) { return Make(QStringLiteral("IPAPMincho"), pixelSize, false); }
QFont TerminalFont(const QString& family, int pixelSize) {
  QFont f = Make(family, pixelSize, true);
  f.setFamilies(QStringList{family, QStringLiteral("IPAGothic")});
  return f;
}

QStringList TerminalFontFamilies() {
  QStringList out;
  for (const QString& family : QFontDatabase::families()) {
    QFont f(family);
    f.setPixelSize(16);
    if (QFontInfo(f).family() != family) continue;  // a name the database maps elsewhere
    const QFontMetrics fm(f);
    const int w = fm.horizontalAdvance(QLatin1Char('W'));
    if (w > 0 && fm.horizontalAdvance(QLatin1Char('i')) == w && fm.horizontalAdvance(QLatin1Char('0')) == w &&
        fm.horizontalAdvance(QLatin1Char('m')) == w) {
      out << family;
    }
  }
  return out;
}

}  // namespace brelo
