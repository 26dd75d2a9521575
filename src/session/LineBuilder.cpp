#include "session/LineBuilder.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "common/Sjis.h"

namespace brelo {
namespace {

// Bytes that end a run of plain bytes: controls and 0xFF (no character).
struct TSpecial {
  bool b[256];
  constexpr TSpecial() : b() {
    for (int i = 0; i < 0x20; ++i) b[i] = true;
    b[0xFF] = true;
  }
};
constexpr TSpecial kSpecial;

// The end of the run of plain bytes that starts at p[i]: the first control
// byte or 0xFF at or after i, or n. Sixteen bytes at a time where possible.
size_t RunEnd(const char* p, size_t i, size_t n) {
#if defined(__SSE2__)
  const __m128i limit = _mm_set1_epi8(0x1F);
  const __m128i ff = _mm_set1_epi8(static_cast<char>(0xFF));
  while (i + 16 <= n) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
    // x <= 0x1F (unsigned) exactly when max(x, 0x1F) == 0x1F.
    const __m128i ctl = _mm_cmpeq_epi8(_mm_max_epu8(x, limit), limit);
    const int mask = _mm_movemask_epi8(_mm_or_si128(ctl, _mm_cmpeq_epi8(x, ff)));
    if (mask != 0) return i + static_cast<size_t>(__builtin_ctz(static_cast<unsigned>(mask)));
    i += 16;
  }
#endif
  while (i < n && !kSpecial.b[static_cast<unsigned char>(p[i])]) ++i;
  return i;
}

}  // namespace

void TLineBuilder::Reset() {
  partial_.clear();
  runs_.clear();
  attr_ = TTextAttr();
}

bool TLineBuilder::EndLine() {
  if (!end_.EndLine(partial_, runs_)) return false;
  partial_.clear();
  runs_.clear();
  if (!(attr_ == TTextAttr())) runs_.push_back({0, attr_});  // the painting goes on
  return true;
}

void TLineBuilder::SetAttr(const TTextAttr& a) {
  attr_ = a;
  // The painting applies from the line's end on.
  const auto at = static_cast<uint32_t>(partial_.size());
  if (!runs_.empty() && runs_.back().start == at) runs_.pop_back();
  const TTextAttr before = runs_.empty() ? TTextAttr() : runs_.back().attr;
  if (!(before == attr_)) runs_.push_back({at, attr_});
}

size_t TLineBuilder::Text(const char* p, size_t n) {
  size_t i = 0;
  while (i < n) {
    const unsigned char b = static_cast<unsigned char>(p[i]);
    if (!kSpecial.b[b]) {
      // A run of plain bytes goes in at once.
      size_t j = RunEnd(p, i + 1, n);
      const size_t room = kMaxLineBytes - partial_.size();
      if (j - i > room) j = i + room;
      partial_.append(p + i, j - i);
      i = j;
      if (partial_.size() >= kMaxLineBytes && !EndLine()) return i;
      continue;
    }
    switch (b) {
      case 0x09: {  // TAB: length mod 8 spaces, 8 when that is 0
        size_t k = partial_.size() % 8;
        if (k == 0) k = 8;
        partial_.append(k, ' ');
        break;
      }
      case 0x08:  // BS: a whole double-byte character when one ends the line
        if (!partial_.empty()) {
          const size_t len = partial_.size();
          if (len >= 2 && IsDBCSLeadByte(static_cast<unsigned char>(partial_[len - 2]))) partial_.resize(len - 2);
          else partial_.resize(len - 1);
        }
        break;
      case 0x0D:
        if (!EndLine()) return i;  // this CR and the rest wait
        break;
      default:
        break;  // other control bytes, LF and ESC among them, are dropped
    }
    ++i;
  }
  return n;
}

}  // namespace brelo
