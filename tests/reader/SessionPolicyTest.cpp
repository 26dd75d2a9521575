// The automation policy at the main prompt and the session-control handlers,
// driven without a display.
#include "reader/SessionPolicy.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "common/DateTime.h"
#include "common/FileUtil.h"
#include "common/Sjis.h"
#include "support/Loopback.h"
#include "support/TempDir.h"
#include "reader/MainModel.h"

namespace brelo {
namespace {

using test::TTempDir;
using test::WriteBytes;

struct TView : IMainView {
  std::vector<std::string> statuses;  // UTF-8
  std::string counter;
  ESessionControls controls = ESessionControls::kNoHost;
  int terminalShown = 0, terminalFocused = 0, boardLists = 0, cleared = 0, optionChanges = 0;
  int selected = -99;
  bool editorsClose = true;
  std::vector<std::string> errors;
  void SetStatus(const std::string& s) override { statuses.push_back(SjisToUtf8(s)); }
  void SetCounter(const std::string& t) override { counter = t; }
  void SetControls(ESessionControls s) override { controls = s; }
  void ShowTerminal(bool focus) override { focus ? ++terminalFocused : ++terminalShown; }
  void OptionsChanged() override { ++optionChanges; }
  TMessageStore* store = nullptr;
  void ShowBoardList() override {
    ++boardLists;
    store->LoadBoards();  // as the browser does
  }
  void ClearBrowser() override { ++cleared; }
  void SelectHost(int i) override { selected = i; }
  bool CloseEditors() override { return editorsClose; }
  void ReportError(const std::string& s) override { errors.push_back(SjisToUtf8(s)); }
};

struct TCommands : ISessionCommands {
  std::vector<std::string> sent;  // "line:...", "text:...", "message:board/title/tag", "mail:to/title/tag"
  void SendLine(const std::string& s) override { sent.push_back("line:" + s); }
  void SendText(const std::string& s) override { sent.push_back("text:" + s); }
  void WriteMessage(const std::string& b, const std::string& t, const std::string& body, int tag) override {
    sent.push_back("message:" + b + "/" + t + "/" + body + "/" + std::to_string(tag));
  }
  void WriteMail(const std::string& to, const std::string& t, const std::string& body, int tag) override {
    sent.push_back("mail:" + to + "/" + t + "/" + body + "/" + std::to_string(tag));
  }
  void Disconnect() override { sent.push_back("disconnect"); }
  std::vector<std::string> Take() { return std::exchange(sent, {}); }
};

class PolicyTest : public ::testing::Test {
 protected:
  TTempDir dir;
  TView view;
  TCommands commands;
  std::unique_ptr<TMainModel> model;
  TSessionPolicy* policy = nullptr;
  void SetUp() override {
    model = std::make_unique<TMainModel>(dir.Path(), view);
    view.store = &model->Store;
    model->Hosts.LoadHostList(dir.Path());
    model->Hosts.Add(0x10);
    policy = &model->Policy;
    policy->SetCommands(&commands);
    policy->HostComboBoxChange(0);
  }
  // A reservation with its body file.
  void Reserve(int board, const std::string& title, bool hold = false, const std::string& body = "text") {
    const std::string name = model->Box.AddReservation(board, title, board == 0 ? "TARO" : "");
    WriteBytes(model->Box.HostFolder + name, body);
    model->Box.ReservationTable[static_cast<size_t>(model->Box.ReservationCount - 1)].Status = hold ? 1 : 0;
  }
  void Prompt() { policy->VeskoClient1GetMainPrompt(); }
};

TEST_F(PolicyTest, HostSelectionLoadsTheHostAndPickingItAgainDoesNothing) {
  EXPECT_EQ(view.controls, ESessionControls::kHostSelected);
  EXPECT_EQ(policy->HostFolder(), dir.Path() + "DEMO/");
  EXPECT_EQ(view.boardLists, 1);
  policy->HostComboBoxChange(0);
  EXPECT_EQ(view.boardLists, 1);
  policy->HostComboBoxChange(1);
  EXPECT_EQ(policy->HostFolder(), dir.Path() + "HOST0010/");
  policy->HostComboBoxChange(-1);
  EXPECT_EQ(view.controls, ESessionControls::kNoHost);
  EXPECT_EQ(policy->HostFolder(), "");
  EXPECT_EQ(model->Box.ReservationCount, 0);
}

TEST_F(PolicyTest, AnEditorThatRefusesToCloseKeepsTheOldHost) {
  Reserve(3, "t");
  view.editorsClose = false;
  policy->HostComboBoxChange(1);
  EXPECT_EQ(view.selected, 0);
  EXPECT_EQ(policy->CurrentHost(), 0);
  EXPECT_EQ(model->Box.ReservationCount, 1);
}

TEST_F(PolicyTest, EmptyBoxFetchesUnreadThenLogsOutHandingTheGoodbyeToTheUser) {
  policy->VeskoClient1Connect();
  EXPECT_EQ(view.terminalShown, 1);
  EXPECT_EQ(view.counter, "0 ");
  Prompt();
  EXPECT_EQ(commands.Take(), (std::vector<std::string>{"text:N@ ", "line:"}));
  EXPECT_EQ(view.statuses.back(), "メインメニューを検出しました");
  Prompt();
  EXPECT_EQ(commands.Take(), (std::vector<std::string>{"line:Q"}));
  EXPECT_EQ(view.terminalFocused, 1);
  EXPECT_TRUE(policy->LogoutSent());
  EXPECT_FALSE(policy->Options.GetMidoku);
  // The host now waits for the user: the status line says so, and names the
  // question once the host has asked it.
  EXPECT_EQ(view.statuses.back(), "ログアウト中: ホストが返事を待っています。ターミナルで答えてください");
  EXPECT_EQ(SjisToUtf8(TSessionPolicy::GoodbyeWaitStatus(Sjis("シスオペへの伝言があればどうぞ (改行のみで終了): "))),
            "ホストが返事を待っています: シスオペへの伝言があればどうぞ (改行のみで終了): (ターミナルで答えてください)");
}

TEST_F(PolicyTest, AllEntriesOnHoldStartTheUnreadFetchInTheSameCall) {
  Reserve(3, "a", true);
  Reserve(0, "b", true);
  policy->VeskoClient1Connect();
  Prompt();
  EXPECT_EQ(commands.Take(), (std::vector<std::string>{"text:N@ ", "line:"}));
  EXPECT_FALSE(policy->Options.ExecuteWriteYoyaku);
}

TEST_F(PolicyTest, UserListFirstThenWritesOnePerPromptWithTheDate) {
  Reserve(3, "post", false, "body");
  Reserve(0, "mail");
  policy->Options.GetUserList = true;
  policy->Options.SetMidokuDate = true;
  policy->Options.MidokuDate = "98/05/01";
  policy->VeskoClient1Connect();
  Prompt();
  EXPECT_EQ(commands.Take(), (std::vector<std::string>{"line:u\r\n"}));
  EXPECT_FALSE(policy->Options.GetUserList);
  Prompt();
  EXPECT_EQ(commands.Take(), (std::vector<std::string>{"message:3/post/body/0"}));
  Prompt();
  EXPECT_EQ(commands.Take(), (std::vector<std::string>{"mail:TARO/mail/text/1"}));
  Prompt();  // neither confirmed: both stay, the fetch starts
  EXPECT_EQ(commands.Take(), (std::vector<std::string>{"text:N@ ", "line:98/05/01"}));
  EXPECT_EQ(model->Box.ReservationCount, 2);
}

TEST_F(PolicyTest, TwoConfirmedWritesAreBothSentWithTagZero) {
  Reserve(3, "first");
  Reserve(4, "second");
  policy->VeskoClient1Connect();
  Prompt();
  EXPECT_EQ(commands.Take(), (std::vector<std::string>{"message:3/first/text/0"}));
  policy->VeskoClient1ExecuteWriteMessage(0);
  EXPECT_EQ(view.statuses.back(), "書き込みました....first");
  EXPECT_EQ(model->Box.ReservationCount, 1);
  Prompt();
  EXPECT_EQ(commands.Take(), (std::vector<std::string>{"message:4/second/text/0"}));
  policy->VeskoClient1ExecuteWriteMessage(0);
  EXPECT_EQ(model->Box.ReservationCount, 0);
  EXPECT_FALSE(FileExists(model->Box.HostFolder + "Write.Dat") && !test::ReadBytes(model->Box.HostFolder + "Write.Dat").empty());
}

TEST_F(PolicyTest, AMissingBodyFileIsPassedOverAndLeftInTheBox) {
  Reserve(3, "lost");
  ::unlink(model->Box.BodyFile(0).c_str());
  Reserve(4, "kept");
  policy->VeskoClient1Connect();
  Prompt();
  EXPECT_EQ(commands.Take(), (std::vector<std::string>{"message:4/kept/text/1"}));
  EXPECT_EQ(model->Box.ReservationCount, 2);
  bool reported = false;
  for (const auto& s : view.statuses) reported |= s.find("がないため送りません") != std::string::npos;
  EXPECT_TRUE(reported);
}

TEST_F(PolicyTest, WithoutGoodbyeTheSessionStaysOnline) {
  policy->Options.GoodbyeWhenExecute = false;
  policy->VeskoClient1Connect();
  Prompt();
  commands.Take();
  Prompt();
  EXPECT_TRUE(commands.Take().empty());
  policy->Options.GoodbyeWhenExecute = true;
  policy->Options.PassgoodbyeMessage = true;
  Prompt();
  EXPECT_EQ(commands.Take(), (std::vector<std::string>{"line:Q", "line:"}));
}

TEST_F(PolicyTest, DisconnectResetsTheOptions) {
  TSessionOptions& o = policy->Options;
  o.ClearNews = o.GetMidoku = o.ExecuteWriteYoyaku = o.GoodbyeWhenExecute = false;
  o.SetMidokuDate = true;
  o.PassgoodbyeMessage = true;
  o.MidokuDate = "99/01/01";
  o.SealthLogin = false;
  policy->VeskoClient1DisConnect();
  EXPECT_TRUE(o.ClearNews && o.GetMidoku && o.ExecuteWriteYoyaku && o.GoodbyeWhenExecute);
  EXPECT_FALSE(o.SetMidokuDate);
  EXPECT_TRUE(o.PassgoodbyeMessage);  // kept
  EXPECT_EQ(o.MidokuDate, "99/01/01");
  EXPECT_FALSE(o.SealthLogin);
  EXPECT_EQ(view.controls, ESessionControls::kHostSelected);

  // What the user set on the page is what a session goes back to, the
  // user-list fetch too; the unread date is for one session only.
  policy->Options.GetUserList = true;
  policy->UserChanged(&TSessionOptions::GetUserList);
  policy->Options.GoodbyeWhenExecute = false;
  policy->UserChanged(&TSessionOptions::GoodbyeWhenExecute);
  policy->Options.ClearNews = false;
  policy->UserChanged(&TSessionOptions::ClearNews);
  policy->Options.SetMidokuDate = true;
  policy->UserChanged(&TSessionOptions::SetMidokuDate);
  o.GetUserList = o.GetMidoku = o.ExecuteWriteYoyaku = false;  // used up by the session
  policy->VeskoClient1DisConnect();
  EXPECT_TRUE(o.GetUserList && o.GetMidoku && o.ExecuteWriteYoyaku);
  EXPECT_FALSE(o.GoodbyeWhenExecute || o.ClearNews || o.SetMidokuDate);
}

TEST_F(PolicyTest, BoardAnnouncementsMessagesAndMail) {
  policy->VeskoClient1Connect();
  policy->VeskoClient1GetMessageBoard(5, "LONGNAME9", std::string(40, 't'));
  const TBoardEntry& b = model->Store.BoardTable[5];
  EXPECT_EQ(b.Active, 1);
  EXPECT_EQ(b.Name, "LONGNAME");
  EXPECT_EQ(b.Title.size(), 32u);
  EXPECT_EQ(view.statuses.back(), "未読拾得中....LONGNAME9");
  EXPECT_TRUE(FileExists(model->Store.BoardsFile()));
  TVeskoMessage m;
  m.BoardNo = 5;
  m.MesNo = 3;
  m.BoardName = Sjis("ボードの名前");
  m.Text = "x\r\n";
  policy->VeskoClient1ReceiveMessage(m);
  EXPECT_EQ(model->Store.BoardTable[5].Title, Sjis("ボードの名前"));
  EXPECT_EQ(model->Store.RecordCount(5), 1);
  EXPECT_EQ(policy->ReceivedCount(), 1);
  TVeskoMessage mail;
  mail.BoardNo = 0;
  mail.Title = std::string(80, 'm');
  policy->VeskoClient1ReceiveMail(mail);
  EXPECT_EQ(view.statuses.back(), "Writing..." + std::string(60, 'm'));
  EXPECT_EQ(view.counter, "2 ");
  // Numbers outside the table are reported and not stored.
  policy->VeskoClient1GetMessageBoard(120, "X", "Y");
  m.BoardNo = 120;
  policy->VeskoClient1ReceiveMessage(m);
  EXPECT_NE(view.statuses.back().find("範囲外"), std::string::npos);
  EXPECT_EQ(policy->ReceivedCount(), 2);
  // A prompt after something was captured shows the boards again.
  const int lists = view.boardLists;
  Prompt();
  EXPECT_EQ(view.boardLists, lists + 1);
}

TEST_F(PolicyTest, ArticlesAreToldApartByTheirWholeTextAndACutCopyIsCompleted) {
  TVeskoMessage m;
  m.BoardNo = 3;
  m.MesNo = 7;
  m.Date = 36000.5;
  m.Text = "whole\r\nbody\r\n";
  TVeskoMessage cut = m;
  cut.Text = "whole\r\n";  // what a lost line left of it
  cut.Cut = true;
  policy->VeskoClient1Connect();
  policy->VeskoClient1ReceiveMessage(cut);
  policy->VeskoClient1ReceiveMessage(m);    // completes the cut copy in its record
  policy->VeskoClient1ReceiveMessage(m);    // the same again: not stored
  policy->VeskoClient1ReceiveMessage(cut);  // a cut copy of what is stored: nothing new
  TVeskoMessage other = m;
  other.Date += 1;                          // another article with that number
  policy->VeskoClient1ReceiveMessage(other);
  ASSERT_EQ(model->Store.RecordCount(3), 2);
  std::vector<TVeskoMessage> e;
  model->Store.ReadIndex(3, 999, e);
  EXPECT_EQ(model->Store.ReadText(3, e[0].TextPos, e[0].TextLen), "\r\n" + m.Text);
  EXPECT_EQ(e[0].MesNo, 7);
  EXPECT_EQ(e[0].Unread, 1);
  EXPECT_EQ(policy->Summary().stored, 2);
  EXPECT_EQ(policy->Summary().completed, 1);
  EXPECT_EQ(policy->Summary().duplicates, 2);
  EXPECT_EQ(policy->ReceivedCount(), 5);
  // A new pass knows what the last one stored; a text that begins with a
  // copy stored whole is another article, never the rest of it.
  policy->BeginCount();
  policy->VeskoClient1Connect();
  policy->VeskoClient1ReceiveMessage(m);
  TVeskoMessage longer = other;
  longer.Text += "more\r\n";
  policy->VeskoClient1ReceiveMessage(longer);
  EXPECT_EQ(policy->Summary().duplicates, 1);
  EXPECT_EQ(policy->Summary().completed, 0);
  EXPECT_EQ(policy->Summary().stored, 1);
  EXPECT_EQ(model->Store.RecordCount(3), 3);
}

TEST_F(PolicyTest, LookAlikeMailIsToldApartByItsText) {
  // One sender, one title, one minute: the host deletes mail once it is read.
  TVeskoMessage a;
  a.FromID = "HANAKO";
  a.Title = "hi";
  a.Date = 36001.5;
  a.Text = "see you at ten\r\nat the station\r\n";
  TVeskoMessage b = a;
  b.Text = "see you at ten\r\n";  // shorter, and the beginning of the first
  TVeskoMessage c = a;
  c.Text = "other\r\n";
  policy->VeskoClient1Connect();
  for (TVeskoMessage* m : {&a, &b, &c}) {
    TVeskoMessage copy = *m;
    policy->VeskoClient1ReceiveMail(copy);
  }
  // The other way round: a mail stored whole in this pass is not taken for cut.
  TVeskoMessage d = b, e = a;
  d.Date = e.Date = 36002.5;
  policy->VeskoClient1ReceiveMail(d);
  policy->VeskoClient1ReceiveMail(e);
  EXPECT_EQ(model->Store.RecordCount(0), 5);
  EXPECT_EQ(policy->Summary().stored, 5);
  // Shown again after a cut pass: the same text is stored.
  policy->BeginCount();
  policy->VeskoClient1Connect();
  TVeskoMessage again = a;
  policy->VeskoClient1ReceiveMail(again);
  EXPECT_EQ(policy->Summary().duplicates, 1);
  // Two mails whose date cannot be read have no date to tell them by: each
  // is stored, even with one text.
  TVeskoMessage undated = a;
  undated.Date = TVeskoMessage::UnreadableDate();
  for (int i = 0; i < 3; ++i) {
    TVeskoMessage copy = undated;
    if (i == 2) copy.Text = "short\r\n";
    policy->VeskoClient1ReceiveMail(copy);
  }
  EXPECT_EQ(model->Store.RecordCount(0), 8);
  EXPECT_EQ(policy->Summary().stored, 3);
  std::vector<TVeskoMessage> idx;
  model->Store.ReadIndex(0, 999, idx);
  std::vector<std::string> texts;
  for (const TVeskoMessage& m : idx) texts.push_back(model->Store.ReadText(0, m.TextPos, m.TextLen).substr(2));
  EXPECT_EQ(texts, (std::vector<std::string>{a.Text, b.Text, c.Text, d.Text, e.Text, a.Text, a.Text, "short\r\n"}));
}

TEST_F(PolicyTest, ANumberBeyondTheRecordIsRefusedNeverRenumbered) {
  policy->VeskoClient1Connect();
  TVeskoMessage m;
  m.BoardNo = 1;
  m.MesNo = -1;
  m.NumberBeyondRange = "2147483648";
  m.Text = "x\r\n";
  for (int pass = 0; pass < 2; ++pass) {
    policy->BeginCount();
    policy->VeskoClient1Connect();
    TVeskoMessage copy = m;
    policy->VeskoClient1ReceiveMessage(copy);
    EXPECT_EQ(policy->Summary().beyondRange, 1);
    EXPECT_EQ(policy->Summary().stored, 0);
  }
  EXPECT_EQ(model->Store.RecordCount(1), 0);
  EXPECT_NE(view.statuses.back().find("#2147483648"), std::string::npos) << view.statuses.back();
  EXPECT_FALSE(policy->Summary().storeFailed);
}

TEST_F(PolicyTest, TheFirstFailedStoreWriteStopsFetching) {
  policy->VeskoClient1Connect();
  // The text file of board 1 sits on a full disk.
  MakePath(model->Store.HostFolder);
  test::TFullFile full(model->Store.TextFile(1));
  full.Now();
  TVeskoMessage m;
  m.BoardNo = 1;
  m.MesNo = 1;
  m.Text = "x\r\n";
  policy->VeskoClient1ReceiveMessage(m);
  EXPECT_EQ(commands.Take(), (std::vector<std::string>{"disconnect"}));  // no more of the listing
  ASSERT_EQ(view.errors.size(), 1u);
  EXPECT_NE(view.errors[0].find("MES01.TXT に書き込めません (ファイルが大きすぎます)"), std::string::npos);
  m.MesNo = 2;
  policy->VeskoClient1ReceiveMessage(m);  // what still arrives is counted, told once
  EXPECT_EQ(view.errors.size(), 1u);
  EXPECT_TRUE(commands.Take().empty());
  EXPECT_EQ(policy->Summary().lost, 2);
  EXPECT_TRUE(policy->Summary().storeFailed);
  // Had the host reached its prompt, the pass would log out and nothing else.
  Prompt();
  EXPECT_EQ(commands.Take(), (std::vector<std::string>{"line:Q", "line:"}));
  policy->VeskoClient1Logout();
  EXPECT_NE(view.statuses.back().find("MES01.TXT"), std::string::npos);  // the pass's last word
}

// The host deletes a mail read at the login once it is told to: the mail
// says it may (Kept) only when it is stored and on the disk for good.
TEST_F(PolicyTest, AMailIsKeptOnlyOnceItIsOnTheDisk) {
  static int syncs = 0;
  static bool syncFails = false;
  model->Store.SyncData = [](int) {
    ++syncs;
    errno = EIO;
    return syncFails ? -1 : 0;
  };
  policy->VeskoClient1Connect();
  TVeskoMessage m;
  m.FromID = "TARO";
  m.Title = "one";
  m.Text = "x\r\n";
  policy->VeskoClient1ReceiveMail(m);
  EXPECT_TRUE(m.Kept);
  EXPECT_GT(syncs, 0);
  // The disk does not take it for good: it stays at the host, and the pass
  // ends at the host's prompt, not before (the host waits for the answer).
  syncFails = true;
  TVeskoMessage n = m;
  n.Kept = false;
  n.Title = "two";
  policy->VeskoClient1ReceiveMail(n);
  EXPECT_FALSE(n.Kept);
  EXPECT_TRUE(policy->Summary().storeFailed);
  EXPECT_TRUE(commands.Take().empty());
  Prompt();
  EXPECT_EQ(commands.Take(), (std::vector<std::string>{"line:Q", "line:"}));
}

// A mail stored whole is never taken for the cut beginning of a later one
// with the same sender, title and minute; a copy the line did cut is still
// completed by its whole one, across a restart.
TEST_F(PolicyTest, OnlyACopyTheLineCutIsEverCompletedAcrossARestart) {
  const auto mail = [](const std::string& title, const std::string& text, bool cut) {
    TVeskoMessage m;
    m.FromID = "TARO";
    m.Title = title;
    m.Date = EncodeDateTime({1998, 3, 15, 21, 7, 0, 0});
    m.Text = text;
    m.Cut = cut;
    return m;
  };
  policy->VeskoClient1Connect();
  TVeskoMessage whole = mail("whole", "a\r\n", false), cut = mail("cut", "c\r\n", true);
  policy->VeskoClient1ReceiveMail(whole);
  policy->VeskoClient1ReceiveMail(cut);
  model.reset();  // the program ends and starts again
  SetUp();
  policy->BeginCount();
  policy->VeskoClient1Connect();
  TVeskoMessage later = mail("whole", "a\r\nb\r\n", false), rest = mail("cut", "c\r\nd\r\n", false);
  policy->VeskoClient1ReceiveMail(later);
  policy->VeskoClient1ReceiveMail(rest);
  EXPECT_EQ(policy->Summary().stored, 1);
  EXPECT_EQ(policy->Summary().completed, 1);
  std::vector<TVeskoMessage> e;
  ASSERT_EQ(model->Store.ReadIndex(0, 999, e), 3);
  EXPECT_EQ(model->Store.ReadText(0, e[0].TextPos, e[0].TextLen), "\r\na\r\n");  // the first mail, as it was
  EXPECT_EQ(model->Store.ReadText(0, e[1].TextPos, e[1].TextLen), "\r\nc\r\nd\r\n");
  EXPECT_EQ(model->Store.ReadText(0, e[2].TextPos, e[2].TextLen), "\r\na\r\nb\r\n");
  EXPECT_FALSE(e[1].Cut);  // whole now: never completed again
}

// A user list the line cut off never replaces the last whole one.
TEST_F(PolicyTest, ACutUserListNeverReplacesTheWholeOne) {
  policy->VeskoClient1ReceiveUsers("A         a\r\nB         b\r\n", false);
  const std::string whole = test::ReadBytes(TUserList::FileName(policy->HostFolder()));
  policy->VeskoClient1ReceiveUsers("C         c\r\nNO CARRIER\r\n", true);
  EXPECT_EQ(test::ReadBytes(TUserList::FileName(policy->HostFolder())), whole);
  EXPECT_EQ(model->Users.Items, (std::vector<std::string>{"A         a", "B         b"}));
  EXPECT_NE(view.statuses.back().find("途中で切れた"), std::string::npos);
}

TEST_F(PolicyTest, APassDoesNotStartWhereItCannotStore) {
  // The host folder is a file.
  WriteBytes(dir.Path() + "HOST0010", "x");
  policy->HostComboBoxChange(1);
  policy->SpeedButton1Click(true);
  EXPECT_FALSE(model->VeskoClient1.SessionRunning());
  EXPECT_EQ(view.controls, ESessionControls::kHostSelected);
  EXPECT_FALSE(policy->Summary().started);
  EXPECT_TRUE(policy->Summary().storeFailed);
  ASSERT_FALSE(view.errors.empty());
  EXPECT_NE(view.errors.back().find("HOST0010"), std::string::npos);
  EXPECT_NE(view.errors.back().find("フォルダではない"), std::string::npos);
}

TEST_F(PolicyTest, ConnectButtonCopiesTheHostAndNamesTheDailyLog) {
  THostEntry& e = model->Hosts.HostTable[0];
  e.Address = "telnet://127.0.0.1:" + std::to_string(test::ClosedPort()) + "/";
  e.UserID = "U";
  e.Password = "P";
  e.HandleName = "H";
  e.HostKind = 1;
  policy->Options.SealthLogin = false;
  policy->Options.CheckBox7 = false;
  policy->SpeedButton1Click(true);
  TVeskoClient& c = model->VeskoClient1;
  EXPECT_EQ(c.Address, e.Address);
  EXPECT_EQ(c.UserID, "U");
  EXPECT_EQ(c.HostKind, HK_ktbbs);
  EXPECT_FALSE(c.StealthLogin);
  EXPECT_FALSE(c.AutoReceiveMail);
  EXPECT_EQ(c.LogFileName, policy->HostFolder() + ExpandDateName("%y%M%D.LOG"));
  EXPECT_EQ(view.controls, ESessionControls::kSession);
  policy->SpeedButton1Click(false);
}

}  // namespace
}  // namespace brelo

namespace brelo {
namespace {

// A host folder another process writes in (a pilot's round): the host is
// selected but nothing of it is shown, kept or sent until it is free.
TEST_F(PolicyTest, AHostInUseElsewhereIsBusyUntilItIsFree) {
  Reserve(3, "queued");
  model->Box.SaveReservations();
  policy->HostComboBoxChange(-1);
  THostLock other;  // a lock of its own: flock holds between descriptors
  ASSERT_TRUE(other.Acquire(dir.Path() + "DEMO/"));
  view.statuses.clear();
  policy->HostComboBoxChange(0);
  EXPECT_EQ(policy->CurrentHost(), 0);
  EXPECT_TRUE(policy->HostBusy());
  EXPECT_EQ(view.controls, ESessionControls::kHostBusy);
  EXPECT_EQ(model->Box.ReservationCount, 0);
  EXPECT_EQ(model->Store.HostFolder, "");
  ASSERT_FALSE(view.statuses.empty());
  EXPECT_NE(view.statuses.back().find("使用中"), std::string::npos) << view.statuses.back();
  EXPECT_NE(view.statuses.back().find("プロセス " + std::to_string(::getpid())), std::string::npos);
  policy->SpeedButton1Click(true);
  EXPECT_FALSE(model->VeskoClient1.SessionRunning());
  EXPECT_FALSE(policy->RetryHostLock());

  other.Release();
  EXPECT_TRUE(policy->RetryHostLock());
  EXPECT_FALSE(policy->HostBusy());
  EXPECT_EQ(view.controls, ESessionControls::kHostSelected);
  EXPECT_EQ(model->Box.ReservationCount, 1);
  // Now this policy holds it: another comer finds it busy, and says who.
  THostLock late;
  EXPECT_FALSE(late.Acquire(dir.Path() + "DEMO/", 100));
  EXPECT_TRUE(late.Contended());
  EXPECT_EQ(late.Holder(), ::getpid());
  // Deselecting lets go.
  policy->HostComboBoxChange(-1);
  EXPECT_TRUE(late.Acquire(dir.Path() + "DEMO/"));
}

}  // namespace
}  // namespace brelo
