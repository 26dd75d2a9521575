#include "common/Sjis.h"

#include <iconv.h>

#include <cerrno>
#include <cstdlib>
#include <stdexcept>

namespace brelo {
namespace {

// One converter per direction and thread: iconv_open is costly and an
// iconv_t must not be shared between threads.
class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {
    if (cd_ == reinterpret_cast<iconv_t>(-1)) {
      throw std::runtime_error(std::string("iconv cannot convert ") + from + " to " + to);
    }
  }
  ~Converter() { iconv_close(cd_); }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
  iconv_t get() const { return cd_; }
  void reset() const { iconv(cd_, nullptr, nullptr, nullptr, nullptr); }

 private:
  iconv_t cd_;
};

const Converter& FromSjis() {
  thread_local Converter c("UTF-8", "CP932");
  return c;
}
const Converter& ToSjis() {
  thread_local Converter c("CP932", "UTF-8");
  return c;
}

// Length of the UTF-8 sequence that starts with b (1 for a stray byte).
size_t Utf8Length(unsigned char b) {
  if (b >= 0xF0) return 4;
  if (b >= 0xE0) return 3;
  if (b >= 0xC0) return 2;
  return 1;
}

}  // namespace

std::string SjisToUtf8(std::string_view sjis) {
  // Plain ASCII needs no conversion; most host lines are.
  bool ascii = true;
  for (unsigned char c : sjis) {
    if (c >= 0x80) {
      ascii = false;
      break;
    }
  }
  if (ascii) return std::string(sjis);

  const Converter& cv = FromSjis();
  cv.reset();
  std::string out;
  out.reserve(sjis.size() * 3 / 2 + 4);
  char* in = const_cast<char*>(sjis.data());
  size_t inLeft = sjis.size();
  char buf[1024];
  while (inLeft > 0) {
    char* o = buf;
    size_t oLeft = sizeof buf;
    size_t r = iconv(cv.get(), &in, &inLeft, &o, &oLeft);
    out.append(buf, o - buf);
    if (r == static_cast<size_t>(-1)) {
      if (errno == E2BIG) continue;
      // EILSEQ or a truncated character at the end: mark one byte and go on.
      // Half a character (a lead byte whose second byte a cut took away)
      // shows as a blank: fields cut at a byte limit end that way.
      const unsigned char b = static_cast<unsigned char>(*in);
      const unsigned char next = inLeft > 1 ? static_cast<unsigned char>(in[1]) : 0;
      const bool trail = (next >= 0x40 && next <= 0x7E) || (next >= 0x80 && next <= 0xFC);
      out.append(IsDBCSLeadByte(b) && !trail ? " " : "\xEF\xBF\xBD");
      ++in;
      --inLeft;
      cv.reset();
    }
  }
  return out;
}

QString SjisToQString(std::string_view sjis) {
  std::string u = SjisToUtf8(sjis);
  return QString::fromUtf8(u.data(), static_cast<qsizetype>(u.size()));
}

TSjisResult Utf8ToSjisChecked(std::string_view utf8) {
  TSjisResult res;
  const Converter& cv = ToSjis();
  cv.reset();
  res.bytes.reserve(utf8.size());
  char* in = const_cast<char*>(utf8.data());
  size_t inLeft = utf8.size();
  char buf[1024];
  while (inLeft > 0) {
    char* o = buf;
    size_t oLeft = sizeof buf;
    size_t r = iconv(cv.get(), &in, &inLeft, &o, &oLeft);
    res.bytes.append(buf, o - buf);
    if (r == static_cast<size_t>(-1)) {
      if (errno == E2BIG) continue;
      size_t n = std::min(Utf8Length(static_cast<unsigned char>(*in)), inLeft);
      QString ch = QString::fromUtf8(in, static_cast<qsizetype>(n));
      if (!res.unmappable.contains(ch)) res.unmappable += ch;
      in += n;
      inLeft -= n;
      cv.reset();
    }
  }
  return res;
}

TSjisResult QStringToSjis(const QString& text) {
  QByteArray u = text.toUtf8();
  return Utf8ToSjisChecked(std::string_view(u.constData(), static_cast<size_t>(u.size())));
}

std::string Sjis(std::string_view utf8) {
  TSjisResult r = Utf8ToSjisChecked(utf8);
  if (!r.ok()) std::abort();  // a literal of ours that CP932 cannot hold
  return std::move(r.bytes);
}

bool IsCharBoundary(std::string_view s, size_t pos) {
  if (pos == 0 || pos >= s.size()) return pos <= s.size();
  // Walk from the start: only a walk knows whether a byte is a trail byte.
  size_t i = 0;
  while (i < pos) i += IsDBCSLeadByte(static_cast<unsigned char>(s[i])) ? 2 : 1;
  return i == pos;
}

std::string CutChars(std::string_view s, size_t n) {
  if (s.size() <= n) return std::string(s);
  size_t i = 0;
  while (i < n) {
    const size_t len = IsDBCSLeadByte(static_cast<unsigned char>(s[i])) ? 2 : 1;
    if (i + len > n) break;
    i += len;
  }
  return std::string(s.substr(0, i));
}

std::string WholeChars(std::string_view s) {
  size_t i = 0;
  while (i < s.size()) {
    if (IsDBCSLeadByte(static_cast<unsigned char>(s[i]))) {
      if (i + 1 >= s.size()) return std::string(s.substr(0, i));
      i += 2;
    } else {
      ++i;
    }
  }
  return std::string(s);
}

bool IsValidSjis(std::string_view s) {
  const Converter& cv = FromSjis();
  cv.reset();
  char* in = const_cast<char*>(s.data());
  size_t inLeft = s.size();
  char buf[1024];
  while (inLeft > 0) {
    char* o = buf;
    size_t oLeft = sizeof buf;
    if (iconv(cv.get(), &in, &inLeft, &o, &oLeft) == static_cast<size_t>(-1) && errno != E2BIG) {
      cv.reset();
      return false;
    }
  }
  return true;
}

bool IsValidUtf8(std::string_view s) {
  size_t i = 0;
  while (i < s.size()) {
    const unsigned char b = static_cast<unsigned char>(s[i]);
    size_t len;
    unsigned min;
    if (b < 0x80) {
      ++i;
      continue;
    } else if (b >= 0xC2 && b <= 0xDF) {
      len = 2, min = 0x80;
    } else if (b >= 0xE0 && b <= 0xEF) {
      len = 3, min = 0x800;
    } else if (b >= 0xF0 && b <= 0xF4) {
      len = 4, min = 0x10000;
    } else {
      return false;
    }
    if (i + len > s.size()) return false;
    unsigned cp = b & (0x7F >> len);
    for (size_t k = 1; k < len; ++k) {
      const unsigned char c = static_cast<unsigned char>(s[i + k]);
      if ((c & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (c & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += len;
  }
  return true;
}

}  // namespace brelo
