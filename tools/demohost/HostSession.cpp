#include "HostSession.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

#include "common/Sjis.h"

using brelo::Sjis;

namespace demohost {
namespace {

std::string Upper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  return s;
}

// Pads Shift-JIS text with blanks to n bytes (cutting when longer).
std::string Pad(const std::string& s, size_t n) {
  std::string out = s.substr(0, n);
  out.append(n - out.size(), ' ');
  return out;
}

std::string Fmt(const char* fmt, int v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, fmt, v);
  return buf;
}

// "yy/MM/dd hh:mm:ss" as a key that sorts by time (80-99 are the 1900s).
std::string DateKey(const std::string& d) {
  if (d.size() < 2) return d;
  const int yy = std::atoi(d.substr(0, 2).c_str());
  return (yy >= 80 ? "19" : "20") + d;
}

}  // namespace

std::shared_ptr<Registry::Caller> Registry::Join(const std::string& id, const std::string& handle, bool stealth) {
  std::lock_guard<std::mutex> lk(m_);
  int ch = 1;
  while (callers_.count(ch)) ++ch;
  auto c = std::make_shared<Caller>();
  c->channel = ch;
  c->id = id;
  c->handle = handle;
  c->since = NowText().substr(9);
  c->stealth = stealth;
  callers_[ch] = c;
  return c;
}

void Registry::Leave(int channel) {
  std::lock_guard<std::mutex> lk(m_);
  callers_.erase(channel);
}

std::shared_ptr<Registry::Caller> Registry::Find(int channel) {
  std::lock_guard<std::mutex> lk(m_);
  auto it = callers_.find(channel);
  return it == callers_.end() ? nullptr : it->second;
}

std::vector<std::shared_ptr<Registry::Caller>> Registry::All() {
  std::lock_guard<std::mutex> lk(m_);
  std::vector<std::shared_ptr<Caller>> out;
  for (auto& [ch, c] : callers_) out.push_back(c);
  return out;
}

HostSession::HostSession(Connection& conn, HostData& data, Registry& registry, const HostConfig& config)
    : conn_(conn), data_(data), registry_(registry), config_(config) {}

bool HostSession::Say(const std::string& sjis) { return conn_.Write(sjis); }
bool HostSession::SayU(const std::string& utf8) { return conn_.Write(Sjis(utf8)); }

std::optional<std::string> HostSession::ReadLine(bool echo, bool atMainPrompt) {
  std::string line;
  long idleMs = 0;
  for (;;) {
    int b = conn_.ReadByte(0);
    if (b == -1) {
      if (!echo_.empty()) {
        conn_.Write(echo_);
        echo_.clear();
      }
      b = conn_.ReadByte(200);
    }
    if (b == -2 || conn_.escaped) return std::nullopt;
    if (b == -1) {
      idleMs += 200;
      if (idleMs > 15 * 60 * 1000) {
        SayU("\r\n無操作時間が長いため切断します。\r\n");
        return std::nullopt;
      }
      if (atMainPrompt && line.empty()) DeliverTelegrams();
      continue;
    }
    idleMs = 0;
    const unsigned char c = static_cast<unsigned char>(b);
    // The caller's telnet commands are not text.
    if (telnetState_ == 1) {
      telnetState_ = c == 0xFA ? 3 : (c >= 0xFB && c <= 0xFE ? 2 : 0);
      telnetVerb_ = c;
      continue;
    }
    if (telnetState_ == 2) {
      telnetState_ = 0;
      if (c == 0) BinaryRequest(telnetVerb_);
      continue;
    }
    if (telnetState_ == 3) {
      if (c == 0xFF) telnetState_ = 4;
      continue;
    }
    if (telnetState_ == 4) {
      telnetState_ = c == 0xF0 ? 0 : 3;
      continue;
    }
    if (c == 0xFF) {
      telnetState_ = 1;
      continue;
    }
    if (c == '\n' && lastWasCr_) {
      lastWasCr_ = false;
      continue;
    }
    lastWasCr_ = c == '\r';
    if (c == '\r' || c == '\n') {
      echo_ += "\r\n";
      conn_.Write(echo_);
      echo_.clear();
      return line;
    }
    if (c == 0x08 || c == 0x7F) {
      if (!line.empty()) {
        size_t cut = 1;
        // A double-byte character goes whole.
        size_t i = 0, last = 0;
        while (i < line.size()) {
          last = i;
          i += brelo::IsDBCSLeadByte(static_cast<unsigned char>(line[i])) ? 2 : 1;
        }
        cut = line.size() - last;
        line.resize(last);
        if (echo) echo_ += cut == 2 ? "\b\b  \b\b" : "\b \b";
      }
      continue;
    }
    if (c < 0x20 && c != '\t') continue;  // TAB is text to its line editor
    if (line.size() >= 1024) continue;  // over-long input is not taken
    line += static_cast<char>(c);
    if (echo) echo_ += static_cast<char>(c);
  }
}

void HostSession::BinaryRequest(unsigned char verb) {
  // The caller turns binary mode on or off between transfers: agreed (unless
  // the host refuses it), and each change confirmed once.
  const bool on = (verb == 0xFB || verb == 0xFD) && !config_.noBinary;
  bool& mode = verb == 0xFB || verb == 0xFC ? binaryIn_ : binaryOut_;
  const char yes = static_cast<char>(verb == 0xFB || verb == 0xFC ? 0xFD : 0xFB);
  if (on == mode && (on || verb == 0xFC || verb == 0xFE)) return;
  mode = on;
  conn_.WriteRaw(std::string{static_cast<char>(0xFF), on ? yes : static_cast<char>(yes + 1), 0});
}

bool HostSession::NegotiateStrictly() {
  // WILL ECHO, WILL SUPPRESS-GO-AHEAD, DO TERMINAL-TYPE, DO NAWS.
  if (!Say(std::string("\xFF\xFB\x01\xFF\xFB\x03\xFF\xFD\x18\xFF\xFD\x1F", 12))) return false;
  bool echo = false, sga = false, ttype = false, naws = false, nameAsked = false, named = false;
  std::string terminal, window;
  int state = 0;  // 0 data, 1 IAC, 2 verb, 3 sub, 4 sub IAC
  unsigned char verb = 0;
  std::string sub;
  for (int waited = 0; waited < 30000;) {
    if (echo && sga && naws && ttype && (!nameAsked || named)) {
      std::fprintf(stderr, "brelo-demohost: the caller answered every option; terminal %s, window %s\n",
                   terminal.empty() ? "(not named)" : terminal.c_str(), window.empty() ? "(not sent)" : window.c_str());
      return true;
    }
    const int b = conn_.ReadByte(200);
    if (b == -2) return false;
    if (b == -1) {
      waited += 200;
      continue;
    }
    const unsigned char c = static_cast<unsigned char>(b);
    switch (state) {
      case 0: if (c == 0xFF) state = 1; break;
      case 1:
        if (c == 0xFA) {
          state = 3;
          sub.clear();
        } else if (c >= 0xFB && c <= 0xFE) {
          state = 2;
          verb = c;
        } else {
          state = 0;
        }
        break;
      case 2:
        state = 0;
        // DO or DONT answers our WILL; WILL or WONT answers our DO.
        if (c == 0x01 && (verb == 0xFD || verb == 0xFE)) echo = true;
        if (c == 0x03 && (verb == 0xFD || verb == 0xFE)) sga = true;
        if (c == 0x1F && (verb == 0xFB || verb == 0xFC)) naws = true;
        if (c == 0x18 && (verb == 0xFB || verb == 0xFC)) {
          ttype = true;
          if (verb == 0xFB && !nameAsked) {
            nameAsked = true;
            if (!Say(std::string("\xFF\xFA\x18\x01\xFF\xF0", 6))) return false;  // SB TTYPE SEND
          }
        }
        break;
      case 3:
        if (c == 0xFF) state = 4;
        else sub += static_cast<char>(c);
        break;
      case 4:
        if (c == 0xF0) {
          state = 0;
          if (sub.size() >= 2 && sub[0] == 0x18 && sub[1] == 0x00) {
            terminal = sub.substr(2);
            named = true;
          } else if (sub.size() == 5 && sub[0] == 0x1F) {
            window = std::to_string((static_cast<unsigned char>(sub[1]) << 8) | static_cast<unsigned char>(sub[2])) +
                     "x" + std::to_string((static_cast<unsigned char>(sub[3]) << 8) | static_cast<unsigned char>(sub[4]));
          }
        } else {
          state = 3;
          if (c == 0xFF) sub += static_cast<char>(c);
        }
        break;
    }
  }
  std::fprintf(stderr, "brelo-demohost: the caller did not answer the options; hanging up\n");
  SayU("\r\ntelnet のオプションに応答がないため切断します。\r\n");
  return false;
}

void HostSession::Run() {
  if (config_.faults.negotiateStrict && !NegotiateStrictly()) return;
  if (config_.faults.negotiate) {
    // WILL ECHO, WILL SUPPRESS-GO-AHEAD, DO TERMINAL-TYPE, and a subnegotiation.
    Say(std::string("\xFF\xFB\x01\xFF\xFB\x03\xFF\xFD\x18\xFF\xFA\x18\x01\xFF\xF0", 15));
  }
  if (config_.faults.flood > 0) {
    // The text is converted once: the flood is timed beside a bare reader,
    // so the host must send as fast as loopback carries it.
    const std::string text = Sjis(" 行目 大量送信テスト ＡＢＣ あいうえお") + "\r\n";
    std::string block;
    block.reserve(64 * 1024);
    const auto start = std::chrono::steady_clock::now();
    for (long i = 1; i <= config_.faults.flood; ++i) {
      char num[32];
      const int n = std::snprintf(num, sizeof num, "%07ld", i);
      block.append(num, static_cast<size_t>(n));
      block += text;
      if (block.size() > 60000) {
        if (const long rate = config_.faults.floodRate; rate > 0) {
          // Paced: line i leaves no earlier than i / rate seconds after the first.
          std::this_thread::sleep_until(start + std::chrono::microseconds(i * 1000000 / rate));
        }
        if (!Say(block)) return;
        block.clear();
      }
    }
    if (!Say(block)) return;
    if (config_.faults.floodOnly) return;
  }
  if (config_.faults.garbage) Say(std::string("\x01\x02\x1b[2J\x80\x81\xa0\xfd\xfe", 11) + "\r\n");
  SayU("\r\n");
  if (config_.ktbbs) {
    SayU("■■ デモ草の根ネット ■■  KTBBS 互換ホスト\r\n");
  } else {
    SayU("＊＊＊ デモ草の根ネット ＊＊＊  Vesko Ver 1.34 互換ホスト\r\n");
  }
  SayU("  24時間運用  telnet / モデム  シスオペ: SYSOP\r\n");
  if (config_.faults.longLines) Say(std::string(300, '=') + Sjis("長い行") + std::string(200, '-') + "\r\n");
  SayU("\r\n");
  if (!Login()) return;
  if (!config_.sendOnLogin.empty()) SendFile("D " + config_.sendOnLogin);
  MainMenu();
  if (me_) registry_.Leave(me_->channel);
}

bool HostSession::Login() {
  int failures = 0;
  while (failures < 3) {
    SayU("ログインIDを入力してください (ゲストは GUEST)\r\n");
    SayU("ID: ");
    auto id = ReadLine();
    if (!id) return false;
    const std::string upper = Upper(*id);
    if (!config_.ktbbs && upper == "$SET_LOGIN_MODE") {
      SayU("Login Mode = (NORMAL / STEALTH) ");
      auto mode = ReadLine();
      if (!mode) return false;
      stealth_ = Upper(*mode) == "STEALTH";
      continue;
    }
    std::optional<User> user;
    {
      std::lock_guard<std::mutex> lk(data_.Lock());
      if (const User* u = data_.FindUser(upper)) user = *u;
    }
    if (!user) {
      SayU("そのIDは登録されていません。\r\n");
      ++failures;
      continue;
    }
    if (user->asksHandle) {
      SayU("ハンドル名を入力してください: ");
      auto h = ReadLine();
      if (!h) return false;
      handle_ = h->empty() ? user->handle : *h;
    } else {
      SayU("Password: ");
      auto pw = ReadLine(config_.faults.echoPassword);
      if (!pw) return false;
      if (*pw != user->password) {
        SayU("パスワードが違います。\r\n");
        ++failures;
        continue;
      }
      handle_ = user->handle;
    }
    user_ = *user;
    me_ = registry_.Join(user_.id, handle_, stealth_);
    Say(Fmt("*CH%02d ", me_->channel) + user_.id + " " + handle_ + Sjis(" さん、ようこそ。") + "\r\n");
    if (stealth_) SayU("ステルスモードでログインしました。ログイン通知は送られません。\r\n");
    std::vector<Message> mail;
    {
      std::lock_guard<std::mutex> lk(data_.Lock());
      mail = data_.Mail(user_.id);
    }
    if (!mail.empty()) {
      SayU("あなた宛のメールが " + std::to_string(mail.size()) + " 通届いています。\r\n");
      SayU("今読みますか？ (0:あとで / RET:読む) [RET]:");
      auto ans = ReadLine();
      if (!ans) return false;
      if (ans->empty()) ReadMailAtLogin();
    }
    return true;
  }
  SayU("さようなら。\r\n");
  return false;
}

void HostSession::ReadMailAtLogin() {
  size_t index = 0;
  for (;;) {
    Message m;
    {
      std::lock_guard<std::mutex> lk(data_.Lock());
      auto mail = data_.Mail(user_.id);
      if (index >= mail.size()) break;
      m = mail[index];
    }
    Say("Private Message is from: " + m.fromId + " " + m.fromHandle + " to: " + user_.id + "\r\n");
    Say("Time: " + m.date + "\r\n");
    Say("Subj: " + m.title + "\r\n");
    for (const std::string& b : m.body) Say(b + "\r\n");
    SayU("削除しますか？ (Y/N)>");
    auto ans = ReadLine();
    if (!ans) return;
    if (Upper(*ans) == "Y") {
      std::lock_guard<std::mutex> lk(data_.Lock());
      data_.DeleteMail(user_.id, index);
    } else {
      ++index;
    }
  }
  SayU("メールは以上です。\r\n");
}

std::string HostSession::Prompt() const { return "MAIN (A,C,E,N,Q,T,U,W,?)>"; }

void HostSession::MainMenu() {
  auto start = std::chrono::steady_clock::now();
  for (;;) {
    const long secs = static_cast<long>(
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start).count());
    char t[32];
    std::snprintf(t, sizeof t, "%02ld:%02ld:%02ld", secs / 3600, secs / 60 % 60, secs % 60);
    if (!Say(Fmt("*CH%02d ", me_->channel) + handle_ + Sjis("  接続時間 ") + t + "\r\n")) return;
    if (!Say(Prompt())) return;
    auto cmd = ReadLine(true, true);
    if (!cmd) return;
    const std::string c = *cmd;
    const std::string u = Upper(c);
    if (c.empty()) continue;
    if (u.rfind("N@", 0) == 0 || u == "N") {
      std::string date = c.size() > 2 ? c.substr(2) : "";
      date.erase(0, date.find_first_not_of(' '));
      News(date);
    } else if (u.rfind("EW", 0) == 0) {
      Post(c);
    } else if (u.rfind("ER", 0) == 0 && config_.ktbbs) {
      Reply(c);
    } else if (u.rfind("EM", 0) == 0) {
      MailCommand(c);
    } else if (u == "U") {
      UserList();
    } else if (u == "W") {
      WhoList();
    } else if (u == "T") {
      Telegram();
    } else if (c == "% +M" && !config_.ktbbs) {
      SayU("表示モードを変更しました。\r\n");
    } else if (u == "F") {
      Library();
    } else if (u.rfind("UP", 0) == 0) {
      ReceiveFiles(c);
    } else if (u.rfind("D", 0) == 0 && (u.size() == 1 || u[1] == ' ' || u[1] == 'X' || u[1] == 'Y')) {
      SendFile(c);
    } else if (u == "Q" && !config_.faults.ignoreLogout) {
      Goodbye();
      return;
    } else if (u == "?") {
      SayU("N@ [日付]  未読メッセージを読む     ew番号;題名  書き込み\r\n");
      if (config_.ktbbs) SayU("er番号;発言番号  レス書き込み\r\n");
      SayU("em宛先;0  メール送信    u ユーザーリスト    W ログイン中の人\r\n");
      SayU("T 電報    F ファイル一覧    D[X|Y] 名前  ファイル受信    UP[X 名前|Y]  ファイル送信\r\n");
      SayU("Q ログアウト\r\n");
    } else {
      SayU("コマンドが違います。? でヘルプを表示します。\r\n");
    }
    if (conn_.Gone()) return;
  }
}

void HostSession::News(const std::string& date) {
  const std::string shown = date.empty() ? Sjis("前回の続き") : date;
  Say(Sjis("日付が ") + shown + Sjis(" 以降のものを読みます。") + "\r\n");
  conn_.CountFrom();
  bool any = false;
  long sentMessages = 0;
  std::vector<Board> boards;
  {
    std::lock_guard<std::mutex> lk(data_.Lock());
    boards = data_.Boards();
  }
  for (const Board& b : boards) {
    if (b.sysopOnly && !user_.sysop) continue;
    std::vector<Message> news;
    int last;
    {
      std::lock_guard<std::mutex> lk(data_.Lock());
      last = data_.LastRead(user_.id, b.no);
      for (const Message& m : data_.Messages(b.no)) {
        const bool fresh = date.empty() ? m.no > last : DateKey(m.date) >= DateKey(date);
        if (fresh) news.push_back(m);
      }
    }
    if (news.empty()) continue;
    any = true;
    char head[16];
    std::snprintf(head, sizeof head, "%04d: ", b.no);
    if (!Say(head + Pad(b.name, 8) + " " + b.title + "\r\n")) return;
    for (const Message& m : news) {
      std::string block = "Message  #" + Fmt("%04d", m.no) + " is from: " + m.fromId + " " + m.fromHandle + "\r\n";
      block += "Time: " + m.date + "  Section " + std::to_string(b.no) + ":" + b.title + "\r\n";
      block += "Subj: " + m.title + "\r\n";
      for (const std::string& l : m.body) block += l + "\r\n";
      if (!Say(block)) return;
      last = std::max(last, m.no);
      if (++sentMessages == config_.faults.dropAfterMessages) {
        conn_.HangUp();  // right after a whole message, without a pause
        return;
      }
      if (config_.faults.messagePauseMs > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(config_.faults.messagePauseMs));
      }
    }
    // Vesko closes each board's listing; KTBBS goes straight on.
    if (!config_.ktbbs && !Say("//\r\n")) return;
    if (date.empty()) {
      std::lock_guard<std::mutex> lk(data_.Lock());
      data_.SetLastRead(user_.id, b.no, last);
    }
  }
  conn_.StopCounting();
  if (!any) SayU("新しいメッセージはありません。\r\n");
}

void HostSession::Refused() {
  SayU("0:戻る >");
  ReadLine();
}

bool HostSession::Compose(const std::string& what, std::vector<std::string>& body) {
  Say(what);
  SayU("これでよろしいですか (Y/N)>");
  auto ans = ReadLine();
  if (!ans || Upper(*ans) != "Y") {
    SayU("中止しました。\r\n");
    return false;
  }
  for (;;) {
    SayU("本文を入力してください。「//」だけの行で終わります。\r\n");
    Say("----+----1----+----2----+----3----+----4----+----5----+----6----+----7----+----8\r\n");
    body.clear();
    for (int i = 0; i < 2000; ++i) {
      auto l = ReadLine();
      if (!l) return false;
      if (*l == "//") break;
      body.push_back(*l);
    }
    SayU("S:送信 A:中止 E:再編集 >");
    auto choice = ReadLine();
    if (!choice) return false;
    const std::string c = Upper(*choice);
    if (c == "S") break;
    if (c == "A") {
      SayU("中止しました。\r\n");
      return false;
    }
  }
  if (config_.faults.failWrites) {
    SayU("書き込みに失敗しました。\r\n");
    return false;
  }
  return true;
}

void HostSession::Post(const std::string& command) {
  const std::string rest = command.substr(2);
  const size_t semi = rest.find(';');
  const int no = std::atoi(rest.substr(0, semi).c_str());
  const std::string title = semi == std::string::npos ? std::string() : rest.substr(semi + 1);
  std::optional<Board> board;
  {
    std::lock_guard<std::mutex> lk(data_.Lock());
    if (const Board* b = data_.FindBoard(no)) board = *b;
  }
  if (!board) {
    SayU("ボード " + std::to_string(no) + " は存在しません。\r\n");
    Refused();
    return;
  }
  if (board->sysopOnly && !user_.sysop) {
    SayU("このボードへのアクセス権がありません。\r\n");
    Refused();
    return;
  }
  if (board->readOnly && !user_.sysop) {
    SayU("そのボードには書き込めません。\r\n");
    Refused();
    return;
  }
  std::vector<std::string> body;
  if (!Compose(Sjis("ボード: ") + Fmt("%02d ", no) + board->title + "\r\n" + Sjis("タイトル: ") + title + "\r\n",
               body)) {
    return;
  }
  Message m;
  m.fromId = user_.id;
  m.fromHandle = handle_;
  m.date = NowText();
  m.title = title.substr(0, 60);
  m.body = body;
  int n;
  {
    std::lock_guard<std::mutex> lk(data_.Lock());
    n = data_.AddMessage(no, m);
  }
  SayU("書き込みを終了しました。(No." + std::to_string(n) + ")\r\n");
}

void HostSession::Reply(const std::string& command) {
  const std::string rest = command.substr(2);
  const size_t semi = rest.find(';');
  const int no = std::atoi(rest.substr(0, semi).c_str());
  const int to = semi == std::string::npos ? 0 : std::atoi(rest.substr(semi + 1).c_str());
  std::string title;
  bool found = false;
  {
    std::lock_guard<std::mutex> lk(data_.Lock());
    if (const Message* m = data_.FindMessage(no, to)) {
      found = true;
      title = m->title;
    }
  }
  if (!found) {
    SayU("そのメッセージは存在しません。\r\n");
    Refused();
    return;
  }
  // The answer's title: "Re:<number>)" and the original's title without its own prefix.
  if (title.rfind("Re:", 0) == 0 && title.find(')') != std::string::npos) title = title.substr(title.find(')') + 1);
  title = ("Re:" + std::to_string(to) + ")" + title).substr(0, 60);
  Post("ew" + std::to_string(no) + ";" + title);
}

void HostSession::MailCommand(const std::string& command) {
  std::vector<std::string> parts;
  std::string cur;
  for (char c : command.substr(2)) {
    if (c == ';') {
      parts.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  parts.push_back(cur);
  if (parts.size() > 1 && parts.back() == "0") parts.pop_back();  // the mail option
  std::vector<std::string> to;
  for (const std::string& p : parts) {
    if (p.empty()) continue;
    const std::string id = Upper(p);
    bool known;
    {
      std::lock_guard<std::mutex> lk(data_.Lock());
      known = data_.FindUser(id) != nullptr;
    }
    if (!known) {
      Say(id + Sjis(" というIDは登録されていません。送信を中止します。") + "\r\n");
      Refused();
      return;
    }
    to.push_back(id);
  }
  if (to.empty()) {
    SayU("宛先がありません。送信を中止します。\r\n");
    Refused();
    return;
  }
  std::string list;
  for (const std::string& t : to) list += (list.empty() ? "" : ", ") + t;
  SayU("宛先: ");
  Say(list + "\r\n");
  SayU("題名をどうぞ: ");
  auto title = ReadLine();
  if (!title) return;
  std::vector<std::string> body;
  if (!Compose(Sjis("題名: ") + *title + "\r\n", body)) return;
  Message m;
  m.fromId = user_.id;
  m.fromHandle = handle_;
  m.date = NowText();
  m.title = title->substr(0, 60);
  m.body = body;
  {
    std::lock_guard<std::mutex> lk(data_.Lock());
    for (const std::string& t : to) data_.AddMail(t, m);
  }
  SayU("メールの送信を終了しました。\r\n");
}

void HostSession::UserList() {
  Say("USERID    H A N D L E\r\n");
  Say("-------- --------------\r\n");
  std::vector<User> users;
  {
    std::lock_guard<std::mutex> lk(data_.Lock());
    users = data_.Users();
  }
  for (const User& u : users) Say(Pad(u.id, 8) + "  " + Pad(u.handle, 14) + "  98/03/01\r\n");
  Say("\r\n");
}

void HostSession::WhoList() {
  const std::string ruler = "-- -------- -------------- -------- -------- -------- -------------------------";
  SayU("ログイン中のユーザー\r\n");
  Say("CH ID       HANDLE         LOGIN\r\n");
  Say(ruler + "\r\n");
  for (const auto& c : registry_.All()) {
    if (c->stealth && c != me_) continue;
    Say(Fmt("%02d ", c->channel) + Pad(c->id, 8) + " " + Pad(c->handle, 14) + " " + c->since + "\r\n");
  }
  Say(ruler + "\r\n");
}

void HostSession::Telegram() {
  SayU("電報を送るチャンネルは? ");
  auto ch = ReadLine();
  if (!ch) return;
  auto target = registry_.Find(std::atoi(ch->c_str()));
  if (!target) {
    SayU("そのチャンネルにはログインされていません。\r\n");
    return;
  }
  SayU("メッセージは? ");
  auto mes = ReadLine();
  if (!mes) return;
  if (mes->empty()) {
    SayU("キャンセルしました。\r\n");
    return;
  }
  {
    std::lock_guard<std::mutex> lk(target->m);
    target->telegrams.emplace_back(user_.id, *mes);
  }
  SayU("電報を送りました。\r\n");
}

void HostSession::DeliverTelegrams() {
  if (!me_) return;
  std::deque<std::pair<std::string, std::string>> pending;
  {
    std::lock_guard<std::mutex> lk(me_->m);
    pending.swap(me_->telegrams);
  }
  for (const auto& [from, mes] : pending) {
    const std::string ruler(60, '=');
    Say("\r\n" + ruler + "\r\n" + Sjis("電報です。発信人は ") + from + Sjis(" さんです。") + "\r\n" + mes + "\r\n" + ruler +
        "\r\n" + Prompt());
  }
}

void HostSession::Goodbye() {
  SayU("ログアウトします。\r\n");
  SayU("シスオペへの伝言があればどうぞ (改行のみで終了): ");
  auto mes = ReadLine();
  if (mes && !mes->empty()) {
    Message m;
    m.fromId = user_.id;
    m.fromHandle = handle_;
    m.date = NowText();
    m.title = Sjis("ログアウト時の伝言");
    m.body = {*mes};
    std::lock_guard<std::mutex> lk(data_.Lock());
    data_.AddMail("SYSOP", m);
  }
  SayU("ご利用ありがとうございました。またのアクセスをお待ちしています。\r\n");
}

}  // namespace demohost
