// The command-line program run as the user runs it, for tests of its modes:
// its exit status and what it printed.
#pragma once

#include <QStringList>
#include <functional>
#include <string>

namespace brelo::test {

struct TRun {
  int exit = -1;  // -1: it did not end by itself
  std::string out, err;
};

// brelo --home HOME ARGS, with `input` on its standard input; waits up to
// limitMs for it to end. `before` runs in the child before the program
// (a limit set for it alone).
TRun Brelo(const std::string& home, const QStringList& args, const std::string& input = "", int limitMs = 120000,
           const std::function<void()>& before = {});

}  // namespace brelo::test
