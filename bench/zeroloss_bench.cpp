// Zero loss at full speed: the demo host sends 1,000,000 numbered Shift-JIS
// lines as fast as loopback carries them. Every line must reach the work
// thread, in order. Timed beside a bare loop that waits with poll and reads
// 1024 bytes at a time from the same flood; then a second pass with the
// session log checks the order line by line. Run it also under
// "taskset -c 0" (bench/run does) to see it hold on one core.
//
// Where the threads run is fixed (it decides the figure more than anything
// else; see receive_bench): the socket is read on the first core, and the
// session's work and send threads run there too; the demo host runs on the
// second. The host stands in for a host at the far end of a line: it never
// takes time from the session nor from the bare loop. With the host beside
// the work thread, or beside the reader, three busy threads shared two
// cores from one time slice to the next, and the ratio moved from run to
// run by a tenth and more with how the machine's cores were placed. Run
// under "taskset -c 0", everything shares the one core. A first round is
// not counted; then forty-one, in turn the bare loop first and the session
// first.
#include <QCoreApplication>
#include <QTimer>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "BenchUtil.h"
#include "DemoHostProcess.h"
#include "common/FileUtil.h"
#include "common/MainThread.h"
#include "common/Sjis.h"
#include "session/VeskoClient.h"

using namespace brelo;

namespace {

// No measurement may take longer than this.
constexpr int kMeasureLimitMs = 120000;

// Bytes until the ID prompt, read by a bare loop; MB/s.
double Bare(int port) {
  const int fd = bench::ConnectLoopback(port);
  const double t0 = bench::Seconds();
  std::string tail;
  size_t total = 0;
  char buf[1024];
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, kMeasureLimitMs) != 1) break;
    ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n <= 0) break;
    total += static_cast<size_t>(n);
    tail.append(buf, static_cast<size_t>(n));
    if (tail.find("ID: ") != std::string::npos) break;
    if (tail.size() > 64) tail.erase(0, tail.size() - 64);
  }
  const double t = bench::Seconds() - t0;
  ::close(fd);
  return static_cast<double>(total) / t / 1e6;
}

// Seconds of the session from its start until the work thread answers the
// ID prompt (0 when it never did); with a log, the log holds every consumed
// line. The caller's thread, on the session's core, reads the socket; the
// work and send threads start in Connect and inherit that core.
double Session(int port, const std::string& log, unsigned long long& taken) {
  TVeskoClient c;
  double t0 = 0, t1 = 0;
  const std::string waiting = Sjis("ID送出待機中");
  c.OnStatusOut = [&](TVeskoClient*, const std::string& s) {
    if (t0 == 0) t0 = bench::Seconds();
    if (s == waiting) {
      t1 = bench::Seconds();
      QCoreApplication::quit();
    }
  };
  c.MakeLogFile = !log.empty();
  c.LogFileName = log;
  c.Address = "127.0.0.1:" + std::to_string(port);
  QTimer limit;
  limit.setSingleShot(true);
  QObject::connect(&limit, &QTimer::timeout, [] { QCoreApplication::quit(); });
  limit.start(kMeasureLimitMs);
  c.Connect();
  QCoreApplication::exec();
  taken = c.Ring().TakenCount();
  if (t1 == 0) std::fprintf(stderr, "zeroloss_bench: no ID prompt within %d s\n", kMeasureLimitMs / 1000);
  c.Disconnect();
  return t1 > t0 ? t1 - t0 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  InstallMainThreadQueue();
  const long lines = argc > 1 ? std::atol(argv[1]) : 1000000;
  const std::vector<int> cores = bench::AllowedCores();
  if (cores.empty()) return 1;
  bench::PinThisThread({cores[0]});
  const std::vector<int> peer = {cores[1 % cores.size()]};
  bench::TDemoHostProcess host({"--flood", std::to_string(lines)}, peer);
  char first[32];
  std::snprintf(first, sizeof first, "%07d", 1);
  const size_t lineBytes = std::string(first).size() + Sjis(" 行目 大量送信テスト ＡＢＣ あいうえお").size() + 2;
  const double megabytes = static_cast<double>(lineBytes) * static_cast<double>(lines) / 1e6;

  bench::TRounds bare, rate;
  bool complete = true;
  const auto session = [&] {
    unsigned long long taken = 0;
    const double t = Session(host.Port(), "", taken);
    // The flood's lines, then the banner lines before the ID prompt.
    if (t == 0 || taken < static_cast<unsigned long long>(lines)) complete = false;
    return t > 0 ? megabytes / t : 0;
  };
  for (int round = -1; complete && round < 41; ++round) {
    double b, s;
    if (round % 2 == 0) {
      b = Bare(host.Port());
      s = session();
    } else {
      s = session();
      b = Bare(host.Port());
    }
    if (round < 0) continue;
    bare.Add(b);
    rate.Add(s);
  }
  // Every line, in order, in the session log.
  const std::string logDir = bench::TempFolder("log");
  const std::string log = logDir + "/flood.log";
  unsigned long long taken = 0;
  Session(host.Port(), log, taken);
  std::ifstream in(log, std::ios::binary);
  std::string l;
  long expect = 1, bad = 0;
  while (expect <= lines && std::getline(in, l)) {
    char want[32];
    std::snprintf(want, sizeof want, "%07ld ", expect);
    if (l.compare(0, 8, want) != 0) ++bad;
    ++expect;
  }
  std::remove(log.c_str());
  ::rmdir(logDir.c_str());
  const bool inOrder = bad == 0 && expect == lines + 1;
  std::printf("lines: %ld sent, %s, %s\n", lines, complete ? "all consumed" : "SOME LOST",
              inOrder ? "all in order" : "OUT OF ORDER");
  bench::Report("zero loss, MB/s", rate, bare, "MB/s", "every line, in order");
  return complete && inOrder ? 0 : 1;
}
