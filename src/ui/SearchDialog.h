// "アーティクル検索": the stored articles of the selected host that contain a
// text, listed with board, number, sender and title; a chosen one opens in
// the browser.
#pragma once

#include <QDialog>
#include <functional>
#include <vector>

#include "store/ArticleSearch.h"

class QLabel;
class QListWidget;

namespace brelo {

class TSearchDialog : public QDialog {
  Q_OBJECT
 public:
  explicit TSearchDialog(QWidget* parent = nullptr);
  // Shows the hits of text in the store.
  void Show(const TMessageStore& store, const std::vector<TSearchHit>& hits, const QString& text);

  QListWidget* Hits = nullptr;
  std::function<void(const TSearchHit&)> OnOpen;

 private:
  QLabel* summary_ = nullptr;
  std::vector<TSearchHit> hits_;
};

}  // namespace brelo
