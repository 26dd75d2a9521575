#include "session/LineSource.h"

namespace brelo {

bool WaitText(ILineSource& src, const std::string& t) {
  while (!src.Terminated()) {
    if (src.CurrentLine().find(t) != std::string::npos) return true;
    if (!src.LineWaiting()) {
      src.Idle(50);
    } else if (src.NextLine().find(t) != std::string::npos) {
      return true;
    }
  }
  return false;
}

int WaitAny(ILineSource& src, const std::vector<std::string>& texts) {
  while (!src.Terminated()) {
    const std::string head = src.CurrentLine().substr(0, 120);
    for (size_t i = 0; i < texts.size(); ++i) {
      if (head.find(texts[i]) != std::string::npos) return static_cast<int>(i);
    }
    if (!src.LineWaiting()) src.Idle(50);
    else src.NextLine();
  }
  return -1;
}

}  // namespace brelo
