#include "reader/Recapture.h"

#include <array>
#include <deque>
#include <cerrno>
#include <fstream>
#include <sstream>

#include "common/FileUtil.h"
#include "session/Dialogue.h"
#include "session/SessionLog.h"

namespace brelo {
namespace {

// The log's lines as the ring would give them, read from the log as they
// are taken: a log of any size costs a few lines of look-ahead and the last
// thousand lines, as the ring holds them. A log has no unfinished line: the
// host's prompts are in it as the lines our answers ended. Runs dry at the
// end of the log and at the mark of the next pass, as a line lost there
// would: what the pass left unfinished ends there; NextPass goes on.
class TLogSource : public ILineSource, public ILineSink {
 public:
  explicit TLogSource(std::istream& in) : in_(in) { ReadAhead(); }
  std::string NextLine() override {
    if (ahead_.empty()) {
      ranDry_ = true;
      return std::string();
    }
    std::string line = std::move(ahead_.front());
    ahead_.pop_front();
    slots_[static_cast<size_t>(ReadPos())] = line;
    ++taken_;
    if (ahead_.empty()) ReadAhead();
    return line;
  }
  // The log is at its end: whatever waits for more of it is cut off there.
  bool Terminated() const override {
    if (!ahead_.empty() || !eof_) return false;
    ranDry_ = true;
    return true;
  }
  bool LineWaiting() override { return !ahead_.empty(); }
  int ReadPos() override { return static_cast<int>(taken_ % kSlots); }
  int LineIndex() override { return static_cast<int>((taken_ + ahead_.size()) % kSlots); }
  std::string LineAt(int slot) override {
    const size_t offset = static_cast<size_t>((slot - ReadPos() + kSlots) % kSlots);
    if (offset < ahead_.size()) return ahead_[offset];
    if (slot == LineIndex()) return std::string();  // no partial line in a log
    return slots_[static_cast<size_t>(slot) % kSlots];
  }
  // The dialogue waits for more of the host: the next line of the log
  // comes, as the host would send it; the clock runs so that a log that
  // ends is a host gone quiet.
  void Idle(int ms) override {
    clock_ += ms;
    if (ahead_.size() < kMostAhead) ReadAhead();
    if (ahead_.empty()) ranDry_ = true;
  }
  long long TickCount() override { return clock_; }
  bool Replayed() const override { return true; }
  void SendLine(const std::string&) override {}  // nobody is on the line
  void SendText(const std::string&) override {}
  // A capture asked for more than the log (or the pass) holds.
  bool RanDry() const { return ranDry_; }
  // Past the mark of the next pass; false at the end of the log.
  bool NextPass() {
    if (!atMark_) return false;
    atMark_ = false;
    eof_ = false;
    ranDry_ = false;
    ReadAhead();
    return true;
  }
  // The log could not be read to its end.
  bool Failed() const { return in_.bad(); }

 private:
  static constexpr int kSlots = 1000;
  static constexpr size_t kMostAhead = 8;
  void ReadAhead() {
    if (eof_) return;
    std::string next;
    // Lines end in LF, a CR before it is dropped: as the log was written.
    if (!std::getline(in_, next)) {
      eof_ = true;
      return;
    }
    if (!next.empty() && next.back() == '\r') next.pop_back();
    if (TSessionLog::IsPassMark(next)) {
      // The pass before ends here, as if the line had been lost.
      eof_ = atMark_ = true;
      return;
    }
    ahead_.push_back(std::move(next));
  }
  std::istream& in_;
  std::deque<std::string> ahead_;
  bool eof_ = false;
  bool atMark_ = false;  // eof_ is the mark of the next pass
  unsigned long long taken_ = 0;
  std::array<std::string, kSlots> slots_;
  mutable bool ranDry_ = false;
  long long clock_ = 0;
};

class TRecaptureEvents : public IDialogueEvents {
 public:
  TRecaptureEvents(TMainModel& model, TLogSource& src, TRecaptureResult& result)
      : model_(model), src_(src), result_(result) {}
  void PostStatus(const std::string&) override {}
  void Login() override {}
  void Logout() override {}
  void GetMainPrompt() override {}
  void GetMessageBoard(int no, const std::string& name, const std::string& title) override {
    ++result_.boards;
    model_.Policy.VeskoClient1GetMessageBoard(no, name, title);
  }
  // The policy stores as a live pass does, skipping what is already stored
  // whole; a message the log cuts off keeps what the log holds, as the live
  // pass kept it (a whole copy seen later is still stored).
  void ReceiveMessage(TVeskoMessage& m) override {
    CountCut();
    model_.Policy.VeskoClient1ReceiveMessage(m);
  }
  void ReceiveMail(TVeskoMessage& m) override {
    CountCut();
    model_.Policy.VeskoClient1ReceiveMail(m);
  }
  void ReceiveTelegram(const std::string&, const std::string&) override {}
  void ReceiveLoginUsers(const std::string&) override {}
  void ReceiveUsers(const std::string& users, bool cut) override { model_.Policy.VeskoClient1ReceiveUsers(users, cut); }
  void ReceiveChatLine(int, const std::string&, const std::string&, bool) override {}
  void ExecuteWriteMessage(int) override {}
  bool HasExecuteWriteMessage() override { return false; }
  bool HasReceiveMail() override { return false; }

 private:
  void CountCut() {
    if (src_.RanDry()) ++result_.cut;
  }
  TMainModel& model_;
  TLogSource& src_;
  TRecaptureResult& result_;
};

// Nobody is on the line: a store failure has nothing to stop.
struct TNoCommands : ISessionCommands {
  void SendLine(const std::string&) override {}
  void SendText(const std::string&) override {}
  void WriteMessage(const std::string&, const std::string&, const std::string&, int) override {}
  void WriteMail(const std::string&, const std::string&, const std::string&, int) override {}
  void Disconnect() override {}
};

}  // namespace

TRecaptureResult Recapture(TMainModel& model, const std::string& logBytes) {
  std::istringstream in(logBytes);
  return Recapture(model, in, "session log");
}

std::optional<TRecaptureResult> RecaptureFile(TMainModel& model, const std::string& logPath) {
  // A device or a pipe would be read without end.
  if (const std::string why = NotARegularFile(logPath); !why.empty()) throw EInOutError(why);
  std::ifstream in(logPath, std::ios::binary);
  if (!in.is_open()) {
    if (errno == ENOENT) return std::nullopt;
    throw EInOutError(CannotReadText(logPath, errno));
  }
  return Recapture(model, in, logPath);
}

TRecaptureResult Recapture(TMainModel& model, std::istream& log, const std::string& logName) {
  TRecaptureResult result;
  TLogSource src(log);
  TRecaptureEvents events(model, src, result);
  TNoCommands nobody;
  model.Policy.SetCommands(&nobody);
  model.Policy.BeginCount();
  TNoLine line;
  TSessionSettings settings;
  const int host = model.Policy.CurrentHost();
  settings.HostKind = host >= 0 ? static_cast<THostKind>(model.Hosts.HostTable[static_cast<size_t>(host)].HostKind)
                                : HK_vesko;
  settings.GetTelegram = false;
  // Each pass of the log afresh: nothing of one is carried into the next.
  do {
    std::atomic<int> mode{sm_online}, channel{-1};
    TDialogue dialogue(src, src, events, line, settings, mode, channel, [] { return TPendingWrite(); });
    while (src.LineWaiting()) dialogue.Dispatch(src.NextLine());
  } while (src.NextPass());
  model.Policy.SetCommands(nullptr);
  // What was read before a read error is stored; the error is still told.
  const bool unreadable = src.Failed();
  const TPassSummary& done = model.Policy.Summary();
  result.stored = done.stored + done.completed;  // a cut-off copy completed is stored too
  result.skipped = done.duplicates;
  if (done.storeFailed) throw EInOutError(done.problem);
  model.Store.SaveBoards();
  model.Store.Sync();
  if (unreadable) throw EInOutError(CannotReadText(logName, EIO));
  return result;
}

}  // namespace brelo
