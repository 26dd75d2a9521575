// Re-capture: a session log (the lines a pass's work thread consumed) run
// through the same dispatch and captures as a live pass, storing what it
// finds as the pass would have. Messages already stored (same board, number
// and date; for mail the same date, sender and title) are not stored twice,
// and a message cut off by the end of the log is not stored at all (a later
// pass would otherwise never replace its half text).
#pragma once

#include <string>

#include "ui/MainModel.h"

namespace brelo {

struct TRecaptureResult {
  int stored = 0;    // messages and mail appended
  int skipped = 0;   // already in the store
  int cut = 0;       // cut off by the end of the log
  int boards = 0;    // board announcements
};

// The model's selected host receives what the log holds. Raises EInOutError
// for store errors.
TRecaptureResult Recapture(TMainModel& model, const std::string& logBytes);

}  // namespace brelo
