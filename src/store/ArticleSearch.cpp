#include "store/ArticleSearch.h"

#include <limits>

#include "common/FileUtil.h"
#include "common/Sjis.h"

namespace brelo {

size_t FindSjis(std::string_view hay, std::string_view needle) {
  if (needle.empty() || needle.size() > hay.size()) return std::string_view::npos;
  size_t boundary = 0;  // the next character start at or after the scan position
  for (size_t at = hay.find(needle); at != std::string_view::npos; at = hay.find(needle, at + 1)) {
    // Walk the characters up to the candidate: only a walk knows where they start.
    while (boundary < at) boundary += IsDBCSLeadByte(static_cast<unsigned char>(hay[boundary])) ? 2 : 1;
    if (boundary == at) return at;
  }
  return std::string_view::npos;
}

std::vector<TSearchHit> SearchArticles(const TMessageStore& store, const std::string& text) {
  std::vector<TSearchHit> hits;
  if (text.empty()) return hits;
  std::vector<TVeskoMessage> entries;
  for (int board = 0; board < kBoardCount; ++board) {
    if (store.ReadIndex(board, std::numeric_limits<int>::max(), entries) == 0) continue;
    const std::optional<std::string> all = ReadWholeFile(store.TextFile(board));
    const std::string_view body = all ? std::string_view(*all) : std::string_view();
    for (const TVeskoMessage& m : entries) {
      bool match = FindSjis(m.Title, text) != std::string_view::npos ||
                   FindSjis(m.FromID, text) != std::string_view::npos ||
                   FindSjis(m.FromHandle, text) != std::string_view::npos;
      if (!match && m.TextPos >= 0 && static_cast<size_t>(m.TextPos) < body.size() && m.TextLen > 0) {
        // The block without its head; what a record points past the file is not read.
        std::string_view block = body.substr(static_cast<size_t>(m.TextPos), static_cast<size_t>(m.TextLen));
        const size_t cr = block.find('\r');
        block.remove_prefix(cr != std::string_view::npos && !block.empty() && block[0] == '#' ? cr : std::min<size_t>(7, block.size()));
        match = FindSjis(block, text) != std::string_view::npos;
      }
      if (match) hits.push_back({board, m});
    }
  }
  return hits;
}

}  // namespace brelo
