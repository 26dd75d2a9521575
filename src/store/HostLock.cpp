#include "store/HostLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "common/FileUtil.h"
#include "common/Sjis.h"

namespace brelo {

THostLock::~THostLock() { Release(); }

std::string THostLock::FileName(const std::string& folder) { return JoinPath(folder, "brelo.lock"); }

void THostLock::Release() {
  if (fd_ >= 0) ::close(fd_);  // closing lets go of the flock
  fd_ = -1;
  folder_.clear();
}

bool THostLock::Acquire(const std::string& folder, int waitMs) {
  if (fd_ >= 0 && folder == folder_) return true;
  Release();
  holder_ = 0;
  contended_ = false;
  problem_.clear();
  MakePath(folder);
  const std::string path = FileName(folder);
  // Never through a link, and only a file: the pid is written into it.
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
  if (fd < 0) {
    problem_ = CannotWriteText(path, errno);
    return false;
  }
  if (struct stat st; ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    problem_ = CannotWriteText(path, kErrNotRegular);
    ::close(fd);
    return false;
  }
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
  for (;;) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) break;
    if (errno != EWOULDBLOCK && errno != EINTR) {
      problem_ = CannotWriteText(path, errno);
      ::close(fd);
      return false;
    }
    if (std::chrono::steady_clock::now() >= end) {
      char buf[32] = {};
      const ssize_t n = ::pread(fd, buf, sizeof buf - 1, 0);
      holder_ = n > 0 ? std::atoi(buf) : 0;
      contended_ = true;
      ::close(fd);
      problem_ = PathText(folder) + Sjis(" は使用中です") +
                 (holder_ > 0 ? Sjis(" (プロセス ") + std::to_string(holder_) + Sjis(" が使っています)") : std::string());
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  // Ours: the file says who holds it, for the one who waits.
  const std::string pid = std::to_string(::getpid()) + "\n";
  if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, pid.data(), pid.size(), 0) != static_cast<ssize_t>(pid.size())) {
    // The lock holds all the same; only the name of the holder is missing.
  }
  fd_ = fd;
  folder_ = folder;
  return true;
}

}  // namespace brelo
