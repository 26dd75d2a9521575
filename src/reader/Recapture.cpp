#include "reader/Recapture.h"

#include "common/FileUtil.h"
#include "session/Dialogue.h"

namespace brelo {
namespace {

// The log's lines as the ring would give them; runs dry at the end.
class TLogSource : public ILineSource, public ILineSink {
 public:
  explicit TLogSource(const std::string& bytes) : lines_(SplitLines(bytes)) {}
  std::string NextLine() override {
    if (pos_ >= lines_.size()) {
      ranDry_ = terminated_ = true;
      return std::string();
    }
    return lines_[pos_++];
  }
  bool Terminated() const override { return terminated_; }
  bool LineWaiting() override { return pos_ < lines_.size(); }
  int ReadPos() override { return static_cast<int>(pos_ % 1000); }
  int LineIndex() override { return static_cast<int>(lines_.size() % 1000); }
  std::string LineAt(int) override { return pos_ < lines_.size() ? lines_[pos_] : std::string(); }
  void Idle(int) override {
    if (!LineWaiting()) ranDry_ = terminated_ = true;
  }
  long long TickCount() override { return 0; }
  void SendLine(const std::string&) override {}  // nobody is on the line
  void SendText(const std::string&) override {}
  // A capture asked for more than the log holds.
  bool RanDry() const { return ranDry_; }

 private:
  std::vector<std::string> lines_;
  size_t pos_ = 0;
  bool ranDry_ = false;
  bool terminated_ = false;
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
  void ReceiveUsers(const std::string& users) override { model_.Policy.VeskoClient1ReceiveUsers(users); }
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
  TRecaptureResult result;
  TLogSource src(logBytes);
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
  std::atomic<int> mode{sm_online}, channel{-1};
  TDialogue dialogue(src, src, events, line, settings, mode, channel, [] { return TPendingWrite(); });
  while (src.LineWaiting()) dialogue.Dispatch(src.NextLine());
  model.Policy.SetCommands(nullptr);
  const TPassSummary& done = model.Policy.Summary();
  result.stored = done.stored;
  result.skipped = done.duplicates;
  if (done.storeFailed) throw EInOutError(done.problem);
  model.Store.SaveBoards();
  model.Store.Sync();
  return result;
}

}  // namespace brelo
