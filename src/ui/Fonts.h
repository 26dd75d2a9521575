// The fonts of the system's windows, carried onto the IPA fonts:
// ＭＳ 明朝 → IPAMincho, ＭＳ Ｐゴシック → IPAPGothic, ＭＳ Ｐ明朝 → IPAPMincho,
// FixedSys → IPAGothic. IPAMincho and IPAGothic are fixed-pitch with a
// full-width character exactly two half-width cells wide.
#pragma once

#include <QFont>

namespace brelo {

QFont UiFont();                       // ＭＳ Ｐゴシック, 12 px
QFont FixedFont(int pixelSize);       // ＭＳ 明朝, fixed pitch
QFont FixedGothicFont(int pixelSize); // FixedSys stand-in, fixed pitch
QFont ProportionalMinchoFont(int pixelSize);  // ＭＳ Ｐ明朝
// The terminal screen's font: the family chosen, fixed pitch, with IPAGothic
// for what it lacks.
QFont TerminalFont(const QString& family, int pixelSize);
// The families a terminal can draw in: every Latin letter and digit as wide
// as the next. Japanese monospace fonts count, though their full-width
// characters make the font system call them "dual" rather than fixed.
QStringList TerminalFontFamilies();

}  // namespace brelo
