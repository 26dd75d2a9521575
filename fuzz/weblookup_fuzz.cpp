// The web page of an address look-up, and the telnet address it yields.
#include <atomic>

#include "FuzzSupport.h"

using namespace brelo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TSessionSettings settings;
  settings.Address = "http://www.example.jp/bbs/index.html";
  std::atomic<int> mode{sm_login};
  std::atomic<int> channel{-1};
  fuzz::TNoEvents events;
  TNoLine line(true);
  line.Page = {true, std::string(reinterpret_cast<const char*>(data), size), ""};
  fuzz::TFuzzSource src(nullptr, 0);
  TDialogue d(src, src, events, line, settings, mode, channel, [] { return TPendingWrite(); });
  d.RunConnection();
  return 0;
}
