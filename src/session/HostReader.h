// THostReader: what the host says, told apart from what it only echoes of
// ours, and where it waits. The dialogue answers the host through it.
//
// A prompt is where the host waits: the text of the last, unfinished line
// after which nothing more arrives for the host's quiet second (or, when the
// host ended its question with a line break, the last line it sent). A
// whole line is the host's answer only for the part of it that is not our
// echo: the line we answered a prompt on holds the prompt and our answer,
// and a body we sent comes back line by line.
//
// Work thread only; it reads and sends through the dialogue's seams.
#pragma once

#include <deque>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "session/LineSource.h"

namespace brelo {

class THostReader {
 public:
  // The host's quiet second: nothing more has come for so long after an
  // unfinished line. A line that ends as prompts end (in ':', '>', '?',
  // ']' or ')', blanks after it) needs only a quarter of it.
  static constexpr int kQuietMs = 1000;
  static constexpr int kPromptQuietMs = 250;
  static bool EndsLikeAPrompt(std::string_view line);

  THostReader(ILineSource& src, ILineSink& sink) : src_(src), sink_(sink) {}

  // A new exchange: nothing sent before is looked for any more.
  void Reset();

  // Answers the host where it waits: s, CR, LF. The line the host waits on
  // comes back as its prompt and the echo of s: none of it is its answer.
  void Answer(const std::string& s);
  // Sends a body and the "//" that ends it, each line for the host's line
  // editor; the lines it echoes back are ours, not its answer.
  void SendBody(const std::string& body);

  enum class EKind {
    kLine,    // a complete line, consumed: Line() and Said()
    kPrompt,  // the host waits: Said() is its question, Prompt() which text it holds
    kEnd,     // the session ended
    kGiveUp,  // the caller's stop() said so
  };
  // The host's next turn: a complete line, or a prompt. A prompt holds one
  // of `prompts` in its first 120 bytes (tested in list order; Prompt() is
  // -1 when it holds none of them), and is reported once: the next call
  // waits for the host to change it. stop() is asked while waiting.
  EKind Next(const std::vector<std::string>& prompts, const std::function<bool()>& stop = {});
  // Next until the host waits at one of `prompts` (or the session ends, or
  // stop()); lines and other prompts go to onLine / are passed over. A
  // line for which onLine returns false ends the wait with kLine.
  EKind NextPrompt(const std::vector<std::string>& prompts, const std::function<bool()>& stop = {},
                   const std::function<bool()>& onLine = {});

  const std::string& Line() const { return line_; }
  // The host's own words on the line or at the prompt: our echo taken out.
  const std::string& Said() const { return said_; }
  // Whether the host's words hold `word` in their first 120 bytes.
  bool Says(std::string_view word) const { return Head(said_).find(word) != std::string_view::npos; }
  static std::string_view Head(std::string_view s) { return s.substr(0, 120); }
  int Prompt() const { return prompt_; }
  // The ring slot of the prompt reported last (its line is still the partial one).
  int PromptSlot() const { return promptSlot_; }

  // What follows the lines consumed so far.
  enum class EAhead {
    kLine,   // the line k places after the read position is complete (k = 0: the waiting line)
    kQuiet,  // the host went quiet before it: it waits at its unfinished line
    kEnd,    // the session ended first
  };
  // Waits for line k without consuming anything; once it says kLine, the
  // source's WaitingLine(0..k) are those lines.
  EAhead WaitAhead(int k);

 private:
  // What of a line at the slot we answered on is the host's.
  std::string_view HostPart(std::string_view line) const;
  // Whether the line is the echo of the next body line (the lines before
  // it the host did not echo are forgotten).
  bool BodyEcho(const std::string& line);
  // No byte has arrived for the quiet spell the partial line calls for:
  // it and its slot are as they were (counted from the first look).
  bool Quiet();
 public:
  // How long the partial line has been as it is (from the first look).
  long long QuietFor();

 private:

  ILineSource& src_;
  ILineSink& sink_;
  // The slot we last answered a prompt on, the prompt as it stood and our
  // answer; -1: none.
  int echoSlot_ = -1;
  std::string echoPrompt_, echoText_;
  std::deque<std::string> bodyEcho_;
  std::string line_, said_;
  int prompt_ = -1;
  int promptSlot_ = -1;
  // The last line consumed and what the host said on it: a question ended
  // with a line break is that line.
  int lastSlot_ = -1;
  std::string lastSaid_;
  // The partial line as last seen, and when it last changed.
  int seenIndex_ = -1;
  std::string seenPartial_;
  long long changedAt_ = 0;
  // The prompt reported last (slot and text), not reported again.
  int reportedIndex_ = -1;
  std::string reportedText_;
};

}  // namespace brelo
