// Shared by the benchmarks: a clock, and the one-line report every
// benchmark prints ("RESULT name | figure | baseline | ratio | goal").
#pragma once

#include <chrono>
#include <string>

namespace brelo::bench {

inline double Seconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// A blocking TCP connection to 127.0.0.1:port, for the bare-loop baselines;
// the benchmark stops with a message when it cannot be made.
int ConnectLoopback(int port);

// Prints the result line; ratio = figure / baseline.
void Report(const std::string& name, double figure, double baseline, const std::string& unit,
            const std::string& goal);

}  // namespace brelo::bench
