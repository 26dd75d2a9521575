// The page "アーティクルブラウザ": board list, threaded article list, the
// button bar with the two-line header, and the article text. It binds its
// controls to a TArticleBrowser.
#pragma once

#include <QWidget>

#include "ui/ArticleBrowser.h"

class QLabel;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QSplitter;
class QToolButton;

namespace brelo {

class TBrowserPage : public QWidget {
  Q_OBJECT
 public:
  explicit TBrowserPage(TArticleBrowser& browser, QWidget* parent = nullptr);

  QListWidget* Boards = nullptr;
  QListWidget* ListBox1 = nullptr;
  QPlainTextEdit* Memo1 = nullptr;
  QLabel* Label1 = nullptr;
  QToolButton* UPButton = nullptr;
  QToolButton* DOWNButton = nullptr;
  QPushButton* NewButton = nullptr;
  QPushButton* ResButton = nullptr;
  QToolButton* NewMode = nullptr;
  QToolButton* MidokuMode = nullptr;
  QSplitter* TopSplitter = nullptr;

 private:
  void FillBoards();
  void FillRows();
  void ShowArticle();

  TArticleBrowser& browser_;
  bool updating_ = false;  // selection set by the model, not by the user
};

}  // namespace brelo
