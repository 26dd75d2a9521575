// Write.Dat as found on disk.
#include "FuzzSupport.h"
#include "store/ReservationBox.h"

using namespace brelo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TReservationBox box;
  box.HostFolder = fuzz::Scratch();
  fuzz::Write(box.WriteFile(), data, size);
  box.LoadReservations();
  if (box.ReservationCount > 199) __builtin_trap();
  for (int i = 0; i < box.ReservationCount; ++i) {
    const TWriteReservation& r = box.ReservationTable[static_cast<size_t>(i)];
    if (r.Title.size() > 60 || r.ToIDs.size() > 255 || r.FileName.size() > 12) __builtin_trap();
    try {
      box.ReadBody(i);
    } catch (const EInOutError&) {
    }
  }
  return 0;
}
