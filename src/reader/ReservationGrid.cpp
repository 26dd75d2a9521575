#include "reader/ReservationGrid.h"

#include "common/Sjis.h"
#include "common/StringLock.h"

namespace brelo {

std::array<std::string, 3> ReservationRow(const TReservationBox& box, const TMessageStore& store, int i) {
  const TWriteReservation& r = box.ReservationTable[static_cast<size_t>(i)];
  std::string state = r.Status == 0 ? Sjis("書込　") : Sjis("保留　");
  if (!box.SendingName.empty() && r.FileName == box.SendingName) state = Sjis("送信中");
  else if (TReservationBox::Interrupted(r)) state = Sjis("送信中に中断");
  if (box.EditorSlots[static_cast<size_t>(i)] != nullptr) state = Sjis("編集中");
  std::string name, title;
  if (TMessageStore::ValidBoard(r.BoardNo)) {
    name = store.BoardTable[static_cast<size_t>(r.BoardNo)].Name;
    title = store.BoardTable[static_cast<size_t>(r.BoardNo)].Title;
  }
  name.resize(std::max<size_t>(name.size(), 8), ' ');
  return {state, SafeFormat("%.2d %.8s %.20s", r.BoardNo, name, title), r.Title};
}

}  // namespace brelo
