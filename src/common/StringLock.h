// The process-wide lock of the string helpers and of each store file update.
//
// Re-entrant for its owner. A wait lasts at most 5000 ms; after that the
// caller proceeds unguarded, as the engine always has (a stuck holder must
// not stop a session).
#pragma once

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <thread>
#include <string>
#include <string_view>
#include <type_traits>

namespace brelo {

class TMutex {
 public:
  // Returns whether the lock was obtained; only then may Leave be called.
  bool Enter();
  void Leave();

 private:
  std::mutex m_;
  std::atomic<std::thread::id> owner_{};  // set and cleared by the owner only
  int depth_ = 0;                         // touched by the owner only
};

TMutex& StringLock();

// Holds StringLock for a scope, releasing it only when it was obtained.
class TStringLockGuard {
 public:
  TStringLockGuard() : held_(StringLock().Enter()) {}
  ~TStringLockGuard() {
    if (held_) StringLock().Leave();
  }
  TStringLockGuard(const TStringLockGuard&) = delete;
  TStringLockGuard& operator=(const TStringLockGuard&) = delete;

 private:
  bool held_;
};

// Substring from 1-based position `from`, at most `count` bytes. A start
// below 1 counts as 1; a start past the end or a count <= 0 gives "".
std::string SafeCopy(std::string_view s, int from, int count);
// 1-based position of the first occurrence of sub in s; 0 when absent or sub is empty.
int SafePos(std::string_view sub, std::string_view s);
std::string SafeIntToStr(long long n);
// ASCII upper-casing; Shift-JIS trail bytes in 'a'..'z' stay as they are.
std::string SafeUpperCase(std::string_view s);
// Decimal (or "$"/"0x" hexadecimal) value of s, or def. Leading blanks are
// allowed, anything after the number is not; values beyond 32 bits give def.
int SafeStrToIntDef(std::string_view s, int def);

std::string FormatV(const char* fmt, va_list ap);
std::string FormatC(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

namespace detail {
inline const char* FormatArg(const std::string& s) { return s.c_str(); }
template <typename T>
inline T FormatArg(T v) {
  static_assert(std::is_arithmetic_v<T> || std::is_pointer_v<T>);
  return v;
}
}  // namespace detail

// printf-style formatting under StringLock; std::string arguments for %s.
template <typename... Args>
std::string SafeFormat(const char* fmt, const Args&... args) {
  TStringLockGuard g;
  int n = std::snprintf(nullptr, 0, fmt, detail::FormatArg(args)...);
  if (n <= 0) return std::string();
  std::string out(static_cast<size_t>(n), '\0');
  std::snprintf(out.data(), out.size() + 1, fmt, detail::FormatArg(args)...);
  return out;
}

}  // namespace brelo
