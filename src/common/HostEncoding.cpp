#include "common/HostEncoding.h"

#include <iconv.h>

#include <array>
#include <cstring>
#include <memory>
#include <stdexcept>

#include "common/Sjis.h"

namespace brelo {
namespace {

// Converts one character with iconv; the bytes, or empty when the target
// cannot hold it.
class TIconv {
 public:
  TIconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {
    if (cd_ == reinterpret_cast<iconv_t>(-1)) {
      throw std::runtime_error(std::string("iconv cannot convert ") + from + " to " + to);
    }
  }
  ~TIconv() { iconv_close(cd_); }
  TIconv(const TIconv&) = delete;
  TIconv& operator=(const TIconv&) = delete;

  std::string One(const void* bytes, size_t n) {
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    char* in = static_cast<char*>(const_cast<void*>(bytes));
    char buf[16];
    char* o = buf;
    size_t inLeft = n, oLeft = sizeof buf;
    if (iconv(cd_, &in, &inLeft, &o, &oLeft) == static_cast<size_t>(-1) || inLeft != 0) return {};
    return std::string(buf, static_cast<size_t>(o - buf));
  }
  iconv_t get() const { return cd_; }

 private:
  iconv_t cd_;
};

// A Shift-JIS character as a table holds it: a single byte below 0x100, a
// double-byte character as lead * 256 + trail, 0 for none.
uint16_t Packed(const std::string& sjis) {
  if (sjis.size() == 1) return static_cast<unsigned char>(sjis[0]);
  if (sjis.size() == 2) return static_cast<uint16_t>(static_cast<unsigned char>(sjis[0]) << 8 | static_cast<unsigned char>(sjis[1]));
  return 0;
}

// Seven characters that Shift-JIS (code page 932) and the JIS X 0208 tables
// map to different Unicode characters: 〜 − ‖ ¢ £ ¬ —. A host that took its
// text from the JIS tables (as Unix hosts, and their UTF-8, usually do)
// sends the second form; both are the same Shift-JIS character.
struct TJisForm {
  uint16_t sjis;
  char32_t cp932, jis;
};
constexpr TJisForm kJisForms[] = {
    {0x8160, U'\uFF5E', U'\u301C'}, {0x817C, U'\uFF0D', U'\u2212'}, {0x8161, U'\u2225', U'\u2016'},
    {0x8191, U'\uFFE0', U'\u00A2'}, {0x8192, U'\uFFE1', U'\u00A3'}, {0x81CA, U'\uFFE2', U'\u00AC'},
    {0x815C, U'\u2015', U'\u2014'},
};

// The conversion tables, built once from the system's converters: Unicode's
// basic plane to Shift-JIS (code page 932, as Brelo stores it), and the
// EUC-JP double-byte and SS3 planes to Shift-JIS.
struct TTables {
  std::array<uint16_t, 0x10000> fromUnicode{};
  std::array<uint16_t, 94 * 94> fromEuc{};
  std::array<uint16_t, 94 * 94> fromEucSs3{};

  TTables() {
    TIconv decode("UTF-32LE", "CP932"), encode("CP932", "UTF-32LE"), euc("CP932", "EUC-JP-MS");
    const auto add = [&](const unsigned char* code, size_t n) {
      const std::string u = decode.One(code, n);
      if (u.size() != 4) return;
      uint32_t cp;
      std::memcpy(&cp, u.data(), 4);
      if (cp < 0x80 || cp > 0xFFFF || fromUnicode[cp] != 0) return;
      // The code page's own choice where several codes give one character.
      fromUnicode[cp] = Packed(encode.One(u.data(), 4));
    };
    for (unsigned b = 0xA1; b <= 0xDF; ++b) {
      const unsigned char c = static_cast<unsigned char>(b);
      add(&c, 1);
    }
    for (unsigned lead = 0x81; lead <= 0xFC; ++lead) {
      if (!IsDBCSLeadByte(static_cast<unsigned char>(lead))) continue;
      for (unsigned trail = 0x40; trail <= 0xFC; ++trail) {
        if (trail == 0x7F) continue;
        const unsigned char c[2] = {static_cast<unsigned char>(lead), static_cast<unsigned char>(trail)};
        add(c, 2);
      }
    }
    for (const TJisForm& f : kJisForms) {
      if (fromUnicode[f.jis] == 0) fromUnicode[f.jis] = f.sjis;
    }
    for (unsigned r = 0; r < 94; ++r) {
      for (unsigned c = 0; c < 94; ++c) {
        const unsigned char two[2] = {static_cast<unsigned char>(0xA1 + r), static_cast<unsigned char>(0xA1 + c)};
        const unsigned char three[3] = {0x8F, two[0], two[1]};
        fromEuc[r * 94 + c] = Packed(euc.One(two, 2));
        fromEucSs3[r * 94 + c] = Packed(euc.One(three, 3));
      }
    }
  }
};

const TTables& Tables() {
  static const TTables tables;
  return tables;
}

bool Continuation(unsigned char b) { return (b & 0xC0) == 0x80; }
bool EucByte(unsigned char b) { return b >= 0xA1 && b <= 0xFE; }

// The end of the run of ASCII bytes that starts at i.
size_t AsciiEnd(const unsigned char* p, size_t i, size_t n) {
  while (i + 8 <= n) {
    uint64_t w;
    std::memcpy(&w, p + i, 8);
    if (w & 0x8080808080808080ULL) break;
    i += 8;
  }
  while (i < n && p[i] < 0x80) ++i;
  return i;
}

}  // namespace

EHostEncoding ParseHostEncoding(std::string_view value) {
  std::string v(value);
  for (char& c : v) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  if (v == "EUC-JP") return EHostEncoding::kEucJp;
  if (v == "UTF-8") return EHostEncoding::kUtf8;
  return EHostEncoding::kShiftJis;
}

const char* HostEncodingName(EHostEncoding e) {
  switch (e) {
    case EHostEncoding::kEucJp: return "EUC-JP";
    case EHostEncoding::kUtf8: return "UTF-8";
    default: return "SHIFT_JIS";
  }
}

void THostDecoder::SetEncoding(EHostEncoding e) {
  enc_ = e;
  Reset();
  if (e != EHostEncoding::kShiftJis) Tables();  // built now, not on the first character
}

void THostDecoder::Reset() {
  carryLen_ = 0;
  replaced_ = 0;
}

size_t THostDecoder::Step(const unsigned char* p, size_t n, char*& o) {
  const TTables& t = Tables();
  uint16_t v = 0;
  // Bytes taken: the whole character, or up to the first byte that cannot
  // continue it (that byte starts the next character).
  size_t used = 1;
  const unsigned char b = p[0];
  if (b < 0x80) {
    *o++ = static_cast<char>(b);
    return 1;
  }
  if (enc_ == EHostEncoding::kUtf8) {
    size_t need = 0;
    unsigned char lo = 0x80, hi = 0xBF;  // the second byte's range
    if (b >= 0xC2 && b <= 0xDF) need = 2;
    else if (b >= 0xE0 && b <= 0xEF) {
      need = 3;
      if (b == 0xE0) lo = 0xA0;
      if (b == 0xED) hi = 0x9F;
    } else if (b >= 0xF0 && b <= 0xF4) {
      need = 4;
      if (b == 0xF0) lo = 0x90;
      if (b == 0xF4) hi = 0x8F;
    }
    if (need > 0) {
      size_t k = 1;
      while (k < need && k < n && (k == 1 ? p[1] >= lo && p[1] <= hi : Continuation(p[k]))) ++k;
      if (k == need) {
        used = need;
        if (need == 2) v = t.fromUnicode[(b & 0x1Fu) << 6 | (p[1] & 0x3Fu)];
        else if (need == 3) v = t.fromUnicode[(b & 0x0Fu) << 12 | (p[1] & 0x3Fu) << 6 | (p[2] & 0x3Fu)];
        // four bytes: beyond the basic plane, nothing Shift-JIS holds
      } else if (k == n) {
        return 0;  // the rest comes with the next chunk
      } else {
        used = k;
      }
    }
  } else {
    if (b == 0x8E || b == 0x8F || EucByte(b)) {
      const size_t need = b == 0x8F ? 3 : 2;
      size_t k = 1;
      while (k < need && k < n && (b == 0x8E ? p[k] >= 0xA1 && p[k] <= 0xDF : EucByte(p[k]))) ++k;
      if (k == need) {
        used = need;
        if (b == 0x8E) v = p[1];
        else if (b == 0x8F) v = t.fromEucSs3[(p[1] - 0xA1u) * 94 + (p[2] - 0xA1u)];
        else v = t.fromEuc[(b - 0xA1u) * 94 + (p[1] - 0xA1u)];
      } else if (k == n) {
        return 0;
      } else {
        used = k;
      }
    }
  }
  if (v == 0) {
    std::memcpy(o, kGetaMark, 2);
    o += 2;
    ++replaced_;
  } else if (v < 0x100) {
    *o++ = static_cast<char>(v);
  } else {
    *o++ = static_cast<char>(v >> 8);
    *o++ = static_cast<char>(v & 0xFF);
  }
  return used;
}

void THostDecoder::Decode(const char* data, size_t n, std::string& out) {
  const size_t base = out.size();
  out.resize(base + MaxDecoded(n));
  out.resize(base + Decode(data, n, out.data() + base));
}

size_t THostDecoder::Decode(const char* data, size_t n, char* const start) {
  if (enc_ == EHostEncoding::kShiftJis) {
    std::memcpy(start, data, n);
    return n;
  }
  // No character grows beyond two bytes per byte it came from.
  const auto* p = reinterpret_cast<const unsigned char*>(data);
  char* o = start;
  size_t i = 0;
  if (carryLen_ > 0) {
    // The character begun in the last chunk, completed byte by byte.
    unsigned char tmp[8];
    std::memcpy(tmp, carry_, carryLen_);
    size_t k = carryLen_;
    size_t used = 0;
    while (used == 0 && i < n && k < sizeof tmp) {
      tmp[k++] = p[i++];
      used = Step(tmp, k, o);
    }
    if (used == 0) {
      std::memcpy(carry_, tmp, k);  // still not complete: at most three bytes
      carryLen_ = k;
      return static_cast<size_t>(o - start);
    }
    // Bytes after the character's end start the next one.
    i -= k - used;
    carryLen_ = 0;
  }
  const uint16_t* const fromUnicode = enc_ == EHostEncoding::kUtf8 ? Tables().fromUnicode.data() : nullptr;
  while (i < n) {
    if (p[i] < 0x80) {
      const size_t j = AsciiEnd(p, i + 1, n);
      std::memcpy(o, p + i, j - i);
      o += j - i;
      i = j;
      continue;
    }
    if (fromUnicode != nullptr) {
      // Kanji and kana: three bytes each, whole, and held by Shift-JIS. Anything
      // else takes the careful way below.
      while (i + 3 <= n && (p[i] & 0xF0) == 0xE0 && (p[i + 1] & 0xC0) == 0x80 && (p[i + 2] & 0xC0) == 0x80) {
        const unsigned cp = (p[i] & 0x0Fu) << 12 | (p[i + 1] & 0x3Fu) << 6 | (p[i + 2] & 0x3Fu);
        const uint16_t v = cp >= 0x800 ? fromUnicode[cp] : 0;  // 0: an over-long form or none
        if (v < 0x100) break;
        *o++ = static_cast<char>(v >> 8);
        *o++ = static_cast<char>(v & 0xFF);
        i += 3;
      }
      if (i >= n || p[i] < 0x80) continue;
    }
    const size_t used = Step(p + i, n - i, o);
    if (used == 0) {
      carryLen_ = n - i;
      std::memcpy(carry_, p + i, carryLen_);
      break;
    }
    i += used;
  }
  return static_cast<size_t>(o - start);
}

std::string EncodeForHost(EHostEncoding e, std::string_view sjis) {
  if (e == EHostEncoding::kShiftJis) return std::string(sjis);
  if (e == EHostEncoding::kUtf8) {
    // The JIS tables' forms of the seven characters that have two.
    std::string out;
    size_t run = 0;  // the start of the text not yet converted
    for (size_t i = 0; i < sjis.size(); ++i) {
      const auto b = static_cast<unsigned char>(sjis[i]);
      if (!IsDBCSLeadByte(b) || i + 1 >= sjis.size()) continue;
      const uint16_t code = static_cast<uint16_t>(b << 8 | static_cast<unsigned char>(sjis[i + 1]));
      for (const TJisForm& f : kJisForms) {
        if (f.sjis != code) continue;
        out += SjisToUtf8(sjis.substr(run, i - run));
        const char32_t c = f.jis;
        if (c < 0x800) {
          out += static_cast<char>(0xC0 | c >> 6);
        } else {
          out += static_cast<char>(0xE0 | c >> 12);
          out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        }
        out += static_cast<char>(0x80 | (c & 0x3F));
        run = i + 2;
      }
      ++i;  // the trail byte
    }
    return run == 0 ? SjisToUtf8(sjis) : out + SjisToUtf8(sjis.substr(run));
  }
  thread_local TIconv toEuc("EUC-JP-MS", "CP932");
  std::string out;
  out.reserve(sjis.size() + 8);
  size_t i = 0;
  while (i < sjis.size()) {
    const auto b = static_cast<unsigned char>(sjis[i]);
    if (b < 0x80) {
      out += static_cast<char>(b);
      ++i;
      continue;
    }
    const size_t n = IsDBCSLeadByte(b) && i + 1 < sjis.size() ? 2 : 1;
    const std::string euc = toEuc.One(sjis.data() + i, n);
    out += euc.empty() ? std::string("\xA2\xAE") : euc;  // "〓"
    i += n;
  }
  return out;
}

}  // namespace brelo
