#include "ui/HostPropertyDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProxyStyle>
#include <QPushButton>
#include <QSpinBox>
#include <QToolTip>
#include <algorithm>

#include "common/FileUtil.h"
#include "common/Sjis.h"
#include "hosts/HostTable.h"
#include "session/Address.h"
#include "session/VeskoClient.h"
#include "ui/Text.h"

namespace brelo {
namespace {
// Each character of the password shows as "@".
class TAtPasswordStyle : public QProxyStyle {
 public:
  int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                QStyleHintReturn* ret) const override {
    if (hint == SH_LineEdit_PasswordCharacter) return '@';
    return QProxyStyle::styleHint(hint, option, widget, ret);
  }
};
}  // namespace

QString THostPropertyDialog::AddressHelp() {
  const QStringList lines = {
      QStringLiteral("===== 接続先は以下の形式で入力してください ====="),
      QString(),
      QStringLiteral("  http:// ＩＰアドレス拾得先 / 例)   http://www.example.jp/bbs/address.html"),
      QStringLiteral("telnet:// ＩＰアドレス /       例) telnet://127.0.0.1/"),
      QStringLiteral("telnet:// ホスト名 /           例) telnet://bbs.example.jp/"),
      QStringLiteral("<<< ＩＰアドレス >>>           例) 127.0.0.1"),
      QString(),
      QStringLiteral("   tel:// 電話番号 /           例)    tel://0312345678/"),
      QStringLiteral("<<< 電話番号 >>>               例) 0312345678"),
  };
  return lines.join(QStringLiteral("\r\n"));
}

THostPropertyDialog::THostPropertyDialog(THostTable& hosts, std::string programFolder, QWidget* parent)
    : QDialog(parent), hosts_(hosts), programFolder_(std::move(programFolder)) {
  setWindowTitle(QStringLiteral("ホストプロパティ"));
  Address = new QLineEdit;
  Address->setObjectName(QStringLiteral("Address"));
  Address->setMinimumWidth(360);
  UserID = new QLineEdit;
  Password = new QLineEdit;
  Password->setEchoMode(QLineEdit::Password);
  auto* style = new TAtPasswordStyle;
  style->setParent(Password);
  Password->setStyle(style);
  HandleName = new QLineEdit;
  HostKind = new QComboBox;
  HostKind->clear();  // the component's table of names, in THostKind order
  for (int k = 0; k < kHostKindCount; ++k) HostKind->addItem(Q(HostKindName(k)));
  HostKind->setCurrentIndex(0);
  TerminalType = new QComboBox;
  TerminalType->setEditable(true);
  TerminalType->addItems({QStringLiteral("VT100"), QStringLiteral("ANSI")});
  TerminalType->setAccessibleName(QStringLiteral("端末タイプ"));
  TerminalType->setToolTip(QStringLiteral("telnet のホストに名乗る端末の種類 (空欄は VT100)"));
  RemoveEscapes = new QCheckBox(QStringLiteral("エスケープシーケンスを除去(&E)"));
  RemoveEscapes->setToolTip(QStringLiteral("色や画面制御のエスケープシーケンスを受信した文字から取り除きます"));
  Encoding = new QComboBox;
  Encoding->setObjectName(QStringLiteral("Encoding"));
  // In EHostEncoding order.
  Encoding->addItems({QStringLiteral("Shift-JIS"), QStringLiteral("EUC-JP"), QStringLiteral("UTF-8")});
  Encoding->setAccessibleName(QStringLiteral("文字コード"));
  Encoding->setToolTip(QStringLiteral("ホストが回線で使う文字コード (保存するのはいつも Shift-JIS)"));
  Line = new QComboBox;
  Line->setObjectName(QStringLiteral("Line"));
  // In ELineKind order.
  Line->addItems({QStringLiteral("自動"), QStringLiteral("telnet"), QStringLiteral("raw (telnet なし)")});
  Line->setAccessibleName(QStringLiteral("回線"));
  Line->setToolTip(QStringLiteral("TCP のホストが telnet を話すか。自動: ホストが telnet のコマンドを送るまでは "
                                  "telnet のコマンドを送らず、ファイル転送のバイトをそのまま通します"));
  UploadCommand = new QLineEdit;
  UploadCommand->setObjectName(QStringLiteral("UploadCommand"));
  UploadCommand->setToolTip(QStringLiteral("ホストにファイルの受信を頼むコマンド。設定すると、巡回のたびにホストのフォルダの UP/ にあるファイルを送ります"));
  TerminalOnly = new QCheckBox(QStringLiteral("自動ログインしない(&T)"));
  TerminalOnly->setObjectName(QStringLiteral("TerminalOnly"));
  TerminalOnly->setToolTip(QStringLiteral("接続するだけで、ログインも巡回も行いません。ターミナルで自分で操作します "
                                          "(全ホスト巡回では飛ばします)"));
  Backspace = new QComboBox;
  Backspace->setObjectName(QStringLiteral("Backspace"));
  // In EBackspaceKey order.
  Backspace->addItems({QStringLiteral("自動 (自動ログインしないホストは DEL、ほかは BS)"), QStringLiteral("BS (Ctrl+H)"),
                       QStringLiteral("DEL (Ctrl+?)")});
  Backspace->setAccessibleName(QStringLiteral("BackSpace キー"));
  Backspace->setToolTip(QStringLiteral("ターミナルで BackSpace キーが送る文字。Unix のシェルは DEL、草の根ホストは BS"));
  FontSize = new QSpinBox;
  FontSize->setObjectName(QStringLiteral("FontSize"));
  FontSize->setRange(0, THostEntry::kMaxFontSize);
  FontSize->setSuffix(QStringLiteral(" px"));
  FontSize->setSpecialValueText(QStringLiteral("オプションの大きさ"));
  FontSize->setAccessibleName(QStringLiteral("ターミナルの文字の大きさ"));
  FontSize->findChild<QLineEdit*>()->setAccessibleName(FontSize->accessibleName());
  KeyModeAtStart = new QCheckBox(QStringLiteral("接続したらキー入力(&K)"));
  KeyModeAtStart->setObjectName(QStringLiteral("KeyModeAtStart"));
  KeyModeAtStart->setToolTip(QStringLiteral("接続したときから、キーをそのままホストに送ります"));
  SshKey = new QLineEdit;
  SshKey->setObjectName(QStringLiteral("SshKey"));
  SshKey->setAccessibleName(QStringLiteral("SSH の鍵"));
  SshKey->setToolTip(QStringLiteral("SSH のホスト (接続先 ssh://ユーザー名@ホスト名:ポート/) にログインするとき最初に"
                                    "使う鍵のファイル。空欄なら、エージェントと ~/.ssh/id_ed25519 などの鍵、それから"
                                    "パスワードでログインします"));
  auto* form = new QFormLayout(this);
  form->addRow(QStringLiteral("接続先/IP拾得先 telnet://～/ http://～/ tel://～/"), Address);
  form->addRow(QStringLiteral("ユーザーID :"), UserID);
  form->addRow(QStringLiteral("パスワード :"), Password);
  form->addRow(QStringLiteral("ハンドルネーム :"), HandleName);
  form->addRow(QStringLiteral("ホスト種類 :"), HostKind);
  form->addRow(QStringLiteral("端末タイプ :"), TerminalType);
  form->addRow(QStringLiteral("文字コード :"), Encoding);
  form->addRow(QStringLiteral("回線 :"), Line);
  form->addRow(QStringLiteral("アップロードのコマンド :"), UploadCommand);
  form->addRow(QStringLiteral("SSH の鍵ファイル :"), SshKey);
  form->addRow(QString(), RemoveEscapes);
  form->addRow(QString(), TerminalOnly);
  form->addRow(QStringLiteral("BackSpace キー :"), Backspace);
  form->addRow(QStringLiteral("ターミナルの文字 :"), FontSize);
  form->addRow(QString(), KeyModeAtStart);
  InUseNote = new QLabel(QStringLiteral("このホストには接続中です。切断してから変更してください。"));
  InUseNote->setStyleSheet(QStringLiteral("color: #b00020; font-weight: bold;"));
  InUseNote->hide();
  form->addRow(InUseNote);
  auto* buttons = new QDialogButtonBox;
  OKBtn = buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
  OKBtn->setDefault(true);
  buttons->addButton(QStringLiteral("ｷｬﾝｾﾙ"), QDialogButtonBox::RejectRole);
  form->addRow(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &THostPropertyDialog::OKBtnClick);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  setToolTip(AddressHelp());
  Address->setToolTip(AddressHelp());
  installEventFilter(this);
  Address->installEventFilter(this);
}

bool THostPropertyDialog::eventFilter(QObject* o, QEvent* e) {
  // The long help stays 8000 ms while this dialog is shown.
  if (e->type() == QEvent::ToolTip && (o == this || o == Address)) {
    auto* h = static_cast<QHelpEvent*>(e);
    QToolTip::showText(h->globalPos(), AddressHelp(), static_cast<QWidget*>(o), QRect(), 8000);
    return true;
  }
  return QDialog::eventFilter(o, e);
}

void THostPropertyDialog::showEvent(QShowEvent* e) {
  if (HostIndex >= 0 && HostIndex < hosts_.HostCount) {
    const THostEntry& h = hosts_.HostTable[static_cast<size_t>(HostIndex)];
    Address->setText(Q(h.Address));
    UserID->setText(Q(h.UserID));
    Password->setText(Q(h.Password));
    HandleName->setText(Q(h.HandleName));
    HostKind->setCurrentIndex(h.HostKind >= 0 && h.HostKind < kHostKindCount ? h.HostKind : -1);
    TerminalType->setCurrentText(Q(h.TerminalType));
    RemoveEscapes->setChecked(h.RemoveEscapes);
    Encoding->setCurrentIndex(static_cast<int>(h.Encoding));
    Line->setCurrentIndex(static_cast<int>(h.Line));
    UploadCommand->setText(Q(h.UploadCommand));
    TerminalOnly->setChecked(h.TerminalOnly);
    Backspace->setCurrentIndex(static_cast<int>(h.Backspace));
    FontSize->setValue(h.FontSize);
    KeyModeAtStart->setChecked(h.KeyModeAtStart);
    SshKey->setText(QString::fromStdString(h.SshKey));
  }
  // Shown, not changed, while a session uses the entry.
  const bool inUse = Connected && Connected(HostIndex);
  for (QWidget* w : std::initializer_list<QWidget*>{Address, UserID, Password, HandleName, HostKind, TerminalType,
                                                     RemoveEscapes, Encoding, Line, UploadCommand, TerminalOnly,
                                                     Backspace, FontSize, KeyModeAtStart, SshKey, OKBtn}) {
    w->setEnabled(!inUse);
  }
  InUseNote->setVisible(inUse);
  QDialog::showEvent(e);
}

void THostPropertyDialog::OKBtnClick() {
  if (HostIndex < 0 || HostIndex >= hosts_.HostCount) {
    reject();
    return;
  }
  if (Connected && Connected(HostIndex)) {
    // Connected while the dialog was open (a round's pass).
    QMessageBox::information(this, windowTitle(), InUseNote->text());
    return;
  }
  auto address = ToSjisOrWarn(this, Address->text());
  auto user = ToSjisOrWarn(this, UserID->text());
  auto password = ToSjisOrWarn(this, Password->text());
  auto handle = ToSjisOrWarn(this, HandleName->text());
  auto upload = ToSjisOrWarn(this, UploadCommand->text().trimmed());
  if (!address || !user || !password || !handle || !upload) return;
  if (const std::string why = AddressProblem(*address); !why.empty()) {
    // Nothing is stored that no connection could use: the user mends it here.
    QMessageBox::warning(this, windowTitle(),
                         Q(why) + QStringLiteral("\n\n書き方の例: telnet://bbs.example.jp:2323/  ssh://taro@bbs.example.jp/  "
                                                 "http://www.example.jp/bbs/address.html  tel://0312345678/\n"
                                                 "(入力欄にマウスを置くと説明が出ます)"));
    Address->setFocus();
    Address->selectAll();
    return;
  }
  THostEntry& h = hosts_.HostTable[static_cast<size_t>(HostIndex)];
  const THostEntry before = h;
  h.Address = *address;
  // Cut where the fields end, but never inside a character: the handle
  // becomes the drafts' "%H".
  h.UserID = CutChars(*user, 8);
  h.Password = CutChars(*password, 8);
  h.HandleName = CutChars(*handle, 14);
  if (HostKind->currentIndex() >= 0) h.HostKind = HostKind->currentIndex();
  h.TerminalType = TerminalTypeOrDefault(TerminalType->currentText().trimmed().toStdString());
  h.RemoveEscapes = RemoveEscapes->isChecked();
  h.Encoding = static_cast<EHostEncoding>(std::clamp(Encoding->currentIndex(), 0, 2));
  h.Line = static_cast<ELineKind>(std::clamp(Line->currentIndex(), 0, 2));
  h.UploadCommand = CutChars(*upload, 64);
  h.TerminalOnly = TerminalOnly->isChecked();
  h.Backspace = static_cast<EBackspaceKey>(std::clamp(Backspace->currentIndex(), 0, 2));
  h.FontSize = FontSize->value() > 0 ? std::max(FontSize->value(), THostEntry::kMinFontSize) : 0;
  h.KeyModeAtStart = KeyModeAtStart->isChecked();
  h.SshKey = SshKey->text().trimmed().toStdString();
  try {
    // Written into the list as it is now, under its lock: a host another
    // writer added or removed meanwhile stays as they left it.
    hosts_.SaveHostList(programFolder_);
  } catch (const EHostListChanged& err) {
    // Someone else changed this host first: theirs is shown, nothing is lost.
    QMessageBox::warning(this, windowTitle(), Q(err.what()));
    if (OnHostsChanged) OnHostsChanged();
    reject();
    return;
  } catch (const EInOutError& err) {
    h = before;  // not stored: the table keeps what the file holds
    QMessageBox::critical(this, QStringLiteral("エラー"), Q(err.what()));
    return;
  }
  if (OnHostsChanged) OnHostsChanged();
  accept();
}

}  // namespace brelo
