// The news of every host: the articles that passes brought (window, round or
// pilot) and that the user has neither opened nor cleared from the list. It
// is apart from the boards' new marks, which a pass started with 接続 may
// clear (ClearNews): what several passes brought adds up until it is read.
// Everything is read from the host's files (each index record carries its
// news mark), so the news survives a restart and follows the user's reading
// without any bookkeeping of its own.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "store/MessageStore.h"

namespace brelo {

// One article not read yet among the new ones.
struct TNewsArticle {
  int board = 0;
  int indexNo = 0;
  int32_t mesNo = 0;
  std::string fromID, fromHandle, title;  // Shift-JIS
};

struct TBoardNews {
  int board = 0;
  std::string name, title;  // Shift-JIS, as the board table has them
  std::vector<TNewsArticle> articles;
};

struct THostNews {
  int host = -1;
  std::string title;   // the host's title (Shift-JIS)
  std::string folder;
  std::vector<TBoardNews> boards;  // board 0 (the mail) first when it has news
  std::string problem;             // the host's files could not be read (Shift-JIS)

  int Mail() const;
  int Messages() const;
  bool Empty() const { return Mail() == 0 && Messages() == 0; }
};

// Unread and news of one board, for the board list.
struct TBoardCounts {
  int unread = 0;  // articles not opened
  int news = 0;    // of those, the new ones
};

// The news of one host folder: the records of every board that are in the
// news and not opened. Reads Boards.Dat (for the boards' names) and the
// indexes; a damaged file is reported in `problem`, never raised.
THostNews CollectNews(int host, const std::string& title, const std::string& folder);
// Takes every article of h out of the news list (they stay unread); the
// file's problem (Shift-JIS), or "" when done.
std::string ClearNewsList(const THostNews& h);
// The counts of one board of a loaded store (every record of the index).
TBoardCounts CountBoard(const TMessageStore& store, int board);

// "大きな局: 新着 15 件、メール 2 通" (Shift-JIS); "" when the host has no news.
std::string NewsLine(const THostNews& h);
// One line for each host with news, LF between them; "" when none has any.
std::string NewsText(const std::vector<THostNews>& hosts);
// The counts beside a board in the list: "未読 3 新着 2", "未読 3", "".
std::string CountsText(const TBoardCounts& c);

}  // namespace brelo
