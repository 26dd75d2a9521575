// Whole passes of the real program against the demo host, which echoes as
// real hosts do: what people wrote that quotes the host's screens is stored
// as written, posts and mail that name the host's prompts and results keep
// their outcome and go once, and the login and the logout end by themselves.
#include <gtest/gtest.h>

#include "common/FileUtil.h"
#include "common/IniFile.h"
#include "common/Sjis.h"
#include "hosts/HostTable.h"
#include "reader/MainModel.h"
#include "reader/Patrol.h"
#include "store/MessageStore.h"
#include "store/ReservationBox.h"
#include "support/BreloRun.h"
#include "support/DemoHost.h"
#include "support/DemoPass.h"
#include "support/TempDir.h"
#include "support/Wait.h"

namespace brelo {
namespace {

using test::TRun;

TRun Pilot(const std::string& home, const QStringList& args) { return test::Brelo(home, args); }

void HostList(const std::string& home, const std::string& address, int kind = 0,
              const std::string& password = "taro") {
  THostTable t;
  t.HostCount = 1;
  t.HostTable[0] = THostTable::SampleEntry();
  t.HostTable[0].Address = address;
  t.HostTable[0].UserID = "TARO";
  t.HostTable[0].Password = password;
  t.HostTable[0].HostKind = kind;
  t.SaveHostList(home);
}

// The messages of one of the demo host's files: title, and the body as CR
// LF lines.
struct THostMessage {
  std::string title, body;
};
std::vector<THostMessage> HostMessages(const std::string& file) {
  std::vector<THostMessage> out;
  bool in = false;
  for (const std::string& l : SplitLines(file)) {
    if (!in && l.starts_with("#")) {
      size_t tab = 0;
      for (int i = 0; i < 4 && tab != std::string::npos; ++i) tab = l.find('\t', tab + 1);
      const std::string rest = tab == std::string::npos ? std::string() : l.substr(tab + 1);
      out.push_back({rest.substr(0, rest.find('\t')), ""});
      in = true;
    } else if (in && l == ".") {
      in = false;
    } else if (in) {
      out.back().body += (l.starts_with("..") ? l.substr(1) : l) + "\r\n";
    }
  }
  return out;
}

size_t Count(const std::vector<THostMessage>& all, const std::string& title) {
  return static_cast<size_t>(
      std::count_if(all.begin(), all.end(), [&](const THostMessage& m) { return m.title == title; }));
}

std::string Lines(const std::vector<const char*>& utf8) {
  std::string out;
  for (const char* l : utf8) out += Sjis(l) + "\r\n";
  return out;
}

// A pass for each dialect: a message and a mail whose every line quotes the
// host's screens, posts and a mail whose titles and bodies name its prompts
// and results, and a post the host refuses; then a second pass.
void QuotingPasses(bool ktbbs) {
  std::vector<std::string> options = {"--quoting"};
  if (ktbbs) options.push_back("--ktbbs");
  test::TDemoHost host(options);
  test::TTempDir home;
  HostList(home.Path(), host.TelnetAddress(), ktbbs ? 1 : 0);
  TReservationBox box;
  box.HostFolder = home.Path() + "DEMO/";
  MakePath(box.HostFolder);
  const std::string quoted =
      Lines({"失敗しました と出る時があります", "S:送信 A:中止 E:再編集 >", "これでよろしいですか (Y/N)>",
             "*CH03 TARO  こんにちは", "書き込みを終了しました と出ます", "----+----1----+----2", "題名をどうぞ: 中止",
             "MAIN (A,C,E,N,Q,T,U,W,?)>", "*CH03 TARO  またね"});
  const std::string titleOne = Sjis("その店は存在しません"), titleTwo = Sjis("失敗 終了 S:送信 *CH これでよろしいですか");
  const std::string mailTitle = Sjis("中止 題名をどうぞ");
  test::WriteBytes(box.HostFolder + box.AddReservation(8, titleOne, ""), quoted);
  test::WriteBytes(box.HostFolder + box.AddReservation(8, titleTwo, ""), Lines({"本文"}));
  test::WriteBytes(box.HostFolder + box.AddReservation(0, mailTitle, "HANAKO"), quoted);
  test::WriteBytes(box.HostFolder + box.AddReservation(99, Sjis("ない板"), ""), Lines({"書き込みを終了しました と出ます"}));

  TRun r = Pilot(home.Path(), {"--pilot", "0", "--timeout", "120"});
  EXPECT_EQ(r.exit, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("writes: 3 sent, 1 refused by the host, 0 failed"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(", 0 lost"), std::string::npos) << r.out;
  // Each went once, as written (the host keeps the empty line a body that
  // ends with a line break leaves before the "//").
  std::vector<THostMessage> posts = HostMessages(host.DataFile("msg/08.txt"));
  ASSERT_EQ(Count(posts, titleOne), 1u) << r.out;
  ASSERT_EQ(Count(posts, titleTwo), 1u) << r.out;
  for (const THostMessage& m : posts) {
    if (m.title == titleOne) {
      EXPECT_EQ(m.body, quoted + "\r\n");
    }
  }
  const std::vector<THostMessage> mail = HostMessages(host.DataFile("mail/HANAKO.txt"));
  ASSERT_EQ(Count(mail, mailTitle), 1u);
  EXPECT_EQ(mail.back().body, quoted + "\r\n");
  EXPECT_EQ(HostMessages(host.DataFile("msg/99.txt")).size(), 0u);
  box.LoadReservations();
  ASSERT_EQ(box.ReservationCount, 1);  // the refused one, due again
  EXPECT_EQ(box.ReservationTable[0].BoardNo, 99);

  // What people wrote is stored as the host has it: the board message and
  // the mail read (and deleted at the host) during the login.
  const std::string title = Sjis("画面の引用");
  std::string expected;
  for (const THostMessage& m : HostMessages(host.DataFile("msg/01.txt"))) {
    if (m.title == title) expected = "\r\n" + m.body;
  }
  ASSERT_FALSE(expected.empty());
  TMessageStore store;
  store.HostFolder = box.HostFolder;
  store.LoadBoards();
  int found = 0;
  for (int board : {1, 0}) {
    std::vector<TVeskoMessage> index;
    store.ReadIndex(board, 999, index);
    for (const TVeskoMessage& m : index) {
      if (m.Title != title) continue;
      ++found;
      EXPECT_EQ(store.ReadText(board, m.TextPos, m.TextLen), expected) << "board " << board;
    }
  }
  EXPECT_EQ(found, 2);
  EXPECT_TRUE(HostMessages(host.DataFile("mail/TARO.txt")).empty());  // every mail answered "y"

  // The next pass posts nothing twice.
  r = Pilot(home.Path(), {"--pilot", "0", "--timeout", "120"});
  EXPECT_EQ(r.exit, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("writes: 0 sent, 1 refused by the host"), std::string::npos) << r.out;
  posts = HostMessages(host.DataFile("msg/08.txt"));
  EXPECT_EQ(Count(posts, titleOne), 1u);
  EXPECT_EQ(Count(posts, titleTwo), 1u);
  EXPECT_EQ(Count(HostMessages(host.DataFile("mail/HANAKO.txt")), mailTitle), 1u);
}

TEST(HostWordsPass, QuotedScreensAreStoredWholeAndWritesNamingTheHostsWordsGoOnceOnVesko) { QuotingPasses(false); }
TEST(HostWordsPass, QuotedScreensAreStoredWholeAndWritesNamingTheHostsWordsGoOnceOnKtbbs) { QuotingPasses(true); }

TEST(HostWordsPass, TheLoginEndsAsTheHostLeavesItAndAFailedPostThatNamesSuccessStays) {
  struct TCase {
    const char* what;
    std::vector<std::string> options;
    std::string password;
    int exit;
    std::string says;
  };
  const std::vector<TCase> cases = {
      {"a wrong password", {}, "wrong", kExitLoginRefused,
       "refused the login: " + SjisToUtf8(Sjis("パスワードが違います。"))},
      {"a host that shows no login prompt", {"--silent"}, "taro", kExitNoLogin, "showed no login prompt"},
      {"a host that fails the post", {"--fail-writes"}, "taro", kExitWrites, "1 failed"},
  };
  for (const TCase& c : cases) {
    test::TDemoHost host(c.options);
    test::TTempDir home;
    HostList(home.Path(), host.TelnetAddress(), 0, c.password);
    TIniFile settings(home.Path() + "Brelo_V3.ini");
    settings.WriteInteger("Session", "LoginWatchSeconds", 2);
    settings.Save(0600);
    TReservationBox box;
    box.HostFolder = home.Path() + "DEMO/";
    MakePath(box.HostFolder);
    const std::string name = box.AddReservation(8, "t", "");
    test::WriteBytes(box.HostFolder + name, Lines({"書き込みを終了しました と出ます"}));
    const TRun r = Pilot(home.Path(), {"--pilot", "0"});
    EXPECT_EQ(r.exit, c.exit) << c.what << r.out << r.err;
    EXPECT_NE((r.out + r.err).find(c.says), std::string::npos) << c.what << r.out << r.err;
    // Never posted, never deleted; the password went once at most.
    EXPECT_EQ(HostMessages(host.DataFile("msg/08.txt")).size(), 0u) << c.what;
    EXPECT_TRUE(FileExists(box.HostFolder + name)) << c.what;
    const std::string received = host.Received();
    EXPECT_LE(received.find(c.password), received.rfind(c.password)) << c.what;
    if (c.exit == kExitLoginRefused) {
      EXPECT_EQ(received.find(c.password), received.rfind(c.password)) << c.what << received;
    }
  }
}

// A terminal-only host is left out of "all" and refused by name.
TEST(HostWordsPass, ATerminalOnlyHostIsNeverCalled) {
  test::TDemoHost host;
  test::TTempDir home;
  THostTable t;
  t.HostCount = 2;
  for (int i = 0; i < 2; ++i) {
    t.HostTable[i] = THostTable::SampleEntry();
    t.HostTable[i].Title = i == 0 ? "shell" : "board";
    t.HostTable[i].FilePath = i == 0 ? "S" : "B";
    t.HostTable[i].Address = host.TelnetAddress();
    t.HostTable[i].UserID = "TARO";
    t.HostTable[i].Password = "taro";
  }
  t.HostTable[0].TerminalOnly = true;
  t.SaveHostList(home.Path());
  TRun r = Pilot(home.Path(), {"--pilot", "shell"});
  EXPECT_EQ(r.exit, kExitTerminalOnly) << r.out << r.err;
  EXPECT_NE(r.err.find("is marked terminal only"), std::string::npos) << r.err;
  EXPECT_EQ(host.Received().find("TARO"), std::string::npos);
  r = Pilot(home.Path(), {"--pilot", "all"});
  EXPECT_EQ(r.exit, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("brelo: 1 board: done"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("shell"), std::string::npos) << r.out;
}

// The window's rounds: nobody is at the terminal, so every pass logs out
// whatever the user's goodbye options say, and a host that keeps the line
// after "Q" is hung up on.
TEST(HostWordsPass, ARoundEndsByItselfWhateverTheGoodbyeOptions) {
  for (const bool ignoring : {false, true}) {
    test::TDemoHost host(ignoring ? std::vector<std::string>{"--ignore-logout"} : std::vector<std::string>{});
    test::TTempDir home;
    HostList(home.Path(), host.TelnetAddress());
    test::TQuietView view;
    TMainModel model(home.Path(), view);
    view.store = &model.Store;
    model.Hosts.LoadHostList(home.Path());
    model.Policy.Options.GoodbyeWhenExecute = false;  // 予約遂行後ログアウト off
    model.Policy.Options.PassgoodbyeMessage = false;
    TPatrol patrol(model);
    bool finished = false;
    patrol.OnFinished = [&] { finished = true; };
    patrol.Start({0});
    ASSERT_TRUE(test::WaitUntil([&] { return finished; }, 60000)) << ignoring;
    ASSERT_EQ(patrol.Results().size(), 1u);
    const TPatrolResult& res = patrol.Results()[0];
    EXPECT_EQ(res.status, kExitOk) << ignoring << " " << StatusWords(res.status);
    EXPECT_TRUE(res.summary.logoutSent) << ignoring;
    EXPECT_EQ(res.summary.hungUp, ignoring);
    EXPECT_FALSE(model.Policy.Options.GoodbyeWhenExecute);  // the user's options are back
  }
}

}  // namespace
}  // namespace brelo
