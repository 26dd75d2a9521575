#include "ui/SearchDialog.h"

#include <QLabel>
#include <QListWidget>
#include <QVBoxLayout>

#include "common/StringLock.h"
#include "ui/Fonts.h"
#include "ui/Text.h"

namespace brelo {

TSearchDialog::TSearchDialog(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("アーティクル検索"));
  summary_ = new QLabel;
  Hits = new QListWidget;
  Hits->setFont(FixedGothicFont(12));
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(summary_);
  layout->addWidget(Hits, 1);
  resize(600, 360);
  connect(Hits, &QListWidget::itemActivated, this, [this](QListWidgetItem* item) {
    const int i = Hits->row(item);
    if (OnOpen && i >= 0 && i < static_cast<int>(hits_.size())) OnOpen(hits_[static_cast<size_t>(i)]);
  });
}

void TSearchDialog::Show(const TMessageStore& store, const std::vector<TSearchHit>& hits, const QString& text) {
  hits_ = hits;
  Hits->clear();
  for (const TSearchHit& h : hits_) {
    const TBoardEntry& b = store.BoardTable[static_cast<size_t>(h.Board)];
    Hits->addItem(Q(SafeFormat("%.2d %-8.8s #%.4d %.8s %.14s  ", h.Board, b.Name, h.Article.MesNo, h.Article.FromID,
                               h.Article.FromHandle) +
                    h.Article.Title));
  }
  summary_->setText(QStringLiteral("「%1」: %2 件 (ダブルクリックで開きます)").arg(text).arg(hits_.size()));
  show();
  raise();
}

}  // namespace brelo
