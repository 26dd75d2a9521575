#include "Modem.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <thread>

namespace demohost {

namespace {

// What the modem says to the caller; a caller that has gone hears nothing.
void Send(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

// A modem hangs up after what it had for the caller has gone down the line.
// A pseudo-terminal throws away what the caller has not read when its master
// closes, so the hang-up waits (bounded) until the caller has taken it. That
// needs a look at the caller's side, which a caller's exclusive open leaves
// to root; elsewhere a short wait stands in for it.
void WaitUntilTaken(const std::string& slave) {
  const int fd = ::open(slave.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    return;
  }
  // The kernel hands bytes on in steps: nothing unread for a while.
  for (int i = 0, quiet = 0; i < 500 && quiet < 20; ++i) {
    int n = 0;
    quiet = ::ioctl(fd, FIONREAD, &n) == 0 && n == 0 ? quiet + 1 : 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ::close(fd);
}

}  // namespace

ModemLine::ModemLine(std::string link, int busy, HostData& data, Registry& registry, const HostConfig& config,
                     ReceiveLog* log)
    : link_(std::move(link)), busy_(busy), data_(data), registry_(registry), config_(config), log_(log) {}

bool ModemLine::OpenPty() {
  master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) return false;
  slave_ = ::ptsname(master_);
  // The line starts raw, as a modem's line is: nothing is echoed or changed
  // before the caller sets it up.
  int s = ::open(slave_.c_str(), O_RDWR | O_NOCTTY);
  if (s >= 0) {
    termios t;
    ::tcgetattr(s, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(s, TCSANOW, &t);
    ::close(s);
  }
  const std::string tmp = link_ + ".new";
  ::unlink(tmp.c_str());
  if (::symlink(slave_.c_str(), tmp.c_str()) != 0 || ::rename(tmp.c_str(), link_.c_str()) != 0) return false;
  return true;
}

bool ModemLine::Start() { return OpenPty(); }

void ModemLine::Run(const std::atomic<bool>& stop) {
  while (!stop) {
    Serve(stop);
    WaitUntilTaken(slave_);
    ::close(master_);  // the hang-up: the caller's carrier drops
    master_ = -1;
    if (stop) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (!OpenPty()) {
      std::fprintf(stderr, "brelo-demohost: cannot open a new modem line\n");
      return;
    }
  }
}

void ModemLine::Serve(const std::atomic<bool>& stop) {
  int dials = 0;
  bool hadCaller = false;
  std::string line;
  while (!stop) {
    pollfd p{master_, POLLIN, 0};
    int r = ::poll(&p, 1, 200);
    if (r <= 0) continue;
    if (p.revents & POLLHUP) {
      // Nobody has the line open. A caller that closes it drops DTR: hang up.
      if (hadCaller) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      continue;
    }
    char buf[256];
    ssize_t n = ::read(master_, buf, sizeof buf);
    if (n <= 0) {
      if (hadCaller) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      continue;
    }
    hadCaller = true;
    if (log_) log_->Add(caller_, buf, static_cast<size_t>(n));
    Send(master_, std::string(buf, static_cast<size_t>(n)));  // the modem echoes commands
    for (ssize_t i = 0; i < n; ++i) {
      const char c = buf[i];
      if (c == '\n') continue;
      if (c != '\r') {
        line += c;
        continue;
      }
      std::string cmd;
      for (char ch : line) cmd += static_cast<char>(ch >= 'a' && ch <= 'z' ? ch - 32 : ch);
      line.clear();
      std::string answer;
      if (cmd.rfind("ATD", 0) == 0) {
        if (++dials <= busy_) {
          answer = "\r\nBUSY\r\n";
        } else {
          const std::string connect = "\r\nCONNECT 9600\r\n";
          Send(master_, connect);
          Connection conn(::dup(master_), caller_++, config_.faults, log_, LineKind::kModem);
          HostSession session(conn, data_, registry_, config_);
          session.Run();
          if (conn.escaped) {
            // "+++": back to commands; the caller hangs up with ATH.
            const std::string ok = "\r\nOK\r\n";
            Send(master_, ok);
            dials = 0;
            continue;
          }
          const std::string nc = "\r\nNO CARRIER\r\n";
          Send(master_, nc);
          return;
        }
      } else if (cmd.rfind("ATH", 0) == 0) {
        answer = "\r\nOK\r\n\r\nNO CARRIER\r\n";
        Send(master_, answer);
        return;
      } else if (cmd.rfind("AT", 0) == 0) {
        answer = "\r\nOK\r\n";
      } else if (!cmd.empty()) {
        answer = "\r\nERROR\r\n";
      }
      if (!answer.empty()) Send(master_, answer);
    }
  }
}

}  // namespace demohost
