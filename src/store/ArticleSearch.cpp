#include "store/ArticleSearch.h"

#include <algorithm>

#include "common/Sjis.h"

namespace brelo {
namespace {

// Text read for one slice of records when their blocks lie together; a
// slice whose blocks are spread wider is read block by block.
constexpr size_t kSpanBytes = 4 << 20;

// A block without its head ("#" and the number up to its CR).
std::string_view BlockBody(std::string_view block) {
  const size_t cr = block.find('\r');
  block.remove_prefix(cr != std::string_view::npos && !block.empty() && block[0] == '#' ? cr
                                                                                         : std::min<size_t>(7, block.size()));
  return block;
}

}  // namespace

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

TArticleSearch::TArticleSearch(const TMessageStore& store, std::string sjisText)
    : store_(store), text_(std::move(sjisText)) {
  if (text_.empty()) board_ = kBoardCount;
}

bool TArticleSearch::Step(int records, const THitFn& onHit) {
  while (records > 0 && board_ < kBoardCount) {
    const int got = store_.ReadIndexRange(board_, next_, std::min(records, 2048), entries_);
    if (got == 0) {
      ++board_;
      next_ = 0;
      continue;
    }
    next_ += got;
    records -= got;
    examined_ += got;
    // The text of the slice at once when its blocks lie within a few MB.
    int64_t lo = -1, hi = -1;
    for (const TVeskoMessage& m : entries_) {
      if (m.TextPos < 0 || m.TextLen <= 0) continue;
      lo = lo < 0 ? m.TextPos : std::min<int64_t>(lo, m.TextPos);
      hi = std::max<int64_t>(hi, static_cast<int64_t>(m.TextPos) + m.TextLen);
    }
    const bool together = lo >= 0 && static_cast<size_t>(hi - lo) <= kSpanBytes;
    if (together) store_.ReadTextSpan(board_, lo, static_cast<size_t>(hi - lo), span_);
    std::string own;
    for (const TVeskoMessage& m : entries_) {
      bool match = FindSjis(m.Title, text_) != std::string_view::npos ||
                   FindSjis(m.FromID, text_) != std::string_view::npos ||
                   FindSjis(m.FromHandle, text_) != std::string_view::npos;
      if (!match && m.TextPos >= 0 && m.TextLen > 0) {
        // What a record points past the file's end is not read.
        std::string_view block;
        if (together) {
          const size_t at = static_cast<size_t>(m.TextPos - lo);
          if (at < span_.size()) block = std::string_view(span_).substr(at, static_cast<size_t>(m.TextLen));
        } else if (store_.ReadTextSpan(board_, m.TextPos, static_cast<size_t>(m.TextLen), own)) {
          block = own;
        }
        match = FindSjis(BlockBody(block), text_) != std::string_view::npos;
      }
      if (match) onHit({board_, m});
    }
  }
  if (Done()) {
    // Nothing of the store is kept once the search is over.
    std::vector<TVeskoMessage>().swap(entries_);
    std::string().swap(span_);
  }
  return !Done();
}

void SearchArticles(const TMessageStore& store, const std::string& sjisText, const TArticleSearch::THitFn& onHit) {
  TArticleSearch search(store, sjisText);
  while (search.Step(1 << 14, onHit)) {
  }
}

}  // namespace brelo
