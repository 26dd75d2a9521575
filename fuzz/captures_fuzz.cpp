// Scripted host lines through the dispatcher and every capture, in both
// families, and through the login and the write sequences.
#include <atomic>

#include "FuzzSupport.h"

using namespace brelo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  for (THostKind kind : {HK_vesko, HK_ktbbs}) {
    TSessionSettings settings;
    settings.HostKind = kind;
    settings.AutoReceiveMail = true;
    settings.StealthLogin = true;
    std::atomic<int> mode{sm_online};
    std::atomic<int> channel{-1};
    fuzz::TNoEvents events;
    TNoLine line(true);
    TPendingWrite w{"5;7", "Re:12)x", "body", 0};
    {
      fuzz::TFuzzSource src(data, size);
      TDialogue d(src, src, events, line, settings, mode, channel, [&] { return w; });
      while (!src.Terminated()) d.WatcherTurn();
    }
    {
      fuzz::TFuzzSource src(data, size);
      TDialogue d(src, src, events, line, settings, mode, channel, [&] { return w; });
      d.RunLogin();
      d.PostMessageSequence();
      d.MailSequence();
      d.TelegramSequence();
    }
  }
  return 0;
}
