#include "app/Settings.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "app/ProgramFolder.h"
#include "common/Sjis.h"
#include "support/TempDir.h"

namespace brelo {
namespace {

using test::ReadBytes;
using test::TTempDir;
using test::WriteBytes;

TEST(AppSettings, FirstStartDefaultsThenTheFileAfterWriting) {
  TTempDir dir;
  TAppSettings s;
  s.Read(dir.Path());
  EXPECT_EQ(s.QuoteString, "> ");
  EXPECT_EQ(s.Editor, "NotePad");
  s.Write(dir.Path());
  EXPECT_EQ(ReadBytes(dir.File("Brelo_V3.ini")),
            "[Text]\r\nQuoteString=>_\r\n[FileName]\r\nEditor=NotePad\r\n");
}

TEST(AppSettings, QuoteStringSpaceUnderscoreSwap) {
  TTempDir dir;
  TAppSettings s;
  s.QuoteString = "| ";
  s.Write(dir.Path());
  EXPECT_NE(ReadBytes(dir.File("Brelo_V3.ini")).find("QuoteString=|_\r\n"), std::string::npos);
  TAppSettings r;
  r.Read(dir.Path());
  EXPECT_EQ(r.QuoteString, "| ");

  WriteBytes(dir.File("Brelo_V3.ini"), "[Text]\r\nQuoteString=a_b\r\n");
  r.Read(dir.Path());
  EXPECT_EQ(r.QuoteString, "a b");
}

TEST(AppSettings, UnderscoreAsTrailByteIsNotASpace) {
  // ダ is 0x83 0x5F: its second byte must survive reading.
  const std::string da = Sjis("ダ>");
  EXPECT_EQ(QuoteFromStored(da + "_"), da + " ");
  EXPECT_EQ(QuoteToStored(da + " "), da + "_");
}

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
