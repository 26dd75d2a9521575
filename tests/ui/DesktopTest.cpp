// A Linux desktop where everything is Japanese, the keyboard works and the
// screen stays right: driven with real keys and clicks.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSplitter>
#include <QStatusBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include "app/Readme.h"
#include "common/FileUtil.h"
#include "common/Sjis.h"
#include "reader/DemoHostStarter.h"
#include "support/Loopback.h"
#include "support/ModalAnswerer.h"
#include "support/TempDir.h"
#include "support/Wait.h"
#include "ui/BrowserPage.h"
#include "ui/ExternalEdits.h"
#include "ui/HostAddDeleteDialog.h"
#include "ui/MainForm.h"
#include "ui/MessageEditor.h"
#include "ui/ReservationPage.h"
#include "ui/SearchDialog.h"
#include "ui/TerminalPage.h"

namespace brelo {
namespace {

// A stored board with three articles, all unread.
void Articles(const std::string& folder) {
  TMessageStore store;
  store.HostFolder = folder;
  store.LoadBoards();
  store.BoardTable[1].Active = 1;
  store.BoardTable[1].Name = "GENERAL";
  store.SaveBoards();
  for (int i = 1; i <= 3; ++i) {
    TVeskoMessage m;
    m.BoardNo = 1;
    m.MesNo = i;
    m.FromID = "TARO";
    m.Title = "t" + std::to_string(i);
    m.Text = "text " + std::to_string(i) + "\r\n";
    store.AppendMessage(m);
  }
}

class Desktop : public ::testing::Test {
 protected:
  test::TTempDir home;
  std::unique_ptr<TMainForm> form;
  void Open() {
    form = std::make_unique<TMainForm>(home.Path(), TAppSettings());
    form->show();
    QApplication::setActiveWindow(form.get());
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
  }
  int Unread(int board) {
    std::vector<TVeskoMessage> e;
    form->Model().Store.ReadIndex(board, 999, e);
    int n = 0;
    for (const auto& m : e) n += m.Unread;
    return n;
  }
};

TEST_F(Desktop, QtsOwnButtonsSpeakJapanese) {
  Open();
  QString yes;
  QTimer::singleShot(50, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    yes = box->button(QMessageBox::Yes)->text();
    QTest::keyClick(box, Qt::Key_Escape);
  });
  // A confirmation the program shows: deleting from the box.
  TReservationBox& box = form->Model().Box;
  const std::string name = box.AddReservation(3, "x", "");
  test::WriteBytes(box.HostFolder + name, "x\r\n");
  form->Pages()->setCurrentIndex(kPageBox);
  QTest::mouseClick(form->ReservationPage->Button2, Qt::LeftButton);
  EXPECT_TRUE(yes.startsWith(QStringLiteral("はい"))) << yes.toStdString();
  EXPECT_EQ(box.ReservationCount, 1);  // Escape: nothing deleted
}

TEST_F(Desktop, SearchListsHitsAsTheyComeAndANewSearchReplacesTheOld) {
  {
    TMessageStore store;
    store.HostFolder = home.Path() + "DEMO/";
    store.LoadBoards();
    for (int i = 1; i <= 20000; ++i) {
      TVeskoMessage m;
      m.BoardNo = 1;
      m.MesNo = i;
      m.FromID = "TARO";
      m.Title = "t" + std::to_string(i);
      m.Text = Sjis(i % 5000 == 0 ? "めずらしい話\r\n" : "よくある話\r\n");
      store.AppendMessage(m);
    }
  }
  Open();
  // Japanese comes from the input method, committed into the focused field.
  const auto commit = [](QWidget* w, const QString& text) {
    QInputMethodEvent e;
    e.setCommitString(text);
    QApplication::sendEvent(w, &e);
  };
  QLineEdit* field = form->BrowserPage->SearchText;
  field->setFocus();
  commit(field, QStringLiteral("話"));
  QTest::keyClick(field, Qt::Key_Return);
  TSearchDialog* dialog = form->SearchDialog;
  ASSERT_NE(dialog, nullptr);
  EXPECT_TRUE(dialog->isVisible());
  ASSERT_TRUE(test::WaitUntil([&] { return !dialog->Searching(); }, 60000));
  EXPECT_EQ(dialog->Hits->model()->rowCount(), 20000);
  // A new search: only its own hits, however the first one ended.
  field->clear();
  commit(field, QStringLiteral("めずらしい"));
  QTest::keyClick(field, Qt::Key_Return);
  ASSERT_TRUE(test::WaitUntil([&] { return !dialog->Searching(); }, 60000));
  QAbstractItemModel* hits = dialog->Hits->model();
  ASSERT_EQ(hits->rowCount(), 4);
  EXPECT_TRUE(hits->index(1, 0).data().toString().contains(QStringLiteral("#10000 TARO")));
  EXPECT_TRUE(hits->index(1, 0).data().toString().endsWith(QStringLiteral("t10000")));
  // Enter on a hit opens it in the browser.
  dialog->Hits->setFocus();
  dialog->Hits->setCurrentIndex(hits->index(1, 0));
  QTest::keyClick(dialog->Hits, Qt::Key_Return);
  EXPECT_EQ(form->Browser().CurrentBoard, 1);
  EXPECT_EQ(form->Browser().CurrentArticle.MesNo, 10000);
  // Escape closes the finished search's window.
  QTest::keyClick(dialog->Hits, Qt::Key_Escape);
  EXPECT_FALSE(dialog->isVisible());
}

TEST_F(Desktop, FocusAloneOpensNothingAndClicksEnterAndArrowsDo) {
  Articles(home.Path() + "DEMO/");
  Open();
  TBrowserPage* page = form->BrowserPage;
  form->Pages()->setCurrentIndex(kPageBrowser);
  // Tabbing into the lists: no board shown, no article opened.
  page->Boards->setFocus(Qt::TabFocusReason);
  QTest::qWait(20);
  EXPECT_EQ(page->ListBox1->count(), 0);
  QTest::keyClick(page->Boards, Qt::Key_Down);  // arrows open
  ASSERT_GT(page->ListBox1->count(), 0);
  const int board = form->Browser().CurrentBoard;
  EXPECT_EQ(board, page->Boards->currentRow());
  page->ListBox1->setFocus(Qt::TabFocusReason);
  QTest::qWait(20);
  EXPECT_EQ(Unread(1), 3);  // focus alone clears no unread mark
  ASSERT_EQ(board, 1);  // the board after the mailbox
  {
    QTest::keyClick(page->ListBox1, Qt::Key_Down);
    EXPECT_EQ(Unread(1), 2);
    QTest::keyClick(page->ListBox1, Qt::Key_Down);
    EXPECT_EQ(Unread(1), 1);
    // A click on another row, then on the row already open, opens it again.
    const QRect row0 = page->ListBox1->visualRect(page->ListBox1->model()->index(0, 0));
    QTest::mouseClick(page->ListBox1->viewport(), Qt::LeftButton, {}, row0.center());
    EXPECT_EQ(Unread(1), 0);
    page->Memo1->setPlainText(QString());
    QTest::mouseClick(page->ListBox1->viewport(), Qt::LeftButton, {}, row0.center());
    EXPECT_TRUE(page->Memo1->toPlainText().contains(QStringLiteral("text")));
    // Enter opens the current row.
    page->Memo1->setPlainText(QString());
    QTest::keyClick(page->ListBox1, Qt::Key_Return);
    EXPECT_TRUE(page->Memo1->toPlainText().contains(QStringLiteral("text")));
  }
}

TEST_F(Desktop, TheHostListAnswersArrowKeysLikeClicks) {
  Open();
  THostAddDeleteDialog* d = form->HostAddDeleteDialog;
  bool enabled = false;
  QString title;
  QTimer::singleShot(50, [&] {
    d->ListBox1->setFocus();
    QTest::keyClick(d->ListBox1, Qt::Key_Down);
    enabled = d->Title->isEnabled() && d->Button1->isEnabled() && d->Button3->isEnabled();
    title = d->Title->text();
    QTest::keyClick(d, Qt::Key_Escape);
  });
  QTest::mouseClick(form->SpeedButton6, Qt::LeftButton);
  EXPECT_TRUE(enabled);
  EXPECT_EQ(title, QStringLiteral("デモ草の根ネット (練習用)"));
}

TEST_F(Desktop, EveryControlHasANameAndTheKeysAreInTheMenus) {
  Open();
  for (int page = 0; page < form->Pages()->count(); ++page) {
    form->Pages()->setCurrentIndex(page);
    for (QWidget* w : form->findChildren<QWidget*>()) {
      if (!w->isVisible() || w->focusPolicy() == Qt::NoFocus || qobject_cast<QTabBar*>(w) != nullptr) continue;
      if (w->parentWidget() != nullptr && qobject_cast<QAbstractScrollArea*>(w->parentWidget()) != nullptr) continue;
      QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
      ASSERT_NE(a, nullptr);
      EXPECT_FALSE(a->text(QAccessible::Name).isEmpty()) << w->metaObject()->className() << " on page " << page;
    }
  }
  EXPECT_FALSE(form->BrowserPage->UPButton->toolTip().isEmpty());
  EXPECT_FALSE(form->BrowserPage->DOWNButton->toolTip().isEmpty());
  QLabel* hostLabel = nullptr;
  for (QLabel* l : form->findChildren<QLabel*>()) {
    if (l->text() == QStringLiteral("ホスト :")) hostLabel = l;
  }
  ASSERT_NE(hostLabel, nullptr);
  EXPECT_EQ(hostLabel->buddy(), form->HostComboBox);
  EXPECT_EQ(form->Exit1->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
  EXPECT_EQ(form->Connect1->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_K));
  EXPECT_TRUE(form->ActionMenu->actions().contains(form->Connect1));
}

TEST_F(Desktop, TheStatusLineOutlivesAMenu) {
  Open();
  form->SetStatus(Sjis("未読拾得中....GENERAL"));
  // Open a menu and move over its commands, as the user does mid-pass.
  QMenuBar* bar = form->menuBar();
  QTest::mouseClick(bar, Qt::LeftButton, {}, bar->actionGeometry(form->ActionMenu->menuAction()).center());
  ASSERT_TRUE(QTest::qWaitFor([&] { return form->ActionMenu->isVisible(); }));
  for (QAction* a : form->ActionMenu->actions()) {
    if (!a->isSeparator()) QTest::mouseMove(form->ActionMenu, form->ActionMenu->actionGeometry(a).center());
  }
  QTest::keyClick(form->ActionMenu, Qt::Key_Escape);
  EXPECT_EQ(form->StatusText->text(), QStringLiteral("未読拾得中....GENERAL"));
}

TEST_F(Desktop, TheTerminalRepaintsFromTheRingWhenResizedAndTakesTheWidth) {
  Open();
  form->Pages()->setCurrentIndex(kPageTerminal);
  QTest::mouseClick(form->TerminalPage->LinesButton, Qt::LeftButton);  // the line view
  TVeskoClient& c = form->Model().VeskoClient1;
  const std::string lines = "MAIN (A,C,E,N,Q,T,U,W,?)>\r\n" + Sjis("日付が 98/01/01 以降のものを読みます。") + "\r\n";
  c.ReceiveChunk(lines.data(), lines.size());
  TTerminalView* view = form->TerminalPage->PaintBox1;
  const auto lit = [view] {
    const QImage shot = view->grab().toImage();
    int white = 0;
    for (int y = 0; y < std::min(shot.height(), 60); ++y)
      for (int x = 0; x < shot.width(); ++x) white += qGray(shot.pixel(x, y)) > 128;
    return white;
  };
  const int narrow = view->width();
  form->resize(1000, 700);
  ASSERT_TRUE(QTest::qWaitFor([&] { return view->width() > narrow; }));  // the layout has taken the new size
  EXPECT_GT(lit(), 50);  // the lines are there at once, not a black area
  // The 80 columns fill the width, centred, in a larger font.
  EXPECT_GE(view->CellWidth() * 80, view->width() * 8 / 10);
  EXPECT_LE(view->CellWidth() * 80, view->width());
  EXPECT_NEAR(view->TextLeft() * 2 + view->CellWidth() * 80, view->width(), 2);
  const int wide = view->CellWidth();
  const int width = view->width();
  form->resize(640, 460);
  ASSERT_TRUE(QTest::qWaitFor([&] { return view->width() < width; }));
  EXPECT_LT(view->CellWidth(), wide);
  EXPECT_GT(lit(), 50);
}

TEST_F(Desktop, TheTerminalShowsTheHostsColours) {
  Open();
  form->resize(1000, 700);
  form->Pages()->setCurrentIndex(kPageTerminal);
  QTest::mouseClick(form->TerminalPage->LinesButton, Qt::LeftButton);  // the line view
  TVeskoClient& c = form->Model().VeskoClient1;
  c.Ring().SetEscapeRemoval(true);
  // A red word, a word on a green ground, and a reversed one.
  const std::string line = "\x1b[1;31mRED-RED-RED\x1b[0m \x1b[30;42mON-GREEN\x1b[0m \x1b[7mREVERSED\x1b[0m\r\n";
  c.ReceiveChunk(line.data(), line.size());
  TTerminalView* view = form->TerminalPage->PaintBox1;
  view->DrawView();
  const int h = view->fontMetrics().height();
  const auto count = [&](int fromColumn, int toColumn, auto&& pixelIs) {
    const QImage shot = view->grab().toImage();
    int n = 0;
    for (int y = 0; y < h && y < shot.height(); ++y)
      for (int x = view->TextLeft() + fromColumn * view->CellWidth();
           x < view->TextLeft() + toColumn * view->CellWidth() && x < shot.width(); ++x)
        n += pixelIs(QColor(shot.pixel(x, y)));
    return n;
  };
  // The line is the ring's first slot: the view's top row.
  EXPECT_GT(count(0, 11, [](QColor p) { return p.red() > 200 && p.green() < 100 && p.blue() < 100; }), 20);
  EXPECT_GT(count(12, 20, [](QColor p) { return p.green() > 180 && p.red() < 50 && p.blue() < 50; }), 100);
  EXPECT_GT(count(21, 29, [](QColor p) { return p.red() > 240 && p.green() > 240 && p.blue() > 240; }), 100);
  EXPECT_EQ(count(0, 11, [](QColor p) { return p.green() > 180 && p.red() < 50; }), 0);
}

TEST_F(Desktop, TheWindowRemembersItsPlaceSplittersAndHost) {
  THostTable t;
  t.HostCount = 2;
  t.HostTable[0] = THostTable::SampleEntry();
  t.HostTable[1] = THostTable::SampleEntry();
  t.HostTable[1].Title = "B";
  t.HostTable[1].FilePath = "B";
  t.SaveHostList(home.Path());
  Open();
  EXPECT_EQ(form->HostComboBox->currentIndex(), 0);  // first start: the first host
  form->HostComboBox->setFocus();
  QTest::keyClick(form->HostComboBox, Qt::Key_Down);
  form->resize(800, 600);
  form->BrowserPage->TopSplitter->setSizes({150, 500});
  QTest::qWait(20);
  const QList<int> sizes = form->BrowserPage->TopSplitter->sizes();
  form->close();
  TAppSettings again;
  again.Read(home.Path());
  EXPECT_EQ(again.Window.Host, "B");
  form = std::make_unique<TMainForm>(home.Path(), again);
  form->show();
  EXPECT_EQ(form->HostComboBox->currentIndex(), 1);
  EXPECT_EQ(form->size(), QSize(800, 600));
  EXPECT_EQ(form->BrowserPage->TopSplitter->sizes(), sizes);
}

TEST_F(Desktop, TheReadmeOpensInAWindowOfItsOwn) {
  Open();
  EnsureReadme(home.Path());
  form->ShowReadmeWindow();
  QDialog* shown = nullptr;
  ASSERT_TRUE(QTest::qWaitFor([&] {
    for (QWidget* w : QApplication::topLevelWidgets())
      if (w->isVisible() && w->windowTitle() == QStringLiteral("Readme")) shown = qobject_cast<QDialog*>(w);
    return shown != nullptr;
  }));
  auto* text = shown->findChild<QPlainTextEdit*>();
  ASSERT_NE(text, nullptr);
  EXPECT_TRUE(text->isReadOnly());
  EXPECT_TRUE(text->toPlainText().contains(QStringLiteral("はじめかた")));
  shown->close();
}

TEST(DemoHostStarting, TheSampleHostIsStartedWhenNothingAnswersAndStoppedAtTheEnd) {
  test::TTempDir home;
  const int port = test::ClosedPort();
  const std::string address = "telnet://127.0.0.1:" + std::to_string(port) + "/";
  {
    TDemoHostStarter starter(home.Path(), DirName(BRELO_DEMOHOST));
    starter.SampleAddress = address;
    EXPECT_EQ(starter.Before("telnet://127.0.0.1:1/"), "");  // not the sample's: nothing
    const std::string said = starter.Before(address);
    EXPECT_NE(SjisToUtf8(said).find("デモホストを起動しました"), std::string::npos) << SjisToUtf8(said);
    EXPECT_TRUE(TDemoHostStarter::Listening(port));
    EXPECT_EQ(starter.Before(address), "");  // running already
  }
  EXPECT_TRUE(test::WaitUntil([&] { return !TDemoHostStarter::Listening(port); }));
}

TEST(ExternalEditor, AnEditorsUtf8IsReadBackAsShiftJisAndWhatItCannotHoldIsRefused) {
  test::TTempDir dir;
  // The desktop's terminal emulator, and the user's $VISUAL: an editor that
  // appends a line in UTF-8.
  test::WriteBytes(dir.File("x-terminal-emulator"), "#!/bin/sh\nshift\nexec \"$@\"\n");
  // The line to append is in the test's own folder: the editor's copy's
  // folder is made only when the editor is started.
  const std::string line = dir.File("line");
  test::WriteBytes(dir.File("ed.sh"), "#!/bin/sh\nprintf '%s\\n' \"$(cat '" + line + "')\" >> \"$1\"\n");
  ::chmod(dir.File("x-terminal-emulator").c_str(), 0755);
  ::chmod(dir.File("ed.sh").c_str(), 0755);
  const QByteArray path = qgetenv("PATH");
  qputenv("PATH", QByteArray::fromStdString(dir.Path()) + ":" + path);
  qputenv("VISUAL", QByteArray::fromStdString(dir.File("ed.sh")));
  const std::string body = dir.File("261208ab.TXT");
  test::WriteBytes(body, Sjis("一行目") + "\r\n");
  std::string changed;
  TExternalEdits::Instance().OnBodyChanged = [&](const std::string& p) { changed = p; };
  test::WriteBytes(line, "二行目 in UTF-8");
  ASSERT_TRUE(TExternalEdits::Instance().Open("NotePad", body));
  EXPECT_TRUE(test::WaitUntil([&] { return changed == body; }));
  EXPECT_EQ(test::ReadBytes(body), Sjis("一行目") + "\r\n" + Sjis("二行目 in UTF-8") + "\r\n");
  // A character Shift-JIS cannot hold: the body stays, the user is told.
  test::WriteBytes(line, "\xF0\x9F\x98\x80");
  test::TModalAnswerer answer;
  changed.clear();
  ASSERT_TRUE(TExternalEdits::Instance().Open("NotePad", body));
  EXPECT_TRUE(test::WaitUntil([&] { return !answer.texts.isEmpty(); }));
  EXPECT_TRUE(answer.texts.front().contains(QStringLiteral("シフトJISで表せない")));
  EXPECT_EQ(changed, "");
  EXPECT_EQ(test::ReadBytes(body), Sjis("一行目") + "\r\n" + Sjis("二行目 in UTF-8") + "\r\n");
  TExternalEdits::Instance().OnBodyChanged = nullptr;
  qputenv("PATH", path);
  qunsetenv("VISUAL");
}

}  // namespace
}  // namespace brelo
