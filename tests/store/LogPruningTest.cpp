// Session logs pruned by age and by the size of a host folder's logs.
#include "store/LogPruning.h"

#include <gtest/gtest.h>

#include "common/FileUtil.h"
#include "support/TempDir.h"

namespace brelo {
namespace {

TEST(LogPruning, OldLogsGoThenTheOldestWhileTheFolderIsAboveItsCapAndTodaysStays) {
  test::TTempDir dir;
  const TCivilTime today{2026, 12, 8, 3, 0, 0, 0};
  // 2026-09-09 is 90 days before today, 2026-09-08 91.
  for (const char* name : {"20260908.LOG", "20260909.LOG", "20261207.LOG", "20261208.LOG"}) {
    test::WriteBytes(dir.File(name), std::string(400 * 1024, 'x'));
  }
  for (const char* other : {"Boards.Dat", "1208.LOG", "2026120X.LOG", "20261301.LOG", "20260101.log"}) {
    test::WriteBytes(dir.File(other), "kept");
  }
  EXPECT_EQ(PruneSessionLogs(dir.Path(), TLogKeeping{90, 0}, today), std::vector<std::string>{"20260908.LOG"});
  EXPECT_TRUE(PruneSessionLogs(dir.Path(), TLogKeeping{90, 0}, today).empty());  // nothing more to do
  // A cap of 1 MB over 1.2 MB of logs: the oldest goes, and that is enough.
  EXPECT_EQ(PruneSessionLogs(dir.Path(), TLogKeeping{0, 1}, today), std::vector<std::string>{"20260909.LOG"});
  // Today's log stays even above the cap.
  test::WriteBytes(dir.File("20261208.LOG"), std::string(3 << 20, 'x'));
  EXPECT_EQ(PruneSessionLogs(dir.Path(), TLogKeeping{0, 1}, today), std::vector<std::string>{"20261207.LOG"});
  EXPECT_TRUE(FileExists(dir.File("20261208.LOG")));
  EXPECT_EQ(test::ListFolder(dir.Path()),
            (std::vector<std::string>{"1208.LOG", "20260101.log", "20261208.LOG", "2026120X.LOG", "20261301.LOG",
                                      "Boards.Dat"}));
  // Kept forever when both are off.
  EXPECT_TRUE(PruneSessionLogs(dir.Path(), TLogKeeping{0, 0}, TCivilTime{2099, 1, 1}).empty());
}

}  // namespace
}  // namespace brelo
