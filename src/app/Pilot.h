// The pilot mode: one unattended pass for a host of the host list, without a
// window, for cron and scripts.
#pragma once

#include <string>

namespace brelo {

struct TCommandLine;

// Runs the pass and returns the exit status: 0 after the host's logout;
// 2 for an unknown host; 3 after the time-out; 1 when the connection or the
// login failed or the line was lost before the logout. Needs a
// QCoreApplication.
int RunPilot(const TCommandLine& cmd, const std::string& programFolder);

// The index of HOST in the host list: a title, or a list index; -1 if none.
int FindHost(const class THostTable& hosts, const std::string& hostArg);

}  // namespace brelo
