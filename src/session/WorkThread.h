// TWorkThread: the automation thread of one session. It reads the ring (the
// only reader), runs the host dialogue and raises every event on the main
// thread, waiting until the handler returns.
#pragma once

#include <atomic>
#include <functional>
#include <thread>

#include "session/Dialogue.h"

namespace brelo {

class TVeskoClient;

class TWorkThread : public ILineSource, public ILineSink, public IDialogueEvents, public ILineControl {
 public:
  explicit TWorkThread(TVeskoClient& owner);
  ~TWorkThread() override;  // asks to terminate and waits

  void Start();
  // Every wait ends now (the component is going away).
  void Terminate();
  // The line is gone or the user ended the session: the lines that already
  // arrived are still consumed, dispatched and captured (the host counts
  // them as read), then the thread ends.
  void Finish();
  void Join();
  bool Finished() const { return finished_.load(); }

  // ILineSource
  std::string NextLine() override;
  void SkipLine() override;
  bool NextLineInto(std::string& out) override;
  bool TakeWaitingLine(std::string& out) override;
  bool Terminated() const override;
  bool Stopping() const override { return terminated_.load() || finishing_.load(); }
  void MaskAnswer() override;
  bool LineWaiting() override;
  int ReadPos() override;
  int LineIndex() override;
  std::string LineAt(int slot) override;
  bool LineHas(int slot, const std::function<bool(const std::string&)>& pred) override;
  std::string_view WaitingLine(int k) override;
  void Idle(int ms) override;
  long long TickCount() override;

  // ILineSink
  void SendLine(const std::string& s) override;
  void SendText(const std::string& s) override;

  // IDialogueEvents: each runs the owner's handler on the main thread.
  void PostStatus(const std::string& s) override;
  void Login() override;
  void Logout() override;
  bool LogoutCommandSent() override;
  void GetMainPrompt() override;
  void GetMessageBoard(int boardNo, const std::string& name, const std::string& title) override;
  void ReceiveMessage(TVeskoMessage& m) override;
  void ReceiveMail(TVeskoMessage& m) override;
  void ReceiveTelegram(const std::string& from, const std::string& mes) override;
  void ReceiveLoginUsers(const std::string& users) override;
  void ReceiveUsers(const std::string& users, bool cut) override;
  void ReceiveChatLine(int ch, const std::string& handle, const std::string& mes, bool isNext) override;
  void ExecuteWriteMessage(int tag) override;
  void WriteFailed(int tag, bool refused) override;
  void LoginFailed(ELoginEnd why, const std::string& hostWords) override;
  bool HasExecuteWriteMessage() override;
  bool HasReceiveMail() override;

  // ILineControl
  void SetTransport(int transport) override;
  void SetConnected(bool connected) override;
  void TcpSetHostPort(const std::string& host, const std::string& port) override;
  void TcpClose() override;
  void TcpConnect() override;
  bool TcpClosed() override;
  bool ModemOpen(int port, int rate, const std::string& device) override;
  TSshOutcome SshOpen(const std::string& host, const std::string& port, const std::string& user) override;
  TWebPage FetchPage(const std::string& url) override;
  void TerminateSelf() override { Terminate(); }
  bool UserTyped() override;

 private:
  void Execute();
  // Runs fn on the main thread and waits; gives up only while the owner is
  // being destroyed.
  void Synchronize(const std::function<void()>& fn);
  // Logs and reports the line consumed from ring slot `slot`.
  void Consumed(const std::string& line, int slot);
  // A line into the session log; the log's first failure is reported.
  void LogLine(const std::string& line);
  // Finishing, and nothing received is left to consume.
  bool Drained() const;

  TVeskoClient& owner_;
  std::atomic<bool> terminated_{false};
  std::atomic<bool> finishing_{false};
  // The password prompt's slot and where the echo of the answer starts
  // (work thread only); -1: nothing to mask.
  int maskSlot_ = -1;
  size_t maskFrom_ = 0;
  bool maskWholeLine_ = false;
  bool logFailed_ = false;  // work thread only: the log's failure was reported
  std::atomic<bool> finished_{false};
  std::thread thread_;
};

}  // namespace brelo
