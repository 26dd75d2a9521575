#include "ui/Recapture.h"

#include <limits>
#include <set>
#include <tuple>

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
      : model_(model), src_(src), result_(result) {
    std::vector<TVeskoMessage> entries;
    for (int b = 0; b < kBoardCount; ++b) {
      model_.Store.ReadIndex(b, std::numeric_limits<int>::max(), entries);
      for (const TVeskoMessage& m : entries) known_.insert(Key(b, m));
    }
  }
  void PostStatus(const std::string&) override {}
  void Login() override {}
  void Logout() override {}
  void GetMainPrompt() override {}
  void GetMessageBoard(int no, const std::string& name, const std::string& title) override {
    ++result_.boards;
    model_.Policy.VeskoClient1GetMessageBoard(no, name, title);
  }
  void ReceiveMessage(TVeskoMessage& m) override {
    if (Take(m.BoardNo, m)) model_.Policy.VeskoClient1ReceiveMessage(m);
  }
  void ReceiveMail(TVeskoMessage& m) override {
    if (Take(0, m)) model_.Policy.VeskoClient1ReceiveMail(m);
  }
  void ReceiveTelegram(const std::string&, const std::string&) override {}
  void ReceiveLoginUsers(const std::string&) override {}
  void ReceiveUsers(const std::string& users) override { model_.Policy.VeskoClient1ReceiveUsers(users); }
  void ReceiveChatLine(int, const std::string&, const std::string&, bool) override {}
  void ExecuteWriteMessage(int) override {}
  bool HasExecuteWriteMessage() override { return false; }
  bool HasReceiveMail() override { return false; }

 private:
  using TKey = std::tuple<int, int32_t, double, std::string, std::string>;
  // Board, number and date; mail, numbered by the store, by date, sender and title.
  static TKey Key(int board, const TVeskoMessage& m) {
    if (board == 0) return {0, 0, m.Date, m.FromID, m.Title};
    return {board, m.MesNo, m.Date, std::string(), std::string()};
  }
  bool Take(int board, const TVeskoMessage& m) {
    if (src_.RanDry()) {
      ++result_.cut;
      return false;
    }
    if (!known_.insert(Key(board, m)).second) {
      ++result_.skipped;
      return false;
    }
    ++result_.stored;
    return true;
  }
  TMainModel& model_;
  TLogSource& src_;
  TRecaptureResult& result_;
  std::set<TKey> known_;
};


}  // namespace

TRecaptureResult Recapture(TMainModel& model, const std::string& logBytes) {
  TRecaptureResult result;
  TLogSource src(logBytes);
  TRecaptureEvents events(model, src, result);
  TNoLine line;
  TSessionSettings settings;
  const int host = model.Policy.CurrentHost();
  settings.HostKind = host >= 0 ? static_cast<THostKind>(model.Hosts.HostTable[static_cast<size_t>(host)].HostKind)
                                : HK_vesko;
  settings.GetTelegram = false;
  std::atomic<int> mode{sm_online}, channel{-1};
  TDialogue dialogue(src, src, events, line, settings, mode, channel, [] { return TPendingWrite(); });
  while (src.LineWaiting()) dialogue.Dispatch(src.NextLine());
  model.Store.SaveBoards();
  return result;
}

}  // namespace brelo
