#include "ui/UserListPage.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/Fonts.h"
#include "ui/Text.h"
#include "reader/UserList.h"

namespace brelo {

TUserListPage::TUserListPage(TUserList& users, QWidget* parent) : QWidget(parent), users_(users) {
  ListBox2 = new QListWidget;
  ListBox2->setObjectName(QStringLiteral("ListBox2"));
  ListBox2->setFont(FixedFont(16));  // the host's columns line up
  Edit3 = new QLineEdit;
  Edit4 = new QLineEdit;
  Button3 = new QPushButton(QStringLiteral("メール送信"));
  Button4 = new QPushButton(QStringLiteral("次のｱｸｾｽでの拾得予約"));
  auto* panel = new QWidget;
  panel->setFixedWidth(160);
  auto* p = new QVBoxLayout(panel);
  p->addWidget(new QLabel(QStringLiteral("ID : ")));
  p->addWidget(Edit3);
  p->addWidget(new QLabel(QStringLiteral("ハンドル :")));
  p->addWidget(Edit4);
  p->addWidget(Button3);
  p->addWidget(Button4);
  p->addStretch(1);
  auto* layout = new QHBoxLayout(this);
  layout->addWidget(ListBox2, 1);
  layout->addWidget(panel);
  ListBox2->setAccessibleName(QStringLiteral("ユーザーリスト"));
  Edit3->setAccessibleName(QStringLiteral("ID"));
  Edit4->setAccessibleName(QStringLiteral("ハンドル"));
  connect(ListBox2, &QListWidget::currentRowChanged, this, [this](int row) {
    // A click that selects nothing leaves the fields as they are.
    if (row < 0 || row >= static_cast<int>(shown_.size())) return;
    std::string id, handle;
    TUserList::Pick(users_.Items[static_cast<size_t>(shown_[static_cast<size_t>(row)])], id, handle);
    Edit3->setText(Q(id));
    Edit4->setText(Q(handle));
  });
}

void TUserListPage::Refresh() {
  ListBox2->clear();
  shown_ = users_.ShownItems();
  for (int i : shown_) ListBox2->addItem(Q(users_.Items[static_cast<size_t>(i)]));
}

}  // namespace brelo
