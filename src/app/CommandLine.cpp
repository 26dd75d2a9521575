#include "app/CommandLine.h"

#include <cstdlib>

namespace brelo {
namespace {
bool ParseInt(const std::string& s, int& out) {
  if (s.empty()) return false;
  char* end = nullptr;
  long v = std::strtol(s.c_str(), &end, 10);
  if (*end != '\0' || v < 0 || v > 1000000) return false;
  out = static_cast<int>(v);
  return true;
}
}  // namespace

TCommandLine ParseCommandLine(const std::vector<std::string>& args) {
  TCommandLine c;
  auto need = [&](size_t& i, const std::string& opt, std::string& out) {
    if (i + 1 >= args.size()) {
      c.error = opt + " needs a value";
      return false;
    }
    out = args[++i];
    return true;
  };
  for (size_t i = 0; i < args.size() && c.error.empty(); ++i) {
    const std::string& a = args[i];
    std::string v;
    if (a == "--help" || a == "-h") {
      c.action = TCommandLine::kHelp;
    } else if (a == "--version") {
      c.action = TCommandLine::kVersion;
    } else if (a == "--home") {
      need(i, a, c.home);
    } else if (a == "--pilot") {
      if (need(i, a, c.host)) c.action = TCommandLine::kPilot;
    } else if (a == "--timeout") {
      if (need(i, a, v) && (!ParseInt(v, c.timeoutSeconds) || c.timeoutSeconds == 0)) {
        c.error = "--timeout needs a number of seconds above 0";
      }
    } else if (a == "--search") {
      if (need(i, a, c.host) && need(i, a, c.text)) c.action = TCommandLine::kSearch;
    } else if (a == "--recapture") {
      if (need(i, a, c.host) && need(i, a, c.text)) c.action = TCommandLine::kRecapture;
    } else if (a == "--export") {
      if (need(i, a, c.host)) c.action = TCommandLine::kExport;
    } else if (a == "--board") {
      if (need(i, a, v) && (!ParseInt(v, c.board) || c.board > 99)) c.error = "--board needs a number 0-99";
    } else if (a == "--format") {
      if (need(i, a, c.format) && c.format != "text" && c.format != "mbox") {
        c.error = "--format is text or mbox";
      }
    } else if (a == "-platform" || a == "-style" || a == "-geometry" || a == "-qwindowgeometry") {
      ++i;  // Qt's own option and its value
    } else if (!a.empty() && a[0] == '-') {
      c.error = "unknown option " + a;
    } else {
      c.error = "unexpected argument " + a;
    }
  }
  return c;
}

std::string HelpText() {
  return "Usage: brelo [--home DIR]\n"
         "       brelo --pilot HOST [--home DIR] [--timeout SECONDS]\n"
         "       brelo --search HOST TEXT [--home DIR]\n"
         "       brelo --recapture HOST LOGFILE [--home DIR]\n"
         "       brelo --export HOST [--board N] [--format text|mbox] [--home DIR]\n"
         "       brelo --help | --version\n"
         "\n"
         "Brelo calls Japanese bulletin-board hosts of the Vesko and KTBBS families,\n"
         "fetches unread messages and mail, carries out the posts and mail queued\n"
         "offline, and logs out; offline it lets you read, answer and draft.\n"
         "\n"
         "Without options the main window opens.\n"
         "\n"
         "  --home DIR        use DIR as the program folder (settings, host list and\n"
         "                    every host's data). Default: $BRELO_HOME, else the\n"
         "                    program's own folder when writable, else\n"
         "                    ~/.local/share/brelo.\n"
         "  --pilot HOST      run one unattended pass for HOST (a title or the list\n"
         "                    index of the host list) without a window, with the\n"
         "                    default options: reserved writes, unread fetch, logout\n"
         "                    skipping the goodbye. Status lines go to standard\n"
         "                    output, then a summary of what was stored and written.\n"
         "                    Exit status: 0 logged out, every due reservation sent\n"
         "                    or refused by the host; 1 the connection or the login\n"
         "                    failed; 2 unknown host; 3 time-out; 4 the line was\n"
         "                    lost before the logout (what arrived is stored);\n"
         "                    5 logged out, but writes failed, were skipped or were\n"
         "                    interrupted; 6 the host folder cannot be written (the\n"
         "                    pass does not start, or stops at the first failure).\n"
         "  --timeout SECONDS give up a pilot pass after SECONDS (default 600): it\n"
         "                    disconnects first, and what was stored stays.\n"
         "  --search HOST TEXT  list the stored articles of HOST whose title, sender\n"
         "                    ID, handle or text contains TEXT, one line each.\n"
         "  --recapture HOST LOGFILE  read a session log and store what it holds, as\n"
         "                    a live pass would; articles already stored are skipped.\n"
         "  --export HOST     write the stored articles of HOST in UTF-8 to standard\n"
         "                    output; --board N for one board, --format mbox for\n"
         "                    mail tools (default: text).\n"
         "  --version         print the version.\n";
}

}  // namespace brelo
