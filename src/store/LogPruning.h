// The session logs of a host folder ("yyyyMMdd.LOG", one a day) are pruned
// at the start of each pass, so that a server's nightly rounds never fill the
// disk: logs older than a number of days go, then the oldest ones while the
// folder's logs together are above a size. Today's log always stays.
#pragma once

#include <string>
#include <vector>

#include "common/DateTime.h"

namespace brelo {

struct TLogKeeping {
  int KeepDays = 90;             // 0: kept whatever their age
  int MaxMegabytes = 512;        // per host folder; 0: no cap
  bool operator==(const TLogKeeping&) const = default;
};

// Removes what the rule says from folder; returns the names removed, oldest
// first. Files that are not session logs are never touched.
std::vector<std::string> PruneSessionLogs(const std::string& folder, const TLogKeeping& keep, const TCivilTime& today);

}  // namespace brelo
