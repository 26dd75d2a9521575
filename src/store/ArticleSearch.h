// Finding stored articles of a host whose title, sender ID, handle or text
// contains a string.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "store/MessageStore.h"

namespace brelo {

struct TSearchHit {
  int Board = 0;
  TVeskoMessage Article;  // the index entry (IndexNo says which record)
};

// The first position of needle in hay that starts a character (never the
// second byte of a double-byte character), or npos. An empty needle is not found.
size_t FindSjis(std::string_view hay, std::string_view needle);

// A search of boards 0-99, board by board, oldest first, done in steps so
// that a caller can show hits as they come and stop at any time. It holds
// one slice of an index and of its text at a time, never a whole board:
// memory stays small however big the store is. File errors raise EInOutError.
class TArticleSearch {
 public:
  using THitFn = std::function<void(const TSearchHit&)>;
  TArticleSearch(const TMessageStore& store, std::string sjisText);
  // Looks at up to `records` more index records, calling onHit for each
  // match; false once every board has been searched.
  bool Step(int records, const THitFn& onHit);
  bool Done() const { return board_ >= kBoardCount; }
  // Records looked at so far.
  long long Examined() const { return examined_; }

 private:
  const TMessageStore store_;  // a copy: the search may run on another thread
  const std::string text_;
  int board_ = 0;
  int next_ = 0;  // the next record of board_
  long long examined_ = 0;
  std::vector<TVeskoMessage> entries_;
  std::string span_;
};

// The whole search at once, hits handed to onHit as they are found.
void SearchArticles(const TMessageStore& store, const std::string& sjisText, const TArticleSearch::THitFn& onHit);

}  // namespace brelo
