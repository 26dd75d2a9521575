// The host's words, not anybody's: the dialogue answers only where the host
// waits, takes the host's echo of our lines for echo, and ends a message
// only where the host ends it, whatever people wrote in it. Scripted hosts
// that echo as real hosts do; the clock is the script's.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>

#include "common/Sjis.h"
#include "session/Dialogue.h"
#include "support/DialoguePeers.h"
#include "support/ScriptedSource.h"

namespace brelo {
namespace {

using test::TControl;
using test::TEvents;
using test::TScriptedSource;

const std::string kMain = "MAIN (A,C,E,N,Q,T,U,W,?)>";
const std::string kChannel = Sjis("*CH01 TARO  接続時間 00:00:05");

// Every text the dialogue recognises, as people quote them (no header with
// the lines a real one has after it: those would be a header, whoever wrote them).
std::vector<std::string> QuotedScreens() {
  std::vector<std::string> out;
  for (const char* l : {"*CH03 TARO  こんにちは", "Message  #0012 is from: HANAKO はなこ",
                        "Time: 98/03/02 21:15:40  Section 1:雑談ボード", "Private Message is from: HANAKO はなこ to: TARO",
                        "Time: 98/03/06 18:00:00", "削除しますか？ (Y/N)>", "Subj: 引用", "0003: PC       パソコン談義",
                        "MAIN (A,C,E,N,Q,T,U,W,?)>", "日付が 98/01/01 以降のものを読みます。",
                        "書き込みを終了しました と出ます", "失敗しました と出る時があります", "S:送信 A:中止 E:再編集 >",
                        "これでよろしいですか (Y/N)>", "----+----1----+----2", "その店は存在しません", "題名をどうぞ: 中止",
                        "[RET]:", "ID: TARO", "Password: ", "パスワードが違います。", "//x", "*CH03 TARO  またね"}) {
    out.push_back(Sjis(l));
  }
  return out;
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& l : lines) out += l + "\r\n";
  return out;
}

// One dialogue over one scripted host.
struct TScene {
  TScriptedSource src;
  TEvents ev;
  TControl control;
  TSessionSettings settings;
  std::atomic<int> mode{sm_login};
  std::atomic<int> channel{-1};
  TPendingWrite pending;
  std::unique_ptr<TDialogue> d;
  TScene() { settings.Address = "telnet://127.0.0.1/"; }
  TDialogue& D() {
    control.src = &src;
    if (!d) d = std::make_unique<TDialogue>(src, src, ev, control, settings, mode, channel, [this] { return pending; });
    return *d;
  }
  std::string Sent() const { return SjisToUtf8(src.sent); }
  // How the login ended, as the events tell it.
  std::string Outcome() const {
    for (const std::string& e : ev.log) {
      if (e == "login" || e.starts_with("login failed:")) return e;
    }
    return "ended";
  }
};

// ------------------------------------------------------------------- login

TEST(HostWords, TheLoginAnswersOnlyWhereTheHostWaits) {
  struct TCase {
    const char* what;
    std::function<void(TScene&)> script;
    std::string sent, outcome;
  };
  const std::vector<TCase> cases = {
      {"lines that name the prompts are not prompts",
       [](TScene& s) { s.src.Lines({Sjis("ID と Password をどうぞ"), Sjis("Pass は 8 文字まで、ハンドル名も登録できます")}); },
       "", "ended"},
      {"the prompts the host waits at, after such lines",
       [](TScene& s) {
         s.src.Lines({Sjis("ID と Password をどうぞ")});
         s.src.Partial("ID: ");
         s.src.OnLine("TARO", {}, "Password: ");
         s.src.OnLine("taro", {Sjis("*CH01 TARO たろう さん、ようこそ。")}, kMain);
       },
       "TARO\r\ntaro\r\n% +M\r\n", "login"},
      {"a question the host ended with a line break",
       [](TScene& s) {
         s.src.echo = false;
         s.src.Lines({Sjis("IDを入力してください:")});
         s.src.OnLine("TARO", {"Password:"});
         s.src.OnLine("taro", {Sjis("*CH01 TARO たろう さん、ようこそ。")}, kMain);
       },
       "TARO\r\ntaro\r\n% +M\r\n", "login"},
      {"the echo of an ID that holds the password prompt's word",
       [](TScene& s) {
         s.settings.UserID = "Passy";
         s.src.Partial("ID: ");
         s.src.OnLine("Passy", {});
       },
       "Passy\r\n", "ended"},
      {"a wrong password",
       [](TScene& s) {
         s.src.Partial("ID: ");
         s.src.OnLine("TARO", {}, "Password: ");
         s.src.OnLine("taro", {Sjis("パスワードが違います。"), Sjis("ログインIDを入力してください")}, "ID: ");
       },
       "TARO\r\ntaro\r\n", "login failed:refused:パスワードが違います。"},
      {"an ID the host does not know, asked for again",
       [](TScene& s) {
         s.settings.UserID = "NOBODY";
         s.src.Partial("ID: ");
         s.src.OnLine("NOBODY", {Sjis("そのIDは登録されていません。")}, "ID: ");
       },
       "NOBODY\r\n", "login failed:refused:そのIDは登録されていません。"},
      {"the password asked for again",
       [](TScene& s) {
         s.src.Partial("ID: ");
         s.src.OnLine("TARO", {}, "Password: ");
         s.src.OnLine("taro", {}, "Password: ");
       },
       "TARO\r\ntaro\r\n", "login failed:refused:"},
      {"the stealth request on a Vesko host",
       [](TScene& s) {
         s.settings.StealthLogin = true;
         s.src.Partial("ID: ");
         s.src.OnLine("$SET_LOGIN_MODE", {}, "Login Mode = (NORMAL / STEALTH) ");
         s.src.OnLine("STEALTH", {Sjis("ログインIDを入力してください")}, "ID: ");
         s.src.OnLine("TARO", {}, "Password: ");
         s.src.OnLine("taro", {Sjis("*CH02 TARO たろう さん、ようこそ。")}, kMain);
       },
       "$SET_LOGIN_MODE\r\nSTEALTH\r\nTARO\r\ntaro\r\n% +M\r\n", "login"},
      {"the mail notice answered \"0\"",
       [](TScene& s) {
         s.settings.HostKind = HK_ktbbs;
         s.src.Partial("ID: ");
         s.src.OnLine("TARO", {}, "Password: ");
         s.src.OnLine("taro", {Sjis("*CH01 TARO たろう さん、ようこそ。"), Sjis("あなた宛のメールが 1 通届いています。")},
                      Sjis("今読みますか？ (0:あとで / RET:読む) [RET]:"));
         s.src.OnLine("0", {kChannel}, kMain);
       },
       "TARO\r\ntaro\r\n0\r\n", "login"},
  };
  for (const TCase& c : cases) {
    TScene s;
    s.src.echo = true;
    s.settings.UserID = "TARO";
    s.settings.Password = "taro";
    c.script(s);
    s.D().Execute();
    EXPECT_EQ(s.Sent(), c.sent) << c.what;
    EXPECT_EQ(s.Outcome(), c.outcome) << c.what;
    // The password goes at most once.
    EXPECT_LE(s.src.sent.find("taro\r\n"), s.src.sent.rfind("taro\r\n")) << c.what;
  }
}

TEST(HostWords, TheLoginWatchEndsAtItsBoundOrWhenTheUserTypesAndThenAnswersNothing) {
  struct TCase {
    const char* what;
    std::function<void(TScene&)> script;
    std::string outcome;
    long long endedBy;  // the script's clock when the watch ended, at most
  };
  const std::vector<TCase> cases = {
      {"prompts it does not know", [](TScene& s) { s.src.Partial("login: "); }, "login failed:not recognised:",
       60000 + 2000},
      {"a bound counted from the last prompt it answered",
       [](TScene& s) {
         s.src.At(30000, {}, "ID: ");
         s.src.OnLine("TARO", {Sjis("Unix 風のシェルです")}, "$ ");
       },
       "login failed:not recognised:", 30000 + 1000 + 60000 + 2000},
      {"the user typing", [](TScene& s) { s.control.userTyped = true; }, "login failed:user typed:", 100},
      {"a terminal-only host", [](TScene& s) { s.settings.TerminalOnly = true; }, "login failed:terminal only:", 0},
  };
  for (const TCase& c : cases) {
    TScene s;
    s.src.echo = true;
    s.src.terminateWhenDry = false;
    s.src.terminateAtClock = 200000;
    s.settings.UserID = "TARO";
    s.settings.Password = "taro";
    long long endedAt = -1;
    s.ev.onLoginFailed = [&] { endedAt = s.src.clock_; };
    c.script(s);
    // After the watch: what a shell's screen or the user's own typing shows.
    s.src.At(150000, {" PID USER      PR  NI", "ID: "}, "Password: ");
    s.D().Execute();
    EXPECT_EQ(s.Outcome(), c.outcome) << c.what;
    EXPECT_GE(endedAt, 0) << c.what;
    EXPECT_LE(endedAt, c.endedBy) << c.what;
    EXPECT_TRUE(s.D().Manual()) << c.what;
    // Nothing of the login went out after the watch ended, however long the
    // session went on: at most the ID to the one prompt it knew.
    EXPECT_EQ(s.src.sent.find("taro"), std::string::npos) << c.what;
    EXPECT_EQ(s.src.sent.find("TARO"), s.src.sent.rfind("TARO")) << c.what;
    EXPECT_GE(s.src.clock_, 150000) << c.what;
  }
}

// ---------------------------------------------------------------- captures

TEST(HostWords, AQuotedScreenInABodyIsTextAndTheMailDeletePromptIsAlwaysAnswered) {
  const std::vector<std::string> body = QuotedScreens();
  const std::string deletePrompt = Sjis("削除しますか？ (Y/N)>");
  const auto header = [](const std::string& no, int board) {
    return std::vector<std::string>{"Message  #" + no + " is from: HANAKO " + Sjis("はなこ"),
                                    "Time: 98/03/08 10:00:00  Section " + std::to_string(board) + ":" + Sjis("雑談ボード"),
                                    "Subj: " + Sjis("画面の引用")};
  };
  const auto mailHeader = std::vector<std::string>{"Private Message is from: HANAKO " + Sjis("はなこ") + " to: TARO",
                                                   "Time: 98/03/08 10:00:00", "Subj: " + Sjis("画面の引用")};
  struct TCase {
    const char* what;
    THostKind kind;
    std::function<void(TScene&)> run;
    size_t messages, mails;
    std::string sent;
  };
  // A news listing from its heading, read until the host's main prompt.
  const auto listing = [](TScene& s, std::vector<std::string> lines) {
    lines.insert(lines.begin(), Sjis("日付が 98/01/01 以降のものを読みます。"));
    s.src.Lines(lines);
    s.src.Partial(kMain);
    s.mode = sm_online;
    s.ev.onPrompt = [&s] { s.src.Terminate(); };
    while (!s.src.Terminated()) s.D().WatcherTurn();
  };
  const auto with = [](std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  };
  const std::vector<TCase> cases = {
      {"a Vesko board's messages", HK_vesko,
       [&](TScene& s) {
         listing(s, with(with(with(with({"0001: GENERAL  " + Sjis("雑談ボード")}, header("0008", 1)), body),
                                   with(header("0009", 1), body)),
                              {"//", kChannel}));
       },
       2, 0, ""},
      {"the last message of a KTBBS listing", HK_ktbbs,
       [&](TScene& s) { listing(s, with(with(with({"0001: GENERAL  " + Sjis("雑談ボード")}, header("0008", 1)), body), {kChannel})); },
       1, 0, ""},
      {"a KTBBS message before the next board", HK_ktbbs,
       [&](TScene& s) {
         listing(s, with(with(with(with({"0001: GENERAL  " + Sjis("雑談ボード")}, header("0008", 1)), body),
                              with({"0003: PC       " + Sjis("パソコン談義")}, header("0002", 3))),
                         with(body, {kChannel})));
       },
       2, 0, ""},
      {"a mail read at the login", HK_vesko,
       [&](TScene& s) {
         s.src.Lines(with(mailHeader, body));
         s.src.Partial(deletePrompt);
         s.src.OnLine("y", {Sjis("メールは以上です。"), kChannel}, kMain);
         s.D().CaptureMail(s.src.NextLine(), true);
       },
       0, 1, "y\r\n"},
      {"a mail shown at the main prompt", HK_ktbbs,
       [&](TScene& s) {
         s.src.Lines(with(with(mailHeader, body), {kChannel}));
         s.src.Partial(kMain);
         s.mode = sm_online;
         s.D().CaptureMail(s.src.NextLine(), false);
       },
       0, 1, ""},
      {"a mail whose delete prompt is for the user to answer", HK_vesko,
       [&](TScene& s) {
         s.src.Lines(with(mailHeader, body));
         s.src.Partial(deletePrompt);
         s.D().CaptureMail(s.src.NextLine(), false);
       },
       0, 1, ""},
  };
  for (const TCase& c : cases) {
    TScene s;
    s.src.echo = true;
    s.settings.HostKind = c.kind;
    c.run(s);
    ASSERT_EQ(s.ev.messages.size(), c.messages) << c.what;
    ASSERT_EQ(s.ev.mails.size(), c.mails) << c.what;
    for (const TVeskoMessage& m : s.ev.messages) {
      EXPECT_EQ(m.Text, Joined(body)) << c.what << " #" << m.MesNo;
      EXPECT_FALSE(m.Cut) << c.what;
      EXPECT_EQ(m.Title, Sjis("画面の引用")) << c.what;
    }
    for (const TVeskoMessage& m : s.ev.mails) {
      EXPECT_EQ(m.Text, Joined(body)) << c.what;
      EXPECT_FALSE(m.Cut) << c.what;
    }
    EXPECT_EQ(s.Sent(), c.sent) << c.what;
  }
}

// ------------------------------------------------------------------ writes

TEST(HostWords, APostOrAMailKeepsItsOutcomeWhateverItsTitleOrBodySays) {
  // Each text the write dialogue waits for, and the chat line.
  const std::vector<std::string> texts = {
      Sjis("存在しません"), Sjis("そのボードには書き込めません。"), Sjis("アクセス権がありません"),
      Sjis("これでよろしいですか"), "----+", Sjis("S:送信"), Sjis("失敗"), Sjis("*CH03 TARO  こんにちは"),
      Sjis("終了"), Sjis("中止"), Sjis("題名をどうぞ"), kMain};
  enum EOutcome { kWritten, kFailed, kRefused };
  for (const std::string& text : texts) {
    for (bool inTitle : {true, false}) {
      for (bool mail : {false, true}) {
        for (EOutcome outcome : {kWritten, kFailed, kRefused}) {
          const std::string title = inTitle ? text : Sjis("テスト");
          const std::string body = inTitle ? Sjis("本文") : Sjis("一行目") + "\r\n" + text + "\r\n" + Sjis("最後の行");
          TScene s;
          s.src.echo = true;
          s.mode = mail ? sm_writemail : sm_writemessage;
          s.pending = {mail ? "HANAKO" : "8", title, body, 7};
          s.src.Partial(kMain);
          const std::string command = mail ? "emHANAKO;0" : "ew8;";
          if (outcome == kRefused) {
            s.src.OnSend(command,
                         {mail ? Sjis("HANAKO というIDは登録されていません。送信を中止します。") : Sjis("ボード 8 は存在しません。")},
                         Sjis("0:戻る >"));
            s.src.OnLine("0", {kChannel}, kMain);
          } else {
            // The host says back what it was given, then asks.
            if (mail) {
              s.src.OnSend(command, {Sjis("宛先: HANAKO")}, Sjis("題名をどうぞ: "));
              s.src.OnLine(title, {Sjis("題名: ") + title}, Sjis("これでよろしいですか (Y/N)>"));
            } else {
              s.src.OnSend(command, {Sjis("ボード: 08 テスト書き込み"), Sjis("タイトル: ") + title},
                           Sjis("これでよろしいですか (Y/N)>"));
            }
            s.src.OnLine("Y", {Sjis("本文を入力してください。「//」だけの行で終わります。"), "----+----1----+----2"});
            s.src.OnLine("//", {}, Sjis("S:送信 A:中止 E:再編集 >"));
            s.src.OnLine("S", {outcome == kWritten ? Sjis("書き込みを終了しました。(No.9)") : Sjis("書き込みに失敗しました。"), kChannel},
                         kMain);
          }
          if (mail) s.D().MailSequence();
          else s.D().PostMessageSequence();
          const std::string what = SjisToUtf8(text) + (inTitle ? " in the title" : " in the body") + (mail ? ", mail" : ", post");
          const std::string expected = outcome == kWritten ? "written:7" : outcome == kFailed ? "failed:7" : "refused:7";
          EXPECT_TRUE(s.ev.Has(expected)) << what << " " << expected;
          EXPECT_EQ(s.ev.Has("written:7") + s.ev.Has("failed:7") + s.ev.Has("refused:7"), 1) << what << " " << expected;
          const std::string sent = command + (mail ? "" : title) + "\r\n" +
                                   (outcome == kRefused ? std::string("0\r\n")
                                                        : (mail ? title + "\r\n" : std::string()) + "Y\r\n" + body +
                                                              "\r\n//\r\nS\r\n");
          EXPECT_EQ(s.src.sent, sent) << what << " " << expected;
          EXPECT_EQ(s.mode.load(), sm_online) << what;
        }
      }
    }
  }
}

}  // namespace
}  // namespace brelo
