#include "ui/OptionsPage.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QVBoxLayout>

#include "hosts/HostTable.h"
#include "reader/SessionPolicy.h"
#include "ui/Fonts.h"
#include "ui/Text.h"

namespace brelo {

TOptionsPage::TOptionsPage(TSessionOptions& options, QWidget* parent) : QWidget(parent), options_(options) {
  auto* layout = new QGridLayout(this);
  layout->setColumnMinimumWidth(0, 20);
  int row = 0;
  auto add = [&](QCheckBox*& box, const QString& caption, bool TSessionOptions::*field, bool indented) {
    box = new QCheckBox(caption);
    layout->addWidget(box, row++, indented ? 1 : 0, 1, indented ? 2 : 3);
    connect(box, &QCheckBox::toggled, this, [this, field](bool on) { options_.*field = on; });
    connect(box, &QCheckBox::clicked, this, [this, field] {
      if (OnChecked) OnChecked(field);
    });
  };
  add(SealthLogin, QStringLiteral("ステルスモード(ログイン通知電報を出さない)でログイン [VESKO VER 1.34以降]"),
      &TSessionOptions::SealthLogin, false);
  add(ClearNews, QStringLiteral("新規アーティクルマークをクリアする"), &TSessionOptions::ClearNews, false);
  add(CheckBox7, QStringLiteral("メール受信"), &TSessionOptions::CheckBox7, false);
  add(GetUserList, QStringLiteral("ユーザーリスト拾得"), &TSessionOptions::GetUserList, false);
  add(ExecuteWriteYoyaku, QStringLiteral("書き込み予約を実行する"), &TSessionOptions::ExecuteWriteYoyaku, false);
  add(GetMidoku, QStringLiteral("未読拾得を行う :"), &TSessionOptions::GetMidoku, false);
  SetMidokuDate = new QCheckBox(QStringLiteral("未読日時を指定 :"));
  connect(SetMidokuDate, &QCheckBox::toggled, this, [this](bool on) { options_.SetMidokuDate = on; });
  MidokuDate = new QLineEdit;
  MidokuDate->setMaximumWidth(120);
  MidokuDate->setAccessibleName(QStringLiteral("未読日時"));
  connect(MidokuDate, &QLineEdit::textEdited, this, [this](const QString& t) {
    // A date is plain ASCII; anything Shift-JIS cannot hold is pointed out.
    if (auto s = ToSjisOrWarn(this, t)) {
      options_.MidokuDate = *s;
      if (OnDateEdited) OnDateEdited();
    }
  });
  layout->addWidget(SetMidokuDate, row, 1);
  layout->addWidget(MidokuDate, row++, 2, Qt::AlignLeft);
  add(GoodbyeWhenExecute, QStringLiteral("予約遂行後ログアウト"), &TSessionOptions::GoodbyeWhenExecute, false);
  add(PassgoodbyeMessage, QStringLiteral("グッバイメッセージをパス"), &TSessionOptions::PassgoodbyeMessage, true);
  // The terminal's font.
  TerminalFont = new QComboBox;
  TerminalFont->setAccessibleName(QStringLiteral("ターミナルのフォント"));
  TerminalFontSize = new QSpinBox;
  TerminalFontSize->setRange(THostEntry::kMinFontSize, THostEntry::kMaxFontSize);
  TerminalFontSize->setSuffix(QStringLiteral(" px"));
  TerminalFontSize->setAccessibleName(QStringLiteral("ターミナルの文字の大きさ"));
  TerminalFontSize->setToolTip(QStringLiteral("ホストのプロパティで大きさを決めたホストでは、そちらを使います"));
  TerminalFontSize->findChild<QLineEdit*>()->setAccessibleName(TerminalFontSize->accessibleName());
  auto* font = new QHBoxLayout;
  font->addWidget(new QLabel(QStringLiteral("ターミナルのフォント :")));
  font->addWidget(TerminalFont, 1);
  font->addWidget(TerminalFontSize);
  layout->addLayout(font, row++, 0, 1, 3);
  const auto changed = [this] {
    if (OnTerminalFontChanged) OnTerminalFontChanged(TerminalFont->currentText(), TerminalFontSize->value());
  };
  connect(TerminalFont, &QComboBox::activated, this, changed);
  connect(TerminalFontSize, &QSpinBox::valueChanged, this, changed);
  layout->setRowStretch(row, 1);
  layout->setColumnStretch(2, 1);
  Refresh();
}

void TOptionsPage::SetTerminalFont(const QString& family, int pixelSize) {
  const QSignalBlocker quiet(TerminalFontSize);
  if (TerminalFont->findText(family) < 0) TerminalFont->addItem(family);
  TerminalFont->setCurrentText(family);
  TerminalFontSize->setValue(pixelSize);
}

void TOptionsPage::showEvent(QShowEvent* e) {
  if (!fontsListed_) {
    fontsListed_ = true;
    const QString current = TerminalFont->currentText();
    TerminalFont->clear();
    TerminalFont->addItems(TerminalFontFamilies());
    if (TerminalFont->findText(current) < 0) TerminalFont->addItem(current);  // chosen, though not installed
    TerminalFont->setCurrentText(current);
  }
  QWidget::showEvent(e);
}

void TOptionsPage::Refresh() {
  const TSessionOptions o = options_;  // setChecked writes back through the handlers
  SealthLogin->setChecked(o.SealthLogin);
  ClearNews->setChecked(o.ClearNews);
  CheckBox7->setChecked(o.CheckBox7);
  GetUserList->setChecked(o.GetUserList);
  ExecuteWriteYoyaku->setChecked(o.ExecuteWriteYoyaku);
  GetMidoku->setChecked(o.GetMidoku);
  SetMidokuDate->setChecked(o.SetMidokuDate);
  MidokuDate->setText(Q(o.MidokuDate));
  GoodbyeWhenExecute->setChecked(o.GoodbyeWhenExecute);
  PassgoodbyeMessage->setChecked(o.PassgoodbyeMessage);
}

}  // namespace brelo
