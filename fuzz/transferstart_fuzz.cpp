// The start of a ZMODEM send in the host's bytes: fed whole and split at two
// places taken from the input, the watch finds the same header ends, and the
// check of what follows a header comes to the same verdict.
#include <cstdint>
#include <string>
#include <vector>

#include "session/TransferStart.h"

namespace {

// Every header end, as an offset into the whole input.
std::vector<size_t> Ends(const std::string& in, const std::vector<size_t>& cuts) {
  brelo::TZmodemStartWatch w;
  std::vector<size_t> out;
  size_t from = 0;
  std::vector<size_t> bounds = cuts;
  bounds.push_back(in.size());
  for (size_t to : bounds) {
    size_t at = from;
    while (at < to) {
      const size_t end = w.Find(in.data() + at, to - at);
      if (end == brelo::TZmodemStartWatch::kNone) break;
      if (end == 0 || at + end > to || w.HeaderBytes() < brelo::TZmodemStartWatch::kHeaderBytes) __builtin_trap();
      out.push_back(at + end);
      at += end;
    }
    from = to;
  }
  return out;
}

brelo::TZmodemFollowCheck::EVerdict Verdict(const std::string& in, size_t a, size_t b) {
  brelo::TZmodemFollowCheck c;
  c.Feed(in.data(), a);
  c.Feed(in.data() + a, b - a);
  return c.Feed(in.data() + b, in.size() - b);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string in(reinterpret_cast<const char*>(data), size);
  const size_t a = size > 0 ? data[0] % (size + 1) : 0;
  const size_t b = size > 1 ? a + data[1] % (size - a + 1) : a;
  if (Ends(in, {}) != Ends(in, {a, b})) __builtin_trap();
  if (Verdict(in, 0, 0) != Verdict(in, a, b)) __builtin_trap();
  return 0;
}
