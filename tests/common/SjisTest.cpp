#include "common/Sjis.h"

#include <gtest/gtest.h>

namespace brelo {
namespace {

TEST(SjisCodec, RoundTripsJapaneseAndHalfWidthKana) {
  const QString text = QStringLiteral("メッセージボード05 ｷｬﾝｾﾙ ダ表ソ～");
  TSjisResult r = QStringToSjis(text);
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(r.bytes.substr(0, 2), "\x83\x81");        // メ
  EXPECT_NE(r.bytes.find("\x83\x5F"), std::string::npos);  // ダ: trail byte 0x5F
  EXPECT_NE(r.bytes.find("\x95\x5C"), std::string::npos);  // 表: trail byte 0x5C
  EXPECT_EQ(SjisToQString(r.bytes), text);
}

TEST(SjisCodec, ReportsCharactersShiftJisCannotHold) {
  TSjisResult r = QStringToSjis(QStringLiteral("a😀b€c😀"));
  EXPECT_FALSE(r.ok());
  EXPECT_EQ(r.unmappable, QStringLiteral("😀€"));
  EXPECT_EQ(r.bytes, "abc");
}

TEST(SjisCodec, InvalidBytesShowAsReplacementWithoutShifting) {
  // A lone lead byte at the end, and 0xA0 which CP932 does not define.
  QString s = SjisToQString(std::string("A\xA0" "B\x82", 4));
  EXPECT_EQ(s, QStringLiteral("A\uFFFDB\uFFFD"));
}

TEST(SjisCodec, LeadByteRanges) {
  EXPECT_FALSE(IsDBCSLeadByte(0x80));
  EXPECT_TRUE(IsDBCSLeadByte(0x81));
  EXPECT_TRUE(IsDBCSLeadByte(0x9F));
  EXPECT_FALSE(IsDBCSLeadByte(0xA0));
  EXPECT_FALSE(IsDBCSLeadByte(0xDF));
  EXPECT_TRUE(IsDBCSLeadByte(0xE0));
  EXPECT_TRUE(IsDBCSLeadByte(0xFC));
  EXPECT_FALSE(IsDBCSLeadByte(0xFD));
}

TEST(SjisCodec, CutBytesMaySplitADoubleByteCharacter) {
  std::string s = Sjis("あいう");  // six bytes
  EXPECT_EQ(CutBytes(s, 3), s.substr(0, 3));
  EXPECT_EQ(CutBytes(s, 10), s);
  EXPECT_FALSE(IsCharBoundary(s, 3));
  EXPECT_TRUE(IsCharBoundary(s, 4));
}

}  // namespace
}  // namespace brelo
