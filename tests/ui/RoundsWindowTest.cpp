// Rounds in the window: アクション → 全ホスト巡回 over two demo hosts, a host
// a pilot holds shown as busy (and named so in the round's result) until it
// is free, and the schedule held back by an open editor. Driven with real
// clicks.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QMenu>
#include <QMenuBar>
#include <QLabel>
#include <QMessageBox>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <unistd.h>

#include "common/FileUtil.h"
#include "common/Sjis.h"
#include "store/HostLock.h"
#include "support/DemoHost.h"
#include "support/TempDir.h"
#include "ui/BrowserPage.h"
#include "ui/MainForm.h"
#include "ui/MessageEditor.h"
#include "ui/Rounds.h"

namespace brelo {
namespace {

class RoundsWindow : public ::testing::Test {
 protected:
  test::TDemoHost host;
  test::TTempDir home;
  std::unique_ptr<TMainForm> form;
  void SetUp() override {
    THostTable t;
    t.HostCount = 2;
    for (int i = 0; i < 2; ++i) {
      THostEntry& e = t.HostTable[static_cast<size_t>(i)];
      e = THostTable::SampleEntry();
      e.Title = i == 0 ? "A" : "B";
      e.FilePath = i == 0 ? "HA" : "HB";
      e.Address = host.TelnetAddress();
      e.UserID = "TARO";
      e.Password = "taro";
    }
    t.SaveHostList(home.Path());
    form = std::make_unique<TMainForm>(home.Path(), TAppSettings());
    form->show();
    QApplication::setActiveWindow(form.get());
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
  }
  void TearDown() override {
    for (TMessageEditor* e : form->Editors()) e->AskReserve = [] { return static_cast<int>(QMessageBox::Yes); };
    form.reset();
  }
  // アクション → the action, with the mouse.
  void ClickInActionMenu(QAction* action) {
    QMenuBar* bar = form->menuBar();
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->actionGeometry(form->ActionMenu->menuAction()).center());
    ASSERT_TRUE(QTest::qWaitFor([&] { return form->ActionMenu->isVisible(); }));
    QTest::mouseClick(form->ActionMenu, Qt::LeftButton, {}, form->ActionMenu->actionGeometry(action).center());
  }
  bool RoundOver() { return QTest::qWaitFor([&] { return !form->Rounds->Running(); }, 60000); }
};

TEST_F(RoundsWindow, ARoundCallsEveryHostAndNamesTheBusyOneWithItsHolder) {
  ASSERT_EQ(form->HostComboBox->currentIndex(), 0);
  THostLock pilot;  // another process's pass, as far as the window can tell
  ASSERT_TRUE(pilot.Acquire(home.Path() + "HB/"));
  ClickInActionMenu(form->Rounds->Patrol1);
  ASSERT_TRUE(QTest::qWaitFor([&] { return form->Rounds->Running(); }));
  EXPECT_EQ(form->Rounds->Patrol1->text(), QStringLiteral("巡回を止める(&P)"));
  ASSERT_TRUE(RoundOver());
  const auto& r = form->Rounds->LastResults();
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(r[0].status, kExitOk);
  EXPECT_EQ(r[1].status, kExitBusy);
  EXPECT_EQ(form->Rounds->NewsText(), QStringLiteral("A: 新着 10 件、メール 2 通"));
  EXPECT_TRUE(form->Rounds->LastRoundText().endsWith(QStringLiteral("2 ホスト: 完了 1、使用中 1")))
      << form->Rounds->LastRoundText().toStdString();
  // The busy host is named with its holder, in the menu of the tray too.
  const QString busy = QStringLiteral("B: 使用中 (pid %1)").arg(::getpid());
  EXPECT_EQ(form->Rounds->FailureTexts(), QStringList{busy});
  EXPECT_TRUE(form->Rounds->TrayLines().contains(busy));
  EXPECT_EQ(form->Rounds->Patrol1->text(), QStringLiteral("全ホスト巡回(&P)"));
  // Back on the host the user had, and the options as they were.
  EXPECT_EQ(form->HostComboBox->currentIndex(), 0);
  EXPECT_FALSE(form->Model().Policy.Options.PassgoodbyeMessage);
  EXPECT_TRUE(form->Model().Policy.Options.ClearNews);
}

TEST_F(RoundsWindow, AHostInUseIsBusyUntilThePilotEnds) {
  THostLock pilot;
  ASSERT_TRUE(pilot.Acquire(home.Path() + "HB/"));
  TReservationBox box;
  box.HostFolder = home.Path() + "HB/";
  const std::string name = box.AddReservation(8, "waiting", "");
  test::WriteBytes(box.HostFolder + name, "text\r\n");
  form->HostComboBox->setFocus();
  QTest::keyClick(form->HostComboBox, Qt::Key_Down);
  ASSERT_EQ(form->HostComboBox->currentIndex(), 1);
  EXPECT_FALSE(form->SpeedButton1->isEnabled());
  EXPECT_TRUE(form->StatusText->text().contains(QStringLiteral("使用中"))) << form->StatusText->text().toStdString();
  EXPECT_EQ(form->Model().Box.ReservationCount, 0);
  pilot.Release();
  // The window asks again by itself, and shows the host's lists.
  ASSERT_TRUE(QTest::qWaitFor([&] { return form->SpeedButton1->isEnabled(); }, 10000));
  EXPECT_EQ(form->Model().Box.ReservationCount, 1);
  EXPECT_FALSE(form->Model().Policy.HostBusy());
}

TEST_F(RoundsWindow, AScheduledRoundWaitsForTheEditorToClose) {
  QDateTime now = QDateTime(QDate(2026, 12, 8), QTime(9, 0));
  form->Rounds->Schedule().SetClock([&] { return now; });
  form->MutableSettings().Patrol.Enabled = true;
  form->MutableSettings().Patrol.EveryMinutes = 30;
  form->Rounds->ApplySettings();
  const std::string name = form->Model().Box.AddReservation(0, "draft", "TARO");
  test::WriteBytes(form->Model().Box.HostFolder + name, "text\r\n");
  form->OpenEditor(0);
  ASSERT_EQ(form->Editors().size(), 1u);
  now = now.addSecs(31 * 60);
  form->Rounds->Tick();
  EXPECT_FALSE(form->Rounds->Running());
  EXPECT_TRUE(form->Rounds->Schedule().Due());  // still due
  // Asked by hand, the round says why not.
  QString said;
  QTimer answer;
  QObject::connect(&answer, &QTimer::timeout, [&] {
    if (auto* m = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      said = m->text();
      QTest::keyClick(m, Qt::Key_Return);
    }
  });
  answer.start(10);
  EXPECT_FALSE(form->Rounds->StartRound(false));
  answer.stop();
  EXPECT_TRUE(said.contains(QStringLiteral("エディタ"))) << said.toStdString();
  form->Editors().front()->AskReserve = [] { return static_cast<int>(QMessageBox::Yes); };  // keep it reserved
  ASSERT_TRUE(form->Editors().front()->RequestClose());
  ASSERT_TRUE(QTest::qWaitFor([&] { return form->Editors().empty(); }));
  form->Rounds->Tick();
  EXPECT_TRUE(form->Rounds->Running());
  EXPECT_FALSE(form->Rounds->Schedule().Due());
  ASSERT_TRUE(RoundOver());
  EXPECT_EQ(form->Rounds->LastResults().size(), 2u);
  // The mail drafted meanwhile went out with the round.
  EXPECT_EQ(form->Rounds->LastResults()[0].summary.sent, 1);
  EXPECT_EQ(form->Model().Box.ReservationCount, 0);
}

}  // namespace
}  // namespace brelo
