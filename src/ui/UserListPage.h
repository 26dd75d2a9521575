// The page "ﾕｰｻﾞｰﾘｽﾄ": the host's users, picking one, mailing them, and
// reserving a fresh fetch of the list.
#pragma once

#include <QWidget>
#include <vector>
#include <functional>

class QLineEdit;
class QListWidget;
class QPushButton;

namespace brelo {

class TUserList;

class TUserListPage : public QWidget {
  Q_OBJECT
 public:
  TUserListPage(TUserList& users, QWidget* parent = nullptr);
  void Refresh();

  QListWidget* ListBox2 = nullptr;
  QLineEdit* Edit3 = nullptr;
  QLineEdit* Edit4 = nullptr;
  QPushButton* Button3 = nullptr;
  QPushButton* Button4 = nullptr;

 private:
  TUserList& users_;
  std::vector<int> shown_;  // the item of each list row
};

}  // namespace brelo
