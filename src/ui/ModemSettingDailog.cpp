#include "ui/ModemSettingDailog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

#include "reader/ModemSettings.h"
#include "common/FileUtil.h"
#include "common/IniFile.h"
#include "session/VeskoClient.h"
#include "ui/Text.h"

namespace brelo {

TModemSettingDailog::TModemSettingDailog(TVeskoClient& client, std::string programFolder, QWidget* parent)
    : QDialog(parent), client_(client), programFolder_(std::move(programFolder)) {
  setWindowTitle(QStringLiteral("モデム設定"));
  ComboBox1 = new QComboBox;
  ComboBox1->addItems({"COM1", "COM2", "COM3", "COM4"});
  ComboBox2 = new QComboBox;
  ComboBox2->setEditable(true);
  ComboBox2->addItems({"300", "600", "1200", "2400", "9600", "19200", "38400", "56000", "57600"});
  ComboBox3 = new QComboBox;
  ComboBox3->setEditable(true);
  ComboBox3->addItems({"ATD", "ATDT", "ATDP"});
  ComboBox3->setToolTip(QStringLiteral("トーン回線 = ATDT / パルス回線 = ATDP"));
  Edit1 = new QLineEdit;
  Device = new QLineEdit;
  Device->setPlaceholderText(QStringLiteral("空欄なら COM 番号の /dev/ttyS…"));
  auto* form = new QFormLayout(this);
  form->addRow(QStringLiteral("通信ポート :"), ComboBox1);
  form->addRow(QStringLiteral("通信速度 :"), ComboBox2);
  form->addRow(QStringLiteral("ダイアルコマンド :"), ComboBox3);
  form->addRow(QStringLiteral("初期化コマンド :"), Edit1);
  form->addRow(QStringLiteral("デバイス :"), Device);
  auto* buttons = new QDialogButtonBox;
  buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole)->setDefault(true);
  buttons->addButton(QStringLiteral("ｷｬﾝｾﾙ"), QDialogButtonBox::RejectRole);
  form->addRow(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &TModemSettingDailog::OKBtnClick);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  LoadIntoClient();
}

void TModemSettingDailog::LoadIntoClient() {
  TModemSettings s;
  s.Read(programFolder_);
  s.ApplyTo(client_);
}

void TModemSettingDailog::showEvent(QShowEvent* e) {
  LoadIntoClient();  // values changed in the file by hand count from now
  ComboBox1->setCurrentIndex(client_.CommPort >= 1 && client_.CommPort <= 4 ? client_.CommPort - 1 : -1);
  ComboBox2->setEditText(QString::number(client_.CommRate));
  Edit1->setText(Q(client_.ModemInitCommand));
  ComboBox3->setEditText(Q(client_.ModemDialCommand));
  Device->setText(QString::fromStdString(client_.ModemDevice));
  QDialog::showEvent(e);
}

void TModemSettingDailog::OKBtnClick() {
  auto init = ToSjisOrWarn(this, Edit1->text());
  auto dial = ToSjisOrWarn(this, ComboBox3->currentText());
  if (!init || !dial) return;
  client_.CommPort = ComboBox1->currentIndex() + 1;
  client_.CommRate = ProfileIntDef(ComboBox2->currentText().toStdString(), 9600);
  client_.ModemInitCommand = *init;
  client_.ModemDialCommand = *dial;
  client_.ModemDevice = Device->text().trimmed().toStdString();
  TModemSettings s;
  s.TakeFrom(client_);
  try {
    s.Write(programFolder_);
  } catch (const EInOutError& err) {
    QMessageBox::critical(this, QStringLiteral("エラー"), Q(err.what()));
  }
  accept();
}

}  // namespace brelo
