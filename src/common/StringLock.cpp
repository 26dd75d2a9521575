#include "common/StringLock.h"

#include <chrono>
#include <cstdarg>
#include <limits>

namespace brelo {

bool TMutex::Enter() {
  const std::thread::id me = std::this_thread::get_id();
  // Only this thread ever stores its own id: seeing it means it holds the lock.
  if (owner_.load(std::memory_order_relaxed) == me) {
    ++depth_;
    return true;
  }
  if (!m_.try_lock()) {
    // Held by another thread: wait for it, at most 5000 ms.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(5000);
    for (int spins = 0;; ++spins) {
      if (m_.try_lock()) break;
      if (std::chrono::steady_clock::now() >= deadline) return false;
      if (spins < 64) std::this_thread::yield();
      else std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  }
  owner_.store(me, std::memory_order_relaxed);
  depth_ = 1;
  return true;
}

void TMutex::Leave() {
  if (depth_ > 0 && --depth_ == 0) {
    owner_.store(std::thread::id(), std::memory_order_relaxed);
    m_.unlock();
  }
}

namespace {
TMutex g_stringLock;  // made before main, when the program starts
}  // namespace

TMutex& StringLock() { return g_stringLock; }

std::string SafeCopy(std::string_view s, int from, int count) {
  TStringLockGuard g;
  if (from < 1) from = 1;
  if (count <= 0 || static_cast<size_t>(from) > s.size()) return std::string();
  return std::string(s.substr(static_cast<size_t>(from - 1), static_cast<size_t>(count)));
}

int SafePos(std::string_view sub, std::string_view s) {
  TStringLockGuard g;
  if (sub.empty()) return 0;
  size_t p = s.find(sub);
  return p == std::string_view::npos ? 0 : static_cast<int>(p) + 1;
}

std::string SafeIntToStr(long long n) {
  TStringLockGuard g;
  return std::to_string(n);
}

std::string SafeUpperCase(std::string_view s) {
  TStringLockGuard g;
  std::string out(s);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

int SafeStrToIntDef(std::string_view s, int def) {
  TStringLockGuard g;
  size_t i = 0;
  while (i < s.size() && s[i] == ' ') ++i;
  bool neg = false;
  if (i < s.size() && (s[i] == '-' || s[i] == '+')) {
    neg = s[i] == '-';
    ++i;
  }
  int base = 10;
  if (i < s.size() && s[i] == '$') {
    base = 16;
    ++i;
  } else if (i + 1 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i >= s.size()) return def;
  long long v = 0;
  for (; i < s.size(); ++i) {
    char c = s[i];
    int d;
    if (c >= '0' && c <= '9') d = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f') d = c - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F') d = c - 'A' + 10;
    else return def;
    v = v * base + d;
    if (v > static_cast<long long>(std::numeric_limits<int>::max()) + 1) return def;
  }
  if (neg) v = -v;
  if (v > std::numeric_limits<int>::max() || v < std::numeric_limits<int>::min()) return def;
  return static_cast<int>(v);
}

std::string FormatV(const char* fmt, va_list ap) {
  va_list copy;
  va_copy(copy, ap);
  int n = std::vsnprintf(nullptr, 0, fmt, copy);
  va_end(copy);
  if (n <= 0) return std::string();
  std::string out(static_cast<size_t>(n), '\0');
  std::vsnprintf(out.data(), out.size() + 1, fmt, ap);
  return out;
}

std::string FormatC(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  std::string s = FormatV(fmt, ap);
  va_end(ap);
  return s;
}

}  // namespace brelo
