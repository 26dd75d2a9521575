#include "support/SessionRecorder.h"

#include "common/MainThread.h"
#include "common/Sjis.h"
#include "support/Wait.h"

namespace brelo::test {

TSessionRecorder::TSessionRecorder(TVeskoClient& c) : c_(c) {
  // Status lines and the disconnect may come from the serial watch thread.
  c.OnStatusOut = [this](TVeskoClient*, const std::string& s) {
    OnMainThread([this, s] {
      statuses.push_back(SjisToUtf8(s));
      events.push_back("status:" + statuses.back());
    });
  };
  c.OnLogin = [this](TVeskoClient*) {
    ++logins;
    events.push_back("login");
  };
  c.OnLogout = [this](TVeskoClient*) {
    ++logouts;
    events.push_back("logout");
  };
  c.OnDisConnect = [this](TVeskoClient*) {
    OnMainThread([this] {
      ++disconnects;
      events.push_back("disconnect");
    });
  };
  c.OnGetMessageBoard = [this](TVeskoClient*, int no, const std::string&, const std::string&) {
    events.push_back("board:" + std::to_string(no));
  };
  c.OnReceiveMessage = [this](TVeskoClient*, TVeskoMessage& m) {
    messages.push_back(m);
    events.push_back("message:" + std::to_string(m.BoardNo) + "/" + std::to_string(m.MesNo));
  };
  c.OnReceiveMail = [this](TVeskoClient*, TVeskoMessage& m) {
    m.Kept = true;  // kept here: the host may delete it
    mails.push_back(m);
    events.push_back("mail:" + m.FromID);
  };
  c.OnExecuteWriteMessage = [this](TVeskoClient*, int tag) {
    written.push_back(tag);
    events.push_back("written:" + std::to_string(tag));
  };
  c.OnReceiveUsers = [this](TVeskoClient*, const std::string& u, bool) { users = u; };
  c.OnReceiveLoginUsers = [this](TVeskoClient*, const std::string& u) { loginUsers = u; };
  c.OnGetMainPrompt = [this](TVeskoClient* s) {
    events.push_back("prompt");
    const size_t n = static_cast<size_t>(prompts++);
    if (n < script.size()) script[n](*s);
  };
}

bool TSessionRecorder::HasStatus(const std::string& utf8) const {
  for (const auto& s : statuses)
    if (s == utf8) return true;
  return false;
}

int TSessionRecorder::EventIndex(const std::string& e) const {
  for (size_t i = 0; i < events.size(); ++i)
    if (events[i] == e) return static_cast<int>(i);
  return -1;
}

bool TSessionRecorder::WaitForEnd(int limitMs) {
  if (!WaitUntil([this] { return !c_.SessionRunning(); }, limitMs)) return false;
  ProcessEventsFor(20);  // what other threads posted on their way out
  return true;
}

std::vector<std::function<void(TVeskoClient&)>> FetchThenLogout() {
  return {
      [](TVeskoClient& c) {
        c.SendText("N@ ");
        c.SendLine("");
      },
      [](TVeskoClient& c) {
        c.SendLine("Q");
        c.SendLine("");
      },
  };
}

}  // namespace brelo::test
