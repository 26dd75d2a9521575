#include "session/Dialogue.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <string_view>

#include "common/DateTime.h"
#include "common/FileUtil.h"
#include "common/Sjis.h"
#include "common/StringLock.h"
#include "session/Address.h"

namespace brelo {
namespace {

// The host's texts, as Shift-JIS bytes.
struct TTexts {
  const std::string newsHead = Sjis("日付が");
  const std::string newsTail = Sjis(" 以降のものを読みます。");
  const std::string loginRuler =
      "-- -------- -------------- -------- -------- -------- -------------------------";
  const std::string userHeader = "USERID    H A N D L E";
  const std::string telegramRuler = std::string(60, '=');
  const std::string messageHead = "Message  #";
  const std::string mailHead = "Private Message is from:";
  const std::string deletePrompt = Sjis("削除しますか？ (Y/N)>");
  const std::string mailbox = Sjis("メールボックス");
  const std::string telegramHead = Sjis("電報です。発信人は");
  const std::string sender = Sjis("発信人は");
  const std::string senderTail = Sjis("さんです。");
  const std::string handlePrompt = Sjis("ハンドル");
};

const TTexts& T() {
  static const TTexts t;
  return t;
}

// Most lines a capture looks at (a body's) differ from the prefix at the
// first byte: that byte is compared before the library's compare is called.
bool StartsWith(std::string_view s, std::string_view prefix) {
  return prefix.empty() || (!s.empty() && s[0] == prefix[0] && s.starts_with(prefix));
}

bool Contains(std::string_view s, std::string_view t) { return s.find(t) != std::string_view::npos; }

std::string TrimRightSpaces(std::string s) {
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

// Bytes from..from+count-1 (1-based) of a line, shorter when the line is:
// SafeCopy's cut as a view.
std::string_view Bytes(std::string_view l, int from, int count) {
  if (from < 1) from = 1;
  if (count <= 0 || static_cast<size_t>(from) > l.size()) return std::string_view();
  return l.substr(static_cast<size_t>(from - 1), static_cast<size_t>(count));
}

// The date of bytes 7-23 of a "Time:" line, or the fixed date of year 80.
TDateTime LineDate(const std::string& line) {
  if (auto d = ParseHostDate(Bytes(line, 7, 17))) return *d;
  return TVeskoMessage::UnreadableDate();
}

// A modem that loses the carrier says so, CR LF "NO CARRIER" CR LF, and its
// CR LF ends the host's half line. So when a body is cut and its last line
// is that code, neither the code nor the line its CR LF ended is the host's
// text: the body keeps the host's whole lines before them.
void DropHangUpCode(std::string& text) {
  static const std::string kCode = "NO CARRIER\r\n";
  if (text.size() < kCode.size() || text.compare(text.size() - kCode.size(), kCode.size(), kCode) != 0) return;
  if (text.size() > kCode.size() && text[text.size() - kCode.size() - 1] != '\n') return;  // not a line of its own
  text.resize(text.size() - kCode.size());
  if (text.size() <= 2) {  // the half line was all
    text.clear();
    return;
  }
  const size_t lastEnd = text.rfind("\r\n", text.size() - 3);  // the end of the line before the half line
  text.resize(lastEnd == std::string::npos ? 0 : lastEnd + 2);
}

}  // namespace

TDialogue::TDialogue(ILineSource& src, ILineSink& sink, IDialogueEvents& events, ILineControl& control,
                     const TSessionSettings& settings, std::atomic<int>& mode, std::atomic<int>& channel,
                     std::function<TPendingWrite()> pendingWrite)
    : src_(src),
      sink_(sink),
      events_(events),
      control_(control),
      settings_(settings),
      mode_(mode),
      channel_(channel),
      pendingWrite_(std::move(pendingWrite)),
      reader_(src, sink) {}

// ---------------------------------------------------------------- the body

void TDialogue::Execute() {
  while (!Terminated()) {
    switch (Mode()) {
      case sm_login: {
        RunConnection();
        bool loggedIn = false;
        if (!src_.Stopping()) {
          if (settings_.TerminalOnly) LoginGaveUp(ELoginEnd::kTerminalOnly);
          else loggedIn = RunLogin();
        }
        if (loggedIn && !src_.Stopping()) {
          events_.Login();
          break;
        }
        if (!loginEnd_ || loggedIn) {
          Status(Sjis("接続に失敗しました"));
          return;  // no OnLogout: the session never logged in
        }
        // The watch has said why it ended; a caller that hung up on it
        // gets no logout to report.
        if (src_.Stopping()) return;
        break;
      }
      case sm_telegram: TelegramSequence(); break;
      case sm_writemessage: PostMessageSequence(); break;
      case sm_writemail: MailSequence(); break;
      default:
        if (manual_) src_.NextLine();  // logged and shown, nothing more
        else WatcherTurn();
        break;
    }
  }
  Status(events_.LogoutCommandSent() ? Sjis("ログアウトしました") : Sjis("切断されました.."));
  events_.Logout();
}

// ---------------------------------------------------------- the connection

void TDialogue::RunConnection() {
  const TAddress a = ParseAddress(settings_.Address);
  switch (a.kind) {
    case TAddress::kHttp: WebLookup(a); break;
    case TAddress::kModem: ModemCall(a.host); break;
    case TAddress::kTelnet: Telnet(a.host); break;
    case TAddress::kSsh: Ssh(a); break;
  }
}

void TDialogue::Telnet(const std::string& hostPort) {
  Status(hostPort + Sjis("に接続中"));
  control_.SetTransport(1);
  std::string host, port;
  SplitHostPort(hostPort, "23", host, port);
  control_.TcpSetHostPort(host, port);
  control_.SetConnected(false);
  control_.TcpClose();
  control_.SetConnected(true);
  control_.TcpConnect();
}

namespace {

// How an SSH login went, in the user's words.
std::string SshMethodWords(const TSshOutcome& o) {
  if (o.method == "publickey") return Sjis("公開鍵 ") + Utf8ToSjisChecked(o.keyFile).bytes;
  if (o.method == "agent") return Sjis("エージェントの鍵");
  if (o.method == "password") return Sjis("パスワード");
  if (o.method == "keyboard-interactive") return Sjis("キーボード対話 (パスワード)");
  return o.method;
}

std::string KeyWords(const TKnownKey& k) {
  return k.key.Description() + " (" + Utf8ToSjisChecked(k.file).bytes + " " + std::to_string(k.line) + Sjis(" 行目)");
}

}  // namespace

void TDialogue::Ssh(const TAddress& a) {
  Status(a.host + Sjis("に接続中"));
  control_.SetTransport(2);
  std::string host, port;
  SplitHostPort(a.host, "22", host, port);
  const TSshOutcome o = control_.SshOpen(host, port, a.user.empty() ? settings_.UserID : a.user);
  const std::string key = o.key.Description();
  switch (o.kind) {
    case TSshOutcome::kOpen:
      if (o.remembered) {
        Status(o.recordError == 0 ? Sjis("ホストの鍵を記録しました (") + key + ")"
                                  : Sjis("ホストの鍵を記録できませんでした (") + ReasonText(o.recordError) + ")");
      }
      Status(Sjis("SSH で接続しました (") + SshMethodWords(o) + ")");
      return;
    case TSshOutcome::kHostKeyUnknown:
      SshGaveUp(ELoginEnd::kHostKeyUnknown, Sjis("ホストの鍵が未確認のため接続しません"), key);
      return;
    case TSshOutcome::kHostKeyChanged: {
      if (o.check.verdict == THostKeyCheck::kRevoked) {
        SshGaveUp(ELoginEnd::kHostKeyChanged, Sjis("ホストの鍵は無効にされています。接続しません"),
                  KeyWords(o.check.recorded.front()));
        return;
      }
      std::string recorded;
      for (const TKnownKey& k : o.check.recorded) recorded += (recorded.empty() ? "" : ", ") + KeyWords(k);
      SshGaveUp(ELoginEnd::kHostKeyChanged, Sjis("ホストの鍵が記録と違います。接続しません"),
                Sjis("記録: ") + recorded + Sjis(" / 今回: ") + key);
      return;
    }
    case TSshOutcome::kLoginRefused:
      SshGaveUp(ELoginEnd::kSshRefused, Sjis("SSH のログインを拒否されました"),
                Sjis("サーバーが受け付ける方法: ") + o.methods);
      return;
    default:
      return;  // the line's loss said why, or the session ended
  }
}

void TDialogue::SshGaveUp(ELoginEnd why, const std::string& status, const std::string& words) {
  loginEnd_ = why;
  loginWords_ = words;
  Status(status + " (" + words + ")");
  events_.LoginFailed(why, words);
  control_.TerminateSelf();
}

void TDialogue::WebLookup(const TAddress& a) {
  control_.SetTransport(1);
  control_.SetConnected(false);
  Status(a.host + " , " + a.path + Sjis("よりIPアドレスを拾得しています."));
  const TWebPage page = control_.FetchPage(EncodeUrl(a.secure ? "https" : "http", a.host, a.path));
  if (Terminated()) return;  // no status, no telnet
  std::string found;
  if (!page.ok) Status(Sjis("IPアドレスを拾得できませんでした.") + " (" + page.error + ")");
  else if (!FindPageAddress(page.body, found)) Status(Sjis("IPアドレスを拾得できませんでした."));
  else Status(Sjis("IPアドレスを拾得しました...") + found);
  control_.SetConnected(true);
  Telnet(found);
}

void TDialogue::ModemCall(const std::string& number) {
  control_.SetConnected(false);
  control_.SetTransport(0);
  if (!control_.ModemOpen(settings_.CommPort, settings_.CommRate, settings_.ModemDevice)) {
    Status(Sjis("ポートをオープンできません"));
    control_.TerminateSelf();
    return;
  }
  bool connected = false;
  for (int i = 1; i <= 10 && !Terminated(); ++i) {
    if (!settings_.ModemInitCommand.empty()) {
      Status(Sjis("モデム初期化中..."));
      sink_.SendLine(settings_.ModemInitCommand);
      WaitText(src_, "OK");
    }
    Status(number + SafeFormat(Sjis("に電話をかけています....(%d回目)").c_str(), i));
    sink_.SendLine(settings_.ModemDialCommand + number);
    const int r = WaitAny(src_, {"CONNECT", "BUSY"});
    if (r == 0) {
      connected = true;
      break;
    }
    if (Terminated()) return;
    // The BUSY line is done with: without an initialisation to wait for, the
    // next attempt would otherwise find it again at once.
    src_.NextLine();
  }
  if (!connected) {
    if (Terminated()) return;
    // Ten times busy: the session ends here instead of waiting for a login
    // prompt that cannot come.
    Status(number + Sjis("は話し中でした"));
    control_.TerminateSelf();
    return;
  }
  Status(number + Sjis("に接続しました"));
  control_.SetConnected(true);
}

// --------------------------------------------------------------- the login

namespace {

// What a host says when the password was not the user's, in the place the
// answer to it goes (before the channel line).
bool PasswordRefusal(const THostReader& r) {
  static const std::string kWords[] = {Sjis("パスワードが違"), Sjis("パスワードが間違"), "assword incorrect",
                                       "ogin incorrect"};
  for (const std::string& w : kWords) {
    if (r.Says(w)) return true;
  }
  return false;
}

}  // namespace

void TDialogue::LoginGaveUp(ELoginEnd why, const std::string& words) {
  loginEnd_ = why;
  loginWords_ = words;
  mode_ = sm_online;
  manual_ = true;
  switch (why) {
    case ELoginEnd::kRefused:
      Status(Sjis("ログインを拒否されました") + (words.empty() ? std::string() : " (" + words + ")"));
      break;
    case ELoginEnd::kNotRecognised:
      Status(Sjis("ログインの画面を確認できません (") + SafeIntToStr(settings_.LoginWatchMs / 1000) +
             Sjis(" 秒)。自動ログインを止めました"));
      break;
    case ELoginEnd::kUserTyped: Status(Sjis("キー入力があったため、自動ログインを止めました")); break;
    case ELoginEnd::kTerminalOnly: Status(Sjis("自動ログインしないホストです。ターミナルで操作してください")); break;
    case ELoginEnd::kSshRefused:
    case ELoginEnd::kHostKeyUnknown:
    case ELoginEnd::kHostKeyChanged: break;  // the line never came up: SshGaveUp says so
  }
  events_.LoginFailed(why, words);
}

bool TDialogue::RunLogin() {
  using EKind = THostReader::EKind;
  reader_.Reset();
  // The watch answers only login prompts, and only for a while after the
  // last one it knew; the user's own typing ends it at once.
  long long deadline = src_.TickCount() + settings_.LoginWatchMs;
  const auto stop = [&] { return control_.UserTyped() || src_.TickCount() >= deadline; };
  const auto answer = [&](const std::string& s) {
    reader_.Answer(s);
    deadline = src_.TickCount() + settings_.LoginWatchMs;
  };
  // The wait ended without the prompt it waited for: false, and why.
  const auto gaveUp = [&](EKind k) {
    if (k == EKind::kGiveUp) LoginGaveUp(control_.UserTyped() ? ELoginEnd::kUserTyped : ELoginEnd::kNotRecognised);
    return false;
  };

  EKind k = reader_.NextPrompt({"ID"}, stop);
  if (k != EKind::kPrompt) return gaveUp(k);
  if (settings_.StealthLogin && settings_.HostKind == HK_vesko) {
    Status(Sjis("ログインモード設定中"));
    answer("$SET_LOGIN_MODE");
    k = reader_.NextPrompt({"Pass", "Login Mode ="}, stop);
    if (k != EKind::kPrompt) return gaveUp(k);
    answer(reader_.Prompt() == 0 ? std::string() : std::string("STEALTH"));
    k = reader_.NextPrompt({"ID"}, stop);
    if (k != EKind::kPrompt) return gaveUp(k);
  }
  const std::string idPrompt = reader_.Said();
  Status(Sjis("ID送出待機中"));
  answer(settings_.UserID);

  // The password or the handle. The ID asked for again is a refusal.
  std::string words;  // the host's last words, which say why it refused
  for (;;) {
    k = reader_.Next({"Pass", T().handlePrompt}, stop);
    if (k == EKind::kLine) {
      if (!reader_.Said().empty()) words = reader_.Said();
      continue;
    }
    if (k != EKind::kPrompt) return gaveUp(k);
    if (reader_.Prompt() >= 0) break;
    if (reader_.Said() == idPrompt) {
      LoginGaveUp(ELoginEnd::kRefused, words);
      return false;
    }
  }
  const bool password = reader_.Prompt() == 0;
  const std::string passPrompt = reader_.Said();
  if (password) {
    src_.MaskAnswer();
    answer(settings_.Password);  // once a session: a question asked again is a refusal
  } else {
    answer(settings_.HandleName);
  }
  Status(Sjis("パスワード(ハンドル名)送出待機中"));
  channel_ = -1;

  // Up to the main prompt: the channel, the mail waiting, the host's [RET].
  bool accepted = false;  // the channel line came: the password was taken
  words.clear();
  for (;;) {
    k = reader_.Next({"MAIN (A", "[RET]:"}, stop);
    if (k == EKind::kLine) {
      const std::string& said = reader_.Said();
      if (said.empty()) continue;  // our echo
      if (StartsWith(said, "*CH")) {
        accepted = true;
        channel_ = SafeStrToIntDef(SafeCopy(said, 4, 2), -1);
        Status(Sjis("チャンネルを拾得しました..") + SafeIntToStr(channel_));
      } else if (!accepted && password && PasswordRefusal(reader_)) {
        LoginGaveUp(ELoginEnd::kRefused, said);
        return false;
      } else if (settings_.AutoReceiveMail && StartsWith(said, T().mailHead)) {
        // Reading the waiting mail: a second mail follows the first one's
        // delete prompt, and is captured like the first.
        CaptureMail(reader_.Line(), true);
        deadline = src_.TickCount() + settings_.LoginWatchMs;
        reader_.Reset();
      }
      words = said;
      continue;
    }
    if (k != EKind::kPrompt) return gaveUp(k);
    if (reader_.Prompt() == 0) break;  // the prompt line stays unconsumed
    if (reader_.Prompt() == 1) {
      if (settings_.AutoReceiveMail) {
        Status(Sjis("メール受信中"));
        answer("");
      } else {
        answer("0");
      }
      continue;
    }
    // The ID or the password asked for again: refused, and never sent twice.
    if (reader_.Said() == idPrompt || reader_.Said() == passPrompt) {
      LoginGaveUp(ELoginEnd::kRefused, words);
      return false;
    }
  }
  mode_ = sm_online;
  if (settings_.HostKind == HK_vesko) {
    Status(Sjis("モード変更中"));
    reader_.Answer("% +M");
  }
  Status(Sjis("ログインしました"));
  return true;
}

// ------------------------------------------------- watcher and dispatching

void TDialogue::WatcherTurn() {
  const long long t0 = src_.TickCount();
  while (!src_.LineWaiting() && Mode() == sm_online && !Terminated()) {
    src_.Idle(50);
    // Lines that came during the sleep go first: a prompt is reported only
    // while it is the last thing on the screen, or a quick host's next prompt
    // would be answered before the lines in front of it were read.
    if (src_.LineWaiting()) break;
    const int li = src_.LineIndex();
    // A prompt the login or a capture already saw the host wait at needs
    // no second quiet second.
    if ((src_.TickCount() > t0 + 1000 || li == quietPromptSlot_) && IsMainPrompt(src_.PartialLine())) {
      if (li != lastPrompt_) {
        lastPrompt_ = li;
        events_.GetMainPrompt();
        news_ = false;
      }
    }
  }
  if (Mode() == sm_online && !Terminated()) Dispatch(src_.NextLine());
}

bool TDialogue::IsMainPrompt(std::string_view l) {
  return l.size() >= 8 && l.starts_with("MAIN (") && l.ends_with(")>");
}

bool TDialogue::IsBoardLine(std::string_view l) {
  return l.size() >= 5 && l[4] == ':' && l[0] == '0' && l[1] == '0' && SafeStrToIntDef(SafeCopy(l, 1, 4), 0) > 0;
}

void TDialogue::Dispatch(const std::string& line) {
  const TTexts& t = T();
  if (StartsWith(line, t.newsHead) && Contains(line, t.newsTail)) {
    news_ = true;
    Status("News Mode");
  }
  if (news_ && IsBoardLine(line)) {
    events_.GetMessageBoard(SafeStrToIntDef(SafeCopy(line, 1, 4), 0), TrimRightSpaces(SafeCopy(line, 7, 8)),
                            SafeCopy(line, 16, 32));
  }
  if (line == t.loginRuler) CaptureLoginUsers();
  if (line == t.userHeader) CaptureUsers();
  if (settings_.GetTelegram && line == t.telegramRuler) CaptureTelegram();
  if (settings_.GetMessage && StartsWith(line, t.messageHead)) CaptureMessage(line);
  if (settings_.GetMail && StartsWith(line, t.mailHead)) CaptureMail(line, false);
  ChatLineCheck(line);
}

// ----------------------------------------------------------------- captures

void TDialogue::CaptureMessage(std::string l) {
  const TTexts& t = T();
  while (StartsWith(l, t.messageHead)) {
    TVeskoMessage m;
    if (!Contains(l, "is from:")) {
      src_.NextLine();
      return;
    }
    {
      // One hold of the lock for the whole header; never across a wait for a
      // line. The cuts are made on views of the line: the same bytes as the
      // helpers' substrings, without a string for each.
      TStringLockGuard lock;
      // Hosts print four digits, and the sender starts at byte 25. From
      // #10000 on the number is longer and pushes the sender along: it is
      // then read up to its blank, and the sender after "is from: ".
      const std::string_view lv(l);
      const size_t digits = std::min(lv.find_first_not_of("0123456789", 10), lv.size()) - 10;
      std::string_view r;
      if (digits < 5) {
        m.MesNo = SafeStrToIntDef(Bytes(l, 11, 4), -1);
        r = Bytes(l, 25, 23);
      } else {
        // A number the record cannot hold is kept as the host printed it:
        // the message is then refused, never stored under another number.
        const std::string_view number = lv.substr(10, digits);
        const std::string_view significant = number.substr(std::min(number.find_first_not_of('0'), number.size()));
        if (significant.size() < 10 || (significant.size() == 10 && significant <= "2147483647")) {
          int64_t value = 0;
          std::from_chars(significant.data(), significant.data() + significant.size(), value);
          m.MesNo = static_cast<int32_t>(value);
        } else {
          m.NumberBeyondRange = number;
        }
        const size_t from = lv.find("is from: ", 10 + digits);
        r = from == std::string_view::npos ? std::string_view() : lv.substr(from + 9, 23);
      }
      const size_t sp = r.find(' ');
      if (sp != std::string_view::npos) {
        m.FromID = r.substr(0, sp);
        m.FromHandle = r.substr(sp + 1, 14);
      }
    }
    src_.NextLineInto(l);
    if (!Contains(l, "Time:")) return;
    {
      TStringLockGuard lock;
      m.Date = LineDate(l);
      const int sec = SafePos("Section", l);
      const std::string_view s = Bytes(l, sec + 8, 80);
      const size_t colon = s.find(':');
      const int board = SafeStrToIntDef(s.substr(0, colon), -999999);
      if (board == -999999) return;  // not a number: the capture ends without an event
      m.BoardNo = board;
      if (colon != std::string_view::npos) m.BoardName = s.substr(colon + 1, 60);
    }
    src_.NextLineInto(l);
    if (!Contains(l, "Subj:")) return;
    m.Title = Bytes(l, 7, 60);  // the first 60 of bytes 7-86
    m.Text.reserve(1024);
    m.Cut = true;  // until the host ends the body
    while (!Terminated()) {
      // A KTBBS news listing goes straight on with the next board line: one
      // with a message header after it.
      if (settings_.HostKind != HK_vesko && src_.LineWaiting() && IsBoardLine(src_.WaitingLine(0)) &&
          reader_.WaitAhead(1) == THostReader::EAhead::kLine && StartsWith(src_.WaitingLine(1), t.messageHead) &&
          Contains(src_.WaitingLine(1), "is from:")) {
        m.Cut = false;
        break;
      }
      if (!src_.TakeWaitingLine(l)) {
        const auto ahead = reader_.WaitAhead(0);
        if (ahead == THostReader::EAhead::kEnd) break;
        // The host waits at its main prompt: the listing is over.
        if (ahead == THostReader::EAhead::kQuiet) {
          if (MainPromptWaits()) {
            m.Cut = false;
            break;
          }
          src_.Idle(50);
        }
        continue;
      }
      // The body's own lines may look like anything the host prints: only
      // what follows a line tells whether the host ended the body there.
      if (l == "//" || (StartsWith(l, t.messageHead) && HeaderFollows(true)) ||
          (StartsWith(l, "*CH") && PromptFollows())) {
        m.Cut = false;
        break;
      }
      m.Text.append(l).append("\r\n");
      if (m.Text.size() >= kMaxCaptureBytes) break;  // a body without end cannot exhaust memory
    }
    if (m.Cut) DropHangUpCode(m.Text);
    m.CutShortStrings();
    events_.ReceiveMessage(m);
    if (Terminated()) return;
  }
}

void TDialogue::CaptureMail(std::string l, bool deleteOption) {
  const TTexts& t = T();
  while (StartsWith(l, t.mailHead)) {
    TVeskoMessage m;
    if (!Contains(l, "is from:")) {
      src_.NextLine();
      return;
    }
    m.MesNo = -1;
    std::string r = SafeCopy(l, 26, 99);
    r = SafeCopy(r, 1, SafePos("to:", r) - 2);
    const int sp = SafePos(" ", r);
    m.FromID = sp > 0 ? SafeCopy(r, 1, sp - 1) : std::string();
    m.FromHandle = sp > 0 ? SafeCopy(r, sp + 1, 14) : std::string();
    l = src_.NextLine();
    if (!Contains(l, "Time:")) return;
    m.Date = LineDate(l);
    m.BoardNo = 0;
    m.BoardName = t.mailbox;
    l = src_.NextLine();
    if (!Contains(l, "Subj:")) return;
    m.Title = SafeCopy(SafeCopy(l, 7, 80), 1, 60);
    m.Cut = true;  // until the host ends the body
    bool asked = false;  // the host waits at its delete prompt
    while (!Terminated()) {
      if (!src_.LineWaiting()) {
        const auto ahead = reader_.WaitAhead(0);
        if (ahead == THostReader::EAhead::kEnd) break;
        if (ahead == THostReader::EAhead::kQuiet) {
          // Its delete prompt, or its main prompt: the host is done with the mail.
          asked = src_.PartialLine() == t.deletePrompt;
          if (asked || MainPromptWaits()) {
            m.Cut = false;
            break;
          }
          src_.Idle(50);
          continue;
        }
      }
      if (!src_.NextLineInto(l)) break;
      if ((StartsWith(l, t.mailHead) && HeaderFollows(false)) || (StartsWith(l, "*CH") && PromptFollows()) ||
          (src_.Replayed() && StartsWith(l, t.deletePrompt))) {
        m.Cut = false;
        break;
      }
      m.Text.append(l).append("\r\n");
      if (m.Text.size() >= kMaxCaptureBytes) break;
    }
    if (m.Cut) DropHangUpCode(m.Text);
    m.CutShortStrings();
    events_.ReceiveMail(m);
    if (asked) {
      // With the option the host is told to delete it, once it is kept here
      // for good; a mail that could not be kept stays at the host. Without
      // the option the question is the user's.
      if (deleteOption) {
        reader_.Answer(m.Kept ? "y" : "n");
        if (!m.Kept) Status(Sjis("メールを保存できなかったため、ホストから削除せずに残しました....") + m.Title);
      }
      return;
    }
    if (Terminated()) return;
  }
}

bool TDialogue::HeaderFollows(bool message) {
  // A host sends a header's lines together, each opening with its word:
  // both are there, or it was none.
  if (reader_.WaitAhead(1) != THostReader::EAhead::kLine || !StartsWith(src_.WaitingLine(1), "Subj:")) return false;
  const std::string_view time = src_.WaitingLine(0);
  return StartsWith(time, "Time:") && (!message || Contains(time, "Section"));
}

bool TDialogue::MainPromptWaits() {
  if (!IsMainPrompt(src_.PartialLine())) return false;
  // Seen quiet for the main prompt's own second: the watcher need not wait again.
  if (reader_.QuietFor() >= THostReader::kQuietMs) quietPromptSlot_ = src_.LineIndex();
  return true;
}

bool TDialogue::PromptFollows() {
  for (;;) {
    switch (reader_.WaitAhead(0)) {
      case THostReader::EAhead::kLine: return StartsWith(src_.WaitingLine(0), "MAIN (");
      case THostReader::EAhead::kQuiet:
        if (MainPromptWaits()) return true;
        if (!src_.PartialLine().empty()) return false;  // it waits at another question
        src_.Idle(50);
        break;
      case THostReader::EAhead::kEnd: return false;  // cut off: whether the body went on is not known
    }
  }
}

void TDialogue::CaptureTelegram() {
  const TTexts& t = T();
  const std::string a = src_.NextLine();
  if (!StartsWith(a, t.telegramHead)) return;
  const std::string mes = src_.NextLine();
  std::string from = SafeCopy(a, SafePos(t.sender, a) + 9, 99);
  const int end = SafePos(t.senderTail, from);
  if (end > 0) from = SafeCopy(from, 1, end - 1);
  src_.NextLine();
  events_.ReceiveTelegram(from, mes);
  Status(Sjis("電報を受信しました"));
}

void TDialogue::CaptureLoginUsers() {
  Status(Sjis("ログイン者一覧拾得中"));
  std::string l = src_.NextLine();
  std::string text;
  while (!StartsWith(l, "-- ") && !Terminated() && text.size() < kMaxCaptureBytes) {
    text += l + "\r\n";
    l = src_.NextLine();
  }
  events_.ReceiveLoginUsers(text);
}

void TDialogue::CaptureUsers() {
  Status(Sjis("ユーザーリスト拾得中"));
  std::string l, text;
  bool ended = false;  // the host's empty line came
  while (text.size() < kMaxCaptureBytes && src_.NextLineInto(l)) {
    if (l.empty()) {
      ended = true;
      break;
    }
    text += l + "\r\n";
    if (Terminated()) break;
  }
  // Whole only where the host ended it: at its empty line, with the host
  // going on after it. The line lost first (the modem's "NO CARRIER" after
  // the last line it brought) leaves only the beginning of the list.
  const THostReader::EAhead next = ended ? reader_.WaitAhead(0) : THostReader::EAhead::kEnd;
  const bool whole = next == THostReader::EAhead::kQuiet ||
                     (next == THostReader::EAhead::kLine && src_.WaitingLine(0) != "NO CARRIER");
  events_.ReceiveUsers(text, !whole);
}

bool TDialogue::IsChatLine(const std::string& l) {
  const int n = SafeStrToIntDef(SafeCopy(l, 1, 2), -1);
  const int gt = SafePos(">", l);
  return l.size() >= 3 && l[2] == ':' && gt >= 6 && n >= 0;
}

void TDialogue::ChatLineCheck(const std::string& l) {
  if (!IsChatLine(l)) return;
  const int n = SafeStrToIntDef(SafeCopy(l, 1, 2), -1);
  const std::string handle = TrimRightSpaces(SafeCopy(l, 4, 14));
  const bool next = src_.LineWaiting() && IsChatLine(src_.CurrentLine());
  events_.ReceiveChatLine(n, handle, l, next);
}

// ------------------------------------------------------------------ writing

TDialogue::EGoAhead TDialogue::WaitGoAhead(const std::vector<std::string>& refusals, const std::string& goAhead) {
  bool refused = false;
  for (;;) {
    switch (reader_.Next({goAhead})) {
      case THostReader::EKind::kLine:
        for (const std::string& r : refusals) refused = refused || reader_.Says(r);
        break;
      case THostReader::EKind::kPrompt:
        // Where it waits decides: lines before the go-ahead may repeat the
        // title, whatever that says.
        if (reader_.Prompt() == 0) return EGoAhead::kGoAhead;
        if (refused) return EGoAhead::kRefused;
        if (IsMainPrompt(reader_.Said())) return EGoAhead::kBack;
        break;  // another question: the host may yet ask this one
      default: return EGoAhead::kEnd;
    }
  }
}

void TDialogue::Refused(int tag) {
  // The host asks what next after its refusal (unless it went straight back).
  if (!IsMainPrompt(reader_.Said())) {
    reader_.Answer("0");
    for (;;) {
      const auto k = reader_.Next({});
      if (k == THostReader::EKind::kLine && StartsWith(reader_.Said(), "*CH")) break;
      if (k == THostReader::EKind::kPrompt && IsMainPrompt(reader_.Said())) break;
      if (k != THostReader::EKind::kLine && k != THostReader::EKind::kPrompt) return;
    }
  }
  events_.WriteFailed(tag, true);
}

bool TDialogue::WaitQuestion(const std::string& prompt) {
  for (;;) {
    switch (reader_.Next({prompt})) {
      case THostReader::EKind::kLine: break;
      case THostReader::EKind::kPrompt:
        if (reader_.Prompt() == 0) return true;
        if (IsMainPrompt(reader_.Said())) return false;  // back without it: no result
        break;
      default: return false;
    }
  }
}

bool TDialogue::SendWrite(const TPendingWrite& w) {
  reader_.Answer("Y");
  // The editor's ruler, a line of the host's own.
  for (;;) {
    const auto k = reader_.Next({});
    if (k == THostReader::EKind::kLine && reader_.Says("----+")) break;
    if (k == THostReader::EKind::kPrompt && IsMainPrompt(reader_.Said())) return false;
    if (k != THostReader::EKind::kLine && k != THostReader::EKind::kPrompt) return false;
  }
  reader_.SendBody(w.Body);
  if (Terminated()) return false;
  if (!WaitQuestion(Sjis("S:送信"))) return false;
  reader_.Answer("S");
  return true;
}

void TDialogue::WriteResult(int tag) {
  // The host's lines after "S" say it; back at its prompt without "終了" is failure.
  for (;;) {
    const auto k = reader_.Next({});
    bool failed = false, done = false;
    if (k == THostReader::EKind::kLine) {
      failed = reader_.Says(Sjis("失敗")) || StartsWith(reader_.Said(), "*CH");
      done = !failed && reader_.Says(Sjis("終了"));
    } else if (k == THostReader::EKind::kPrompt) {
      failed = IsMainPrompt(reader_.Said());
    } else {
      return;  // the session ended before the result
    }
    if (failed) {
      Status(Sjis("失敗しました"));
      events_.WriteFailed(tag, false);
      return;
    }
    if (done) {
      if (events_.HasExecuteWriteMessage()) {
        Status(Sjis("書き込みました"));
        events_.ExecuteWriteMessage(tag);
      }
      return;
    }
  }
}

void TDialogue::PostMessageSequence() {
  const TPendingWrite w = pendingWrite_();
  Status(Sjis("メッセージ書込中...") + w.Title);
  reader_.Reset();
  // A KTBBS host answers a response with "er" and the number it answers.
  std::string number;
  if (settings_.HostKind == HK_ktbbs && StartsWith(w.Title, "Re:")) {
    const int close = SafePos(")", w.Title);
    if (close > 4) number = SafeCopy(w.Title, 4, close - 4);
  }
  if (!number.empty() && SafeStrToIntDef(number, 0) > 0) {
    reader_.Answer("er" + w.Target + ";" + number);
  } else {
    reader_.Answer("ew" + w.Target + ";" + w.Title);
  }
  switch (WaitGoAhead({Sjis("存在しません"), Sjis("そのボードには書き込めません。"), Sjis("アクセス権がありません")},
                      Sjis("これでよろしいですか"))) {
    case EGoAhead::kRefused: Refused(w.Tag); break;
    case EGoAhead::kGoAhead:
      if (SendWrite(w)) WriteResult(w.Tag);
      break;
    default: break;  // ended, or back at the prompt: the policy sees no result
  }
  reader_.Reset();
  mode_ = sm_online;
}

std::string TDialogue::Transcript(int from, int to) {
  std::string text;
  int i = from;
  for (int n = 0; n < TLineRing::kSize; ++n, i = (i + 1) % TLineRing::kSize) {
    text += src_.LineAt(i) + "\r\n";
    if (i == to) break;
  }
  return text;
}

void TDialogue::MailSequence() {
  const TPendingWrite w = pendingWrite_();
  Status(Sjis("メッセージ書込中...") + w.Title);
  const int start = src_.ReadPos();
  reader_.Reset();
  reader_.Answer("em" + w.Target + ";0");
  switch (WaitGoAhead({Sjis("中止")}, Sjis("題名をどうぞ"))) {
    case EGoAhead::kRefused:
      Refused(w.Tag);
      reader_.Reset();
      mode_ = sm_online;
      return;
    case EGoAhead::kGoAhead:
      reader_.Answer(w.Title);
      if (!WaitQuestion(Sjis("これでよろしいですか")) || !SendWrite(w)) {
        reader_.Reset();
        mode_ = sm_online;
        return;
      }
      WriteResult(w.Tag);
      break;
    default:
      reader_.Reset();
      mode_ = sm_online;
      return;
  }
  reader_.Reset();
  if (events_.HasReceiveMail()) {
    TVeskoMessage m;
    m.BoardNo = 0;
    m.MesNo = -1;
    const int semi = SafePos(";", w.Target);
    m.FromID = semi > 0 ? SafeCopy(w.Target, 1, semi - 1) : w.Target;
    m.FromHandle = "\x81\x48";  // the full-width question mark
    m.Date = Now();
    m.Title = Sjis("[送信ﾒｰﾙ]") + w.Title;
    m.Text = Transcript(start, src_.ReadPos());
    m.CutShortStrings();
    events_.ReceiveMail(m);
  }
  mode_ = sm_online;
}

void TDialogue::TelegramSequence() {
  const TPendingWrite w = pendingWrite_();
  reader_.Reset();
  reader_.Answer("T");
  if (WaitQuestion(Sjis("電報を送るチャンネルは"))) {
    reader_.Answer(w.Target);
    for (bool done = false; !done;) {
      switch (reader_.Next({Sjis("メッセージは")})) {
        case THostReader::EKind::kLine:
          if (reader_.Says(Sjis("ログインされていません")) || reader_.Says(Sjis("キャンセルしました"))) {
            Status(Sjis("電報の送信に失敗しました"));
            done = true;
          }
          break;
        case THostReader::EKind::kPrompt:
          if (reader_.Prompt() == 0) reader_.Answer(w.Title);
          done = reader_.Prompt() == 0 || IsMainPrompt(reader_.Said());
          break;
        default: done = true; break;
      }
    }
  }
  reader_.Reset();
  mode_ = sm_online;
}

}  // namespace brelo
