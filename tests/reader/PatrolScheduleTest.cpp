// When the window's rounds start, with the clock in the test's hand:
// intervals, times of day across midnight, a clock set back or forward, and
// the schedule as Brelo_V3.ini keeps it.
#include "reader/PatrolSchedule.h"

#include <gtest/gtest.h>

#include "common/IniFile.h"
#include "reader/Settings.h"
#include "support/TempDir.h"

namespace brelo {
namespace {

class PatrolSchedule : public ::testing::Test {
 protected:
  QDateTime now = QDateTime(QDate(2026, 12, 8), QTime(10, 0));
  TPatrolSchedule schedule{[this] { return now; }};
  static QDateTime At(int day, int h, int m) { return QDateTime(QDate(2026, 12, day), QTime(h, m)); }
  TPatrolSettings Every(int minutes) {
    TPatrolSettings s;
    s.Enabled = true;
    s.EveryMinutes = minutes;
    return s;
  }
  TPatrolSettings AtTimes(const std::string& times) {
    TPatrolSettings s;
    s.Enabled = true;
    s.AtTimes = true;
    s.Times = *TPatrolSettings::ParseTimes(times);
    return s;
  }
};

TEST_F(PatrolSchedule, EveryNMinutesFromTheLastStartAndDueUntilStarted) {
  schedule.Set(Every(30));
  EXPECT_EQ(schedule.Next(), At(8, 10, 30));
  now = At(8, 10, 29);
  EXPECT_FALSE(schedule.Due());
  now = At(8, 10, 30);
  EXPECT_TRUE(schedule.Due());
  // Held back (the user was connected): still due later, until it starts.
  now = At(8, 10, 45);
  EXPECT_TRUE(schedule.Due());
  schedule.RoundStarted();
  EXPECT_FALSE(schedule.Due());
  EXPECT_EQ(schedule.Next(), At(8, 11, 15));
}

TEST_F(PatrolSchedule, TimesOfDayAcrossMidnight) {
  now = At(8, 23, 40);
  schedule.Set(AtTimes("23:30, 00:15,06:00"));
  EXPECT_EQ(schedule.Next(), At(9, 0, 15));
  now = At(9, 0, 15);
  EXPECT_TRUE(schedule.Due());
  schedule.RoundStarted();
  EXPECT_EQ(schedule.Next(), At(9, 6, 0));
  now = At(9, 6, 0);
  schedule.RoundStarted();
  EXPECT_EQ(schedule.Next(), At(9, 23, 30));
  now = At(9, 23, 30);
  schedule.RoundStarted();
  EXPECT_EQ(schedule.Next(), At(10, 0, 15));
}

TEST_F(PatrolSchedule, AClockSetForwardGivesOneRoundAndSetBackMovesTheStartBack) {
  schedule.Set(Every(60));
  EXPECT_EQ(schedule.Next(), At(8, 11, 0));
  // Forward by five hours (a suspended laptop): one round, then an hour on.
  now = At(8, 15, 0);
  EXPECT_TRUE(schedule.Due());
  schedule.RoundStarted();
  EXPECT_EQ(schedule.Next(), At(8, 16, 0));
  // Back by three hours: the start comes an hour from the new time, not
  // four.
  now = At(8, 12, 0);
  EXPECT_FALSE(schedule.Due());
  EXPECT_EQ(schedule.Next(), At(8, 13, 0));

  // Times of day: set back across midnight, the next time comes from the
  // clock as it is now.
  now = At(8, 5, 0);
  schedule.Set(AtTimes("06:00"));
  EXPECT_EQ(schedule.Next(), At(8, 6, 0));
  now = At(6, 22, 0);  // two days back
  EXPECT_EQ(schedule.Next(), At(6, 6, 0).addDays(1));
}

TEST_F(PatrolSchedule, OffOrWithoutTimesNothingIsDue) {
  TPatrolSettings off = Every(1);
  off.Enabled = false;
  schedule.Set(off);
  now = At(20, 0, 0);
  EXPECT_FALSE(schedule.Next().isValid());
  EXPECT_FALSE(schedule.Due());
  TPatrolSettings none;
  none.Enabled = true;
  none.AtTimes = true;
  schedule.Set(none);
  EXPECT_FALSE(schedule.Due());
}

TEST(PatrolSettings, TimesAreReadAsUsersWriteThemAndKeptInTheSettingsFile) {
  EXPECT_EQ(TPatrolSettings::ParseTimes("6:5、22：30 ，06:05"), (std::vector<int>{365, 1350}));
  for (const char* bad : {"", "24:00", "7", "7:60", "a:b", "7:", "07:00,x"}) {
    EXPECT_FALSE(TPatrolSettings::ParseTimes(bad)) << bad;
  }
  test::TTempDir dir;
  TAppSettings s;
  s.Read(dir.Path());
  EXPECT_FALSE(s.Patrol.Enabled);
  EXPECT_TRUE(s.Patrol.Notify);  // told by default
  s.Patrol.Enabled = true;
  s.Patrol.AtTimes = true;
  s.Patrol.Times = {365, 1350};
  s.Patrol.Notify = false;
  s.Write(dir.Path());
  TIniFile ini(TAppSettings::FileName(dir.Path()));
  ini.Load();
  EXPECT_EQ(ini.ReadString("Patrol", "Times", ""), "06:05,22:30");
  TAppSettings back;
  back.Read(dir.Path());
  EXPECT_TRUE(back.Patrol.Enabled);
  EXPECT_TRUE(back.Patrol.AtTimes);
  EXPECT_EQ(back.Patrol.Times, s.Patrol.Times);
  EXPECT_FALSE(back.Patrol.Notify);
  // Values no schedule can have fall back to the defaults.
  ini.WriteString("Patrol", "Every", "0");
  ini.WriteString("Patrol", "Times", "25:99");
  ini.Save();
  back.Read(dir.Path());
  EXPECT_EQ(back.Patrol.EveryMinutes, 60);
  EXPECT_TRUE(back.Patrol.Times.empty());
}

}  // namespace
}  // namespace brelo
