// Whole sessions against the demo host: connection, login, captures,
// writes and logout, over loopback and over a pseudo-terminal.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QSslCertificate>
#include <QSslConfiguration>

#include "common/Sjis.h"
#include "session/SessionLog.h"
#include "session/WebPage.h"
#include "support/DemoHost.h"
#include "support/Loopback.h"
#include "support/TempDir.h"
#include "support/SessionRecorder.h"
#include "support/TlsPageServer.h"
#include "support/Wait.h"

namespace brelo {
namespace {

using test::TDemoHost;
using test::TSessionRecorder;

void Guest(TVeskoClient& c, const TDemoHost& host) {
  c.Address = host.TelnetAddress();
  c.UserID = "GUEST";
  c.Password = "";
  c.HandleName = Sjis("ゲスト");
}

TEST(SessionEndToEnd, VeskoPassFetchesUnreadAndLogsOut) {
  TDemoHost host;
  TVeskoClient c;
  TSessionRecorder r(c);
  Guest(c, host);
  c.AutoReceiveMail = true;
  r.script = test::FetchThenLogout();
  c.Connect();
  ASSERT_TRUE(r.WaitForEnd());
  EXPECT_EQ(r.logins, 1);
  EXPECT_EQ(r.logouts, 1);
  EXPECT_EQ(r.disconnects, 1);
  EXPECT_TRUE(r.HasStatus("チャンネルを拾得しました..1"));
  EXPECT_TRUE(r.HasStatus("メール受信中"));
  EXPECT_TRUE(r.HasStatus("モード変更中"));
  EXPECT_TRUE(r.HasStatus("ログインしました"));
  EXPECT_TRUE(r.HasStatus("News Mode"));
  EXPECT_TRUE(r.HasStatus("接続が切れました..127.0.0.1"));
  EXPECT_EQ(r.statuses.back(), "ログアウトしました");
  // The waiting mail was read and deleted during the login.
  ASSERT_EQ(r.mails.size(), 1u);
  EXPECT_EQ(r.mails[0].FromID, "SYSOP");
  EXPECT_EQ(SjisToUtf8(r.mails[0].FromHandle), "シスオペ");
  EXPECT_EQ(SjisToUtf8(r.mails[0].Title), "ゲストの方へ");
  EXPECT_EQ(r.mails[0].BoardNo, 0);
  EXPECT_EQ(host.DataFile("mail/GUEST.txt"), "");
  // Every board with news was announced, and every message captured.
  EXPECT_GE(r.EventIndex("board:1"), 0);
  EXPECT_LT(r.EventIndex("board:1"), r.EventIndex("message:1/1"));
  EXPECT_LT(r.EventIndex("message:1/7"), r.EventIndex("board:2"));
  ASSERT_EQ(r.messages.size(), 10u);
  const TVeskoMessage& m = r.messages[2];
  EXPECT_EQ(m.MesNo, 3);
  EXPECT_EQ(m.FromID, "HANAKO");
  EXPECT_EQ(SjisToUtf8(m.FromHandle), "はなこ");
  EXPECT_EQ(SjisToUtf8(m.BoardName), "雑談ボード");
  EXPECT_EQ(SjisToUtf8(m.Title), "Re:2)はじめまして");
  EXPECT_EQ(SjisToUtf8(m.Text), "> はじめまして、たろうです。\r\n\r\nはなこです。ようこそ～\r\nこちらこそよろしくね。\r\n");
  EXPECT_EQ(FormatDateTime(m.Date), "98/03/02 22:03:11");
  EXPECT_EQ(SjisToUtf8(r.messages[0].Text), "雑談ボードです。\r\nなんでも気軽に書き込んでください(^^)\r\n\r\nシスオペ\r\n");
  EXPECT_EQ(c.Mode(), sm_idle);
}

TEST(SessionEndToEnd, UserListsAreCaptured) {
  TDemoHost host;
  TVeskoClient c;
  TSessionRecorder r(c);
  Guest(c, host);
  r.script = {[](TVeskoClient& s) { s.SendLine("u\r\n"); },
              [](TVeskoClient& s) {
                s.SendLine("W");
              },
              [](TVeskoClient& s) {
                s.SendLine("Q");
                s.SendLine("");
              }};
  c.Connect();
  ASSERT_TRUE(r.WaitForEnd());
  EXPECT_EQ(SjisToUtf8(r.users).rfind("-------- --------------\r\nSYSOP     シスオペ        98/03/01\r\n", 0), 0u);
  EXPECT_EQ(r.loginUsers.substr(0, 9), "01 GUEST ");
}

TEST(SessionEndToEnd, APasswordEchoedByTheHostStaysOutOfTheLogAndTheStatusLines) {
  TDemoHost host({"--echo-password"});
  test::TTempDir dir;
  TVeskoClient c;
  TSessionRecorder r(c);
  c.Address = host.TelnetAddress();
  c.UserID = "TARO";
  c.Password = "taro";
  c.MakeLogFile = true;
  c.LogFileName = dir.Path() + "session.log";
  r.script = {[](TVeskoClient& s) {
    s.SendLine("Q");
    s.SendLine("");
  }};
  c.Connect();
  ASSERT_TRUE(r.WaitForEnd());
  EXPECT_EQ(r.logins, 1);
  const std::string log = test::ReadBytes(dir.Path() + "session.log");
  EXPECT_NE(log.find("Password: ****"), std::string::npos);
  EXPECT_EQ(log.find("taro"), std::string::npos);
  for (const auto& s : r.statuses) EXPECT_EQ(s.find("taro"), std::string::npos) << s;
}

// The session log of a login whose password prompt ends its line, the
// host then sending `after`.
std::string LogAfterAPromptOnALineOfItsOwn(const std::string& after) {
  test::TLoopbackPeer peer;
  test::TTempDir dir;
  TVeskoClient c;
  TSessionRecorder r(c);
  c.Address = "127.0.0.1:" + std::to_string(peer.Port());
  c.UserID = "TARO";
  c.Password = "secret";
  c.MakeLogFile = true;
  c.LogFileName = dir.Path() + "session.log";
  c.Connect();
  if (!peer.Accept()) return "(no connection)";
  peer.Write("ID: ");
  if (peer.ReadUntil("TARO\r\n").find("TARO") == std::string::npos) return "(no ID sent)";
  peer.Write("\r\nPassword:\r\n");
  if (peer.ReadUntil("secret\r\n").find("secret") == std::string::npos) return "(no password sent)";
  peer.Write(after);
  peer.HangUp();
  if (!r.WaitForEnd()) return "(the session did not end)";
  return test::ReadBytes(dir.Path() + "session.log");
}

TEST(SessionEndToEnd, APasswordEchoedOnALineOfItsOwnIsMaskedThereAndTheLinesAroundItStay) {
  const std::string log = LogAfterAPromptOnALineOfItsOwn("secret\r\nsecrets are kept\r\n");
  EXPECT_NE(log.find("Password:\r\n******\r\nsecrets are kept\r\n"), std::string::npos) << log;
  EXPECT_EQ(log.find("secret\r\n"), std::string::npos);
  // A host that does not echo: the line after the prompt is its own text,
  // logged as it came.
  const std::string quiet = LogAfterAPromptOnALineOfItsOwn("Welcome, TARO\r\n");
  EXPECT_NE(quiet.find("Password:\r\nWelcome, TARO\r\n"), std::string::npos) << quiet;
}

TEST(SessionEndToEnd, KtbbsPassCapturesTheSameMessages) {
  TDemoHost host({"--ktbbs", "--chunks", "split", "--negotiate"});
  TVeskoClient c;
  TSessionRecorder r(c);
  Guest(c, host);
  c.HostKind = HK_ktbbs;
  c.StealthLogin = true;  // never on KTBBS
  r.script = test::FetchThenLogout();
  c.Connect();
  ASSERT_TRUE(r.WaitForEnd());
  EXPECT_EQ(r.logouts, 1);
  ASSERT_EQ(r.messages.size(), 10u);
  EXPECT_EQ(SjisToUtf8(r.messages[6].Text), "参加します！\r\n");  // ended by the next board line
  EXPECT_LT(r.EventIndex("message:1/7"), r.EventIndex("board:2"));
  EXPECT_FALSE(r.HasStatus("モード変更中"));
  EXPECT_FALSE(r.HasStatus("ログインモード設定中"));
  const std::string received = host.Received();
  EXPECT_EQ(received.find("% +M"), std::string::npos);
  EXPECT_EQ(received.find("$SET_LOGIN_MODE"), std::string::npos);
  // Without AutoReceiveMail the notice is answered "0".
  EXPECT_NE(received.find("] 0%0D%0A"), std::string::npos);
  EXPECT_TRUE(r.mails.empty());
}

TEST(SessionEndToEnd, StealthOnVeskoAndAHandleInsteadOfAPassword) {
  TDemoHost host;
  TVeskoClient c;
  TSessionRecorder r(c);
  c.Address = host.TelnetAddress();
  c.UserID = "MIDORI";
  c.HandleName = Sjis("みーちゃん");
  c.StealthLogin = true;
  r.script = {[](TVeskoClient& s) {
    s.SendLine("Q");
    s.SendLine("");
  }};
  c.Connect();
  ASSERT_TRUE(r.WaitForEnd());
  EXPECT_TRUE(r.HasStatus("ログインモード設定中"));
  const std::string received = host.Received();
  EXPECT_NE(received.find("$SET_LOGIN_MODE%0D%0A"), std::string::npos);
  EXPECT_NE(received.find("STEALTH%0D%0A"), std::string::npos);
  EXPECT_NE(received.find("%82%DD%81[%82%BF%82%E1%82%F1%0D%0A"), std::string::npos);  // the handle
  EXPECT_EQ(r.logouts, 1);
}

TEST(SessionEndToEnd, WebLookUpThenTelnet) {
  TDemoHost host({}, true);
  TVeskoClient c;
  TSessionRecorder r(c);
  Guest(c, host);
  c.Address = "http://127.0.0.1:" + std::to_string(host.HttpPort()) + "/bbs/index.html";
  r.script = {[](TVeskoClient& s) {
    s.SendLine("Q");
    s.SendLine("");
  }};
  c.Connect();
  ASSERT_TRUE(r.WaitForEnd());
  EXPECT_TRUE(r.HasStatus("127.0.0.1:" + std::to_string(host.HttpPort()) + " , bbs/index.htmlよりIPアドレスを拾得しています."));
  EXPECT_TRUE(r.HasStatus("IPアドレスを拾得しました...127.0.0.1:" + std::to_string(host.Port())));
  EXPECT_EQ(r.logins, 1);
  EXPECT_NE(host.Received().find("GET /bbs/index.html HTTP/1.1%0D%0A"), std::string::npos);
}

// The page of a look-up goes into the session log as the host's lines do:
// a log that cannot take it is a log failure like any other.
TEST(SessionEndToEnd, AWebPageTheLogCannotTakeIsALogFailure) {
  TDemoHost host({}, true);
  test::TTempDir dir;
  const std::string path = dir.File("pass.LOG");
  test::TFullFile full(path);
  // Room for the pass's mark, none for the page.
  ASSERT_EQ(::truncate(path.c_str(), (1 << 20) - static_cast<off_t>(TSessionLog::PassMark().size() + 2)), 0);
  full.Now();
  TVeskoClient c;
  TSessionRecorder r(c);
  Guest(c, host);
  std::vector<std::string> failures;
  c.OnLogFailed = [&](TVeskoClient* s, const std::string& why) {
    failures.push_back(SjisToUtf8(why));
    s->Disconnect();
  };
  c.MakeLogFile = true;
  c.LogFileName = path;
  c.Address = "http://127.0.0.1:" + std::to_string(host.HttpPort()) + "/bbs/index.html";
  c.Connect();
  ASSERT_TRUE(r.WaitForEnd());
  ASSERT_EQ(failures.size(), 1u);
  EXPECT_NE(failures[0].find("pass.LOG に書き込めません (ファイルが大きすぎます)"), std::string::npos) << failures[0];
  EXPECT_EQ(r.logins, 0);
}

// One certificate, and no other, trusted while this lives: the one the demo
// host made for itself, or an https server's of the test.
class TTrustTheCertificate {
 public:
  explicit TTrustTheCertificate(const std::string& path) : before_(QSslConfiguration::defaultConfiguration()) {
    QSslConfiguration c = before_;
    const auto made = QSslCertificate::fromPath(QString::fromStdString(path));
    EXPECT_EQ(made.size(), 1);
    c.setCaCertificates(made);
    QSslConfiguration::setDefaultConfiguration(c);
  }
  ~TTrustTheCertificate() { QSslConfiguration::setDefaultConfiguration(before_); }

 private:
  QSslConfiguration before_;
};

TEST(SessionEndToEnd, WebLookUpOverHttpsThroughRedirects) {
  TDemoHost host({"--https"}, true);
  TTrustTheCertificate trust(host.DataFolder() + "tls/certificate.pem");
  const std::string page = "https://127.0.0.1:" + std::to_string(host.HttpPort()) + "/redirect/";
  {
    TVeskoClient c;
    TSessionRecorder r(c);
    Guest(c, host);
    c.Address = page + "5";  // five redirects: as many as are followed
    r.script = {[](TVeskoClient& s) {
      s.SendLine("Q");
      s.SendLine("");
    }};
    c.Connect();
    ASSERT_TRUE(r.WaitForEnd());
    EXPECT_TRUE(r.HasStatus("IPアドレスを拾得しました...127.0.0.1:" + std::to_string(host.Port())));
    EXPECT_EQ(r.logins, 1);
  }
  TVeskoClient c;
  TSessionRecorder r(c);
  c.Address = page + "6";
  c.Connect();
  ASSERT_TRUE(r.WaitForEnd());
  EXPECT_TRUE(r.HasStatus("IPアドレスを拾得できませんでした. (転送が 5 回を超えました)"));
  EXPECT_EQ(r.logins, 0);
}

TEST(SessionEndToEnd, AnHttpsPageWithACertificateNobodyVouchesForIsNotRead) {
  TDemoHost host({"--https"}, true);
  TVeskoClient c;
  TSessionRecorder r(c);
  c.Address = "https://127.0.0.1:" + std::to_string(host.HttpPort()) + "/bbs/index.html";
  c.Connect();
  ASSERT_TRUE(r.WaitForEnd());
  bool refused = false;
  for (const std::string& s : r.statuses) refused |= s.rfind("IPアドレスを拾得できませんでした. (TLS の接続を確立できません: ", 0) == 0;
  EXPECT_TRUE(refused);
  EXPECT_EQ(r.logins, 0);
}

TEST(SessionEndToEnd, AnHttpsPageFromAServerThatKeepsTheConnectionAfterClosingTls) {
  // OpenSSL's own server ends the page with close_notify and keeps TCP
  // open: the page is whole at its end, not at a time-out.
  TDemoHost host;
  test::TTlsPageServer server("<HTML>\r\n<BODY>\r\ntelnet://127.0.0.1:" + std::to_string(host.Port()) +
                              "/<BR>\r\n</BODY>\r\n</HTML>\r\n");
  TTrustTheCertificate trust(server.CertificatePath());
  TVeskoClient c;
  TSessionRecorder r(c);
  Guest(c, host);
  c.Address = "https://127.0.0.1:" + std::to_string(server.Port()) + "/index.html";
  r.script = {[](TVeskoClient& s) {
    s.SendLine("Q");
    s.SendLine("");
  }};
  c.Connect();
  // Well before the 30-second time-out of a page that never ends.
  ASSERT_TRUE(test::WaitUntil([&] {
    for (const std::string& s : r.statuses) {
      if (s.rfind("IPアドレスを拾得しました", 0) == 0 || s.rfind("IPアドレスを拾得できませんでした", 0) == 0) return true;
    }
    return false;
  }, kWebTimeoutMs / 2));
  ASSERT_TRUE(r.WaitForEnd());
  EXPECT_TRUE(r.HasStatus("IPアドレスを拾得しました...127.0.0.1:" + std::to_string(host.Port())));
  EXPECT_EQ(r.logins, 1);
}

TEST(SessionEndToEnd, WhyTheAddressPageGaveNoAddressIsTheLinesErrorNotItsConsequence) {
  // An untrusted certificate: the reason is the TLS failure, not the empty
  // address that could not be called after it.
  test::TTlsPageServer server("<HTML>\r\n</HTML>\r\n");
  TVeskoClient c;
  TSessionRecorder r(c);
  c.Address = "https://127.0.0.1:" + std::to_string(server.Port()) + "/index.html";
  c.Connect();
  ASSERT_TRUE(r.WaitForEnd());
  const std::string lookup = SjisToUtf8(c.LastLineError().lookup);
  EXPECT_NE(lookup.find("TLS の接続を確立できません"), std::string::npos) << lookup;
  EXPECT_EQ(r.logins, 0);
}

TEST(SessionEndToEnd, WebPageWithoutAnAddress) {
  TDemoHost host({"--no-address"}, true);
  TVeskoClient c;
  TSessionRecorder r(c);
  c.Address = "http://127.0.0.1:" + std::to_string(host.HttpPort()) + "/";
  c.Connect();
  ASSERT_TRUE(test::WaitUntil([&] { return r.HasStatus("IPアドレスを拾得できませんでした."); }));
  ASSERT_TRUE(r.WaitForEnd());  // the empty address cannot be called
  EXPECT_TRUE(r.HasStatus("接続に失敗しました"));
  EXPECT_EQ(r.logins, 0);
}

TEST(SessionEndToEnd, ModemCallThroughThreeBusySignals) {
  TDemoHost host({"--modem", "--busy", "3"});
  TVeskoClient c;
  TSessionRecorder r(c);
  c.Address = "tel://0312345678/";
  c.ModemDevice = host.ModemLink();
  c.UserID = "GUEST";
  r.script = test::FetchThenLogout();
  c.Connect();
  ASSERT_TRUE(r.WaitForEnd());
  for (int i = 1; i <= 4; ++i) {
    EXPECT_TRUE(r.HasStatus("0312345678に電話をかけています....(" + std::to_string(i) + "回目)")) << i;
  }
  EXPECT_FALSE(r.HasStatus("0312345678に電話をかけています....(5回目)"));
  EXPECT_FALSE(r.HasStatus("モデム初期化中..."));  // no initialisation command
  EXPECT_TRUE(r.HasStatus("0312345678に接続しました"));
  EXPECT_EQ(r.messages.size(), 10u);
  // The host hung up after the goodbye: the carrier dropped.
  EXPECT_TRUE(r.HasStatus("切断されました.."));
  EXPECT_EQ(r.logouts, 1);
  EXPECT_NE(host.Received().find("ATD0312345678%0D%0A"), std::string::npos);
}

TEST(SessionEndToEnd, ModemInitialisedBeforeEveryDialAndGivingUpWhenBusy) {
  TDemoHost host({"--modem", "--busy", "20"});
  TVeskoClient c;
  TSessionRecorder r(c);
  c.Address = "0312345678";
  c.ModemDevice = host.ModemLink();
  c.ModemInitCommand = "ATZ";
  c.ModemDialCommand = "ATDT";
  c.Connect();
  // The work thread ends on its own; the session ends with Disconnect.
  ASSERT_TRUE(test::WaitUntil([&] { return r.HasStatus("接続に失敗しました"); }, 30000));
  EXPECT_TRUE(r.HasStatus("0312345678に電話をかけています....(10回目)"));
  EXPECT_TRUE(r.HasStatus("0312345678は話し中でした"));
  EXPECT_TRUE(r.HasStatus("接続に失敗しました"));
  EXPECT_EQ(r.logins, 0);
  const std::string received = host.Received();
  size_t inits = 0;
  for (size_t at = 0; (at = received.find("ATZ%0D%0A", at)) != std::string::npos; ++at) ++inits;
  EXPECT_EQ(inits, 10u);
  c.Disconnect();
  ASSERT_TRUE(r.WaitForEnd());
}

TEST(SessionEndToEnd, PortThatCannotBeOpened) {
  TVeskoClient c;
  TSessionRecorder r(c);
  c.Address = "0312345678";
  c.ModemDevice = "/nonexistent/tty";
  c.Connect();
  ASSERT_TRUE(test::WaitUntil([&] { return r.HasStatus("接続に失敗しました"); }));
  EXPECT_TRUE(r.HasStatus("ポートをオープンできません"));
  // The send thread lives on until Disconnect; then a new session can start.
  EXPECT_TRUE(c.SessionRunning());
  c.Disconnect();
  EXPECT_EQ(r.disconnects, 1);
  ASSERT_TRUE(r.WaitForEnd());
}

TEST(SessionEndToEnd, DisconnectDuringTheLogin) {
  TDemoHost host({"--silent"});
  TVeskoClient c;
  TSessionRecorder r(c);
  Guest(c, host);
  c.Connect();
  ASSERT_TRUE(test::WaitUntil([&] { return c.Connected(); }));
  c.Disconnect();
  ASSERT_TRUE(r.WaitForEnd());
  EXPECT_EQ(r.statuses.back(), "接続に失敗しました");
  EXPECT_EQ(r.logins, 0);
  EXPECT_EQ(r.logouts, 0);
}

TEST(SessionEndToEnd, PostsAndMailsAreWrittenAndConfirmed) {
  TDemoHost host;
  TVeskoClient c;
  TSessionRecorder r(c);
  c.Address = host.TelnetAddress();
  c.UserID = "TARO";
  c.Password = "taro";
  r.script = {
      [](TVeskoClient& s) { s.WriteMessage("8", Sjis("はじめての投稿"), Sjis("一行目\r\n二行目"), 0); },
      [](TVeskoClient& s) { s.WriteMessage("2", Sjis("勝手なお知らせ"), "x", 1); },  // refused
      [](TVeskoClient& s) { s.WriteMail("HANAKO;KENJI", Sjis("こんにちは"), Sjis("メール本文"), 2); },
      [](TVeskoClient& s) {
        s.SendLine("Q");
        s.SendLine("");
      },
  };
  c.Connect();
  ASSERT_TRUE(r.WaitForEnd());
  EXPECT_EQ(r.written, (std::vector<int>{0, 2}));
  EXPECT_NE(host.DataFile("msg/08.txt").find(Sjis("一行目") + "\r\n" + Sjis("二行目")), std::string::npos);
  EXPECT_EQ(host.DataFile("msg/02.txt").find(Sjis("勝手なお知らせ")), std::string::npos);
  EXPECT_NE(host.DataFile("mail/KENJI.txt").find(Sjis("メール本文")), std::string::npos);
  // The copy of the sent mail follows the confirmation; TARO's waiting mail
  // was left on the host (the notice was answered "0").
  ASSERT_EQ(r.mails.size(), 1u);
  EXPECT_LT(r.EventIndex("written:2"), r.EventIndex("mail:HANAKO"));
  const TVeskoMessage& sent = r.mails[0];
  EXPECT_EQ(sent.FromHandle, "\x81\x48");
  EXPECT_EQ(SjisToUtf8(sent.Title), "[送信ﾒｰﾙ]こんにちは");
  EXPECT_EQ(sent.MesNo, -1);
  EXPECT_EQ(sent.BoardNo, 0);
  EXPECT_NE(SjisToUtf8(sent.Text).find("題名をどうぞ"), std::string::npos);
  EXPECT_NE(SjisToUtf8(sent.Text).find("メールの送信を終了しました"), std::string::npos);
  EXPECT_TRUE(r.HasStatus("書き込みました"));
  EXPECT_EQ(c.Mode(), sm_idle);
}

}  // namespace
}  // namespace brelo
