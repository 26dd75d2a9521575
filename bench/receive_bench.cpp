// Receive throughput: a loopback peer sends 100 MB of 80-byte CR LF lines as
// fast as it can, plain; then painted with colour escape sequences as hosts
// paint them now (taken out again in the receive path); then as Japanese
// text in UTF-8 (converted to Shift-JIS in the receive path). The session
// component's receive path fills the ring and its work thread consumes every
// line with NextLine (the login dialogue waiting for the ID prompt); the
// count must be exact. Baseline: a bare loop that waits for readiness with
// poll and reads 1024 bytes at a time.
//
// A round measures each of the three beside its own bare loop, one right
// after the other (in turn the loop first and the receive path first), so
// that both meet the same machine: the same load from others, the same
// clock speed, the same placement of threads on cores. Each ratio is the
// median of the rounds' own ratios. A first round is not counted: it pays
// for what a process does once (pages touched the first time, the codec's
// tables, thread stacks).
//
// Where the threads run is fixed, since it decides the figure more than
// anything else. With the work thread on the core of the thread that reads
// the socket, each wake-up of the work thread is a preemption of the reader;
// with the work thread on a core of its own, each line's hand-over moves
// cache lines between the cores and each wake-up is an interrupt to the
// other core. Left to the scheduler, a measurement gets one, the other or a
// mix, and its figure lands anywhere between the two. So the socket is read
// on the first core, the peer sends from the second (the third where there
// is one), and the session's work and send threads run either on the
// reader's core or on the second; the bare loop reads on the first core
// with the peer where it is for the session.
//
// Options: MEGABYTES (default 100); --rounds N; --detail prints every
// measurement with what the scheduler counted for its threads (time on a
// core, time waiting for one, sleeps, preemptions, moves between cores) and
// the reader's idle time (neither on a core nor waiting for one: it had
// nothing to read, or reading was paused behind a full ring); --free also
// measures the session with its threads placed by the scheduler; --only
// shared|own|free measures that placement alone.
#include <QCoreApplication>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <thread>

#include "BenchUtil.h"
#include "common/MainThread.h"
#include "common/Sjis.h"
#include "session/VeskoClient.h"

using namespace brelo;

namespace {

constexpr size_t kLineBytes = 80;
constexpr size_t kBlockLines = 1024;
// No measurement may take longer than this; one that does is reported as a
// failure, never waited for.
constexpr int kMeasureLimitMs = 60000;

// Cores for the thread that reads the socket, the session's work and send
// threads, and the peer; empty: wherever the scheduler puts it.
struct TPlacement {
  std::vector<int> reader, work, peer;
};

enum EMode { kPlain, kPainted, kUtf8 };
constexpr std::array<EMode, 3> kModes = {kPlain, kPainted, kUtf8};
const char* const kModeNames[] = {"plain", "painted", "utf8"};

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

// What the peer sends over and over, per mode: built once, before the first
// measurement.
std::array<std::string, 3> g_blocks;

// The peer: accepts, sends `lines` lines and then the ID prompt, and holds
// the connection until the reader closes it (bounded: it never outlives a
// measurement's limit). Its thread id goes to `tid`.
std::thread Peer(int listenFd, size_t lines, EMode mode, const std::vector<int>& cores, std::atomic<int>& tid) {
  return std::thread([listenFd, lines, mode, cores, &tid] {
    tid = bench::NameThisThread("peer");
    if (!cores.empty()) bench::PinThisThread(cores);
    pollfd a{listenFd, POLLIN, 0};
    if (::poll(&a, 1, kMeasureLimitMs) != 1) return;
    const int c = ::accept(listenFd, nullptr, nullptr);
    if (c < 0) return;
    const std::string& block = g_blocks[mode];
    for (size_t sent = 0; sent < lines;) {
      const size_t n = std::min(kBlockLines, lines - sent);
      const char* p = block.data();
      size_t left = n * kLineBytes;
      while (left > 0) {
        const ssize_t w = ::send(c, p, left, MSG_NOSIGNAL);
        if (w <= 0) {  // the reader has gone
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
    // What the reader sends back is dropped; its close ends the connection.
    char sink[256];
    for (const double end = bench::Seconds() + kMeasureLimitMs / 1e3; bench::Seconds() < end;) {
      pollfd p{c, POLLIN, 0};
      if (::poll(&p, 1, 100) == 1 && ::recv(c, sink, sizeof sink, 0) <= 0) break;
    }
    ::close(c);
  });
}

// One measurement: MB/s, and what the threads used meanwhile.
struct TMeasure {
  double rate = 0;
  double seconds = 0;
  bool ok = false;
  bench::TThreadUse reader;  // the main thread: the bare loop, or the session's receive path
  bench::TThreadUse peer;
  bench::TThreadUse others;  // the session's work and send threads
};

void Split(const std::map<int, bench::TThreadUse>& used, int peerTid, TMeasure& m) {
  for (const auto& [tid, u] : used) {
    bench::TThreadUse& to = tid == ::getpid() ? m.reader : tid == peerTid ? m.peer : m.others;
    to.cpu += u.cpu;
    to.waited += u.waited;
    to.sleeps += u.sleeps;
    to.preempted += u.preempted;
    to.migrations += u.migrations;
  }
}

TMeasure Baseline(size_t lines, EMode mode, const TPlacement& at) {
  bench::PinThisThread(at.reader);
  int port;
  const int lfd = bench::ListenLoopback(port);
  std::atomic<int> peerTid{0};
  std::thread peer = Peer(lfd, lines, mode, at.peer, peerTid);
  const int fd = bench::ConnectLoopback(port);
  const auto before = bench::ThreadUse();
  const double t0 = bench::Seconds();
  size_t total = 0;
  const size_t want = lines * kLineBytes;
  char buf[1024];
  while (total < want) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, kMeasureLimitMs) != 1) break;
    const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n <= 0) break;
    total += static_cast<size_t>(n);
  }
  TMeasure m;
  m.seconds = bench::Seconds() - t0;
  Split(bench::UsedBetween(before, bench::ThreadUse()), peerTid, m);
  ::close(fd);
  peer.join();
  ::close(lfd);
  m.ok = total >= want;
  m.rate = static_cast<double>(total) / m.seconds / 1e6;
  return m;
}

TMeasure Client(size_t lines, EMode mode, const TPlacement& at) {
  int port;
  const int lfd = bench::ListenLoopback(port);
  std::atomic<int> peerTid{0};
  std::thread peer = Peer(lfd, lines, mode, at.peer, peerTid);
  TMeasure m;
  std::map<int, bench::TThreadUse> before;
  double t0 = 0, t1 = 0;
  {
    TVeskoClient c;
    const std::string connecting = Sjis("に接続中"), waitingForId = Sjis("ID送出待機中");
    c.OnStatusOut = [&](TVeskoClient*, const std::string& s) {
      if (t0 == 0 && s.find(connecting) != std::string::npos) {
        before = bench::ThreadUse();
        t0 = bench::Seconds();
      }
      if (s == waitingForId && t1 == 0) {
        t1 = bench::Seconds();
        Split(bench::UsedBetween(before, bench::ThreadUse()), peerTid, m);
        QCoreApplication::quit();
      }
    };
    c.Address = "127.0.0.1:" + std::to_string(port);
    if (mode == kUtf8) c.Encoding = EHostEncoding::kUtf8;
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, [] { QCoreApplication::quit(); });
    limit.start(kMeasureLimitMs);
    // The session's threads start in Connect and inherit the core it runs on.
    bench::PinThisThread(at.work);
    c.Connect();
    bench::PinThisThread(at.reader);
    QCoreApplication::exec();
    m.ok = t1 > 0 && c.Ring().TakenCount() == lines;
    if (t1 == 0) std::fprintf(stderr, "receive_bench: no ID prompt within %d s\n", kMeasureLimitMs / 1000);
    else if (!m.ok) std::fprintf(stderr, "receive_bench: lines consumed: %llu of %zu\n", c.Ring().TakenCount(), lines);
    c.Disconnect();
  }
  peer.join();
  ::close(lfd);
  m.seconds = t1 > t0 ? t1 - t0 : 0;
  m.rate = m.seconds > 0 ? static_cast<double>(lines * kLineBytes) / m.seconds / 1e6 : 0;
  return m;
}

// The session's placements: its work thread on the reader's core, on a
// core of its own, and (on request) wherever the scheduler puts it.
enum EPlace { kSameCore, kOwnCore, kFree };
const char* const kPlaceNames[] = {"work thread on the reader's core", "work thread on a core of its own",
                                   "threads placed by the scheduler"};
const char* const kPlaceShort[] = {"reader's core", "own core", "free"};

void PrintDetail(int round, EMode mode, const char* side, const TMeasure& m) {
  const auto f = [](const bench::TThreadUse& u) {
    char b[128];
    std::snprintf(b, sizeof b, "%6.3f cpu %6.3f wait %6ld sleeps %5ld preempted %4ld moves", u.cpu, u.waited,
                  u.sleeps, u.preempted, u.migrations);
    return std::string(b);
  };
  // The reader's time neither on a core nor waiting for one: it waited for bytes.
  const double idle = std::max(0.0, m.seconds - m.reader.cpu - m.reader.waited);
  std::printf("round %2d %-7s %-22s %7.1f MB/s %6.3f s %6.3f idle | reader %s | peer %s", round, kModeNames[mode], side,
              m.rate, m.seconds, idle, f(m.reader).c_str(), f(m.peer).c_str());
  if (m.others.cpu > 0) std::printf(" | work+send %s", f(m.others).c_str());
  std::printf("\n");
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  brelo::InstallMainThreadQueue();
  bench::KeepHeapMapped();
  size_t megabytes = 100;
  bool detail = false, free = false;
  std::string only;
  int rounds = 0;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--detail") == 0) detail = true;
    else if (std::strcmp(argv[i], "--free") == 0) free = true;
    else if (std::strcmp(argv[i], "--rounds") == 0 && i + 1 < argc) rounds = std::atoi(argv[++i]);
    else if (std::strcmp(argv[i], "--only") == 0 && i + 1 < argc) only = argv[++i];
    else megabytes = static_cast<size_t>(std::atoi(argv[i]));
  }
  const size_t lines = std::max<size_t>(1, megabytes * 1000 * 1000 / kLineBytes);
  for (const EMode mode : kModes) {
    for (size_t i = 0; i < kBlockLines; ++i) g_blocks[mode] += LineBytes(i, mode);
  }
  const std::vector<int> cores = bench::AllowedCores();
  if (cores.empty()) return 1;
  const int reader = cores[0], second = cores[1 % cores.size()], third = cores[2 % cores.size()];
  const int peer = cores.size() >= 3 ? third : second;
  std::vector<EPlace> places = {kSameCore};
  if (cores.size() > 1) places.push_back(kOwnCore);
  if (free) places.push_back(kFree);
  if (!only.empty()) {
    const std::map<std::string, EPlace> named = {{"shared", kSameCore}, {"own", kOwnCore}, {"free", kFree}};
    const auto p = named.find(only);
    if (p == named.end()) {
      std::fprintf(stderr, "receive_bench: --only takes shared, own or free\n");
      return 2;
    }
    places = {p->second};
  }
  TPlacement at[3];
  at[kSameCore] = {{reader}, {reader}, {peer}};
  at[kOwnCore] = {{reader}, {second}, {peer}};
  at[kFree] = {cores, cores, cores};
  std::printf("cores: the socket read on %d, the peer on %d, the session's work thread on %d or %d\n", reader, peer,
              reader, second);
  std::fflush(stdout);

  // At least nine rounds after the first; more while a minute and a half lasts.
  bench::TRoundBudget budget(rounds > 0 ? rounds : 9, rounds > 0 ? rounds : 25, 90);
  bench::TRounds base[3][3], client[3][3];  // [placement][mode]
  bench::TRounds roundTrip;
  bool allLines = true;
  for (int round = -1; allLines && (round < 0 || budget.Another()); ++round) {
    if (cores.size() > 1) {
      // What a hand-over between the two cores costs in this round.
      const double ns = bench::CacheLineRoundTripNs(reader, second);
      if (detail) std::printf("round %2d a cache line from core %d to %d and back: %.0f ns\n", round, reader, second, ns);
      if (round >= 0) roundTrip.Add(ns);
    }
    for (const EPlace place : places) {
      for (const EMode mode : kModes) {
        TMeasure b, c;
        // In turn the bare loop first and the session first.
        if ((round + place) % 2 == 0) {
          b = Baseline(lines, mode, at[place]);
          c = Client(lines, mode, at[place]);
        } else {
          c = Client(lines, mode, at[place]);
          b = Baseline(lines, mode, at[place]);
        }
        allLines = allLines && b.ok && c.ok;
        if (detail) {
          PrintDetail(round, mode, "loop", b);
          PrintDetail(round, mode, (std::string("session, ") + kPlaceShort[place]).c_str(), c);
        }
        if (round < 0) continue;
        base[place][mode].Add(b.rate);
        client[place][mode].Add(c.rate);
      }
    }
  }
  for (const EPlace place : places) {
    const std::string goal = place == kFree ? "(as placed)" : ">= 0.5, every line kept";
    bench::Report(std::string("receive path, ") + kPlaceNames[place] + ", MB/s", client[place][kPlain],
                  base[place][kPlain], "MB/s", goal);
    bench::Report("  the same, colour escapes taken out", client[place][kPainted], base[place][kPainted], "MB/s", goal);
    bench::Report("  the same, colour escapes, to the plain receive path", client[place][kPainted],
                  client[place][kPlain], "MB/s", place == kFree ? "(as placed)" : ">= 0.5");
    bench::Report("  the same, UTF-8 converted", client[place][kUtf8], base[place][kUtf8], "MB/s", goal);
    bench::Report("  the same, UTF-8, to the plain receive path", client[place][kUtf8], client[place][kPlain], "MB/s",
                  place == kFree ? "(as placed)" : ">= 0.5");
  }
  if (roundTrip.Size() > 0) {
    bench::Report("  machine: a cache line between those two cores and back, ns", roundTrip, "ns",
                  "(information: the hand-over's least cost)");
  }
  if (!allLines) {
    std::printf("FAIL: lines were lost or a measurement did not end\n");
    return 1;
  }
  return 0;
}
