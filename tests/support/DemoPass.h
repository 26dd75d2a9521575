// A whole pass of the policy against a host, for tests that only need to know
// what it stored: a main view that shows nothing, and the pass itself.
#pragma once

#include <functional>
#include <string>

#include "reader/MainModel.h"

namespace brelo::test {

// A main view that shows nothing; the board list reloads the store.
struct TQuietView : IMainView {
  TMessageStore* store = nullptr;
  void SetStatus(const std::string&) override {}
  void SetCounter(const std::string&) override {}
  void SetControls(ESessionControls) override {}
  void ShowTerminal(bool) override {}
  void OptionsChanged() override {}
  void ShowBoardList() override { store->LoadBoards(); }
  void ClearBrowser() override {}
  void SelectHost(int) override {}
  bool CloseEditors() override { return true; }
  void ReportError(const std::string&) override {}
};

// A pass of the first host of a fresh host list in home, called at address
// (the entry otherwise as `adjust` leaves it); the host folder when it logged
// out having stored something, else "".
std::string PassThatLogsOut(const std::string& home, const std::string& address,
                            const std::function<void(THostEntry&)>& adjust = {});

}  // namespace brelo::test
