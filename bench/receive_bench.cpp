// Receive throughput: a loopback peer sends 100 MB of 80-byte CR LF lines as
// fast as it can, plain; then painted with colour escape sequences as hosts
// paint them now (taken out again in the receive path); then as Japanese
// text in UTF-8 (converted to Shift-JIS in the receive path). The session
// component's receive path fills the ring and its work thread consumes every
// line with NextLine (the login dialogue waiting for the ID prompt); the
// count must be exact. Baseline: a bare loop
// that waits for readiness with poll and reads 1024 bytes at a time.
#include <QCoreApplication>

#include "common/MainThread.h"
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "BenchUtil.h"
#include "common/Sjis.h"
#include "session/VeskoClient.h"

using namespace brelo;

namespace {

constexpr size_t kLineBytes = 80;

int Listen(int& port) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  ::listen(fd, 1);
  socklen_t len = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  port = ntohs(a.sin_port);
  return fd;
}

enum EMode { kPlain, kPainted, kUtf8 };

// The bytes of one 80-byte line (painted, it carries a colour before its
// text and a reset after it, inside the 80 bytes; in UTF-8, it is mostly
// kanji and kana, three bytes each).
std::string LineBytes(size_t i, EMode mode) {
  std::string l = "line " + std::to_string(i);
  if (mode == kPainted) l = "\x1b[1;3" + std::to_string(i % 7 + 1) + "m" + l;
  if (mode == kUtf8) {
    l += " ";
    while (l.size() + 3 <= kLineBytes - 2) l += i % 2 ? "漢" : "か";
  }
  l.resize(kLineBytes - 2 - (mode == kPainted ? 4 : 0), '.');
  if (mode == kPainted) l += "\x1b[0m";
  return l + "\r\n";
}

// The peer: accepts, sends `lines` lines and then the ID prompt line, closes.
std::thread Peer(int listenFd, size_t lines, EMode mode) {
  return std::thread([listenFd, lines, mode] {
    int c = ::accept(listenFd, nullptr, nullptr);
    std::string block;
    const size_t perBlock = 1024;
    for (size_t i = 0; i < perBlock; ++i) block += LineBytes(i, mode);
    size_t sent = 0;
    while (sent < lines) {
      size_t n = std::min(perBlock, lines - sent);
      const char* p = block.data();
      size_t left = n * kLineBytes;
      while (left > 0) {
        ssize_t w = ::send(c, p, left, MSG_NOSIGNAL);
        if (w <= 0) {
          ::close(c);
          return;
        }
        p += w;
        left -= static_cast<size_t>(w);
      }
      sent += n;
    }
    const std::string id = "ID: ";
    ::send(c, id.data(), id.size(), MSG_NOSIGNAL);
    ::sleep(1);
    ::close(c);
  });
}

double Baseline(size_t lines, EMode mode) {
  int port;
  int lfd = Listen(port);
  std::thread peer = Peer(lfd, lines, mode);
  const int fd = bench::ConnectLoopback(port);
  const double t0 = bench::Seconds();
  size_t total = 0;
  const size_t want = lines * kLineBytes;
  char buf[1024];
  while (total < want) {
    pollfd p{fd, POLLIN, 0};
    ::poll(&p, 1, -1);
    ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n <= 0) break;
    total += static_cast<size_t>(n);
  }
  const double t = bench::Seconds() - t0;
  ::close(fd);
  peer.join();
  ::close(lfd);
  return static_cast<double>(total) / t / 1e6;
}

double Client(size_t lines, EMode mode, bool& allLines) {
  int port;
  int lfd = Listen(port);
  std::thread peer = Peer(lfd, lines, mode);
  TVeskoClient c;
  double t0 = 0, t1 = 0;
  const std::string waitingForId = Sjis("ID送出待機中");
  c.OnStatusOut = [&](TVeskoClient*, const std::string& s) {
    if (s.find(Sjis("に接続中")) != std::string::npos) t0 = bench::Seconds();
    if (s == waitingForId) {
      t1 = bench::Seconds();
      QCoreApplication::quit();
    }
  };
  c.Address = "127.0.0.1:" + std::to_string(port);
  if (mode == kUtf8) c.Encoding = EHostEncoding::kUtf8;
  c.Connect();
  QCoreApplication::exec();
  allLines = c.Ring().TakenCount() == lines;
  if (!allLines) {
    std::fprintf(stderr, "lines consumed: %llu of %zu\n", c.Ring().TakenCount(), lines);
  }
  c.Disconnect();
  peer.join();
  ::close(lfd);
  return static_cast<double>(lines * kLineBytes) / (t1 - t0) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  brelo::InstallMainThreadQueue();
  const size_t megabytes = argc > 1 ? static_cast<size_t>(std::atoi(argv[1])) : 100;
  const size_t lines = megabytes * 1000 * 1000 / kLineBytes;
  // Five rounds, interleaved: the machine's other load hits both sides of a
  // round alike. A first round of each, not counted, pays for what a process
  // does once (memory touched the first time, the codec's tables).
  constexpr int kRounds = 5;
  bool allLines = true;
  bench::TRounds plain;
  for (const EMode mode : {kPlain, kPainted, kUtf8}) {
    bench::TRounds base, client;
    for (int round = -1; round < kRounds; ++round) {
      const double b = Baseline(lines, mode);
      bool all = false;
      const double c = Client(lines, mode, all);
      allLines = allLines && all;
      if (round < 0) continue;
      base.Add(b);
      client.Add(c);
    }
    static const char* const kNames[] = {"receive path, MB/s", "receive path, colour escapes taken out, MB/s",
                                         "receive path, UTF-8 converted, MB/s"};
    bench::Report(kNames[mode], client, base, "MB/s", ">= 0.5, every line kept");
    if (mode == kPlain) plain = client;
    else bench::Report("  the same, to the plain receive path", client, plain, "MB/s", ">= 0.5");
  }
  if (!allLines) {
    std::printf("FAIL: lines were lost\n");
    return 1;
  }
  return 0;
}
