// The demo host as a benchmark's peer: a child process on a free port.
#pragma once

#include <sched.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "BenchUtil.h"

namespace brelo::bench {

class TDemoHostProcess {
 public:
  // `cores`: the cores the host may run on; empty, any.
  explicit TDemoHostProcess(std::vector<std::string> options, const std::vector<int>& cores = {}) {
    dir_ = TempFolder("host");
    std::vector<std::string> args = {BRELO_DEMOHOST, "--port", "0", "--data", dir_ + "/data", "--ready", dir_ + "/ready"};
    args.insert(args.end(), options.begin(), options.end());
    pid_ = ::fork();
    if (pid_ == 0) {
      ::prctl(PR_SET_PDEATHSIG, SIGTERM);
      if (!cores.empty()) {
        cpu_set_t set;
        CPU_ZERO(&set);
        for (const int c : cores) CPU_SET(c, &set);
        ::sched_setaffinity(0, sizeof set, &set);
      }
      std::vector<char*> argv;
      for (auto& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      if (::freopen("/dev/null", "w", stdout) == nullptr) ::_exit(127);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    for (int i = 0; i < 1000 && port_ == 0; ++i) {
      std::ifstream f(dir_ + "/ready");
      f >> port_;
      if (port_ == 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  ~TDemoHostProcess() {
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
    std::string rm = "rm -rf '" + dir_ + "'";
    if (std::system(rm.c_str()) != 0) return;
  }
  int Port() const { return port_; }

 private:
  std::string dir_;
  int pid_ = -1;
  int port_ = 0;
};

}  // namespace brelo::bench
