// The host dialogue driven by scripted lines: recognisers and their cuts,
// without a socket, a clock or a window.
#include "session/Dialogue.h"

#include <gtest/gtest.h>

#include "common/Sjis.h"
#include "session/Address.h"
#include "support/DialoguePeers.h"
#include "support/ScriptedSource.h"

namespace brelo {
namespace {

using test::TControl;
using test::TEvents;

class DialogueTest : public ::testing::Test {
 protected:
  test::TScriptedSource src;
  TEvents ev;
  TControl control;
  TSessionSettings settings;
  std::atomic<int> mode{sm_online};
  std::atomic<int> channel{-1};
  TPendingWrite pending;
  std::unique_ptr<TDialogue> d;
  TDialogue& D() {
    control.src = &src;
    if (!d) d = std::make_unique<TDialogue>(src, src, ev, control, settings, mode, channel, [this] { return pending; });
    return *d;
  }
  std::string Sent() { return SjisToUtf8(src.sent); }
};

// ----------------------------------------------------------------- captures

TEST_F(DialogueTest, MessageHeaderCutsAndTwoMessagesInARow) {
  src.Lines({"Time: 98/03/15 21:07:33  Section 7:" + Sjis("ボード七"), "Subj: " + Sjis("題名"), Sjis("本文1"),
             "Message  #0043 is from: ABCDEFGH " + Sjis("とても長いハンドルネーム"),
             "Time: 98/03/16 01:02:03  Section 7:x", "Subj: t2", "b2", "//", "next"});
  D().CaptureMessage("Message  #1234 is from: TARO " + Sjis("たろう"));
  ASSERT_EQ(ev.messages.size(), 2u);
  const TVeskoMessage& a = ev.messages[0];
  EXPECT_EQ(a.MesNo, 1234);
  EXPECT_EQ(a.FromID, "TARO");
  EXPECT_EQ(a.FromHandle, Sjis("たろう"));
  EXPECT_EQ(a.BoardNo, 7);
  EXPECT_EQ(a.BoardName, Sjis("ボード七"));
  EXPECT_EQ(a.Title, Sjis("題名"));
  EXPECT_EQ(a.Text, Sjis("本文1") + "\r\n");
  EXPECT_EQ(FormatDateTime(a.Date), "98/03/15 21:07:33");
  const TVeskoMessage& b = ev.messages[1];
  EXPECT_EQ(b.FromID, "ABCDEFGH");
  EXPECT_EQ(b.FromHandle, Sjis("とても長いハン"));  // 14 bytes
  EXPECT_EQ(b.Text, "b2\r\n");
  EXPECT_EQ(src.CurrentLine(), "next");  // "//" consumed, the next line not
}

TEST_F(DialogueTest, NumbersOfFiveDigitsAndMoreKeepTheirSender) {
  // Four digits are cut where they always were; longer numbers push the
  // sender along and are read to their blank.
  for (const auto& [header, number] : std::vector<std::pair<std::string, int>>{
           {"Message  #9999 is from: TARO ", 9999},
           {"Message  #10000 is from: TARO ", 10000},
           {"Message  #123456 is from: TARO ", 123456},
           {"Message  #2147483647 is from: TARO ", 2147483647},
           {"Message  #00000000012 is from: TARO ", 12},
           {"Message  #2147483648 is from: TARO ", -1},
           {"Message  #99999999999999999999 is from: TARO ", -1}}) {
    test::TScriptedSource s;
    TEvents e;
    s.Lines({"Time: 98/03/15 21:07:33  Section 7:x", "Subj: t", "body", "//"});
    TDialogue dl(s, s, e, control, settings, mode, channel, [] { return TPendingWrite(); });
    dl.CaptureMessage(header + Sjis("とても長いハンドルネーム"));
    ASSERT_EQ(e.messages.size(), 1u) << header;
    EXPECT_EQ(e.messages[0].MesNo, number) << header;
    EXPECT_EQ(e.messages[0].FromID, "TARO") << header;
    EXPECT_EQ(e.messages[0].FromHandle, Sjis("とても長いハン")) << header;
    // A number the record cannot hold is kept as the host printed it.
    const std::string digits = header.substr(10, header.find(' ', 10) - 10);
    EXPECT_EQ(e.messages[0].NumberBeyondRange, number < 0 ? digits : "") << header;
  }
}

TEST_F(DialogueTest, ABodyTheLineCutKeepsTheHostsWholeLinesOnlyNotTheModemsHangUp) {
  const std::string head = "Message  #0001 is from: TARO x";
  const std::vector<std::string> top = {"Time: 98/03/15 21:07:33  Section 1:x", "Subj: t"};
  struct TCase {
    std::vector<std::string> body;
    std::string text;
    bool cut;
  };
  for (const TCase& c : std::vector<TCase>{
           // The modem's CR LF ended the host's half line "hal", then its code.
           {{"line 1", "hal", "NO CARRIER"}, "line 1\r\n", true},
           // After a whole line its CR LF makes an empty line.
           {{"line 1", "", "NO CARRIER"}, "line 1\r\n", true},
           {{"NO CARRIER"}, "", true},
           // A line that is gone without a modem's word keeps its whole lines.
           {{"line 1", "line 2"}, "line 1\r\nline 2\r\n", true},
           // The host's own text is never touched.
           {{"line 1", "NO CARRIER", "*CH01"}, "line 1\r\nNO CARRIER\r\n", false},
           {{"xNO CARRIER"}, "xNO CARRIER\r\n", true}}) {
    std::vector<std::string> lines = top;
    lines.insert(lines.end(), c.body.begin(), c.body.end());
    for (bool mail : {false, true}) {
      test::TScriptedSource s;
      TEvents e;
      s.Lines(lines);  // then the line is gone
      // (after the host's own "*CH" line, once it had shown its prompt)
      if (c.body.back().starts_with("*CH")) s.Partial("MAIN (A,C,E,N,Q,T,U,W,?)>");
      TDialogue dl(s, s, e, control, settings, mode, channel, [] { return TPendingWrite(); });
      if (mail) dl.CaptureMail("Private Message is from: TARO x to: HANAKO", false);
      else dl.CaptureMessage(head);
      const auto& got = mail ? e.mails : e.messages;
      ASSERT_EQ(got.size(), 1u) << c.body.back();
      EXPECT_EQ(got[0].Text, c.text) << c.body.back() << mail;
      EXPECT_EQ(got[0].Cut, c.cut) << c.body.back() << mail;
    }
  }
}

TEST_F(DialogueTest, MessageCaptureEndsOnMissingMarkersAndBadSections) {
  src.Lines({"swallowed", "after"});
  D().CaptureMessage("Message  #0001 without the marker");
  EXPECT_TRUE(ev.messages.empty());
  EXPECT_EQ(src.CurrentLine(), "after");

  test::TScriptedSource s2;
  s2.Lines({"Time: 98/03/15 21:07:33  Section X:name", "Subj: t", "body", "//"});
  TDialogue d2(s2, s2, ev, control, settings, mode, channel, [] { return TPendingWrite(); });
  d2.CaptureMessage("Message  #0001 is from: A B");
  EXPECT_TRUE(ev.messages.empty());  // a section that is not a number: no event

  test::TScriptedSource s3;
  s3.Lines({"Time: garbage garbage  Section 3:n", "Subj: t", "body", "*CH05 x"});
  s3.Partial("MAIN (A,C,E,N,Q,T,U,W,?)>");
  TDialogue d3(s3, s3, ev, control, settings, mode, channel, [] { return TPendingWrite(); });
  d3.CaptureMessage("Message  #0002 is from: A B");
  ASSERT_EQ(ev.messages.size(), 1u);
  EXPECT_EQ(DecodeDateTime(ev.messages[0].Date).year, 80);  // the fixed date of year 80
  EXPECT_EQ(ev.messages[0].Text, "body\r\n");
}

TEST_F(DialogueTest, ShortLinesNeverReadOutside) {
  src.Lines({"Time:", "Subj:", "x"});
  D().CaptureMessage("Message  #");
  D().CaptureMail("Private Message is from:", false);
  D().Dispatch("00");
  D().Dispatch("1:");
  D().Dispatch("");
  SUCCEED();
}

TEST_F(DialogueTest, KtbbsBodyEndsBeforeABoardLineThatTheDispatcherReports) {
  settings.HostKind = HK_ktbbs;
  src.Lines({Sjis("日付が 98/01/01 以降のものを読みます。"), "0001: GENERAL  " + Sjis("雑談"),
             "Message  #0001 is from: A " + Sjis("えー"), "Time: 98/03/15 21:07:33  Section 1:x", "Subj: t", "body",
             "0012: PC       " + Sjis("パソコン"), "Message  #0005 is from: B " + Sjis("びー"),
             "Time: 98/03/16 21:07:33  Section 12:y", "Subj: u", "b2", "*CH01"});
  for (int i = 0; i < 3; ++i) D().Dispatch(src.NextLine());
  ASSERT_EQ(ev.messages.size(), 1u);
  EXPECT_EQ(ev.messages[0].Text, "body\r\n");
  D().Dispatch(src.NextLine());
  ASSERT_EQ(ev.boards.size(), 2u);
  EXPECT_EQ(ev.boards[1], std::make_tuple(12, std::string("PC"), Sjis("パソコン")));
  EXPECT_TRUE(ev.Has("status:News Mode"));
}

TEST_F(DialogueTest, BoardLinesOnlyInNewsModeAndOnlyForBoards1To99) {
  D().Dispatch("0012: NAME     title");
  EXPECT_TRUE(ev.boards.empty());
  D().Dispatch(Sjis("日付が 98/05/01 以降のものを読みます。"));
  EXPECT_TRUE(D().NewsMode());
  D().Dispatch("0123: NAME     title");
  D().Dispatch("0000: NAME     title");
  D().Dispatch("0012: LONGNAME a title of more than thirty-two bytes, cut");
  ASSERT_EQ(ev.boards.size(), 1u);
  EXPECT_EQ(std::get<1>(ev.boards[0]), "LONGNAME");
  EXPECT_EQ(std::get<2>(ev.boards[0]), "a title of more than thirty-two ");
}

TEST_F(DialogueTest, MailWithTheDeleteOptionAnswersEachPromptOnce) {
  src.Lines({"Time: 98/03/15 21:07:33", "Subj: " + Sjis("件名"), "line"});
  src.Partial(Sjis("削除しますか？ (Y/N)>"));
  src.OnSend("y", {"Private Message is from: B " + Sjis("びー") + " to: GUEST", "Time: bad", "Subj: s2", "l2"},
             Sjis("削除しますか？ (Y/N)>"));
  src.OnSend("y", {"*CH01"});
  D().CaptureMail("Private Message is from: SYSOP " + Sjis("シスオペ") + "   to: GUEST", true);
  EXPECT_EQ(src.sent, "y\r\n");  // the capture ends on the prompt line; the login loop takes the next mail
  ASSERT_EQ(ev.mails.size(), 1u);
  EXPECT_EQ(ev.mails[0].FromID, "SYSOP");
  EXPECT_EQ(ev.mails[0].FromHandle, Sjis("シスオペ") + "  ");
  EXPECT_EQ(ev.mails[0].BoardName, Sjis("メールボックス"));
  EXPECT_EQ(ev.mails[0].Text, "line\r\n");
  EXPECT_EQ(ev.mails[0].MesNo, -1);
}

// The handler could not keep the mail: the host is told to keep it, and
// the status says so.
TEST_F(DialogueTest, AMailThatCouldNotBeKeptIsLeftAtTheHost) {
  ev.keepMail = false;
  src.Lines({"Time: 98/03/15 21:07:33", "Subj: s", "line"});
  src.Partial(Sjis("削除しますか？ (Y/N)>"));
  src.OnSend("n", {"*CH01"});
  D().CaptureMail("Private Message is from: SYSOP " + Sjis("シスオペ") + " to: GUEST", true);
  EXPECT_EQ(src.sent, "n\r\n");
  EXPECT_TRUE(ev.Has("status:メールを保存できなかったため、ホストから削除せずに残しました....s"));
}

// A user list is whole only where the host ends it: its empty line, and
// the host going on after it. The line lost first leaves a cut list.
TEST_F(DialogueTest, AUserListIsWholeOnlyWhereTheHostEndsIt) {
  const struct {
    std::vector<std::string> lines;
    bool cut;
  } cases[] = {
      {{"A         a", "", "*CH01 x"}, false},
      {{"A         a", "B         b"}, true},         // the line went in the middle
      {{"A         a", "", "NO CARRIER"}, true},      // the modem's word after the last line it brought
      {{"A         a", "NO CARRIER"}, true},
  };
  for (const auto& c : cases) {
    test::TScriptedSource script;
    TEvents events;
    control.src = &script;
    TDialogue dialogue(script, script, events, control, settings, mode, channel, [this] { return pending; });
    script.Lines(c.lines);
    dialogue.Dispatch("USERID    H A N D L E");
    EXPECT_EQ(events.usersCut, c.cut) << c.lines.back();
    EXPECT_EQ(events.users.rfind("A         a\r\n", 0), 0u);  // reported all the same
  }
}

TEST_F(DialogueTest, TelegramsUserListsAndChatLines) {
  src.Lines({Sjis("電報です。発信人は TARO さんです。"), Sjis("こんにちは"), std::string(60, '=')});
  D().Dispatch(std::string(60, '='));
  EXPECT_EQ(ev.telegram, std::make_pair(std::string("TARO "), Sjis("こんにちは")));
  EXPECT_TRUE(ev.Has("status:電報を受信しました"));

  ev.telegram = {};
  src.Lines({"x" + Sjis("電報です。発信人は TARO さんです。")});
  D().Dispatch(std::string(60, '='));
  EXPECT_EQ(ev.telegram.first, "");  // text before the marker: no telegram

  src.Lines({""});
  D().Dispatch("USERID    H A N D L E");
  EXPECT_EQ(ev.users, "");  // an empty list still fires
  src.Lines({"-------- ---", "A         a", ""});
  D().Dispatch("USERID    H A N D L E");
  EXPECT_EQ(ev.users, "-------- ---\r\nA         a\r\n");

  const std::string ruler = "-- -------- -------------- -------- -------- -------- -------------------------";
  src.Lines({"05 GUEST", ruler});
  D().Dispatch(ruler);
  EXPECT_EQ(ev.loginUsers, "05 GUEST\r\n");

  src.Lines({"13:NEXT          >hi"});
  D().Dispatch("12:HANDLE        >hello");
  D().Dispatch("1:X>y");
  ASSERT_EQ(ev.chats.size(), 1u);
  EXPECT_EQ(ev.chats[0], std::make_tuple(12, std::string("HANDLE"), std::string("12:HANDLE        >hello"), true));
  // The shortest chat line has its '>' at byte 6; at byte 5 it is none.
  src.NextLine();  // the "13:NEXT" line, read: nothing waits now
  D().Dispatch("07:AB>hi");
  D().Dispatch("07:A>hi");
  ASSERT_EQ(ev.chats.size(), 2u);
  EXPECT_EQ(ev.chats[1], std::make_tuple(7, std::string("AB>hi"), std::string("07:AB>hi"), false));
}

TEST_F(DialogueTest, CapturesFollowTheirSwitches) {
  settings.GetMessage = false;
  settings.GetTelegram = false;
  src.Lines({"Time: 98/03/15 21:07:33  Section 7:x", "Subj: t"});
  D().Dispatch("Message  #0001 is from: A B");
  EXPECT_TRUE(ev.messages.empty());
  EXPECT_EQ(src.CurrentLine(), "Time: 98/03/15 21:07:33  Section 7:x");  // consumed like any line
}

// ------------------------------------------------------------------ login

TEST_F(DialogueTest, LoginWithPartialIdPromptChannelAndSkippedMail) {
  settings.UserID = "GUEST";
  settings.Password = "pw";
  mode = sm_login;
  src.Partial("ID: ");
  src.OnSend("GUEST", {}, "Password / " + Sjis("ハンドル") + ": ");
  src.OnSend("pw", {"*CH05 welcome", Sjis("メールがあります")}, "[RET]:");
  src.OnSend("0", {"*CHxx"}, "MAIN (A)>");
  D().RunLogin();
  EXPECT_EQ(src.sent, "GUEST\r\npw\r\n0\r\n% +M\r\n");  // the ID once; Pass wins by list order
  EXPECT_EQ(mode.load(), sm_online);
  EXPECT_TRUE(ev.Has("status:チャンネルを拾得しました..5"));
  EXPECT_TRUE(ev.Has("status:チャンネルを拾得しました..-1"));  // "*CHxx": not a number
  EXPECT_EQ(channel.load(), -1);
  EXPECT_TRUE(ev.Has("status:ログインしました"));
}

TEST_F(DialogueTest, StealthOnlyOnVesko) {
  settings.StealthLogin = true;
  settings.UserID = "U";
  settings.HostKind = HK_ktbbs;
  src.Partial("ID: ");
  src.OnSend("U", {}, "MAIN (A)>");
  D().RunLogin();
  EXPECT_EQ(src.sent, "U\r\n");
}

TEST_F(DialogueTest, TerminationDuringLoginReportsFailureWithoutLogout) {
  mode = sm_login;
  settings.Address = "telnet://h/";
  src.Partial("Welcome");
  D().Execute();
  EXPECT_EQ(ev.log.back(), "status:接続に失敗しました");
  EXPECT_FALSE(ev.Has("login"));
  EXPECT_FALSE(ev.Has("logout"));
  EXPECT_EQ(control.calls, (std::vector<std::string>{"transport 1", "tcp h 23", "not connected", "close",
                                                      "connected", "connect"}));
}

// ---------------------------------------------------------------- watcher

TEST_F(DialogueTest, PromptReportedOnceAfterTheQuietSecond) {
  src.terminateWhenDry = false;
  src.terminateAtClock = 5000;
  src.Partial("MAIN (A,B)>");
  while (!src.Terminated()) D().WatcherTurn();
  EXPECT_EQ(std::count(ev.log.begin(), ev.log.end(), "prompt"), 1);
  EXPECT_GT(src.clock_, 1000);
}

TEST_F(DialogueTest, PromptFollowedByOutputIsNotReportedAndALaterOneIs) {
  src.terminateWhenDry = false;
  src.terminateAtClock = 10000;
  src.Lines({"line"});
  src.Partial("MAIN (A)>");
  // The line waiting is consumed at once: no prompt.
  D().WatcherTurn();
  EXPECT_FALSE(ev.Has("prompt"));
  int prompts = 0;
  ev.onPrompt = [&] {
    if (++prompts == 1) {
      src.Lines({"MAIN (A)>N@"});  // the command echoed; then a new prompt
      src.Partial("MAIN (A)>");
    }
  };
  while (!src.Terminated() && prompts < 2) D().WatcherTurn();
  EXPECT_EQ(prompts, 2);
}

TEST_F(DialogueTest, LinesThatCameDuringTheSleepAreReadBeforeANewPromptIsReported) {
  src.terminateWhenDry = false;
  src.terminateAtClock = 20000;
  src.Partial("MAIN (A)>");
  int prompts = 0;
  ev.onPrompt = [&] {
    if (++prompts == 1) {
      // The host answers at once: the list and its next prompt arrive in
      // one go, within the watcher's sleep.
      src.Lines({"MAIN (A)>u", "USERID    H A N D L E", "A         a", ""});
      src.Partial("MAIN (A)>");
    } else {
      EXPECT_EQ(ev.users, "A         a\r\n");  // read before the next prompt
    }
  };
  while (!src.Terminated() && prompts < 2) D().WatcherTurn();
  EXPECT_EQ(prompts, 2);
  EXPECT_EQ(ev.users, "A         a\r\n");
}

// ---------------------------------------------------------------- writing

TEST_F(DialogueTest, KtbbsResponsesUseTheErCommand) {
  struct Case {
    THostKind kind;
    std::string title, command;
  };
  for (const Case& c : std::vector<Case>{{HK_vesko, "T", "ew5;T"},
                                         {HK_ktbbs, "Re:12)T", "er5;12"},
                                         {HK_ktbbs, "Re:abc)T", "ew5;Re:abc)T"},
                                         {HK_ktbbs, "Re:)T", "ew5;Re:)T"},
                                         {HK_bigmodel, "Re:12)T", "ew5;Re:12)T"}}) {
    test::TScriptedSource s;
    TSessionSettings st;
    st.HostKind = c.kind;
    std::atomic<int> m{sm_writemessage};
    TPendingWrite w{"5", c.title, "b", 0};
    TDialogue dl(s, s, ev, control, st, m, channel, [&] { return w; });
    dl.PostMessageSequence();
    EXPECT_EQ(s.sent.substr(0, s.sent.find("\r\n")), c.command) << c.title;
    EXPECT_EQ(m.load(), sm_online);
  }
}

TEST_F(DialogueTest, RefusedPostStaysPending) {
  mode = sm_writemessage;
  pending = {"99", "t", "b", 3};
  src.Lines({Sjis("ボード 99 は存在しません。")});
  src.OnSend("0", {"*CH01"});
  D().PostMessageSequence();
  EXPECT_EQ(src.sent, "ew99;t\r\n0\r\n");
  EXPECT_FALSE(ev.Has("written:3"));
  EXPECT_TRUE(ev.Has("refused:3"));
  EXPECT_EQ(mode.load(), sm_online);
}

TEST_F(DialogueTest, SuccessfulPostAndFailedOne) {
  for (bool ok : {true, false}) {
    test::TScriptedSource s;
    TEvents e;
    std::atomic<int> m{sm_writemessage};
    TPendingWrite w{"8", "t", "l1\r\nl2", 4};
    s.Partial("MAIN (A,C,E,N,Q,T,U,W,?)>");
    s.OnSend("ew8;t", {}, Sjis("これでよろしいですか (Y/N)>"));
    s.OnSend("Y", {"----+----1"});
    s.OnSend("//", {}, Sjis("S:送信 A:中止 >"));
    s.OnSend("S", {ok ? Sjis("書き込みを終了しました。") : Sjis("書き込みに失敗しました。"), "*CH01"});
    TDialogue dl(s, s, e, control, settings, m, channel, [&] { return w; });
    dl.PostMessageSequence();
    EXPECT_EQ(s.sent, "ew8;t\r\nY\r\nl1\r\nl2\r\n//\r\nS\r\n");
    EXPECT_EQ(e.Has("written:4"), ok);
    EXPECT_EQ(e.Has("failed:4"), !ok);
    EXPECT_EQ(e.Has("status:失敗しました"), !ok);
  }
}

TEST_F(DialogueTest, SentMailTranscriptFollowsTheRingWrap) {
  // Start near the end of a 1000-line ring, so that the dialogue wraps.
  for (int i = 0; i < 995; ++i) src.Line("old");
  for (int i = 0; i < 995; ++i) src.NextLine();
  mode = sm_writemail;
  pending = {"TARO;HANAKO", "t", "b", 1};
  src.OnSend("em", {"a", "b", "c"}, Sjis("題名をどうぞ: "));
  src.OnSend("t", {}, Sjis("これでよろしいですか"));
  src.OnSend("Y", {"----+"});
  src.OnSend("//", {}, Sjis("S:送信"));
  src.OnSend("S", {Sjis("メールの送信を終了しました。"), "*CH01"});
  D().MailSequence();
  EXPECT_TRUE(ev.Has("written:1"));
  ASSERT_EQ(ev.mails.size(), 1u);
  EXPECT_EQ(ev.mails[0].FromID, "TARO");
  EXPECT_NE(ev.mails[0].Text.find("a\r\nb\r\nc\r\n"), std::string::npos);
}

// --------------------------------------------------------------- addresses

TEST_F(DialogueTest, TheAddressPageIsReadLineByLine) {
  struct Case {
    std::string address, page;
    bool ok;
    std::string fetched, status, telnet;
  };
  const std::vector<Case> cases = {
      // Today's pages end their lines with LF alone, and the address may be
      // on an https page whose path holds a blank and a kanji.
      {"https://www.example.jp/接続 先.html", "<html>\n<p>telnet://bbs.example.jp:2323/</p>\n</html>\n", true,
       "fetch https://www.example.jp/%90%DA%91%B1%20%90%E6.html", "IPアドレスを拾得しました...bbs.example.jp:2323",
       "tcp bbs.example.jp 2323"},
      {"http://www.example.jp/", "<HTML>\r\n<BR>telnet://10.0.0.1/<BR>\r\n</HTML>\r\n", true,
       "fetch http://www.example.jp/", "IPアドレスを拾得しました...10.0.0.1", "tcp 10.0.0.1 23"},
      // The page ends before naming an address; an address only after the
      // end counts for nothing.
      {"http://www.example.jp/", "<HTML>\r\n</HTML>\r\ntelnet://10.0.0.1/\r\n", true, "fetch http://www.example.jp/",
       "IPアドレスを拾得できませんでした.", "tcp  23"},
      {"http://www.example.jp/", "", false, "fetch http://www.example.jp/",
       "IPアドレスを拾得できませんでした. (HTTP 404 Not Found)", "tcp  23"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.address);
    d.reset();
    ev.log.clear();
    control.calls.clear();
    settings.Address = Sjis(c.address);
    control.page = {c.ok, c.page, c.ok ? "" : "HTTP 404 Not Found"};
    D().RunConnection();
    EXPECT_TRUE(ev.Has("status:" + c.status));
    ASSERT_GE(control.calls.size(), 3u);
    EXPECT_EQ(SjisToUtf8(control.calls[2]), c.fetched);
    EXPECT_NE(std::find(control.calls.begin(), control.calls.end(), c.telnet), control.calls.end());
  }
}

TEST(AddressTest, FormsInTheirOrder) {
  struct Case {
    std::string address;
    TAddress::EKind kind;
    std::string host, path;
  };
  const std::vector<Case> cases = {
      {"telnet://bbs.example.jp/", TAddress::kTelnet, "bbs.example.jp", ""},
      {"TELNET://10.0.0.1:2323/", TAddress::kTelnet, "10.0.0.1:2323", ""},
      {"telnet://nohost", TAddress::kTelnet, "", "nohost"},
      {"http://www.example.jp/bbs/index.html", TAddress::kHttp, "www.example.jp", "bbs/index.html"},
      {"HTTPS://www.example.jp/bbs/", TAddress::kHttp, "www.example.jp", "bbs/"},
      {"Tel://0312345678/", TAddress::kModem, "0312345678", ""},
      {"modem://0312345678/", TAddress::kModem, "0312345678", ""},
      {"0312345678", TAddress::kModem, "0312345678", ""},
      {"bbs.example.jp", TAddress::kTelnet, "BBS.EXAMPLE.JP", ""},
      {"localhost:2323", TAddress::kTelnet, "LOCALHOST:2323", ""},
      {"telnet://[::1]:2323/", TAddress::kTelnet, "[::1]:2323", ""},
      {"[::1]:2323", TAddress::kTelnet, "[::1]:2323", ""},
  };
  for (const Case& c : cases) {
    TAddress a = ParseAddress(c.address);
    EXPECT_EQ(a.kind, c.kind) << c.address;
    EXPECT_EQ(a.host, c.host) << c.address;
    EXPECT_EQ(a.path, c.path) << c.address;
  }
  std::string h, p;
  SplitHostPort("127.0.0.1:2323", "23", h, p);
  EXPECT_EQ(h + " " + p, "127.0.0.1 2323");
  SplitHostPort("host", "23", h, p);
  EXPECT_EQ(h + " " + p, "host 23");
  SplitHostPort("host:abc", "23", h, p);
  EXPECT_EQ(h + " " + p, "host:abc 23");
  // IPv6: the port only after brackets; bare, every colon belongs to the address.
  SplitHostPort("[::1]:2323", "23", h, p);
  EXPECT_EQ(h + " " + p, "::1 2323");
  SplitHostPort("[::1]:7", "23", h, p);
  EXPECT_EQ(h + " " + p, "::1 7");
  SplitHostPort("[::1]:", "23", h, p);  // a colon without a port: the default
  EXPECT_EQ(h + " " + p, "::1 23");
  SplitHostPort("host:", "23", h, p);
  EXPECT_EQ(h + " " + p, "host 23");
  SplitHostPort("[2001:db8::7]", "23", h, p);
  EXPECT_EQ(h + " " + p, "2001:db8::7 23");
  SplitHostPort("fe80::1", "23", h, p);
  EXPECT_EQ(h + " " + p, "fe80::1 23");
}

TEST_F(DialogueTest, ModemPortThatCannotBeOpenedEndsThePhase) {
  control.modemOpens = false;
  settings.Address = "0312345678";
  settings.CommPort = 3;
  settings.CommRate = 19200;
  D().RunConnection();
  EXPECT_TRUE(ev.Has("status:ポートをオープンできません"));
  EXPECT_TRUE(src.Terminated());
  EXPECT_EQ(control.calls.back(), "modem 3 19200 ");
}

}  // namespace
}  // namespace brelo
