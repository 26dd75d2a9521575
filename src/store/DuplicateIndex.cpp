#include "store/DuplicateIndex.h"

#include <algorithm>
#include <limits>

#include "common/Sjis.h"
#include <vector>

namespace brelo {

TDuplicateIndex::TKey TDuplicateIndex::Key(int board, const TVeskoMessage& m) {
  // Cut as the index records hold them.
  if (board == 0) {
    return {0, 0, m.Date, CutBytes(m.FromID, TVeskoMessage::kFromIDMax), CutBytes(m.Title, TVeskoMessage::kTitleMax)};
  }
  return {board, m.MesNo, m.Date, std::string(), std::string()};
}

void TDuplicateIndex::Load(int board) {
  loaded_[static_cast<size_t>(board)] = true;
  std::vector<TVeskoMessage> entries;
  store_.ReadIndex(board, std::numeric_limits<int>::max(), entries);
  for (const TVeskoMessage& e : entries) {
    const size_t head = TMessageStore::HeadLength(e.MesNo);
    const size_t text = e.TextLen > 0 && static_cast<size_t>(e.TextLen) > head ? e.TextLen - head : 0;
    size_t& known = textBytes_[Key(board, e)];
    known = std::max(known, text);
  }
}

bool TDuplicateIndex::Stored(int board, const TVeskoMessage& m) {
  if (!TMessageStore::ValidBoard(board)) return false;
  if (!loaded_[static_cast<size_t>(board)]) Load(board);
  const auto it = textBytes_.find(Key(board, m));
  return it != textBytes_.end() && it->second >= m.Text.size();
}

void TDuplicateIndex::Add(int board, const TVeskoMessage& m) {
  if (!TMessageStore::ValidBoard(board)) return;
  size_t& known = textBytes_[Key(board, m)];
  known = std::max(known, m.Text.size());
}

}  // namespace brelo
