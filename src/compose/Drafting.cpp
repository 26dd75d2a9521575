#include "compose/Drafting.h"

#include "common/Sjis.h"
#include "common/StringLock.h"

namespace brelo {

std::string ResponseTitle(const TVeskoMessage& article) {
  std::string t = article.Title;
  if (t.compare(0, 3, "Re:") == 0) {
    const int close = SafePos(")", t);
    if (close > 0) t = SafeCopy(t, close + 1, 80);
  }
  const std::string title = article.BoardNo >= 1 ? SafeFormat("Re:%d)", article.MesNo) + t : "Re:" + t;
  // New text: never half a character at the end (the stored title may have one).
  return CutChars(WholeChars(title), 60);
}

std::string QuoteLines(const std::vector<std::string>& lines, const std::string& prefix) {
  const int n = static_cast<int>(lines.size()) - 1;  // lines 1..n; line 0 is the head's line break
  if (n < 1) return std::string();
  int first = n, last = 1;
  for (int i = 1; i <= n; ++i) {
    if (!lines[static_cast<size_t>(i)].empty()) {
      first = i;
      break;
    }
  }
  for (int i = n; i >= 1; --i) {
    if (!lines[static_cast<size_t>(i)].empty()) {
      last = i;
      break;
    }
  }
  std::string q;
  for (int i = first; i <= last; ++i) q += prefix + lines[static_cast<size_t>(i)] + "\r\n";
  return q;
}

std::string NewTitle() { return Sjis("[新規発言]タイトルを入れて下さい"); }
std::string NewRecipients() { return Sjis("送り先のＩＤを入れてください"); }

}  // namespace brelo
