#include "BenchUtil.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

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

void Report(const std::string& name, double figure, double baseline, const std::string& unit,
            const std::string& goal) {
  std::printf("RESULT %s | %.3f %s | baseline %.3f %s | ratio %.3f | goal %s\n", name.c_str(), figure, unit.c_str(),
              baseline, unit.c_str(), baseline != 0 ? figure / baseline : 0.0, goal.c_str());
  std::fflush(stdout);
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
  std::printf("RESULT %s | %.3f %s [%.3f..%.3f] | baseline %.3f %s [%.3f..%.3f] | ratio %.3f [%.3f..%.3f] | goal %s\n",
              name.c_str(), figure.Median(), unit.c_str(), figure.Min(), figure.Max(), baseline.Median(), unit.c_str(),
              baseline.Min(), baseline.Max(), ratio.Median(), ratio.Min(), ratio.Max(), goal.c_str());
  std::fflush(stdout);
}

}  // namespace brelo::bench
