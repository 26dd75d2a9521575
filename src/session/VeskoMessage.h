// TVeskoMessage: one captured board message or mail, also the in-memory form
// of a store index record.
#pragma once

#include <cstdint>
#include <string>

#include "common/DateTime.h"

namespace brelo {

struct TVeskoMessage {
  int32_t BoardNo = 0;        // from the "Section" line; 0 for mail
  std::string BoardName;      // at most 60 bytes from the host
  int32_t MesNo = -1;         // -1: the store numbers it
  int32_t IndexNo = 0;        // store only
  int32_t TextPos = 0;        // store only
  int32_t TextLen = 0;        // store only
  std::string FromID;         // short string, at most 8 bytes
  std::string FromHandle;     // short string, at most 14 bytes
  TDateTime Date = 0;
  std::string Title;          // short string, at most 60 bytes
  std::string Text;           // each line followed by CR LF
  uint8_t NewMark = 0;        // store only
  uint8_t Unread = 0;         // store only
  // Store only: in the news list (新着一覧) from its arrival until the user
  // opens it or clears the list; the new mark above is the boards' own,
  // which a pass may clear (the first of the two spare mark bytes).
  uint8_t News = 0;
  uint8_t Spare2 = 0;
  // The body ended with the line (lost, or a log that ran dry), not with the
  // host's end of it: what came may be the beginning of the message only.
  // Kept with the stored copy (in its index record's padding): only such a
  // copy is ever completed by a whole one.
  bool Cut = false;
  // Capture only, never stored:
  // the host's message number as it printed it, when MesNo cannot hold it:
  // such a message is not stored (never under another number);
  std::string NumberBeyondRange;
  // set by the mail handler once the mail is on the disk for good: only
  // then is the host told to delete it.
  bool Kept = false;

  static constexpr size_t kFromIDMax = 8;
  static constexpr size_t kFromHandleMax = 14;
  static constexpr size_t kTitleMax = 60;
  static constexpr size_t kBoardNameMax = 60;

  // The date a capture gives a message whose date it cannot read: 1 January
  // of the year 80 (no host's message is that old).
  static TDateTime UnreadableDate();

  // Cuts the short strings at their byte limits (a double-byte character at
  // the limit may be split, as the records do).
  void CutShortStrings();
  // The four mark bytes as one unit: new, unread, news, spare (low byte first).
  uint32_t Marks() const;
  void SetMarks(uint32_t marks);
};

}  // namespace brelo
