// The host dialogs, the modem settings dialog and the settings commands.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

#include "reader/ModemSettings.h"
#include "common/FileUtil.h"
#include "common/IniFile.h"
#include "common/Sjis.h"
#include "support/ModalAnswerer.h"
#include "support/TempDir.h"
#include "support/Wait.h"
#include "ui/HostAddDeleteDialog.h"
#include "ui/HostPropertyDialog.h"
#include "ui/MainForm.h"
#include "ui/ModemSettingDailog.h"

namespace brelo {
namespace {

using test::ReadBytes;
using test::TTempDir;
using test::WriteBytes;

TEST(HostDialogs, AddEditDeleteOkAndCancel) {
  TTempDir dir;
  TMainForm form(dir.Path(), TAppSettings());
  form.show();
  THostAddDeleteDialog& d = *form.HostAddDeleteDialog;
  d.show();
  EXPECT_EQ(d.ListBox1->count(), 1);  // the sample entry
  EXPECT_FALSE(d.Button1->isEnabled());
  EXPECT_FALSE(d.Title->isEnabled());
  d.Button2Click();
  ASSERT_EQ(d.ListBox1->count(), 2);
  EXPECT_EQ(d.ListBox1->currentRow(), 1);
  EXPECT_TRUE(d.Title->isEnabled());
  EXPECT_TRUE(d.Title->text().startsWith(QStringLiteral("新規ホスト")));
  d.Title->setText(QStringLiteral("草の根ネット"));
  Q_EMIT d.Title->textEdited(d.Title->text());
  EXPECT_EQ(SjisToUtf8(form.Model().Hosts.HostTable[1].Title), "草の根ネット");
  EXPECT_EQ(d.ListBox1->item(1)->text().left(5), QStringLiteral("新規ホスト"));  // shown after a rebuild
  // Cancel discards what was not saved.
  d.reject();
  Q_EMIT d.findChild<QDialogButtonBox*>()->rejected();
  EXPECT_EQ(form.Model().Hosts.HostCount, 1);
  // Add, OK: saved and the main window's selector rebuilt.
  d.show();
  d.Button2Click();
  Q_EMIT d.findChild<QDialogButtonBox*>()->accepted();
  EXPECT_EQ(form.HostComboBox->count(), 2);
  EXPECT_EQ(form.HostComboBox->currentIndex(), -1);
  THostTable saved;
  saved.LoadHostList(dir.Path());
  EXPECT_EQ(saved.HostCount, 2);
  // Deleting the last entries leaves an empty list with everything disabled.
  d.show();
  d.ListBox1->setCurrentRow(0);
  d.Button1Click();
  d.ListBox1->setCurrentRow(0);
  d.Button1Click();
  EXPECT_EQ(d.ListBox1->count(), 0);
  EXPECT_FALSE(d.Button1->isEnabled());
  EXPECT_FALSE(d.Button3->isEnabled());
}

TEST(HostDialogs, PropertiesStoreCutFieldsAndSaveAtOnce) {
  TTempDir dir;
  TMainForm form(dir.Path(), TAppSettings());
  THostPropertyDialog& p = *form.HostPropertyDialog;
  EXPECT_EQ(p.HostKind->count(), 3);
  EXPECT_EQ(p.HostKind->itemText(2), QStringLiteral("BIG-MODEL(未対応)"));
  EXPECT_EQ(THostPropertyDialog::AddressHelp().split(QStringLiteral("\r\n")).size(), 9);
  EXPECT_FALSE(THostPropertyDialog::AddressHelp().contains(QStringLiteral("nifty")));
  form.Model().Hosts.HostTable[0].HostKind = 7;  // outside the list: no selection
  p.HostIndex = 0;
  p.show();
  EXPECT_EQ(p.HostKind->currentIndex(), -1);
  p.UserID->setText(QStringLiteral("ABCDEFGHIJK"));
  p.Password->setText(QStringLiteral("123456789"));
  p.HandleName->setText(QStringLiteral("ながいながいハンドル"));
  p.HostKind->setCurrentIndex(1);
  Q_EMIT p.findChild<QDialogButtonBox*>()->accepted();
  const THostEntry& e = form.Model().Hosts.HostTable[0];
  EXPECT_EQ(e.UserID, "ABCDEFGH");
  EXPECT_EQ(e.Password, "12345678");
  EXPECT_EQ(e.HandleName, Sjis("ながいながいハ"));
  EXPECT_EQ(e.HostKind, 1);
  EXPECT_TRUE(FileExists(THostTable::FileName(dir.Path())));
}

TEST(HostDialogs, TheHostsEncodingIsChosenByKeyboardAndKeptInTheHostList) {
  TTempDir dir;
  TMainForm form(dir.Path(), TAppSettings());
  THostPropertyDialog& p = *form.HostPropertyDialog;
  p.HostIndex = 0;
  p.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&p));
  EXPECT_EQ(p.Encoding->currentText(), QStringLiteral("Shift-JIS"));
  // Two steps down the list, then Enter for OK.
  p.Encoding->setFocus();
  QTest::keyClick(p.Encoding, Qt::Key_Down);
  QTest::keyClick(p.Encoding, Qt::Key_Down);
  EXPECT_EQ(p.Encoding->currentText(), QStringLiteral("UTF-8"));
  QTest::keyClick(p.Encoding, Qt::Key_Return);
  EXPECT_FALSE(p.isVisible());
  EXPECT_EQ(ReadProfileString(THostTable::FileName(dir.Path()), "HOST 0", "Encoding", ""), "UTF-8");
  THostTable again;
  again.LoadHostList(dir.Path());
  EXPECT_EQ(again.HostTable[0].Encoding, EHostEncoding::kUtf8);
  // Back to Shift-JIS: the key goes.
  p.show();
  EXPECT_EQ(p.Encoding->currentText(), QStringLiteral("UTF-8"));
  p.Encoding->setFocus();
  QTest::keyClick(p.Encoding, Qt::Key_Home);
  QTest::keyClick(p.Encoding, Qt::Key_Return);
  EXPECT_EQ(ReadProfileString(THostTable::FileName(dir.Path()), "HOST 0", "Encoding", "(none)"), "(none)");
}

TEST(HostDialogs, TheLineIsAutomaticUnlessTheHostEntrySaysTelnetOrRaw) {
  TTempDir dir;
  TMainForm form(dir.Path(), TAppSettings());
  THostPropertyDialog& p = *form.HostPropertyDialog;
  p.HostIndex = 0;
  p.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&p));
  EXPECT_EQ(p.Line->currentIndex(), 0);
  p.Line->setFocus();
  QTest::keyClick(p.Line, Qt::Key_End);
  QTest::keyClick(p.Line, Qt::Key_Return);
  EXPECT_FALSE(p.isVisible());
  EXPECT_EQ(ReadProfileString(THostTable::FileName(dir.Path()), "HOST 0", "Line", ""), "raw");
  THostTable again;
  again.LoadHostList(dir.Path());
  EXPECT_EQ(again.HostTable[0].Line, ELineKind::kRaw);
  // Automatic again: the key goes, and a list without it reads as automatic.
  p.show();
  p.Line->setFocus();
  QTest::keyClick(p.Line, Qt::Key_Home);
  QTest::keyClick(p.Line, Qt::Key_Return);
  EXPECT_EQ(ReadProfileString(THostTable::FileName(dir.Path()), "HOST 0", "Line", "(none)"), "(none)");
  again.LoadHostList(dir.Path());
  EXPECT_EQ(again.HostTable[0].Line, ELineKind::kAuto);
}

TEST(ModemDialog, LoadsAtCreationRereadsAtShowAndWritesOnOk) {
  TTempDir dir;
  WriteBytes(dir.File("Modem.Ini"), "[MODEM]\r\nPORT=7\r\nRATE=abc\r\nINIT=\r\n");
  TMainForm form(dir.Path(), TAppSettings());
  TVeskoClient& c = form.Model().VeskoClient1;
  EXPECT_EQ(c.CommPort, 7);
  EXPECT_EQ(c.CommRate, 19200);
  EXPECT_EQ(c.ModemInitCommand, "");  // present and empty: no initialisation
  EXPECT_EQ(c.ModemDialCommand, "ATD");
  TModemSettingDailog& m = *form.ModemSettingDailog;
  WriteBytes(dir.File("Modem.Ini"), "[MODEM]\r\nPORT=2\r\nRATE=4800\r\n");
  m.show();  // re-read: even a cancel keeps what the file says now
  EXPECT_EQ(c.CommPort, 2);
  EXPECT_EQ(m.ComboBox1->currentIndex(), 1);
  EXPECT_EQ(m.ComboBox2->currentText(), QStringLiteral("4800"));
  EXPECT_EQ(m.Edit1->text(), QStringLiteral("ATZ"));  // absent: ATZ
  m.reject();
  m.show();
  m.ComboBox2->setEditText(QString());
  m.ComboBox1->setCurrentIndex(3);
  m.Device->setText(QStringLiteral("/dev/ttyUSB0"));
  m.OKBtnClick();
  EXPECT_EQ(c.CommRate, 9600);  // not a number: 9600
  EXPECT_EQ(c.CommPort, 4);
  TModemSettings s;
  s.Read(dir.Path());
  EXPECT_EQ(s.Rate, 9600);
  EXPECT_EQ(s.Port, 4);
  EXPECT_EQ(s.Device, "/dev/ttyUSB0");
  // A port outside 1-4 shows no selection and OK stores port 0.
  WriteBytes(dir.File("Modem.Ini"), "[MODEM]\r\nPORT=9\r\n");
  m.show();
  EXPECT_EQ(m.ComboBox1->currentIndex(), -1);
  m.OKBtnClick();
  EXPECT_EQ(ReadProfileInteger(dir.File("Modem.Ini"), "MODEM", "PORT", -1), 0);
}

TEST(SettingsCommands, QuoteMarkAndClosingWriteTheFile) {
  TTempDir dir;
  TAppSettings s;
  s.Read(dir.Path());
  auto form = std::make_unique<TMainForm>(dir.Path(), s);
  form->show();
  {
    test::TModalAnswerer cancel(QMessageBox::Cancel, false);
    form->Q1Click();  // cancelled: the file is still written
  }
  EXPECT_NE(ReadBytes(dir.File("Brelo_V3.ini")).find("QuoteString=>_"), std::string::npos);
  {
    test::TModalAnswerer ok;
    ok.onDialog = [](QDialog* d) {
      if (auto* in = d->findChild<QLineEdit*>()) in->setText(QStringLiteral("| "));
    };
    form->Q1Click();
  }
  EXPECT_EQ(form->Settings().QuoteString, "| ");
  EXPECT_NE(ReadBytes(dir.File("Brelo_V3.ini")).find("QuoteString=|_"), std::string::npos);
  ::unlink(dir.File("Brelo_V3.ini").c_str());
  form->close();
  EXPECT_NE(ReadBytes(dir.File("Brelo_V3.ini")).find("[FileName]\r\nEditor=NotePad"), std::string::npos);
}

}  // namespace
}  // namespace brelo
