// The demo host's own dialogues, driven by a caller over a socket.
#include <gtest/gtest.h>

#include "common/Sjis.h"
#include "support/DemoHost.h"

namespace brelo {
namespace {

using test::TDemoHost;
using test::TRawCaller;

void LogIn(TRawCaller& c, const std::string& id, const std::string& password) {
  ASSERT_TRUE(c.Expect("ID: "));
  c.Line(id);
  ASSERT_TRUE(c.Expect("Password: "));
  c.Line(password);
}

TEST(DemoHostDialogue, GuestLoginReadsMailAndReachesTheMainPrompt) {
  TDemoHost host;
  TRawCaller c(host.Port());
  LogIn(c, "guest", "");
  ASSERT_TRUE(c.Expect("*CH01 "));
  ASSERT_TRUE(c.Expect("[RET]:"));
  c.Line("");
  ASSERT_TRUE(c.Expect("Private Message is from: SYSOP "));
  ASSERT_TRUE(c.Expect(Sjis("削除しますか？ (Y/N)>")));
  c.Line("y");
  ASSERT_TRUE(c.Expect("MAIN (A"));
  EXPECT_EQ(c.Screen().substr(c.Screen().size() - 2), ")>");  // a partial line
  c.Line("Q");
  c.Line("");
  EXPECT_TRUE(c.Closed());
  // The mail was deleted: the next visit has no mail notice.
  TRawCaller again(host.Port());
  LogIn(again, "GUEST", "");
  ASSERT_TRUE(again.Expect("MAIN (A"));
  EXPECT_EQ(again.Screen().find("[RET]:"), std::string::npos);
}

TEST(DemoHostDialogue, StealthHandleAndWrongPassword) {
  TDemoHost host;
  TRawCaller c(host.Port());
  ASSERT_TRUE(c.Expect("ID: "));
  c.Line("$SET_LOGIN_MODE");
  ASSERT_TRUE(c.Expect("Login Mode ="));
  c.Line("STEALTH");
  LogIn(c, "TARO", "wrong");
  ASSERT_TRUE(c.Expect(Sjis("パスワードが違います")));
  ASSERT_TRUE(c.Expect("ID: "));
  c.Line("MIDORI");
  ASSERT_TRUE(c.Expect(Sjis("ハンドル名を入力してください")));
  c.Line(Sjis("みーちゃん"));
  ASSERT_TRUE(c.Expect("*CH01 MIDORI " + Sjis("みーちゃん")));
  ASSERT_TRUE(c.Expect(Sjis("ステルスモード")));
  ASSERT_TRUE(c.Expect("MAIN (A"));
  // KTBBS knows no login modes: the request is just a wrong ID.
  TDemoHost ktbbs({"--ktbbs"});
  TRawCaller k(ktbbs.Port());
  ASSERT_TRUE(k.Expect("ID: "));
  k.Line("$SET_LOGIN_MODE");
  ASSERT_TRUE(k.Expect(Sjis("そのIDは登録されていません")));
}

TEST(DemoHostDialogue, PostRefusalAndMail) {
  TDemoHost host;
  TRawCaller c(host.Port());
  LogIn(c, "TARO", "taro");
  ASSERT_TRUE(c.Expect("[RET]:"));
  c.Line("0");
  ASSERT_TRUE(c.Expect("MAIN (A"));
  c.Line("ew2;" + Sjis("勝手なお知らせ"));
  ASSERT_TRUE(c.Expect(Sjis("そのボードには書き込めません。")));
  c.Line("0");
  ASSERT_TRUE(c.Expect("*CH"));
  c.Line("ew99;x");
  ASSERT_TRUE(c.Expect(Sjis("存在しません")));
  c.Line("0");
  c.Line("ew9;x");
  ASSERT_TRUE(c.Expect(Sjis("アクセス権がありません")));
  c.Line("0");
  c.Line("ew8;" + Sjis("テスト"));
  ASSERT_TRUE(c.ConfirmAndSend(Sjis("本文です")));
  EXPECT_NE(host.DataFile("msg/08.txt").find(Sjis("本文です")), std::string::npos);

  c.Line("emHANAKO;NOBODY;0");
  ASSERT_TRUE(c.Expect(Sjis("中止")));
  c.Line("0");
  c.Line("emHANAKO;KENJI;0");
  ASSERT_TRUE(c.Expect(Sjis("題名をどうぞ")));
  c.Line(Sjis("お元気ですか"));
  ASSERT_TRUE(c.ConfirmAndSend("hello"));
  EXPECT_NE(host.DataFile("mail/HANAKO.txt").find(Sjis("お元気ですか")), std::string::npos);
  EXPECT_NE(host.DataFile("mail/KENJI.txt").find(Sjis("お元気ですか")), std::string::npos);
}

TEST(DemoHostDialogue, NewsListingInBothFamilies) {
  for (bool ktbbs : {false, true}) {
    TDemoHost host(ktbbs ? std::vector<std::string>{"--ktbbs"} : std::vector<std::string>{});
    TRawCaller c(host.Port());
    LogIn(c, "KENJI", "kenji");
    ASSERT_TRUE(c.Expect("MAIN (A"));
    c.Line("N@ 98/03/04");
    ASSERT_TRUE(c.Expect(Sjis("日付が 98/03/04 以降のものを読みます。")));
    ASSERT_TRUE(c.Expect("0001: GENERAL  " + Sjis("雑談ボード") + "\r\n"));
    ASSERT_TRUE(c.Expect("Message  #0006 is from: KENJI " + Sjis("けんじ") + "\r\n"));
    ASSERT_TRUE(c.Expect("Time: 98/03/05 19:20:00  Section 1:"));
    ASSERT_TRUE(c.Expect("Subj: "));
    ASSERT_TRUE(c.Expect(Sjis("参加します！") + "\r\n"));
    // Vesko closes a board's listing with "//"; KTBBS goes on with the next board.
    ASSERT_TRUE(c.Expect(ktbbs ? std::string("0003: PC") : std::string("//\r\n0003: PC")));
    ASSERT_TRUE(c.Expect("MAIN (A"));
    c.Line("u");
    ASSERT_TRUE(c.Expect("USERID    H A N D L E\r\n"));
    ASSERT_TRUE(c.Expect("\r\n\r\n"));
  }
}

TEST(DemoHostDialogue, WebPageCarriesTheTelnetAddress) {
  TDemoHost host({}, true);
  TRawCaller c(host.HttpPort());
  c.Line("GET /bbs/index.html HTTP/1.0");
  c.Line("");
  ASSERT_TRUE(c.Expect("telnet://127.0.0.1:" + std::to_string(host.Port()) + "/"));
  ASSERT_TRUE(c.Expect("</HTML>"));
  EXPECT_TRUE(c.Closed());
}

}  // namespace
}  // namespace brelo
