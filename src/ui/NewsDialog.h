// 新着一覧: every host and board with articles not read since they came,
// and the articles themselves; opening one shows it in the browser.
#pragma once

#include <QDialog>
#include <functional>
#include <vector>

#include "reader/News.h"

class QLabel;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace brelo {

class TNewsDialog : public QDialog {
  Q_OBJECT
 public:
  explicit TNewsDialog(QWidget* parent = nullptr);

  // The hosts' news as it stands; the list keeps the item the user was on
  // when it is still there.
  void Show(const std::vector<THostNews>& hosts);

  QTreeWidget* Tree = nullptr;
  QLabel* Summary = nullptr;
  QPushButton* ClearButton = nullptr;  // 一覧をクリア: the articles leave the list, unread
  // An article chosen (double click, Enter): host, board, index number.
  std::function<void(int host, int board, int indexNo)> OnOpen;
  std::function<void()> OnClear;

  // The item of an article, for tests and the keyboard (nullptr when absent).
  QTreeWidgetItem* ArticleItem(int host, int board, int indexNo) const;
};

}  // namespace brelo
