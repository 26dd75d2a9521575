#include "support/InetdServer.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/Loopback.h"

extern char** environ;

namespace brelo::test {

TInetdServer::TInetdServer(std::vector<std::string> argv, bool errorToSocket, const std::string& folder)
    : argv_(std::move(argv)), errorToSocket_(errorToSocket), folder_(folder) {
  listen_ = ListenOnLoopback(8, port_);
  thread_ = std::thread([this] { Serve(); });
}

TInetdServer::~TInetdServer() {
  stop_ = true;
  thread_.join();
  ::close(listen_);
  std::lock_guard<std::mutex> lk(m_);
  for (int pid : pids_) {
    ::kill(-pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
  }
}

void TInetdServer::Serve() {
  std::vector<char*> argv;
  for (const std::string& a : argv_) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  while (!stop_) {
    pollfd p{listen_, POLLIN, 0};
    if (::poll(&p, 1, 100) <= 0) continue;
    const int c = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
    if (c < 0) continue;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, c, 0);
    posix_spawn_file_actions_adddup2(&fa, c, 1);
    if (errorToSocket_) posix_spawn_file_actions_adddup2(&fa, c, 2);
    else posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
    if (!folder_.empty()) posix_spawn_file_actions_addchdir_np(&fa, folder_.c_str());
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setpgroup(&attr, 0);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, argv_[0].c_str(), &fa, &attr, argv.data(), environ);
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&fa);
    ::close(c);
    std::lock_guard<std::mutex> lk(m_);
    if (rc == 0) pids_.push_back(pid);
  }
}

}  // namespace brelo::test
