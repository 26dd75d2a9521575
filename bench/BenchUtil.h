// Shared by the benchmarks: a clock, and the one-line report every
// benchmark prints ("RESULT name | figure | baseline | ratio | goal").
#pragma once

#include <chrono>
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

// Runs a program (args[0], a path) with its output thrown away and waits
// for it; true when it exited with status 0. `use` gets what it used.
bool RunQuietly(const std::vector<std::string>& args, ::rusage* use = nullptr);

// Prints the result line; ratio = figure / baseline.
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

// The result line of rounds measured in pairs (round i of the figure beside
// round i of its baseline, under the same load): the medians with [min..max],
// and the ratio as the median of the rounds' own ratios.
void Report(const std::string& name, const TRounds& figure, const TRounds& baseline, const std::string& unit,
            const std::string& goal);

}  // namespace brelo::bench
