#include "support/ScriptedSource.h"

namespace brelo::test {

void TScriptedSource::Lines(const std::vector<std::string>& lines) {
  for (const auto& l : lines) ring_.push_back(l);
  changedAt_ = clock_;
}

void TScriptedSource::Partial(const std::string& partial) {
  partial_ = partial;
  changedAt_ = clock_;
}

void TScriptedSource::OnSend(const std::string& s, const std::vector<std::string>& lines, const std::string& partial) {
  replies_.push_back({s, lines, partial, false});
}

void TScriptedSource::OnLine(const std::string& s, const std::vector<std::string>& lines, const std::string& partial) {
  replies_.push_back({s, lines, partial, true});
}

bool TScriptedSource::LineWaiting() { return readPos_ < static_cast<int>(ring_.size()); }

std::string TScriptedSource::CurrentLine() const {
  return readPos_ < static_cast<int>(ring_.size()) ? ring_[static_cast<size_t>(readPos_)] : partial_;
}

std::string TScriptedSource::LineAt(int slot) {
  // The newest line that a 1000-slot ring would hold in this slot.
  const long size = static_cast<long>(ring_.size());
  if (slot == size % 1000) return partial_;
  for (long a = size - 1; a >= 0 && a >= size - 999; --a) {
    if (a % 1000 == slot) return ring_[static_cast<size_t>(a)];
  }
  return std::string();
}

std::string TScriptedSource::NextLine() {
  while (!LineWaiting()) {
    if (terminated_) return std::string();
    Idle(50);
  }
  std::string l = ring_[static_cast<size_t>(readPos_++)];
  consumed.push_back(l);
  return l;
}

void TScriptedSource::At(long long clock, const std::vector<std::string>& lines, const std::string& partial) {
  timed_.push_back({clock, lines, partial});
}

void TScriptedSource::Idle(int ms) {
  clock_ += ms;
  for (auto it = timed_.begin(); it != timed_.end();) {
    if (it->clock > clock_) {
      ++it;
      continue;
    }
    Lines(it->lines);
    Partial(it->partial);
    it = timed_.erase(it);
  }
  // Nothing more will come: end the session as a disconnect would.
  if ((terminateWhenDry && timed_.empty() && !LineWaiting() && clock_ - changedAt_ >= kDryMs) ||
      clock_ >= terminateAtClock) {
    terminated_ = true;
  }
}

void TScriptedSource::SendLine(const std::string& s) { SendText(s + "\r\n"); }

void TScriptedSource::SendText(const std::string& s) {
  sent += s;
  pendingSend_ += s;
  // As a host's line editor reads it: a line ends at CR LF, CR or LF.
  size_t start = 0;
  for (size_t i = 0; i < pendingSend_.size(); ++i) {
    const char c = pendingSend_[i];
    if (c != '\r' && c != '\n') continue;
    const std::string line = pendingSend_.substr(start, i - start);
    if (c == '\r' && i + 1 < pendingSend_.size() && pendingSend_[i + 1] == '\n') ++i;
    start = i + 1;
    LineSent(line);
  }
  pendingSend_.erase(0, start);
}

void TScriptedSource::LineSent(const std::string& line) {
  if (echo) {
    ring_.push_back(partial_ + line);
    Partial("");
  }
  for (auto it = replies_.begin(); it != replies_.end(); ++it) {
    if (it->exact ? line == it->sent : line.find(it->sent) != std::string::npos) {
      // The partial line becomes complete (the host echoes the answer).
      if (!echo && !partial_.empty()) ring_.push_back(partial_ + line);
      Lines(it->lines);
      Partial(it->partial);
      replies_.erase(it);
      return;
    }
  }
}

}  // namespace brelo::test
