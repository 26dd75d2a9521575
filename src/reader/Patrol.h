// A round: one unattended pass for each host of a list, in turn, on one main
// model. The pilot's command line and the window's "全ホスト巡回" both run it.
// Each pass has its own time-out; a host whose folder another process holds
// is skipped; a round can be stopped, and the pass in progress then ends
// like a force disconnect: what arrived is stored, the box keeps only what
// the host confirmed.
#pragma once

#include <QTimer>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "reader/MainModel.h"

namespace brelo {

// Exit statuses of the program, the same for every mode; a pass's outcome is
// one of them.
enum EExit : int {
  kExitOk = 0,
  kExitNoLogin = 1,      // the connection or the login failed
  kExitUsage = 2,        // the command line was refused
  kExitTimeout = 3,      // no logout within the time-out; disconnected
  kExitLineLost = 4,     // the line was lost after the login, before the logout
  kExitWrites = 5,       // logged out, but writes failed, were skipped or interrupted, or the box needs the user
  kExitStore = 6,        // the host folder cannot be written
  kExitUnknownHost = 7,  // no such host in the host list
  kExitNoDisplay = 8,    // the window was asked for where there is no display
  kExitStopped = 9,      // stopped by a signal (or by the user): disconnected
  kExitBusy = 10,        // a host's folder was in use by another process: skipped
  kExitHostList = 11,    // the host list cannot be read
  kExitLoginRefused = 12,  // the host refused the user ID or the password
  kExitTerminalOnly = 13,  // the host is marked "自動ログインしない": not called
  kExitSshRefused = 14,      // the SSH server refused every way of logging in
  kExitHostKeyUnknown = 15,  // the SSH host's key is known to no known_hosts file: not called further
  kExitHostKeyChanged = 16,  // the SSH host's key differs from the recorded one: nothing was sent to it
};

// The box as a pass leaves it, into the pass's summary: the entries held as
// interrupted, what the last load found wrong, the due entries beyond what
// loads.
void NoteTheBox(const TReservationBox& box, TPassSummary& s);
// The outcome of a pass from its summary.
int PassStatus(const TPassSummary& s, bool timedOut);
// The status of a round: the most serious of its passes', in the order
// stopped, host key changed, store, login refused, SSH login refused, host
// key unknown, writes, line lost, time-out, no login, busy, terminal only.
int WorstStatus(const std::vector<int>& statuses);
// A pass's outcome in a few words, for the summary line ("done", "timed out").
std::string StatusWords(int status);

struct TPatrolResult;
// What a round brought, one line for each host that brought something:
// "新着メール 2 通 / 新着 15 件 (ホスト名)" (Shift-JIS, CR LF between lines;
// "" when nothing came).
std::string RoundNews(const std::vector<TPatrolResult>& results);
// How a round went, in a few Japanese words: "3 ホスト: 完了 2、使用中 1".
std::string RoundOutcome(const std::vector<TPatrolResult>& results, bool stopped);
// Why a host's pass did not end well, in the user's words (Shift-JIS):
// "接続できません (接続が拒否されました)", "使用中 (pid 123)", "時間切れ";
// "" when it did.
std::string FailureWords(const TPatrolResult& r);
// The failed hosts of a round, one "title: words" each (Shift-JIS).
std::vector<std::string> FailureLines(const std::vector<TPatrolResult>& results);
// A line error of the socket (its Winsock code) in Japanese; the English
// text when the code is not one a user meets.
std::string LineErrorWords(int code, const std::string& text);

struct TPatrolResult {
  int host = -1;
  std::string title;        // Shift-JIS
  std::string folder;
  int status = kExitOk;
  TPassSummary summary;
  int received = 0;
  int boxLeft = 0;          // reservations left in the box after the pass, loaded or not
  bool timedOut = false;
  int busyHolder = 0;       // the process that held the folder (kExitBusy)
  std::string problem;      // why the host was skipped (Shift-JIS)
  TVeskoClient::TLineError lineError;
  std::string address;
};

class TPatrol {
 public:
  explicit TPatrol(TMainModel& model);
  ~TPatrol();

  int TimeoutSeconds = 600;
  // The passes leave the new marks of earlier ones (ClearNews off): what a
  // round brings adds to what the user has not read yet.
  bool KeepNews = false;
  // How long a host whose folder another process holds is waited for, with
  // the event loop running, so that a stop ends the wait at once; 0 skips it
  // at once (the policy may wait itself, see TSessionPolicy::LockWaitMs).
  int LockWaitMs = 0;
  // How a host is selected: the window moves its selector (which tells the
  // policy); the default tells the policy.
  std::function<void(int host)> SelectHost;
  std::function<void(int host)> OnHostStarting;
  std::function<void(const TPatrolResult&)> OnHostDone;
  // The pass has not logged in within the time-out (before the disconnect).
  std::function<void(int host)> OnTimeout;
  std::function<void()> OnFinished;

  // Starts the round (returns at once; a Qt event loop runs it). The options
  // of the first pass apply to every pass, the goodbye always skipped; at
  // the end the policy has the options it had before.
  void Start(const std::vector<int>& hosts);
  // The pass in progress disconnects (a wait for a host's folder ends at
  // once); no other host is called.
  void Stop();
  bool Running() const { return running_; }
  bool Stopped() const { return stopped_; }
  const std::vector<TPatrolResult>& Results() const { return results_; }
  // The hosts of the round not called (after a stop).
  int NotCalled() const { return static_cast<int>(queue_.size()); }

 private:
  void Next();
  void StartPass();
  void Skipped();  // the host's folder stayed in use
  void PassOver();
  void Finish();

  TMainModel& model_;
  std::vector<int> queue_;
  std::vector<TPatrolResult> results_;
  TSessionOptions options_;
  TSessionOptions before_;
  bool running_ = false;
  bool stopped_ = false;
  bool inPass_ = false;
  bool timedOut_ = false;
  int host_ = -1;
  std::chrono::steady_clock::time_point deadline_;
  // When the pass's logout was first seen sent: a host that keeps the line
  // longer than kLogoutWait after it is hung up on.
  std::optional<std::chrono::steady_clock::time_point> logoutSeen_;
  static constexpr std::chrono::seconds kLogoutWait{20};
  QTimer watch_;
  QTimer limit_;
  QTimer lockRetry_;  // runs while the host's folder is waited for
  std::chrono::steady_clock::time_point lockDeadline_;
};

}  // namespace brelo
