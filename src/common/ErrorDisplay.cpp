#include "common/ErrorDisplay.h"

#include <cstdio>
#include <mutex>

#include "common/Sjis.h"

namespace brelo {
namespace {
std::mutex g_mutex;
std::function<void(const std::string&)>& Handler() {
  static std::function<void(const std::string&)> h;
  return h;
}
}  // namespace

void SetErrorDisplay(std::function<void(const std::string&)> handler) {
  std::lock_guard<std::mutex> lk(g_mutex);
  Handler() = std::move(handler);
}

void ShowApplicationError(const std::string& sjisMessage) {
  std::function<void(const std::string&)> h;
  {
    std::lock_guard<std::mutex> lk(g_mutex);
    h = Handler();
  }
  if (h) h(sjisMessage);
  else std::fprintf(stderr, "brelo: %s\n", SjisToUtf8(sjisMessage).c_str());
}

}  // namespace brelo
