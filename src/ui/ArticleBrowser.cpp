#include "ui/ArticleBrowser.h"

#include <algorithm>

#include "common/FileUtil.h"
#include "common/Sjis.h"
#include "common/StringLock.h"

namespace brelo {
namespace {
// The tree cells, full-width Shift-JIS characters.
const std::string& Cell(int kind) {
  static const std::string kVertical = Sjis("│"), kTee = Sjis("├"), kCorner = Sjis("└"), kBlank = "  ";
  switch (kind) {
    case 0: return kVertical;
    case 1: return kTee;
    case 2: return kCorner;
    default: return kBlank;
  }
}
constexpr int kMaxDepth = 31;
}  // namespace

int32_t ParentNumber(const std::string& title) {
  if (title.compare(0, 3, "Re:") != 0) return 0;
  const int close = SafePos(")", title);
  if (close == 0) return 0;
  return SafeStrToIntDef(SafeCopy(title, 4, close - 4), 0);
}

void TArticleBrowser::Clear() {
  BoardLines.clear();
  Rows.clear();
  ArticleArray.clear();
  ThreadList.clear();
  SelectedBoard = SelectedRow = -1;
  CurrentBoard = -1;
  Header.clear();
  Text.clear();
  NewButtonEnabled = ResButtonEnabled = false;
  ArticleOpened = false;
  CurrentArticle = NoArticle();
  Notify(OnBoardsChanged);
  Notify(OnRowsChanged);
  Notify(OnArticleChanged);
}

void TArticleBrowser::ShowBoardList() {
  try {
    store_.LoadBoards();
  } catch (const EInOutError& e) {
    if (OnError) OnError(e.what());
  }
  Clear();
  for (int b = 0; b < kBoardCount; ++b) {
    const TBoardEntry& e = store_.BoardTable[static_cast<size_t>(b)];
    if (e.Active) BoardLines.push_back(SafeFormat("%.2d %.8s ", b, e.Name) + e.Title);
  }
  Notify(OnBoardsChanged);
}

void TArticleBrowser::SelectBoard(int line) {
  SelectedBoard = line;
  Notify(OnBoardSelected);
}

void TArticleBrowser::SelectRow(int row) {
  SelectedRow = row;
  Notify(OnRowSelected);
}

int TArticleBrowser::BoardOfLine(const std::string& l) {
  const std::string two = l.substr(0, 2);
  if (two.size() == 2 && two.find_first_not_of("0123456789") == std::string::npos) return SafeStrToIntDef(two, -1);
  return -1;
}

void TArticleBrowser::BoardsClick(int line) {
  SelectedBoard = line;
  CurrentBoard = line >= 0 && line < static_cast<int>(BoardLines.size()) ? BoardOfLine(BoardLines[static_cast<size_t>(line)]) : -1;
  ShowArticleList();
}

void TArticleBrowser::ShowArticleList() {
  std::fill(numberMap_.begin(), numberMap_.end(), -1);
  try {
    store_.ReadIndex(CurrentBoard, kListed, ArticleArray);
  } catch (const EInOutError& e) {
    ArticleArray.clear();
    if (OnError) OnError(e.what());
  }
  for (size_t i = 0; i < ArticleArray.size(); ++i) {
    const int32_t n = ArticleArray[i].MesNo;
    if (n >= 0 && n < kMapSize) numberMap_[static_cast<size_t>(n)] = static_cast<int>(i);
  }
  BuildThreads();
  Rows.clear();
  Rows.reserve(ThreadList.size());
  for (size_t r = 0; r < ThreadList.size(); ++r) Rows.push_back(RowText(static_cast<int>(r)));
  SelectedRow = -1;
  ResButtonEnabled = false;
  NewButtonEnabled = true;
  Notify(OnRowsChanged);
  Notify(OnArticleChanged);
}

void TArticleBrowser::BuildThreads() {
  ThreadList.clear();
  ThreadList.reserve(ArticleArray.size() + 1);
  std::vector<int32_t> present, parent;
  present.reserve(ArticleArray.size());
  parent.reserve(ArticleArray.size());
  for (int32_t n = 0; n < kMapSize; ++n) {
    const int a = numberMap_[static_cast<size_t>(n)];
    if (a < 0) continue;
    present.push_back(n);
    parent.push_back(ParentNumber(ArticleArray[static_cast<size_t>(a)].Title));
  }
  for (size_t i = 0; i < present.size(); ++i) {
    const int32_t p = present[i];
    const bool listed = std::any_of(ThreadList.begin(), ThreadList.end(), [p](const TThreadRow& r) { return r.MesNo == p; });
    if (!listed) {
      TThreadRow row;
      row.MesNo = p;
      ThreadList.push_back(row);
    }
    for (size_t j = i + 1; j < present.size(); ++j) {
      if (parent[j] == p) InsertReply(p, present[j]);
    }
  }
  for (TThreadRow& r : ThreadList) r.Article = numberMap_[static_cast<size_t>(r.MesNo)];
  // Numbers outside the map cannot thread: they are listed as roots after the
  // tree, in ascending order, so that nothing is left out.
  std::vector<int> outside;
  for (size_t i = 0; i < ArticleArray.size(); ++i) {
    const int32_t n = ArticleArray[i].MesNo;
    if (n < 0 || n >= kMapSize) outside.push_back(static_cast<int>(i));
  }
  std::stable_sort(outside.begin(), outside.end(), [this](int a, int b) {
    return ArticleArray[static_cast<size_t>(a)].MesNo < ArticleArray[static_cast<size_t>(b)].MesNo;
  });
  for (int a : outside) {
    TThreadRow row;
    row.MesNo = ArticleArray[static_cast<size_t>(a)].MesNo;
    row.Article = a;
    ThreadList.push_back(row);
  }
}

void TArticleBrowser::InsertReply(int32_t p, int32_t c) {
  size_t i = 0;
  while (i < ThreadList.size() && ThreadList[i].MesNo != p) ++i;
  if (i == ThreadList.size()) {
    TThreadRow row;
    row.MesNo = c;
    ThreadList.push_back(row);
    return;
  }
  const int depth = ThreadList[i].Depth;
  size_t a = i + 1;
  while (a < ThreadList.size() && ThreadList[a].Depth > depth) ++a;
  // The new row keeps the link bytes of the row that will follow it.
  TThreadRow row;
  if (a < ThreadList.size()) row.Links = ThreadList[a].Links;
  row.MesNo = c;
  row.Depth = std::min(depth + 1, kMaxDepth);
  if (depth < kMaxDepth) row.Links[static_cast<size_t>(depth)] = 1;
  ThreadList.insert(ThreadList.begin() + static_cast<long>(a), row);
}

bool TArticleBrowser::Marked(const TVeskoMessage& m) const { return NewMode ? m.NewMark != 0 : m.Unread != 0; }

std::string TArticleBrowser::RowText(int r) const {
  const TThreadRow& row = ThreadList[static_cast<size_t>(r)];
  const TVeskoMessage& m = ArticleArray[static_cast<size_t>(row.Article)];
  std::string mark = "-";
  if (NewMode && m.NewMark) mark = "N";
  if (!NewMode && m.Unread) mark = "R";
  std::string prefix;
  const TThreadRow* next = static_cast<size_t>(r) + 1 < ThreadList.size() ? &ThreadList[static_cast<size_t>(r) + 1] : nullptr;
  for (int j = 0; j < row.Depth; ++j) {
    const bool A = row.Links[static_cast<size_t>(j)];
    const bool B = next != nullptr && next->Links[static_cast<size_t>(j)];
    const bool C = j + 1 < kMaxDepth && row.Links[static_cast<size_t>(j) + 1];
    int kind = 3;
    if (A && B && j < row.Depth - 1) kind = 0;
    else if (A && B && !C) kind = 1;
    else if (A && !B && !C) kind = 2;
    prefix += Cell(kind);
  }
  return SafeFormat("%s  %s%.4d %.8s %.14s %.40s", mark, prefix, m.MesNo, m.FromID, m.FromHandle, m.Title);
}

void TArticleBrowser::OpenArticle(int row) {
  if (row < 0 || row >= static_cast<int>(ThreadList.size())) return;
  SelectedRow = row;
  CurrentArticle = ArticleArray[static_cast<size_t>(ThreadList[static_cast<size_t>(row)].Article)];
  try {
    CurrentArticle.Text = store_.ReadText(CurrentBoard, CurrentArticle.TextPos, CurrentArticle.TextLen);
  } catch (const EInOutError& e) {
    CurrentArticle.Text.clear();
    if (OnError) OnError(e.what());
  }
  ArticleOpened = true;
  Text = CurrentArticle.Text;
  const std::string when = DateText ? DateText(CurrentArticle.Date) : FormatDateTime(CurrentArticle.Date);
  Header = SafeFormat("#%4d From:%s / %s D/T: %s\r\nSub: %s", CurrentArticle.MesNo, CurrentArticle.FromID,
                      CurrentArticle.FromHandle, when, CurrentArticle.Title);
  CurrentArticle.Unread = 0;
  try {
    store_.SetMarks(CurrentBoard, CurrentArticle.IndexNo, CurrentArticle.Marks());
  } catch (const EInOutError& e) {
    if (OnError) OnError(e.what());
  }
  ResButtonEnabled = true;
  Notify(OnRowSelected);
  Notify(OnArticleChanged);
  Notify(OnFocusText);
}

void TArticleBrowser::NewModeClick(bool newMode) {
  NewMode = newMode;
  const int keep = SelectedRow;
  ShowArticleList();
  if (keep >= 0 && keep < static_cast<int>(Rows.size())) SelectRow(keep);
}

bool TArticleBrowser::FindMarkedBefore() {
  int r = SelectedRow >= 0 ? SelectedRow - 1 : static_cast<int>(ThreadList.size()) - 1;
  for (; r >= 0; --r) {
    if (Marked(ArticleArray[static_cast<size_t>(ThreadList[static_cast<size_t>(r)].Article)])) {
      SelectRow(r);
      OpenArticle(r);
      return true;
    }
  }
  return false;
}

bool TArticleBrowser::FindMarkedAfter() {
  int r = SelectedRow >= 0 ? SelectedRow + 1 : 0;
  for (; r < static_cast<int>(ThreadList.size()); ++r) {
    if (Marked(ArticleArray[static_cast<size_t>(ThreadList[static_cast<size_t>(r)].Article)])) {
      SelectRow(r);
      OpenArticle(r);
      return true;
    }
  }
  return false;
}

void TArticleBrowser::UPButtonClick() {
  if (SelectedBoard >= 0 && FindMarkedBefore()) return;
  while (SelectedBoard > 0) {
    SelectBoard(SelectedBoard - 1);
    BoardsClick(SelectedBoard);
    if (FindMarkedBefore()) return;
  }
  if (OnMessage) OnMessage(Sjis("前のアーティクルはありません"), Sjis("ごめんなさい"));
}

void TArticleBrowser::DOWNButtonClick() {
  if (SelectedBoard >= 0 && FindMarkedAfter()) return;
  for (;;) {
    if (SelectedBoard + 1 >= static_cast<int>(BoardLines.size())) {
      if (OnMessage) OnMessage(Sjis("次のアーティクルはありません"), Sjis("ごめんなさい"));
      return;
    }
    SelectBoard(SelectedBoard + 1);
    BoardsClick(SelectedBoard);
    if (FindMarkedAfter()) return;
  }
}

void TArticleBrowser::K3Click() {
  if (SelectedRow > 0) {
    SelectRow(SelectedRow - 1);
  } else if (SelectedBoard > 0) {
    SelectBoard(SelectedBoard - 1);
    BoardsClick(SelectedBoard);
    if (Rows.empty()) return;
    SelectRow(static_cast<int>(Rows.size()) - 1);
  } else {
    return;
  }
  OpenArticle(SelectedRow);
}

void TArticleBrowser::K4Click() {
  if (SelectedRow + 1 < static_cast<int>(Rows.size())) {
    SelectRow(SelectedRow + 1);
  } else if (SelectedBoard + 1 < static_cast<int>(BoardLines.size())) {
    SelectBoard(SelectedBoard + 1);
    BoardsClick(SelectedBoard);
    if (Rows.empty()) return;
    SelectRow(0);
  } else {
    return;
  }
  OpenArticle(SelectedRow);
}

}  // namespace brelo
