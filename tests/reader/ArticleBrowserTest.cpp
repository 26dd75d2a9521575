// The browser's rules: thread tree, marks, opening, navigation.
#include "reader/ArticleBrowser.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "common/Sjis.h"
#include "support/TempDir.h"

namespace brelo {
namespace {

class BrowserTest : public ::testing::Test {
 protected:
  test::TTempDir dir;
  TMessageStore store;
  TArticleBrowser b{store};
  std::vector<std::string> messages;
  void SetUp() override {
    store.HostFolder = dir.Path();
    b.OnMessage = [this](const std::string& text, const std::string& caption) {
      messages.push_back(SjisToUtf8(caption) + ":" + SjisToUtf8(text));
    };
  }
  void Add(int board, int no, const std::string& title) {
    store.BoardTable[static_cast<size_t>(board)].Active = 1;
    store.BoardTable[static_cast<size_t>(board)].Name = "B" + std::to_string(board);
    TVeskoMessage m;
    m.BoardNo = board;
    m.MesNo = no;
    m.FromID = "ID" + std::to_string(no);
    m.FromHandle = "H";
    m.Title = title;
    m.Text = "text " + std::to_string(no) + "\r\n";
    store.AppendMessage(m);
    store.SaveBoards();
  }
};

TEST_F(BrowserTest, ThreadTreeOfTheExample) {
  Add(1, 10, "first");
  Add(1, 11, "Re:10)a");
  Add(1, 12, "Re:10)b");
  Add(1, 13, "Re:11)c");
  b.ShowBoardList();
  ASSERT_EQ(b.BoardLines.size(), 2u);
  EXPECT_EQ(b.BoardLines[1], "01 B1 " + Sjis("メッセージボード01"));  // "%.8s" cuts, it does not pad
  b.BoardsClick(1);
  ASSERT_EQ(static_cast<size_t>(b.RowCount()), 4u);
  EXPECT_EQ(SjisToUtf8(b.RowText(0)), "N  0010 ID10 H first");
  EXPECT_EQ(SjisToUtf8(b.RowText(1)), "N  ├0011 ID11 H Re:10)a");
  EXPECT_EQ(SjisToUtf8(b.RowText(2)), "N  │└0013 ID13 H Re:11)c");
  EXPECT_EQ(SjisToUtf8(b.RowText(3)), "N  └0012 ID12 H Re:10)b");
  EXPECT_TRUE(b.NewButtonEnabled);
  EXPECT_FALSE(b.ResButtonEnabled);
}

// The thread rows as the insertion algorithm states them, one reply at a
// time at the end of its parent's subtree (quadratic, for comparison).
std::vector<TThreadRow> Inserted(const std::vector<std::pair<int32_t, int32_t>>& numbersAndParents) {
  std::vector<TThreadRow> rows;
  auto insert = [&](int32_t p, int32_t c) {
    size_t i = 0;
    while (i < rows.size() && rows[i].MesNo != p) ++i;
    size_t a = i + 1;
    while (a < rows.size() && rows[a].Depth > rows[i].Depth) ++a;
    TThreadRow row;
    if (a < rows.size()) row.Links = rows[a].Links;
    row.MesNo = c;
    row.Depth = rows[i].Depth + 1;
    row.Links[static_cast<size_t>(rows[i].Depth)] = 1;
    rows.insert(rows.begin() + static_cast<long>(a), row);
  };
  for (size_t i = 0; i < numbersAndParents.size(); ++i) {
    const int32_t p = numbersAndParents[i].first;
    if (std::none_of(rows.begin(), rows.end(), [p](const TThreadRow& r) { return r.MesNo == p; })) {
      TThreadRow row;
      row.MesNo = p;
      rows.push_back(row);
    }
    for (size_t j = i + 1; j < numbersAndParents.size(); ++j) {
      if (numbersAndParents[j].second == p) insert(p, numbersAndParents[j].first);
    }
  }
  return rows;
}

TEST_F(BrowserTest, ThreadsAreWhatInsertingRepliesOneByOneGives) {
  std::mt19937 rng(42);
  for (int round = 0; round < 40; ++round) {
    test::TTempDir d;
    TMessageStore s;
    s.HostFolder = d.Path();
    TArticleBrowser br(s);
    std::vector<std::pair<int32_t, int32_t>> expected;
    int32_t no = 1 + static_cast<int32_t>(rng() % 5);
    const int count = 1 + static_cast<int>(rng() % 60);
    for (int i = 0; i < count; ++i, no += 1 + static_cast<int32_t>(rng() % 3)) {
      int32_t parent = 0;
      if (!expected.empty() && rng() % 4 != 0) parent = expected[rng() % expected.size()].first;
      if (rng() % 10 == 0) parent = no + 5;  // a parent not (yet) there
      TVeskoMessage m;
      m.BoardNo = 1;
      m.MesNo = no;
      m.Title = parent > 0 ? "Re:" + std::to_string(parent) + ")t" : "t";
      s.AppendMessage(m);
      expected.emplace_back(no, parent);
    }
    br.CurrentBoard = 1;
    br.ShowArticleList();
    const auto want = Inserted(expected);
    ASSERT_EQ(br.ThreadList.size(), want.size());
    for (size_t r = 0; r < want.size(); ++r) {
      ASSERT_EQ(br.ThreadList[r].MesNo, want[r].MesNo) << round << " row " << r;
      ASSERT_EQ(br.ThreadList[r].Depth, want[r].Depth) << round << " row " << r;
      ASSERT_EQ(br.ThreadList[r].Links, want[r].Links) << round << " row " << r;
    }
  }
}

TEST_F(BrowserTest, RootsWhereThereIsNoNumberedParent) {
  Add(2, 5, "Re:abc");     // no ")": a root
  Add(2, 6, "Re:9)later"); // the parent has a higher number: a root
  Add(2, 9, "nine");
  Add(2, 12000, "Re:9)big");  // outside the map: listed, as a root, at the end
  b.ShowBoardList();
  b.BoardsClick(1);
  ASSERT_EQ(static_cast<size_t>(b.RowCount()), 4u);
  EXPECT_EQ(SjisToUtf8(b.RowText(0)), "N  0005 ID5 H Re:abc");
  EXPECT_EQ(SjisToUtf8(b.RowText(1)), "N  0006 ID6 H Re:9)later");
  EXPECT_EQ(SjisToUtf8(b.RowText(2)), "N  0009 ID9 H nine");
  EXPECT_EQ(SjisToUtf8(b.RowText(3)), "N  12000 ID12000 H Re:9)big");
}

TEST_F(BrowserTest, DeepThreadsAreCappedForDrawingNotDropped) {
  Add(3, 1, "root");
  for (int n = 2; n <= 40; ++n) Add(3, n, "Re:" + std::to_string(n - 1) + ")x");
  b.ShowBoardList();
  b.BoardsClick(1);
  ASSERT_EQ(static_cast<size_t>(b.RowCount()), 40u);
  EXPECT_EQ(b.ThreadList.back().Depth, 31);
}

TEST_F(BrowserTest, OpeningClearsUnreadAndTheUnreadModeKeepsTheRowUntilRebuilt) {
  Add(1, 11, "a");
  Add(1, 12, "b");
  b.ShowBoardList();
  b.BoardsClick(1);
  b.NewModeClick(false);  // unread mode
  EXPECT_EQ(b.RowText(1).substr(0, 1), "R");
  b.OpenArticle(1);
  EXPECT_EQ(b.Text, "\r\ntext 12\r\n");
  EXPECT_EQ(b.Header.substr(0, 22), "#  12 From:ID12 / H D/");
  EXPECT_NE(b.Header.find("\r\nSub: b"), std::string::npos);
  EXPECT_TRUE(b.ResButtonEnabled);
  EXPECT_EQ(b.RowText(1).substr(0, 1), "R");  // the row keeps its mark
  b.NewModeClick(false);
  EXPECT_EQ(b.RowText(1).substr(0, 1), "-");
  EXPECT_EQ(b.SelectedRow, 1);  // the same row index stays selected
  std::vector<TVeskoMessage> e;
  store.ReadIndex(1, 999, e);
  EXPECT_EQ(e[1].Unread, 0);
  EXPECT_EQ(e[1].NewMark, 1);
}

TEST_F(BrowserTest, NavigationAcrossBoardsInBothDirections) {
  Add(1, 1, "a");
  Add(2, 1, "b");
  Add(3, 1, "c");
  b.ShowBoardList();  // lines: 00 mailbox, 01, 02, 03
  b.UPButtonClick();  // nothing selected
  EXPECT_EQ(messages.back(), "ごめんなさい:前のアーティクルはありません");
  b.DOWNButtonClick();  // from the first board on
  EXPECT_EQ(b.SelectedBoard, 1);
  EXPECT_EQ(b.CurrentArticle.Title, "a");
  b.DOWNButtonClick();
  EXPECT_EQ(b.CurrentBoard, 2);
  b.DOWNButtonClick();
  EXPECT_EQ(b.CurrentBoard, 3);
  b.DOWNButtonClick();
  EXPECT_EQ(messages.back(), "ごめんなさい:次のアーティクルはありません");
  b.UPButtonClick();
  EXPECT_EQ(b.CurrentBoard, 2);
  b.K3Click();  // the first row: the last row of the board above
  EXPECT_EQ(b.CurrentBoard, 1);
  b.K4Click();
  EXPECT_EQ(b.CurrentBoard, 2);
}

TEST_F(BrowserTest, OnlyTheNewest999Show) {
  store.BoardTable[4].Active = 1;
  for (int i = 1; i <= 1200; ++i) {
    TVeskoMessage m;
    m.BoardNo = 4;
    m.MesNo = i;
    m.Title = "t";
    store.AppendMessage(m);
  }
  store.SaveBoards();
  b.ShowBoardList();
  b.BoardsClick(1);
  ASSERT_EQ(static_cast<size_t>(b.RowCount()), 999u);
  EXPECT_EQ(b.ArticleArray.front().MesNo, 202);
}

}  // namespace
}  // namespace brelo
