// A user who reads while rounds run: a scheduled round leaves the page, the
// board, the article and the scroll as they were and adds its news to what
// is still unread; the tray's words count every host; 新着一覧 opens an
// article; Ctrl+Q during a pass asks; a restart keeps the options and the
// reading place. Driven with real keys and clicks.
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
#include <QTreeWidget>

#include "common/FileUtil.h"
#include "common/Sjis.h"
#include "support/DemoHost.h"
#include "support/TempDir.h"
#include "ui/BrowserPage.h"
#include "ui/MainForm.h"
#include "ui/NewsDialog.h"
#include "ui/OptionsPage.h"
#include "ui/Rounds.h"

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
  // B refuses at first: nothing listens on a port the kernel gave and took back.
  int refused = 0;
  {
    QTcpServer s;
    ASSERT_TRUE(s.listen(QHostAddress::LocalHost, 0));
    refused = s.serverPort();
  }
  Hosts("telnet://127.0.0.1:" + std::to_string(refused) + "/");
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
  form->OptionsPage->MidokuDate->selectAll();
  QTest::keyClicks(form->OptionsPage->MidokuDate, "26/11/30");
  // Back to the browser by its tab, and an old article read well down.
  QTabBar* tabs = form->Pages()->tabBar();
  QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(kPageBrowser).center());
  ClickBoard(kLocalBoard);
  ClickRow(RowOf(30));
  for (int i = 0; i < 3; ++i) QTest::keyClick(form->BrowserPage->Memo1, Qt::Key_PageDown);
  const int scroll = form->BrowserPage->Memo1->verticalScrollBar()->value();
  ASSERT_GT(scroll, 0);
  QTest::keyClick(form.get(), Qt::Key_Q, Qt::ControlModifier);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !form->isVisible(); }));
  form.reset();

  TAppSettings settings;
  settings.Read(home.Path());
  Open(settings);
  EXPECT_FALSE(form->OptionsPage->ClearNews->isChecked());
  EXPECT_TRUE(form->OptionsPage->PassgoodbyeMessage->isChecked());
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

}  // namespace
}  // namespace brelo
