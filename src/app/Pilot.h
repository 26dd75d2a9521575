// The pilot mode: unattended passes for hosts of the host list, in turn,
// without a window, for cron, timers and scripts.
#pragma once

#include <string>
#include <vector>

#include "reader/SessionPolicy.h"

namespace brelo {

struct TCommandLine;
class TMessageStore;

// The window of the command-line modes: status lines to standard output when
// asked for, errors to standard error; nothing to show or ask.
class TConsoleView : public IMainView {
 public:
  explicit TConsoleView(bool printStatus) : printStatus_(printStatus) {}
  TMessageStore* store = nullptr;
  void SetStatus(const std::string& sjis) override;
  void SetCounter(const std::string&) override {}
  void SetControls(ESessionControls) override {}
  void ShowTerminal(bool) override {}
  void OptionsChanged() override {}
  void ShowBoardList() override;
  void ClearBrowser() override {}
  void SelectHost(int) override {}
  bool CloseEditors() override { return true; }
  void ReportError(const std::string& sjis) override;

 private:
  bool printStatus_;
};

// Runs the round and returns its exit status (EExit). What arrived before a
// lost line is stored; the summary counts what was stored, what was already
// stored, and the results of the writes. Needs a QCoreApplication.
int RunPilot(const TCommandLine& cmd, const std::string& programFolder);

// The pass's file transfers in one line ("files: downloaded ... ; 0
// transfer(s) failed"): what arrived whole in DOWN/ with sizes, what did not,
// what the host took, what it did not; empty when the pass had none.
std::string FilesSummary(const TPassSummary& s, const std::string& hostFolder);

// The hosts HOSTS names: a title or index (the whole text first), "all", or
// titles and indexes separated by commas. False, with `bad` the part that
// names no host, when one does not.
bool ParseHostList(const class THostTable& hosts, const std::string& hostsText, std::vector<int>& out,
                   std::string& bad);

// The index of HOST in the host list: a title, or a list index; -1 if none.
int FindHost(const class THostTable& hosts, const std::string& hostArg);

}  // namespace brelo
