// A user who reads while rounds run: a scheduled round leaves the page, the
// board, the article and the scroll as they were and adds its news to what
// is still unread, new articles in the open list among them; the tray's
// words count every host; 新着一覧 opens an article and keeps what a pass by
// 接続 did not read; the rows say which are unread after a restart; the
// window says why a pass failed; Ctrl+Q during a pass asks; a restart keeps
// the options and the reading place. Driven with real keys and clicks.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTcpServer>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>

#include "common/FileUtil.h"
#include "common/Sjis.h"
#include "common/IniFile.h"
#include "support/DemoHost.h"
#include "support/Screenshot.h"
#include "support/TempDir.h"
#include "ui/BrowserPage.h"
#include "ui/HostPropertyDialog.h"
#include "ui/MainForm.h"
#include "ui/NewsDialog.h"
#include "ui/OptionsPage.h"
#include "ui/Rounds.h"
#include "ui/TerminalPage.h"

namespace brelo {
namespace {

constexpr int kLocalBoard = 9;  // a board of the user's own, read long ago

class ReadingWhileRounds : public ::testing::Test {
 protected:
  test::TDemoHost host;
  test::TTempDir home;
  std::unique_ptr<TMainForm> form;
  QDateTime now = QDateTime(QDate(2026, 12, 8), QTime(9, 0));

  // Host A is TARO at the demo host, with a board of old, read articles;
  // host B is HANAKO there, or an address that refuses.
  void Hosts(const std::string& bAddress) {
    THostTable t;
    t.HostCount = 2;
    for (int i = 0; i < 2; ++i) {
      THostEntry& e = t.HostTable[static_cast<size_t>(i)];
      e = THostTable::SampleEntry();
      e.Title = i == 0 ? "A" : "B";
      e.FilePath = i == 0 ? "HA" : "HB";
      e.Address = i == 0 ? host.TelnetAddress() : bAddress;
      e.UserID = i == 0 ? "TARO" : "HANAKO";
      e.Password = i == 0 ? "taro" : "hanako";
    }
    t.SaveHostList(home.Path());
    TMessageStore s;
    s.HostFolder = home.Path() + "HA/";
    MakePath(s.HostFolder);
    s.LoadBoards();
    TBoardEntry& b = s.BoardTable[kLocalBoard];
    b.Active = 1;
    b.Name = "LOCAL";
    b.Title = Sjis("過去ログ");
    for (int no = 1; no <= 60; ++no) {
      TVeskoMessage m;
      m.BoardNo = kLocalBoard;
      m.MesNo = no;
      m.FromID = "OLD";
      m.Title = "old " + std::to_string(no);
      for (int line = 0; line < (no == 30 ? 200 : 3); ++line) m.Text += "line " + std::to_string(line) + "\r\n";
      s.AppendMessage(m);
      m.NewMark = m.Unread = 0;
      s.SetMarks(kLocalBoard, m.IndexNo, m.Marks());
    }
    s.SaveBoards();
  }
  // An address where nothing listens: a port the kernel gave and took back.
  static std::string RefusedAddress() {
    QTcpServer s;
    if (!s.listen(QHostAddress::LocalHost, 0)) return std::string();
    return "telnet://127.0.0.1:" + std::to_string(s.serverPort()) + "/";
  }
  void Open(TAppSettings settings = TAppSettings()) {
    form = std::make_unique<TMainForm>(home.Path(), settings);
    form->show();
    QApplication::setActiveWindow(form.get());
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    form->Rounds->Schedule().SetClock([this] { return now; });
    form->MutableSettings().Patrol.Enabled = true;
    form->MutableSettings().Patrol.EveryMinutes = 30;
    form->Rounds->ApplySettings();
  }
  void TearDown() override { form.reset(); }
  // Ctrl+Q, and the window again with the settings it wrote.
  void Restart() {
    QApplication::setActiveWindow(form.get());
    QTest::keyClick(form.get(), Qt::Key_Q, Qt::ControlModifier);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !form->isVisible(); }));
    form.reset();
    TAppSettings settings;
    settings.Read(home.Path());
    Open(settings);
  }

  void ScheduledRound() {
    now = now.addSecs(31 * 60);
    form->Rounds->Tick();
    ASSERT_TRUE(form->Rounds->Running());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !form->Rounds->Running(); }, 60000));
  }
  void ClickBoard(int board) {
    QListWidget* l = form->BrowserPage->Boards;
    for (int i = 0; i < l->count(); ++i) {
      if (TArticleBrowser::BoardOfLine(l->item(i)->text().toStdString()) != board) continue;
      QTest::mouseClick(l->viewport(), Qt::LeftButton, {}, l->visualItemRect(l->item(i)).center());
      return;
    }
    FAIL() << "no board " << board;
  }
  void ClickRow(int row) {
    TArticleListView* v = form->BrowserPage->ListBox1;
    const QModelIndex i = v->model()->index(row, 0);
    v->scrollTo(i);
    QTest::mouseClick(v->viewport(), Qt::LeftButton, {}, v->visualRect(i).center());
  }
  int RowOf(int32_t mesNo) {
    for (int r = 0; r < form->Browser().RowCount(); ++r) {
      if (form->Browser().ThreadList[static_cast<size_t>(r)].MesNo == mesNo) return r;
    }
    return -1;
  }
  // KENJI posts on GENERAL, as another caller of the host would.
  void PostOnGeneral(const std::vector<std::string>& titles) {
    test::TRawCaller c(host.Port());
    ASSERT_TRUE(c.Expect("ID: "));
    c.Line("KENJI");
    ASSERT_TRUE(c.Expect("Password: "));
    c.Line("kenji");
    ASSERT_TRUE(c.Expect("MAIN (A"));
    for (const std::string& title : titles) {
      c.Line("ew1;" + title);
      ASSERT_TRUE(c.ConfirmAndSend("hello"));
    }
    c.Line("Q");
    c.Line("");
    ASSERT_TRUE(c.Closed());
  }
  // A pass started with 接続 (or ended with 強制切断), waited for to its end.
  void ClickConnect() { QTest::mouseClick(form->SpeedButton1, Qt::LeftButton); }
  bool PassOver(const QString& status) {
    return QTest::qWaitFor([&] {
      return !form->Model().VeskoClient1.SessionRunning() && !form->Model().VeskoClient1.WorkThreadRunning() &&
             form->StatusText->text() == status;
    }, 30000);
  }
  QString CountsOf(int board) {
    QListWidget* l = form->BrowserPage->Boards;
    for (int i = 0; i < l->count(); ++i) {
      if (TArticleBrowser::BoardOfLine(l->item(i)->text().toStdString()) == board) return l->item(i)->data(kCountsRole).toString();
    }
    return QStringLiteral("(no board)");
  }
  void ShowNewsList() {
    QApplication::setActiveWindow(form.get());
    QTest::keyClick(form.get(), Qt::Key_N, Qt::ControlModifier | Qt::ShiftModifier);
    ASSERT_TRUE(QTest::qWaitFor([&] { return form->Rounds->NewsDialog != nullptr && form->Rounds->NewsDialog->isVisible(); }));
  }
  // Runs `step` on each modal window as it comes up, until it says the
  // story is over; a step that opens another modal window does so after it
  // returns (queued), so that the next step can answer that one.
  void WhenModal(std::function<bool(QWidget*)> step) {
    auto* t = new QTimer(form.get());
    QObject::connect(t, &QTimer::timeout, [t, step] {
      QWidget* w = QApplication::activeModalWidget();
      if (w == nullptr || !step(w)) return;
      t->stop();
      t->deleteLater();
    });
    t->start(20);
  }
  static void ClickLater(QAbstractButton* b) {
    QTimer::singleShot(0, b, [b] { QTest::mouseClick(b, Qt::LeftButton); });
  }
  // Clicks the button of the next message box that has this caption.
  void AnswerNextBox(const QString& button, QString* said = nullptr) {
    auto* t = new QTimer(form.get());
    QObject::connect(t, &QTimer::timeout, [t, button, said] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (box == nullptr) return;
      for (QAbstractButton* b : box->buttons()) {
        if (b->text() != button) continue;
        if (said) *said = box->text();
        t->stop();
        t->deleteLater();
        QTest::mouseClick(b, Qt::LeftButton);
        return;
      }
    });
    t->start(10);
  }
};

TEST_F(ReadingWhileRounds, AScheduledRoundLeavesTheReaderWhereTheyAreAndTheNewsAddsUp) {
  Hosts(RefusedAddress());  // B refuses at first
  Open();
  ScheduledRound();
  EXPECT_EQ(form->Rounds->FailureTexts(), QStringList{QStringLiteral("B: 接続できません (接続が拒否されました)")});
  EXPECT_TRUE(form->StatusText->text().contains(QStringLiteral("B: 接続できません (接続が拒否されました)")))
      << form->StatusText->text().toStdString();
  EXPECT_TRUE(form->Rounds->TrayTip().contains(QStringLiteral("A: 新着 10 件、メール 2 通"))) << form->Rounds->TrayTip().toStdString();
  // The counts beside the boards: the round's board, and the old one all read.
  QListWidget* boards = form->BrowserPage->Boards;
  QStringList counts;
  for (int i = 0; i < boards->count(); ++i) counts << boards->item(i)->data(kCountsRole).toString();
  EXPECT_TRUE(counts.contains(QStringLiteral("未読 2 新着 2"))) << counts.join(QLatin1Char('|')).toStdString();

  // The user reads an old article, well down its text.
  ClickBoard(kLocalBoard);
  ClickRow(RowOf(30));
  ASSERT_EQ(form->Browser().CurrentArticle.MesNo, 30);
  QTest::keyClick(form->BrowserPage->Memo1, Qt::Key_PageDown);
  QTest::keyClick(form->BrowserPage->Memo1, Qt::Key_PageDown);
  const int scroll = form->BrowserPage->Memo1->verticalScrollBar()->value();
  ASSERT_GT(scroll, 0);
  const int listScroll = form->BrowserPage->ListBox1->verticalScrollBar()->value();
  const int boardRow = boards->currentRow();
  const int row = form->BrowserPage->ListBox1->currentRow();
  const QString text = form->BrowserPage->Memo1->toPlainText();
  int pageChanges = 0;
  QObject::connect(form->Pages(), &QTabWidget::currentChanged, [&] { ++pageChanges; });

  // B answers now: the next round brings its news while the user reads.
  form->Model().Hosts.HostTable[1].Address = host.TelnetAddress();
  now = now.addSecs(31 * 60);
  form->Rounds->Tick();
  ASSERT_TRUE(form->Rounds->Running());
  QStringList seen;  // every status line shown, for the failure's message
  ASSERT_TRUE(QTest::qWaitFor([&] {
    if (seen.isEmpty() || seen.back() != form->StatusText->text()) seen << form->StatusText->text();
    return form->StatusText->text().contains(QStringLiteral("巡回中 (2/2): B"));
  }, 60000)) << seen.join(QLatin1Char('\n')).toStdString();
  EXPECT_EQ(form->HostComboBox->currentIndex(), 0);  // the selector keeps the host being read
  ASSERT_TRUE(QTest::qWaitFor([&] { return !form->Rounds->Running(); }, 60000));
  EXPECT_EQ(pageChanges, 0);
  EXPECT_EQ(form->Pages()->currentIndex(), kPageBrowser);
  EXPECT_EQ(form->HostComboBox->currentIndex(), 0);
  EXPECT_EQ(boards->currentRow(), boardRow);
  EXPECT_EQ(form->BrowserPage->ListBox1->currentRow(), row);
  EXPECT_EQ(form->Browser().CurrentArticle.MesNo, 30);
  EXPECT_EQ(form->BrowserPage->Memo1->toPlainText(), text);
  EXPECT_EQ(form->BrowserPage->Memo1->verticalScrollBar()->value(), scroll);
  EXPECT_EQ(form->BrowserPage->ListBox1->verticalScrollBar()->value(), listScroll);
  EXPECT_TRUE(form->Rounds->FailureTexts().isEmpty());
  // The number at the top right is the host being read's: A's pass of this
  // round brought nothing, B's did.
  EXPECT_EQ(form->Label4->text(), QStringLiteral("0 "));
  // A's news from the first round is still there, with B's beside it.
  const QString tip = form->Rounds->TrayTip();
  EXPECT_TRUE(tip.contains(QStringLiteral("A: 新着 10 件、メール 2 通"))) << tip.toStdString();
  EXPECT_TRUE(tip.contains(QStringLiteral("\nB: 新着 10 件"))) << tip.toStdString();
  EXPECT_EQ(form->Rounds->LastBalloon(), form->Rounds->NewsText());
  const QString balloon = form->Rounds->LastBalloon();

  // A round that brings nothing: the unread news is still counted.
  ScheduledRound();
  EXPECT_EQ(form->Rounds->TrayTip().contains(QStringLiteral("新着はありません")), false);
  EXPECT_TRUE(form->Rounds->TrayTip().contains(QStringLiteral("A: 新着 10 件、メール 2 通")));
  EXPECT_EQ(form->Rounds->LastBalloon(), balloon);  // nothing came: no balloon
  EXPECT_EQ(form->Browser().CurrentArticle.MesNo, 30);
  EXPECT_EQ(form->BrowserPage->Memo1->verticalScrollBar()->value(), scroll);
  // Every tray line fits the screen.
  for (const QString& l : form->Rounds->TrayLines()) EXPECT_LE(form->fontMetrics().horizontalAdvance(l), 700);

  // Reading one of the round's articles takes it from the count at once.
  ClickBoard(1);
  ClickRow(0);
  ASSERT_TRUE(QTest::qWaitFor([&] { return form->Rounds->TrayTip().contains(QStringLiteral("A: 新着 9 件")); }));
}

TEST_F(ReadingWhileRounds, TheNewsListOpensAnArticleInTheBrowser) {
  Hosts(host.TelnetAddress());
  Open();
  ScheduledRound();
  ASSERT_EQ(form->Rounds->News().size(), 2u);
  ASSERT_FALSE(form->Rounds->News()[1].Empty());
  // ｼﾞｬﾝﾌﾟ → 新着一覧, with the mouse.
  QMenuBar* bar = form->menuBar();
  QTest::mouseClick(bar, Qt::LeftButton, {}, bar->actionGeometry(form->JumpMenu->menuAction()).center());
  ASSERT_TRUE(QTest::qWaitFor([&] { return form->JumpMenu->isVisible(); }));
  QTest::mouseClick(form->JumpMenu, Qt::LeftButton, {}, form->JumpMenu->actionGeometry(form->Rounds->News1).center());
  ASSERT_TRUE(QTest::qWaitFor([&] { return form->Rounds->NewsDialog != nullptr && form->Rounds->NewsDialog->isVisible(); }));
  TNewsDialog* list = form->Rounds->NewsDialog;
  EXPECT_EQ(list->Tree->topLevelItemCount(), 2);
  EXPECT_TRUE(list->Tree->topLevelItem(1)->text(0).startsWith(QStringLiteral("B: 新着 10 件")));
  // An article of B, the host not selected: a double click opens it.
  const TBoardNews& board = form->Rounds->News()[1].boards.back();
  const TNewsArticle wanted = board.articles.front();
  QTreeWidgetItem* item = list->ArticleItem(1, wanted.board, wanted.indexNo);
  ASSERT_NE(item, nullptr);
  list->Tree->scrollToItem(item);
  ASSERT_TRUE(QTest::qWaitFor([&] { return list->Tree->viewport()->rect().contains(list->Tree->visualItemRect(item)); }));
  const QPoint at = list->Tree->visualItemRect(item).center();
  // A double click as the window system gives it: a click, then the second
  // press as a double click (QTest's double click alone has no first press).
  QTest::mouseClick(list->Tree->viewport(), Qt::LeftButton, {}, at);
  EXPECT_EQ(form->HostComboBox->currentIndex(), 0);  // one click only chooses
  QTest::mouseDClick(list->Tree->viewport(), Qt::LeftButton, {}, at);
  ASSERT_TRUE(QTest::qWaitFor([&] { return form->HostComboBox->currentIndex() == 1; }));
  EXPECT_EQ(form->Pages()->currentIndex(), kPageBrowser);
  EXPECT_TRUE(form->Browser().ArticleOpened);
  EXPECT_EQ(form->Browser().CurrentBoard, wanted.board);
  EXPECT_EQ(form->Browser().CurrentArticle.MesNo, wanted.mesNo);
  // Read now: gone from the list.
  ASSERT_TRUE(QTest::qWaitFor([&] { return list->ArticleItem(1, wanted.board, wanted.indexNo) == nullptr; }));
  EXPECT_TRUE(list->Tree->topLevelItem(1)->text(0).startsWith(QStringLiteral("B: 新着 9 件")));
}

TEST_F(ReadingWhileRounds, CtrlQDuringAPassAsksAndEndingItKeepsWhatArrived) {
  Hosts(host.TelnetAddress());
  Open();
  // Stay online after the unread fetch: 予約遂行後ログアウト off, by a click.
  form->Pages()->setCurrentIndex(kPageOptions);
  QCheckBox* goodbye = form->OptionsPage->GoodbyeWhenExecute;
  QTest::mouseClick(goodbye, Qt::LeftButton, {}, QPoint(8, goodbye->height() / 2));
  ASSERT_FALSE(form->Model().Policy.Options.GoodbyeWhenExecute);
  QTest::keyClick(form.get(), Qt::Key_K, Qt::ControlModifier);
  ASSERT_TRUE(form->Model().VeskoClient1.SessionRunning());
  EXPECT_EQ(form->Pages()->currentIndex(), kPageTerminal);  // 接続 shows the terminal, as ever
  ASSERT_TRUE(QTest::qWaitFor([&] { return form->Model().Policy.ReceivedCount() == 12 && !form->Model().Policy.Options.GetMidoku; }, 30000));

  QString said;
  AnswerNextBox(QStringLiteral("接続を続ける(&C)"), &said);
  QApplication::setActiveWindow(form.get());
  QTest::keyClick(form.get(), Qt::Key_Q, Qt::ControlModifier);
  EXPECT_TRUE(said.contains(QStringLiteral("接続中です"))) << said.toStdString();
  EXPECT_TRUE(form->isVisible());
  EXPECT_TRUE(form->Model().VeskoClient1.SessionRunning());

  AnswerNextBox(QStringLiteral("切断して終了(&D)"));
  QApplication::setActiveWindow(form.get());
  QTest::keyClick(form.get(), Qt::Key_Q, Qt::ControlModifier);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !form->isVisible(); }, 20000));
  EXPECT_FALSE(form->Model().VeskoClient1.SessionRunning());
  const THostNews kept = CollectNews(0, "A", home.Path() + "HA/");
  EXPECT_EQ(kept.Messages(), 10);
  EXPECT_EQ(kept.Mail(), 2);
}

TEST_F(ReadingWhileRounds, ARestartKeepsTheOptionsAndTheReadingPlace) {
  Hosts(host.TelnetAddress());
  Open();
  form->Pages()->setCurrentIndex(kPageOptions);
  for (QCheckBox* box : {form->OptionsPage->ClearNews, form->OptionsPage->PassgoodbyeMessage}) {
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(8, box->height() / 2));
  }
  QCheckBox* users = form->OptionsPage->GetUserList;
  QTest::mouseClick(users, Qt::LeftButton, {}, QPoint(8, users->height() / 2));
  form->OptionsPage->MidokuDate->selectAll();
  QTest::keyClicks(form->OptionsPage->MidokuDate, "26/11/30");
  // キー入力 on the terminal page, by its button.
  QTabBar* tabs = form->Pages()->tabBar();
  QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(kPageTerminal).center());
  QTest::mouseClick(form->TerminalPage->KeyModeButton, Qt::LeftButton);
  ASSERT_TRUE(form->TerminalPage->KeyMode());
  // Back to the browser by its tab, and an old article read well down.
  QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(kPageBrowser).center());
  ClickBoard(kLocalBoard);
  ClickRow(RowOf(30));
  for (int i = 0; i < 3; ++i) QTest::keyClick(form->BrowserPage->Memo1, Qt::Key_PageDown);
  const int scroll = form->BrowserPage->Memo1->verticalScrollBar()->value();
  ASSERT_GT(scroll, 0);
  Restart();
  EXPECT_FALSE(form->OptionsPage->ClearNews->isChecked());
  EXPECT_TRUE(form->OptionsPage->PassgoodbyeMessage->isChecked());
  EXPECT_TRUE(form->OptionsPage->GetUserList->isChecked());
  EXPECT_TRUE(form->TerminalPage->KeyMode());
  EXPECT_EQ(form->OptionsPage->MidokuDate->text(), QStringLiteral("26/11/30"));
  EXPECT_FALSE(form->Model().Policy.Options.ClearNews);
  EXPECT_EQ(form->Pages()->currentIndex(), kPageBrowser);
  EXPECT_EQ(form->Browser().CurrentBoard, kLocalBoard);
  EXPECT_EQ(form->Browser().CurrentArticle.MesNo, 30);
  EXPECT_EQ(form->BrowserPage->Boards->currentItem()->text().left(2), QStringLiteral("09"));
  ASSERT_TRUE(QTest::qWaitFor([&] { return form->BrowserPage->Memo1->verticalScrollBar()->value() == scroll; }));
  // The original's own keys are where they were.
  const std::string ini = *ReadWholeFile(home.Path() + "Brelo_V3.ini");
  EXPECT_EQ(ini.rfind("[Text]\r\nQuoteString=>_\r\n[FileName]\r\nEditor=NotePad\r\n", 0), 0u) << ini;
}

TEST_F(ReadingWhileRounds, AManualPassKeepsTheNewsAndAfterARestartTheRowsSayWhichAreUnread) {
  Hosts(RefusedAddress());
  Open();
  ScheduledRound();
  ASSERT_TRUE(form->Rounds->TrayTip().contains(QStringLiteral("A: 新着 10 件、メール 2 通")));
  // The number at the top right is A's, not what B's pass (the round's
  // last) received, and says what it counts.
  EXPECT_EQ(form->Label4->text(), QStringLiteral("12 "));
  EXPECT_EQ(form->Label4Caption->text(), QStringLiteral("受信"));
  EXPECT_TRUE(form->Label4->toolTip().contains(QStringLiteral("選んでいるホスト"))) << form->Label4->toolTip().toStdString();
  // The board pane's first width shows every board's name and counts uncut.
  QListWidget* boards = form->BrowserPage->Boards;
  QFont bold = boards->font();
  bold.setBold(true);
  for (int i = 0; i < boards->count(); ++i) {
    const QString line = boards->item(i)->text();
    const int need = boards->fontMetrics().horizontalAdvance(line.left(line.indexOf(QLatin1Char(' '), 3))) +
                     QFontMetrics(bold).horizontalAdvance(boards->item(i)->data(kCountsRole).toString()) + 16;
    EXPECT_LE(need, boards->viewport()->width()) << line.toStdString();
  }
  // One of GENERAL's read.
  ClickBoard(1);
  ClickRow(0);
  const int32_t read = form->Browser().CurrentArticle.MesNo;
  ASSERT_TRUE(QTest::qWaitFor([&] { return form->Rounds->TrayTip().contains(QStringLiteral("A: 新着 9 件、メール 2 通")); }));

  // 接続 with the default options: the boards' new marks go, the news stays.
  // The goodbye's questions are the user's, answered in the terminal.
  ClickConnect();
  ASSERT_TRUE(QTest::qWaitFor([&] { return form->StatusText->text().contains(QStringLiteral("伝言があればどうぞ")); }, 30000));
  QTest::keyClick(form->TerminalPage->Edit1, Qt::Key_Return);
  ASSERT_TRUE(PassOver(QStringLiteral("ログアウトしました"))) << form->StatusText->text().toStdString();
  // Once the pass is over, the counts show what it left.
  EXPECT_TRUE(QTest::qWaitFor([&] { return !CountsOf(1).contains(QStringLiteral("新着")); })) << CountsOf(1).toStdString();
  EXPECT_TRUE(CountsOf(1).startsWith(QStringLiteral("未読 "))) << CountsOf(1).toStdString();
  ShowNewsList();
  TNewsDialog* list = form->Rounds->NewsDialog;
  ASSERT_EQ(list->Tree->topLevelItemCount(), 1);
  EXPECT_TRUE(list->Tree->topLevelItem(0)->text(0).startsWith(QStringLiteral("A: 新着 9 件、メール 2 通")));
  test::Screenshot(list, QStringLiteral("news-list-after-manual-pass"));
  list->close();

  // A restart: the news is still there, and the rows of GENERAL say which
  // are unread, though none is new any more (every mark "-").
  Restart();
  EXPECT_TRUE(form->Rounds->TrayTip().contains(QStringLiteral("A: 新着 9 件、メール 2 通"))) << form->Rounds->TrayTip().toStdString();
  ASSERT_EQ(form->Browser().CurrentBoard, 1);  // the reading place
  QTabBar* tabs = form->Pages()->tabBar();
  QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(kPageBrowser).center());  // the pass left the terminal shown
  TArticleListView* rows = form->BrowserPage->ListBox1;
  const int readRow = RowOf(read);
  ASSERT_GE(readRow, 0);
  int unread = 0;
  for (int r = 0; r < rows->count(); ++r) {
    const QModelIndex i = rows->model()->index(r, 0);
    EXPECT_TRUE(i.data().toString().startsWith(QLatin1Char('-')));
    const bool isBold = i.data(Qt::FontRole).value<QFont>().bold();
    EXPECT_EQ(isBold, r != readRow) << r;
    EXPECT_EQ(i.data(Qt::ToolTipRole).toString(), r == readRow ? QStringLiteral("既読") : QStringLiteral("未読"));
    unread += isBold ? 1 : 0;
  }
  EXPECT_EQ(CountsOf(1), QStringLiteral("未読 %1").arg(unread));
  // The unread mode marks the same rows.
  QTest::mouseClick(form->BrowserPage->MidokuMode, Qt::LeftButton);
  for (int r = 0; r < rows->count(); ++r) EXPECT_EQ(rows->itemText(r).startsWith(QLatin1Char('R')), r != readRow) << r;
  test::Screenshot(form.get(), QStringLiteral("thread-list-read-and-unread"));

  // 一覧をクリア empties the list, after a question; the articles stay unread.
  ShowNewsList();
  list = form->Rounds->NewsDialog;
  QString asked;
  WhenModal([&](QWidget* w) {
    auto* box = qobject_cast<QMessageBox*>(w);
    if (box == nullptr) return false;
    asked = box->text();
    ClickLater(box->button(QMessageBox::Yes));
    return true;
  });
  QTest::mouseClick(list->ClearButton, Qt::LeftButton);
  EXPECT_TRUE(asked.contains(QStringLiteral("未読のまま残ります"))) << asked.toStdString();
  ASSERT_TRUE(QTest::qWaitFor([&] { return list->Summary->text() == QStringLiteral("新着はありません。"); }));
  EXPECT_FALSE(list->ClearButton->isEnabled());
  EXPECT_TRUE(form->Rounds->TrayTip().contains(QStringLiteral("新着はありません")));
  EXPECT_EQ(CountsOf(1), QStringLiteral("未読 %1").arg(unread));
}

TEST_F(ReadingWhileRounds, ARoundBringsAnArticleToTheOpenBoardInPlace) {
  Hosts(RefusedAddress());
  std::vector<std::string> titles;
  for (int i = 1; i <= 8; ++i) titles.push_back("post " + std::to_string(i));
  PostOnGeneral(titles);
  Open();
  ScheduledRound();
  ClickBoard(1);
  TArticleListView* rows = form->BrowserPage->ListBox1;
  // Reading down the list with Alt+Down until it has scrolled.
  ClickRow(0);
  for (int i = 0; i < rows->count() && rows->verticalScrollBar()->value() == 0; ++i) {
    QTest::keyClick(form.get(), Qt::Key_Down, Qt::AltModifier);
  }
  const int scroll = rows->verticalScrollBar()->value();
  ASSERT_GT(scroll, 0);
  const int row = rows->currentRow();
  const int count = rows->count();
  const int32_t reading = form->Browser().CurrentArticle.MesNo;
  ASSERT_EQ(form->Browser().RowArticle(row).MesNo, reading);
  const QString text = form->BrowserPage->Memo1->toPlainText();

  PostOnGeneral({"brand new"});
  ScheduledRound();
  // The new article is in the list, the place is as it was.
  ASSERT_EQ(rows->count(), count + 1);
  EXPECT_EQ(rows->currentRow(), row);
  EXPECT_EQ(form->Browser().RowArticle(rows->currentRow()).MesNo, reading);
  EXPECT_EQ(rows->verticalScrollBar()->value(), scroll);
  EXPECT_EQ(form->BrowserPage->Memo1->toPlainText(), text);
  const int32_t newest = 7 + 8 + 1;
  const int newRow = RowOf(newest);
  ASSERT_GE(newRow, 0);
  EXPECT_TRUE(rows->itemText(newRow).startsWith(QStringLiteral("N  "))) << rows->itemText(newRow).toStdString();
  EXPECT_TRUE(rows->itemText(newRow).contains(QStringLiteral("brand new")));
  test::Screenshot(form.get(), QStringLiteral("open-board-after-round"));
  // ▼ reaches it.
  for (int i = 0; i <= count && form->Browser().CurrentArticle.MesNo != newest; ++i) {
    QTest::mouseClick(form->BrowserPage->DOWNButton, Qt::LeftButton);
  }
  EXPECT_EQ(form->Browser().CurrentArticle.MesNo, newest);
  EXPECT_EQ(rows->currentRow(), newRow);
  test::Screenshot(form.get(), QStringLiteral("open-board-new-row-reached"));
}

TEST_F(ReadingWhileRounds, TheWindowSaysWhyAPassFailedAndTheDialogRefusesABadAddress) {
  Hosts(host.TelnetAddress());
  Open();
  // ﾌﾟﾛﾊﾟﾃｨ: each bad address is named and nothing is stored, until one
  // a connection can use.
  THostPropertyDialog* dialog = form->HostPropertyDialog;
  const QStringList typed = {QStringLiteral("foo bar:99999x"), QStringLiteral("telnet://127.0.0.1"),
                             QString::fromStdString(RefusedAddress())};
  QStringList said;
  int step = 0;
  WhenModal([&](QWidget* w) {
    if (auto* box = qobject_cast<QMessageBox*>(w)) {
      said << box->text();
      if (said.size() == 1) {
        test::Screenshot(dialog, QStringLiteral("host-dialog-bad-address"));
        test::Screenshot(box, QStringLiteral("host-dialog-bad-address-box"));
      }
      ClickLater(box->button(QMessageBox::Ok));
      return false;
    }
    if (w != dialog) return false;
    if (step == typed.size()) return !dialog->isVisible();
    dialog->Address->selectAll();
    QTest::keyClicks(dialog->Address, typed[step++]);
    ClickLater(dialog->OKBtn);
    return step == typed.size();
  });
  QTest::mouseClick(form->SpeedButton5, Qt::LeftButton);
  ASSERT_EQ(said.size(), 2);
  EXPECT_TRUE(said[0].startsWith(QStringLiteral("接続先に空白か制御文字があります: 「foo bar:99999x」"))) << said[0].toStdString();
  EXPECT_TRUE(said[1].startsWith(QStringLiteral("telnet:// の後にホスト名と / が要ります"))) << said[1].toStdString();
  EXPECT_EQ(SjisToUtf8(ReadProfileString(THostTable::FileName(home.Path()), "HOST 0", "Address", "")), typed[2].toStdString());

  // A window pass that fails names its reason, as a round does.
  ClickConnect();
  ASSERT_TRUE(PassOver(QStringLiteral("A: 接続できません (接続が拒否されました)"))) << form->StatusText->text().toStdString();

  // A healthy session: the dialog shows the host but changes nothing while
  // it is connected, and 強制切断 says the user cut it.
  form->Model().Hosts.HostTable[0].Address = host.TelnetAddress();
  form->Pages()->setCurrentIndex(kPageOptions);
  QCheckBox* goodbye = form->OptionsPage->GoodbyeWhenExecute;
  QTest::mouseClick(goodbye, Qt::LeftButton, {}, QPoint(8, goodbye->height() / 2));
  ClickConnect();
  ASSERT_TRUE(QTest::qWaitFor([&] { return form->Model().Policy.ReceivedCount() == 12 && !form->Model().Policy.Options.GetMidoku; }, 30000));
  bool locked = false;
  WhenModal([&](QWidget* w) {
    if (w != dialog) return false;
    locked = dialog->InUseNote->isVisible() && !dialog->OKBtn->isEnabled() && !dialog->Address->isEnabled();
    test::Screenshot(dialog, QStringLiteral("host-dialog-while-connected"));
    QTest::keyClick(dialog, Qt::Key_Escape);
    return true;
  });
  QTest::mouseClick(form->SpeedButton5, Qt::LeftButton);
  EXPECT_TRUE(locked);
  ClickConnect();
  ASSERT_TRUE(PassOver(QStringLiteral("A: 強制切断しました (ユーザーの操作で切断)"))) << form->StatusText->text().toStdString();
}

}  // namespace
}  // namespace brelo
