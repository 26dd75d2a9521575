// The page "アーティクルブラウザ": board list, threaded article list, the
// button bar with the two-line header, and the article text. It binds its
// controls to a TArticleBrowser.
#pragma once

#include <QAbstractListModel>
#include <QFont>
#include <QListView>
#include <QWidget>

#include "reader/ArticleBrowser.h"

class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QSplitter;
class QToolButton;

namespace brelo {

// The article list as a model: a row's text is drawn when the view shows it.
class TArticleListModel : public QAbstractListModel {
  Q_OBJECT
 public:
  TArticleListModel(TArticleBrowser& browser, const QFont& font) : browser_(browser), font_(font) {}
  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  void Reset() {
    beginResetModel();
    endResetModel();
  }

 private:
  TArticleBrowser& browser_;
  QFont font_;  // the list's, made bold for unread rows
};

// ListBox1: a list view with the few list-box calls the page and its tests use.
class TArticleListView : public QListView {
  Q_OBJECT
 public:
  using QListView::QListView;
  int count() const { return model() ? model()->rowCount() : 0; }
  int currentRow() const { return currentIndex().isValid() ? currentIndex().row() : -1; }
  void setCurrentRow(int row);
  QString itemText(int row) const;
};

// The item role of a board line's counts ("未読 3 新着 2"), drawn at the
// right of the line.
constexpr int kCountsRole = Qt::UserRole + 1;

class TBrowserPage : public QWidget {
  Q_OBJECT
 public:
  explicit TBrowserPage(TArticleBrowser& browser, QWidget* parent = nullptr);

  QListWidget* Boards = nullptr;
  TArticleListView* ListBox1 = nullptr;
  TArticleListModel* Articles = nullptr;
  QPlainTextEdit* Memo1 = nullptr;
  QLabel* Label1 = nullptr;
  QToolButton* UPButton = nullptr;
  QToolButton* DOWNButton = nullptr;
  QPushButton* NewButton = nullptr;
  QPushButton* ResButton = nullptr;
  QToolButton* NewMode = nullptr;
  QToolButton* MidokuMode = nullptr;
  QSplitter* TopSplitter = nullptr;   // boards | articles
  QSplitter* MainSplitter = nullptr;  // lists above, the article below
  QLineEdit* SearchText = nullptr;    // the search field under the boards
  QToolButton* SearchButton = nullptr;

 private:
  void FillBoards();
  void FillCounts();
  void FillRows();
  void ShowArticle();
  void FitBoardPane();

  TArticleBrowser& browser_;
  bool updating_ = false;  // selection set by the model, not by the user
  bool boardWidthChosen_ = false;  // the user moved the splitter
  int topArticle_ = -1;    // the record at the top of the list while it is refreshed
};

}  // namespace brelo
