// A small SSH server of libssh's, for the logins sshd cannot check for an
// account the test did not create: password and keyboard-interactive for
// an account of its own. One caller at a time on a loopback port the kernel
// chose. After the login it grants a terminal and a shell, says which way
// the caller came in, and records what happened: every way of logging in
// tried (with what was given), the terminal asked for, every size it was
// told, and what the caller sent.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/TempDir.h"
#include "transport/KnownHosts.h"

namespace brelo::test {

class TLibsshServer {
 public:
  struct TOptions {
    std::string user = "taro";
    std::string password = "secret";
    bool passwordMethod = true;   // offers "password"
    bool kbdintMethod = true;     // offers "keyboard-interactive"
  };
  TLibsshServer();
  explicit TLibsshServer(const TOptions& options);
  ~TLibsshServer();
  TLibsshServer(const TLibsshServer&) = delete;
  TLibsshServer& operator=(const TLibsshServer&) = delete;

  int Port() const { return port_; }
  std::string Address() const;  // "ssh://USER@127.0.0.1:PORT/"
  THostKey HostKey() const;
  std::string KnownHostsLine() const;

  // What happened, in order: "none", "publickey", "password <given>",
  // "keyboard-interactive <given>", "pty <term> <cols>x<rows>", "shell",
  // "size <cols>x<rows>", "data <bytes>".
  std::vector<std::string> Events() const;
  // Whether an event begins with `prefix`.
  bool Saw(const std::string& prefix) const;

 private:
  struct TCall;
  void Serve();
  void Talk(int fd);
  void Note(const std::string& event);

  TOptions options_;
  TTempDir dir_;
  int listen_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  mutable std::mutex m_;
  std::vector<std::string> events_;  // under m_
  std::thread thread_;
};

}  // namespace brelo::test
