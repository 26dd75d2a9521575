#include "reader/ArticleBrowser.h"

#include <algorithm>
#include <cstdio>
#include <cstdint>
#include <cstring>

#include "common/FileUtil.h"
#include "common/Sjis.h"
#include "common/StringLock.h"

namespace brelo {
namespace {
// The tree cells, full-width Shift-JIS characters: │ ├ └ and two blanks.
constexpr char kCells[4][2] = {{'\x84', '\xA0'}, {'\x84', '\xA5'}, {'\x84', '\xA4'}, {' ', ' '}};
constexpr int kMaxDepth = 31;
}  // namespace

int32_t ParentNumber(const std::string& title) {
  // The text between "Re:" and the first ")" as a decimal number; 0 when it
  // is none (the window's own parse: it runs for every listed article).
  if (title.compare(0, 3, "Re:") != 0) return 0;
  const size_t close = title.find(')');
  if (close == std::string::npos || close <= 3 || close - 3 > 10) return 0;
  int64_t v = 0;
  for (size_t i = 3; i < close; ++i) {
    const char c = title[i];
    if (c < '0' || c > '9') return 0;
    v = v * 10 + (c - '0');
  }
  return v > INT32_MAX ? 0 : static_cast<int32_t>(v);
}

void TArticleBrowser::Clear() {
  BoardLines.clear();
  BoardCounts.clear();
  countedRead_.clear();
  ArticleArray.clear();
  ThreadList.clear();
  SelectedBoard = SelectedRow = -1;
  CurrentBoard = -1;
  listed_ = false;
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
  FillBoardLines();
  Notify(OnBoardsChanged);
}

void TArticleBrowser::FillBoardLines() {
  countedRead_.clear();
  BoardLines.clear();
  BoardCounts.clear();
  for (int b = 0; b < kBoardCount; ++b) {
    const TBoardEntry& e = store_.BoardTable[static_cast<size_t>(b)];
    if (!e.Active) continue;
    BoardLines.push_back(SafeFormat("%.2d %.8s ", b, e.Name) + e.Title);
    TBoardCounts c;
    try {
      c = CountBoard(store_, b);
    } catch (const EInOutError&) {
      // The list itself reports a damaged index when the board is chosen.
    }
    BoardCounts.push_back(c);
  }
}

void TArticleBrowser::RefreshBoards() {
  if (store_.HostFolder.empty()) return;
  try {
    store_.LoadBoards();
  } catch (const EInOutError& e) {
    if (OnError) OnError(e.what());
    return;
  }
  const int chosen = SelectedBoard >= 0 && SelectedBoard < static_cast<int>(BoardLines.size())
                         ? BoardOfLine(BoardLines[static_cast<size_t>(SelectedBoard)])
                         : -1;
  const std::vector<std::string> before = BoardLines;
  FillBoardLines();
  if (BoardLines == before) {
    Notify(OnCountsChanged);
  } else {
    // A board the pass announced may come before the chosen one.
    SelectedBoard = -1;
    for (size_t i = 0; i < BoardLines.size(); ++i) {
      if (chosen >= 0 && BoardOfLine(BoardLines[i]) == chosen) SelectedBoard = static_cast<int>(i);
    }
    Notify(OnBoardsChanged);
  }
  RefreshList();
}

void TArticleBrowser::RefreshList() {
  if (!listed_) return;
  try {
    store_.ReadIndex(CurrentBoard, kListed, fresh_);
  } catch (const EInOutError& e) {
    if (OnError) OnError(e.what());
    return;
  }
  const auto same = [](const TVeskoMessage& a, const TVeskoMessage& b) {
    return a.IndexNo == b.IndexNo && a.Marks() == b.Marks() && a.TextPos == b.TextPos && a.TextLen == b.TextLen;
  };
  if (std::equal(fresh_.begin(), fresh_.end(), ArticleArray.begin(), ArticleArray.end(), same)) return;
  const int selected = SelectedRow >= 0 && SelectedRow < RowCount() ? RowArticle(SelectedRow).IndexNo : -1;
  Notify(OnRowsRefreshing);
  ArticleArray.swap(fresh_);
  MapNumbers();
  BuildThreads();
  SelectedRow = selected >= 0 ? RowOfIndex(selected) : -1;
  Notify(OnRowsRefreshed);
}

int TArticleBrowser::RowOfIndex(int indexNo) const {
  for (int r = 0; r < RowCount(); ++r) {
    if (RowArticle(r).IndexNo == indexNo) return r;
  }
  return -1;
}

bool TArticleBrowser::RowUnread(int r) const {
  const TVeskoMessage& m = RowArticle(r);
  return m.Unread != 0 && countedRead_.count({CurrentBoard, m.IndexNo}) == 0;
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

void TArticleBrowser::MapNumbers() {
  std::fill(numberMap_.begin(), numberMap_.end(), -1);
  for (size_t i = 0; i < ArticleArray.size(); ++i) {
    const int32_t n = ArticleArray[i].MesNo;
    if (n >= 0 && n < kMapSize) numberMap_[static_cast<size_t>(n)] = static_cast<int>(i);
  }
}

void TArticleBrowser::ShowArticleList() {
  try {
    store_.ReadIndex(CurrentBoard, kListed, ArticleArray);
  } catch (const EInOutError& e) {
    ArticleArray.clear();
    if (OnError) OnError(e.what());
  }
  MapNumbers();
  listed_ = CurrentBoard >= 0;
  BuildThreads();
  SelectedRow = -1;
  ResButtonEnabled = false;
  NewButtonEnabled = true;
  Notify(OnRowsChanged);
  Notify(OnArticleChanged);
}

void TArticleBrowser::BuildThreads() {
  ThreadList.clear();
  const size_t n = ArticleArray.size();
  // The present numbers in ascending order (their index in `present` is
  // their rank), each one's parent rank, and the replies of each rank laid
  // out flat in ascending order.
  std::vector<int32_t>& present = present_;
  present.clear();
  for (int32_t no = 0; no < kMapSize; ++no) {
    if (numberMap_[static_cast<size_t>(no)] >= 0) {
      rank_[static_cast<size_t>(no)] = static_cast<int>(present.size());
      present.push_back(no);
    }
  }
  const int m = static_cast<int>(present.size());
  std::vector<int>& parentRank = parentRank_;
  std::vector<int>& replyStart = replyStart_;
  std::vector<int>& replies = replies_;
  parentRank.assign(static_cast<size_t>(m), -1);
  replyStart.assign(static_cast<size_t>(m) + 1, 0);
  std::vector<int32_t> roots;
  for (int i = 0; i < m; ++i) {
    const int32_t no = present[static_cast<size_t>(i)];
    const int32_t p = ParentNumber(ArticleArray[static_cast<size_t>(numberMap_[static_cast<size_t>(no)])].Title);
    if (p > 0 && p < no && numberMap_[static_cast<size_t>(p)] >= 0) {
      parentRank[static_cast<size_t>(i)] = rank_[static_cast<size_t>(p)];
      ++replyStart[static_cast<size_t>(rank_[static_cast<size_t>(p)]) + 1];
    } else {
      roots.push_back(i);
    }
  }
  for (int i = 0; i < m; ++i) replyStart[static_cast<size_t>(i) + 1] += replyStart[static_cast<size_t>(i)];
  replies.resize(static_cast<size_t>(m));
  std::vector<int>& fill = fill_;
  fill.assign(replyStart.begin(), replyStart.end() - 1);
  for (int i = 0; i < m; ++i) {
    const int p = parentRank[static_cast<size_t>(i)];
    if (p >= 0) replies[static_cast<size_t>(fill[static_cast<size_t>(p)]++)] = i;
  }
  // Pre-order walk, roots and replies ascending.
  ThreadList.reserve(n + 1);
  std::vector<int>& parentRow = parentRow_;
  parentRow.clear();
  std::vector<std::pair<int, int>>& stack = stack_;  // (rank, parent row)
  stack.clear();
  for (auto it = roots.rbegin(); it != roots.rend(); ++it) stack.emplace_back(*it, -1);
  while (!stack.empty()) {
    const auto [rank, parent] = stack.back();
    stack.pop_back();
    TThreadRow row;
    row.MesNo = present[static_cast<size_t>(rank)];
    row.Article = numberMap_[static_cast<size_t>(row.MesNo)];
    row.Depth = parent < 0 ? 0 : std::min(ThreadList[static_cast<size_t>(parent)].Depth + 1, kMaxDepth);
    const int self = static_cast<int>(ThreadList.size());
    ThreadList.push_back(row);
    parentRow.push_back(parent);
    for (int k = replyStart[static_cast<size_t>(rank) + 1] - 1; k >= replyStart[static_cast<size_t>(rank)]; --k) {
      stack.emplace_back(replies[static_cast<size_t>(k)], self);
    }
  }
  // Where each row's subtree ends, then the link bytes from the last row up:
  // a reply takes those of the row after its parent's subtree.
  const int rows = static_cast<int>(ThreadList.size());
  std::vector<int> subtreeEnd(static_cast<size_t>(rows));
  for (int r = rows - 1; r >= 0; --r) {
    int end = r + 1;
    while (end < rows && parentRow[static_cast<size_t>(end)] >= r) {
      // rows r+1.. belong to r's subtree while their parent lies inside it
      end = subtreeEnd[static_cast<size_t>(end)];
    }
    subtreeEnd[static_cast<size_t>(r)] = end;
  }
  for (int r = rows - 1; r >= 0; --r) {
    const int parent = parentRow[static_cast<size_t>(r)];
    if (parent < 0) continue;  // a root: all links 0
    const int follow = subtreeEnd[static_cast<size_t>(parent)];
    TThreadRow& row = ThreadList[static_cast<size_t>(r)];
    if (follow < rows) row.Links = ThreadList[static_cast<size_t>(follow)].Links;
    const int level = ThreadList[static_cast<size_t>(parent)].Depth;
    if (level < kMaxDepth) row.Links[static_cast<size_t>(level)] = 1;
  }
  // Numbers outside the map cannot thread: they are listed as roots after the
  // tree, in ascending order, so that nothing is left out.
  std::vector<int> outside;
  for (size_t i = 0; i < n; ++i) {
    const int32_t no = ArticleArray[i].MesNo;
    if (no < 0 || no >= kMapSize) outside.push_back(static_cast<int>(i));
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

bool TArticleBrowser::Marked(const TVeskoMessage& m) const { return NewMode ? m.NewMark != 0 : m.Unread != 0; }

std::string TArticleBrowser::RowText(int r) const {
  std::string text;
  RowTextInto(r, text);
  return text;
}

void TArticleBrowser::RowTextInto(int r, std::string& text) const {
  const TThreadRow& row = ThreadList[static_cast<size_t>(r)];
  const TVeskoMessage& m = ArticleArray[static_cast<size_t>(row.Article)];
  // Format("%s  %s%.4d %.8s %.14s %.40s"), built directly into the row's
  // string: the list draws up to 999 of these at every rebuild.
  char buf[3 + 2 * kMaxDepth + 16 + 1 + 8 + 1 + 14 + 1 + 40];
  char* p = buf;
  char mark = '-';
  if (NewMode && m.NewMark) mark = 'N';
  if (!NewMode && m.Unread) mark = 'R';
  *p++ = mark;
  *p++ = ' ';
  *p++ = ' ';
  const TThreadRow* next = static_cast<size_t>(r) + 1 < ThreadList.size() ? &ThreadList[static_cast<size_t>(r) + 1] : nullptr;
  // The cell of level j from A = link j, B = link j of the next row,
  // C = link j+1, and whether j is above the row's own level: "│" for A and
  // B above the own level, else "├" for A, B and not C, "└" for A and not
  // B nor C, else blanks.
  static constexpr int8_t kKind[16] = {
      // index: A | B << 1 | C << 2 | above << 3
      3, 2, 3, 1, 3, 3, 3, 3,  // not above the own level
      3, 2, 3, 0, 3, 3, 3, 0,  // above it
  };
  static const std::array<uint8_t, 40> kNoLinks{};
  uint8_t l[40] = {}, nl[40] = {};  // padded so that eight levels load at once
  std::memcpy(l, row.Links.data(), kMaxDepth);
  std::memcpy(nl, next != nullptr ? next->Links.data() : kNoLinks.data(), kMaxDepth);
  const int depth = row.Depth;
  for (int j = 0; j < depth; j += 8) {
    // Link bytes are 0 or 1: four of them combine into one index byte each.
    uint64_t a, b, c;
    std::memcpy(&a, l + j, 8);
    std::memcpy(&b, nl + j, 8);
    std::memcpy(&c, l + j + 1, 8);
    uint64_t index = a | b << 1 | c << 2;
    for (int k = 0; k < 8 && j + k < depth; ++k) {
      const int above = j + k < depth - 1;
      const int kind = kKind[static_cast<int>((index >> (8 * k)) & 0xFF) | above << 3];
      *p++ = kCells[kind][0];
      *p++ = kCells[kind][1];
    }
  }
  // The number with at least four digits, zero-filled ("%.4d").
  uint32_t v = m.MesNo < 0 ? static_cast<uint32_t>(-static_cast<int64_t>(m.MesNo)) : static_cast<uint32_t>(m.MesNo);
  char digits[12];
  int nd = 0;
  do {
    digits[nd++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v != 0);
  if (m.MesNo < 0) *p++ = '-';
  for (int z = nd; z < 4; ++z) *p++ = '0';
  while (nd > 0) *p++ = digits[--nd];
  auto field = [&p](const std::string& f, size_t max) {
    *p++ = ' ';
    const size_t n = std::min(f.size(), max);
    std::memcpy(p, f.data(), n);
    p += n;
  };
  field(m.FromID, 8);
  field(m.FromHandle, 14);
  field(m.Title, 40);
  text.assign(buf, static_cast<size_t>(p - buf));
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
  if (CurrentArticle.Unread != 0 && countedRead_.insert({CurrentBoard, CurrentArticle.IndexNo}).second) {
    // The board's counts follow the reading, without reading the index again.
    for (size_t i = 0; i < BoardLines.size() && i < BoardCounts.size(); ++i) {
      if (BoardOfLine(BoardLines[i]) != CurrentBoard) continue;
      TBoardCounts& c = BoardCounts[i];
      if (c.unread > 0) --c.unread;
      if (CurrentArticle.NewMark != 0 && c.news > 0) --c.news;
      Notify(OnCountsChanged);
    }
  }
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

void TArticleBrowser::OpenStored(int board, int indexNo) {
  for (size_t line = 0; line < BoardLines.size(); ++line) {
    if (BoardOfLine(BoardLines[line]) != board) continue;
    SelectBoard(static_cast<int>(line));
    BoardsClick(static_cast<int>(line));
    for (int r = 0; r < RowCount(); ++r) {
      if (ArticleArray[static_cast<size_t>(ThreadList[static_cast<size_t>(r)].Article)].IndexNo == indexNo) {
        SelectRow(r);
        OpenArticle(r);
        return;
      }
    }
    break;
  }
  // Not listed (an inactive board, or older than the newest 999): alone.
  std::vector<TVeskoMessage> one;
  try {
    const int count = store_.RecordCount(board);
    if (indexNo < 0 || indexNo >= count) return;
    store_.ReadIndex(board, count - indexNo, one);
  } catch (const EInOutError& e) {
    if (OnError) OnError(e.what());
    return;
  }
  if (one.empty()) return;
  CurrentBoard = board;
  listed_ = false;
  ArticleArray.assign(1, one.front());
  ThreadList.assign(1, TThreadRow{});
  ThreadList[0].MesNo = one.front().MesNo;
  ThreadList[0].Article = 0;
  SelectedRow = -1;
  Notify(OnRowsChanged);
  SelectRow(0);
  OpenArticle(0);
}

void TArticleBrowser::NewModeClick(bool newMode) {
  NewMode = newMode;
  const int keep = SelectedRow;
  ShowArticleList();
  if (keep >= 0 && keep < RowCount()) SelectRow(keep);
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
    if (RowCount() == 0) return;
    SelectRow(RowCount() - 1);
  } else {
    return;
  }
  OpenArticle(SelectedRow);
}

void TArticleBrowser::K4Click() {
  if (SelectedRow + 1 < RowCount()) {
    SelectRow(SelectedRow + 1);
  } else if (SelectedBoard + 1 < static_cast<int>(BoardLines.size())) {
    SelectBoard(SelectedBoard + 1);
    BoardsClick(SelectedBoard);
    if (RowCount() == 0) return;
    SelectRow(0);
  } else {
    return;
  }
  OpenArticle(SelectedRow);
}

}  // namespace brelo
