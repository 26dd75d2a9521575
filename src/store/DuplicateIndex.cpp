#include "store/DuplicateIndex.h"

#include <limits>

#include "common/Sjis.h"

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
    copies_[Key(board, e)].push_back({e.IndexNo, e.TextPos, e.TextLen, e.MesNo, !e.Cut});
  }
}

std::string TDuplicateIndex::StoredText(int board, const TCopy& c) const {
  const size_t head = TMessageStore::HeadLength(c.mesNo);
  std::string text;
  if (c.textPos >= 0 && c.textLen > 0 && static_cast<size_t>(c.textLen) > head) {
    store_.ReadTextSpan(board, static_cast<int64_t>(c.textPos) + static_cast<int64_t>(head),
                        static_cast<size_t>(c.textLen) - head, text);
  }
  return text;
}

TDuplicateIndex::TFinding TDuplicateIndex::Find(int board, const TVeskoMessage& m) {
  TFinding found;
  if (!TMessageStore::ValidBoard(board)) return found;
  if (!loaded_[static_cast<size_t>(board)]) Load(board);
  const auto it = copies_.find(Key(board, m));
  if (it == copies_.end()) return found;
  const bool dated = !(board == 0 && m.Date == TVeskoMessage::UnreadableDate());
  for (const TCopy& c : it->second) {
    const std::string stored = StoredText(board, c);
    const bool begins = m.Text.compare(0, stored.size(), stored) == 0;  // stored is a beginning of m.Text
    if (dated && begins && stored.size() == m.Text.size()) return {EVerdict::kStored, c.indexNo};
    if (dated && m.Cut && stored.compare(0, m.Text.size(), m.Text) == 0) return {EVerdict::kStored, c.indexNo};
    if (begins && stored.size() < m.Text.size() && !c.knownWhole) found = {EVerdict::kCompletes, c.indexNo};
  }
  return found;
}

void TDuplicateIndex::Stored(int board, const TVeskoMessage& m) {
  if (!TMessageStore::ValidBoard(board)) return;
  std::vector<TCopy>& copies = copies_[Key(board, m)];
  const TCopy now{m.IndexNo, m.TextPos, m.TextLen, m.MesNo, !m.Cut};
  for (TCopy& c : copies) {
    if (c.indexNo == m.IndexNo) {
      c = now;  // completed in place
      return;
    }
  }
  copies.push_back(now);
}

}  // namespace brelo
