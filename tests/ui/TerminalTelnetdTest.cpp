// The terminal page's screen against the real thing: inetutils' telnetd on a
// loopback port (behind socat), whose login is replaced by a full-screen
// program. The program must be drawn right, and drawn again to the new size
// when the page grows (the size told by NAWS). With BRELO_SCREENSHOTS set,
// the screens are saved.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QFile>
#include <QMainWindow>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>
#include <QToolButton>

#include "common/Sjis.h"
#include "session/HostReader.h"
#include "session/VeskoClient.h"
#include "support/Screenshot.h"
#include "support/TempDir.h"
#include "support/Wait.h"
#include "ui/TerminalPage.h"

namespace brelo {
namespace {

using test::WaitUntil;

// telnetd behind socat on a port the kernel chose; one caller, whose
// "login" runs `command` on the pseudo-terminal telnetd made.
class TTelnetd {
 public:
  explicit TTelnetd(const std::string& command) {
    login_ = dir_.File("login");
    QFile f(QString::fromStdString(login_));
    f.open(QIODevice::WriteOnly);
    f.write(("#!/bin/sh\nexport HOME='" + dir_.Path() + "'\ncd \"$HOME\"\nexec " + command + "\n").c_str());
    f.close();
    f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    socat_.setProgram(QStringLiteral("socat"));
    socat_.setArguments({QStringLiteral("-d"), QStringLiteral("-d"),
                         QStringLiteral("TCP-LISTEN:0,bind=127.0.0.1,reuseaddr"),
                         QStringLiteral("EXEC:/usr/sbin/telnetd -h -E %1,nofork").arg(QString::fromStdString(login_))});
    socat_.start();
    const QRegularExpression listening(QStringLiteral("listening on AF=2 127\\.0\\.0\\.1:(\\d+)"));
    WaitUntil([&] {
      log_ += QString::fromLocal8Bit(socat_.readAllStandardError());
      const auto m = listening.match(log_);
      if (m.hasMatch()) port_ = m.captured(1).toInt();
      return port_ != 0 || socat_.state() == QProcess::NotRunning;
    });
  }
  ~TTelnetd() {
    socat_.kill();
    socat_.waitForFinished(5000);
  }
  static bool Available() {
    return ::access("/usr/sbin/telnetd", X_OK) == 0 && !QStandardPaths::findExecutable(QStringLiteral("socat")).isEmpty();
  }
  int Port() const { return port_; }
  std::string Folder() const { return dir_.Path(); }
  QString Log() const { return log_; }

 private:
  test::TTempDir dir_;
  std::string login_;
  QProcess socat_;
  QString log_;
  int port_ = 0;
};

int RowsStartingWith(TTerminalScreen& s, QChar c) {
  int n = 0;
  for (int r = 0; r < s.Rows(); ++r) n += s.RowText(r).startsWith(c);
  return n;
}

std::string Dump(TTerminalScreen& s) {
  std::string out;
  for (int r = 0; r < s.Rows(); ++r) out += "|" + s.RowText(r).toStdString() + "\n";
  return out;
}

// The terminal page of `client` in a window of 900 x 600, shown.
TTerminalPage* ShowPage(QMainWindow& window, TVeskoClient& client) {
  auto* page = new TTerminalPage(client);
  window.setCentralWidget(page);
  window.resize(900, 600);
  window.show();
  return page;
}

TEST(TerminalTelnetd, AFullScreenEditorIsDrawnRightAtTwoSizes) {
  if (!TTelnetd::Available()) GTEST_SKIP() << "inetutils-telnetd or socat is not installed";
  TTelnetd host("vi -u NONE -N -c 'set nowrap' memo.txt");
  ASSERT_NE(host.Port(), 0) << host.Log().toStdString();
  {
    QFile memo(QString::fromStdString(host.Folder() + "memo.txt"));
    ASSERT_TRUE(memo.open(QIODevice::WriteOnly));
    memo.write("first line of the memo\nsecond line\n");
  }
  TVeskoClient client;
  client.TerminalType = "xterm";
  QMainWindow window;
  TTerminalPage* page = ShowPage(window, client);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  client.Address = "127.0.0.1:" + std::to_string(host.Port());
  client.Connect();
  TTerminalScreen& s = page->Screen();
  const int rows = s.Rows();
  // The file on top, a tilde on every row below it but the last, vi's command line there.
  ASSERT_TRUE(WaitUntil([&] {
    return s.RowText(0) == QStringLiteral("first line of the memo") && RowsStartingWith(s, QLatin1Char('~')) == rows - 3;
  }, 20000)) << s.RowText(0).toStdString() << " / " << RowsStartingWith(s, QLatin1Char('~')) << " of " << rows;
  EXPECT_EQ(s.RowText(1), QStringLiteral("second line")) << Dump(s);
  EXPECT_FALSE(s.RowText(rows - 1).startsWith(QLatin1Char('~'))) << Dump(s);  // vi's command line
  test::Screenshot(&window, QStringLiteral("vi-900x600"));
  // Keys as typed: a line opened below the first, text, Escape.
  QTest::mouseClick(page->KeyModeButton, Qt::LeftButton);
  QTest::keyClicks(page->ScreenView, QStringLiteral("oTyped in key mode"));
  QTest::keyClick(page->ScreenView, Qt::Key_Escape);
  EXPECT_TRUE(WaitUntil([&] { return s.RowText(1) == QStringLiteral("Typed in key mode"); }, 20000))
      << s.RowText(1).toStdString();
  // Larger: vi hears the new size and fills it.
  window.resize(1300, 860);
  ASSERT_TRUE(WaitUntil([&] { return s.Rows() > rows; }));
  const int grown = s.Rows();
  EXPECT_TRUE(WaitUntil([&] { return RowsStartingWith(s, QLatin1Char('~')) == grown - 4; }, 20000))
      << RowsStartingWith(s, QLatin1Char('~')) << " of " << grown;
  EXPECT_EQ(s.RowText(0), QStringLiteral("first line of the memo"));
  test::Screenshot(&window, QStringLiteral("vi-1300x860"));
  QTest::keyClicks(page->ScreenView, QStringLiteral(":q!"));
  QTest::keyClick(page->ScreenView, Qt::Key_Return);
  EXPECT_TRUE(WaitUntil([&] { return !client.Connected(); }, 20000));
  if (client.SessionRunning()) client.Disconnect();
}

// A shell behind telnetd is no board: the login watch answers nothing there
// once the user has typed, nor once its bound is over, whatever the shell
// shows, and the session is the user's.
TEST(TerminalTelnetd, AShellGetsNothingFromTheLoginWatchOnceTheUserTypesOrItsBoundIsOver) {
  if (!TTelnetd::Available()) GTEST_SKIP() << "inetutils-telnetd or socat is not installed";
  struct TCase {
    const char* what;
    std::string command;
    int watchSeconds;
    bool userAsks;  // the user types the shell's own questions into it
    std::string status;
  };
  const std::vector<TCase> cases = {
      {"the user types", "sh -i", 60, true, "キー入力があったため、自動ログインを止めました"},
      {"the bound is over",
       "sh -c 'sleep 3; printf \"ID: \"; read a; printf \"Password: \"; read b; echo \"got [$a] [$b]\"; exec sh -i'", 1,
       false, "ログインの画面を確認できません (1 秒)"},
  };
  for (const TCase& c : cases) {
    TTelnetd host(c.command);
    ASSERT_NE(host.Port(), 0) << host.Log().toStdString();
    TVeskoClient client;
    client.UserID = "SECRETID";
    client.Password = "PWSECRET";
    client.LoginWatchSeconds = c.watchSeconds;
    std::vector<std::string> statuses;
    client.OnStatusOut = [&](TVeskoClient*, const std::string& st) { statuses.push_back(SjisToUtf8(st)); };
    const auto said = [&](const std::string& st) {
      return std::any_of(statuses.begin(), statuses.end(), [&](const std::string& x) { return x.find(st) != std::string::npos; });
    };
    QMainWindow window;
    TTerminalPage* page = ShowPage(window, client);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QTest::mouseClick(page->KeyModeButton, Qt::LeftButton);
    client.Address = "127.0.0.1:" + std::to_string(host.Port());
    client.Connect();
    TTerminalScreen& s = page->Screen();
    const auto screen = [&] { return Dump(s); };
    if (c.userAsks) {
      // The shell's prompt (the screen's rows end without their blanks).
      ASSERT_TRUE(WaitUntil([&] { return screen().find("|#") != std::string::npos || screen().find("|$") != std::string::npos; }, 20000))
          << c.what << screen();
      QTest::keyClicks(page->ScreenView, QStringLiteral("printf 'ID: '; read a; printf 'Password: '; read b; echo \"got [$a] [$b]\""));
      QTest::keyClick(page->ScreenView, Qt::Key_Return);
    }
    ASSERT_TRUE(WaitUntil([&] { return said(c.status); }, 20000)) << c.what;
    // The shell waits at its "ID: " for longer than a login watch would
    // take to answer a prompt there.
    ASSERT_TRUE(WaitUntil([&] { return screen().find("|ID:") != std::string::npos; }, 20000)) << c.what << screen();
    test::ProcessEventsFor(2 * THostReader::kQuietMs);
    EXPECT_EQ(screen().find("|got ["), std::string::npos) << c.what << screen();
    EXPECT_EQ(screen().find("SECRETID"), std::string::npos) << c.what << screen();
    // The user answers it.
    QTest::keyClicks(page->ScreenView, QStringLiteral("mine"));
    QTest::keyClick(page->ScreenView, Qt::Key_Return);
    QTest::keyClicks(page->ScreenView, QStringLiteral("kept"));
    QTest::keyClick(page->ScreenView, Qt::Key_Return);
    EXPECT_TRUE(WaitUntil([&] { return screen().find("got [mine] [kept]") != std::string::npos; }, 20000))
        << c.what << screen();
    EXPECT_EQ(screen().find("PWSECRET"), std::string::npos) << c.what << screen();
    client.Disconnect();
    EXPECT_TRUE(WaitUntil([&] { return !client.SessionRunning(); }, 20000)) << c.what;
  }
}

}  // namespace
}  // namespace brelo
