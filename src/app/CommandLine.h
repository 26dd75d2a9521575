// The program's command line.
#pragma once

#include <string>
#include <vector>

namespace brelo {

struct TCommandLine {
  enum EAction { kWindow, kHelp, kVersion, kPilot, kSearch, kRecapture, kExport } action = kWindow;
  std::string home;       // --home DIR
  std::string host;       // HOST of --pilot, --search, --recapture, --export
  std::string text;       // TEXT of --search, LOGFILE of --recapture
  int timeoutSeconds = 600; // --timeout: a silent host never holds a pilot forever
  int board = -1;         // --board N of --export
  std::string format = "text";  // --format of --export
  std::string error;      // why the command line was refused
};

// Parses argv (without the program name). Qt's own options (-platform ...)
// are left to Qt and not reported as errors.
TCommandLine ParseCommandLine(const std::vector<std::string>& args);
std::string HelpText();

}  // namespace brelo
