// The command-line program: every windowless mode, on Qt Core and Network
// alone, so that a server runs its rounds without a desktop installed.
// Without a mode it starts the window program, brelo-desktop, with the same
// arguments, where a display answers.
#include <unistd.h>

#include <QCoreApplication>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "app/Display.h"
#include "app/HostCommands.h"
#include "app/HostKeyCommand.h"
#include "app/Pilot.h"
#include "app/ProgramFolder.h"
#include "app/Tools.h"
#include "common/MainThread.h"
#include "common/Programs.h"
#include "common/StringLock.h"

namespace {

int StartWindow(const brelo::TCommandLine& cmd, char** argv) {
  if (const std::string problem = brelo::DisplayProblem(cmd); !problem.empty()) {
    std::fprintf(stderr, "brelo: %s\n", problem.c_str());
    return brelo::kExitNoDisplay;
  }
  const std::string desktop = brelo::FindPrivateProgram("brelo-desktop", brelo::ExecutableFolder());
  if (desktop.empty()) {
    std::fprintf(stderr,
                 "brelo: the window program brelo-desktop is not installed (neither beside brelo nor in %s); the "
                 "command-line modes work without it: brelo --help\n",
                 brelo::InstalledPrivateFolder().c_str());
    return brelo::kExitNoDisplay;
  }
  argv[0] = const_cast<char*>(desktop.c_str());
  ::execv(desktop.c_str(), argv);
  std::fprintf(stderr, "brelo: cannot start %s: %s\n", desktop.c_str(), std::strerror(errno));
  return brelo::kExitNoDisplay;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  brelo::TCommandLine cmd = brelo::ParseCommandLine(args);
  if (int status = 0; brelo::AnswerAtOnce(cmd, status)) return status;
  if (cmd.action == brelo::TCommandLine::kWindow) return StartWindow(cmd, argv);

  // Before anything else runs: the string lock, then the program folder.
  brelo::StringLock();
  const std::string folder = brelo::DetermineProgramFolder(cmd.home, brelo::ExecutableFolder());
  brelo::EnsureHostList(folder);
  QCoreApplication app(argc, argv);
  brelo::InstallMainThreadQueue();
  switch (cmd.action) {
    case brelo::TCommandLine::kPilot: return brelo::RunPilot(cmd, folder);
    case brelo::TCommandLine::kSearch: return brelo::RunSearch(cmd, folder);
    case brelo::TCommandLine::kRecapture: return brelo::RunRecapture(cmd, folder);
    case brelo::TCommandLine::kListHosts: return brelo::RunListHosts(cmd, folder);
    case brelo::TCommandLine::kAddHost: return brelo::RunAddHost(cmd, folder);
    case brelo::TCommandLine::kRemoveHost: return brelo::RunRemoveHost(cmd, folder);
    case brelo::TCommandLine::kTrustHostKey: return brelo::RunTrustHostKey(cmd, folder);
    default: return brelo::RunExport(cmd, folder);
  }
}
