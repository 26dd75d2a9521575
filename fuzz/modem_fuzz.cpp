// The modem's answers while dialling: OK, BUSY, CONNECT and anything else.
#include <atomic>

#include "FuzzSupport.h"

using namespace brelo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  for (const char* init : {"", "ATZ"}) {
    TSessionSettings settings;
    settings.Address = "tel://0312345678/";
    settings.ModemInitCommand = init;
    std::atomic<int> mode{sm_login};
    std::atomic<int> channel{-1};
    fuzz::TNoEvents events;
    TNoLine line(true);
    fuzz::TFuzzSource src(data, size);
    TDialogue d(src, src, events, line, settings, mode, channel, [] { return TPendingWrite(); });
    d.RunConnection();
    d.RunLogin();
  }
  return 0;
}
