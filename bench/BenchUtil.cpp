#include "BenchUtil.h"

#include <cstdio>

namespace brelo::bench {

void Report(const std::string& name, double figure, double baseline, const std::string& unit,
            const std::string& goal) {
  std::printf("RESULT %s | %.3f %s | baseline %.3f %s | ratio %.3f | goal %s\n", name.c_str(), figure, unit.c_str(),
              baseline, unit.c_str(), baseline != 0 ? figure / baseline : 0.0, goal.c_str());
  std::fflush(stdout);
}

}  // namespace brelo::bench
