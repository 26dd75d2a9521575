// A board's index and text files as found on disk: every record read and
// its text fetched and marked, whatever its pointers say.
#include "FuzzSupport.h"
#include "store/MessageStore.h"

using namespace brelo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The first two bytes say where the index ends and the text begins.
  const size_t cut = size >= 2 ? std::min<size_t>(size - 2, (data[0] << 8 | data[1]) * 4) : 0;
  TMessageStore store;
  store.HostFolder = fuzz::Scratch();
  fuzz::Write(store.IndexFile(7), size >= 2 ? data + 2 : data, cut);
  fuzz::Write(store.TextFile(7), size >= 2 ? data + 2 + cut : data, size >= 2 ? size - 2 - cut : size);
  std::vector<TVeskoMessage> entries;
  const int n = store.ReadIndex(7, 999, entries);
  for (const TVeskoMessage& m : entries) {
    const std::string text = store.ReadText(7, m.TextPos, m.TextLen);
    if (text.size() > static_cast<size_t>(std::max(0, m.TextLen))) __builtin_trap();
    store.SetMarks(7, m.IndexNo, 0);
  }
  store.SetMarks(7, n, 0);
  return 0;
}
