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

TEST(AppSettings, UnderscoreAsTrailByteIsNotASpace) {
  // ダ is 0x83 0x5F: its second byte must survive reading.
  const std::string da = Sjis("ダ>");
  EXPECT_EQ(QuoteFromStored(da + "_"), da + " ");
  EXPECT_EQ(QuoteToStored(da + " "), da + "_");
}

}  // namespace
}  // namespace brelo
