// A scripted host for the dialogue: lines the host "prints", optionally a
// partial line after them, and replies that appear when the client sends a
// matching line. Records everything the client sends. Single-threaded: the
// dialogue runs on the test's thread, and the script never waits for real.
#pragma once

#include <string>
#include <vector>

#include "session/LineSource.h"

namespace brelo::test {

class TScriptedSource : public brelo::ILineSource, public brelo::ILineSink {
 public:
  // Complete lines the host has printed.
  void Lines(const std::vector<std::string>& lines);
  void Line(const std::string& line) { Lines({line}); }
  // The partial line (no CR yet) after the complete ones.
  void Partial(const std::string& partial);
  // When the client sends a line that contains `sent`, these lines arrive
  // (and the partial line becomes `partial`). Each is used once; the first
  // that matches a line is taken.
  void OnSend(const std::string& sent, const std::vector<std::string>& lines, const std::string& partial = "");
  // These lines arrive (and the partial line becomes `partial`) once the
  // script's clock reaches `clock`, whatever the client did.
  void At(long long clock, const std::vector<std::string>& lines, const std::string& partial = "");
  // The same for a line that is exactly `sent`.
  void OnLine(const std::string& sent, const std::vector<std::string>& lines, const std::string& partial = "");

  // Echoes every line the client sends as a host does: after the partial
  // line, which it completes. Without it, only a line that a reply answers
  // completes the partial line.
  bool echo = false;
  // Terminates once the script has run dry and the client has waited a
  // while longer than the host's quiet second (on the script's clock).
  bool terminateWhenDry = true;
  static constexpr long long kDryMs = 3000;
  // Every wait is bounded: the script ends the session at this clock.
  long long terminateAtClock = 600000;

  // Everything the client sent, as bytes.
  std::string sent;
  std::vector<std::string> consumed;  // the lines NextLine returned

  // ILineSource
  std::string NextLine() override;
  bool Terminated() const override { return terminated_; }
  bool LineWaiting() override;
  // Indexes as a ring of 1000 slots shows them.
  int ReadPos() override { return readPos_ % 1000; }
  int LineIndex() override { return static_cast<int>(ring_.size()) % 1000; }
  std::string LineAt(int slot) override;
  void Idle(int ms) override;
  long long TickCount() override { return clock_; }
  // ILineSink
  void SendLine(const std::string& s) override;
  void SendText(const std::string& s) override;

  void Terminate() { terminated_ = true; }
  // The line at the read position (complete or partial), by absolute index.
  std::string CurrentLine() const;
  bool CurrentLineHas(const std::function<bool(const std::string&)>& pred) override { return pred(CurrentLine()); }
  // The ring size the transcript follows (a scripted ring of 1000 slots).
  long long clock_ = 0;

 private:
  struct TReply {
    std::string sent;
    std::vector<std::string> lines;
    std::string partial;
    bool exact = false;
  };
  // A whole line the client sent.
  void LineSent(const std::string& line);

  std::vector<std::string> ring_;  // complete lines, all kept
  std::string partial_;
  int readPos_ = 0;
  bool terminated_ = false;
  std::vector<TReply> replies_;
  struct TTimed {
    long long clock;
    std::vector<std::string> lines;
    std::string partial;
  };
  std::vector<TTimed> timed_;
  std::string pendingSend_;
  long long changedAt_ = 0;  // the clock when the host last printed something
};

}  // namespace brelo::test
