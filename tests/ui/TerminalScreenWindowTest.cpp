// The terminal page's screen with real keys and clicks: key mode against a
// host that echoes, the input line's history, scrollback, selection (a word,
// a line), copy, paste and find, the mouse for a host that asks for it, a
// URL opened, the screen saved, the window's size told to the host, and the
// view, the font and each host's profile remembered.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPainter>
#include <QScrollBar>
#include <QTest>
#include <QToolButton>
#include <QWheelEvent>
#include <atomic>
#include <mutex>
#include <thread>

#include "common/Sjis.h"
#include "hosts/HostTable.h"
#include "session/VeskoClient.h"
#include "support/Screenshot.h"
#include "support/TempDir.h"
#include "support/Wait.h"
#include "ui/HostPropertyDialog.h"
#include "ui/MainForm.h"
#include "ui/OptionsPage.h"
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
  QTest::keyClick(page->ScreenView, Qt::Key_Space, Qt::ControlModifier);
  QTest::keyClick(page->ScreenView, Qt::Key_Slash, Qt::ControlModifier);
  QTest::keyClick(page->ScreenView, Qt::Key_2, Qt::ControlModifier | Qt::ShiftModifier);
  // Japanese comes from the input method, in Shift-JIS.
  QInputMethodEvent commit;
  commit.setCommitString(QStringLiteral("日本"));
  QApplication::sendEvent(page->ScreenView, &commit);
  const std::string want = std::string("ls -l\r\x1b[A\x0b\x1bOP\x08\t\x1b\0\x1f\0", 19) + Sjis("日本");
  ASSERT_TRUE(WaitUntil([&] { return host.Received().find(want) != std::string::npos; })) << host.Received();
  EXPECT_EQ(connectShortcut, 0);  // Ctrl+K was the host's
  EXPECT_TRUE(page->ScreenView->hasFocus());  // Tab did not move the focus
  EXPECT_TRUE(RowIs(0, QStringLiteral("ls -l")));
  // A shell behind a host the user drives: Backspace is DEL.
  THostEntry shell;
  shell.TerminalOnly = true;
  page->StartSession(shell, true);
  QTest::keyClick(page->ScreenView, Qt::Key_Backspace);
  ASSERT_TRUE(WaitUntil([&] { return host.Received().find(want + "\x7f") != std::string::npos; })) << host.Received();
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

TEST_F(TerminalScreenWindow, TheColumnsFollowTheWindowAtTheFontsSizeAndTheHostIsTold) {
  const int px = page->ScreenView->Font().pixelSize();
  const int width = page->ScreenView->width() - page->ScreenView->ScrollBar()->width();
  EXPECT_EQ(page->Screen().Columns(), width / page->ScreenView->CellWidth());
  // A narrow window: fewer columns, the same font.
  window.resize(560, 620);
  ASSERT_TRUE(WaitUntil([&] { return page->Screen().Columns() < 80; }));
  EXPECT_EQ(page->ScreenView->Font().pixelSize(), px);
  EXPECT_EQ(page->Screen().Columns(),
            (page->ScreenView->width() - page->ScreenView->ScrollBar()->width()) / page->ScreenView->CellWidth());
  const int cols = page->Screen().Columns(), rows = page->Screen().Rows();
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

TEST_F(TerminalScreenWindow, ADoubleClickSelectsAWordAndATripleClickALineAsThePrimarySelection) {
  client.ReceiveChunk("first line\r\n", 12);
  const std::string text = Sjis("cd /usr/local_bin; 日本語のテキスト\r\n");
  client.ReceiveChunk(text.data(), text.size());
  TScreenView* v = page->ScreenView;
  ASSERT_TRUE(RowIs(1, QStringLiteral("cd /usr/local_bin; 日本語のテキスト")));
  QStringList primary;
  v->SetPrimarySelection = [&](const QString& t) { primary << t; };
  QTest::mouseDClick(v, Qt::LeftButton, Qt::NoModifier, v->CellRect(1, 12).center());
  EXPECT_EQ(v->SelectedText(), QStringLiteral("local_bin"));
  ASSERT_FALSE(primary.isEmpty());
  EXPECT_EQ(primary.back(), QStringLiteral("local_bin"));
  // Kanji: a run of them, from the second cell of one.
  QTest::mouseDClick(v, Qt::LeftButton, Qt::NoModifier, v->CellRect(1, 22).center());
  EXPECT_EQ(v->SelectedText(), QStringLiteral("日本語"));
  // The third click soon after, at the same place: the whole line.
  QTest::mousePress(v, Qt::LeftButton, Qt::NoModifier, v->CellRect(1, 22).center(), 1);
  QTest::mouseRelease(v, Qt::LeftButton, Qt::NoModifier, v->CellRect(1, 22).center(), 1);
  EXPECT_EQ(v->SelectedText(), QStringLiteral("cd /usr/local_bin; 日本語のテキスト"));
  EXPECT_EQ(primary.back(), v->SelectedText());
  // A click afterwards starts afresh.
  QTest::mouseClick(v, Qt::LeftButton, Qt::NoModifier, v->CellRect(0, 2).center());
  EXPECT_FALSE(v->HasSelection());
}

TEST_F(TerminalScreenWindow, TheMouseIsTheHostsWhenItAsksAndKeysGoToItUnlessShiftIsHeld) {
  client.ReceiveChunk("\x1b[?1000h\x1b[?1006hmouse\r\n", 24);
  TScreenView* v = page->ScreenView;
  TTerminalScreen& s = page->Screen();
  ASSERT_TRUE(WaitUntil([&] { return s.MouseMode() == EMouseMode::kClick; }));
  // Without key mode the mouse selects, as before.
  QTest::mouseClick(v, Qt::LeftButton, Qt::NoModifier, v->CellRect(2, 4).center());
  QTest::mouseClick(page->KeyModeButton, Qt::LeftButton);
  ASSERT_TRUE(page->KeyMode());
  QTest::mouseClick(v, Qt::LeftButton, Qt::NoModifier, v->CellRect(2, 4).center());
  QTest::mouseClick(v, Qt::RightButton, Qt::ControlModifier, v->CellRect(0, 0).center());
  QWheelEvent down(QPointF(v->CellRect(1, 1).center()), v->mapToGlobal(QPointF(v->CellRect(1, 1).center())), QPoint(),
                   QPoint(0, -240), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
  QApplication::sendEvent(v, &down);
  const std::string want = "\x1b[<0;5;3M\x1b[<0;5;3m\x1b[<18;1;1M\x1b[<18;1;1m\x1b[<65;2;2M\x1b[<65;2;2M";
  ASSERT_TRUE(WaitUntil([&] { return host.Received().find(want) != std::string::npos; })) << host.Received();
  EXPECT_EQ(host.Received().find("\x1b[<"), host.Received().find(want));  // nothing before: the first click selected
  EXPECT_EQ(v->ScrolledBack(), 0);
  // Shift keeps the mouse for selecting.
  const size_t before = host.Received().size();
  QTest::mousePress(v, Qt::LeftButton, Qt::ShiftModifier, v->CellRect(0, 0).center());
  QTest::mouseMove(v, v->CellRect(0, 3).center());
  QTest::mouseRelease(v, Qt::LeftButton, Qt::ShiftModifier, v->CellRect(0, 3).center());
  EXPECT_EQ(v->SelectedText(), QStringLiteral("mous"));
  // The host lets go of the mouse: the wheel scrolls back again.
  client.ReceiveChunk("\x1b[?1000l", 8);
  ASSERT_TRUE(WaitUntil([&] { return s.MouseMode() == EMouseMode::kNone; }));
  QTest::mouseClick(v, Qt::LeftButton, Qt::NoModifier, v->CellRect(2, 4).center());
  QTest::keyClick(v, Qt::Key_X);
  ASSERT_TRUE(WaitUntil([&] { return host.Received().size() > before; }));
  EXPECT_EQ(host.Received().substr(before), "x");
}

TEST_F(TerminalScreenWindow, CtrlClickOpensTheUrlUnderThePointer) {
  const std::string text = "news at https://example.jp/bbs/?id=1 today\r\n";
  client.ReceiveChunk(text.data(), text.size());
  TScreenView* v = page->ScreenView;
  ASSERT_TRUE(RowIs(0, QStringLiteral("news at https://example.jp/bbs/?id=1 today")));
  QStringList opened;
  page->OpenUrl = [&](const QString& url) { opened << url; };
  QTest::mouseClick(v, Qt::LeftButton, Qt::NoModifier, v->CellRect(0, 20).center());  // a plain click: nothing
  QTest::mouseClick(v, Qt::LeftButton, Qt::ControlModifier, v->CellRect(0, 3).center());  // not on the URL
  QTest::mouseClick(v, Qt::LeftButton, Qt::ControlModifier, v->CellRect(0, 20).center());
  EXPECT_EQ(opened, QStringList{QStringLiteral("https://example.jp/bbs/?id=1")});
}

TEST_F(TerminalScreenWindow, TheScrollbackAndScreenAreSavedAsShownInTextAndHtml) {
  std::string text;
  for (int i = 1; i <= 200; ++i) text += "line " + std::to_string(i) + "\r\n";
  text += Sjis("\x1b[1;31m赤い太字\x1b[0m a<b & c:\\path \x1b[3;4mitalic\x1b[0m\r\n");
  client.ReceiveChunk(text.data(), text.size());
  TTerminalScreen& s = page->Screen();
  ASSERT_TRUE(WaitUntil([&] { return s.LineText(200).startsWith(QStringLiteral("赤い太字")); }));
  // What the screen shows, line by line, from the oldest line kept.
  QStringList shown;
  for (int l = 0; l <= 200; ++l) shown << s.LineText(l);
  test::TTempDir dir;
  ETerminalSaveFormat next = ETerminalSaveFormat::kShiftJis;
  QString name;
  page->AskSaveName = [&](ETerminalSaveFormat& format) {
    format = next;
    return name;
  };
  const auto save = [&](ETerminalSaveFormat format, const char* file) {
    next = format;
    name = QString::fromStdString(dir.File(file));
    page->ScreenView->setFocus();
    QTest::keyClick(page->ScreenView, Qt::Key_S, Qt::ControlModifier | Qt::ShiftModifier);
    return test::ReadBytes(dir.File(file));
  };
  EXPECT_EQ(save(ETerminalSaveFormat::kUtf8, "screen.txt"), (shown.join(QLatin1Char('\n')) + QLatin1Char('\n')).toStdString());
  EXPECT_EQ(save(ETerminalSaveFormat::kShiftJis, "screen-sjis.txt"),
            Sjis((shown.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n")).toStdString()));
  const QString html = QString::fromStdString(save(ETerminalSaveFormat::kHtml, "screen.html"));
  EXPECT_TRUE(html.contains(QStringLiteral(">line 1\nline 2\n"))) << html.left(400).toStdString();
  EXPECT_TRUE(html.contains(QStringLiteral("<span style=\"color:#ff4040;font-weight:bold\">赤い太字</span> a&lt;b &amp; c:¥path "))) << html.right(400).toStdString();
  EXPECT_TRUE(html.contains(QStringLiteral("font-style:italic;text-decoration:underline\">italic</span>")));
  // Cancelled: nothing written.
  name.clear();
  QTest::keyClick(page->ScreenView, Qt::Key_S, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_EQ(QDir(QString::fromStdString(dir.Path())).entryList(QDir::Files).size(), 3);
}

// The screen as drawn, beside the same text drawn with Qt alone in the font
// each style calls for: bold, italic, the chosen font, and the yen sign.
TEST(TerminalDrawing, BoldItalicAndTheChosenFontAsDrawn) {
  TTerminalScreen screen;
  screen.Feed("Norm \x1b[1mBold\x1b[0m \x1b[3mItal\x1b[0m \x1b[1;3mBoIt\x1b[0m 0O1lI| C:\\dir");
  TScreenView view(screen);
  view.resize(900, 500);
  view.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
  const QFont regular = view.Font();
  EXPECT_EQ(QFontInfo(regular).family(), QStringLiteral("Migu 1M"));  // the default, installed by set-up
  // Monospace as a Japanese terminal means it: each Latin character one
  // cell, a full-width one two.
  const QFontMetrics fm(regular);
  EXPECT_EQ(fm.horizontalAdvance(QLatin1Char('i')), fm.horizontalAdvance(QLatin1Char('W')));
  EXPECT_EQ(fm.horizontalAdvance(QStringLiteral("漢")), 2 * fm.horizontalAdvance(QLatin1Char('W')));
  const auto shot = [&] { return view.grab().toImage().convertToFormat(QImage::Format_RGB32); };
  // Cells [column, column + n) of the top row, as drawn.
  const auto cells = [&](const QImage& image, int column, int n) {
    return image.copy(view.CellRect(0, column, n));
  };
  // The same text drawn with Qt alone, white on black, in `font`.
  const auto alone = [&](const QString& text, const QFont& font) {
    QImage image(view.CellRect(0, 0, static_cast<int>(text.size())).size(), QImage::Format_RGB32);
    image.fill(Qt::black);
    QPainter p(&image);
    p.setFont(font);
    p.setPen(Qt::white);
    p.drawText(0, QFontMetrics(regular).ascent(), text);
    return image;
  };
  QFont bold = regular, italic = regular, boldItalic = regular;
  bold.setBold(true);
  italic.setItalic(true);
  boldItalic.setBold(true);
  boldItalic.setItalic(true);
  const QImage drawn = shot();
  test::Screenshot(&view, QStringLiteral("terminal-styles"));
  EXPECT_EQ(cells(drawn, 0, 4), alone(QStringLiteral("Norm"), regular));
  EXPECT_EQ(cells(drawn, 5, 4), alone(QStringLiteral("Bold"), bold));
  EXPECT_EQ(cells(drawn, 10, 4), alone(QStringLiteral("Ital"), italic));
  EXPECT_EQ(cells(drawn, 15, 4), alone(QStringLiteral("BoIt"), boldItalic));
  EXPECT_NE(alone(QStringLiteral("Bold"), bold), alone(QStringLiteral("Bold"), regular));
  EXPECT_NE(alone(QStringLiteral("Ital"), italic), alone(QStringLiteral("Ital"), regular));
  // In the chosen font 0 and O, 1, l, I and | each look their own.
  const QString look = QStringLiteral("0O1lI|");
  EXPECT_EQ(cells(drawn, 20, 6), alone(look, regular));
  for (int a = 0; a < look.size(); ++a) {
    for (int b = a + 1; b < look.size(); ++b) {
      EXPECT_NE(cells(drawn, 20 + a, 1), cells(drawn, 20 + b, 1)) << look[a].toLatin1() << " and " << look[b].toLatin1();
    }
  }
  // A Shift-JIS host's backslash is a yen sign; another host's is itself.
  EXPECT_EQ(cells(drawn, 29, 1), alone(QStringLiteral("¥"), regular));
  view.SetYen(false);
  EXPECT_EQ(cells(shot(), 29, 1), alone(QStringLiteral("\\"), regular));
  EXPECT_NE(alone(QStringLiteral("¥"), regular), alone(QStringLiteral("\\"), regular));
}

// A host's terminal profile set in its dialog, and the options' font: both
// kept across a restart, and the profile applied when a session to the host
// starts.
TEST(TerminalProfile, KeptAcrossARestartAndAppliedWhenTheSessionStarts) {
  test::TTempDir home;
  TEchoHost host;
  {
    TMainForm form(home.Path(), TAppSettings());
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    THostPropertyDialog& p = *form.HostPropertyDialog;
    p.HostIndex = 0;
    p.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&p));
    p.Address->setFocus();
    p.Address->selectAll();
    QTest::keyClicks(p.Address, QStringLiteral("127.0.0.1:") + QString::number(host.Port()));
    QTest::mouseClick(p.TerminalOnly, Qt::LeftButton, {}, QPoint(4, p.TerminalOnly->height() / 2));
    p.FontSize->setFocus();
    p.FontSize->selectAll();
    QTest::keyClicks(p.FontSize, QStringLiteral("20"));
    QTest::mouseClick(p.KeyModeAtStart, Qt::LeftButton, {}, QPoint(4, p.KeyModeAtStart->height() / 2));
    EXPECT_EQ(p.Backspace->currentIndex(), 0);  // automatic: DEL for a host driven at the terminal
    QTest::keyClick(p.Address, Qt::Key_Return);
    ASSERT_FALSE(p.isVisible());
    // The options' font size, by keys.
    form.Pages()->setCurrentIndex(2);
    // Monospace families only, Japanese ones among them.
    EXPECT_GE(form.OptionsPage->TerminalFont->findText(QStringLiteral("Migu 1M")), 0);
    EXPECT_GE(form.OptionsPage->TerminalFont->findText(QStringLiteral("IPAGothic")), 0);
    EXPECT_LT(form.OptionsPage->TerminalFont->findText(QStringLiteral("IPAPGothic")), 0);
    EXPECT_EQ(form.OptionsPage->TerminalFont->currentText(), QStringLiteral("Migu 1M"));
    form.OptionsPage->TerminalFontSize->setFocus();
    form.OptionsPage->TerminalFontSize->selectAll();
    QTest::keyClicks(form.OptionsPage->TerminalFontSize, QStringLiteral("18"));
    EXPECT_EQ(form.TerminalPage->ScreenView->Font().pixelSize(), 18);
    form.close();
  }
  TAppSettings settings;
  settings.Read(home.Path());
  EXPECT_EQ(settings.TerminalFontSize, 18);
  TMainForm form(home.Path(), settings);
  form.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
  TTerminalPage& page = *form.TerminalPage;
  EXPECT_EQ(page.ScreenView->Font().pixelSize(), 18);
  EXPECT_EQ(form.OptionsPage->TerminalFontSize->value(), 18);
  THostPropertyDialog& p = *form.HostPropertyDialog;
  p.HostIndex = 0;
  p.show();
  EXPECT_TRUE(p.TerminalOnly->isChecked());
  EXPECT_EQ(p.FontSize->value(), 20);
  EXPECT_TRUE(p.KeyModeAtStart->isChecked());
  p.reject();
  form.HostComboBox->setCurrentIndex(0);
  QTest::mouseClick(form.SpeedButton1, Qt::LeftButton);
  ASSERT_TRUE(WaitUntil([&] { return form.Model().VeskoClient1.SessionRunning(); }));
  EXPECT_EQ(page.ScreenView->Font().pixelSize(), 20);
  ASSERT_TRUE(page.KeyMode());
  QTest::keyClick(page.ScreenView, Qt::Key_Backspace);
  EXPECT_TRUE(WaitUntil([&] { return host.Received().find('\x7f') != std::string::npos; })) << host.Received();
  form.Model().VeskoClient1.Disconnect();
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
