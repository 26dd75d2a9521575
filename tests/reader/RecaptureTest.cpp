// Re-capture from a session log, and opening a search hit in the browser.
#include "reader/Recapture.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "common/FileUtil.h"
#include "common/Sjis.h"
#include "session/SessionLog.h"
#include "support/DemoHost.h"
#include "support/DemoPass.h"
#include "support/TempDir.h"
#include "support/Wait.h"
#include "reader/ArticleBrowser.h"

namespace brelo {
namespace {

class RecaptureTest : public ::testing::Test {
 protected:
  test::TTempDir dir;
  test::TQuietView view;
  std::unique_ptr<TMainModel> model;
  void SetUp() override {
    model = std::make_unique<TMainModel>(dir.Path(), view);
    view.store = &model->Store;
    model->Hosts.LoadHostList(dir.Path());
    model->Policy.HostComboBoxChange(0);
  }
};

const std::string kNews = Sjis("日付が 98/01/01 以降のものを読みます。") + "\r\n" + "0001: GENERAL  " + Sjis("雑談") + "\r\n" +
                          "Message  #0010 is from: TARO " + Sjis("たろう") + "\r\n" +
                          "Time: 98/03/15 21:07:33  Section 1:" + Sjis("雑談") + "\r\n" + "Subj: first\r\n" +
                          "line one\r\n" + "Message  #0011 is from: HANAKO " + Sjis("はなこ") + "\r\n" +
                          "Time: 98/03/16 10:00:00  Section 1:" + Sjis("雑談") + "\r\n" + "Subj: Re:10)second\r\n" +
                          "line two\r\n" + "//\r\n";

TEST_F(RecaptureTest, StoresWhatTheLogHoldsOnceAndACutMessageAsFarAsItGoes) {
  const std::string third = "Message  #0012 is from: KENJI k\r\nTime: 98/03/17 10:00:00  Section 1:x\r\nSubj: cut\r\n";
  TRecaptureResult r = Recapture(*model, kNews + third + "first half\r\n");
  EXPECT_EQ(r.stored, 3);
  EXPECT_EQ(r.cut, 1);
  EXPECT_EQ(r.boards, 1);
  EXPECT_EQ(model->Store.RecordCount(1), 3);
  EXPECT_EQ(model->Store.BoardTable[1].Name, "GENERAL");
  // Again, with the cut message whole: it completes the cut copy's record.
  r = Recapture(*model, kNews + third + "first half\r\nsecond half\r\n//\r\n");
  EXPECT_EQ(r.stored, 1);
  EXPECT_EQ(r.skipped, 2);
  EXPECT_EQ(r.cut, 0);
  ASSERT_EQ(model->Store.RecordCount(1), 3);
  std::vector<TVeskoMessage> e;
  model->Store.ReadIndex(1, 999, e);
  EXPECT_EQ(model->Store.ReadText(1, e[1].TextPos, e[1].TextLen), "\r\nline two\r\n");
  EXPECT_EQ(model->Store.ReadText(1, e[2].TextPos, e[2].TextLen), "\r\nfirst half\r\nsecond half\r\n");
  EXPECT_EQ(e[2].MesNo, 12);
  // And once more: nothing is stored twice.
  r = Recapture(*model, kNews + third + "first half\r\nsecond half\r\n//\r\n");
  EXPECT_EQ(r.stored, 0);
  EXPECT_EQ(r.skipped, 3);
}

// A day's log holds its passes one after the other, each from its mark: a
// mail the line cut in one pass keeps only what that pass brought, never
// the next pass's banner and login, and that pass's whole copy completes it.
TEST_F(RecaptureTest, APassCutMidMailEndsAtTheMarkOfTheNext) {
  const std::string mail = "Private Message is from: TARO " + Sjis("たろう") + " to: GUEST\r\nTime: 98/03/15 21:07:33\r\n" +
                           "Subj: " + Sjis("オフ会") + "\r\nfirst line\r\n";
  const std::string login = Sjis("デモ草の根ネットへようこそ") + "\r\nID: GUEST\r\nPassword: \r\n*CH01 GUEST Pallo\r\n";
  const std::string cutPass = TSessionLog::PassMark() + "\r\n" + login + mail;
  const std::string wholePass = TSessionLog::PassMark() + "\r\n" + login + mail + "second line\r\n" +
                                Sjis("削除しますか？ (Y/N)>") + "y\r\nMAIN (A,C,E,N,Q,T,U,W,?)>Q\r\n";
  TRecaptureResult r = Recapture(*model, cutPass + TSessionLog::PassMark() + "\r\n" + login);
  EXPECT_EQ(r.stored, 1);
  EXPECT_EQ(r.cut, 1);
  std::vector<TVeskoMessage> e;
  ASSERT_EQ(model->Store.ReadIndex(0, 999, e), 1);
  EXPECT_EQ(model->Store.ReadText(0, e[0].TextPos, e[0].TextLen), "\r\nfirst line\r\n");
  r = Recapture(*model, cutPass + wholePass);
  ASSERT_EQ(model->Store.ReadIndex(0, 999, e), 1);
  EXPECT_EQ(model->Store.ReadText(0, e[0].TextPos, e[0].TextLen), "\r\nfirst line\r\nsecond line\r\n");
}

// Two real passes of a day into one log, the first cut off in the middle of
// the news: each begins with its mark, and the log captured again gives
// what the two passes stored.
TEST_F(RecaptureTest, TwoPassesOfADayTheFirstCutGiveWhatTheyStored) {
  test::TDemoHost cutting({"--drop-after", "900"}), whole;
  test::TTempDir other;
  test::TQuietView v2;
  TMainModel live(other.Path(), v2);
  v2.store = &live.Store;
  live.Hosts.LoadHostList(other.Path());
  live.Policy.Options.PassgoodbyeMessage = true;
  for (const test::TDemoHost* host : {&cutting, &whole}) {
    live.Hosts.HostTable[0].Address = host->TelnetAddress();
    live.Policy.HostComboBoxChange(0);
    live.Policy.Options.GetMidoku = true;
    live.Policy.SpeedButton1Click(true);
    ASSERT_TRUE(test::WaitUntil([&] { return !live.VeskoClient1.SessionRunning(); }, 60000));
    live.Policy.HostComboBoxChange(-1);
  }
  const std::string log = other.Path() + "DEMO/" + ExpandDateName("%y%M%D.LOG");
  const std::vector<std::string> lines = SplitLines(test::ReadBytes(log));
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const std::string& l) { return TSessionLog::IsPassMark(l); }), 2);
  ASSERT_TRUE(TSessionLog::IsPassMark(lines.front()));
  const auto done = RecaptureFile(*model, log);
  ASSERT_TRUE(done);
  for (int b = 0; b < kBoardCount; ++b) {
    TMessageStore store;
    store.HostFolder = other.Path() + "DEMO/";
    ASSERT_EQ(model->Store.RecordCount(b), store.RecordCount(b)) << b;
    std::vector<TVeskoMessage> mine, theirs;
    model->Store.ReadIndex(b, 999, mine);
    store.ReadIndex(b, 999, theirs);
    for (size_t i = 0; i < mine.size(); ++i) {
      EXPECT_EQ(model->Store.ReadText(b, mine[i].TextPos, mine[i].TextLen),
                store.ReadText(b, theirs[i].TextPos, theirs[i].TextLen)) << b << " " << i;
    }
  }
}

TEST_F(RecaptureTest, ARealPassLogGivesWhatThePassStored) {
  // A pass against the demo host, with its session log ...
  test::TDemoHost host;
  test::TTempDir other;
  test::TQuietView v2;
  TMainModel live(other.Path(), v2);
  v2.store = &live.Store;
  live.Hosts.LoadHostList(other.Path());
  live.Hosts.HostTable[0].Address = host.TelnetAddress();
  live.Policy.Options.PassgoodbyeMessage = true;
  live.Policy.HostComboBoxChange(0);
  live.Policy.SpeedButton1Click(true);
  ASSERT_TRUE(test::WaitUntil([&] { return !live.VeskoClient1.SessionRunning(); }, 60000));
  // ... re-captured into an empty host folder gives the same messages.
  // The log file is read as it goes.
  EXPECT_FALSE(RecaptureFile(*model, live.Store.HostFolder + "NOSUCH.LOG"));
  const auto done = RecaptureFile(*model, live.Store.HostFolder + ExpandDateName("%y%M%D.LOG"));
  ASSERT_TRUE(done);
  const TRecaptureResult& r = *done;
  EXPECT_EQ(r.cut, 0);
  for (int b = 0; b < kBoardCount; ++b) {
    ASSERT_EQ(model->Store.RecordCount(b), live.Store.RecordCount(b)) << b;
    std::vector<TVeskoMessage> mine, theirs;
    model->Store.ReadIndex(b, 999, mine);
    live.Store.ReadIndex(b, 999, theirs);
    for (size_t i = 0; i < mine.size(); ++i) {
      EXPECT_EQ(mine[i].Title, theirs[i].Title);
      EXPECT_EQ(model->Store.ReadText(b, mine[i].TextPos, mine[i].TextLen),
                live.Store.ReadText(b, theirs[i].TextPos, theirs[i].TextLen));
    }
  }
  EXPECT_GT(r.stored, 5);
}

// A host whose numbers have passed 10,000 and a user with a one-letter
// password that the host echoes: the pass's log, captured again into an empty
// folder, gives the same files byte for byte.
TEST_F(RecaptureTest, BigNumbersAndAShortPasswordCaptureAgainToTheSameBytes) {
  test::TTempDir seed;
  const auto line = [](const std::string& utf8) { return Sjis(utf8) + "\r\n"; };
  MakePath(seed.Path() + "msg");
  MakePath(seed.Path() + "mail");
  test::WriteBytes(seed.File("users.txt"), "A\ta\t" + line("えー") + "TARO\ttaro\t" + line("たろう"));
  test::WriteBytes(seed.File("boards.txt"), "1\tGENERAL\t" + line("雑談ボード"));
  std::string msgs;
  for (int no : {9999, 10000, 10001, 99999, 123456}) {
    msgs += "#" + std::to_string(no) + "\tTARO\t" + Sjis("たろう") + "\t98/03/15 21:07:33\t" + line("番号 " + std::to_string(no)) +
            "a cat and a hat\r\n" + line("本文です") + ".\r\n";
  }
  test::WriteBytes(seed.File("msg/01.txt"), msgs);
  test::WriteBytes(seed.File("mail/A.txt"), "#1\tTARO\t" + Sjis("たろう") + "\t98/03/16 10:00:00\tPrivate matters\r\n" +
                                                 "a letter a day\r\n.\r\n");
  test::TDemoHost host({"--data", seed.Path(), "--echo-password"});
  test::TTempDir other;
  test::TQuietView v2;
  TMainModel live(other.Path(), v2);
  v2.store = &live.Store;
  live.Hosts.LoadHostList(other.Path());
  live.Hosts.HostTable[0].Address = host.TelnetAddress();
  live.Hosts.HostTable[0].UserID = "A";
  live.Hosts.HostTable[0].Password = "a";
  live.Policy.Options.PassgoodbyeMessage = true;
  live.Policy.HostComboBoxChange(0);
  live.Policy.SpeedButton1Click(true);
  ASSERT_TRUE(test::WaitUntil([&] { return !live.VeskoClient1.SessionRunning(); }, 60000));
  ASSERT_TRUE(live.Policy.Summary().loggedOut);
  std::vector<TVeskoMessage> e;
  live.Store.ReadIndex(1, 999, e);
  ASSERT_EQ(e.size(), 5u);
  const int32_t numbers[] = {9999, 10000, 10001, 99999, 123456};
  for (size_t i = 0; i < 5; ++i) {
    EXPECT_EQ(e[i].MesNo, numbers[i]);
    EXPECT_EQ(e[i].FromID, "TARO");
    EXPECT_EQ(SjisToUtf8(e[i].FromHandle), "たろう");
    EXPECT_EQ(SjisToUtf8(live.Store.ReadText(1, e[i].TextPos, e[i].TextLen)), "\r\na cat and a hat\r\n本文です\r\n");
  }
  ASSERT_EQ(live.Store.RecordCount(0), 1);  // the mail read during the login
  const std::string logPath = live.Store.HostFolder + ExpandDateName("%y%M%D.LOG");
  const std::string log = *ReadWholeFile(logPath);
  EXPECT_NE(log.find("Private Message is from: TARO"), std::string::npos);
  EXPECT_EQ(log.find("Password: a"), std::string::npos);  // the echoed answer is masked
  EXPECT_NE(log.find("Password: *"), std::string::npos);
  const TRecaptureResult r = Recapture(*model, log);
  EXPECT_EQ(r.stored, 6);
  for (const char* f : {"MES00.IDX", "MES00.TXT", "MES01.IDX", "MES01.TXT"}) {
    EXPECT_TRUE(test::ReadBytes(model->Store.HostFolder + f) == test::ReadBytes(live.Store.HostFolder + f)) << f;
  }
  EXPECT_EQ(model->Store.BoardTable[1].Name, live.Store.BoardTable[1].Name);
  EXPECT_EQ(model->Store.BoardTable[1].Title, live.Store.BoardTable[1].Title);
}

TEST_F(RecaptureTest, ASearchHitOpensInTheBrowserAndIsMarkedRead) {
  Recapture(*model, kNews);
  TArticleBrowser browser(model->Store);
  browser.ShowBoardList();
  browser.OpenStored(1, 1);
  EXPECT_EQ(browser.CurrentBoard, 1);
  EXPECT_EQ(browser.CurrentArticle.MesNo, 11);
  EXPECT_EQ(browser.Text, "\r\nline two\r\n");
  std::vector<TVeskoMessage> e;
  model->Store.ReadIndex(1, 999, e);
  EXPECT_EQ(e[1].Unread, 0);
}

}  // namespace
}  // namespace brelo
