#include "session/Dialogue.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <string_view>

#include "common/DateTime.h"
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
      pendingWrite_(std::move(pendingWrite)) {}

// ---------------------------------------------------------------- the body

void TDialogue::Execute() {
  while (!Terminated()) {
    switch (Mode()) {
      case sm_login:
        RunConnection();
        if (!src_.Stopping()) RunLogin();
        if (src_.Stopping()) {
          Status(Sjis("接続に失敗しました"));
          return;  // no OnLogout: the session never logged in
        }
        events_.Login();
        break;
      case sm_telegram: TelegramSequence(); break;
      case sm_writemessage: PostMessageSequence(); break;
      case sm_writemail: MailSequence(); break;
      default: WatcherTurn(); break;
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

void TDialogue::RunLogin() {
  WaitText(src_, "ID");
  if (src_.Stopping()) return;  // no line: no login to report
  if (settings_.StealthLogin && settings_.HostKind == HK_vesko) {
    Status(Sjis("ログインモード設定中"));
    sink_.SendLine("$SET_LOGIN_MODE");
    switch (WaitAny(src_, {"Pass", "Login Mode ="})) {
      case 0: sink_.SendLine(""); break;
      case 1: sink_.SendLine("STEALTH"); break;
      default: break;
    }
  }
  WaitText(src_, "ID");
  if (src_.Stopping()) return;
  Status(Sjis("ID送出待機中"));
  sink_.SendLine(settings_.UserID);
  if (!Terminated()) {
    switch (WaitAny(src_, {"Pass", T().handlePrompt})) {
      case 0:
        src_.MaskAnswer();
        sink_.SendLine(settings_.Password);
        break;
      case 1: sink_.SendLine(settings_.HandleName); break;
      default: break;
    }
    Status(Sjis("パスワード(ハンドル名)送出待機中"));
    channel_ = -1;
    std::vector<std::string> texts = {"*CH", "[RET]:", "MAIN (A"};
    // Reading the waiting mail: a second mail follows the first one's delete
    // prompt, and is captured like the first.
    if (settings_.AutoReceiveMail) texts.push_back(T().mailHead);
    bool done = false;
    while (!done && !Terminated()) {
      switch (WaitAny(src_, texts)) {
        case 0: {
          const std::string line = src_.NextLine();
          channel_ = SafeStrToIntDef(SafeCopy(line, 4, 2), -1);
          Status(Sjis("チャンネルを拾得しました..") + SafeIntToStr(channel_));
          break;
        }
        case 1:
          if (settings_.AutoReceiveMail) {
            Status(Sjis("メール受信中"));
            sink_.SendLine("");
            if (WaitAny(src_, {T().mailHead, "*CH"}) == 0) CaptureMail(src_.NextLine(), true);
          } else {
            sink_.SendLine("0");
            src_.NextLine();
          }
          break;
        case 2:
          done = true;  // the prompt line stays unconsumed
          break;
        case 3:
          CaptureMail(src_.NextLine(), true);
          break;
        default:
          break;
      }
    }
  }
  mode_ = sm_online;
  if (!Terminated()) {
    if (settings_.HostKind == HK_vesko) {
      Status(Sjis("モード変更中"));
      sink_.SendLine("% +M");
    }
    Status(Sjis("ログインしました"));
  }
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
    const std::string partial = src_.PartialLine();
    if (partial.size() >= 8 && partial.compare(0, 6, "MAIN (") == 0 &&
        partial.compare(partial.size() - 2, 2, ")>") == 0 && src_.TickCount() > t0 + 1000) {
      const int li = src_.LineIndex();
      if (li != lastPrompt_) {
        lastPrompt_ = li;
        events_.GetMainPrompt();
        news_ = false;
      }
    }
  }
  if (Mode() == sm_online && !Terminated()) Dispatch(src_.NextLine());
}

bool TDialogue::IsBoardLine(const std::string& l) {
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
      if (settings_.HostKind != HK_vesko) {
        // A KTBBS news listing goes straight on with the next board line.
        while (!src_.LineWaiting() && !Terminated()) src_.Idle(30);
        if (Terminated()) break;
        if (src_.CurrentLineHas([](const std::string& next) { return IsBoardLine(next); })) {
          m.Cut = false;
          break;
        }
      }
      if (!src_.NextLineInto(l)) break;
      if (StartsWith(l, t.messageHead) || StartsWith(l, "*CH") || l == "//") {
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
    while (!Terminated()) {
      if (deleteOption) {
        while (!src_.LineWaiting() && !Terminated()) {
          if (src_.PartialLine() == t.deletePrompt) {
            sink_.SendLine("y");
            break;
          }
          src_.Idle(50);
        }
      }
      if (!src_.NextLineInto(l)) break;
      if (StartsWith(l, t.deletePrompt) || StartsWith(l, "*CH") || StartsWith(l, t.mailHead)) {
        m.Cut = false;
        break;
      }
      m.Text.append(l).append("\r\n");
      if (m.Text.size() >= kMaxCaptureBytes) break;
    }
    if (m.Cut) DropHangUpCode(m.Text);
    m.CutShortStrings();
    events_.ReceiveMail(m);
    if (Terminated()) return;
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
  std::string l = src_.NextLine();
  std::string text;
  while (!l.empty() && !Terminated() && text.size() < kMaxCaptureBytes) {
    text += l + "\r\n";
    l = src_.NextLine();
  }
  events_.ReceiveUsers(text);
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

void TDialogue::WriteResult(int tag) {
  switch (WaitAny(src_, {Sjis("失敗"), "*CH", Sjis("終了")})) {
    case 0:
    case 1:
      Status(Sjis("失敗しました"));
      events_.WriteFailed(tag, false);
      break;
    case 2:
      if (events_.HasExecuteWriteMessage()) {
        Status(Sjis("書き込みました"));
        events_.ExecuteWriteMessage(tag);
      }
      break;
    default:
      break;
  }
}

void TDialogue::PostMessageSequence() {
  const TPendingWrite w = pendingWrite_();
  Status(Sjis("メッセージ書込中...") + w.Title);
  // A KTBBS host answers a response with "er" and the number it answers.
  std::string number;
  if (settings_.HostKind == HK_ktbbs && StartsWith(w.Title, "Re:")) {
    const int close = SafePos(")", w.Title);
    if (close > 4) number = SafeCopy(w.Title, 4, close - 4);
  }
  if (!number.empty() && SafeStrToIntDef(number, 0) > 0) {
    sink_.SendLine("er" + w.Target + ";" + number);
  } else {
    sink_.SendLine("ew" + w.Target + ";" + w.Title);
  }
  switch (WaitAny(src_, {Sjis("存在しません"), Sjis("そのボードには書き込めません。"), Sjis("アクセス権がありません"),
                         Sjis("これでよろしいですか")})) {
    case 0:
    case 1:
    case 2:
      sink_.SendLine("0");
      WaitText(src_, "*CH");
      events_.WriteFailed(w.Tag, true);
      break;
    case 3:
      sink_.SendLine("Y");
      WaitText(src_, "----+");
      sink_.SendText(w.Body + "\r\n");
      sink_.SendLine("//");
      if (!Terminated()) {
        WaitText(src_, Sjis("S:送信"));
        sink_.SendLine("S");
        WriteResult(w.Tag);
      }
      break;
    default:
      break;
  }
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
  sink_.SendLine("em" + w.Target + ";0");
  switch (WaitAny(src_, {Sjis("中止"), Sjis("題名をどうぞ")})) {
    case 0:
      sink_.SendLine("0");
      WaitText(src_, "*CH");
      events_.WriteFailed(w.Tag, true);
      mode_ = sm_online;
      return;
    case 1:
      sink_.SendLine(w.Title);
      WaitText(src_, Sjis("これでよろしいですか"));
      sink_.SendLine("Y");
      WaitText(src_, "----+");
      sink_.SendText(w.Body + "\r\n");
      sink_.SendLine("//");
      if (Terminated()) {
        mode_ = sm_online;
        return;
      }
      WaitText(src_, Sjis("S:送信"));
      sink_.SendLine("S");
      WriteResult(w.Tag);
      break;
    default:
      mode_ = sm_online;
      return;
  }
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
  sink_.SendLine("T");
  WaitText(src_, Sjis("電報を送るチャンネルは"));
  sink_.SendLine(w.Target);
  switch (WaitAny(src_, {Sjis("メッセージは"), Sjis("ログインされていません"), Sjis("キャンセルしました")})) {
    case 0: sink_.SendLine(w.Title); break;
    case 1:
    case 2: Status(Sjis("電報の送信に失敗しました")); break;
    default: break;
  }
  mode_ = sm_online;
}

}  // namespace brelo
