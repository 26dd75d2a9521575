#include "ui/PatrolDialog.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QPushButton>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace brelo {

TPatrolDialog::TPatrolDialog(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("自動巡回"));
  EnabledCheck = new QCheckBox(QStringLiteral("自動巡回する(&A)"));
  EveryRadio = new QRadioButton(QStringLiteral("一定の間隔で(&I)"));
  EveryMinutes = new QSpinBox;
  EveryMinutes->setRange(1, 1440);
  EveryMinutes->setSuffix(QStringLiteral(" 分ごと"));
  EveryMinutes->setAccessibleName(QStringLiteral("間隔 (分)"));
  TimesRadio = new QRadioButton(QStringLiteral("決まった時刻に(&T)"));
  TimesEdit = new QLineEdit;
  TimesEdit->setPlaceholderText(QStringLiteral("06:00,22:30"));
  TimesEdit->setAccessibleName(QStringLiteral("巡回する時刻"));
  auto* modes = new QButtonGroup(this);
  modes->addButton(EveryRadio);
  modes->addButton(TimesRadio);
  NotifyCheck = new QCheckBox(QStringLiteral("新着があったら通知する(&N)"));
  Problem = new QLabel;
  Problem->setStyleSheet(QStringLiteral("color: #b00000;"));
  auto* note = new QLabel(QStringLiteral("接続中や、エディタを開いているあいだは始めません。"));
  note->setWordWrap(true);
  auto* grid = new QGridLayout;
  grid->addWidget(EveryRadio, 0, 0);
  grid->addWidget(EveryMinutes, 0, 1);
  grid->addWidget(TimesRadio, 1, 0);
  grid->addWidget(TimesEdit, 1, 1);
  grid->setColumnStretch(1, 1);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("キャンセル"));
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(EnabledCheck);
  layout->addLayout(grid);
  layout->addWidget(note);
  layout->addWidget(NotifyCheck);
  layout->addWidget(Problem);
  layout->addWidget(buttons);
  for (QAbstractButton* b : std::initializer_list<QAbstractButton*>{EnabledCheck, EveryRadio, TimesRadio}) {
    connect(b, &QAbstractButton::toggled, this, [this] { UpdateEnabled(); });
  }
}

void TPatrolDialog::UpdateEnabled() {
  const bool on = EnabledCheck->isChecked();
  EveryRadio->setEnabled(on);
  TimesRadio->setEnabled(on);
  EveryMinutes->setEnabled(on && EveryRadio->isChecked());
  TimesEdit->setEnabled(on && TimesRadio->isChecked());
}

void TPatrolDialog::Load(const TPatrolSettings& s) {
  EnabledCheck->setChecked(s.Enabled);
  (s.AtTimes ? TimesRadio : EveryRadio)->setChecked(true);
  EveryMinutes->setValue(s.EveryMinutes);
  TimesEdit->setText(QString::fromStdString(TPatrolSettings::TimesText(s.Times)));
  NotifyCheck->setChecked(s.Notify);
  Problem->clear();
  UpdateEnabled();
}

std::optional<TPatrolSettings> TPatrolDialog::Result() {
  TPatrolSettings s;
  s.Enabled = EnabledCheck->isChecked();
  s.AtTimes = TimesRadio->isChecked();
  s.EveryMinutes = EveryMinutes->value();
  s.Notify = NotifyCheck->isChecked();
  const QString times = TimesEdit->text().trimmed();
  if (!times.isEmpty() || (s.Enabled && s.AtTimes)) {
    auto parsed = TPatrolSettings::ParseTimes(times.toStdString());
    if (!parsed) {
      Problem->setText(QStringLiteral("時刻は 06:00,22:30 のように、時:分 をコンマで区切って書いてください。"));
      TimesEdit->setFocus();
      return std::nullopt;
    }
    s.Times = *parsed;
  }
  return s;
}

void TPatrolDialog::accept() {
  if (Result()) QDialog::accept();
}

}  // namespace brelo
