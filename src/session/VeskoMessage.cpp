#include "session/VeskoMessage.h"

namespace brelo {

TDateTime TVeskoMessage::UnreadableDate() { return EncodeDateTime({80, 1, 1, 0, 0, 0, 0}); }

void TVeskoMessage::CutShortStrings() {
  if (FromID.size() > kFromIDMax) FromID.resize(kFromIDMax);
  if (FromHandle.size() > kFromHandleMax) FromHandle.resize(kFromHandleMax);
  if (Title.size() > kTitleMax) Title.resize(kTitleMax);
}

uint32_t TVeskoMessage::Marks() const {
  return static_cast<uint32_t>(NewMark) | static_cast<uint32_t>(Unread) << 8 | static_cast<uint32_t>(News) << 16 |
         static_cast<uint32_t>(Spare2) << 24;
}

void TVeskoMessage::SetMarks(uint32_t m) {
  NewMark = static_cast<uint8_t>(m);
  Unread = static_cast<uint8_t>(m >> 8);
  News = static_cast<uint8_t>(m >> 16);
  Spare2 = static_cast<uint8_t>(m >> 24);
}

}  // namespace brelo
