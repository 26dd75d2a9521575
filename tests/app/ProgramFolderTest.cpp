// The program folder: where the settings, the host list and every host's
// data live.
#include "app/ProgramFolder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "support/TempDir.h"

namespace brelo {
namespace {

using test::TTempDir;

TEST(ProgramFolderRule, HomeOptionThenEnvironmentThenExecutableFolder) {
  TTempDir a, b, c;
  ::setenv("BRELO_HOME", b.Path().c_str(), 1);
  EXPECT_EQ(DetermineProgramFolder(a.Path() + "home", c.Path()), a.Path() + "home/");
  EXPECT_EQ(DetermineProgramFolder("", c.Path()), b.Path());
  ::unsetenv("BRELO_HOME");
  EXPECT_EQ(DetermineProgramFolder("", c.Path()), c.Path());
  // A folder made here is the owner's only, whatever the umask.
  const mode_t old = ::umask(0);
  const std::string made = DetermineProgramFolder(a.Path() + "new/home", "");
  ::umask(old);
  struct stat st;
  ASSERT_EQ(::stat(made.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
}

}  // namespace
}  // namespace brelo
