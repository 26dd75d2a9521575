#include "support/TelnetdHost.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>

#include "support/Loopback.h"

extern char** environ;

namespace brelo::test {

TTelnetdHost::TTelnetdHost(const std::vector<std::string>& options) {
  if (::access(kTelnetd, X_OK) != 0) throw std::runtime_error(std::string(kTelnetd) + " is missing (inetutils-telnetd)");
  ::mkdir(DataFolder().c_str(), 0755);
  // telnetd splits the command at blanks: the temporary folder has none.
  command_ = std::string(BRELO_DEMOHOST) + " --stdio --data " + DataFolder();
  for (const std::string& o : options) command_ += " " + o;
  listen_ = ListenOnLoopback(8, port_);
  thread_ = std::thread([this] { Serve(); });
}

TTelnetdHost::~TTelnetdHost() {
  stop_ = true;
  thread_.join();
  ::close(listen_);
  std::lock_guard<std::mutex> lk(m_);
  for (int pid : pids_) {
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
  }
}

void TTelnetdHost::Serve() {
  // Each caller gets a telnet server of its own on the accepted socket, as
  // inetd starts one.
  while (!stop_) {
    pollfd p{listen_, POLLIN, 0};
    if (::poll(&p, 1, 100) <= 0) continue;
    const int c = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
    if (c < 0) continue;
    // telnetd ends by itself when the caller hangs up (a test that dies
    // hangs up too).
    const char* argv[] = {"telnetd", "-h", "-E", command_.c_str(), nullptr};
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    for (int fd : {0, 1, 2}) posix_spawn_file_actions_adddup2(&fa, c, fd);
    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, kTelnetd, &fa, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&fa);
    ::close(c);
    std::lock_guard<std::mutex> lk(m_);
    if (rc == 0) pids_.push_back(pid);
  }
}

std::string TTelnetdHost::Received() const { return ReadBytes(DataFolder() + "received.log"); }
std::string TTelnetdHost::DataFile(const std::string& name) const { return ReadBytes(DataFolder() + name); }

}  // namespace brelo::test
