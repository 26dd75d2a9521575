#include "BenchUtil.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <dirent.h>
#include <fcntl.h>
#include <malloc.h>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

namespace brelo::bench {
namespace {

// Every benchmark ends by saying how much memory it took at most; bench/run
// shows it beside its figures.
struct TPeakRss {
  ~TPeakRss() {
    rusage use{};
    if (::getrusage(RUSAGE_SELF, &use) == 0) std::printf("PEAKRSS %.1f MB\n", static_cast<double>(use.ru_maxrss) / 1024.0);
    std::fflush(stdout);
  }
} peakRss;

}  // namespace

bool RunQuietly(const std::vector<std::string>& args, rusage* use) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 1);
    ::dup2(null, 2);
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  int status = 0;
  rusage own{};
  if (::wait4(pid, &status, 0, use != nullptr ? use : &own) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "bench: %s %s failed (status %d)\n", args[0].c_str(), args.size() > 1 ? args[1].c_str() : "",
                 status);
    return false;
  }
  return true;
}

std::string TempFolder(const std::string& name) {
  const char* tmp = std::getenv("TMPDIR");
  std::string path = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/brelo-bench-" + name + "-XXXXXX";
  if (::mkdtemp(path.data()) == nullptr) {
    std::perror(("bench: cannot make " + path).c_str());
    std::exit(1);
  }
  return path;
}

int ConnectLoopback(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    std::fprintf(stderr, "bench: cannot connect to 127.0.0.1:%d\n", port);
    std::exit(1);
  }
  return fd;
}

int ListenLoopback(int& port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 4) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
    std::fprintf(stderr, "bench: cannot listen on 127.0.0.1\n");
    std::exit(1);
  }
  port = ntohs(a.sin_port);
  return fd;
}

namespace {

// A figure as a table shows it: four significant digits, big ones whole.
std::string Figure(double v) {
  char b[32];
  if (v >= 10000 || v <= -10000) std::snprintf(b, sizeof b, "%.0f", v);
  else std::snprintf(b, sizeof b, "%.4g", v);
  return b;
}

// A ratio: three decimals, and three significant digits below 0.1, where
// three decimals would round a tenth of the figure away.
std::string Ratio(double v) {
  char b[32];
  std::snprintf(b, sizeof b, v < 0.1 && v > -0.1 ? "%.3g" : "%.3f", v);
  return b;
}

// One result line: the figure's median, lowest and highest, the baseline's
// median, the ratio's median, lowest and highest ("-" without a baseline),
// the number of rounds.
void PrintResult(const std::string& name, const std::string& unit, const TRounds& figure, double baseline,
                 const TRounds& ratio, const std::string& goal) {
  const std::string r = ratio.Size() > 0
                            ? Ratio(ratio.Median()) + " | " + Ratio(ratio.Min()) + " | " + Ratio(ratio.Max())
                            : "- | - | -";
  std::printf("RESULT %s | %s | %s | %s | %s | %s | %s | %zu | %s\n", name.c_str(), unit.c_str(),
              Figure(figure.Median()).c_str(), Figure(figure.Min()).c_str(), Figure(figure.Max()).c_str(),
              ratio.Size() > 0 ? Figure(baseline).c_str() : "-", r.c_str(), figure.Size(), goal.c_str());
  std::fflush(stdout);
}

}  // namespace

void Report(const std::string& name, double figure, double baseline, const std::string& unit,
            const std::string& goal) {
  TRounds f, r;
  f.Add(figure);
  r.Add(baseline != 0 ? figure / baseline : 0.0);
  PrintResult(name, unit, f, baseline, r, goal);
}

double TRounds::Median() const {
  if (values_.empty()) return 0;
  std::vector<double> v = values_;
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

double TRounds::Min() const { return values_.empty() ? 0 : *std::min_element(values_.begin(), values_.end()); }
double TRounds::Max() const { return values_.empty() ? 0 : *std::max_element(values_.begin(), values_.end()); }

void Report(const std::string& name, const TRounds& figure, const TRounds& baseline, const std::string& unit,
            const std::string& goal) {
  TRounds ratio;
  for (size_t i = 0; i < figure.Size() && i < baseline.Size(); ++i) {
    if (baseline[i] != 0) ratio.Add(figure[i] / baseline[i]);
  }
  PrintResult(name, unit, figure, baseline.Median(), ratio, goal);
}

void Report(const std::string& name, const TRounds& figure, double baseline, const std::string& unit,
            const std::string& goal) {
  TRounds ratio;
  for (size_t i = 0; i < figure.Size() && baseline != 0; ++i) ratio.Add(figure[i] / baseline);
  PrintResult(name, unit, figure, baseline, ratio, goal);
}

void Report(const std::string& name, const TRounds& figure, const std::string& unit, const std::string& goal) {
  PrintResult(name, unit, figure, 0, TRounds(), goal);
}

bool TRoundBudget::Another() {
  if (done_ == 0) start_ = Seconds();
  const bool another = done_ < least_ || (done_ < most_ && Seconds() - start_ < seconds_);
  if (another) ++done_;
  return another;
}

void KeepHeapMapped() {
  // Freed memory is neither trimmed from the heap's top nor, for big blocks,
  // given back to the system at once.
  ::mallopt(M_TRIM_THRESHOLD, 1 << 30);
  ::mallopt(M_MMAP_THRESHOLD, 32 << 20);
}

TThreadUse& TThreadUse::operator-=(const TThreadUse& before) {
  cpu -= before.cpu;
  waited -= before.waited;
  sleeps -= before.sleeps;
  preempted -= before.preempted;
  migrations -= before.migrations;
  return *this;
}

std::map<int, TThreadUse> ThreadUse() {
  std::map<int, TThreadUse> out;
  DIR* d = ::opendir("/proc/self/task");
  if (d == nullptr) return out;
  while (const dirent* e = ::readdir(d)) {
    const int tid = std::atoi(e->d_name);
    if (tid <= 0) continue;
    const std::string dir = std::string("/proc/self/task/") + e->d_name + "/";
    TThreadUse u;
    std::ifstream(dir + "comm") >> u.name;
    // Nanoseconds on a core, nanoseconds waiting for one, time slices.
    double run = 0, wait = 0;
    if (std::ifstream(dir + "schedstat") >> run >> wait) {
      u.cpu = run / 1e9;
      u.waited = wait / 1e9;
    }
    std::ifstream status(dir + "status");
    for (std::string line; std::getline(status, line);) {
      std::istringstream l(line);
      std::string key;
      l >> key;
      if (key == "voluntary_ctxt_switches:") l >> u.sleeps;
      else if (key == "nonvoluntary_ctxt_switches:") l >> u.preempted;
    }
    std::ifstream sched(dir + "sched");
    for (std::string line; std::getline(sched, line);) {
      if (line.rfind("se.nr_migrations", 0) == 0) u.migrations = std::atol(line.substr(line.find(':') + 1).c_str());
    }
    out[tid] = u;
  }
  ::closedir(d);
  return out;
}

std::map<int, TThreadUse> UsedBetween(const std::map<int, TThreadUse>& before,
                                      const std::map<int, TThreadUse>& after) {
  std::map<int, TThreadUse> out;
  for (const auto& [tid, use] : after) {
    TThreadUse u = use;
    // A thread id seen before with more time on it is a new thread that was given an old id.
    if (auto b = before.find(tid); b != before.end() && b->second.cpu <= u.cpu) u -= b->second;
    out[tid] = u;
  }
  return out;
}

std::vector<int> AllowedCores() {
  cpu_set_t set;
  CPU_ZERO(&set);
  std::vector<int> cores;
  if (::sched_getaffinity(0, sizeof set, &set) != 0) return cores;
  for (int c = 0; c < CPU_SETSIZE; ++c) {
    if (CPU_ISSET(c, &set)) cores.push_back(c);
  }
  return cores;
}

void PinThisThread(const std::vector<int>& cores) {
  cpu_set_t set;
  CPU_ZERO(&set);
  for (const int c : cores) CPU_SET(c, &set);
  if (::sched_setaffinity(0, sizeof set, &set) != 0) std::perror("bench: sched_setaffinity");
}

double CacheLineRoundTripNs(int here, int there) {
  struct alignas(64) TBall {
    std::atomic<long> n{0};
  } ball;
  std::atomic<bool> stop{false};
  // The partner answers every odd number with the next even one.
  std::thread partner([&] {
    PinThisThread({there});
    while (!stop.load(std::memory_order_relaxed)) {
      const long v = ball.n.load(std::memory_order_acquire);
      if (v & 1) ball.n.store(v + 1, std::memory_order_release);
    }
  });
  PinThisThread({here});
  constexpr long kTrips = 20000;
  const double limit = Seconds() + 0.1;
  // One trip: an odd number out, its even answer back; false when it is late.
  const auto trip = [&](long i) {
    const long sent = 2 * i + 1;
    ball.n.store(sent, std::memory_order_release);
    for (long spins = 0; ball.n.load(std::memory_order_acquire) == sent; ++spins) {
      if ((spins & 1023) == 1023 && Seconds() > limit) return false;
    }
    return true;
  };
  long trips = 0;
  double t0 = 0;
  if (trip(0)) {  // the first trip only waits for the partner to run
    t0 = Seconds();
    while (trips < kTrips && trip(trips + 1)) ++trips;
  }
  const double t = Seconds() - t0;
  stop = true;
  partner.join();
  return trips > 0 ? t / static_cast<double>(trips) * 1e9 : 0;
}

std::vector<double> LeastTimes(const std::vector<std::function<bool()>>& steps, int bursts, int times, int gapMs) {
  std::vector<double> least(steps.size(), 1e300);
  for (int burst = 0; burst < bursts; ++burst) {
    if (gapMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(gapMs));
    for (size_t k = 0; k < steps.size(); ++k) {
      // In turn the first step first and the last first.
      const size_t s = burst % 2 == 0 ? k : steps.size() - 1 - k;
      for (int i = -1; i < times; ++i) {
        const double t0 = Seconds();
        if (!steps[s]()) return {};
        const double t = Seconds() - t0;
        if (i >= 0) least[s] = std::min(least[s], t);
      }
    }
  }
  return least;
}

int NameThisThread(const char* name) {
  ::pthread_setname_np(::pthread_self(), name);
  return static_cast<int>(::syscall(SYS_gettid));
}

}  // namespace brelo::bench
