#include "support/ScriptedSource.h"

namespace brelo::test {

void TScriptedSource::Lines(const std::vector<std::string>& lines) {
  for (const auto& l : lines) ring_.push_back(l);
}

void TScriptedSource::Partial(const std::string& partial) { partial_ = partial; }

void TScriptedSource::OnSend(const std::string& s, const std::vector<std::string>& lines, const std::string& partial) {
  replies_.push_back({s, lines, partial});
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

void TScriptedSource::Idle(int ms) {
  clock_ += ms;
  // Nothing more will come: end the session as a disconnect would.
  if ((terminateWhenDry && !LineWaiting()) || clock_ >= terminateAtClock) terminated_ = true;
}

void TScriptedSource::SendLine(const std::string& s) {
  sent += s + "\r\n";
  CheckReplies(s);
}

void TScriptedSource::SendText(const std::string& s) {
  sent += s;
  pendingSend_ += s;
}

void TScriptedSource::CheckReplies(const std::string& s) {
  const std::string line = pendingSend_ + s;
  pendingSend_.clear();
  for (auto it = replies_.begin(); it != replies_.end(); ++it) {
    if (line.find(it->sent) != std::string::npos) {
      // The partial line becomes complete (the host echoes the answer).
      if (!partial_.empty()) {
        ring_.push_back(partial_ + line);
        partial_.clear();
      }
      Lines(it->lines);
      partial_ = it->partial;
      replies_.erase(it);
      return;
    }
  }
}

}  // namespace brelo::test
