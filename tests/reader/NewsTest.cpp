// The news that waits until it is read, the counts beside the boards, the
// browser keeping its place while a round brings more, and a failed host's
// reason in the user's words.
#include "reader/News.h"

#include <gtest/gtest.h>

#include "common/FileUtil.h"
#include "common/Sjis.h"
#include "reader/ArticleBrowser.h"
#include "reader/Patrol.h"
#include "support/TempDir.h"

namespace brelo {
namespace {

class NewsTest : public ::testing::Test {
 protected:
  test::TTempDir dir;
  TMessageStore session;  // what a pass writes with
  void SetUp() override {
    session.HostFolder = dir.Path();
    session.LoadBoards();
  }
  // A pass: the boards as they are on the disk, new marks cleared or kept,
  // the messages stored, the boards saved.
  void Pass(bool clearNews, const std::vector<std::pair<int, int>>& messages) {
    session.LoadBoards();
    if (clearNews) session.ClearNewMarks();
    for (const auto& [board, no] : messages) {
      session.BoardTable[static_cast<size_t>(board)].Active = 1;
      session.BoardTable[static_cast<size_t>(board)].Name = "B" + std::to_string(board);
      TVeskoMessage m;
      m.BoardNo = board;
      m.MesNo = no;
      m.FromID = "ID";
      m.Title = "T" + std::to_string(no);
      m.Text = "text\r\n";
      session.AppendMessage(m);
    }
    session.SaveBoards();
  }
  THostNews News() { return CollectNews(0, Sjis("大きな局"), dir.Path()); }
};

TEST_F(NewsTest, PassesAddUpUntilReadOrClearedWhateverTheNewMarksDo) {
  EXPECT_TRUE(News().Empty());
  EXPECT_EQ(NewsLine(News()), "");
  Pass(false, {{0, 1}, {3, 10}, {3, 11}});
  Pass(false, {{0, 2}, {3, 12}, {5, 1}});
  THostNews n = News();
  EXPECT_EQ(n.Messages(), 4);
  EXPECT_EQ(n.Mail(), 2);
  EXPECT_EQ(SjisToUtf8(NewsLine(n)), "大きな局: 新着 4 件、メール 2 通");
  ASSERT_EQ(n.boards.size(), 3u);
  EXPECT_EQ(n.boards[0].board, 0);  // the mail first
  EXPECT_EQ(n.boards[1].articles.size(), 3u);
  EXPECT_EQ(n.boards[1].articles[2].mesNo, 12);

  // Reading one takes it out of the news (its new mark stays for the Ｎ mode).
  TMessageStore reading;
  reading.HostFolder = dir.Path();
  TArticleBrowser b(reading);
  b.ShowBoardList();
  b.OpenStored(3, 1);
  n = News();
  EXPECT_EQ(SjisToUtf8(NewsLine(n)), "大きな局: 新着 3 件、メール 2 通");
  // A round with nothing new leaves it all as it was.
  Pass(false, {});
  EXPECT_EQ(News().Messages(), 3);
  // A pass the user starts with 新規アーティクルマークをクリアする: only its own
  // articles are new on the boards, but the news keeps what earlier passes
  // brought until it is read.
  Pass(true, {{5, 2}});
  n = News();
  EXPECT_EQ(SjisToUtf8(NewsLine(n)), "大きな局: 新着 4 件、メール 2 通");
  b.ShowBoardList();
  EXPECT_EQ(SjisToUtf8(CountsText(b.BoardCounts[1])), "未読 2");  // board 3: unread, no longer new
  b.OpenStored(0, 0);
  b.OpenStored(0, 1);
  n = News();
  EXPECT_EQ(SjisToUtf8(NewsText({n, CollectNews(1, "empty", dir.Path() + "none/")})), "大きな局: 新着 4 件");
  EXPECT_FALSE(FileExists(dir.Path() + "none"));  // looking made no folder
  // Clearing the list: its articles leave it and stay unread; the next pass's come in.
  EXPECT_EQ(ClearNewsList(n), "");
  EXPECT_TRUE(News().Empty());
  b.ShowBoardList();
  EXPECT_EQ(b.BoardCounts[1].unread, 2);
  Pass(false, {{3, 13}});
  EXPECT_EQ(SjisToUtf8(NewsLine(News())), "大きな局: 新着 1 件");

  // A damaged board file is told, not thrown.
  test::WriteBytes(dir.File("Boards.Dat"), "short");
  n = News();
  EXPECT_TRUE(n.Empty());
  EXPECT_FALSE(n.problem.empty());
}

TEST_F(NewsTest, ABoardOfThousandsOfNewArticlesIsReadWholeAcrossItsChunks) {
  // The index is read a chunk at a time: articles either side of a chunk's
  // edge and the last one are each counted once, and a read one is left out.
  std::vector<std::pair<int, int>> many;
  for (int no = 1; no <= 4500; ++no) many.push_back({3, no});
  Pass(false, many);
  THostNews n = News();
  ASSERT_EQ(n.boards.size(), 1u);
  EXPECT_EQ(n.Messages(), 4500);
  EXPECT_EQ(n.boards[0].articles[1999].mesNo, 2000);
  EXPECT_EQ(n.boards[0].articles[2000].mesNo, 2001);
  EXPECT_EQ(n.boards[0].articles.back().mesNo, 4500);
  TMessageStore reading;
  reading.HostFolder = dir.Path();
  TArticleBrowser b(reading);
  b.ShowBoardList();
  for (int index : {1999, 2000, 4499}) b.OpenStored(3, index);
  n = News();
  EXPECT_EQ(n.Messages(), 4497);
  EXPECT_EQ(n.boards[0].articles[1999].mesNo, 2002);
  EXPECT_EQ(n.boards[0].articles.back().mesNo, 4499);
}

TEST_F(NewsTest, BoardCountsFollowTheReadingAndARoundKeepsTheReadersPlace) {
  Pass(false, {{3, 10}, {3, 11}, {3, 12}, {5, 1}});
  TMessageStore reading;
  reading.HostFolder = dir.Path();
  TArticleBrowser b(reading);
  int countsChanged = 0, boardsChanged = 0, rowsChanged = 0, articleChanged = 0, rowsRefreshed = 0;
  b.OnRowsRefreshed = [&] { ++rowsRefreshed; };
  b.OnCountsChanged = [&] { ++countsChanged; };
  b.OnBoardsChanged = [&] { ++boardsChanged; };
  b.OnRowsChanged = [&] { ++rowsChanged; };
  b.OnArticleChanged = [&] { ++articleChanged; };
  b.ShowBoardList();
  ASSERT_EQ(b.BoardLines.size(), 3u);  // the mailbox, 3 and 5
  EXPECT_EQ(CountsText(b.BoardCounts[0]), "");
  EXPECT_EQ(SjisToUtf8(CountsText(b.BoardCounts[1])), "未読 3 新着 3");
  b.BoardsClick(1);
  b.OpenArticle(1);
  EXPECT_EQ(SjisToUtf8(CountsText(b.BoardCounts[1])), "未読 2 新着 2");
  b.OpenArticle(1);  // again: the list still shows it unread, the count does not fall twice
  EXPECT_EQ(b.BoardCounts[1].unread, 2);
  const int32_t opened = b.CurrentArticle.MesNo;
  const std::string text = b.Text;

  // A round stores more, on a board before the chosen one too.
  Pass(false, {{1, 1}, {3, 13}});
  boardsChanged = rowsChanged = articleChanged = countsChanged = 0;
  b.RefreshBoards();
  EXPECT_EQ(boardsChanged, 1);  // a line was added
  EXPECT_EQ(rowsChanged, 0);
  EXPECT_EQ(articleChanged, 0);
  ASSERT_EQ(b.BoardLines.size(), 4u);
  EXPECT_EQ(b.SelectedBoard, 2);
  EXPECT_EQ(TArticleBrowser::BoardOfLine(b.BoardLines[static_cast<size_t>(b.SelectedBoard)]), 3);
  EXPECT_EQ(b.CurrentArticle.MesNo, opened);
  EXPECT_EQ(b.Text, text);
  EXPECT_EQ(SjisToUtf8(CountsText(b.BoardCounts[2])), "未読 3 新着 3");
  // The chosen board's list has the new article in place, the selection
  // on the same article; each row tells its own state from the index.
  EXPECT_EQ(rowsRefreshed, 1);
  ASSERT_EQ(b.RowCount(), 4);
  EXPECT_EQ(b.RowArticle(b.SelectedRow).MesNo, opened);
  EXPECT_FALSE(b.RowUnread(b.SelectedRow));
  EXPECT_EQ(b.RowArticle(3).MesNo, 13);
  EXPECT_TRUE(b.RowUnread(3) && b.RowNew(3));
  b.DOWNButtonClick();  // ▼ reaches it
  EXPECT_EQ(b.CurrentArticle.MesNo, 12);
  b.DOWNButtonClick();
  EXPECT_EQ(b.CurrentArticle.MesNo, 13);
  // Nothing new: the lines stay, only the counts are told.
  b.RefreshBoards();  // (the two just opened: their marks changed)
  rowsRefreshed = countsChanged = 0;
  b.RefreshBoards();
  EXPECT_EQ(boardsChanged, 1);
  EXPECT_EQ(countsChanged, 1);
  EXPECT_EQ(rowsRefreshed, 0);
  // Everything read: nothing beside the board.
  TBoardCounts none;
  EXPECT_EQ(CountsText(none), "");
  none.unread = 4;
  EXPECT_EQ(SjisToUtf8(CountsText(none)), "未読 4");
}

TEST(FailureWords, AFailedHostIsNamedWithItsReason) {
  std::vector<TPatrolResult> round(4);
  round[0].title = "A";
  round[1].title = "B";
  round[1].status = kExitNoLogin;
  round[1].lineError = {10061, "Connection refused", "", {}};
  round[2].title = "C";
  round[2].status = kExitBusy;
  round[2].busyHolder = 123;
  round[3].title = "D";
  round[3].status = kExitTimeout;
  const std::vector<std::string> lines = FailureLines(round);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(SjisToUtf8(lines[0]), "B: 接続できません (接続が拒否されました)");
  EXPECT_EQ(SjisToUtf8(lines[1]), "C: 使用中 (pid 123)");
  EXPECT_EQ(SjisToUtf8(lines[2]), "D: 時間切れ");
  // A code a user never meets keeps the socket's own words.
  EXPECT_EQ(LineErrorWords(10047, "Address family not supported"), "Address family not supported");
  EXPECT_EQ(SjisToUtf8(LineErrorWords(11001, "Host not found")), "ホストが見つかりません");
  // Refused before calling: the pass's own reason.
  TPatrolResult r;
  r.status = kExitNoLogin;
  r.summary.problem = Sjis("空きがありません");
  EXPECT_EQ(SjisToUtf8(FailureWords(r)), "接続しませんでした (空きがありません)");
  // 強制切断 of a session under way is the user's doing, not a failure of
  // the line; after the logout was sent it ends the pass as it should.
  TPatrolResult cut;
  cut.summary.started = cut.summary.loggedIn = cut.summary.loggedOut = cut.summary.cutByUser = true;
  cut.status = PassStatus(cut.summary, false);
  EXPECT_EQ(SjisToUtf8(FailureWords(cut)), "強制切断しました (ユーザーの操作で切断)");
  cut.summary.logoutSent = true;
  EXPECT_EQ(PassStatus(cut.summary, false), kExitOk);
}

}  // namespace
}  // namespace brelo
