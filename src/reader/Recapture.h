// Re-capture: a session log (the lines a pass's work thread consumed) run
// through the same dispatch, captures and policy as a live pass, storing
// what it finds as the pass stored it. Articles already stored whole are not
// stored twice; a message cut off by the end of the log keeps the lines the
// log holds, as the live pass kept them.
#pragma once

#include <iosfwd>
#include <optional>
#include <string>

#include "reader/MainModel.h"

namespace brelo {

struct TRecaptureResult {
  int stored = 0;    // messages and mail appended
  int skipped = 0;   // already in the store
  int cut = 0;       // cut off by the end of the log (stored as far as it goes)
  int boards = 0;    // board announcements
};

// The model's selected host receives what the log holds, read as it goes.
// Raises EInOutError for store errors and when the log cannot be read to its
// end (what was read before is stored).
TRecaptureResult Recapture(TMainModel& model, std::istream& log, const std::string& logName);
TRecaptureResult Recapture(TMainModel& model, const std::string& logBytes);
// The log file at logPath; nothing when there is no such file.
std::optional<TRecaptureResult> RecaptureFile(TMainModel& model, const std::string& logPath);

}  // namespace brelo
