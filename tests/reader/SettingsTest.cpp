#include "reader/Settings.h"

#include <gtest/gtest.h>

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

TEST(AppSettings, TerminalOptionsAndTheReadingPlaceAreKeptInKeysOfTheirOwn) {
  TTempDir dir;
  WriteBytes(dir.File("Brelo_V3.ini"), "[Text]\r\nQuoteString=>_\r\n");
  TAppSettings s;
  s.Read(dir.Path());
  EXPECT_EQ(s.Options, TSessionOptions());  // nothing set yet: the defaults
  s.Write(dir.Path());
  EXPECT_EQ(ReadBytes(dir.File("Brelo_V3.ini")).find("TerminalOptions"), std::string::npos);

  s.Options.ClearNews = false;
  s.Options.PassgoodbyeMessage = true;
  s.Options.MidokuDate = "26/12/01";
  s.Options.GetUserList = s.Options.SetMidokuDate = true;  // the date's box is one session's only
  s.TerminalKeys = true;
  s.Window.Geometry = "10,20,640,460";
  s.Window.Host = "A";
  s.Window.Page = 3;
  s.Window.Board = 5;
  s.Window.Article = 12;
  s.Window.Scroll = 40;
  s.Write(dir.Path());
  const std::string file = ReadBytes(dir.File("Brelo_V3.ini"));
  EXPECT_EQ(file.rfind("[Text]\r\nQuoteString=>_\r\n", 0), 0u) << file;  // the original's keys first, as they were
  EXPECT_NE(file.find("[TerminalOptions]\r\n"), std::string::npos);
  EXPECT_NE(file.find("ClearNews=0\r\n"), std::string::npos);
  EXPECT_NE(file.find("GetUserList=1\r\n"), std::string::npos);
  EXPECT_NE(file.find("[Terminal]\r\nKeys=1\r\n"), std::string::npos) << file;
  EXPECT_EQ(file.find("SetMidokuDate"), std::string::npos);
  TAppSettings r;
  r.Read(dir.Path());
  EXPECT_FALSE(r.Options.ClearNews);
  EXPECT_TRUE(r.Options.PassgoodbyeMessage);
  EXPECT_EQ(r.Options.MidokuDate, "26/12/01");
  EXPECT_TRUE(r.Options.GetUserList);
  EXPECT_FALSE(r.Options.SetMidokuDate);
  EXPECT_TRUE(r.TerminalKeys);
  EXPECT_TRUE(r.Options.SealthLogin && r.Options.GetMidoku && r.Options.GoodbyeWhenExecute);
  EXPECT_EQ(r.Window.Page, 3);
  EXPECT_EQ(r.Window.Board, 5);
  EXPECT_EQ(r.Window.Article, 12);
  EXPECT_EQ(r.Window.Scroll, 40);
}

TEST(AppSettings, UnderscoreAsTrailByteIsNotASpace) {
  // ダ is 0x83 0x5F: its second byte must survive reading.
  const std::string da = Sjis("ダ>");
  EXPECT_EQ(QuoteFromStored(da + "_"), da + " ");
  EXPECT_EQ(QuoteToStored(da + " "), da + "_");
}

}  // namespace
}  // namespace brelo
