// The pilot mode as cron runs it: the real program, the demo host.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QTest>
#include <QProcess>
#include <csignal>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

#include "common/DateTime.h"
#include "common/FileUtil.h"
#include "common/IniFile.h"
#include "common/Sjis.h"
#include "hosts/HostTable.h"
#include "store/MessageStore.h"
#include "store/HostLock.h"
#include "store/ReservationBox.h"
#include "support/BreloRun.h"
#include "support/DemoHost.h"
#include "transport/ZenuComm.h"
#include "support/Loopback.h"
#include "support/TempDir.h"

namespace brelo {
namespace {

using test::TRun;

// `before`: run in the child before the program (a disk full for a file).
TRun Pilot(const std::string& home, const QStringList& args, const std::function<void()>& before = {}) {
  return test::Brelo(home, args, "", 60000, before);
}

void HostList(const std::string& home, const std::string& address, const std::string& user = "TARO",
              const std::string& password = "taro") {
  THostTable t;
  t.HostCount = 1;
  t.HostTable[0] = THostTable::SampleEntry();
  t.HostTable[0].Title = Sjis("テスト局");
  t.HostTable[0].Address = address;
  t.HostTable[0].UserID = user;
  t.HostTable[0].Password = password;
  t.SaveHostList(home);
}

TEST(PilotMode, APassWritesFetchesStoresAndLogsOut) {
  test::TDemoHost host;
  test::TTempDir home;
  HostList(home.Path(), host.TelnetAddress());
  // A post waits in the box.
  TReservationBox box;
  box.HostFolder = home.Path() + "DEMO/";
  MakePath(box.HostFolder);
  const std::string name = box.AddReservation(8, Sjis("パイロットから"), "");
  test::WriteBytes(box.HostFolder + name, Sjis("自動で書き込みます") + "\r\n");

  TRun r = Pilot(home.Path(), {"--pilot", "テスト局", "--timeout", "60"});
  EXPECT_EQ(r.exit, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("ログインしました"), std::string::npos);
  EXPECT_NE(r.out.find("書き込みました....パイロットから"), std::string::npos);
  EXPECT_NE(r.out.find("ログアウトしました"), std::string::npos);
  EXPECT_EQ(r.out.find("taro"), std::string::npos);  // never the password
  // The write reached the host and left the box.
  EXPECT_NE(host.DataFile("msg/08.txt").find(Sjis("自動で書き込みます")), std::string::npos);
  box.LoadReservations();
  EXPECT_EQ(box.ReservationCount, 0);
  EXPECT_FALSE(FileExists(box.HostFolder + name));
  // Boards and messages are in the host's folder.
  TMessageStore store;
  store.HostFolder = box.HostFolder;
  store.LoadBoards();
  EXPECT_EQ(store.BoardTable[1].Name, "GENERAL");
  EXPECT_EQ(store.BoardTable[1].Active, 1);
  EXPECT_EQ(store.RecordCount(1), 7);
  std::vector<TVeskoMessage> e;
  store.ReadIndex(1, 999, e);
  EXPECT_EQ(SjisToUtf8(e[5].Title), "週末のオフ会");
  EXPECT_EQ(SjisToUtf8(store.ReadText(1, e[6].TextPos, e[6].TextLen)), "\r\n参加します！\r\n");
  EXPECT_FALSE(ReadWholeFile(box.HostFolder + ExpandDateName("%y%M%D.LOG"))->empty());
}

// What a pass stored, as the summary line says it.
std::string StoredLine(const TRun& r) {
  const size_t at = r.out.find("brelo: received");
  return at == std::string::npos ? std::string() : r.out.substr(at, r.out.find('\n', at) - at);
}

TEST(PilotMode, AHostThatHangsUpRightAfterItsMessagesLosesNoneOfThem) {
  for (const char* how : {"close", "reset"}) {
    test::TDemoHost host({"--drop-after-messages", "3", "--drop-by", how});
    test::TTempDir home;
    HostList(home.Path(), host.TelnetAddress());
    TRun r = Pilot(home.Path(), {"--pilot", "0"});
    EXPECT_EQ(r.exit, 4) << how << r.out << r.err;  // the line was lost before the logout
    // TARO's two mails, read during the login, and the three messages.
    EXPECT_EQ(StoredLine(r), "brelo: received 5: 5 stored, 0 already stored, 0 lost") << how;
    TMessageStore store;
    store.HostFolder = home.Path() + "DEMO/";
    store.LoadBoards();
    ASSERT_EQ(store.RecordCount(1), 3) << how;
    std::vector<TVeskoMessage> e;
    store.ReadIndex(1, 999, e);
    EXPECT_EQ(SjisToUtf8(store.ReadText(1, e[1].TextPos, e[1].TextLen)),
              "\r\nはじめまして、たろうです。\r\n先週モデムを買って、やっとつながりました。\r\nよろしくお願いします。\r\n") << how;
    EXPECT_EQ(store.BoardTable[1].Name, "GENERAL");
    // The host shows the board again: nothing is stored twice.
    r = Pilot(home.Path(), {"--pilot", "0"});
    EXPECT_EQ(StoredLine(r), "brelo: received 3: 0 stored, 3 already stored, 0 lost") << how << r.out;
    EXPECT_EQ(store.RecordCount(1), 3);
  }
}

TEST(PilotMode, AFullDiskStopsThePassAtTheFirstFailedWrite) {
  test::TDemoHost host;
  test::TTempDir home;
  HostList(home.Path(), host.TelnetAddress());
  MakePath(home.Path() + "DEMO");
  test::TFullFile full(home.Path() + "DEMO/MES01.TXT");
  TRun r = Pilot(home.Path(), {"--pilot", "0"}, full.ForChild());
  EXPECT_EQ(r.exit, 6) << r.out << r.err;
  EXPECT_NE(r.err.find("MES01.TXT に書き込めません (ファイルが大きすぎます)"), std::string::npos) << r.err;
  // The mail read at the login was stored before, and stays whole.
  TMessageStore store;
  store.HostFolder = home.Path() + "DEMO/";
  EXPECT_EQ(store.RecordCount(0), 2);
  EXPECT_EQ(store.RecordCount(1), 0);
  // The pass hung up at once; what had already arrived of later boards
  // (the host lists them all for one command) is stored whole, never lost.
  for (int board : {2, 3}) {
    std::vector<TVeskoMessage> e;
    store.ReadIndex(board, 999, e);
    for (const TVeskoMessage& m : e) EXPECT_FALSE(store.ReadText(board, m.TextPos, m.TextLen).empty()) << board;
  }
}

TEST(PilotMode, LookAlikeMailIsAllStoredForTheHostDeletesWhatWasRead) {
  test::TDemoHost host({"--look-alike-mail"});
  test::TTempDir home;
  HostList(home.Path(), host.TelnetAddress());
  TRun r = Pilot(home.Path(), {"--pilot", "0"});
  EXPECT_EQ(r.exit, 0) << r.out << r.err;
  EXPECT_EQ(StoredLine(r), "brelo: received 16: 16 stored, 0 already stored, 0 lost") << r.out;
  EXPECT_EQ(host.DataFile("mail/TARO.txt"), "");  // read, so deleted there
  TMessageStore store;
  store.HostFolder = home.Path() + "DEMO/";
  std::vector<TVeskoMessage> e;
  ASSERT_EQ(store.ReadIndex(0, 999, e), 6);
  std::vector<std::string> texts;
  for (size_t i = 2; i < e.size(); ++i) texts.push_back(SjisToUtf8(store.ReadText(0, e[i].TextPos, e[i].TextLen)));
  EXPECT_EQ(texts, (std::vector<std::string>{"\r\n明日は駅前に10時です。\r\n遅れる人は連絡してね。\r\n",
                                             "\r\n明日は駅前に10時です。\r\n", "\r\n来週は休みます。\r\nけんじ\r\n",
                                             "\r\n再来週も休みます。\r\n"}));
}

TEST(PilotMode, ASessionLogThatCannotBeWrittenStopsThePass) {
  test::TDemoHost host;
  test::TTempDir home;
  HostList(home.Path(), host.TelnetAddress());
  MakePath(home.Path() + "DEMO");
  // The day's log sits on a full disk; the folder passes the pass's check.
  test::TFullFile full(home.Path() + "DEMO/" + ExpandDateName("%y%M%D.LOG"));
  TRun r = Pilot(home.Path(), {"--pilot", "0"}, full.ForChild());
  EXPECT_EQ(r.exit, 6) << r.out << r.err;
  EXPECT_NE(r.err.find(".LOG に書き込めません (ファイルが大きすぎます)"), std::string::npos) << r.err;
  // Nothing was fetched that the host would count as read.
  EXPECT_EQ(host.Received().find("N@"), std::string::npos) << host.Received();
  EXPECT_NE(host.DataFile("mail/TARO.txt").find(Sjis("オフ会の件")), std::string::npos);
}

TEST(PilotMode, APassDoesNotStartWhereItCannotWrite) {
  test::TDemoHost host;
  test::TTempDir home;
  HostList(home.Path(), host.TelnetAddress());
  test::WriteBytes(home.Path() + "DEMO", "a file where the host folder should be");
  TRun r = Pilot(home.Path(), {"--pilot", "0"});
  EXPECT_EQ(r.exit, 6);
  EXPECT_NE(r.err.find("フォルダではない"), std::string::npos) << r.err;
  EXPECT_EQ(host.Received(), "");  // the host was never called

  // A folder that cannot be written: permissions bind only a user without
  // privileges, so as root the pass runs as nobody.
  ::unlink((home.Path() + "DEMO").c_str());
  MakePath(home.Path() + "DEMO");
  ::chmod((home.Path() + "DEMO").c_str(), 0555);
  QStringList prefix;
  if (::geteuid() == 0) {
    if (!FileExists("/usr/bin/setpriv")) GTEST_SKIP() << "running as root without setpriv: cannot drop privileges";
    ::chmod(home.Path().c_str(), 0755);
    ::chmod(THostTable::FileName(home.Path()).c_str(), 0644);
    prefix = {"--reuid=65534", "--regid=65534", "--clear-groups", BRELO_PROGRAM};
  }
  QProcess p;
  const QStringList args = QStringList{"--home", QString::fromStdString(home.Path()), "--pilot", "0"};
  p.start(prefix.isEmpty() ? QString(BRELO_PROGRAM) : QString("/usr/bin/setpriv"), prefix + args);
  ASSERT_TRUE(p.waitForFinished(60000));
  EXPECT_EQ(p.exitCode(), 6);
  EXPECT_NE(p.readAllStandardError().toStdString().find("に書き込めません"), std::string::npos);
}

TEST(PilotMode, WritesThatFailAreAnExitStatusOfTheirOwn) {
  test::TDemoHost host({"--fail-writes"});
  test::TTempDir home;
  HostList(home.Path(), host.TelnetAddress());
  TReservationBox box;
  box.HostFolder = home.Path() + "DEMO/";
  MakePath(box.HostFolder);
  const std::string name = box.AddReservation(8, "fails", "");
  test::WriteBytes(box.HostFolder + name, "text\r\n");
  TRun r = Pilot(home.Path(), {"--pilot", "0"});
  EXPECT_EQ(r.exit, 5) << r.out << r.err;
  EXPECT_NE(r.out.find("writes: 0 sent, 0 refused by the host, 1 failed, 0 skipped, 0 interrupted, 0 not recorded; "
                       "1 reservation(s) left in the box"),
            std::string::npos)
      << r.out;
  box.LoadReservations();
  ASSERT_EQ(box.ReservationCount, 1);
  EXPECT_EQ(box.ReservationTable[0].Status, 0);  // due again at the next pass
}

// Entries the host would take only in part, or whose names are the store's
// own files, are never posted: each is named, kept, and the pass says the
// user must act. An unreadable box is no empty box.
TEST(PilotMode, WhatCannotBeSentWholeIsHeldNamedAndAnExitStatus) {
  test::TDemoHost host;
  test::TTempDir home;
  HostList(home.Path(), host.TelnetAddress());
  TReservationBox box;
  box.HostFolder = home.Path() + "DEMO/";
  MakePath(box.HostFolder);
  test::WriteBytes(box.HostFolder + box.AddReservation(8, "slashes", ""), "kept\r\n//\r\nlost\r\n");
  test::WriteBytes(box.HostFolder + box.AddReservation(8, "utf16", ""), std::string("\xFF\xFEH\0i\0", 6));
  box.AddReservation(8, "store", "");
  box.ReservationTable[2].FileName = "MES01.TXT";
  box.SaveReservations();
  test::WriteBytes(box.HostFolder + "MES01.TXT", "#000001\r\nthe stored board\r\n");
  // What the host's line editor would take otherwise than written: held and
  // named; what it takes as it is goes, up to its limits (1998 lines, 1024
  // bytes a line).
  const auto lines = [](int n, const std::string& line) {
    std::string body;
    for (int i = 0; i < n; ++i) body += line + "\r\n";
    return body;
  };
  struct THeld {
    std::string title, body, why;
  };
  const std::vector<THeld> held = {
      {"lines", lines(1999, "x"), "本文が 1999 行あり、ホストの書き込みは 1998 行まで"},
      {"bytes", "short\r\n" + std::string(1025, 'b') + "\r\n", "2 行目が 1025 バイトあり"},
      {"bs", "ab\bc\r\n", "1 行目に制御文字 BS があり"},
      {"esc", "\x1b[31mred\r\n", "1 行目に制御文字 ESC があり"},
      {"etx", "one\r\n\x03\r\n", "2 行目に制御文字 ^C (ETX) があり"},
      {"sub", "\x1a\r\n", "1 行目に制御文字 ^Z (SUB) があり"},
      {"del", "x\x7fy\r\n", "1 行目に制御文字 DEL があり"},
      {"title\nsecond line", "text\r\n", "題名に制御文字 LF があり"},
      {"cr\rtitle", "text\r\n", "題名に制御文字 CR があり"},
  };
  for (const THeld& h : held) test::WriteBytes(box.HostFolder + box.AddReservation(8, "x", ""), h.body);
  for (size_t i = 0; i < held.size(); ++i) box.ReservationTable[3 + i].Title = held[i].title;
  box.SaveReservations();
  const std::string atLimits = lines(1996, "y") + std::string(1024, 'z') + "\r\n\tTAB\r\n";
  test::WriteBytes(box.HostFolder + box.AddReservation(8, "at the limits", ""), atLimits);
  TRun r = Pilot(home.Path(), {"--pilot", "0", "--timeout", "120"});
  EXPECT_EQ(r.exit, 5) << r.out << r.err;
  EXPECT_NE(r.out.find("1 sent, 0 refused by the host, 0 failed, 12 skipped"), std::string::npos) << r.out;
  EXPECT_NE(r.err.find("not sent: " + SjisToUtf8(Sjis("本文ファイル ")) + box.ReservationTable[0].FileName), std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("MES01.TXT は予約のファイルではなく"), std::string::npos) << r.err;
  for (const THeld& h : held) EXPECT_NE(r.err.find(h.why), std::string::npos) << h.why << r.err;
  const std::string posted = host.DataFile("msg/08.txt");
  EXPECT_EQ(posted.find("kept"), std::string::npos);
  EXPECT_EQ(posted.find("the stored board"), std::string::npos);
  EXPECT_EQ(posted.find("red"), std::string::npos);
  EXPECT_NE(posted.find(atLimits), std::string::npos);  // whole, its every line
  TReservationBox after;
  after.HostFolder = box.HostFolder;
  after.LoadReservations();
  EXPECT_EQ(after.ReservationCount, 12);
  // The board file itself: still there, and the pass's own captures after it.
  EXPECT_EQ(test::ReadBytes(box.HostFolder + "MES01.TXT").rfind("#000001\r\nthe stored board\r\n", 0), 0u);

  ::unlink(box.WriteFile().c_str());
  ASSERT_EQ(::mkdir(box.WriteFile().c_str(), 0755), 0);
  r = Pilot(home.Path(), {"--pilot", "0"});
  EXPECT_EQ(r.exit, 5) << r.out << r.err;
  EXPECT_NE(r.out.find("the box (Write.Dat) could not be read"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("0 reservation(s) left"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("box unreadable"), std::string::npos) << r.out;
}

// The mailbox cannot take the mail read at the login: the host is told to
// keep each mail ("n"), never to delete one, the status says so, and the
// pass goes no further than the host's prompt.
TEST(PilotMode, MailThatCannotBeStoredIsLeftAtTheHost) {
  test::TDemoHost host;
  test::TTempDir home;
  HostList(home.Path(), host.TelnetAddress());
  MakePath(home.Path() + "DEMO");
  test::TFullFile full(home.Path() + "DEMO/MES00.TXT");
  const std::string mail = host.DataFile("mail/TARO.txt");
  TRun r = Pilot(home.Path(), {"--pilot", "0"}, full.ForChild());
  EXPECT_EQ(r.exit, 6) << r.out << r.err;
  EXPECT_NE(r.err.find("MES00.TXT に書き込めません (ファイルが大きすぎます)"), std::string::npos) << r.err;
  EXPECT_NE(r.out.find("メールを保存できなかったため、ホストから削除せずに残しました"), std::string::npos) << r.out;
  const std::string received = host.Received();
  EXPECT_EQ(received.find("] y%0D%0A"), std::string::npos) << received;
  EXPECT_NE(received.find("] n%0D%0A"), std::string::npos) << received;
  EXPECT_EQ(received.find("N@"), std::string::npos) << received;
  EXPECT_EQ(host.DataFile("mail/TARO.txt"), mail);  // both still there
}

// Every file a pass writes or reads is what it seems: a link, a pipe or a
// device in a store file's place refuses the pass before the host is
// called, names the file and leaves it as it is. A Boards.Dat too long to
// be one is kept aside before a fresh one replaces it.
TEST(PilotMode, StoreFilesThatAreNotWhatTheySeemAreRefusedAndLeftAsTheyAre) {
  test::TDemoHost host;
  const std::string log = ExpandDateName("%y%M%D.LOG");
  for (const std::string& name : {std::string("Boards.Dat"), std::string("MES01.TXT"), std::string("MES00.IDX"),
                                  std::string("brelo.lock"), std::string("Users.TXT"), log}) {
    for (const std::string kind : {"device", "link", "fifo"}) {
      SCOPED_TRACE(name + " " + kind);
      test::TTempDir home;
      HostList(home.Path(), host.TelnetAddress());
      const std::string folder = home.Path() + "DEMO/";
      MakePath(folder);
      const std::string target = home.Path() + "target";
      test::WriteBytes(target, "someone else's file\n");
      ASSERT_EQ(kind == "fifo" ? ::mkfifo((folder + name).c_str(), 0600)
                               : ::symlink(kind == "device" ? "/dev/null" : target.c_str(), (folder + name).c_str()),
                0);
      const std::string received = host.Received();
      TRun r = Pilot(home.Path(), {"--pilot", "0", "--timeout", "20"});
      EXPECT_EQ(r.exit, 6) << r.out << r.err;
      EXPECT_NE(r.err.find(name), std::string::npos) << r.err;
      EXPECT_EQ(host.Received(), received);  // never called
      struct stat st {};
      ASSERT_EQ(::lstat((folder + name).c_str(), &st), 0);
      EXPECT_TRUE(kind == "fifo" ? S_ISFIFO(st.st_mode) : S_ISLNK(st.st_mode));
      EXPECT_EQ(test::ReadBytes(target), "someone else's file\n");
    }
  }
  test::TTempDir home;
  HostList(home.Path(), host.TelnetAddress());
  const std::string folder = home.Path() + "DEMO/";
  MakePath(folder);
  const std::string big(kMaxBoardsFileBytes + 1, 'b');
  test::WriteBytes(folder + "Boards.Dat", big);
  TRun r = Pilot(home.Path(), {"--pilot", "0", "--timeout", "30"});
  EXPECT_EQ(r.exit, 0) << r.out << r.err;
  EXPECT_NE(r.err.find("Boards.Dat はボードの一覧としては大きすぎます"), std::string::npos) << r.err;
  bool kept = false;
  for (const std::string& f : test::ListFolder(folder)) kept |= f.rfind("Boards.Dat.broken-", 0) == 0 && test::ReadBytes(folder + f) == big;
  EXPECT_TRUE(kept);
  EXPECT_EQ(test::ReadBytes(folder + "Boards.Dat").size(), static_cast<size_t>(kBoardCount * kBoardRecordSize));
}

// A host folder outside the program folder is never used.
TEST(PilotMode, AHostFolderOutsideTheProgramFolderIsRefused) {
  test::TTempDir home;
  THostTable t;
  t.HostCount = 1;
  t.HostTable[0] = THostTable::SampleEntry();
  t.HostTable[0].FilePath = "../OUTSIDE";
  MakePath(home.Path() + "prog/");
  t.SaveHostList(home.Path() + "prog/");
  TRun r = Pilot(home.Path() + "prog/", {"--pilot", "0"});
  EXPECT_EQ(r.exit, 6) << r.out << r.err;
  EXPECT_NE(r.err.find(SjisToUtf8(Sjis("ホストのフォルダ \"../OUTSIDE\" は使えません"))), std::string::npos) << r.err;
  EXPECT_FALSE(DirExists(home.Path() + "OUTSIDE"));
}

TEST(PilotMode, AFileTheHostSendsDuringThePassIsStoredAndReported) {
  test::TDemoHost host({"--send-on-login", "notice.bin"});
  std::string bytes(300000, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>((i * 7919) >> 3);
  ::mkdir((host.DataFolder() + "files").c_str(), 0755);
  test::WriteBytes(host.DataFolder() + "files/notice.bin", bytes);
  test::TTempDir home;
  HostList(home.Path(), host.TelnetAddress());
  TRun r = Pilot(home.Path(), {"--pilot", "0"});
  EXPECT_EQ(r.exit, 0) << r.out << r.err;
  EXPECT_TRUE(test::ReadBytes(home.Path() + "DEMO/DOWN/notice.bin") == bytes);
  EXPECT_NE(r.out.find("brelo: files: downloaded notice.bin (300000 bytes) into " + home.Path() +
                       "DEMO/DOWN/; uploaded none; 0 transfer(s) failed"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("ダウンロード完了....notice.bin"), std::string::npos);
  // The pass went on as ever after the file.
  EXPECT_NE(r.out.find("ログアウトしました"), std::string::npos);
  struct stat st {};
  ASSERT_EQ(::stat((home.Path() + "DEMO/DOWN").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
}

// The demo host with an upload command, and report.bin of `size` bytes
// left in the folder UP; the bytes.
std::string UploadWaits(const std::string& home, const test::TDemoHost& host, const std::string& command, size_t size) {
  THostTable t;
  t.HostCount = 1;
  t.HostTable[0] = THostTable::SampleEntry();
  t.HostTable[0].Address = host.TelnetAddress();
  t.HostTable[0].UploadCommand = command;
  t.SaveHostList(home);
  std::string bytes(size, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>((i * 40503u) >> 5);
  MakePath(home + "DEMO/UP");
  test::WriteBytes(home + "DEMO/UP/report.bin", bytes);
  return bytes;
}

TEST(PilotMode, TheFilesLeftInUpAreSentAndPutAsideOnceTheHostHasThem) {
  test::TDemoHost host;
  test::TTempDir home;
  const std::string bytes = UploadWaits(home.Path(), host, "UP", 200000);
  TRun r = Pilot(home.Path(), {"--pilot", "0"});
  EXPECT_EQ(r.exit, 0) << r.out << r.err;
  EXPECT_TRUE(host.DataFile("upload/report.bin") == bytes);
  EXPECT_FALSE(FileExists(home.Path() + "DEMO/UP/report.bin"));
  EXPECT_TRUE(test::ReadBytes(home.Path() + "DEMO/UP/sent/report.bin") == bytes);
  EXPECT_NE(r.out.find("uploaded report.bin; 0 transfer(s) failed"), std::string::npos) << r.out;
  // The next pass has nothing left to send.
  TRun again = Pilot(home.Path(), {"--pilot", "0"});
  EXPECT_EQ(again.exit, 0);
  EXPECT_EQ(again.out.find("brelo: files:"), std::string::npos) << again.out;
}

// An XMODEM-CRC upload starts when the host's receiver asks, never at the
// "C" of the host's answer "受信を開始します (XMODEM [CRC] 1024byte)": that
// answer is the host's text, which the log keeps and the sender never sees.
TEST(PilotMode, AnXmodemUploadStartsWhenTheHostsReceiverAsks) {
  test::TDemoHost host;
  test::TTempDir home;
  // Whole blocks: XMODEM pads the last one.
  const std::string bytes = UploadWaits(home.Path(), host, "UPX report.bin", 20 * 1024);
  WriteProfileInteger(home.Path() + "Modem.Ini", "MODEM", "PROTOCOL", pr_XMODEM_CRC_1024);
  TRun r = Pilot(home.Path(), {"--pilot", "0"});
  EXPECT_EQ(r.exit, 0) << r.out << r.err;
  EXPECT_TRUE(host.DataFile("upload/report.bin") == bytes);
  const std::string log = test::ReadBytes(home.Path() + "DEMO/" + ExpandDateName("%y%M%D.LOG"));
  EXPECT_NE(log.find(Sjis("受信を開始します (") + ProtTypeName(pr_XMODEM_CRC_1024) + ")\r\n"), std::string::npos)
      << SjisToUtf8(log);
}

// What the pilot says of a damaged box, one problem a line: a line break in
// one would let a terminal write its second part over the first.
TEST(PilotMode, EachBoxProblemIsALineOfItsOwn) {
  test::TDemoHost host;
  test::TTempDir home;
  HostList(home.Path(), host.TelnetAddress());
  MakePath(home.Path() + "DEMO");
  test::WriteBytes(home.Path() + "DEMO/Write.Dat", std::string(250 * kReservationRecordSize + 10, '\0'));
  TRun r = Pilot(home.Path(), {"--pilot", "0"});
  EXPECT_EQ(r.err.find('\r'), std::string::npos) << r.err;
  size_t lines = 0;
  for (size_t at = 0; (at = r.err.find("brelo: box: ", at)) != std::string::npos; ++at) ++lines;
  EXPECT_EQ(lines, 2u) << r.err;
}

// What the pilot prints is whole, however long: a thousand half-width kana
// are 1000 bytes in the list and 3000 in UTF-8, and a line cut to a buffer
// would end inside one of them.
TEST(PilotMode, ALongTitleIsPrintedWhole) {
  test::TTempDir home;
  std::string kana;
  for (int i = 0; i < 1000; ++i) kana += "\xEF\xBD\xB1";  // "ｱ"
  HostList(home.Path(), "telnet://127.0.0.1:" + std::to_string(test::ClosedPort()) + "/");
  THostTable t;
  t.LoadHostList(home.Path());
  t.HostTable[0].Title = std::string(1000, '\xB1');  // "ｱ" in Shift-JIS
  t.SaveHostList(home.Path());
  const TRun r = Pilot(home.Path(), {"--pilot", "0"});
  EXPECT_EQ(r.exit, 1);
  EXPECT_NE((r.out + r.err).find("brelo: " + kana + " (" + home.Path() + "DEMO"), std::string::npos) << r.out << r.err;
}

TEST(PilotMode, FailureExits) {
  test::TTempDir home;
  const std::string nobody = "telnet://127.0.0.1:" + std::to_string(test::ClosedPort()) + "/";
  HostList(home.Path(), nobody);
  TRun unknown = Pilot(home.Path(), {"--pilot", "nowhere"});
  EXPECT_EQ(unknown.exit, 7);
  EXPECT_NE(unknown.err.find("nowhere"), std::string::npos);
  EXPECT_NE(unknown.err.find("テスト局"), std::string::npos);
  TRun refused = Pilot(home.Path(), {"--pilot", "0"});
  EXPECT_EQ(refused.exit, 1);
  EXPECT_NE(refused.out.find("接続エラーが発生しました"), std::string::npos);
  EXPECT_NE(refused.err.find("cannot reach " + nobody + ": Connection refused (error 10061)"), std::string::npos)
      << refused.err;
  test::TDemoHost silent({"--silent"});
  HostList(home.Path(), silent.TelnetAddress());
  QElapsedTimer clock;
  clock.start();
  TRun late = Pilot(home.Path(), {"--pilot", "0", "--timeout", "2"});
  EXPECT_GE(clock.elapsed(), 2000);  // never early
  EXPECT_EQ(late.exit, 3);
  EXPECT_NE(late.err.find("disconnecting"), std::string::npos);
  EXPECT_NE(late.err.find("did not answer the login within 2 seconds"), std::string::npos) << late.err;
  TRun bad = Pilot(home.Path(), {"--pilot"});
  EXPECT_EQ(bad.exit, 2);
}

// Hosts of a round, each with a folder of its own.
void HostList(const std::string& home, const std::vector<std::pair<std::string, std::string>>& titleAddress) {
  THostTable t;
  t.HostCount = static_cast<int>(titleAddress.size());
  for (size_t i = 0; i < titleAddress.size(); ++i) {
    t.HostTable[i] = THostTable::SampleEntry();
    t.HostTable[i].Title = Sjis(titleAddress[i].first);
    t.HostTable[i].FilePath = "H" + std::to_string(i);
    t.HostTable[i].Address = titleAddress[i].second;
    t.HostTable[i].UserID = "TARO";
    t.HostTable[i].Password = "taro";
  }
  t.SaveHostList(home);
}

// The summary line of host `host` ("brelo: 0 ...").
std::string HostLine(const TRun& r, int host) {
  const std::string head = "brelo: " + std::to_string(host) + " ";
  size_t at = r.out.rfind("\n" + head);
  if (at == std::string::npos) return r.out.compare(0, head.size(), head) == 0 ? r.out.substr(0, r.out.find('\n')) : "";
  ++at;
  return r.out.substr(at, r.out.find('\n', at) - at);
}

std::string LastLine(const std::string& text) {
  const size_t end = text.find_last_not_of('\n');
  const size_t at = text.rfind('\n', end);
  return text.substr(at == std::string::npos ? 0 : at + 1, end - (at == std::string::npos ? 0 : at + 1) + 1);
}

TEST(PilotRounds, EveryHostInTurnEachWithItsOwnTimeOutAndTheWorstStatus) {
  test::TDemoHost live;
  test::TDemoHost silent({"--silent"});
  test::TTempDir home;
  HostList(home.Path(), {{"本局", live.TelnetAddress()}, {"静かな局", silent.TelnetAddress()}});
  // The time-out must be longer than a whole pass of the live host takes on a
  // busy machine: the silent host meets it, the live one must not.
  TRun r = Pilot(home.Path(), {"--pilot", "all", "--timeout", "15"});
  EXPECT_EQ(r.exit, 3) << r.out << r.err;
  EXPECT_EQ(HostLine(r, 0), "brelo: 0 本局: done (0); 12 new (2 mail), 0 already stored, 0 lost; 0 sent, 0 left in the box")
      << r.out;
  EXPECT_EQ(HostLine(r, 1).rfind("brelo: 1 静かな局: timed out (3); 0 new", 0), 0u) << r.out;
  EXPECT_EQ(LastLine(r.out), "brelo: round of 2 hosts: 1 done, 1 timed out; 12 new (2 mail); exit status 3");
  EXPECT_NE(r.err.find("did not answer the login within 15 seconds"), std::string::npos) << r.err;
  // Each host's messages went to its own folder.
  TMessageStore store;
  store.HostFolder = home.Path() + "H0/";
  EXPECT_EQ(store.RecordCount(1), 7);
  EXPECT_FALSE(FileExists(home.Path() + "H1/MES01.IDX"));

  // Quiet, in the order given, by title and index: the summaries only. The
  // second host now refuses the call (at once, not after a time-out).
  int port = 0;
  ::close(test::ListenOnLoopback(1, port));
  HostList(home.Path(), {{"本局", live.TelnetAddress()}, {"静かな局", "127.0.0.1:" + std::to_string(port)}});
  r = Pilot(home.Path(), {"--pilot", "1,本局", "--timeout", "15", "--quiet"});
  EXPECT_EQ(r.exit, 1) << r.out << r.err;
  EXPECT_EQ(r.out.find("ログイン"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("brelo: received"), std::string::npos) << r.out;
  EXPECT_LT(r.out.find("brelo: 1 "), r.out.find("brelo: 0 "));
  EXPECT_EQ(HostLine(r, 0), "brelo: 0 本局: done (0); 0 new (0 mail), 0 already stored, 0 lost; 0 sent, 0 left in the box");
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 3) << r.out;
  // A name that is not in the list stops the round before any call.
  r = Pilot(home.Path(), {"--pilot", "0,nowhere"});
  EXPECT_EQ(r.exit, 7);
  EXPECT_NE(r.err.find("\"nowhere\""), std::string::npos);
  EXPECT_EQ(r.out, "");
}

TEST(PilotRounds, AHostInUseIsSkippedNamingTheProcessThatHasIt) {
  test::TDemoHost live;
  test::TTempDir home;
  HostList(home.Path(), {{"A", live.TelnetAddress()}, {"B", live.TelnetAddress()}});
  THostLock window;  // as an open window holds the host it shows
  ASSERT_TRUE(window.Acquire(home.Path() + "H0/"));
  QElapsedTimer clock;
  clock.start();
  TRun r = Pilot(home.Path(), {"--pilot", "all", "--lock-wait", "1"});
  EXPECT_GE(clock.elapsed(), 1000);  // waited its bounded time first
  EXPECT_EQ(r.exit, 10) << r.out << r.err;
  const std::string pid = std::to_string(::getpid());
  EXPECT_EQ(HostLine(r, 0).rfind("brelo: 0 A: busy (使用中, process " + pid + ") (10)", 0), 0u) << r.out;
  EXPECT_NE(r.err.find("使用中です (プロセス " + pid + " が使っています); skipped"), std::string::npos) << r.err;
  EXPECT_EQ(HostLine(r, 1).rfind("brelo: 1 B: done (0); 12 new", 0), 0u) << r.out;
  EXPECT_FALSE(FileExists(home.Path() + "H0/MES01.IDX"));  // nothing written beside the holder
  // A holder that lets go within the wait: the round waits for it, past
  // its retries, and calls the host.
  QProcess p;
  p.start(BRELO_PROGRAM, {"--home", QString::fromStdString(home.Path()), "--pilot", "A", "--lock-wait", "10"});
  std::string out;
  clock.restart();
  while (out.find("使用中です") == std::string::npos && p.state() != QProcess::NotRunning && clock.elapsed() < 30000) {
    p.waitForReadyRead(200);
    out += p.readAllStandardOutput().toStdString();
  }
  ASSERT_NE(out.find("使用中です"), std::string::npos) << out;
  QTest::qWait(1000);
  window.Release();
  p.waitForFinished(60000);  // false at once when it has ended already
  ASSERT_EQ(p.state(), QProcess::NotRunning);
  out += p.readAllStandardOutput().toStdString();
  EXPECT_EQ(p.exitCode(), 0) << out << p.readAllStandardError().toStdString();
  EXPECT_NE(out.find("brelo: 0 A: done (0)"), std::string::npos) << out;
}

TEST(PilotRounds, SigtermInTheMiddleOfACaptureLeavesTheStoreAndTheBoxWhole) {
  test::TDemoHost host({"--message-pause", "300"});
  test::TTempDir home;
  HostList(home.Path(), {{"A", host.TelnetAddress()}, {"B", host.TelnetAddress()}});
  TReservationBox box;
  box.HostFolder = home.Path() + "H0/";
  MakePath(box.HostFolder);
  const std::string sent = box.AddReservation(8, "first", "");
  test::WriteBytes(box.HostFolder + sent, "posted before the fetch\r\n");
  const std::string held = box.AddReservation(8, "held", "");
  test::WriteBytes(box.HostFolder + held, "kept\r\n");
  box.ReservationTable[1].Status = 1;
  box.SaveReservations();
  const std::string heldBody = *ReadWholeFile(box.HostFolder + held);

  QProcess p;
  p.start(BRELO_PROGRAM, {"--home", QString::fromStdString(home.Path()), "--pilot", "all"});
  std::string out;
  QElapsedTimer clock;
  clock.start();
  // The first board's messages are arriving, one every 300 ms.
  while (out.find("未読拾得中....GENERAL") == std::string::npos && clock.elapsed() < 30000) {
    p.waitForReadyRead(200);
    out += p.readAllStandardOutput().toStdString();
  }
  ASSERT_NE(out.find("未読拾得中....GENERAL"), std::string::npos) << out;
  QTest::qWait(700);
  ::kill(static_cast<pid_t>(p.processId()), SIGTERM);
  ASSERT_TRUE(p.waitForFinished(30000));
  out += p.readAllStandardOutput().toStdString();
  const std::string err = p.readAllStandardError().toStdString();
  EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(p.exitCode(), 9) << out << err;
  EXPECT_NE(err.find("stopped by SIGTERM; disconnecting"), std::string::npos) << err;
  EXPECT_NE(out.find("brelo: 0 A: stopped (9)"), std::string::npos) << out;
  EXPECT_EQ(out.find("brelo: 1 "), std::string::npos) << out;  // B was not called
  EXPECT_NE(out.find("1 not called"), std::string::npos) << out;

  // The box: the confirmed post is gone, the held one is as it was.
  box.LoadReservations();
  ASSERT_EQ(box.ReservationCount, 1);
  EXPECT_EQ(box.ReservationTable[0].Title, "held");
  EXPECT_EQ(box.ReservationTable[0].Status, 1);
  EXPECT_EQ(*ReadWholeFile(box.HostFolder + held), heldBody);
  EXPECT_NE(host.DataFile("msg/08.txt").find("posted before the fetch"), std::string::npos);
  // The store: every record's text is there whole, and the next pass adds
  // the rest without storing anything twice.
  TMessageStore store;
  store.HostFolder = box.HostFolder;
  const int before = store.RecordCount(1);
  EXPECT_GT(before, 0);
  EXPECT_LT(before, 7);
  std::vector<TVeskoMessage> e;
  store.ReadIndex(1, 999, e);
  for (const TVeskoMessage& m : e) {
    const std::string text = store.ReadText(1, m.TextPos, m.TextLen);
    EXPECT_EQ(static_cast<int>(text.size()) + 7, m.TextLen);  // all of it after its "#nnnnnn" head
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
  }
  TRun again = Pilot(home.Path(), {"--pilot", "A"});
  EXPECT_EQ(again.exit, 0) << again.err;
  EXPECT_EQ(store.RecordCount(1), 7);
  e.clear();
  store.ReadIndex(1, 999, e);
  for (size_t i = 1; i < e.size(); ++i) EXPECT_LT(e[i - 1].MesNo, e[i].MesNo);
}

}  // namespace
}  // namespace brelo
