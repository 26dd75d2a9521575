// Shift-JIS (code page 932) text: the engine's bytes and the user's characters.
//
// Inside the engine and in every file text is bytes: std::string holding
// Shift-JIS. The windows convert to QString here and nowhere else.
#pragma once

#include <QString>
#include <string>
#include <string_view>
#include <vector>

namespace brelo {

// CP932 lead bytes: 0x81-0x9F and 0xE0-0xFC.
constexpr bool IsDBCSLeadByte(unsigned char b) {
  return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

// Shift-JIS bytes to text for display. Bytes that are not Shift-JIS become
// U+FFFD, one per bad byte, so nothing shifts and nothing is hidden; half a
// double-byte character (a lead byte without its second byte, where a field
// was cut) becomes a blank.
QString SjisToQString(std::string_view sjis);
std::string SjisToUtf8(std::string_view sjis);

// Text the user typed, to Shift-JIS. Characters that CP932 cannot hold are
// listed in `unmappable` (each once, in order of appearance) and left out of
// the result; callers must refuse to store or send when the list is not empty.
struct TSjisResult {
  std::string bytes;
  QString unmappable;
  bool ok() const { return unmappable.isEmpty(); }
};
TSjisResult QStringToSjis(const QString& text);
TSjisResult Utf8ToSjisChecked(std::string_view utf8);

// A literal of the program's own (written in UTF-8 in the source) as
// Shift-JIS bytes. Every such text is representable; a slip aborts in tests.
std::string Sjis(std::string_view utf8);

// The first n bytes of s, as record fields and short strings cut: a
// double-byte character at the limit may be split.
inline std::string CutBytes(std::string_view s, size_t n) {
  return std::string(s.substr(0, n));
}

// Whether byte position pos (0-based) of s starts a character, i.e. is not
// the second byte of a double-byte character.
bool IsCharBoundary(std::string_view s, size_t pos);

// At most n bytes of s, ending on a character boundary: the cut for new
// text (titles, recipients, macro values), which must never end in half a
// double-byte character. Stored records keep CutBytes.
std::string CutChars(std::string_view s, size_t n);
// s without a lead byte that lost its second half at the end (a field the
// host cut inside a character).
std::string WholeChars(std::string_view s);

// Whether every byte of s belongs to a Shift-JIS (CP932) character.
bool IsValidSjis(std::string_view s);
// Whether s is well-formed UTF-8.
bool IsValidUtf8(std::string_view s);

}  // namespace brelo
