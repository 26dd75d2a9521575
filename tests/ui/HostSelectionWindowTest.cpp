// The window keeps the host selector, the selected entry, its folder and its
// box describing the same host, whatever the host dialogs did; and the box's
// page never shows an entry that is not the selected host's. Driven with real
// keys and clicks.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include "common/FileUtil.h"
#include "common/Sjis.h"
#include "support/TempDir.h"
#include "support/Wait.h"
#include "ui/HostAddDeleteDialog.h"
#include "ui/HostPropertyDialog.h"
#include "ui/MainForm.h"
#include "ui/ReservationPage.h"

namespace brelo {
namespace {

// Two hosts, A and B, each with a folder of its own.
void TwoHosts(const std::string& home) {
  THostTable t;
  t.HostCount = 2;
  t.HostTable[0] = THostTable::SampleEntry();
  t.HostTable[0].Title = "A";
  t.HostTable[0].FilePath = "HA";
  t.HostTable[0].Address = "telnet://127.0.0.1:1/";
  t.HostTable[1] = t.HostTable[0];
  t.HostTable[1].Title = "B";
  t.HostTable[1].FilePath = "HB";
  t.HostTable[1].Address = "telnet://127.0.0.1:2/";
  t.SaveHostList(home);
}

void ClickRow(QListWidget* list, int row) {
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(row)).center());
}

// Runs fn once the modal widget of the given type is up.
template <class T>
void WhenModal(std::function<void(T*)> fn) {
  auto* timer = new QTimer;
  QObject::connect(timer, &QTimer::timeout, [timer, fn] {
    if (auto* w = qobject_cast<T*>(QApplication::activeModalWidget())) {
      timer->stop();
      timer->deleteLater();
      fn(w);
    }
  });
  timer->start(10);
}

class HostSelectionWindow : public ::testing::Test {
 protected:
  test::TTempDir home;
  std::unique_ptr<TMainForm> form;
  void SetUp() override {
    TwoHosts(home.Path());
    form = std::make_unique<TMainForm>(home.Path(), TAppSettings());
    form->show();
    QApplication::setActiveWindow(form.get());
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
  }
  // Picks a host in the selector with the keyboard.
  void PickWithKeys(int index) {
    form->HostComboBox->setFocus();
    while (form->HostComboBox->currentIndex() < index) QTest::keyClick(form->HostComboBox, Qt::Key_Down);
    while (form->HostComboBox->currentIndex() > index) QTest::keyClick(form->HostComboBox, Qt::Key_Up);
    ASSERT_EQ(form->HostComboBox->currentIndex(), index);
  }
};

TEST_F(HostSelectionWindow, EscapeAfterASavedPropertyKeepsSelectorEntryAndFolderTogether) {
  PickWithKeys(0);  // A
  ASSERT_EQ(form->Model().Policy.HostFolder(), home.Path() + "HA/");
  // In "追加・削除": delete A, add a host, set its properties with OK (which
  // saves the whole table), then leave with Escape.
  WhenModal<THostAddDeleteDialog>([this](THostAddDeleteDialog* d) {
    ClickRow(d->ListBox1, 0);
    QTest::mouseClick(d->Button1, Qt::LeftButton);  // 削除
    QTest::mouseClick(d->Button2, Qt::LeftButton);  // 追加
    WhenModal<QDialog>([](QDialog* p) { QTest::keyClick(p, Qt::Key_Return); });  // ﾌﾟﾛﾊﾟﾃｨ: OK
    QTest::mouseClick(d->Button3, Qt::LeftButton);
    QTest::keyClick(d, Qt::Key_Escape);
  });
  QTest::mouseClick(form->SpeedButton6, Qt::LeftButton);
  // A is gone: nothing is selected, and nothing can be called in its name.
  THostTable& hosts = form->Model().Hosts;
  ASSERT_EQ(hosts.HostCount, 2);
  EXPECT_EQ(SjisToUtf8(hosts.HostTable[0].Title), "B");
  ASSERT_EQ(form->HostComboBox->count(), 2);
  EXPECT_EQ(form->HostComboBox->itemText(0), QStringLiteral("B"));
  EXPECT_EQ(form->HostComboBox->currentIndex(), -1);
  EXPECT_EQ(form->Model().Policy.CurrentHost(), -1);
  EXPECT_EQ(form->Model().Policy.HostFolder(), "");
  EXPECT_FALSE(form->SpeedButton1->isEnabled());
}

TEST_F(HostSelectionWindow, ACancelledDialogFindsTheSelectedHostWhereItNowStands) {
  PickWithKeys(1);  // B
  WhenModal<THostAddDeleteDialog>([](THostAddDeleteDialog* d) {
    ClickRow(d->ListBox1, 0);
    QTest::mouseClick(d->Button1, Qt::LeftButton);  // A deleted: B moves up
    ClickRow(d->ListBox1, 0);
    WhenModal<QDialog>([](QDialog* p) { QTest::keyClick(p, Qt::Key_Return); });
    QTest::mouseClick(d->Button3, Qt::LeftButton);  // B's properties: OK saves
    QTest::mouseClick(d->findChildren<QPushButton*>().last(), Qt::LeftButton);  // ｷｬﾝｾﾙ
  });
  QTest::mouseClick(form->SpeedButton6, Qt::LeftButton);
  ASSERT_EQ(form->HostComboBox->count(), 1);
  EXPECT_EQ(form->HostComboBox->currentIndex(), 0);
  EXPECT_EQ(form->Model().Policy.CurrentHost(), 0);
  EXPECT_EQ(form->Model().Policy.HostFolder(), home.Path() + "HB/");
  EXPECT_EQ(form->Model().Hosts.HostTable[0].Address, "telnet://127.0.0.1:2/");  // what 接続 would call
  EXPECT_TRUE(form->SpeedButton1->isEnabled());
}

// The real program from the shell, on this window's program folder.
int Shell(const std::string& home, const QStringList& args, const std::string& input = "") {
  QProcess p;
  p.start(BRELO_PROGRAM, QStringList{"--home", QString::fromStdString(home)} + args);
  p.write(input.data(), static_cast<qint64>(input.size()));
  p.closeWriteChannel();
  return p.waitForFinished(60000) ? p.exitCode() : -1;
}

QStringList Titles(const THostTable& t) {
  QStringList out;
  for (int i = 0; i < t.HostCount; ++i) out << QString::fromStdString(SjisToUtf8(t.HostTable[static_cast<size_t>(i)].Title));
  return out;
}

// The shell adds and removes hosts while the window is open: the selector
// follows the list with the selected host kept, and the window's dialogs
// write their own changes into the list as it is, never the table they
// loaded over what the shell did.
TEST_F(HostSelectionWindow, TheShellChangesTheListUnderTheWindowAndNothingIsLost) {
  PickWithKeys(1);  // B
  const QStringList add = {"--address", "x.example", "--user-id", "U"};
  ASSERT_EQ(Shell(home.Path(), QStringList{"--add-host", "C"} + add, "pw\n"), 0);
  ASSERT_TRUE(test::WaitUntil([&] { return form->HostComboBox->count() == 3; }));
  EXPECT_EQ(form->HostComboBox->itemText(2), QStringLiteral("C"));
  EXPECT_EQ(form->HostComboBox->currentIndex(), 1);
  ASSERT_EQ(Shell(home.Path(), {"--remove-host", "A"}), 0);
  ASSERT_TRUE(test::WaitUntil([&] { return form->HostComboBox->count() == 2; }));
  EXPECT_EQ(form->HostComboBox->currentIndex(), 0);  // B, moved up
  EXPECT_EQ(form->Model().Policy.HostFolder(), home.Path() + "HB/");

  // A host added in the dialog, another from the shell while it is open.
  WhenModal<THostAddDeleteDialog>([this, add](THostAddDeleteDialog* d) {
    QTest::mouseClick(d->Button2, Qt::LeftButton);  // 追加
    EXPECT_EQ(Shell(home.Path(), QStringList{"--add-host", "D"} + add, "pw\n"), 0);
    for (QPushButton* b : d->findChildren<QPushButton*>()) {
      if (b->text() == QStringLiteral("OK")) QTest::mouseClick(b, Qt::LeftButton);
    }
  });
  QTest::mouseClick(form->SpeedButton6, Qt::LeftButton);
  THostTable t;
  t.LoadHostList(home.Path());
  ASSERT_EQ(t.HostCount, 4);
  EXPECT_EQ(Titles(t).mid(0, 3), (QStringList{"B", "C", "D"}));
  EXPECT_TRUE(Titles(t)[3].startsWith(QStringLiteral("新規ホスト")));
  EXPECT_EQ(form->HostComboBox->count(), 4);

  // The properties of B saved while the shell removed C: C stays removed.
  PickWithKeys(0);
  WhenModal<THostPropertyDialog>([this](THostPropertyDialog* p) {
    EXPECT_EQ(Shell(home.Path(), {"--remove-host", "C"}), 0);
    p->UserID->setText(QStringLiteral("NEWID"));
    QTest::keyClick(p, Qt::Key_Return);
  });
  QTest::mouseClick(form->SpeedButton5, Qt::LeftButton);
  t.LoadHostList(home.Path());
  EXPECT_EQ(Titles(t).mid(0, 2), (QStringList{"B", "D"}));
  EXPECT_EQ(t.HostTable[0].UserID, "NEWID");
  ASSERT_EQ(form->HostComboBox->count(), 3);
  EXPECT_EQ(form->HostComboBox->currentIndex(), 0);
}

TEST_F(HostSelectionWindow, TheBoxPageNeverShowsTheOtherHostsEntry) {
  PickWithKeys(0);
  TReservationBox& box = form->Model().Box;
  const std::string name = box.AddReservation(3, "only A", "");
  test::WriteBytes(box.HostFolder + name, Sjis("Aの本文") + "\r\n");
  box.OnChanged();
  form->Pages()->setCurrentIndex(kPageBox);
  QTableWidget* grid = form->ReservationPage->StringGrid1;
  QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->visualItemRect(grid->item(0, 2)).center());
  EXPECT_EQ(form->ReservationPage->Memo3->toPlainText(), QStringLiteral("Aの本文\n"));
  // To host B, which has no entries: nothing of A stays on the page.
  form->HostComboBox->setFocus();
  QTest::keyClick(form->HostComboBox, Qt::Key_Down);
  ASSERT_EQ(form->Model().Policy.HostFolder(), home.Path() + "HB/");
  EXPECT_EQ(form->ReservationPage->Memo3->toPlainText(), QString());
  EXPECT_EQ(form->ReservationPage->YoyakuFileName->text(), QString());
  EXPECT_FALSE(grid->isEnabled());
}

}  // namespace
}  // namespace brelo
