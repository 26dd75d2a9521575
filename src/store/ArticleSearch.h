// Finding stored articles of a host whose title, sender ID, handle or text
// contains a string.
#pragma once

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

// Every article of boards 0-99 that matches, board by board, oldest first.
// Each board's text file is read once. File errors raise EInOutError.
std::vector<TSearchHit> SearchArticles(const TMessageStore& store, const std::string& sjisText);

}  // namespace brelo
