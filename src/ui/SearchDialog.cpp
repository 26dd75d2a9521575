#include "ui/SearchDialog.h"

#include <QLabel>
#include <QListView>
#include <QVBoxLayout>

#include "common/FileUtil.h"
#include "common/MainThread.h"
#include "common/StringLock.h"
#include "ui/Fonts.h"
#include "ui/Text.h"

namespace brelo {

void TSearchHitList::Reset(const TMessageStore& store) {
  beginResetModel();
  store_ = store;
  refs_.clear();
  refs_.shrink_to_fit();
  lines_.clear();
  endResetModel();
}

void TSearchHitList::Append(const std::vector<TRef>& refs) {
  if (refs.empty()) return;
  const int first = static_cast<int>(refs_.size());
  beginInsertRows(QModelIndex(), first, first + static_cast<int>(refs.size()) - 1);
  refs_.insert(refs_.end(), refs.begin(), refs.end());
  endInsertRows();
}

int TSearchHitList::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(refs_.size());
}

QVariant TSearchHitList::data(const QModelIndex& index, int role) const {
  if (role != Qt::DisplayRole || !index.isValid() || index.row() >= rowCount()) return QVariant();
  if (const QString* line = lines_.object(index.row())) return *line;
  const TRef& r = refs_[static_cast<size_t>(index.row())];
  std::vector<TVeskoMessage> one;
  QString line;
  try {
    if (store_.ReadIndexRange(r.Board, r.IndexNo, 1, one) == 1) {
      const TVeskoMessage& m = one.front();
      const TBoardEntry& b = store_.BoardTable[static_cast<size_t>(r.Board)];
      line = Q(SafeFormat("%.2d %-8.8s #%.4d %.8s %.14s  ", r.Board, b.Name, m.MesNo, m.FromID, m.FromHandle) + m.Title);
    }
  } catch (const EInOutError& e) {
    line = Q(e.what());
  }
  lines_.insert(index.row(), new QString(line));
  return line;
}

TSearchDialog::TSearchDialog(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("アーティクル検索"));
  summary_ = new QLabel;
  Hits = new QListView;
  Hits->setAccessibleName(QStringLiteral("検索結果"));
  Hits->setFont(FixedGothicFont(12));
  Hits->setUniformItemSizes(true);  // a hundred thousand rows lay out at once
  Hits->setEditTriggers(QAbstractItemView::NoEditTriggers);
  Hits->setModel(&list_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(summary_);
  layout->addWidget(Hits, 1);
  resize(600, 360);
  connect(Hits, &QListView::activated, this, [this](const QModelIndex& index) {
    if (OnOpen && index.isValid()) OnOpen(list_.At(index.row()).Board, list_.At(index.row()).IndexNo);
  });
}

TSearchDialog::~TSearchDialog() { Stop(); }

void TSearchDialog::Stop() {
  if (cancel_) *cancel_ = true;
  if (worker_.joinable()) worker_.join();  // it stops within one step
  if (!finished_) {
    finished_ = true;
    stopped_ = true;
    ShowSummary();
  }
}

void TSearchDialog::reject() {
  // Escape stops a search still running; once it is over it closes the window.
  if (Searching()) {
    Stop();
    return;
  }
  QDialog::reject();
}

void TSearchDialog::Start(const TMessageStore& store, const std::string& sjisText, const QString& text) {
  Stop();
  ++job_;
  text_ = text;
  finished_ = false;
  stopped_ = false;
  list_.Reset(store);
  cancel_ = std::make_shared<std::atomic<bool>>(false);
  auto search = std::make_shared<TArticleSearch>(store, sjisText);
  worker_ = std::thread([this, search, cancel = cancel_, job = job_, alive = std::weak_ptr<char>(alive_)] {
    std::vector<TSearchHitList::TRef> refs;
    std::string error;
    try {
      bool more = true;
      while (more && !*cancel) {
        more = search->Step(4096, [&](const TSearchHit& h) { refs.push_back({h.Board, h.Article.IndexNo}); });
        if (!refs.empty() || !more) {
          PostToMain([this, alive, job, batch = std::move(refs), more] {
            if (alive.lock()) Progress(job, batch, !more);
          });
          refs.clear();
        }
      }
    } catch (const EInOutError& e) {
      error = e.what();
      PostToMain([this, alive, job, error] {
        if (!alive.lock()) return;
        Progress(job, {}, true);
        if (OnError) OnError(error);
      });
    }
  });
  ShowSummary();
  show();
  raise();
}

void TSearchDialog::Progress(int job, std::vector<TSearchHitList::TRef> refs, bool done) {
  if (job != job_) return;  // a search that was replaced
  list_.Append(refs);
  if (done && !finished_) {
    finished_ = true;
    if (worker_.joinable()) worker_.join();
  }
  ShowSummary();
}

void TSearchDialog::ShowSummary() {
  const int n = list_.rowCount();
  if (!finished_) {
    summary_->setText(QStringLiteral("「%1」を検索中: %2 件 (Esc で止めます)").arg(text_).arg(n));
  } else if (stopped_) {
    summary_->setText(QStringLiteral("「%1」: %2 件で止めました (ダブルクリックで開きます)").arg(text_).arg(n));
  } else {
    summary_->setText(QStringLiteral("「%1」: %2 件 (ダブルクリックで開きます)").arg(text_).arg(n));
  }
}

}  // namespace brelo
