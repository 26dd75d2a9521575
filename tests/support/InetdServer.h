// A server on a loopback port the kernel chose that starts a program for
// each caller with the accepted socket as its standard input and output, as
// inetd starts one (standard error: the socket too, or /dev/null), in a
// process group of its own. The programs still running at the end are
// stopped with what they started.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace brelo::test {

class TInetdServer {
 public:
  // argv[0]: the program's path; it runs in `folder` ("": this one).
  TInetdServer(std::vector<std::string> argv, bool errorToSocket, const std::string& folder = "");
  ~TInetdServer();
  TInetdServer(const TInetdServer&) = delete;
  TInetdServer& operator=(const TInetdServer&) = delete;
  int Port() const { return port_; }

 private:
  void Serve();
  const std::vector<std::string> argv_;
  const bool errorToSocket_;
  const std::string folder_;
  int listen_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::mutex m_;
  std::vector<int> pids_;  // under m_
  std::thread thread_;
};

}  // namespace brelo::test
