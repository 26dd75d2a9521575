// Shared by the benchmarks: a clock, rounds and their budget, what the
// scheduler counted, and the one-line report every benchmark prints:
// "RESULT name | unit | median | min | max | baseline | ratio | ratio min |
// ratio max | rounds | goal" (bench/run makes a table of them).
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <vector>

struct rusage;

namespace brelo::bench {

inline double Seconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// A blocking TCP connection to 127.0.0.1:port, for the bare-loop baselines;
// the benchmark stops with a message when it cannot be made.
int ConnectLoopback(int port);
// A socket listening on 127.0.0.1 on a port the kernel chose (`port`); the
// benchmark stops with a message when it cannot be made.
int ListenLoopback(int& port);

// Runs a program (args[0], a path) with its output thrown away and waits
// for it; true when it exited with status 0. `use` gets what it used.
bool RunQuietly(const std::vector<std::string>& args, ::rusage* use = nullptr);

// A new folder "brelo-bench-NAME-XXXXXX" under $TMPDIR (else /tmp), without
// a trailing "/"; the benchmark stops with a message when it cannot be made.
// bench/run gives each run a TMPDIR of its own and removes it afterwards, so
// a benchmark stopped by its time limit leaves nothing behind.
std::string TempFolder(const std::string& name);

// Prints the result line of a single measurement; ratio = figure / baseline.
void Report(const std::string& name, double figure, double baseline, const std::string& unit,
            const std::string& goal);

// The figures of a benchmark's rounds. A figure is reported as the median of
// its rounds with the lowest and highest beside it: one lucky or unlucky
// round moves neither the figure nor the ratio, and the spread is in view.
class TRounds {
 public:
  void Add(double v) { values_.push_back(v); }
  size_t Size() const { return values_.size(); }
  double operator[](size_t i) const { return values_[i]; }
  double Median() const;
  double Min() const;
  double Max() const;

 private:
  std::vector<double> values_;
};

// How many rounds a benchmark runs: at least `least`, at most `most`, and
// none begun once `seconds` have passed since the first (a loaded machine
// gets fewer rounds, never an endless run).
class TRoundBudget {
 public:
  TRoundBudget(int least, int most, double seconds) : least_(least), most_(most), seconds_(seconds) {}
  // True when another round is to be run (the first call starts the clock).
  bool Another();
  int Done() const { return done_; }

 private:
  int least_, most_;
  double seconds_;
  double start_ = 0;
  int done_ = 0;
};

// One round of steps of a few microseconds to a few milliseconds, in
// `bursts` bursts `gapMs` apart: in each burst each step is run once not
// timed and then timed `times` times in a row, the steps in turn (first the
// first, then the last first); gives each step's least time in seconds, or
// nothing when a step failed (returned false). This machine's memory is
// slowed from one tenth of a second to the next by up to half (its
// neighbours' traffic) while its cores hold steady, and a memory-bound step
// and a compute-bound one are slowed unlike: a round's ratio was the
// moment's it met. The least time over a round spread out in time is the
// step's own cost; anything the machine adds only lengthens a time. Steps
// taken one after the other within a burst each meet the caches as they
// leave them, not as the other step left them.
std::vector<double> LeastTimes(const std::vector<std::function<bool()>>& steps, int bursts, int times, int gapMs);

// Keeps freed heap memory in the process: a round after the first finds its
// buffers' pages mapped already instead of paying page faults that the
// other side of its pair does not pay.
void KeepHeapMapped();

// What the scheduler has counted for each thread of this process, by thread
// id: time on a core, time runnable but waiting for one (the machine's other
// load), sleeps and preemptions; from /proc, zero where the kernel does not
// tell.
struct TThreadUse {
  std::string name;
  double cpu = 0;
  double waited = 0;
  long sleeps = 0;
  long preempted = 0;
  long migrations = 0;
  TThreadUse& operator-=(const TThreadUse& before);
};
std::map<int, TThreadUse> ThreadUse();
// What each thread used between two samples (threads gone by `after` are left out).
std::map<int, TThreadUse> UsedBetween(const std::map<int, TThreadUse>& before, const std::map<int, TThreadUse>& after);
// The cores this process may run on (in order), and pinning the calling
// thread to some of them (threads it starts afterwards inherit that).
std::vector<int> AllowedCores();
void PinThisThread(const std::vector<int>& cores);

// Nanoseconds for one cache line to go from core `here` to core `there` and
// back (the calling thread is left pinned to `here`): what a hand-over
// between threads on those cores costs at least. On a virtual machine it
// changes as the host moves the virtual cores. Bounded to a tenth of a
// second; a busy machine makes it meaningless, never endless.
double CacheLineRoundTripNs(int here, int there);

// The id of the calling thread; names it (as "top" and ThreadUse show it).
int NameThisThread(const char* name);

// The result line of rounds measured in pairs (round i of the figure right
// beside round i of its baseline, so both met the same machine): the
// figure's median, lowest and highest, the baseline's median, and the ratio
// as the median of the rounds' own ratios with their lowest and highest.
void Report(const std::string& name, const TRounds& figure, const TRounds& baseline, const std::string& unit,
            const std::string& goal);
// The result line of rounds beside a fixed figure (a limit, a period): the
// ratio of each round to it.
void Report(const std::string& name, const TRounds& figure, double baseline, const std::string& unit,
            const std::string& goal);
// The result line of a figure without a baseline (what the machine was like).
void Report(const std::string& name, const TRounds& figure, const std::string& unit, const std::string& goal);

}  // namespace brelo::bench
