// Search and export of the stored articles.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "common/Sjis.h"
#include "store/ArticleSearch.h"
#include "store/Export.h"
#include "support/TempDir.h"

namespace brelo {
namespace {

TVeskoMessage Msg(int board, int no, const std::string& id, const std::string& title, const std::string& text) {
  TVeskoMessage m;
  m.BoardNo = board;
  m.MesNo = no;
  m.FromID = id;
  m.FromHandle = Sjis("たろう");
  m.Title = title;
  m.Text = text;
  m.Date = EncodeDateTime({1998, 3, 15, 21, 7, 33, 0});
  return m;
}

std::vector<TSearchHit> Search(const TMessageStore& store, const std::string& text) {
  std::vector<TSearchHit> hits;
  SearchArticles(store, text, [&](const TSearchHit& h) { hits.push_back(h); });
  return hits;
}

TEST(SjisSearch, AMatchNeverStartsOnASecondByte) {
  // ア is 0x83 0x41: its second byte is "A".
  const std::string a = Sjis("ア");
  EXPECT_EQ(FindSjis(a, "A"), std::string::npos);
  EXPECT_EQ(FindSjis(a + "A", "A"), 2u);
  EXPECT_EQ(FindSjis("xx" + a, a), 2u);
  // 表 is 0x95 0x5C; "\\" must not match inside it, nor "\x5C\x95" across two.
  const std::string hyo = Sjis("表表");
  EXPECT_EQ(FindSjis(hyo, "\\"), std::string::npos);
  EXPECT_EQ(FindSjis(hyo, std::string("\x5C\x95", 2)), std::string::npos);
  EXPECT_EQ(FindSjis(hyo, Sjis("表")), 0u);
  EXPECT_EQ(FindSjis("abc", ""), std::string::npos);
}

TEST(SjisSearch, FindsInTitlesSendersHandlesAndTexts) {
  test::TTempDir dir;
  TMessageStore store;
  store.HostFolder = dir.Path();
  store.LoadBoards();
  TVeskoMessage a = Msg(1, 1, "TOM", "first", "\r\n" + Sjis("本文にアがある") + "\r\n");
  TVeskoMessage b = Msg(1, 2, "BOB", Sjis("ア"), "text\r\n");
  TVeskoMessage c = Msg(3, 7, "AAA", "third", "none\r\n");
  for (TVeskoMessage* m : {&a, &b, &c}) store.AppendMessage(*m);
  auto hits = Search(store, Sjis("ア"));
  ASSERT_EQ(hits.size(), 2u);
  EXPECT_EQ(hits[0].Article.MesNo, 1);
  EXPECT_EQ(hits[1].Article.MesNo, 2);
  hits = Search(store, "A");  // only the ID "AAA", never inside ア
  ASSERT_EQ(hits.size(), 1u);
  EXPECT_EQ(hits[0].Board, 3);
  EXPECT_EQ(Search(store, Sjis("たろう")).size(), 3u);
  EXPECT_TRUE(Search(store, "#000001").empty());  // the block's head is no text
}

TEST(SjisSearch, StepsOfAnySizeFindTheSameHitsAcrossSlicesAndFarApartBlocks) {
  test::TTempDir dir;
  TMessageStore store;
  store.HostFolder = dir.Path();
  store.LoadBoards();
  // Board 2: 5,000 messages, every 997th with the word; one block of 5 MB
  // in the middle, so a slice's blocks lie too far apart to read at once.
  for (int i = 0; i < 5000; ++i) {
    std::string text = "line " + std::to_string(i) + "\r\n";
    if (i % 997 == 0) text += Sjis("めずらしい") + "\r\n";
    if (i == 2500) text += std::string(5 << 20, 'x') + Sjis("めずらしい") + "\r\n";
    TVeskoMessage m = Msg(2, -1, "ID", "t", text);
    store.AppendMessage(m);
  }
  TVeskoMessage mail = Msg(0, -1, "ID", Sjis("めずらしい題"), "x\r\n");
  store.AppendMessage(mail);
  std::vector<int> expect = {0};  // the mail first: board 0
  for (int i = 0; i < 5000; ++i) {
    if (i % 997 == 0 || i == 2500) expect.push_back(i);
  }
  for (int step : {1, 7, 2048, 100000}) {
    TArticleSearch search(store, Sjis("めずらしい"));
    std::vector<int> got;
    for (int guard = 0; guard < 10000 && search.Step(step, [&](const TSearchHit& h) { got.push_back(h.Article.IndexNo); });
         ++guard) {
    }
    EXPECT_TRUE(search.Done());
    EXPECT_EQ(got, expect) << "steps of " << step;
    EXPECT_EQ(search.Examined(), 5001);
  }
}

TEST(SjisSearch, ARecordPointingPastTheTextFileIsNotAHit) {
  test::TTempDir dir;
  TMessageStore store;
  store.HostFolder = dir.Path();
  store.LoadBoards();
  TVeskoMessage a = Msg(1, 1, "A", "a", Sjis("あるもの") + "\r\n");
  TVeskoMessage b = Msg(1, 2, "B", "b", Sjis("あるもの") + "\r\n");
  store.AppendMessage(a);
  store.AppendMessage(b);
  // The text file lost its second block (a disk that filled).
  std::filesystem::resize_file(store.TextFile(1), static_cast<uintmax_t>(b.TextPos));
  const auto hits = Search(store, Sjis("あるもの"));
  ASSERT_EQ(hits.size(), 1u);
  EXPECT_EQ(hits[0].Article.MesNo, 1);
}

TEST(Exporting, MboxHeadersAndFromEscaping) {
  test::TTempDir dir;
  TMessageStore store;
  store.HostFolder = dir.Path();
  store.LoadBoards();
  store.BoardTable[2].Name = "NEWS";
  store.BoardTable[2].Title = Sjis("お知らせ");
  TVeskoMessage m = Msg(2, 5, "SYSOP", Sjis("開局"), "From the sysop\r\n>From quoted\r\nplain\r\n");
  store.AppendMessage(m);
  TVeskoMessage other = Msg(3, 1, "X", "other board", "x\r\n");
  store.AppendMessage(other);
  std::ostringstream out;
  ExportArticles(store, 2, true, "DEMO", out);
  const std::string mbox = out.str();
  EXPECT_EQ(mbox.find("From SYSOP@DEMO.brelo.invalid Sun Mar 15 21:07:33 1998\n"), 0u);
  EXPECT_NE(mbox.find("From: " + EncodedWord("たろう") + " <SYSOP@DEMO.brelo.invalid>\n"), std::string::npos);
  EXPECT_NE(mbox.find("Date: Sun, 15 Mar 1998 21:07:33 +0900\n"), std::string::npos);
  EXPECT_NE(mbox.find("Subject: =?UTF-8?B?"), std::string::npos);
  EXPECT_NE(mbox.find("X-Brelo-Board: " + EncodedWord("02 NEWS お知らせ") + "\n"), std::string::npos);
  EXPECT_NE(mbox.find("\n\n>From the sysop\n>>From quoted\nplain\n"), std::string::npos);
  EXPECT_EQ(mbox.find("other board"), std::string::npos);  // one board only
  EXPECT_EQ(EncodedWord("plain ascii"), "plain ascii");
  EXPECT_EQ(EncodedWord("あ"), "=?UTF-8?B?44GC?=");
  std::ostringstream text;
  ExportArticles(store, -1, false, "DEMO", text);
  EXPECT_NE(text.str().find("Board: 02 NEWS お知らせ\nNumber: 5\nFrom: SYSOP たろう\nDate: 1998/03/15 21:07:33\n"
                            "Subject: 開局\n\nFrom the sysop\n"),
            std::string::npos);
  EXPECT_NE(text.str().find("other board"), std::string::npos);
}

}  // namespace
}  // namespace brelo
