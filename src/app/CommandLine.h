// The program's command line.
#pragma once

#include <string>
#include <vector>

namespace brelo {

// Exit statuses of the program, the same for every mode.
enum EExit : int {
  kExitOk = 0,
  kExitNoLogin = 1,      // the connection or the login failed
  kExitUsage = 2,        // the command line was refused
  kExitTimeout = 3,      // no logout within the time-out; disconnected
  kExitLineLost = 4,     // the line was lost after the login, before the logout
  kExitWrites = 5,       // logged out, but writes failed, were skipped or interrupted
  kExitStore = 6,        // the host folder cannot be written
  kExitUnknownHost = 7,  // no such host in the host list
  kExitNoDisplay = 8,    // the window was asked for where there is no display
};

struct TCommandLine {
  enum EAction { kWindow, kHelp, kVersion, kPilot, kSearch, kRecapture, kExport } action = kWindow;
  std::string home;       // --home DIR
  std::string host;       // HOST of --pilot, --search, --recapture, --export
  std::string text;       // TEXT of --search, LOGFILE of --recapture
  int timeoutSeconds = 600; // --timeout: a silent host never holds a pilot forever
  int board = -1;         // --board N of --export
  std::string format = "text";  // --format of --export
  bool qtPlatformGiven = false;  // -platform: Qt is told where to draw
  std::string error;      // why the command line was refused
};

// Parses argv (without the program name), UTF-8. Accepts "--opt VALUE" and
// "--opt=VALUE", and "--" before an argument that starts with "-". Qt's own
// options (-platform, -display, -session, ...) are left to Qt.
TCommandLine ParseCommandLine(const std::vector<std::string>& args);
std::string HelpText();

}  // namespace brelo
