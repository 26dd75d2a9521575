#include "ui/HostKeyDialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/Fonts.h"
#include "ui/Text.h"

namespace brelo {

THostKeyDialog::THostKeyDialog(const std::string& title, const std::string& hostName, const THostKey& key,
                               QWidget* parent)
    : QDialog(parent) {
  setWindowTitle(QStringLiteral("ホストの鍵の確認"));
  auto* layout = new QVBoxLayout(this);
  auto* what = new QLabel(QStringLiteral("ホスト「%1」(%2) の鍵は、まだ記録されていません。")
                              .arg(Q(title), QString::fromStdString(hostName)));
  what->setWordWrap(true);
  layout->addWidget(what);
  Fingerprint = new QLabel(QStringLiteral("種類: %1\n指紋: %2")
                               .arg(QString::fromStdString(key.Kind()), QString::fromStdString(key.Fingerprint())));
  Fingerprint->setObjectName(QStringLiteral("Fingerprint"));
  Fingerprint->setFont(FixedFont(14));
  Fingerprint->setTextInteractionFlags(Qt::TextSelectableByMouse);
  layout->addWidget(Fingerprint);
  auto* advice = new QLabel(QStringLiteral("この指紋がホストの運営者の示すものと同じか確かめてから接続してください。"
                                           "同じでなければ、だれかがホストになりすましているおそれがあります。"));
  advice->setWordWrap(true);
  layout->addWidget(advice);
  auto* buttons = new QDialogButtonBox;
  RememberBtn = buttons->addButton(QStringLiteral("接続して記憶する"), QDialogButtonBox::AcceptRole);
  OnceBtn = buttons->addButton(QStringLiteral("今回だけ接続"), QDialogButtonBox::AcceptRole);
  StopBtn = buttons->addButton(QStringLiteral("中止"), QDialogButtonBox::RejectRole);
  layout->addWidget(buttons);
  // Enter alone never lets an unchecked key in (the default button is the
  // dialog's once the box is in it).
  StopBtn->setDefault(true);
  StopBtn->setFocus();
  connect(RememberBtn, &QPushButton::clicked, this, [this] {
    answer_ = EHostKeyAnswer::kRemember;
    accept();
  });
  connect(OnceBtn, &QPushButton::clicked, this, [this] {
    answer_ = EHostKeyAnswer::kOnce;
    accept();
  });
  connect(StopBtn, &QPushButton::clicked, this, &QDialog::reject);
}

}  // namespace brelo
