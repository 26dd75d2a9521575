// Records every event of a session component, in order, and answers each
// main prompt from a script (standing in for the main window's policy).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "session/VeskoClient.h"

namespace brelo::test {

class TSessionRecorder {
 public:
  // At the n-th main prompt, script[n] runs (nothing once the script is done).
  std::vector<std::function<void(TVeskoClient&)>> script;

  explicit TSessionRecorder(TVeskoClient& c);

  std::vector<std::string> events;    // "status:<utf8>", "login", "board:12", "message:1/7", ...
  std::vector<std::string> statuses;  // UTF-8
  std::vector<TVeskoMessage> messages, mails;
  std::vector<int> written;
  std::string users, loginUsers;
  int prompts = 0, logins = 0, logouts = 0, disconnects = 0;

  bool HasStatus(const std::string& utf8) const;
  // Index of the first event equal to e, or -1.
  int EventIndex(const std::string& e) const;
  // Runs the event loop until the session has ended (bounded).
  bool WaitForEnd(int limitMs = 30000);

 private:
  TVeskoClient& c_;
};

// The usual unattended pass: unread fetch at the first prompt, logout
// skipping the goodbye at the next.
std::vector<std::function<void(TVeskoClient&)>> FetchThenLogout();

}  // namespace brelo::test
