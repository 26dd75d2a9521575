// A host's EUC-JP or UTF-8 bytes to Shift-JIS: whole and split at two places
// taken from the input, the same text and the same count of "〓"; the text
// always whole Shift-JIS; and Shift-JIS made from UTF-8 goes back to UTF-8
// and comes again unchanged.
#include <cstdint>
#include <string>
#include <vector>

#include "common/HostEncoding.h"
#include "common/Sjis.h"

namespace {

struct TOut {
  std::string text;
  unsigned long long replaced;
  bool operator!=(const TOut& o) const { return text != o.text || replaced != o.replaced; }
};

TOut Decode(brelo::EHostEncoding e, const std::vector<std::string>& chunks) {
  brelo::THostDecoder d;
  d.SetEncoding(e);
  TOut out{{}, 0};
  for (const std::string& c : chunks) d.Decode(c.data(), c.size(), out.text);
  out.replaced = d.Replaced();
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const brelo::EHostEncoding e = (data[2] & 1) != 0 ? brelo::EHostEncoding::kUtf8 : brelo::EHostEncoding::kEucJp;
  const std::string in(reinterpret_cast<const char*>(data) + 3, size - 3);
  const size_t a = data[0] % (in.size() + 1);
  const size_t b = a + data[1] % (in.size() - a + 1);
  const TOut whole = Decode(e, {in});
  if (whole != Decode(e, {in.substr(0, a), in.substr(a, b - a), in.substr(b)})) __builtin_trap();
  // A character cut off by the end of the input is still pending, not text.
  brelo::THostDecoder d;
  d.SetEncoding(e);
  std::string text;
  d.Decode(in.data(), in.size(), text);
  if (!brelo::IsValidSjis(text)) __builtin_trap();
  if (e == brelo::EHostEncoding::kUtf8) {
    const std::string again = brelo::EncodeForHost(e, whole.text);
    if (Decode(e, {again}).text != whole.text) __builtin_trap();
  }
  return 0;
}
