// A host that is a program on a raw TCP line: each caller that connects to
// a loopback port the kernel chose gets `/bin/sh -c script` with the socket
// as its standard input and output (no telnet anywhere, as a relay like
// socat's EXEC gives). Every program still running is stopped at the end.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace brelo::test {

class TProgramHost {
 public:
  // The script runs in `folder`.
  TProgramHost(const std::string& script, const std::string& folder);
  ~TProgramHost();
  TProgramHost(const TProgramHost&) = delete;
  TProgramHost& operator=(const TProgramHost&) = delete;
  int Port() const { return port_; }
  std::string Address() const { return "telnet://127.0.0.1:" + std::to_string(port_) + "/"; }

 private:
  void Serve();
  std::string script_, folder_;
  int listen_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::mutex m_;
  std::vector<int> pids_;  // under m_
  std::thread thread_;
};

}  // namespace brelo::test
