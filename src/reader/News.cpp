#include "reader/News.h"

#include <algorithm>

#include "common/FileUtil.h"
#include "common/Sjis.h"

namespace brelo {

int THostNews::Mail() const {
  int n = 0;
  for (const TBoardNews& b : boards) {
    if (b.board == 0) n += static_cast<int>(b.articles.size());
  }
  return n;
}

int THostNews::Messages() const {
  int n = 0;
  for (const TBoardNews& b : boards) {
    if (b.board != 0) n += static_cast<int>(b.articles.size());
  }
  return n;
}

namespace {
// Records read at a time from an index (the board counts).
constexpr int kCountChunk = 2000;
}  // namespace

THostNews CollectNews(int host, const std::string& title, const std::string& folder) {
  THostNews out;
  out.host = host;
  out.title = title;
  out.folder = folder;
  TMessageStore store;
  store.HostFolder = WithSlash(folder);
  // A host never called has no files: nothing to read, and no folder is made
  // for it by looking.
  if (!FileExists(store.BoardsFile())) return out;
  try {
    store.LoadBoards();
    for (int b = 0; b < kBoardCount; ++b) {
      TBoardNews news;
      store.ReadNews(b, [&news](const TVeskoMessage& m) {
        news.articles.push_back({m.BoardNo, m.IndexNo, m.MesNo, m.FromID, m.FromHandle, m.Title});
      });
      if (news.articles.empty()) continue;
      const TBoardEntry& e = store.BoardTable[static_cast<size_t>(b)];
      news.board = b;
      news.name = e.Name;
      news.title = e.Title;
      out.boards.push_back(std::move(news));
    }
  } catch (const EInOutError& e) {
    out.problem = e.what();
  }
  return out;
}

std::string ClearNewsList(const THostNews& h) {
  TMessageStore store;
  store.HostFolder = WithSlash(h.folder);
  std::vector<int> indexNos;
  try {
    for (const TBoardNews& b : h.boards) {
      indexNos.clear();
      for (const TNewsArticle& a : b.articles) indexNos.push_back(a.indexNo);
      store.ClearNewsMarks(b.board, indexNos);
    }
  } catch (const EInOutError& e) {
    return e.what();
  }
  return std::string();
}

TBoardCounts CountBoard(const TMessageStore& store, int board) {
  TBoardCounts c;
  const int count = store.RecordCount(board);
  std::vector<TVeskoMessage> records;
  for (int first = 0; first < count; first += kCountChunk) {
    if (store.ReadIndexRange(board, first, kCountChunk, records) == 0) break;
    for (const TVeskoMessage& m : records) {
      if (m.Unread == 0) continue;
      ++c.unread;
      if (m.NewMark != 0) ++c.news;
    }
  }
  return c;
}

std::string NewsLine(const THostNews& h) {
  const int messages = h.Messages(), mail = h.Mail();
  if (messages == 0 && mail == 0) return std::string();
  std::string line = h.title + ": ";
  if (messages > 0) line += Sjis("新着 ") + std::to_string(messages) + Sjis(" 件");
  if (mail > 0) line += (messages > 0 ? Sjis("、") : std::string()) + Sjis("メール ") + std::to_string(mail) + Sjis(" 通");
  return line;
}

std::string NewsText(const std::vector<THostNews>& hosts) {
  std::string out;
  for (const THostNews& h : hosts) {
    const std::string line = NewsLine(h);
    if (line.empty()) continue;
    if (!out.empty()) out += "\n";
    out += line;
  }
  return out;
}

std::string CountsText(const TBoardCounts& c) {
  if (c.unread == 0) return std::string();
  std::string out = Sjis("未読 ") + std::to_string(c.unread);
  if (c.news > 0) out += Sjis(" 新着 ") + std::to_string(c.news);
  return out;
}

}  // namespace brelo
