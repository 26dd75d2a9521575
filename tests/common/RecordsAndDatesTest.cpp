#include <gtest/gtest.h>

#include "common/DateTime.h"
#include "common/Records.h"

namespace brelo {
namespace {

TEST(Records, LittleEndianIntegersAndDates) {
  char b[8];
  PutInt32(b, -2);
  EXPECT_EQ(std::string(b, 4), std::string("\xFE\xFF\xFF\xFF", 4));
  EXPECT_EQ(GetInt32(b), -2);
  PutInt32(b, 0x01020304);
  EXPECT_EQ(std::string(b, 4), std::string("\x04\x03\x02\x01", 4));
  PutDouble(b, 1.5);  // 0x3FF8000000000000
  EXPECT_EQ(std::string(b, 8), std::string("\0\0\0\0\0\0\xF8\x3F", 8));
  EXPECT_EQ(GetDouble(b), 1.5);
}

TEST(Records, ShortStringFieldsCutPadAndClamp) {
  char f[9];
  PutShortString(f, 8, "ABCDEFGHIJ");
  EXPECT_EQ(std::string(f, 9), "\x08" "ABCDEFGH");
  PutShortString(f, 8, "AB");
  EXPECT_EQ(std::string(f, 9), std::string("\x02" "AB\0\0\0\0\0\0", 9));
  f[0] = static_cast<char>(200);  // a corrupt length byte
  EXPECT_EQ(GetShortString(f, 8).size(), 8u);
}

TEST(Dates, DayCountSince1899) {
  EXPECT_EQ(EncodeDateTime({1899, 12, 30, 0, 0, 0, 0}), 0.0);
  EXPECT_EQ(EncodeDateTime({1900, 1, 1, 0, 0, 0, 0}), 2.0);
  EXPECT_EQ(EncodeDateTime({1998, 3, 15, 12, 0, 0, 0}), 35869.5);
  TCivilTime t = DecodeDateTime(EncodeDateTime({2026, 12, 7, 21, 7, 33, 0}));
  EXPECT_EQ(t, (TCivilTime{2026, 12, 7, 21, 7, 33, 0}));
  // Year 80 of the calendar, the fixed date of unreadable mail dates.
  TCivilTime y80 = DecodeDateTime(EncodeDateTime({80, 1, 1, 0, 0, 0, 0}));
  EXPECT_EQ(y80.year, 80);
  EXPECT_EQ(DayOfWeek(EncodeDateTime({2026, 12, 7, 0, 0, 0, 0})), 1);  // Monday
}

TEST(Dates, HostDatesWithTwoDigitYears) {
  auto d = ParseHostDate("98/03/15 21:07:33");
  ASSERT_TRUE(d);
  EXPECT_EQ(DecodeDateTime(*d), (TCivilTime{1998, 3, 15, 21, 7, 33, 0}));
  EXPECT_EQ(DecodeDateTime(*ParseHostDate("00/01/02 03:04:05")).year, 2000);
  EXPECT_EQ(DecodeDateTime(*ParseHostDate("79/12/31 23:59:59")).year, 2079);
  EXPECT_EQ(DecodeDateTime(*ParseHostDate("80/01/01 00:00")).year, 1980);
  EXPECT_FALSE(ParseHostDate("98/13/15 21:07:33"));
  EXPECT_FALSE(ParseHostDate("98/02/30 21:07:33"));
  EXPECT_FALSE(ParseHostDate("garbage"));
  EXPECT_FALSE(ParseHostDate("98/03/15 25:00:00"));
  EXPECT_FALSE(ParseHostDate(""));
}

TEST(Dates, ExpandDateNameOnAFixedClock) {
  TCivilTime t{2026, 3, 5, 7, 9, 0, 0};
  EXPECT_EQ(ExpandDateName("%y%M%D_%H%I.LOG", t), "20260305_0709.LOG");
  EXPECT_EQ(ExpandDateName("%Y-%y", TCivilTime{1998, 1, 1, 0, 0, 0, 0}), "98-1998");
  EXPECT_EQ(ExpandDateName("%Y", t), "126");
  EXPECT_EQ(ExpandDateName("a%zb%m%", t), "ab");  // unknown codes give nothing
}

}  // namespace
}  // namespace brelo
