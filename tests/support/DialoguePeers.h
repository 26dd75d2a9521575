// What a dialogue driven by a script reports and asks of its line, kept for
// the test to look at.
#pragma once

#include <algorithm>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "common/Sjis.h"
#include "session/Dialogue.h"
#include "support/ScriptedSource.h"

namespace brelo::test {

struct TEvents : IDialogueEvents {
  std::vector<std::string> log;  // UTF-8
  std::vector<TVeskoMessage> messages, mails;
  std::vector<std::tuple<int, std::string, std::string>> boards;
  std::vector<std::tuple<int, std::string, std::string, bool>> chats;
  std::string users = "<none>", loginUsers = "<none>";
  std::pair<std::string, std::string> telegram;
  bool hasExecute = true, hasMail = true;
  std::function<void()> onPrompt;
  void PostStatus(const std::string& s) override { log.push_back("status:" + SjisToUtf8(s)); }
  void Login() override { log.push_back("login"); }
  void Logout() override { log.push_back("logout"); }
  void GetMainPrompt() override {
    log.push_back("prompt");
    if (onPrompt) onPrompt();
  }
  void GetMessageBoard(int no, const std::string& n, const std::string& t) override { boards.emplace_back(no, n, t); }
  void ReceiveMessage(TVeskoMessage& m) override { messages.push_back(m); }
  bool keepMail = true;  // whether the mail handler keeps each mail (Kept)
  void ReceiveMail(TVeskoMessage& m) override {
    m.Kept = keepMail;
    mails.push_back(m);
    log.push_back("mail");
  }
  void ReceiveTelegram(const std::string& f, const std::string& m) override { telegram = {f, m}; }
  void ReceiveLoginUsers(const std::string& u) override { loginUsers = u; }
  bool usersCut = false;
  void ReceiveUsers(const std::string& u, bool cut) override {
    users = u;
    usersCut = cut;
  }
  void ReceiveChatLine(int ch, const std::string& h, const std::string& m, bool next) override {
    chats.emplace_back(ch, h, m, next);
  }
  void ExecuteWriteMessage(int tag) override { log.push_back("written:" + std::to_string(tag)); }
  void WriteFailed(int tag, bool refused) override {
    log.push_back((refused ? "refused:" : "failed:") + std::to_string(tag));
  }
  void LoginFailed(ELoginEnd why, const std::string& words) override {
    static const char* const kWhy[] = {"refused", "not recognised", "user typed", "terminal only",
                                       "ssh refused", "host key unknown", "host key changed"};
    log.push_back(std::string("login failed:") + kWhy[static_cast<int>(why)] + ":" + SjisToUtf8(words));
    if (onLoginFailed) onLoginFailed();
  }
  std::function<void()> onLoginFailed;
  bool HasExecuteWriteMessage() override { return hasExecute; }
  bool HasReceiveMail() override { return hasMail; }
  bool Has(const std::string& e) const { return std::find(log.begin(), log.end(), e) != log.end(); }
};

struct TControl : ILineControl {
  std::vector<std::string> calls;
  bool modemOpens = true;
  TScriptedSource* src = nullptr;
  void SetTransport(int t) override { calls.push_back("transport " + std::to_string(t)); }
  void SetConnected(bool c) override { calls.push_back(c ? "connected" : "not connected"); }
  void TcpSetHostPort(const std::string& h, const std::string& p) override { calls.push_back("tcp " + h + " " + p); }
  void TcpClose() override { calls.push_back("close"); }
  void TcpConnect() override { calls.push_back("connect"); }
  bool TcpClosed() override { return true; }
  bool ModemOpen(int port, int rate, const std::string& dev) override {
    calls.push_back("modem " + std::to_string(port) + " " + std::to_string(rate) + " " + dev);
    return modemOpens;
  }
  TSshOutcome ssh;  // what every SSH call comes to
  TSshOutcome SshOpen(const std::string& host, const std::string& port, const std::string& user) override {
    calls.push_back("ssh " + user + "@" + host + " " + port);
    if (ssh.kind != TSshOutcome::kOpen) src->Terminate();  // a failed line ends the session, as its loss does
    return ssh;
  }
  TWebPage page;
  TWebPage FetchPage(const std::string& url) override {
    calls.push_back("fetch " + url);
    return page;
  }
  void TerminateSelf() override { src->Terminate(); }
  bool userTyped = false;
  bool UserTyped() override { return userTyped; }
};

}  // namespace brelo::test
