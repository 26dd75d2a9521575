// The article browser's rules, without widgets: the board list, the threaded
// article list with its marks, opening an article, and the navigation from
// marked article to marked article across boards. The browser page binds its
// controls to it and follows its notifications.
#pragma once

#include <array>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "reader/News.h"
#include "session/VeskoMessage.h"
#include "store/MessageStore.h"

namespace brelo {

struct TThreadRow {
  std::array<uint8_t, 31> Links{};  // 1 = this row takes part in the tree line of that level
  int Depth = 0;                    // 0 = root; capped at 31 for drawing
  int32_t MesNo = 0;
  int Article = -1;                 // position in ArticleArray
};

class TArticleBrowser {
 public:
  static constexpr int kListed = 999;    // the newest articles of a board
  static constexpr int kMapSize = 10000; // message numbers 0-9999 thread by number

  explicit TArticleBrowser(TMessageStore& store) : store_(store) {}

  // What the page shows.
  std::vector<std::string> BoardLines;   // "%.2d %.8s " + Title, Shift-JIS
  std::vector<TBoardCounts> BoardCounts; // beside each line: unread and new
  int SelectedBoard = -1;                // line of BoardLines
  int SelectedRow = -1;                  // row of the article list
  bool NewMode = true;                   // "Ｎ" down; otherwise the unread mode
  bool NewButtonEnabled = false;
  bool ResButtonEnabled = false;
  std::string Header;                    // Label1, two lines
  std::string Text;                      // Memo1

  // The state the drafting commands read.
  std::vector<TVeskoMessage> ArticleArray;
  std::vector<TThreadRow> ThreadList;
  int CurrentBoard = -1;
  TVeskoMessage CurrentArticle = NoArticle();
  bool ArticleOpened = false;

  // Notifications to the page.
  std::function<void()> OnBoardsChanged;   // BoardLines rebuilt
  std::function<void()> OnCountsChanged;   // BoardCounts changed, the lines did not
  std::function<void()> OnBoardSelected;   // SelectedBoard moved
  std::function<void()> OnRowsChanged;     // the article list rebuilt
  // The chosen board's list is read again in place (what a pass brought,
  // the marks as they are now): the page notes its place before, and puts
  // it back after; SelectedRow follows the selected article.
  std::function<void()> OnRowsRefreshing;
  std::function<void()> OnRowsRefreshed;
  std::function<void()> OnRowSelected;     // SelectedRow moved
  std::function<void()> OnArticleChanged;  // Header, Text, buttons
  std::function<void()> OnFocusText;
  std::function<void(const std::string& text, const std::string& caption)> OnMessage;  // Shift-JIS
  std::function<void(const std::string& sjis)> OnError;
  // The date and time of an article as the user reads them (Shift-JIS).
  std::function<std::string(TDateTime)> DateText;

  // Before any article is opened: the mailbox, number 0.
  static TVeskoMessage NoArticle() {
    TVeskoMessage m;
    m.BoardNo = 0;
    m.MesNo = 0;
    return m;
  }
  // The board number of a board-list line: its first two characters.
  static int BoardOfLine(const std::string& line);

  void ShowBoardList();
  // The boards again from the store (a pass brought more), keeping the
  // reader's place: the chosen board, the opened article and its text stay
  // as they are; the lines and their counts follow the store, and so does
  // the list of the chosen board, in place (see OnRowsRefreshed).
  void RefreshBoards();
  void Clear();  // the three lists emptied (no host selected)
  void BoardsClick(int line);
  void ShowArticleList();
  // The rows of the thread tree: replies after their parent in ascending
  // number order, each after the complete subtree of the replies before it;
  // a reply whose parent is absent or higher-numbered is a root. Each row's
  // link bytes are those of the row that follows its parent's subtree, plus
  // its own level: what inserting replies one by one at the end of their
  // parent's subtree gives, computed in linear time.
  void BuildThreads();
  // The rows of the article list: drawn when shown (Shift-JIS).
  int RowCount() const { return static_cast<int>(ThreadList.size()); }
  std::string RowText(int r) const;
  void RowTextInto(int r, std::string& text) const;
  const TVeskoMessage& RowArticle(int r) const {
    return ArticleArray[static_cast<size_t>(ThreadList[static_cast<size_t>(r)].Article)];
  }
  // The row of a record of the chosen board (-1 when it is not listed).
  int RowOfIndex(int indexNo) const;
  // A row's own state, whatever the mode: not opened (opening takes it off
  // at once, though the row's mark stays until the list is rebuilt), and
  // new among the board's articles.
  bool RowUnread(int r) const;
  bool RowNew(int r) const { return RowArticle(r).NewMark != 0; }
  void OpenArticle(int row);  // ListBox1Click
  // Opens a stored article found elsewhere (a search): its board is shown and
  // its row opened; an article older than the listed ones opens alone. The
  // marks are written back as OpenArticle writes them.
  void OpenStored(int board, int indexNo);
  void NewModeClick(bool newMode);
  bool Marked(const TVeskoMessage& m) const;
  // Navigation: ▲ ▼ and the jump menu.
  void UPButtonClick();
  void DOWNButtonClick();
  void K3Click();
  void K4Click();

 private:
  bool FindMarkedBefore();
  bool FindMarkedAfter();
  void SelectBoard(int line);
  void FillBoardLines();
  // The chosen board's list again, when the store has more or other marks.
  void RefreshList();
  // NumberMap from ArticleArray.
  void MapNumbers();
  void SelectRow(int row);
  void Notify(const std::function<void()>& f) {
    if (f) f();
  }

  TMessageStore& store_;
  // Articles opened since the counts were read: the list keeps their old
  // marks, and a second opening must not count them again.
  std::set<std::pair<int, int>> countedRead_;
  bool listed_ = false;             // ArticleArray is CurrentBoard's list (not an article alone)
  std::vector<TVeskoMessage> fresh_;  // RefreshList's reading, kept between calls
  std::vector<int> numberMap_ = std::vector<int>(kMapSize, -1);
  // Scratch of BuildThreads, kept between lists.
  std::vector<int> rank_ = std::vector<int>(kMapSize, -1);
  std::vector<int32_t> present_;
  std::vector<int> parentRank_, replyStart_, replies_, fill_, parentRow_;
  std::vector<std::pair<int, int>> stack_;
};

// The parent number of a "Re:%d)" title, 0 when the title is no answer.
int32_t ParentNumber(const std::string& title);

}  // namespace brelo
