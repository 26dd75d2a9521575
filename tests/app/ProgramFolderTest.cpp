// The program folder: where the settings, the host list and every host's
// data live.
#include "app/ProgramFolder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>

#include "app/Readme.h"
#include "common/Sjis.h"
#include "hosts/HostTable.h"
#include "support/TempDir.h"

namespace brelo {
namespace {

using test::TTempDir;

TEST(ProgramFolderRule, HomeOptionThenEnvironmentThenPortableMarkerThenXdg) {
  TTempDir a, b, c, xdg;
  ::setenv("BRELO_HOME", b.Path().c_str(), 1);
  EXPECT_EQ(DetermineProgramFolder(a.Path() + "home", c.Path()), a.Path() + "home/");
  EXPECT_EQ(DetermineProgramFolder("", c.Path()), b.Path());
  ::unsetenv("BRELO_HOME");
  // A writable program folder is no longer enough: a build folder or
  // /usr/bin must never hold a user's mail.
  ::setenv("XDG_DATA_HOME", xdg.Path().c_str(), 1);
  EXPECT_EQ(DetermineProgramFolder("", c.Path()), xdg.Path() + "brelo/");
  test::WriteBytes(c.File("brelo.portable"), "");
  EXPECT_EQ(DetermineProgramFolder("", c.Path()), c.Path());
  ::unsetenv("XDG_DATA_HOME");
  const std::string home = std::getenv("HOME") != nullptr ? std::getenv("HOME") : "/tmp";
  EXPECT_EQ(DetermineProgramFolder("", a.Path()), home + "/.local/share/brelo/");
  // A folder made here is the owner's only, whatever the umask.
  const mode_t old = ::umask(0);
  const std::string made = DetermineProgramFolder(a.Path() + "new/home", "");
  ::umask(old);
  struct stat st;
  ASSERT_EQ(::stat(made.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST(ProgramFolderRule, AFirstStartWritesTheSampleHostList) {
  TTempDir dir;
  EnsureHostList(dir.Path());
  THostTable hosts;
  hosts.LoadHostList(dir.Path());
  EXPECT_EQ(hosts.HostCount, 1);
  EXPECT_EQ(hosts.HostTable[0].Address, THostTable::SampleEntry().Address);
  struct stat st;
  ASSERT_EQ(::stat(THostTable::FileName(dir.Path()).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  // An existing list is left as it is.
  test::WriteBytes(THostTable::FileName(dir.Path()), "[Hosts]\r\nCount=0\r\n");
  EnsureHostList(dir.Path());
  EXPECT_EQ(test::ReadBytes(THostTable::FileName(dir.Path())), "[Hosts]\r\nCount=0\r\n");
}

TEST(Readme, WrittenInShiftJisWithCrLfAndOneInUtf8IsWrittenAgain) {
  TTempDir dir;
  EnsureReadme(dir.Path());
  const std::string text = test::ReadBytes(dir.File("readme.TXT"));
  EXPECT_TRUE(IsValidSjis(text));
  EXPECT_FALSE(IsValidUtf8(text));
  EXPECT_EQ(text, ReadmeText());
  EXPECT_EQ(text.find("\r\n\r\n\r"), std::string::npos);
  EXPECT_EQ(text.find('\n', 0) - 1, text.find('\r', 0));  // lines end in CR LF
  EXPECT_NE(SjisToUtf8(text).find("~/.local/share/brelo"), std::string::npos);
  test::WriteBytes(dir.File("readme.TXT"), "Brelo \xE2\x80\x94 UTF-8\n");
  EnsureReadme(dir.Path());
  EXPECT_EQ(test::ReadBytes(dir.File("readme.TXT")), ReadmeText());
  test::WriteBytes(dir.File("readme.TXT"), "my own notes\n");  // the user's: left alone
  EnsureReadme(dir.Path());
  EXPECT_EQ(test::ReadBytes(dir.File("readme.TXT")), "my own notes\n");
}

}  // namespace
}  // namespace brelo
