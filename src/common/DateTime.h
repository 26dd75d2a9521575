// Dates as the stored files keep them: a 64-bit floating-point day count
// since 30 December 1899, the fraction being the time of day.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace brelo {

using TDateTime = double;

struct TCivilTime {
  int year = 1899, month = 12, day = 30;
  int hour = 0, minute = 0, second = 0, msec = 0;
  bool operator==(const TCivilTime&) const = default;
};

// The calendar is proleptic Gregorian; years may be anything from 1 to 9999.
TDateTime EncodeDateTime(const TCivilTime& t);
TCivilTime DecodeDateTime(TDateTime d);
// 0 = Sunday ... 6 = Saturday.
int DayOfWeek(TDateTime d);

TCivilTime NowCivil();
TDateTime Now();

// A host's date "yy/MM/dd hh:mm:ss" (seconds optional, fields of one or two
// digits, a four-digit year also accepted): 80-99 are 1980-1999, 00-79 are
// 2000-2079. Returns nothing when the text is not a valid date and time.
std::optional<TDateTime> ParseHostDate(std::string_view text);

// Two-digit forms as the hosts and the short date format write them.
std::string FormatDate(TDateTime d);      // yy/MM/dd
std::string FormatTime(TDateTime d);      // hh:mm:ss
std::string FormatDateTime(TDateTime d);  // "yy/MM/dd hh:mm:ss"; the time left out at midnight

// ExpandDateName: "%Y" year-1900 (at least two digits), "%y" four-digit year,
// "%M" month, "%D" day, "%H" hour, "%I" minute; other codes give nothing.
std::string ExpandDateName(std::string_view pattern, const TCivilTime& now);
std::string ExpandDateName(std::string_view pattern);

}  // namespace brelo
