// Boards.Dat as found on disk.
#include "FuzzSupport.h"
#include "store/MessageStore.h"

using namespace brelo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TMessageStore store;
  store.HostFolder = fuzz::Scratch();
  fuzz::Write(store.BoardsFile(), data, size);
  try {
    store.LoadBoards();
  } catch (const EInOutError&) {
  }
  for (const TBoardEntry& e : store.BoardTable) {
    if (e.Name.size() > 8 || e.Title.size() > 32) __builtin_trap();
  }
  if (store.BoardTable[0].Name != "@MAIL") __builtin_trap();
  return 0;
}
