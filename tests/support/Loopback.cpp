#include "support/Loopback.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <chrono>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "support/Wait.h"

namespace brelo::test {

int ListenOnLoopback(int backlog, int& port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, backlog) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
    if (fd >= 0) ::close(fd);
    throw std::runtime_error("cannot listen on a loopback port");
  }
  port = ntohs(a.sin_port);
  return fd;
}

TLoopbackPeer::TLoopbackPeer() { listen_ = ListenOnLoopback(4, port_); }

TLoopbackPeer::~TLoopbackPeer() {
  if (conn_ >= 0) ::close(conn_);
  StopListening();
}

void TLoopbackPeer::StopListening() {
  if (listen_ >= 0) ::close(listen_);
  listen_ = -1;
}

bool TLoopbackPeer::Accept(int limitMs) {
  // The main thread's events keep running: the caller's work thread may be
  // waiting for them.
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  for (;;) {
    pollfd p{listen_, POLLIN, 0};
    if (::poll(&p, 1, 5) > 0) break;
    if (std::chrono::steady_clock::now() >= end) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  }
  conn_ = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
  return conn_ >= 0;
}

void TLoopbackPeer::Write(const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::send(conn_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

std::string TLoopbackPeer::ReadUntil(const std::string& until, int limitMs) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  while (received_.find(until) == std::string::npos && std::chrono::steady_clock::now() < end) {
    pollfd p{conn_, POLLIN, 0};
    if (::poll(&p, 1, 5) <= 0) {
      QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
      continue;
    }
    char buf[4096];
    ssize_t n = ::recv(conn_, buf, sizeof buf, 0);
    if (n <= 0) break;
    received_.append(buf, static_cast<size_t>(n));
  }
  return received_;
}

void TLoopbackPeer::HangUp() {
  if (conn_ >= 0) ::close(conn_);
  conn_ = -1;
}

void TLoopbackPeer::Reset() {
  linger l{1, 0};
  ::setsockopt(conn_, SOL_SOCKET, SO_LINGER, &l, sizeof l);
  HangUp();
}

int ClosedPort() {
  TLoopbackPeer p;
  int port = p.Port();
  p.StopListening();
  return port;
}

TSilentListener::TSilentListener(bool ipv6) {
  sockaddr_storage a{};
  socklen_t len;
  if (ipv6) {
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&a);
    v6->sin6_family = AF_INET6;
    v6->sin6_addr = in6addr_loopback;
    len = sizeof *v6;
  } else {
    auto* v4 = reinterpret_cast<sockaddr_in*>(&a);
    v4->sin_family = AF_INET;
    v4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    len = sizeof *v4;
  }
  listen_ = ::socket(a.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  // A backlog of 0 holds one call: the filler's. It is never accepted.
  if (listen_ < 0 || ::bind(listen_, reinterpret_cast<sockaddr*>(&a), len) != 0 || ::listen(listen_, 0) != 0 ||
      ::getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
    if (listen_ >= 0) ::close(listen_);
    throw std::runtime_error("silent listener: cannot listen");
  }
  port_ = ntohs(ipv6 ? reinterpret_cast<sockaddr_in6*>(&a)->sin6_port : reinterpret_cast<sockaddr_in*>(&a)->sin_port);
  filler_ = ::socket(a.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  const int r = filler_ < 0 ? -1 : ::connect(filler_, reinterpret_cast<sockaddr*>(&a), len);
  // The kernel reports the queue's length and limit of a listener in
  // tcpi_unacked and tcpi_sacked: wait until the filler has filled it.
  auto full = [this] {
    tcp_info info{};
    socklen_t n = sizeof info;
    return ::getsockopt(listen_, IPPROTO_TCP, TCP_INFO, &info, &n) == 0 && info.tcpi_unacked > info.tcpi_sacked;
  };
  if ((r != 0 && errno != EINPROGRESS) || !WaitUntil(full)) {
    if (filler_ >= 0) ::close(filler_);
    ::close(listen_);
    throw std::runtime_error("silent listener: the queue does not fill");
  }
}

TSilentListener::~TSilentListener() {
  ::close(filler_);
  ::close(listen_);
}

bool HaveIpv6Loopback() {
  const int fd = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in6 a{};
  a.sin6_family = AF_INET6;
  a.sin6_addr = in6addr_loopback;
  const bool ok = fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  if (fd >= 0) ::close(fd);
  return ok;
}

int UnansweredCallsTo(int port) {
  // Each line: slot, local address:port, remote address:port, state (hex;
  // 02 is SYN_SENT), ...; ports in hexadecimal.
  int count = 0;
  for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
    std::ifstream in(table);
    std::string line;
    std::getline(in, line);  // the heading
    for (int i = 0; i < 100000 && std::getline(in, line); ++i) {
      std::istringstream fields(line);
      std::string slot, local, remote, state;
      fields >> slot >> local >> remote >> state;
      const size_t colon = remote.rfind(':');
      if (colon == std::string::npos || state != "02") continue;
      if (std::stoi(remote.substr(colon + 1), nullptr, 16) == port) ++count;
    }
  }
  return count;
}

}  // namespace brelo::test
