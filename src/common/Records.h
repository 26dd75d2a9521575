// Little-endian fixed-size record fields, as the stored files hold them.
// Never cast a struct onto file bytes: one encode and one decode function per
// record type, built from these helpers.
#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace brelo {

inline void PutUInt32(char* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}
inline uint32_t GetUInt32(const char* p) {
  uint32_t v = 0;
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(&v, p, 4);  // one load where the bytes are already in order
  } else {
    for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(static_cast<unsigned char>(p[i])) << (8 * i);
  }
  return v;
}
inline void PutInt32(char* p, int32_t v) { PutUInt32(p, static_cast<uint32_t>(v)); }
inline int32_t GetInt32(const char* p) { return static_cast<int32_t>(GetUInt32(p)); }

inline void PutDouble(char* p, double v) {
  uint64_t u = std::bit_cast<uint64_t>(v);
  for (int i = 0; i < 8; ++i) p[i] = static_cast<char>((u >> (8 * i)) & 0xFF);
}
inline double GetDouble(const char* p) {
  uint64_t u = 0;
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(&u, p, 8);
  } else {
    for (int i = 0; i < 8; ++i) u |= static_cast<uint64_t>(static_cast<unsigned char>(p[i])) << (8 * i);
  }
  return std::bit_cast<double>(u);
}

// A string field of maxLen + 1 bytes: a length byte, at most maxLen bytes,
// the rest zero.
inline void PutShortString(char* p, size_t maxLen, std::string_view s) {
  size_t n = std::min(s.size(), maxLen);
  p[0] = static_cast<char>(n);
  std::memcpy(p + 1, s.data(), n);
  std::memset(p + 1 + n, 0, maxLen - n);
}
// A corrupt length byte above maxLen is clamped: never read past the field.
inline std::string GetShortString(const char* p, size_t maxLen) {
  size_t n = std::min<size_t>(static_cast<unsigned char>(p[0]), maxLen);
  return std::string(p + 1, n);
}

}  // namespace brelo
