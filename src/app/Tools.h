// The windowless modes besides the pilot: search, re-capture, export.
#pragma once

#include <string>

namespace brelo {

struct TCommandLine;

// Each returns the exit status: 0 done, 2 unknown host, 1 an error.
int RunSearch(const TCommandLine& cmd, const std::string& programFolder);
int RunRecapture(const TCommandLine& cmd, const std::string& programFolder);
int RunExport(const TCommandLine& cmd, const std::string& programFolder);

}  // namespace brelo
