// TDialogue: the host dialogue that the work thread conducts. It connects,
// logs in, watches for the main prompt, dispatches captures and performs the
// writes, reading lines through an ILineSource and sending through an
// ILineSink. Events go to an IDialogueEvents, the transports are reached
// through an ILineControl: the work thread wires the real ones, tests wire
// scripts and recorders.
#pragma once

#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "session/Address.h"
#include "session/HostReader.h"
#include "session/LineSource.h"
#include "session/VeskoClient.h"
#include "session/VeskoMessage.h"
#include "session/WebPage.h"

namespace brelo {

class IDialogueEvents {
 public:
  virtual ~IDialogueEvents() = default;
  virtual void PostStatus(const std::string& s) = 0;
  virtual void Login() = 0;
  virtual void Logout() = 0;
  virtual void GetMainPrompt() = 0;
  virtual void GetMessageBoard(int boardNo, const std::string& name, const std::string& title) = 0;
  virtual void ReceiveMessage(TVeskoMessage& m) = 0;
  virtual void ReceiveMail(TVeskoMessage& m) = 0;
  virtual void ReceiveTelegram(const std::string& from, const std::string& mes) = 0;
  virtual void ReceiveLoginUsers(const std::string& users) = 0;
  // cut: the list did not end as the host ends it (the line went first).
  virtual void ReceiveUsers(const std::string& users, bool cut) = 0;
  virtual void ReceiveChatLine(int ch, const std::string& handle, const std::string& mes, bool isNext) = 0;
  virtual void ExecuteWriteMessage(int tag) = 0;
  // A write sequence ended without the host's "終了": refused (the board or
  // the recipient was turned down: nothing was posted) or failed.
  virtual void WriteFailed(int /*tag*/, bool /*refused*/) {}
  // Whether the two events are assigned: the status line of a confirmed write
  // and the record of a sent mail depend on it.
  virtual bool HasExecuteWriteMessage() = 0;
  virtual bool HasReceiveMail() = 0;
  // Whether the host was sent its logout command: only then does the end of
  // the session say "ログアウトしました". Peers that do not track it keep that.
  virtual bool LogoutCommandSent() { return true; }
  // The login watch ended without the main prompt; the host's words when it
  // refused. The session then answers nothing more (a handler may end it).
  virtual void LoginFailed(ELoginEnd /*why*/, const std::string& /*hostWords*/) {}
};

// The line as the connection phase drives it.
class ILineControl {
 public:
  virtual ~ILineControl() = default;
  virtual void SetTransport(int transport) = 0;  // 1 TCP, 2 SSH, 0 modem
  virtual void SetConnected(bool connected) = 0;
  virtual void TcpSetHostPort(const std::string& host, const std::string& port) = 0;
  virtual void TcpClose() = 0;
  virtual void TcpConnect() = 0;
  virtual bool TcpClosed() = 0;
  // Closes and opens the modem port; false when the port cannot be opened.
  virtual bool ModemOpen(int port, int rate, const std::string& device) = 0;
  // Calls an SSH host at host:port (port in decimal) as user, waiting until
  // its line is open or why not is known. A failure of the line itself has
  // been reported as its loss by then.
  virtual TSshOutcome SshOpen(const std::string& host, const std::string& port, const std::string& user) = 0;
  // The web page at url (http or https), waiting for it.
  virtual TWebPage FetchPage(const std::string& url) = 0;
  // The work thread asks itself to terminate.
  virtual void TerminateSelf() = 0;
  // The user has typed to the host in this session.
  virtual bool UserTyped() { return false; }
};

// No line at all: a dialogue replayed from a session log or fed from memory.
// Every command is a no-op; the modem "opens" only when asked to, so a modem
// dialogue can still be driven from recorded answers.
class TNoLine : public ILineControl {
 public:
  explicit TNoLine(bool modemOpens = false) : modemOpens_(modemOpens) {}
  void SetTransport(int) override {}
  void SetConnected(bool) override {}
  void TcpSetHostPort(const std::string&, const std::string&) override {}
  void TcpClose() override {}
  void TcpConnect() override {}
  bool TcpClosed() override { return true; }
  bool ModemOpen(int, int, const std::string&) override { return modemOpens_; }
  TSshOutcome SshOpen(const std::string&, const std::string&, const std::string&) override {
    TSshOutcome o;
    o.kind = TSshOutcome::kOpen;
    return o;
  }
  TWebPage FetchPage(const std::string&) override { return Page; }
  void TerminateSelf() override {}

  // What every page fetched is.
  TWebPage Page;

 private:
  bool modemOpens_;
};

class TDialogue {
 public:
  // The most one capture keeps of a body or a list: a host that never ends
  // one cannot exhaust memory (the rest is read as ordinary lines).
  static constexpr size_t kMaxCaptureBytes = 8u << 20;

  TDialogue(ILineSource& src, ILineSink& sink, IDialogueEvents& events, ILineControl& control,
            const TSessionSettings& settings, std::atomic<int>& mode, std::atomic<int>& channel,
            std::function<TPendingWrite()> pendingWrite);

  // The whole body of a work thread after its start.
  void Execute();

  // The parts, reachable for tests.
  void RunConnection();
  // True at the host's main prompt; otherwise LoginEnd() says why the
  // watch ended (nothing when the session ended first).
  bool RunLogin();
  std::optional<ELoginEnd> LoginEnd() const { return loginEnd_; }
  const std::string& LoginWords() const { return loginWords_; }
  void WatcherTurn();
  void Dispatch(const std::string& line);
  void CaptureMessage(std::string line);
  void CaptureMail(std::string line, bool deleteOption);
  void CaptureTelegram();
  void CaptureLoginUsers();
  void CaptureUsers();
  void ChatLineCheck(const std::string& line);
  void PostMessageSequence();
  void MailSequence();
  void TelegramSequence();

  bool NewsMode() const { return news_; }
  // The session is the user's: lines are only taken in (after a login watch
  // that ended without the main prompt, or on a terminal-only host).
  bool Manual() const { return manual_; }

  // Line tests the dispatcher and the KTBBS body end share.
  static bool IsBoardLine(std::string_view line);
  static bool IsChatLine(const std::string& line);
  // "MAIN (" ... ")>": the host's main prompt.
  static bool IsMainPrompt(std::string_view line);

 private:
  void Telnet(const std::string& hostPort);
  void Ssh(const TAddress& a);
  // The SSH line did not come up for a reason of its own: said, handed to
  // the events, and the session ends.
  void SshGaveUp(ELoginEnd why, const std::string& status, const std::string& words);
  void WebLookup(const TAddress& a);
  void ModemCall(const std::string& number);
  bool Terminated() const { return src_.Terminated(); }
  void Status(const std::string& s) { events_.PostStatus(s); }
  TSessionMode Mode() const { return static_cast<TSessionMode>(mode_.load()); }
  // The login watch gave up: why, in the status line and to the events.
  void LoginGaveUp(ELoginEnd why, const std::string& words = std::string());
  // The host's answer to a write command: refused (a refusal line, then it
  // waits), the go-ahead prompt, back at its main prompt, or the end.
  enum class EGoAhead { kRefused, kGoAhead, kBack, kEnd };
  EGoAhead WaitGoAhead(const std::vector<std::string>& refusals, const std::string& goAhead);
  // After a refusal: "0", and the host's return to its prompt.
  void Refused(int tag);
  // Waits at the host's next question for `prompt`; false when it went back
  // to its main prompt instead, or the session ended.
  bool WaitQuestion(const std::string& prompt);
  // "Y", the editor's ruler, the body, "//", the send menu and "S"; false
  // when the host did not get as far as the send menu.
  bool SendWrite(const TPendingWrite& w);
  // The write result: "失敗" or a "*CH" line is failure, "終了" success.
  void WriteResult(int tag);
  // A line that could start the next item, or end the body, is that only
  // where what follows it agrees: a header with its "Time:" and "Subj:"
  // lines; a "*CH" line with the host's main prompt after it.
  bool HeaderFollows(bool message);
  bool PromptFollows();
  // The host, quiet, waits at its main prompt.
  bool MainPromptWaits();
  // Ring lines from slot `from` up to and including slot `to`, following the wrap.
  std::string Transcript(int from, int to);

  ILineSource& src_;
  ILineSink& sink_;
  IDialogueEvents& events_;
  ILineControl& control_;
  const TSessionSettings& settings_;
  std::atomic<int>& mode_;
  std::atomic<int>& channel_;
  std::function<TPendingWrite()> pendingWrite_;
  THostReader reader_;
  bool news_ = false;
  int lastPrompt_ = -1;
  // A main prompt already seen quiet (its slot): reported without waiting again.
  int quietPromptSlot_ = -1;
  bool manual_ = false;
  std::optional<ELoginEnd> loginEnd_;
  std::string loginWords_;
};

}  // namespace brelo
