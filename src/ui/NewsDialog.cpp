#include "ui/NewsDialog.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "common/StringLock.h"
#include "ui/Fonts.h"
#include "ui/Text.h"

namespace brelo {
namespace {
enum { kHostRole = Qt::UserRole + 1, kBoardRole, kIndexRole };
}  // namespace

TNewsDialog::TNewsDialog(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("新着一覧"));
  Summary = new QLabel;
  Tree = new QTreeWidget;
  Tree->setAccessibleName(QStringLiteral("新着一覧"));
  Tree->setColumnCount(3);
  Tree->setHeaderLabels({QStringLiteral("ホスト / ボード / 番号"), QStringLiteral("発信者"), QStringLiteral("タイトル")});
  Tree->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
  Tree->setFont(UiFont());
  connect(Tree, &QTreeWidget::itemActivated, this, [this](QTreeWidgetItem* item) {
    const QVariant host = item->data(0, kHostRole);
    if (!item->data(0, kIndexRole).isValid() || !OnOpen) return;
    OnOpen(host.toInt(), item->data(0, kBoardRole).toInt(), item->data(0, kIndexRole).toInt());
  });
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::close);
  ClearButton = buttons->addButton(QStringLiteral("一覧をクリア(&C)"), QDialogButtonBox::ActionRole);
  ClearButton->setToolTip(QStringLiteral("一覧を空にします。記事は未読のまま残ります"));
  ClearButton->setAutoDefault(false);
  connect(ClearButton, &QPushButton::clicked, this, [this] {
    if (OnClear) OnClear();
  });
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(Summary);
  layout->addWidget(Tree, 1);
  layout->addWidget(buttons);
  resize(640, 420);
}

void TNewsDialog::Show(const std::vector<THostNews>& hosts) {
  // The place: the article (or board, or host) the user was on.
  int keepHost = -1, keepBoard = -1, keepIndex = -1;
  if (QTreeWidgetItem* c = Tree->currentItem()) {
    keepHost = c->data(0, kHostRole).toInt();
    keepBoard = c->data(0, kBoardRole).isValid() ? c->data(0, kBoardRole).toInt() : -1;
    keepIndex = c->data(0, kIndexRole).isValid() ? c->data(0, kIndexRole).toInt() : -1;
  }
  Tree->clear();
  QTreeWidgetItem* keep = nullptr;
  int total = 0;
  for (const THostNews& h : hosts) {
    if (h.Empty()) continue;
    auto* hostItem = new QTreeWidgetItem(Tree, {Q(NewsLine(h))});
    hostItem->setFirstColumnSpanned(true);  // the host's line and the boards' run across the columns
    hostItem->setData(0, kHostRole, h.host);
    if (h.host == keepHost) keep = hostItem;
    for (const TBoardNews& b : h.boards) {
      auto* boardItem = new QTreeWidgetItem(
          hostItem, {Q(SafeFormat("%.2d %.8s ", b.board, b.name) + b.title) +
                     QStringLiteral(" (%1)").arg(static_cast<int>(b.articles.size()))});
      boardItem->setFirstColumnSpanned(true);
      boardItem->setData(0, kHostRole, h.host);
      boardItem->setData(0, kBoardRole, b.board);
      if (h.host == keepHost && b.board == keepBoard) keep = boardItem;
      for (const TNewsArticle& a : b.articles) {
        auto* item = new QTreeWidgetItem(boardItem, {Q(SafeFormat("#%.4d", a.mesNo)),
                                                      Q(a.fromID + " " + a.fromHandle), Q(a.title)});
        item->setData(0, kHostRole, h.host);
        item->setData(0, kBoardRole, b.board);
        item->setData(0, kIndexRole, a.indexNo);
        if (h.host == keepHost && b.board == keepBoard && a.indexNo >= keepIndex && keepIndex >= 0 &&
            (keep == nullptr || keep == boardItem)) {
          keep = item;  // the article opened, or the one after it
        }
        ++total;
      }
    }
  }
  Tree->expandAll();
  Summary->setText(total == 0 ? QStringLiteral("新着はありません。")
                              : QStringLiteral("まだ読んでいない新着 %1 件 (ダブルクリックまたは Enter で開きます)").arg(total));
  ClearButton->setEnabled(total > 0);
  if (keep != nullptr) Tree->setCurrentItem(keep);
  else if (Tree->topLevelItemCount() > 0) Tree->setCurrentItem(Tree->topLevelItem(0));
}

QTreeWidgetItem* TNewsDialog::ArticleItem(int host, int board, int indexNo) const {
  for (QTreeWidgetItemIterator it(Tree); *it; ++it) {
    QTreeWidgetItem* i = *it;
    if (i->data(0, kIndexRole).isValid() && i->data(0, kHostRole).toInt() == host &&
        i->data(0, kBoardRole).toInt() == board && i->data(0, kIndexRole).toInt() == indexNo) {
      return i;
    }
  }
  return nullptr;
}

}  // namespace brelo
