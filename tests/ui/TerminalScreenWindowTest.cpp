// The terminal page's screen with real keys and clicks: key mode against a
// host that echoes, the input line's history, scrollback, selection, copy,
// paste and find, the window's size told to the host, and the view remembered.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QScrollBar>
#include <QTest>
#include <QToolButton>
#include <QWheelEvent>
#include <atomic>
#include <mutex>
#include <thread>

#include "common/Sjis.h"
#include "session/VeskoClient.h"
#include "support/TempDir.h"
#include "support/Wait.h"
#include "ui/MainForm.h"
#include "ui/TerminalPage.h"

namespace brelo {
namespace {

using test::WaitUntil;
using namespace telnet;

// A telnet host on 127.0.0.1 that asks for the window size and echoes every
// byte but its commands, as a line discipline with echo on does.
class TEchoHost {
 public:
  TEchoHost() {
    listen_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(listen_, 1);
    socklen_t len = sizeof a;
    ::getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] { Run(); });
  }
  ~TEchoHost() {
    stop_ = true;
    thread_.join();
    ::close(listen_);
  }
  int Port() const { return port_; }
  std::string Received() {
    std::lock_guard<std::mutex> lk(mutex_);
    return received_;
  }

 private:
  void Run() {
    pollfd p{listen_, POLLIN, 0};
    int conn = -1;
    for (int i = 0; i < 600 && !stop_ && conn < 0; ++i) {
      if (::poll(&p, 1, 50) > 0) conn = ::accept(listen_, nullptr, nullptr);
    }
    if (conn < 0) return;
    const unsigned char ask[] = {IAC, DO, NAWS};
    (void)!::write(conn, ask, sizeof ask);
    int state = 0;  // 0 text, 1 after IAC, 2 option byte, 3 subnegotiation, 4 IAC in it
    for (int i = 0; i < 1200 && !stop_; ++i) {  // at most a minute
      pollfd c{conn, POLLIN, 0};
      if (::poll(&c, 1, 50) <= 0) continue;
      char buf[512];
      const ssize_t n = ::read(conn, buf, sizeof buf);
      if (n <= 0) break;
      std::string echo;
      for (ssize_t k = 0; k < n; ++k) {
        const auto b = static_cast<unsigned char>(buf[k]);
        if (state == 0 && b == IAC) state = 1;
        else if (state == 0) echo += static_cast<char>(b);
        else if (state == 1) state = b == SB ? 3 : (b >= WILL && b <= DONT) ? 2 : 0;
        else if (state == 2) state = 0;
        else if (state == 3) state = b == IAC ? 4 : 3;
        else state = b == SE ? 0 : 3;
      }
      {
        std::lock_guard<std::mutex> lk(mutex_);
        received_.append(buf, static_cast<size_t>(n));
      }
      if (!echo.empty()) (void)!::write(conn, echo.data(), echo.size());
    }
    ::close(conn);
  }

  int listen_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  std::mutex mutex_;
  std::string received_;
};

std::string Naws(int cols, int rows) {
  return std::string{static_cast<char>(IAC), static_cast<char>(SB), static_cast<char>(NAWS),
                     static_cast<char>(cols >> 8), static_cast<char>(cols & 0xFF),
                     static_cast<char>(rows >> 8), static_cast<char>(rows & 0xFF),
                     static_cast<char>(IAC), static_cast<char>(SE)};
}

// A window with a page on a session to the echo host; the window has the
// main window's Ctrl+K, which key mode must leave to the host.
class TerminalScreenWindow : public ::testing::Test {
 protected:
  TEchoHost host;
  TVeskoClient client;
  QMainWindow window;
  TTerminalPage* page = nullptr;
  int connectShortcut = 0;

  void SetUp() override {
    page = new TTerminalPage(client);
    window.setCentralWidget(page);
    QAction* k = window.addAction(QStringLiteral("接続/強制切断"));
    k->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_K));
    QObject::connect(k, &QAction::triggered, [this] { ++connectShortcut; });
    window.resize(900, 620);
    window.show();
    QApplication::setActiveWindow(&window);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    client.Address = "127.0.0.1:" + std::to_string(host.Port());
    client.Connect();
    // The host's DO NAWS is answered with the page's size.
    ASSERT_TRUE(WaitUntil([&] { return host.Received().find(Naws(page->Screen().Columns(), page->Screen().Rows())) != std::string::npos; }))
        << host.Received();
  }
  void TearDown() override {
    if (client.SessionRunning()) client.Disconnect();
  }
  // What the screen shows on a row, once it has taken the echo.
  bool RowIs(int row, const QString& text) {
    return WaitUntil([&] { return page->Screen().RowText(row) == text; });
  }
};

TEST_F(TerminalScreenWindow, KeyModeSendsTheKeysAsTypedAndTheEchoIsDrawn) {
  QTest::mouseClick(page->KeyModeButton, Qt::LeftButton);
  ASSERT_TRUE(page->KeyMode());
  EXPECT_FALSE(page->Edit1->isEnabled());
  EXPECT_TRUE(page->ScreenView->hasFocus());
  QTest::keyClicks(page->ScreenView, QStringLiteral("ls -l"));
  QTest::keyClick(page->ScreenView, Qt::Key_Return);
  QTest::keyClick(page->ScreenView, Qt::Key_Up);
  QTest::keyClick(page->ScreenView, Qt::Key_K, Qt::ControlModifier);
  QTest::keyClick(page->ScreenView, Qt::Key_F1);
  QTest::keyClick(page->ScreenView, Qt::Key_Backspace);
  QTest::keyClick(page->ScreenView, Qt::Key_Tab);
  QTest::keyClick(page->ScreenView, Qt::Key_Escape);
  // Japanese comes from the input method, in Shift-JIS.
  QInputMethodEvent commit;
  commit.setCommitString(QStringLiteral("日本"));
  QApplication::sendEvent(page->ScreenView, &commit);
  const std::string want = std::string("ls -l\r\x1b[A\x0b\x1bOP\x08\t\x1b") + Sjis("日本");
  ASSERT_TRUE(WaitUntil([&] { return host.Received().find(want) != std::string::npos; })) << host.Received();
  EXPECT_EQ(connectShortcut, 0);  // Ctrl+K was the host's
  EXPECT_TRUE(page->ScreenView->hasFocus());  // Tab did not move the focus
  EXPECT_TRUE(RowIs(0, QStringLiteral("ls -l")));
  // The shortcut turns it off again: the input line is back.
  QTest::keyClick(page->ScreenView, Qt::Key_K, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_FALSE(page->KeyMode());
  EXPECT_TRUE(page->Edit1->isEnabled());
}

TEST_F(TerminalScreenWindow, TheInputLineKeepsAHistoryOfWhatWasSent) {
  page->Edit1->setFocus();
  for (const char* line : {"first", "second"}) {
    QTest::keyClicks(page->Edit1, QString::fromLatin1(line));
    QTest::keyClick(page->Edit1, Qt::Key_Return);
  }
  ASSERT_TRUE(WaitUntil([&] { return host.Received().find("first\r\nsecond\r\n") != std::string::npos; }));
  QTest::keyClicks(page->Edit1, QStringLiteral("draft"));
  QTest::keyClick(page->Edit1, Qt::Key_Up);
  EXPECT_EQ(page->Edit1->text(), QStringLiteral("second"));
  QTest::keyClick(page->Edit1, Qt::Key_Up);
  QTest::keyClick(page->Edit1, Qt::Key_Up);
  EXPECT_EQ(page->Edit1->text(), QStringLiteral("first"));
  QTest::keyClick(page->Edit1, Qt::Key_Down);
  EXPECT_EQ(page->Edit1->text(), QStringLiteral("second"));
  QTest::keyClick(page->Edit1, Qt::Key_Down);
  EXPECT_EQ(page->Edit1->text(), QStringLiteral("draft"));
  // Typing on the screen outside key mode goes to the input line.
  page->Edit1->clear();
  page->ScreenView->setFocus();
  QTest::keyClicks(page->ScreenView, QStringLiteral("x"));
  EXPECT_EQ(page->Edit1->text(), QStringLiteral("x"));
  EXPECT_TRUE(page->Edit1->hasFocus());
}

TEST_F(TerminalScreenWindow, ScrollbackSelectionCopyPasteAndFind) {
  std::string text;
  for (int i = 1; i <= 300; ++i) text += "line " + std::to_string(i) + "\r\n";
  client.ReceiveChunk(text.data(), text.size());
  TScreenView* v = page->ScreenView;
  TTerminalScreen& s = page->Screen();
  ASSERT_TRUE(WaitUntil([&] { return s.RowText(s.Rows() - 2) == QStringLiteral("line 300"); }));
  // Shift+PgUp goes back a page, the wheel three lines a notch, Shift+PgDn forward.
  v->setFocus();
  QTest::keyClick(v, Qt::Key_PageUp, Qt::ShiftModifier);
  EXPECT_EQ(v->ScrolledBack(), s.Rows() - 1);
  QWheelEvent up(QPointF(50, 50), v->mapToGlobal(QPointF(50, 50)), QPoint(), QPoint(0, 240), Qt::NoButton,
                 Qt::NoModifier, Qt::NoScrollPhase, false);
  QApplication::sendEvent(v, &up);
  EXPECT_EQ(v->ScrolledBack(), s.Rows() - 1 + 6);
  EXPECT_EQ(v->ScrollBar()->value(), s.ScrollbackSize() - v->ScrolledBack());
  // Lines coming in meanwhile leave what is read where it is.
  const QString top = s.LineText(v->TopLine());
  const std::string more = "more 1\r\nmore 2\r\n";
  client.ReceiveChunk(more.data(), more.size());
  ASSERT_TRUE(WaitUntil([&] { return s.RowText(s.Rows() - 2) == QStringLiteral("more 2"); }));
  EXPECT_EQ(s.LineText(v->TopLine()), top);
  QTest::keyClick(v, Qt::Key_PageDown, Qt::ShiftModifier);
  QTest::keyClick(v, Qt::Key_PageDown, Qt::ShiftModifier);
  EXPECT_EQ(v->ScrolledBack(), 0);
  // A selection dragged over two rows, copied with Ctrl+Shift+C.
  const int row = 3;
  const QPoint from = v->CellRect(row, 2).center(), to = v->CellRect(row + 1, 5).center();
  QTest::mousePress(v, Qt::LeftButton, Qt::NoModifier, from);
  QTest::mouseMove(v, to);
  QTest::mouseRelease(v, Qt::LeftButton, Qt::NoModifier, to);
  ASSERT_TRUE(v->HasSelection());
  const QString r1 = s.RowText(row), r2 = s.RowText(row + 1);
  QTest::keyClick(v, Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_EQ(QApplication::clipboard()->text(), r1.mid(2) + QLatin1Char('\n') + r2.left(6));
  // Ctrl+Shift+V: several lines are asked about first; CR ends each line.
  QApplication::clipboard()->setText(QStringLiteral("paste 1\npaste 2"));
  int asked = 0;
  bool agree = false;
  page->ConfirmPaste = [&](int lines) {
    asked = lines;
    return agree;
  };
  QTest::keyClick(v, Qt::Key_V, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_EQ(asked, 2);
  agree = true;
  QTest::keyClick(v, Qt::Key_V, Qt::ControlModifier | Qt::ShiftModifier);
  ASSERT_TRUE(WaitUntil([&] { return host.Received().find("paste 1\rpaste 2") != std::string::npos; }));
  EXPECT_EQ(host.Received().find("paste 1\rpaste 2"), host.Received().rfind("paste 1\rpaste 2"));  // once
  // Ctrl+Shift+F: upwards from the bottom, the line brought into sight.
  QTest::keyClick(v, Qt::Key_F, Qt::ControlModifier | Qt::ShiftModifier);
  ASSERT_TRUE(page->FindBar->isVisible());
  QTest::keyClicks(page->FindText, QStringLiteral("line 12"));
  QTest::keyClick(page->FindText, Qt::Key_Return);
  TScreenPos at;
  int cells = 0;
  ASSERT_TRUE(s.Find(QStringLiteral("line 129"), {0, 0}, false, at, cells));
  EXPECT_GE(at.line, v->TopLine());
  EXPECT_LT(at.line, v->TopLine() + s.Rows());
  QTest::keyClick(page->FindText, Qt::Key_Return);  // on upwards: line 128
  EXPECT_TRUE(page->FindResult->text().startsWith(QString::number(at.line) + QStringLiteral(" /")))
      << page->FindResult->text().toStdString();
  QTest::keyClicks(page->FindText, QStringLiteral("xyz"));
  QTest::keyClick(page->FindText, Qt::Key_Return);
  EXPECT_EQ(page->FindResult->text(), QStringLiteral("見つかりません"));
}

TEST_F(TerminalScreenWindow, TheHostIsToldTheNewSizeWhenThePageGrows) {
  const int cols = page->Screen().Columns(), rows = page->Screen().Rows();
  EXPECT_GE(cols, 80);
  EXPECT_GE(rows, 24);
  window.resize(1300, 900);
  ASSERT_TRUE(WaitUntil([&] { return page->Screen().Columns() > cols && page->Screen().Rows() > rows; }));
  EXPECT_TRUE(WaitUntil([&] {
    return host.Received().find(Naws(page->Screen().Columns(), page->Screen().Rows())) != std::string::npos;
  }));
  // The cells fill the view: the last column and row end inside it.
  const QRect last = page->ScreenView->CellRect(page->Screen().Rows() - 1, page->Screen().Columns() - 1);
  EXPECT_LE(last.right(), page->ScreenView->width());
  EXPECT_LE(last.bottom(), page->ScreenView->height());
}

TEST(TerminalView, TheChoiceOfViewIsRememberedInTheSettingsFile) {
  test::TTempDir home;
  {
    TMainForm form(home.Path(), TAppSettings());
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    form.Pages()->setCurrentIndex(kPageTerminal);
    EXPECT_TRUE(form.TerminalPage->ScreenView->isVisible());  // the screen first
    QTest::mouseClick(form.TerminalPage->LinesButton, Qt::LeftButton);
    EXPECT_TRUE(form.TerminalPage->PaintBox1->isVisible());
    EXPECT_FALSE(form.TerminalPage->ScreenView->isVisible());
    form.close();
  }
  EXPECT_NE(test::ReadBytes(home.File("Brelo_V3.ini")).find("[Terminal]\r\nView=Lines\r\n"), std::string::npos);
  TAppSettings settings;
  settings.Read(home.Path());
  TMainForm again(home.Path(), settings);
  again.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&again));
  again.Pages()->setCurrentIndex(kPageTerminal);
  EXPECT_TRUE(again.TerminalPage->LineView());
  EXPECT_TRUE(again.TerminalPage->PaintBox1->isVisible());
}

}  // namespace
}  // namespace brelo
