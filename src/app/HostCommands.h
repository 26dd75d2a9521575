// The host list from a shell: --list-hosts, --add-host and --remove-host.
// The list stays the file the window edits (veskohosts.dat, Shift-JIS),
// replaced whole and readable by its owner only.
#pragma once

#include <optional>
#include <string>

namespace brelo {

struct TCommandLine;

// One line per host: index, title, address, folder, separated by tabs, in
// UTF-8 (a tab or line break inside a field becomes a blank).
int RunListHosts(const TCommandLine& cmd, const std::string& programFolder);
// Adds the entry of the command line; the password comes from standard
// input (one line; asked for without echo on a terminal). Prints the new
// entry's index.
int RunAddHost(const TCommandLine& cmd, const std::string& programFolder);
// Removes the entry named by index or title; its folder and data stay.
int RunRemoveHost(const TCommandLine& cmd, const std::string& programFolder);

// Loads the host list for a command: its exit status when it cannot be
// read (said on standard error), and what the load mended, said there too.
int LoadHostListOrSay(class THostTable& hosts, const std::string& programFolder);
// The same, and the index of the host a command names (title or index):
// kExitUnknownHost, said, when the list has no such host.
int LoadHostListAndFindOrSay(class THostTable& hosts, const std::string& programFolder, const std::string& host,
                             int& index);

// One line of standard input without its line end, asked for with `prompt`
// and without echo when standard input is a terminal; nothing at its end.
std::optional<std::string> ReadSecretLine(const std::string& prompt);

}  // namespace brelo
