// One caller's visit: banner, login, the main menu and its commands, the
// goodbye. Written from the host's side: it prints its screens and reads
// what the caller types, echoing it as a host does.
#pragma once

#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "Connection.h"
#include "HostData.h"

namespace demohost {

struct HostConfig {
  bool ktbbs = false;
  Faults faults;
  bool noBinary = false;      // refuses telnet binary mode for transfers (CR NUL rules then)
  std::string sendOnLogin;    // a file of the library sent by ZMODEM right after the login
};

// The callers logged in now, by channel (for telegrams and the who list).
class Registry {
 public:
  struct Caller {
    int channel = 0;
    std::string id, handle, since;
    bool stealth = false;
    std::mutex m;
    std::deque<std::pair<std::string, std::string>> telegrams;  // from, message
  };
  std::shared_ptr<Caller> Join(const std::string& id, const std::string& handle, bool stealth);
  void Leave(int channel);
  std::shared_ptr<Caller> Find(int channel);
  std::vector<std::shared_ptr<Caller>> All();

 private:
  std::mutex m_;
  std::map<int, std::shared_ptr<Caller>> callers_;
};

class HostSession {
 public:
  HostSession(Connection& conn, HostData& data, Registry& registry, const HostConfig& config);
  void Run();

 private:
  bool Say(const std::string& sjis);  // Shift-JIS bytes as they are
  // Asks for the options and waits until the caller has answered each one
  // (and named its terminal when it agreed to); false when it never does.
  bool NegotiateStrictly();
  bool SayU(const std::string& utf8); // text of ours, written in UTF-8
  std::optional<std::string> ReadLine(bool echo = true, bool atMainPrompt = false);
  bool Login();
  void ReadMailAtLogin();
  void MainMenu();
  std::string Prompt() const;
  void News(const std::string& date);
  void Post(const std::string& command);
  void Reply(const std::string& command);
  void MailCommand(const std::string& command);
  // The title, the question, the editor, the send menu; false when abandoned.
  bool Compose(const std::string& what, std::vector<std::string>& body);
  void Refused();
  void UserList();
  void WhoList();
  void Telegram();
  void DeliverTelegrams();
  void Goodbye();
  // The file library: "F" lists, "D[X|Y] name" sends, "UP[X name|Y]" receives.
  void Library();
  void SendFile(const std::string& command);
  void ReceiveFiles(const std::string& command);
  // Runs a program of lrzsz on the line until it ends; its exit status.
  bool Transfer(const std::vector<std::string>& argv, const std::string& folder, bool download);

  Connection& conn_;
  HostData& data_;
  Registry& registry_;
  HostConfig config_;
  User user_;
  std::string handle_;
  std::shared_ptr<Registry::Caller> me_;
  bool stealth_ = false;
  // Telnet binary mode, as agreed with the caller (it stays for the connection).
  bool binaryIn_ = false, binaryOut_ = false;
  int telnetState_ = 0;
  unsigned char telnetVerb_ = 0;
  // The caller's WILL, WONT, DO or DONT BINARY outside a transfer.
  void BinaryRequest(unsigned char verb);
  bool lastWasCr_ = false;
  std::string echo_;
};

}  // namespace demohost
