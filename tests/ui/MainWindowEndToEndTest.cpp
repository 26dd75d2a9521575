// The main window, offscreen, against the demo host: a whole pass from the
// host selector to the logout, then what the pages and files hold.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTableWidget>
#include <QPlainTextEdit>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QProgressBar>
#include <QTest>
#include <QToolButton>
#include <sys/stat.h>

#include "common/FileUtil.h"
#include "common/Sjis.h"
#include "hosts/HostTable.h"
#include "support/DemoHost.h"
#include "support/ModalAnswerer.h"
#include "support/Screenshot.h"
#include "support/TempDir.h"
#include "support/Wait.h"
#include "ui/BrowserPage.h"
#include "ui/MainForm.h"
#include "ui/MessageEditor.h"
#include "ui/ReservationPage.h"
#include "ui/TerminalPage.h"
#include "ui/UserListPage.h"

namespace brelo {
namespace {

using test::WaitUntil;

void HostList(const std::string& home, const std::string& address) {
  THostTable t;
  t.HostCount = 1;
  t.HostTable[0] = THostTable::SampleEntry();
  t.HostTable[0].Address = address;
  t.SaveHostList(home);
}

TEST(MainWindowEndToEnd, APassFromTheHostSelectorToTheLogout) {
  test::TDemoHost host({"--ansi"});  // painted, as hosts paint their screens today
  test::TTempDir home;
  HostList(home.Path(), host.TelnetAddress());
  TMainForm form(home.Path(), TAppSettings());
  form.show();
  ASSERT_EQ(form.HostComboBox->count(), 1);
  EXPECT_EQ(form.HostComboBox->currentIndex(), 0);  // a first start selects the first host
  EXPECT_TRUE(form.SpeedButton1->isEnabled());
  // A post waits in the box.
  TReservationBox& box = form.Model().Box;
  const std::string name = box.AddReservation(8, Sjis("窓から"), "");
  test::WriteBytes(box.HostFolder + name, Sjis("ウィンドウから書き込み") + "\r\n");
  form.Model().Policy.Options.PassgoodbyeMessage = true;
  form.OptionsChanged();
  form.Model().Policy.Options.GetUserList = true;
  form.SpeedButton1->click();
  EXPECT_EQ(form.Pages()->currentIndex(), kPageTerminal);
  EXPECT_FALSE(form.HostComboBox->isEnabled());
  ASSERT_TRUE(WaitUntil([&] { return !form.Model().VeskoClient1.SessionRunning(); }, 60000));
  test::ProcessEventsFor(300);  // the last redraw of the terminal
  test::Screenshot(&form, "terminal");
  EXPECT_FALSE(form.SpeedButton1->isChecked());
  EXPECT_TRUE(form.HostComboBox->isEnabled());
  EXPECT_EQ(form.StatusText->text(), QStringLiteral("ログアウトしました"));
  // The write was confirmed and left the box.
  EXPECT_EQ(box.ReservationCount, 0);
  EXPECT_NE(host.DataFile("msg/08.txt").find(Sjis("ウィンドウから書き込み")), std::string::npos);
  // The boards and the articles are there to read.
  form.Pages()->setCurrentIndex(kPageBrowser);
  TBrowserPage* page = form.BrowserPage;
  ASSERT_GE(page->Boards->count(), 4);
  EXPECT_EQ(page->Boards->item(1)->text(), QStringLiteral("01 GENERAL 雑談ボード"));
  page->Boards->setCurrentRow(1);
  ASSERT_EQ(page->ListBox1->count(), 7);
  EXPECT_EQ(page->ListBox1->itemText(2).left(8), QStringLiteral("N  ├0003"));
  page->ListBox1->setCurrentRow(2);
  EXPECT_TRUE(page->Memo1->toPlainText().contains(QStringLiteral("はなこです。ようこそ")));
  EXPECT_TRUE(page->ResButton->isEnabled());
  test::Screenshot(&form, "browser");
  // The user list arrived first and was saved.
  form.Pages()->setCurrentIndex(kPageUsers);
  EXPECT_EQ(form.UserListPage->ListBox2->count(), 6);  // six users; the host's ruler is no user
  EXPECT_EQ(form.Model().Users.Items.size(), 7u);      // Users.TXT keeps it as the host printed it
  EXPECT_TRUE(FileExists(form.Model().Store.HostFolder + "Users.TXT"));
  form.UserListPage->ListBox2->setCurrentRow(1);
  EXPECT_EQ(form.UserListPage->Edit3->text(), QStringLiteral("GUEST"));
  EXPECT_EQ(form.UserListPage->Edit4->text(), QStringLiteral("ゲスト"));
  test::Screenshot(&form, "userlist");
  form.Pages()->setCurrentIndex(kPageOptions);
  test::Screenshot(&form, "options");
  // Answer the open article: the template dialog comes and goes, the editor
  // opens on the new reservation.
  form.Pages()->setCurrentIndex(kPageBrowser);
  page->ListBox1->setCurrentRow(2);
  {
    test::TModalAnswerer answer;
    form.ResButtonClick();
  }
  ASSERT_EQ(box.ReservationCount, 1);
  EXPECT_EQ(box.ReservationTable[0].Title, "Re:3)" + Sjis("はじめまして"));
  ASSERT_EQ(form.Editors().size(), 1u);
  test::ProcessEventsFor(100);
  test::Screenshot(form.Editors()[0], "editor");
  form.Pages()->setCurrentIndex(kPageBox);
  form.ReservationPage->StringGrid1->selectRow(0);
  Q_EMIT form.ReservationPage->StringGrid1->cellClicked(0, 0);
  test::Screenshot(&form, "box");
  // A mail to TARO drafted from the user list.
  form.Pages()->setCurrentIndex(kPageUsers);
  form.UserListPage->ListBox2->setCurrentRow(2);
  ASSERT_EQ(form.UserListPage->Edit3->text(), QStringLiteral("TARO"));
  {
    test::TModalAnswerer answer;
    form.UserListPage->Button3->click();
  }
  ASSERT_EQ(box.ReservationCount, 2);
  ASSERT_EQ(form.Editors().size(), 2u);
  // Both editors get a line and are closed with "Yes": kept in the box.
  const QString lines[2] = {QStringLiteral("窓からのレスです。"), QStringLiteral("窓からのメールです。")};
  for (int i = 0; i < 2; ++i) {
    TMessageEditor* e = form.Editors()[static_cast<size_t>(i)];
    e->Memo1->appendPlainText(lines[i]);
    e->AskReserve = [] { return static_cast<int>(QMessageBox::Yes); };
  }
  for (TMessageEditor* e : form.Editors()) ASSERT_TRUE(e->close());
  test::ProcessEventsFor(100);
  EXPECT_TRUE(form.Editors().empty());
  ASSERT_EQ(box.ReservationCount, 2);
  // The next call posts the answer and sends the mail, and empties the box.
  form.SpeedButton1->click();
  ASSERT_TRUE(WaitUntil([&] { return !form.Model().VeskoClient1.SessionRunning(); }, 60000));
  test::ProcessEventsFor(300);
  EXPECT_EQ(form.StatusText->text(), QStringLiteral("ログアウトしました"));
  EXPECT_EQ(box.ReservationCount, 0);
  const std::string posted = host.DataFile("msg/01.txt");
  EXPECT_NE(posted.find("Re:3)" + Sjis("はじめまして")), std::string::npos);
  EXPECT_NE(posted.find(Sjis("窓からのレスです。")), std::string::npos);
  EXPECT_NE(host.DataFile("mail/TARO.txt").find(Sjis("窓からのメールです。")), std::string::npos);
  form.close();
}

TEST(MainWindowEndToEnd, AFileDownloadedAndOneUploadedFromTheTerminalPage) {
  test::TDemoHost host;
  std::string bytes(4 << 20, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>((i * 2654435761u) >> 13);
  ::mkdir((host.DataFolder() + "files").c_str(), 0755);
  test::WriteBytes(host.DataFolder() + "files/big.bin", bytes);
  test::TTempDir home;
  HostList(home.Path(), host.TelnetAddress());
  TMainForm form(home.Path(), TAppSettings());
  form.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
  // The pass stays at the main prompt when it has done its work.
  form.Model().Policy.Options.GoodbyeWhenExecute = false;
  form.Model().Policy.Options.GetMidoku = false;
  form.OptionsChanged();
  form.SpeedButton1->click();
  TTerminalPage* t = form.TerminalPage;
  ASSERT_TRUE(WaitUntil([&] { return form.Model().VeskoClient1.Mode() != sm_idle && t->Edit1->isEnabled() &&
                                     form.StatusText->text() == QStringLiteral("メインメニューを検出しました"); },
                        30000));
  EXPECT_EQ(t->ProtocolBox->currentText(), QStringLiteral("ZMODEM"));
  // What the transfers end with, as the window's own handler gets it.
  TVeskoClient& client = form.Model().VeskoClient1;
  std::vector<TVeskoClient::TTransferEnd> ends;
  client.OnTransferEnd = [&ends, policy = client.OnTransferEnd](TVeskoClient* c, const TVeskoClient::TTransferEnd& e) {
    ends.push_back(e);
    policy(c, e);
  };
  // The user asks the host for a file: the ZMODEM send starts by itself, the
  // file arrives whole and the program's progress report is read to its end
  // (a loopback transfer may end before the bar is ever drawn).
  t->Edit1->setFocus();
  QTest::keyClicks(t->Edit1, QStringLiteral("D big.bin"));
  QTest::keyClick(t->Edit1, Qt::Key_Return);
  const std::string down = form.Model().Store.HostFolder + "DOWN/big.bin";
  // The status line says where the file went.
  const QString done = QStringLiteral("ダウンロード完了....big.bin (保存先: %1DOWN/)").arg(QString::fromStdString(form.Model().Store.HostFolder));
  ASSERT_TRUE(WaitUntil([&] { return form.StatusText->text() == done; }, 60000)) << form.StatusText->text().toStdString();
  EXPECT_TRUE(test::ReadBytes(down) == bytes);
  ASSERT_EQ(ends.size(), 1u);
  EXPECT_TRUE(ends[0].download);
  EXPECT_EQ(ends[0].result.files, std::vector<std::string>{"big.bin"});
  EXPECT_EQ(ends[0].result.bytes, static_cast<long long>(bytes.size()));
  ASSERT_TRUE(WaitUntil([&] { return !t->TransferBar->isVisible() && t->UploadButton->isEnabled(); }));
  // And sends one: the host is told first, then the button, then the file,
  // chosen in a dialog that opens in the host folder's UP/.
  const std::string up = form.Model().Store.HostFolder + "UP/";
  ::mkdir(up.c_str(), 0755);
  const std::string mine = up + "mine.bin";
  test::WriteBytes(mine, bytes.substr(0, 300000));
  test::TModalAnswerer answerer;
  QString dialogFolder;
  answerer.onDialog = [&](QDialog* d) {
    auto* files = qobject_cast<QFileDialog*>(d);
    if (files == nullptr) return;
    dialogFolder = files->directory().absolutePath() + QLatin1Char('/');
    files->selectFile(QStringLiteral("mine.bin"));
  };
  t->Edit1->setFocus();
  QTest::keyClicks(t->Edit1, QStringLiteral("UP"));
  QTest::keyClick(t->Edit1, Qt::Key_Return);
  ASSERT_TRUE(WaitUntil([&] {
    for (int i = std::max(0, form.Model().VeskoClient1.LineIndex() - 5); i <= form.Model().VeskoClient1.LineIndex(); ++i) {
      if (SjisToUtf8(form.Model().VeskoClient1.Lines(i)).find("受信を開始します") != std::string::npos) return true;
    }
    return false;
  })) << [&] {
    std::string shown;
    for (int i = std::max(0, form.Model().VeskoClient1.LineIndex() - 10); i <= form.Model().VeskoClient1.LineIndex(); ++i)
      shown += SjisToUtf8(form.Model().VeskoClient1.Lines(i)) + "\n";
    return shown;
  }();
  QTest::mouseClick(t->UploadButton, Qt::LeftButton);
  ASSERT_TRUE(WaitUntil([&] { return form.StatusText->text() == QStringLiteral("アップロード完了....mine.bin"); }, 60000));
  EXPECT_EQ(dialogFolder.toStdString(), up);
  EXPECT_TRUE(host.DataFile("upload/mine.bin") == bytes.substr(0, 300000));
  ASSERT_EQ(ends.size(), 2u);
  EXPECT_EQ(ends[1].result.bytes, 300000);
  // A download the host has not begun: the bar shows it waiting for as long
  // as it waits, and its cancel button ends it.
  ASSERT_TRUE(WaitUntil([&] { return t->DownloadButton->isEnabled(); }));
  QTest::mouseClick(t->DownloadButton, Qt::LeftButton);
  EXPECT_TRUE(t->TransferBar->isVisible());
  EXPECT_EQ(t->TransferLabel->text(), QStringLiteral("転送の開始を待っています"));
  test::Screenshot(&form, "transfer");
  // At the window's least width a file's words still hold every figure: a
  // long Japanese name gives way in its middle, keeping both its ends.
  form.resize(form.minimumSizeHint());
  ASSERT_TRUE(WaitUntil([&] { return form.width() == form.minimumSizeHint().width(); }));
  QApplication::processEvents();
  const int width = t->TransferLabel->width();
  const QFontMetrics fm(t->TransferLabel->font());
  TTransferProgress p;
  p.bytes = 4 << 20;
  p.total = 150 << 20;
  p.rate = 1200 * 1024;
  p.secondsLeft = 125;
  const QString tail = QStringLiteral(" 4.0M/150M 1.2M/秒 残り2:05");
  p.file = Sjis("s.lzh");
  EXPECT_EQ(TransferCaption(p, fm, width), QStringLiteral("s.lzh") + tail);
  p.file = Sjis("草の根ネットの過去ログ全部まとめて読みたい人のための圧縮ファイル第三版.lzh");
  const QString caption = TransferCaption(p, fm, width);
  EXPECT_LE(fm.horizontalAdvance(caption), width) << caption.toStdString() << " in " << width;
  EXPECT_TRUE(caption.startsWith(QStringLiteral("草"))) << caption.toStdString();
  EXPECT_TRUE(caption.endsWith(QStringLiteral(".lzh") + tail)) << caption.toStdString();
  EXPECT_TRUE(caption.contains(QStringLiteral("…"))) << caption.toStdString();
  QTest::mouseClick(t->CancelButton, Qt::LeftButton);
  ASSERT_TRUE(WaitUntil([&] { return !t->TransferBar->isVisible() && ends.size() == 3; }, 30000));
  EXPECT_TRUE(ends[2].result.cancelled);
  form.SpeedButton1->click();  // 接続/強制切断
  ASSERT_TRUE(WaitUntil([&] { return !form.Model().VeskoClient1.SessionRunning(); }, 30000));
}

}  // namespace
}  // namespace brelo
