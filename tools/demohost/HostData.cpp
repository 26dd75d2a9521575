#include "HostData.h"

#include <sys/stat.h>

#include <cstdio>
#include <ctime>
#include <fstream>
#include <sstream>

#include "common/FileUtil.h"
#include "common/Sjis.h"

using brelo::Sjis;

namespace demohost {
namespace {

std::vector<std::string> Split(const std::string& s, char sep) {
  std::vector<std::string> out;
  std::string cur;
  for (char c : s) {
    if (c == sep) {
      out.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  out.push_back(cur);
  return out;
}

std::vector<std::string> ReadLines(const std::string& path) {
  auto text = brelo::ReadWholeFile(path);
  return text ? brelo::SplitLines(*text) : std::vector<std::string>();
}

void WriteLines(const std::string& path, const std::vector<std::string>& lines) {
  brelo::WriteFileAtomic(path, brelo::JoinLinesCRLF(lines));
}

// Message files: "#no<TAB>from<TAB>handle<TAB>date<TAB>title[<TAB>to]", the
// body, and a line "." (a body line starting with "." is written "..").
std::vector<Message> ReadMessages(const std::string& path) {
  std::vector<Message> out;
  Message* cur = nullptr;
  for (const std::string& l : ReadLines(path)) {
    if (cur == nullptr) {
      if (l.empty() || l[0] != '#') continue;
      auto f = Split(l.substr(1), '\t');
      if (f.size() < 5) continue;
      out.push_back(Message());
      cur = &out.back();
      cur->no = std::atoi(f[0].c_str());
      cur->fromId = f[1];
      cur->fromHandle = f[2];
      cur->date = f[3];
      cur->title = f[4];
      if (f.size() > 5) cur->to = f[5];
    } else if (l == ".") {
      cur = nullptr;
    } else {
      cur->body.push_back(l.size() >= 2 && l[0] == '.' && l[1] == '.' ? l.substr(1) : l);
    }
  }
  return out;
}

void WriteMessages(const std::string& path, const std::vector<Message>& msgs) {
  std::vector<std::string> lines;
  for (const Message& m : msgs) {
    std::string head = "#" + std::to_string(m.no) + "\t" + m.fromId + "\t" + m.fromHandle + "\t" + m.date + "\t" +
                       m.title;
    if (!m.to.empty()) head += "\t" + m.to;
    lines.push_back(head);
    for (const std::string& b : m.body) lines.push_back(!b.empty() && b[0] == '.' ? "." + b : b);
    lines.push_back(".");
  }
  WriteLines(path, lines);
}

Message Msg(int no, const char* id, const char* handle, const char* date, const char* title,
            std::vector<const char*> body) {
  Message m;
  m.no = no;
  m.fromId = id;
  m.fromHandle = Sjis(handle);
  m.date = date;
  m.title = Sjis(title);
  for (const char* b : body) m.body.push_back(Sjis(b));
  return m;
}

}  // namespace

std::vector<Message> LookAlikeMail() {
  std::vector<Message> out = {
      Msg(0, "HANAKO", "はなこ", "98/03/07 21:15", "明日の件", {"明日は駅前に10時です。", "遅れる人は連絡してね。"}),
      Msg(0, "HANAKO", "はなこ", "98/03/07 21:15", "明日の件", {"明日は駅前に10時です。"}),
      Msg(0, "KENJI", "けんじ", "--/--/-- --:--", "お知らせ", {"来週は休みます。", "けんじ"}),
      Msg(0, "KENJI", "けんじ", "--/--/-- --:--", "お知らせ", {"再来週も休みます。"}),
  };
  for (Message& m : out) m.to = "TARO";
  return out;
}

std::vector<std::string> QuotedScreens() {
  std::vector<std::string> out;
  // No header is followed by the lines a real one has after it: those
  // would be a header, whoever wrote them.
  for (const char* l : {"*CH03 TARO  こんにちは", "Message  #0012 is from: HANAKO はなこ",
                        "Time: 98/03/02 21:15:40  Section 1:雑談ボード", "Private Message is from: HANAKO はなこ to: TARO",
                        "Time: 98/03/06 18:00:00", "削除しますか？ (Y/N)>", "Subj: 引用", "0003: PC       パソコン談義",
                        "MAIN (A,C,E,N,Q,T,U,W,?)>", "日付が 98/01/01 以降のものを読みます。",
                        "書き込みを終了しました と出ます", "失敗しました と出る時があります",
                        "S:送信 A:中止 E:再編集 >", "これでよろしいですか (Y/N)>", "----+----1----+----2",
                        "その店は存在しません", "そのボードには書き込めません。", "アクセス権がありません",
                        "題名をどうぞ: 中止", "今読みますか？ (0:あとで / RET:読む) [RET]:", "ID: TARO",
                        "Password: ", "ハンドル名を入力してください: ", "Login Mode = (NORMAL / STEALTH) ",
                        "パスワードが違います。", "USERID    H A N D L E",
                        "-- -------- -------------- -------- -------- -------- -------------------------",
                        "============================================================",
                        "電報です。発信人は HANAKO さんです。", "12:HANAKO        >こんにちは", "//x",
                        "*CH03 TARO  またね"}) {
    out.push_back(Sjis(l));
  }
  return out;
}

std::string NowText() {
  std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02d/%02d/%02d %02d:%02d:%02d", tm.tm_year % 100, tm.tm_mon + 1, tm.tm_mday,
                tm.tm_hour, tm.tm_min, tm.tm_sec);
  return buf;
}

HostData::HostData(std::string folder) : folder_(brelo::WithSlash(std::move(folder))) {
  brelo::MakePath(folder_);
  if (!brelo::FileExists(folder_ + "users.txt")) CreateSample();
  Load();
}

void HostData::CreateSample() {
  brelo::MakePath(folder_ + "msg");
  brelo::MakePath(folder_ + "mail");
  WriteLines(folder_ + "users.txt", {
      "SYSOP\tsysop\t" + Sjis("シスオペ") + "\tS",
      "GUEST\t\t" + Sjis("ゲスト") + "\t",
      "TARO\ttaro\t" + Sjis("たろう") + "\t",
      "HANAKO\thanako\t" + Sjis("はなこ") + "\t",
      "MIDORI\t\t" + Sjis("みどり") + "\tH",
      "KENJI\tkenji\t" + Sjis("けんじ") + "\t",
  });
  WriteLines(folder_ + "boards.txt", {
      "1\tGENERAL\t" + Sjis("雑談ボード") + "\t",
      "2\tNEWS\t" + Sjis("お知らせ") + "\tR",
      "3\tPC\t" + Sjis("パソコン談義") + "\t",
      "4\tANIME\t" + Sjis("アニメ・マンガ") + "\t",
      "5\tMUSIC\t" + Sjis("音楽のはなし") + "\t",
      "6\tGAME\t" + Sjis("ゲーム") + "\t",
      "7\tTRAVEL\t" + Sjis("旅行記") + "\t",
      "8\tTEST\t" + Sjis("テスト書き込み") + "\t",
      "9\tSYSOP\t" + Sjis("シスオペ会議室") + "\tS",
  });
  WriteMessages(folder_ + "msg/01.txt", {
      Msg(1, "SYSOP", "シスオペ", "98/03/01 10:00:00", "雑談ボードへようこそ",
          {"雑談ボードです。", "なんでも気軽に書き込んでください(^^)", "", "シスオペ"}),
      Msg(2, "TARO", "たろう", "98/03/02 21:15:40", "はじめまして",
          {"はじめまして、たろうです。", "先週モデムを買って、やっとつながりました。", "よろしくお願いします。"}),
      Msg(3, "HANAKO", "はなこ", "98/03/02 22:03:11", "Re:2)はじめまして",
          {"> はじめまして、たろうです。", "", "はなこです。ようこそ〜", "こちらこそよろしくね。"}),
      Msg(4, "SYSOP", "シスオペ", "98/03/03 08:30:00", "Re:2)はじめまして",
          {"たろうさん、いらっしゃいませ。", "わからないことがあったら何でも聞いてください。"}),
      Msg(5, "TARO", "たろう", "98/03/03 23:45:02", "Re:3)はじめまして",
          {"はなこさん、レスありがとうございます！"}),
      Msg(6, "KENJI", "けんじ", "98/03/05 19:20:00", "週末のオフ会",
          {"今度の土曜日、駅前の喫茶店でオフ会をやります。", "参加できる人はレスください。"}),
      Msg(7, "HANAKO", "はなこ", "98/03/05 20:01:30", "Re:6)週末のオフ会", {"参加します！"}),
  });
  WriteMessages(folder_ + "msg/02.txt", {
      Msg(1, "SYSOP", "シスオペ", "98/03/01 09:00:00", "開局のお知らせ",
          {"本日よりデモ草の根ネットを開局しました。", "24時間運用、回線は telnet とモデムです。"}),
  });
  WriteMessages(folder_ + "msg/03.txt", {
      Msg(1, "KENJI", "けんじ", "98/03/04 12:00:00", "33.6kモデムの設定",
          {"ATコマンドの初期化文字列、みなさんどうしてますか？", "自分は ATZ だけです。"}),
      Msg(2, "TARO", "たろう", "98/03/04 13:10:10", "Re:1)33.6kモデムの設定",
          {"ATZ のあと AT&F をつけるといいらしいです。"}),
  });
  WriteMessages(folder_ + "msg/08.txt", {});
  WriteMessages(folder_ + "mail/GUEST.txt", {
      [] {
        Message m = Msg(0, "SYSOP", "シスオペ", "98/03/01 09:05:00", "ゲストの方へ",
                        {"ゲストIDでは一部のボードに書き込めません。", "本登録はシスオペまでメールでどうぞ。"});
        m.to = "GUEST";
        return m;
      }(),
  });
  WriteMessages(folder_ + "mail/TARO.txt", {
      [] {
        Message m = Msg(0, "HANAKO", "はなこ", "98/03/06 18:00:00", "オフ会の件",
                        {"土曜日、何時に集合ですか？"});
        m.to = "TARO";
        return m;
      }(),
      [] {
        Message m = Msg(0, "KENJI", "けんじ", "98/03/06 19:30:00", "モデム貸します", {"余っているモデムがあります。"});
        m.to = "TARO";
        return m;
      }(),
  });
}

void HostData::Load() {
  users_.clear();
  for (const std::string& l : ReadLines(folder_ + "users.txt")) {
    auto f = Split(l, '\t');
    if (f.size() < 3 || f[0].empty()) continue;
    User u;
    u.id = f[0];
    u.password = f[1];
    u.handle = f[2];
    const std::string flags = f.size() > 3 ? f[3] : "";
    u.asksHandle = flags.find('H') != std::string::npos;
    u.sysop = flags.find('S') != std::string::npos;
    users_.push_back(u);
  }
  boards_.clear();
  for (const std::string& l : ReadLines(folder_ + "boards.txt")) {
    auto f = Split(l, '\t');
    if (f.size() < 3) continue;
    Board b;
    b.no = std::atoi(f[0].c_str());
    b.name = f[1];
    b.title = f[2];
    const std::string flags = f.size() > 3 ? f[3] : "";
    b.readOnly = flags.find('R') != std::string::npos;
    b.sysopOnly = flags.find('S') != std::string::npos;
    if (b.no > 0) boards_.push_back(b);
    char name[32];
    std::snprintf(name, sizeof name, "msg/%02d.txt", b.no);
    messages_[b.no] = ReadMessages(folder_ + name);
  }
  for (const User& u : users_) mail_[u.id] = ReadMessages(folder_ + "mail/" + u.id + ".txt");
  for (const std::string& l : ReadLines(folder_ + "lastread.txt")) {
    auto f = Split(l, '\t');
    if (f.size() == 3) lastRead_[f[0]][std::atoi(f[1].c_str())] = std::atoi(f[2].c_str());
  }
}

const User* HostData::FindUser(const std::string& id) const {
  for (const User& u : users_)
    if (u.id == id) return &u;
  return nullptr;
}

const Board* HostData::FindBoard(int no) const {
  for (const Board& b : boards_)
    if (b.no == no) return &b;
  return nullptr;
}

std::vector<Message> HostData::Messages(int board) const {
  auto it = messages_.find(board);
  return it == messages_.end() ? std::vector<Message>() : it->second;
}

const Message* HostData::FindMessage(int board, int no) const {
  auto it = messages_.find(board);
  if (it == messages_.end()) return nullptr;
  for (const Message& m : it->second)
    if (m.no == no) return &m;
  return nullptr;
}

int HostData::AddMessage(int board, Message m) {
  auto& list = messages_[board];
  m.no = list.empty() ? 1 : list.back().no + 1;
  list.push_back(m);
  SaveBoardMessages(board);
  return m.no;
}

void HostData::SaveBoardMessages(int board) const {
  brelo::MakePath(folder_ + "msg");
  char name[32];
  std::snprintf(name, sizeof name, "msg/%02d.txt", board);
  auto it = messages_.find(board);
  WriteMessages(folder_ + name, it == messages_.end() ? std::vector<Message>() : it->second);
}

std::vector<Message> HostData::Mail(const std::string& id) const {
  auto it = mail_.find(id);
  return it == mail_.end() ? std::vector<Message>() : it->second;
}

void HostData::AddMail(const std::string& to, Message m) {
  m.to = to;
  mail_[to].push_back(m);
  SaveMail(to);
}

void HostData::DeleteMail(const std::string& id, size_t index) {
  auto& list = mail_[id];
  if (index < list.size()) list.erase(list.begin() + static_cast<long>(index));
  SaveMail(id);
}

void HostData::SaveMail(const std::string& id) const {
  brelo::MakePath(folder_ + "mail");
  auto it = mail_.find(id);
  WriteMessages(folder_ + "mail/" + id + ".txt", it == mail_.end() ? std::vector<Message>() : it->second);
}

int HostData::LastRead(const std::string& id, int board) const {
  auto u = lastRead_.find(id);
  if (u == lastRead_.end()) return 0;
  auto b = u->second.find(board);
  return b == u->second.end() ? 0 : b->second;
}

void HostData::SetLastRead(const std::string& id, int board, int no) {
  lastRead_[id][board] = no;
  SaveLastRead();
}

void HostData::SaveLastRead() const {
  std::vector<std::string> lines;
  for (const auto& [id, boards] : lastRead_)
    for (const auto& [b, n] : boards) lines.push_back(id + "\t" + std::to_string(b) + "\t" + std::to_string(n));
  WriteLines(folder_ + "lastread.txt", lines);
}

}  // namespace demohost
