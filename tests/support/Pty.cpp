#include "support/Pty.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <QCoreApplication>
#include <chrono>
#include <stdexcept>

namespace brelo::test {

TPty::TPty() {
  master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) throw std::runtime_error("no pty");
  slave_ = ::ptsname(master_);
}

TPty::~TPty() {
  CloseMaster();
  if (look_ >= 0) ::close(look_);
}

void TPty::CloseMaster() {
  if (master_ >= 0) ::close(master_);
  master_ = -1;
}

void TPty::WatchCaller() {
  if (look_ < 0) look_ = ::open(slave_.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (look_ < 0) throw std::runtime_error("cannot look at the pty's caller side");
}

void TPty::HangUpWhenRead() {
  for (int i = 0, quiet = 0; i < 1000 && quiet < 20; ++i) {
    int n = 0;
    quiet = ::ioctl(look_, FIONREAD, &n) == 0 && n == 0 ? quiet + 1 : 0;
    ::usleep(10000);
  }
  CloseMaster();
  ::close(look_);  // the caller's side is gone with its last opener
  look_ = -1;
}

void TPty::Write(const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

std::string TPty::Read(size_t n, int limitMs) {
  std::string out;
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  while (out.size() < n && std::chrono::steady_clock::now() < end) {
    pollfd p{master_, POLLIN, 0};
    if (::poll(&p, 1, 20) <= 0) continue;
    char buf[4096];
    ssize_t r = ::read(master_, buf, sizeof buf);
    if (r <= 0) break;
    out.append(buf, static_cast<size_t>(r));
  }
  return out;
}

std::string TPty::ReadUntil(const std::string& text, int limitMs) {
  std::string out;
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  while (out.find(text) == std::string::npos && std::chrono::steady_clock::now() < end) {
    out += Read(1, 5);
    // The caller's work thread may be waiting for the main thread.
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  }
  return out;
}

}  // namespace brelo::test
