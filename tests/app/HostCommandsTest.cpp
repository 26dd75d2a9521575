// The host list from a shell, as an administrator keeps it on a server:
// the real program on a fresh program folder, the demo host.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <QProcess>
#include <functional>
#include <memory>
#include <set>

#include "common/FileUtil.h"
#include "common/Sjis.h"
#include "hosts/HostTable.h"
#include "support/BreloRun.h"
#include "support/DemoHost.h"
#include "support/Pty.h"
#include "support/TempDir.h"

namespace brelo {
namespace {

using test::Brelo;
using test::TRun;

TEST(HostCommands, AHostAddedListedCalledAndRemovedFromTheShell) {
  test::TDemoHost host;
  test::TTempDir dir;
  const std::string home = dir.Path() + "fresh/";
  TRun r = Brelo(home, {"--list-hosts"});
  EXPECT_EQ(r.exit, 0) << r.err;
  EXPECT_EQ(r.out, "0\tデモ草の根ネット (練習用)\ttelnet://127.0.0.1:2323/\t" + home + "DEMO\tauto\n");

  r = Brelo(home, {"--add-host", "テスト局", "--address", QString::fromStdString(host.TelnetAddress()), "--user-id",
                   "TARO", "--handle", "たろう"},
            "taro\n");
  EXPECT_EQ(r.exit, 0) << r.err;
  EXPECT_EQ(r.out, "1\n");
  // The list is the window's file: Shift-JIS, the owner's only.
  struct stat st {};
  ASSERT_EQ(::stat(THostTable::FileName(home).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  THostTable t;
  t.LoadHostList(home);
  ASSERT_EQ(t.HostCount, 2);
  const THostEntry& e = t.HostTable[1];
  EXPECT_EQ(e.Title, Sjis("テスト局"));
  EXPECT_EQ(e.Password, "taro");
  EXPECT_EQ(e.HandleName, Sjis("たろう"));
  EXPECT_EQ(e.HostKind, 0);
  EXPECT_EQ(e.FilePath.rfind("HOST", 0), 0u);
  const std::string folder = home + e.FilePath;
  EXPECT_FALSE(FileExists(folder));  // a folder of its own, made by the first pass

  r = Brelo(home, {"--list-hosts"});
  EXPECT_NE(r.out.find("\n1\tテスト局\t" + host.TelnetAddress() + "\t" + folder + "\tauto\n"), std::string::npos) << r.out;

  r = Brelo(home, {"--pilot", "テスト局"});
  EXPECT_EQ(r.exit, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("ログアウトしました"), std::string::npos);
  EXPECT_TRUE(FileExists(folder + "/MES01.IDX"));

  r = Brelo(home, {"--remove-host", "テスト局"});
  EXPECT_EQ(r.exit, 0) << r.err;
  EXPECT_EQ(r.out, "brelo: removed host 1 テスト局; its folder " + folder + " and the data in it stay\n");
  EXPECT_TRUE(FileExists(folder + "/MES01.IDX"));
  r = Brelo(home, {"--list-hosts"});
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << r.out;
  // By index, too; the hosts after it move up.
  Brelo(home, {"--add-host", "B", "--address", "b.example", "--user-id", "U"}, "\n");
  Brelo(home, {"--add-host", "C", "--address", "c.example", "--user-id", "U", "--kind", "ktbbs", "--encoding", "utf-8",
               "--line", "raw", "--terminal-only"},
        "\n");
  r = Brelo(home, {"--list-hosts"});
  EXPECT_NE(r.out.find("\tc.example\t"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\tterminal-only\n"), std::string::npos) << r.out;
  r = Brelo(home, {"--remove-host", "1"});
  EXPECT_NE(r.out.find("removed host 1 B;"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("moved up by one"), std::string::npos) << r.out;
  t.LoadHostList(home);
  ASSERT_EQ(t.HostCount, 2);
  EXPECT_EQ(t.HostTable[1].Title, "C");
  EXPECT_EQ(t.HostTable[1].HostKind, 1);
  EXPECT_TRUE(t.HostTable[1].TerminalOnly);
  EXPECT_FALSE(t.HostTable[0].TerminalOnly);
  EXPECT_EQ(t.HostTable[1].Encoding, EHostEncoding::kUtf8);
  EXPECT_EQ(t.HostTable[1].Line, ELineKind::kRaw);
  EXPECT_EQ(t.HostTable[0].Line, ELineKind::kAuto);  // none given: automatic, and no key
  EXPECT_EQ(t.HostTable[1].Password, "");
}

TEST(HostCommands, WhatCannotBeStoredAsGivenIsRefusedAndTheListStaysAsItWas) {
  test::TTempDir home;
  ASSERT_EQ(Brelo(home.Path(), {"--add-host", "A", "--address", "a.example", "--user-id", "U"}, "pw\n").exit, 0);
  const std::string before = *ReadWholeFile(THostTable::FileName(home.Path()));
  const QStringList add = {"--address", "a.example", "--user-id", "U"};
  // Checked as the window checks, by the same rules: nothing is trimmed,
  // cut or changed, and a password is never shown, only a position in it.
  for (const auto& [args, input, part] : std::vector<std::tuple<QStringList, std::string, std::string>>{
           {QStringList{"--add-host", "A"} + add, "pw\n", "already a host titled A (1)"},
           {QStringList{"--add-host", "12"} + add, "pw\n", "digits alone"},
           {QStringList{"--add-host", "B"} + add, "Zq123456789\n", "the password は 8 バイトまでです"},
           {QStringList{"--add-host", "B"} + add, " Zq\n", "the password の先頭が空白です"},
           {QStringList{"--add-host", "B"} + add, "Zq \n", "the password の末尾が空白です"},
           {QStringList{"--add-host", "B"} + add, "Zq😀\n", "the password: character 3 cannot be held in Shift-JIS"},
           {QStringList{"--add-host", "B"} + add, "", "no password"},
           {QStringList{"--add-host", "絵文字😀"} + add, "pw\n", "TITLE: character 4 cannot be held in Shift-JIS"},
           {QStringList{"--add-host", " B"} + add, "pw\n", "TITLE の先頭が空白です"},
           {QStringList{"--add-host", "B", "--address", "a.example", "--user-id", "123456789"}, "pw\n",
            "--user-id は 8 バイトまでです"},
           {QStringList{"--add-host", "B", "--address", "a.example", "--user-id", "U "}, "pw\n", "--user-id の末尾が空白です"},
           {QStringList{"--add-host", "B", "--address", "foo:99999x", "--user-id", "U"}, "pw\n",
            "--address: ポート番号「99999x」は 1～65535 の数ではありません"},
           {QStringList{"--add-host", "B", "--folder", "../x"} + add, "pw\n", "は使えません"},
           {QStringList{"--add-host", "B", "--folder", "..\\..\\x"} + add, "pw\n", "は使えません"},
           {QStringList{"--add-host", "B", "--folder", "veskohosts.dat"} + add, "pw\n", "ファイルの名前です"},
           {QStringList{"--add-host", "B", "--folder", " DEMO"} + add, "pw\n", "--folder の先頭が空白です"},
           {QStringList{"--add-host", "B", "--folder", "DEMO"} + add, "pw\n", "はほかのホスト ("}}) {
    const TRun r = Brelo(home.Path(), args, input);
    EXPECT_EQ(r.exit, 2) << args.join(' ').toStdString();
    EXPECT_NE(r.err.find(part), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("Zq"), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
  }
  EXPECT_EQ(*ReadWholeFile(THostTable::FileName(home.Path())), before);
  TRun r = Brelo(home.Path(), {"--remove-host", "nowhere"});
  EXPECT_EQ(r.exit, 7);
  EXPECT_EQ(*ReadWholeFile(THostTable::FileName(home.Path())), before);
  // Eight bytes, the most the list holds, are taken (four full-width
  // characters are eight in Shift-JIS).
  r = Brelo(home.Path(), {"--add-host", "B", "--address", "a.example", "--user-id", "12345678"}, "たろうさ\n");
  EXPECT_EQ(r.exit, 0) << r.err;
  THostTable t;
  t.LoadHostList(home.Path());
  ASSERT_EQ(t.HostCount, 3);
  EXPECT_EQ(t.HostTable[2].UserID, "12345678");
  EXPECT_EQ(t.HostTable[2].Password, Sjis("たろうさ"));
}

// Writers of the list at once, as a script on a server runs them: every
// host lands under an index of its own, and every removal takes out its
// host and all of it.
TEST(HostCommands, ManyWritersAtOnceLoseNothingAndARemovedHostLeavesNothing) {
  test::TTempDir home;
  constexpr int kWriters = 40;
  const auto all = [&](const std::function<QStringList(int)>& args, const std::function<std::string(int)>& input) {
    std::vector<std::unique_ptr<QProcess>> ps;
    for (int i = 0; i < kWriters; ++i) {
      ps.push_back(std::make_unique<QProcess>());
      ps.back()->start(BRELO_PROGRAM, QStringList{"--home", QString::fromStdString(home.Path())} + args(i));
      const std::string in = input(i);
      ps.back()->write(in.data(), static_cast<qint64>(in.size()));
      ps.back()->closeWriteChannel();
    }
    std::vector<TRun> runs;
    for (auto& p : ps) {
      EXPECT_TRUE(p->waitForFinished(180000));
      runs.push_back({p->exitCode(), p->readAllStandardOutput().toStdString(), p->readAllStandardError().toStdString()});
    }
    return runs;
  };
  const auto title = [](int i) { return QString("H%1").arg(i); };
  std::set<std::string> indexes;
  for (const TRun& r : all([&](int i) { return QStringList{"--add-host", title(i), "--address", "a.example", "--user-id", "U"}; },
                           [](int i) { return "pw" + std::to_string(i) + "\n"; })) {
    EXPECT_EQ(r.exit, 0) << r.err;
    indexes.insert(r.out);
  }
  EXPECT_EQ(indexes.size(), static_cast<size_t>(kWriters));
  THostTable t;
  t.LoadHostList(home.Path());
  ASSERT_EQ(t.HostCount, kWriters + 1);
  std::set<std::string> titles, folders;
  for (int i = 1; i < t.HostCount; ++i) {
    const THostEntry& e = t.HostTable[static_cast<size_t>(i)];
    titles.insert(e.Title);
    folders.insert(e.FilePath);
    EXPECT_EQ(indexes.count(std::to_string(i) + "\n"), 1u) << i;
    EXPECT_EQ(e.Password, "pw" + e.Title.substr(1));
  }
  EXPECT_EQ(titles.size(), static_cast<size_t>(kWriters));
  EXPECT_EQ(folders.size(), static_cast<size_t>(kWriters));

  for (const TRun& r : all([&](int i) { return QStringList{"--remove-host", title(i)}; }, [](int) { return ""; })) {
    EXPECT_EQ(r.exit, 0) << r.err;
  }
  t.LoadHostList(home.Path());
  EXPECT_EQ(t.HostCount, 1);
  const std::string text = test::ReadBytes(THostTable::FileName(home.Path()));
  EXPECT_EQ(text.find("Password=pw"), std::string::npos) << text;
  EXPECT_EQ(text.find("[HOST 1]"), std::string::npos) << text;
}

// Anything but a file in the list's place (or its lock's) is refused with
// the list's own status, and left as it is: nothing read, nothing written.
TEST(HostCommands, AHostListThatIsNoFileIsRefusedAndLeftAsItIs) {
  for (const std::string kind : {"fifo", "device", "link"}) {
    for (const std::string name : {"veskohosts.dat", "veskohosts.lock"}) {
      SCOPED_TRACE(kind + " " + name);
      test::TTempDir home;
      const std::string path = home.File(name);
      const std::string target = home.File("elsewhere.txt");
      test::WriteBytes(target, "not a host list\n");
      ASSERT_EQ(kind == "fifo" ? ::mkfifo(path.c_str(), 0600)
                               : ::symlink(kind == "device" ? "/dev/null" : target.c_str(), path.c_str()),
                0);
      const bool list = name == "veskohosts.dat";
      for (const QStringList& args : {QStringList{"--add-host", "A", "--address", "a.example", "--user-id", "U"},
                                      QStringList{"--remove-host", "0"}, QStringList{"--list-hosts"},
                                      QStringList{"--pilot", "0", "--timeout", "5"}}) {
        if (!list && (args[0] == "--list-hosts" || args[0] == "--pilot")) continue;  // they write no list
        const TRun r = Brelo(home.Path(), args, "pw\n");
        EXPECT_EQ(r.exit, 11) << args.join(' ').toStdString() << r.err;
        EXPECT_NE(r.err.find(name), std::string::npos) << r.err;
      }
      struct stat st {};
      ASSERT_EQ(::lstat(path.c_str(), &st), 0);
      EXPECT_TRUE(kind == "fifo" ? S_ISFIFO(st.st_mode) : S_ISLNK(st.st_mode));
      EXPECT_EQ(test::ReadBytes(target), "not a host list\n");
    }
  }
}

TEST(HostCommands, APasswordTypedAtATerminalIsNotEchoed) {
  test::TTempDir home;
  test::TPty tty;
  QProcess p;
  p.setStandardInputFile(QString::fromStdString(tty.SlavePath()));
  p.start(BRELO_PROGRAM, {"--home", QString::fromStdString(home.Path()), "--add-host", "A", "--address",
                          "a.example", "--user-id", "U"});
  std::string err;
  for (int i = 0; i < 300 && err.find("Password for A: ") == std::string::npos; ++i) {
    p.waitForReadyRead(100);
    err += p.readAllStandardError().toStdString();
  }
  ASSERT_NE(err.find("Password for A: "), std::string::npos) << err;
  tty.Write("secret1\n");
  ASSERT_TRUE(p.waitForFinished(30000));
  EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
  EXPECT_EQ(tty.Read(64, 500).find("secret1"), std::string::npos);  // only the line end shows
  THostTable t;
  t.LoadHostList(home.Path());
  EXPECT_EQ(t.HostTable[1].Password, "secret1");
}

TEST(HostCommands, AHostListThatCannotBeReadHasAStatusOfItsOwn) {
  test::TTempDir home;
  THostTable t;
  t.LoadHostList(home.Path());
  t.SaveHostList(home.Path());
  ASSERT_EQ(::chmod(THostTable::FileName(home.Path()).c_str(), 0), 0);
  // Permissions bind only a user without privileges: as root, run as nobody.
  QStringList prefix;
  if (::geteuid() == 0) {
    if (!FileExists("/usr/bin/setpriv")) GTEST_SKIP() << "running as root without setpriv: cannot drop privileges";
    ::chmod(home.Path().c_str(), 0777);
    prefix = {"--reuid=65534", "--regid=65534", "--clear-groups", BRELO_PROGRAM};
  }
  for (const QStringList& args : {QStringList{"--list-hosts"}, QStringList{"--pilot", "0"},
                                  QStringList{"--search", "0", "x"}, QStringList{"--remove-host", "0"}}) {
    QProcess p;
    const QStringList all = QStringList{"--home", QString::fromStdString(home.Path())} + args;
    p.start(prefix.isEmpty() ? QString(BRELO_PROGRAM) : QString("/usr/bin/setpriv"), prefix + all);
    ASSERT_TRUE(p.waitForFinished(60000));
    const std::string err = p.readAllStandardError().toStdString();
    EXPECT_EQ(p.exitCode(), 11) << args.join(' ').toStdString() << err;
    EXPECT_NE(err.find("veskohosts.dat を読めません"), std::string::npos) << err;
  }
}

}  // namespace
}  // namespace brelo
