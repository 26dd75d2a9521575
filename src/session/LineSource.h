// The narrow seams of the host dialogue. The work thread's recognisers
// (connection, login, captures, posting) read lines through an ILineSource
// and send through an ILineSink; the real ring and send thread implement
// them, and a test implements them with a script.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace brelo {

class ILineSource {
 public:
  virtual ~ILineSource() = default;
  // Waits for a complete line and consumes it (logged and reported). Returns
  // "" when the work thread has been asked to terminate meanwhile.
  virtual std::string NextLine() = 0;
  // NextLine into a string the caller keeps (its capacity is reused).
  // False when no line was taken (the session ended first): an empty line
  // that was taken is a line like any other.
  virtual bool NextLineInto(std::string& out) {
    out = NextLine();
    return !out.empty() || !Terminated();
  }
  // NextLineInto when a complete line waits; false at once when none does.
  virtual bool TakeWaitingLine(std::string& out) { return LineWaiting() && NextLineInto(out); }
  // Consumes the waiting line like NextLine, for a caller that has already
  // looked at it; the source may skip the copy when nobody needs the text.
  virtual void SkipLine() { NextLine(); }
  // True once the dialogue must end: at once when the session is torn down,
  // or, when the line is lost or the user ends the session, as soon as every
  // complete line that arrived has been consumed.
  virtual bool Terminated() const = 0;
  // The session is ending (Terminated, or about to be once the received
  // lines are consumed): nothing new is started, a login is not reported.
  virtual bool Stopping() const { return Terminated(); }
  // The password is being sent in answer to the host, which waits on the
  // line at LineIndex: an echo of it there is not written to the log or
  // reported.
  virtual void MaskAnswer() {}
  // A complete line waits (ReadPos differs from LineIndex).
  virtual bool LineWaiting() = 0;
  virtual int ReadPos() = 0;
  virtual int LineIndex() = 0;
  // The line in a ring slot; the slot LineIndex holds the partial line.
  virtual std::string LineAt(int slot) = 0;
  // Sleeps up to ms; may return earlier when something arrives.
  virtual void Idle(int ms) = 0;
  // Milliseconds of a steady clock (the system tick count).
  virtual long long TickCount() = 0;

  // A record of a session rather than the line itself: it holds no
  // unfinished lines, so the host's prompts are in it only as the lines our
  // answers completed, and a line that opens with a prompt is where the
  // host waited.
  virtual bool Replayed() const { return false; }

  // The complete line k places after ReadPos (at least k + 1 lines wait),
  // without a copy where the source holds it: valid until a line is
  // consumed or this is called again.
  virtual std::string_view WaitingLine(int k) {
    peeked_ = LineAt((ReadPos() + k) % 1000);
    return peeked_;
  }
  // Tests the line in a ring slot without copying it where the source can
  // (a complete line, or the partial one).
  virtual bool LineHas(int slot, const std::function<bool(const std::string&)>& pred) { return pred(LineAt(slot)); }
  // Tests the line at ReadPos without copying it where the source can.
  virtual bool CurrentLineHas(const std::function<bool(const std::string&)>& pred) { return LineHas(ReadPos(), pred); }

  std::string CurrentLine() { return LineAt(ReadPos()); }
  std::string PartialLine() { return LineAt(LineIndex()); }

 private:
  std::string peeked_;  // WaitingLine's copy where the source has no other
};

class ILineSink {
 public:
  virtual ~ILineSink() = default;
  virtual void SendLine(const std::string& s) = 0;  // s, CR, LF
  virtual void SendText(const std::string& s) = 0;  // s alone
};

// Waits until a line contains t: a line at ReadPos (complete or partial)
// that contains it stays unconsumed; a complete line that does not is
// consumed. Returns false when terminated.
bool WaitText(ILineSource& src, const std::string& t);
// Waits until the first 120 bytes of the line at ReadPos contain one of the
// texts, tested in list order; returns its index with the line unconsumed,
// or -1 when terminated.
int WaitAny(ILineSource& src, const std::vector<std::string>& texts);

}  // namespace brelo
