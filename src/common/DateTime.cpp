#include "common/DateTime.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>

#include "common/StringLock.h"

namespace brelo {
namespace {

// Days from 1970-01-01 to y-m-d (proleptic Gregorian), after H. Hinnant.
long long DaysFromCivil(long long y, unsigned m, unsigned d) {
  y -= m <= 2;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long long>(doe) - 719468;
}

void CivilFromDays(long long z, int& y, int& m, int& d) {
  z += 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long long yy = static_cast<long long>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(yy + (m <= 2));
}

const long long kEpochOffset = DaysFromCivil(1899, 12, 30);  // relative to 1970

bool ValidDate(int y, int m, int d) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (y < 1 || y > 9999 || m < 1 || m > 12 || d < 1) return false;
  int dim = kDays[m - 1];
  if (m == 2 && ((y % 4 == 0 && y % 100 != 0) || y % 400 == 0)) dim = 29;
  return d <= dim;
}

// Reads 1..maxDigits decimal digits at s[i]; advances i.
bool Digits(std::string_view s, size_t& i, int maxDigits, int& value, int& count) {
  value = 0;
  count = 0;
  while (i < s.size() && s[i] >= '0' && s[i] <= '9' && count < maxDigits) {
    value = value * 10 + (s[i] - '0');
    ++i;
    ++count;
  }
  return count > 0;
}

}  // namespace

TDateTime EncodeDateTime(const TCivilTime& t) {
  long long days = DaysFromCivil(t.year, static_cast<unsigned>(t.month), static_cast<unsigned>(t.day)) -
                   kEpochOffset;
  double frac = (t.hour * 3600000.0 + t.minute * 60000.0 + t.second * 1000.0 + t.msec) / 86400000.0;
  // Before 1899-12-30 the fraction still counts forward from the day's start.
  return days >= 0 ? static_cast<double>(days) + frac : static_cast<double>(days) - frac;
}

TCivilTime DecodeDateTime(TDateTime v) {
  TCivilTime t;
  if (!std::isfinite(v) || v > 3e6 || v < -7e5) return t;  // outside years 1..9999
  double whole = std::trunc(v);
  double frac = std::fabs(v - whole);
  long long ms = std::llround(frac * 86400000.0);
  long long days = static_cast<long long>(whole);
  if (ms >= 86400000LL) {
    ms -= 86400000LL;
    days += v >= 0 ? 1 : -1;
  }
  CivilFromDays(days + kEpochOffset, t.year, t.month, t.day);
  t.hour = static_cast<int>(ms / 3600000);
  t.minute = static_cast<int>(ms / 60000 % 60);
  t.second = static_cast<int>(ms / 1000 % 60);
  t.msec = static_cast<int>(ms % 1000);
  return t;
}

int DayOfWeek(TDateTime d) {
  long long days = static_cast<long long>(std::floor(d));
  // 1899-12-30 was a Saturday.
  long long w = (days + 6) % 7;
  if (w < 0) w += 7;
  return static_cast<int>(w);
}

TCivilTime NowCivil() {
  auto now = std::chrono::system_clock::now();
  std::time_t tt = std::chrono::system_clock::to_time_t(now);
  std::tm tm{};
  localtime_r(&tt, &tm);
  TCivilTime t;
  t.year = tm.tm_year + 1900;
  t.month = tm.tm_mon + 1;
  t.day = tm.tm_mday;
  t.hour = tm.tm_hour;
  t.minute = tm.tm_min;
  t.second = tm.tm_sec;
  t.msec = static_cast<int>(
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000);
  return t;
}

TDateTime Now() { return EncodeDateTime(NowCivil()); }

std::optional<TDateTime> ParseHostDate(std::string_view s) {
  size_t i = 0;
  while (i < s.size() && s[i] == ' ') ++i;
  int y, m, d, ny, n;
  if (!Digits(s, i, 4, y, ny) || i >= s.size() || s[i++] != '/') return std::nullopt;
  if (!Digits(s, i, 2, m, n) || i >= s.size() || s[i++] != '/') return std::nullopt;
  if (!Digits(s, i, 2, d, n)) return std::nullopt;
  if (ny <= 2) y += y >= 80 ? 1900 : 2000;
  int hh = 0, mm = 0, ss = 0;
  while (i < s.size() && s[i] == ' ') ++i;
  if (i < s.size()) {
    if (!Digits(s, i, 2, hh, n) || i >= s.size() || s[i++] != ':') return std::nullopt;
    if (!Digits(s, i, 2, mm, n)) return std::nullopt;
    if (i < s.size() && s[i] == ':') {
      ++i;
      if (!Digits(s, i, 2, ss, n)) return std::nullopt;
    }
    while (i < s.size() && s[i] == ' ') ++i;
    if (i != s.size()) return std::nullopt;
  }
  if (!ValidDate(y, m, d) || hh > 23 || mm > 59 || ss > 59) return std::nullopt;
  return EncodeDateTime({y, m, d, hh, mm, ss, 0});
}

std::string FormatDate(TDateTime v) {
  TCivilTime t = DecodeDateTime(v);
  return FormatC("%02d/%02d/%02d", t.year % 100, t.month, t.day);
}

std::string FormatTime(TDateTime v) {
  TCivilTime t = DecodeDateTime(v);
  return FormatC("%02d:%02d:%02d", t.hour, t.minute, t.second);
}

std::string FormatDateTime(TDateTime v) {
  TCivilTime t = DecodeDateTime(v);
  if (t.hour == 0 && t.minute == 0 && t.second == 0) return FormatDate(v);
  return FormatDate(v) + " " + FormatTime(v);
}

std::string ExpandDateName(std::string_view pattern, const TCivilTime& now) {
  std::string out;
  for (size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] != '%') {
      out += pattern[i];
      continue;
    }
    if (++i >= pattern.size()) break;
    switch (pattern[i]) {
      case 'Y': out += SafeFormat("%.2d", now.year - 1900); break;
      case 'y': out += SafeFormat("%.4d", now.year); break;
      case 'M': out += SafeFormat("%.2d", now.month); break;
      case 'D': out += SafeFormat("%.2d", now.day); break;
      case 'H': out += SafeFormat("%.2d", now.hour); break;
      case 'I': out += SafeFormat("%.2d", now.minute); break;
      default: break;
    }
  }
  return out;
}

std::string ExpandDateName(std::string_view pattern) { return ExpandDateName(pattern, NowCivil()); }

}  // namespace brelo
