// The input as the line might deliver it: whole, or in three reads cut at
// two places the input's first bytes choose. A receiver must make the same
// of both.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace brelo::fuzz {

inline std::vector<std::string> ThreeReads(const uint8_t* data, size_t size) {
  const std::string in(reinterpret_cast<const char*>(data), size);
  const size_t a = size > 0 ? data[0] % (size + 1) : 0;
  const size_t b = size > 1 ? a + data[1] % (size - a + 1) : a;
  return {in.substr(0, a), in.substr(a, b - a), in.substr(b)};
}

}  // namespace brelo::fuzz
