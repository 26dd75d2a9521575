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

TEST(SjisCodec, InvalidBytesShowAsReplacementAndHalfCharactersAsBlanks) {
  // 0xA0, which CP932 does not define, is marked; a lead byte without its
  // second byte (a field the host cut) shows as a blank cell, at the end or
  // in a row of fields.
  EXPECT_EQ(SjisToQString(std::string("A\xA0" "B\x82", 4)), QStringLiteral("A\uFFFDB "));
  const std::string handle = Sjis("とても長いハンド").substr(0, 15);  // 14 bytes + a lead byte
  EXPECT_EQ(SjisToQString(handle + " | next"), QStringLiteral("とても長いハンド | next").replace(QStringLiteral("ド"), QStringLiteral(" ")));
  // The bytes themselves are not changed: only how they are shown.
  EXPECT_EQ(handle.size(), 15u);
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
