// brelo --trust-host-key: an SSH host's key shown and, once confirmed,
// recorded in the program folder's known_hosts, as the window records a key
// the user accepts.
#pragma once

#include <string>

namespace brelo {

struct TCommandLine;

// Calls the host named by cmd.host far enough to see its key (nothing of
// ours goes to it), prints the key's type and SHA-256 fingerprint, and
// records it when it is unknown and the user confirms it at the terminal
// (or cmd.yes). A key that differs from a recorded one is never recorded.
int RunTrustHostKey(const TCommandLine& cmd, const std::string& programFolder);

}  // namespace brelo
