// The browser's rules: thread tree, marks, opening, navigation.
#include "ui/ArticleBrowser.h"

#include <gtest/gtest.h>

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
  // The rows with the mark column and the tree, up to the number.
  std::vector<std::string> Tree() {
    std::vector<std::string> out;
    for (const auto& r : b.Rows) out.push_back(SjisToUtf8(r.substr(0, r.find(' ', 3 + r.find_first_of("0123456789") - 3) )));
    return out;
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
  ASSERT_EQ(b.Rows.size(), 4u);
  EXPECT_EQ(SjisToUtf8(b.Rows[0]), "N  0010 ID10 H first");
  EXPECT_EQ(SjisToUtf8(b.Rows[1]), "N  ├0011 ID11 H Re:10)a");
  EXPECT_EQ(SjisToUtf8(b.Rows[2]), "N  │└0013 ID13 H Re:11)c");
  EXPECT_EQ(SjisToUtf8(b.Rows[3]), "N  └0012 ID12 H Re:10)b");
  EXPECT_TRUE(b.NewButtonEnabled);
  EXPECT_FALSE(b.ResButtonEnabled);
}

TEST_F(BrowserTest, RootsWhereThereIsNoNumberedParent) {
  Add(2, 5, "Re:abc");     // no ")": a root
  Add(2, 6, "Re:9)later"); // the parent has a higher number: a root
  Add(2, 9, "nine");
  Add(2, 12000, "Re:9)big");  // outside the map: listed, as a root, at the end
  b.ShowBoardList();
  b.BoardsClick(1);
  ASSERT_EQ(b.Rows.size(), 4u);
  EXPECT_EQ(SjisToUtf8(b.Rows[0]), "N  0005 ID5 H Re:abc");
  EXPECT_EQ(SjisToUtf8(b.Rows[1]), "N  0006 ID6 H Re:9)later");
  EXPECT_EQ(SjisToUtf8(b.Rows[2]), "N  0009 ID9 H nine");
  EXPECT_EQ(SjisToUtf8(b.Rows[3]), "N  12000 ID12000 H Re:9)big");
}

TEST_F(BrowserTest, DeepThreadsAreCappedForDrawingNotDropped) {
  Add(3, 1, "root");
  for (int n = 2; n <= 40; ++n) Add(3, n, "Re:" + std::to_string(n - 1) + ")x");
  b.ShowBoardList();
  b.BoardsClick(1);
  ASSERT_EQ(b.Rows.size(), 40u);
  EXPECT_EQ(b.ThreadList.back().Depth, 31);
}

TEST_F(BrowserTest, OpeningClearsUnreadAndTheUnreadModeKeepsTheRowUntilRebuilt) {
  Add(1, 11, "a");
  Add(1, 12, "b");
  b.ShowBoardList();
  b.BoardsClick(1);
  b.NewModeClick(false);  // unread mode
  EXPECT_EQ(b.Rows[1].substr(0, 1), "R");
  b.OpenArticle(1);
  EXPECT_EQ(b.Text, "\r\ntext 12\r\n");
  EXPECT_EQ(b.Header.substr(0, 22), "#  12 From:ID12 / H D/");
  EXPECT_NE(b.Header.find("\r\nSub: b"), std::string::npos);
  EXPECT_TRUE(b.ResButtonEnabled);
  EXPECT_EQ(b.Rows[1].substr(0, 1), "R");  // the row keeps its mark
  b.NewModeClick(false);
  EXPECT_EQ(b.Rows[1].substr(0, 1), "-");
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
  ASSERT_EQ(b.Rows.size(), 999u);
  EXPECT_EQ(b.ArticleArray.front().MesNo, 202);
}

}  // namespace
}  // namespace brelo
