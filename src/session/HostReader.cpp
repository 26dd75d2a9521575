#include "session/HostReader.h"

#include "common/Sjis.h"
#include "session/LineRing.h"

namespace brelo {
namespace {

constexpr int kSlots = TLineRing::kSize;

}  // namespace

void THostReader::Reset() {
  echoSlot_ = -1;
  echoPrompt_.clear();
  echoText_.clear();
  bodyEcho_.clear();
  lastSlot_ = -1;
  lastSaid_.clear();
  seenIndex_ = -1;
  reportedIndex_ = -1;
  reportedText_.clear();
}

void THostReader::Answer(const std::string& s) {
  echoSlot_ = src_.LineIndex();
  echoPrompt_ = src_.LineAt(echoSlot_);
  echoText_ = s;
  // The host has done with the body once it asks again.
  bodyEcho_.clear();
  sink_.SendLine(s);
}

void THostReader::SendBody(const std::string& body) {
  // As the host's line editor splits it: at CR LF, a lone CR or a lone LF.
  const std::string text = body + "\r\n";
  std::string line;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c != '\r' && c != '\n') {
      line += c;
      continue;
    }
    bodyEcho_.push_back(std::move(line));
    line.clear();
    if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
  }
  bodyEcho_.push_back("//");
  sink_.SendText(text);
  sink_.SendLine("//");
}

std::string_view THostReader::HostPart(std::string_view line) const {
  if (line.starts_with(echoPrompt_)) line.remove_prefix(echoPrompt_.size());
  // Our answer, whole or as far as it has come back.
  size_t n = 0;
  while (n < line.size() && n < echoText_.size() && line[n] == echoText_[n]) ++n;
  if (n == echoText_.size() || n == line.size()) line.remove_prefix(n);
  return line;
}

bool THostReader::BodyEcho(const std::string& line) {
  // A host that puts a number or a mark before each line still ends it with ours.
  const size_t look = std::min<size_t>(bodyEcho_.size(), 64);
  for (size_t k = 0; k < look; ++k) {
    const std::string& e = bodyEcho_[k];
    if (line == e || (!e.empty() && line.ends_with(e))) {
      bodyEcho_.erase(bodyEcho_.begin(), bodyEcho_.begin() + static_cast<std::ptrdiff_t>(k + 1));
      return true;
    }
  }
  return false;
}

bool THostReader::EndsLikeAPrompt(std::string_view line) {
  while (!line.empty() && line.back() == ' ') line.remove_suffix(1);
  // The last character, a double-byte one read as such.
  size_t last = 0;
  for (size_t i = 0; i < line.size(); i += IsDBCSLeadByte(static_cast<unsigned char>(line[i])) ? 2 : 1) last = i;
  const std::string_view c = line.substr(last);
  static const std::string_view kEnds[] = {":", ">", "?", "]", ")", "\x81\x46", "\x81\x84", "\x81\x48"};  // ： ＞ ？
  for (std::string_view e : kEnds) {
    if (c == e) return true;
  }
  return false;
}

long long THostReader::QuietFor() {
  const int index = src_.LineIndex();
  const std::string partial = src_.LineAt(index);
  if (index != seenIndex_ || partial != seenPartial_) {
    seenIndex_ = index;
    seenPartial_ = partial;
    changedAt_ = src_.TickCount();
    return 0;
  }
  return src_.TickCount() - changedAt_;
}

bool THostReader::Quiet() {
  const long long quiet = QuietFor();
  return quiet >= (EndsLikeAPrompt(seenPartial_) ? kPromptQuietMs : kQuietMs);
}

THostReader::EKind THostReader::Next(const std::vector<std::string>& prompts, const std::function<bool()>& stop) {
  for (;;) {
    if (src_.Terminated()) return EKind::kEnd;
    if (src_.LineWaiting()) {
      const int slot = src_.ReadPos();
      if (!src_.NextLineInto(line_)) return EKind::kEnd;
      if (slot == echoSlot_) {
        said_ = HostPart(line_);
        echoSlot_ = -1;
      } else if (BodyEcho(line_)) {
        said_.clear();
      } else {
        said_ = line_;
      }
      lastSlot_ = slot;
      lastSaid_ = said_;
      prompt_ = -1;
      return EKind::kLine;
    }
    if (stop && stop()) return EKind::kGiveUp;
    if (Quiet()) {
      const int index = seenIndex_;
      const std::string& partial = seenPartial_;
      std::string question;
      if (index == echoSlot_) {
        question = HostPart(partial);
      } else if (bodyEcho_.empty() || !bodyEcho_.front().starts_with(partial)) {
        question = partial;  // (a body line still coming back is not a question)
      }
      // A question ended with a line break: the host waits after that line.
      if (question.empty() && lastSlot_ == (index + kSlots - 1) % kSlots) question = lastSaid_;
      if (!question.empty() && !(index == reportedIndex_ && partial == reportedText_)) {
        reportedIndex_ = index;
        reportedText_ = partial;
        promptSlot_ = index;
        said_ = std::move(question);
        line_.clear();
        prompt_ = -1;
        for (size_t i = 0; i < prompts.size(); ++i) {
          if (Head(said_).find(prompts[i]) != std::string_view::npos) {
            prompt_ = static_cast<int>(i);
            break;
          }
        }
        return EKind::kPrompt;
      }
    }
    src_.Idle(50);
  }
}

THostReader::EKind THostReader::NextPrompt(const std::vector<std::string>& prompts, const std::function<bool()>& stop,
                                           const std::function<bool()>& onLine) {
  for (;;) {
    const EKind k = Next(prompts, stop);
    if (k == EKind::kLine) {
      if (onLine && !onLine()) return k;
      continue;
    }
    if (k == EKind::kPrompt && prompt_ < 0) continue;  // another question: not one this wait answers
    return k;
  }
}

THostReader::EAhead THostReader::WaitAhead(int k) {
  for (;;) {
    if ((src_.LineIndex() - src_.ReadPos() + kSlots) % kSlots > k) return EAhead::kLine;
    if (src_.Terminated()) return EAhead::kEnd;
    if (Quiet()) return EAhead::kQuiet;
    src_.Idle(50);
  }
}

}  // namespace brelo
