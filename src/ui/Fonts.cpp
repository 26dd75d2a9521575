#include "ui/Fonts.h"

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

}  // namespace brelo
