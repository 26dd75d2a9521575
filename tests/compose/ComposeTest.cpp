// Templates, macros, response titles and quotes.
#include <gtest/gtest.h>

#include "common/FileUtil.h"
#include "common/Sjis.h"
#include "compose/Drafting.h"
#include "compose/Templates.h"
#include "support/TempDir.h"

namespace brelo {
namespace {

TEST(Macros, ExpansionTable) {
  test::TTempDir dir;
  TTemplateEngine t(dir.Path());
  t.Clock = [] { return TCivilTime{2026, 12, 7, 9, 5, 3, 0}; };
  t.Context = {"ME", "YOU", Sjis("自分"), Sjis("相手"), "BRD", "SUBJ", "123", ""};
  EXPECT_EQ(t.ExpandMacros("%H %I %h %i"), Sjis("自分") + " ME " + Sjis("相手") + " YOU");
  EXPECT_EQ(t.ExpandMacros("%D %T %W"), "2026/12/07 9:05:03 " + Sjis("月"));
  EXPECT_EQ(t.ExpandMacros("%X %S %B"), "123 SUBJ BRD");
  EXPECT_EQ(t.ExpandMacros("100%% %Z%"), "100% %%");  // "%%" gives one; %Z gives one; a final "%" stays
  EXPECT_EQ(t.ExpandMacros("end %H"), "end " + Sjis("自分"));
  EXPECT_EQ(t.ExpandMacros("%h"), Sjis("相手"));  // case-sensitive
}

TEST(Templates, DefaultsAndTheNewPostFooterLine) {
  test::TTempDir dir;
  TTemplateEngine t(dir.Path());
  t.Clock = [] { return TCivilTime{2026, 12, 7, 21, 7, 33, 0}; };
  t.Context.MyHandle = "Pallo";
  t.Context.MyID = "GUEST";
  t.Context.BodyText = "\r\n";
  t.PrepareTemplates(0);
  EXPECT_EQ(t.Composed, Sjis("どもども、Palloです(^^)\r\n") + "\r\n" + "\r\n" + std::string(25, ' ') +
                            "< 2026/12/07 21:07:33 Pallo(GUEST) >");
  t.PrepareTemplates(1);
  EXPECT_EQ(t.Header, Sjis("%h(%i)さんへのレスポンスです(^^)\r\n\r\n"));
}

TEST(Templates, SwitchingKindsStoresTheKindBeingLeft) {
  test::TTempDir dir;
  TTemplateEngine t(dir.Path());
  t.PrepareTemplates(0);
  t.Header = "my header %H\r\n";
  t.Footer = "my footer";
  t.ComboBox1Change(1);
  EXPECT_EQ(test::ReadBytes(dir.File("H0.TXT")), "my header %H\r\n");
  EXPECT_EQ(test::ReadBytes(dir.File("F0.TXT")), "my footer\r\n");
  EXPECT_FALSE(FileExists(dir.File("H1.TXT")));
  EXPECT_EQ(t.TemplateKind, 1);
  t.PrepareTemplates(0);
  EXPECT_EQ(t.Header, "my header %H\r\n");
}

TEST(ResponseTitles, BoardsReplaceThePrefixAndMailAddsRe) {
  auto title = [](int board, int no, const std::string& t) {
    TVeskoMessage m;
    m.BoardNo = board;
    m.MesNo = no;
    m.Title = t;
    return ResponseTitle(m);
  };
  EXPECT_EQ(title(5, 123, "Hello"), "Re:123)Hello");
  EXPECT_EQ(title(5, 130, "Re:123)Hello"), "Re:130)Hello");
  EXPECT_EQ(title(0, -1, "Re:5)Hi"), "Re:Hi");
  EXPECT_EQ(title(0, -1, "Hi"), "Re:Hi");
  EXPECT_EQ(title(0, -1, "Re:Hi"), "Re:Re:Hi");
  EXPECT_EQ(title(5, 1, std::string(70, 'x')).size(), 60u);
  // New titles never end in half a character: neither where the 60 bytes
  // end, nor where the host cut the stored title.
  const std::string kanji = Sjis("漢字");  // two double-byte characters
  std::string t = "Re:12)";
  while (t.size() < 59) t += "x";
  EXPECT_EQ(title(5, 12, t.substr(6) + kanji), t + "");  // 59 bytes: the character would not fit
  EXPECT_EQ(title(5, 1, Sjis("題") + kanji.substr(0, 1)), "Re:1)" + Sjis("題"));
  for (const std::string& x : {title(5, 12, t.substr(6) + kanji), title(5, 1, Sjis("題") + kanji.substr(0, 1))}) {
    EXPECT_TRUE(IsValidSjis(x)) << x;
  }
}

TEST(Macros, ValuesTheHostCutInsideACharacterLoseTheHalf) {
  test::TTempDir dir;
  TTemplateEngine t(dir.Path());
  const std::string handle = Sjis("とても長いハン") ;       // 14 bytes, whole
  const std::string cut = Sjis("ながいハンドルネ").substr(0, 15);  // the capture's 14 + a lead byte
  t.Context.YourHandle = cut;
  t.Context.MyHandle = handle;
  t.Context.Subject = Sjis("題名") + "\x83";
  EXPECT_EQ(t.ExpandMacros("%h/%H/%S"), Sjis("ながいハンドル") + "/" + handle + "/" + Sjis("題名"));
  EXPECT_TRUE(IsValidSjis(t.ExpandMacros("%h %S")));
}

TEST(Quotes, LeadingAndTrailingEmptyLinesAreDropped) {
  EXPECT_EQ(QuoteLines({"", "", "a", "", "b", ""}, "> "), "> a\r\n> \r\n> b\r\n");
  EXPECT_EQ(QuoteLines({"", ""}, "> "), "> \r\n");  // the head line alone: one bare prefix
  EXPECT_EQ(QuoteLines({"", "", ""}, "> "), "");
  EXPECT_EQ(QuoteLines({""}, "> "), "");
}

}  // namespace
}  // namespace brelo
