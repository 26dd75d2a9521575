// "アーティクル検索": the stored articles of the selected host that contain a
// text, listed with board, number, sender and title; a chosen one opens in
// the browser. The search runs on a thread of its own in steps: hits show as
// they come, the window never waits, and a new search or Escape stops it.
// The list keeps only where each hit is (board and record); its lines are
// read from the index when they are shown, so a search that hits the whole
// store costs a few bytes per hit.
#pragma once

#include <QAbstractListModel>
#include <QCache>
#include <QDialog>
#include <atomic>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "store/ArticleSearch.h"

class QLabel;
class QListView;

namespace brelo {

class TSearchHitList : public QAbstractListModel {
 public:
  struct TRef {
    int Board;
    int IndexNo;
  };
  void Reset(const TMessageStore& store);
  void Append(const std::vector<TRef>& refs);
  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  const TRef& At(int row) const { return refs_[static_cast<size_t>(row)]; }
  const std::string& Folder() const { return store_.HostFolder; }

 private:
  TMessageStore store_;
  std::vector<TRef> refs_;
  mutable QCache<int, QString> lines_{512};
};

class TSearchDialog : public QDialog {
  Q_OBJECT
 public:
  explicit TSearchDialog(QWidget* parent = nullptr);
  ~TSearchDialog() override;
  // Starts searching the store for sjisText (shown as text), stopping any
  // search still running.
  void Start(const TMessageStore& store, const std::string& sjisText, const QString& text);
  // Stops the running search; the hits found so far stay listed.
  void Stop();
  bool Searching() const { return worker_.joinable() && !finished_; }
  // The host folder the hits belong to.
  const std::string& Folder() const { return list_.Folder(); }

  QListView* Hits = nullptr;
  // Called with the board and record of a chosen hit.
  std::function<void(int board, int indexNo)> OnOpen;
  // Called with the error text when a file cannot be read.
  std::function<void(const std::string&)> OnError;

 protected:
  void reject() override;

 private:
  void Progress(int job, std::vector<TSearchHitList::TRef> refs, bool done);
  void ShowSummary();

  QLabel* summary_ = nullptr;
  TSearchHitList list_;
  QString text_;
  std::thread worker_;
  std::shared_ptr<std::atomic<bool>> cancel_;
  int job_ = 0;
  bool finished_ = true;
  bool stopped_ = false;
  std::shared_ptr<char> alive_ = std::make_shared<char>(0);
};

}  // namespace brelo
