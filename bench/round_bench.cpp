// A night's round of eight hosts, each a demo host that pauses after every
// message as a slow line does: `brelo --pilot all --jobs 8` beside the
// longest of the eight single passes and beside `--jobs 1`, all in the same
// run. Each measurement calls hosts of its own that have shown nothing yet
// (a host shows a user each message once), into a program folder of its own.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "BenchUtil.h"
#include "DemoHostProcess.h"
#include "hosts/HostTable.h"

using namespace brelo;

namespace {

constexpr int kHosts = 8;

// Eight fresh hosts in a fresh program folder.
struct TRoundSetUp {
  explicit TRoundSetUp(const std::string& pause) {
    home = bench::TempFolder("round") + "/";
    THostTable t;
    t.HostCount = kHosts;
    for (int i = 0; i < kHosts; ++i) {
      hosts.push_back(std::make_unique<bench::TDemoHostProcess>(std::vector<std::string>{"--message-pause", pause}));
      THostEntry& e = t.HostTable[static_cast<size_t>(i)];
      e = THostTable::SampleEntry();
      e.Title = "H" + std::to_string(i);
      e.FilePath = e.Title;
      e.Address = "telnet://127.0.0.1:" + std::to_string(hosts.back()->Port()) + "/";
      e.UserID = "TARO";
      e.Password = "taro";
    }
    t.SaveHostList(home);
  }
  ~TRoundSetUp() {
    const std::string rm = "rm -rf '" + home + "'";
    if (std::system(rm.c_str()) != 0) return;
  }
  std::string home;
  std::vector<std::unique_ptr<bench::TDemoHostProcess>> hosts;
};

// Seconds that `brelo --home HOME --pilot HOSTS --jobs N` takes; the program
// must end with status 0.
double Pilot(const std::string& home, const std::string& hostsArg, int jobs) {
  const std::vector<std::string> args = {BRELO_PROGRAM, "--home", home, "--pilot", hostsArg, "--jobs",
                                         std::to_string(jobs), "--timeout", "120"};
  const double start = bench::Seconds();
  if (!bench::RunQuietly(args)) std::exit(1);
  return bench::Seconds() - start;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string pause = argc > 1 ? argv[1] : "100";  // milliseconds after each message
  double longest = 0;
  {
    TRoundSetUp singles(pause);
    for (int i = 0; i < kHosts; ++i) {
      const double t = Pilot(singles.home, std::to_string(i), 1);
      std::printf("single pass H%d: %.2f s\n", i, t);
      std::fflush(stdout);  // before the next host process is forked
      longest = std::max(longest, t);
    }
  }
  double one = 0, eight = 0;
  {
    TRoundSetUp round(pause);
    one = Pilot(round.home, "all", 1);
  }
  {
    TRoundSetUp round(pause);
    eight = Pilot(round.home, "all", 8);
  }
  std::printf("round of %d hosts: --jobs 1 %.2f s, --jobs 8 %.2f s, longest single pass %.2f s\n", kHosts, one, eight,
              longest);
  bench::Report("round of 8 hosts, --jobs 8 (baseline: the longest single pass)", eight, longest, "s",
                "<= 1.5");
  bench::Report("round of 8 hosts, --jobs 1 (baseline: --jobs 8)", one, eight, "s", "(the gain)");
  return eight <= 1.5 * longest ? 0 : 1;
}
