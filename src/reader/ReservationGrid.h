// The texts of the reservation box's grid.
#pragma once

#include <array>
#include <string>

#include "store/MessageStore.h"
#include "store/ReservationBox.h"

namespace brelo {

// State, board and title of entry i (Shift-JIS): "書込　"/"保留　";
// "送信中" while a pass sends it, "送信中に中断" when a pass began to send it
// and never learned the result; "編集中" while its editor is open; Format("%.2d %.8s %.20s") of the number,
// the board's name padded to 8 and its title cut to 20 bytes.
std::array<std::string, 3> ReservationRow(const TReservationBox& box, const TMessageStore& store, int i);

}  // namespace brelo
