#include "support/Loopback.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <chrono>
#include <stdexcept>

namespace brelo::test {

TLoopbackPeer::TLoopbackPeer() {
  listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int on = 1;
  ::setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(listen_, 4) != 0) {
    throw std::runtime_error("loopback listen failed");
  }
  socklen_t len = sizeof a;
  ::getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &len);
  port_ = ntohs(a.sin_port);
}

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

}  // namespace brelo::test
