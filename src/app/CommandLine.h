// The program's command line.
#pragma once

#include <string>
#include <vector>

#include "reader/Patrol.h"

namespace brelo {

struct TCommandLine {
  enum EAction {
    kWindow, kHelp, kVersion, kPilot, kSearch, kRecapture, kExport, kListHosts, kAddHost, kRemoveHost, kTrustHostKey
  } action = kWindow;
  std::string home;       // --home DIR
  std::string host;       // HOST of --pilot ("all", or a list "0,2,名前"), --search, --recapture, --export,
                          // --remove-host, --trust-host-key; TITLE of --add-host
  std::string text;       // TEXT of --search, LOGFILE of --recapture
  int timeoutSeconds = 600; // --timeout, per host: a silent host never holds a pilot forever
  int lockWaitSeconds = 15;  // --lock-wait: how long a host folder in use is waited for
  bool quiet = false;        // --quiet: only the summaries and the failures
  int jobs = 1;              // --jobs: passes of a round at once, one per host folder
  // The entry of --add-host (UTF-8 as typed; "" when not given).
  std::string address, userId, handle, kind, hostFolder, encoding, line;
  bool terminalOnly = false;  // --terminal-only
  std::string sshKey;         // --ssh-key FILE of --add-host
  bool yes = false;           // --yes: --trust-host-key records without asking
  int board = -1;         // --board N of --export
  std::string format = "text";  // --format of --export
  bool qtPlatformGiven = false;  // -platform: Qt is told where to draw
  std::string qtPlatform;        // its value
  std::string qtDisplay;         // -display: the X display Qt is to use
  std::string error;      // why the command line was refused
};

// Parses argv (without the program name), UTF-8. Accepts "--opt VALUE" and
// "--opt=VALUE", and "--" before an argument that starts with "-". Qt's own
// options (-platform, -display, -session, ...) are left to Qt.
TCommandLine ParseCommandLine(const std::vector<std::string>& args);
std::string HelpText();

// What both programs answer before anything else: a refused command line,
// --help and --version. True when the program is done, with its exit status.
bool AnswerAtOnce(const TCommandLine& cmd, int& status);

}  // namespace brelo
