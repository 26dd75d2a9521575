#include "session/LineSource.h"

#include <string_view>

namespace brelo {

bool WaitText(ILineSource& src, const std::string& t) {
  const auto has = [&t](const std::string& l) { return l.find(t) != std::string::npos; };
  while (!src.Terminated()) {
    // A complete line never changes: what was tested is what gets consumed.
    const bool complete = src.LineWaiting();
    if (src.CurrentLineHas(has)) return true;
    if (complete) src.SkipLine();
    else src.Idle(50);
  }
  return false;
}

int WaitAny(ILineSource& src, const std::vector<std::string>& texts) {
  int found = -1;
  const auto match = [&](const std::string& l) {
    const std::string_view head = std::string_view(l).substr(0, 120);
    for (size_t i = 0; i < texts.size(); ++i) {
      if (head.find(texts[i]) != std::string_view::npos) {
        found = static_cast<int>(i);
        return true;
      }
    }
    return false;
  };
  while (!src.Terminated()) {
    const bool complete = src.LineWaiting();
    if (src.CurrentLineHas(match)) return found;
    if (complete) src.SkipLine();
    else src.Idle(50);
  }
  return -1;
}

}  // namespace brelo
