#include "app/CommandLine.h"

#include <cstdio>

#include <QCommandLineParser>
#include <QStringList>

namespace brelo {
namespace {

bool ParseInt(const QString& s, int& out, int max) {
  bool ok = false;
  const long v = s.toLong(&ok);
  if (!ok || v < 0 || v > max) return false;
  out = static_cast<int>(v);
  return true;
}

QCommandLineOption Hidden(const QString& name, bool takesValue) {
  QCommandLineOption o(name);
  if (takesValue) o.setValueName(QStringLiteral("value"));
  o.setFlags(QCommandLineOption::HiddenFromHelp);
  return o;
}

}  // namespace

TCommandLine ParseCommandLine(const std::vector<std::string>& args) {
  TCommandLine c;
  QCommandLineParser p;
  // "-platform offscreen" is Qt's; "--home" and "-h" are ours.
  p.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
  const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
  const QCommandLineOption version(QStringLiteral("version"));
  const QCommandLineOption home(QStringLiteral("home"), QString(), QStringLiteral("DIR"));
  const QCommandLineOption pilot(QStringLiteral("pilot"), QString(), QStringLiteral("HOST"));
  const QCommandLineOption timeout(QStringLiteral("timeout"), QString(), QStringLiteral("SECONDS"));
  const QCommandLineOption lockWait(QStringLiteral("lock-wait"), QString(), QStringLiteral("SECONDS"));
  const QCommandLineOption quiet(QStringList{QStringLiteral("q"), QStringLiteral("quiet")});
  const QCommandLineOption search(QStringLiteral("search"), QString(), QStringLiteral("HOST"));
  const QCommandLineOption recapture(QStringLiteral("recapture"), QString(), QStringLiteral("HOST"));
  const QCommandLineOption exportOption(QStringLiteral("export"), QString(), QStringLiteral("HOST"));
  const QCommandLineOption board(QStringLiteral("board"), QString(), QStringLiteral("N"));
  const QCommandLineOption format(QStringLiteral("format"), QString(), QStringLiteral("FORMAT"));
  const QCommandLineOption jobs(QStringLiteral("jobs"), QString(), QStringLiteral("N"));
  const QCommandLineOption listHosts(QStringLiteral("list-hosts"));
  const QCommandLineOption addHost(QStringLiteral("add-host"), QString(), QStringLiteral("TITLE"));
  const QCommandLineOption removeHost(QStringLiteral("remove-host"), QString(), QStringLiteral("HOST"));
  const QCommandLineOption address(QStringLiteral("address"), QString(), QStringLiteral("ADDRESS"));
  const QCommandLineOption userId(QStringLiteral("user-id"), QString(), QStringLiteral("ID"));
  const QCommandLineOption handle(QStringLiteral("handle"), QString(), QStringLiteral("NAME"));
  const QCommandLineOption kind(QStringLiteral("kind"), QString(), QStringLiteral("KIND"));
  const QCommandLineOption folder(QStringLiteral("folder"), QString(), QStringLiteral("NAME"));
  const QCommandLineOption encoding(QStringLiteral("encoding"), QString(), QStringLiteral("ENCODING"));
  const QCommandLineOption line(QStringLiteral("line"), QString(), QStringLiteral("LINE"));
  const QCommandLineOption terminalOnly(QStringLiteral("terminal-only"));
  const QCommandLineOption sshKey(QStringLiteral("ssh-key"), QString(), QStringLiteral("FILE"));
  const QCommandLineOption trustHostKey(QStringLiteral("trust-host-key"), QString(), QStringLiteral("HOST"));
  const QCommandLineOption yes(QStringLiteral("yes"));
  p.addOptions({help, version, home, pilot, timeout, lockWait, quiet, search, recapture, exportOption, board, format,
                jobs, listHosts, addHost, removeHost, address, userId, handle, kind, folder, encoding, line,
                terminalOnly, sshKey, trustHostKey, yes});
  // Qt's own options, for QApplication to take.
  const QStringList qtWithValue = {"platform", "display", "session", "style", "stylesheet", "geometry",
                                   "qwindowgeometry", "qwindowtitle", "qwindowicon", "platformpluginpath",
                                   "platformtheme", "plugin", "name", "title"};
  const QStringList qtFlags = {"reverse", "widgetcount", "nograb", "dograb", "sync"};
  for (const QString& o : qtWithValue) p.addOption(Hidden(o, true));
  for (const QString& o : qtFlags) p.addOption(Hidden(o, false));

  QStringList list{QStringLiteral("brelo")};
  for (const std::string& a : args) list << QString::fromStdString(a);
  if (!p.parse(list)) {
    c.error = p.errorText().toStdString();
    return c;
  }
  c.qtPlatformGiven = p.isSet(QStringLiteral("platform"));
  c.qtPlatform = p.value(QStringLiteral("platform")).toStdString();
  c.qtDisplay = p.value(QStringLiteral("display")).toStdString();
  c.quiet = p.isSet(quiet);
  if (p.isSet(home)) c.home = p.value(home).toStdString();
  const QStringList positional = p.positionalArguments();
  int actions = 0;
  size_t wantPositional = 0;
  if (p.isSet(pilot)) {
    c.action = TCommandLine::kPilot;
    c.host = p.value(pilot).toStdString();
    ++actions;
  }
  if (p.isSet(search)) {
    c.action = TCommandLine::kSearch;
    c.host = p.value(search).toStdString();
    wantPositional = 1;
    ++actions;
  }
  if (p.isSet(recapture)) {
    c.action = TCommandLine::kRecapture;
    c.host = p.value(recapture).toStdString();
    wantPositional = 1;
    ++actions;
  }
  if (p.isSet(exportOption)) {
    c.action = TCommandLine::kExport;
    c.host = p.value(exportOption).toStdString();
    ++actions;
  }
  if (p.isSet(listHosts)) {
    c.action = TCommandLine::kListHosts;
    ++actions;
  }
  if (p.isSet(addHost)) {
    c.action = TCommandLine::kAddHost;
    c.host = p.value(addHost).toStdString();
    ++actions;
  }
  if (p.isSet(removeHost)) {
    c.action = TCommandLine::kRemoveHost;
    c.host = p.value(removeHost).toStdString();
    ++actions;
  }
  if (p.isSet(trustHostKey)) {
    c.action = TCommandLine::kTrustHostKey;
    c.host = p.value(trustHostKey).toStdString();
    ++actions;
  }
  c.yes = p.isSet(yes);
  c.sshKey = p.value(sshKey).toStdString();
  c.address = p.value(address).toStdString();
  c.userId = p.value(userId).toStdString();
  c.handle = p.value(handle).toStdString();
  c.kind = p.value(kind).toStdString();
  c.hostFolder = p.value(folder).toStdString();
  c.encoding = p.value(encoding).toStdString();
  c.line = p.value(line).toStdString();
  c.terminalOnly = p.isSet(terminalOnly);
  const bool entryGiven = p.isSet(address) || p.isSet(userId) || p.isSet(handle) || p.isSet(kind) ||
                          p.isSet(folder) || p.isSet(encoding) || p.isSet(line) || c.terminalOnly || p.isSet(sshKey);
  if (p.isSet(timeout) && (!ParseInt(p.value(timeout), c.timeoutSeconds, 1000000) || c.timeoutSeconds == 0)) {
    c.error = "--timeout needs a number of seconds from 1 to 1000000";
  } else if (p.isSet(lockWait) && !ParseInt(p.value(lockWait), c.lockWaitSeconds, 86400)) {
    c.error = "--lock-wait needs a number of seconds from 0 to 86400";
  } else if (p.isSet(board) && !ParseInt(p.value(board), c.board, 99)) {
    c.error = "--board needs a number from 0 to 99";
  } else if (p.isSet(format) && (c.format = p.value(format).toStdString()) != "text" && c.format != "mbox") {
    c.error = "--format is text or mbox";
  } else if (p.isSet(jobs) && (!ParseInt(p.value(jobs), c.jobs, 100) || c.jobs == 0)) {
    c.error = "--jobs needs a number from 1 to 100";
  } else if (actions > 1) {
    c.error = "--pilot, --search, --recapture, --export and the host commands go one at a time";
  } else if (c.yes && c.action != TCommandLine::kTrustHostKey) {
    c.error = "--yes goes with --trust-host-key";
  } else if (c.action == TCommandLine::kAddHost && (!p.isSet(address) || !p.isSet(userId))) {
    c.error = "--add-host needs --address ADDRESS and --user-id ID";
  } else if (c.action != TCommandLine::kAddHost && entryGiven) {
    c.error = "--address, --user-id, --handle, --kind, --folder, --encoding, --line, --terminal-only and --ssh-key "
              "go with --add-host";
  } else if (p.isSet(kind) && c.kind != "vesko" && c.kind != "ktbbs") {
    c.error = "--kind is vesko or ktbbs";
  } else if (p.isSet(encoding) && c.encoding != "shift_jis" && c.encoding != "euc-jp" && c.encoding != "utf-8") {
    c.error = "--encoding is shift_jis, euc-jp or utf-8";
  } else if (p.isSet(line) && c.line != "auto" && c.line != "telnet" && c.line != "raw") {
    c.error = "--line is auto, telnet or raw";
  } else if (static_cast<size_t>(positional.size()) != wantPositional) {
    if (positional.size() > static_cast<qsizetype>(wantPositional)) {
      c.error = "unexpected argument " + positional.at(static_cast<qsizetype>(wantPositional)).toStdString();
    } else {
      c.error = c.action == TCommandLine::kSearch ? "--search needs HOST and TEXT" : "--recapture needs HOST and LOGFILE";
    }
  } else if (wantPositional == 1) {
    c.text = positional.front().toStdString();
  }
  if (!c.error.empty()) return c;
  if (p.isSet(help)) c.action = TCommandLine::kHelp;
  else if (p.isSet(version)) c.action = TCommandLine::kVersion;
  return c;
}

std::string HelpText() {
  return "Usage: brelo [--home DIR]\n"
         "       brelo --pilot HOSTS [--home DIR] [--timeout SECONDS] [--lock-wait SECONDS]\n"
         "                   [--jobs N] [--quiet]\n"
         "       brelo --list-hosts [--home DIR]\n"
         "       brelo --add-host TITLE --address ADDRESS --user-id ID [--handle NAME]\n"
         "                   [--kind vesko|ktbbs] [--folder NAME]\n"
         "                   [--encoding shift_jis|euc-jp|utf-8] [--line auto|telnet|raw]\n"
         "                   [--ssh-key FILE] [--home DIR]\n"
         "       brelo --remove-host HOST [--home DIR]\n"
         "       brelo --trust-host-key HOST [--yes] [--home DIR]\n"
         "       brelo --search HOST TEXT [--home DIR]\n"
         "       brelo --recapture HOST LOGFILE [--home DIR]\n"
         "       brelo --export HOST [--board N] [--format text|mbox] [--home DIR]\n"
         "       brelo --help | --version\n"
         "\n"
         "Brelo calls Japanese bulletin-board hosts of the Vesko and KTBBS families\n"
         "(by telnet, SSH or modem), fetches unread messages and mail, carries out the\n"
         "posts and mail queued offline, and logs out; offline it lets you read, answer\n"
         "and draft.\n"
         "\n"
         "Without options the main window opens (the program brelo-desktop, where a\n"
         "display answers). An option's value may follow it\n"
         "(--home DIR) or an equals sign (--home=DIR); \"--\" ends the options.\n"
         "\n"
         "  --home DIR        use DIR as the program folder.\n"
         "  --pilot HOSTS     run one unattended pass for each of HOSTS, in turn,\n"
         "                    without a window: \"all\" for every host of the host\n"
         "                    list, or a host's title or list index, or several of\n"
         "                    them separated by commas (0,2,name). Each pass uses the\n"
         "                    default options: reserved writes, unread fetch, logout\n"
         "                    skipping the goodbye. Status lines go to standard\n"
         "                    output, then what was stored and written, and one\n"
         "                    summary line per host (and a total for several); why a\n"
         "                    pass failed goes to standard error. SIGTERM or SIGINT\n"
         "                    ends the pass in progress as a disconnect does (what\n"
         "                    arrived is stored) and calls no further host.\n"
         "  --timeout SECONDS give up a pass after SECONDS (default 600, per host): it\n"
         "                    disconnects first, and what was stored stays.\n"
         "  --lock-wait SECONDS  wait up to SECONDS (default 15) for a host that\n"
         "                    another Brelo (a window, another pilot) is using; then\n"
         "                    the host is skipped as busy.\n"
         "  --jobs N          run up to N passes of the round at once (default 1), one\n"
         "                    per host folder; each host's lines are printed together\n"
         "                    when its pass is over, in the order of HOSTS.\n"
         "  -q, --quiet       print only the summary lines and the failures, and\n"
         "                    nothing for a round that brought nothing new and had\n"
         "                    no failure.\n"
         "  --list-hosts      print the host list, one host a line: index, title,\n"
         "                    address, folder and \"auto\" or \"terminal-only\",\n"
         "                    separated by tabs.\n"
         "  --add-host TITLE  add a host to the host list and print its index. The\n"
         "                    password is read from standard input (one line), or\n"
         "                    asked for without echo on a terminal; never give it on\n"
         "                    the command line. --handle (default Pallo), --kind\n"
         "                    (default vesko), --folder (default HOSTxxxx, a new\n"
         "                    folder), --encoding (default shift_jis) and --line are\n"
         "                    optional. --line says whether the host's TCP line\n"
         "                    speaks telnet: auto (the default) takes it for telnet\n"
         "                    once the host sends a telnet command, and until then\n"
         "                    sends none and passes a transfer's bytes as they are;\n"
         "                    telnet and raw decide it for good. --terminal-only\n"
         "                    marks a host that Brelo only connects you to: nothing\n"
         "                    is answered for you there and rounds skip it.\n"
         "                    An SSH host's address is ssh://[USER@]HOST[:PORT]/ (port\n"
         "                    22, USER the host's user ID when not given); --ssh-key\n"
         "                    names the key file tried first when logging in to it.\n"
         "  --remove-host HOST  remove a host (title or index) from the host list;\n"
         "                    its folder and the data in it stay.\n"
         "  --trust-host-key HOST  show the key of the SSH host HOST (title or index)\n"
         "                    with its SHA-256 fingerprint and, once you confirm it at\n"
         "                    the terminal (or with --yes), record it in known_hosts\n"
         "                    in the program folder. A key that differs from the one\n"
         "                    recorded is never recorded: remove the old line first.\n"
         "  --search HOST TEXT  list the stored articles of HOST whose title, sender\n"
         "                    ID, handle or text contains TEXT, one line each.\n"
         "  --recapture HOST LOGFILE  read a session log and store what it holds, as\n"
         "                    the pass stored it; articles already stored are skipped.\n"
         "  --export HOST     write the stored articles of HOST in UTF-8 to standard\n"
         "                    output; --board N for one board, --format mbox for\n"
         "                    mail tools (default: text).\n"
         "  --version         print the version.\n"
         "\n"
         "SSH hosts: Brelo logs in with the host's key (--ssh-key), the agent\n"
         "($SSH_AUTH_SOCK), your default keys (~/.ssh/id_ed25519, id_ecdsa, id_rsa),\n"
         "then password and keyboard-interactive with the host's password, which\n"
         "never goes to a server whose key was not verified. Host keys are checked as\n"
         "OpenSSH checks them, against known_hosts in the program folder (where keys\n"
         "you accept are recorded) and ~/.ssh/known_hosts (read, never written). A\n"
         "pilot pass never accepts an unknown key: --trust-host-key records it.\n"
         "\n"
         "The program folder holds the settings, the host list (with passwords) and\n"
         "every host's messages, mail, reservations and session logs. It is, in this\n"
         "order: --home DIR; $BRELO_HOME; the program's own folder when a file\n"
         "\"brelo.portable\" stands beside it; else $XDG_DATA_HOME/brelo, by default\n"
         "~/.local/share/brelo (created readable by you only).\n"
         "\n"
         "Exit status:\n"
         "  0  done; every pilot pass logged out and every due reservation was sent or\n"
         "     refused by the host\n"
         "  1  the connection or the login did not succeed (also: no login prompt\n"
         "     Brelo knows came for LoginWatchSeconds, 60 by default)\n"
         "  2  the command line was refused\n"
         "  3  no logout within the time-out; disconnected\n"
         "  4  the line was lost after the login, before the logout (what arrived\n"
         "     is stored)\n"
         "  5  logged out, but writes failed, were skipped or were interrupted, or the box\n"
         "     needs you: it could not be read, or holds entries held as interrupted or\n"
         "     due entries beyond the 199 it loads\n"
         "  6  the host folder cannot be written: the pass did not start, or stopped\n"
         "     at the first failed write; or the host list cannot be written\n"
         "  7  there is no such host in the host list\n"
         "  8  the window was asked for, but no display answers (or the window\n"
         "     program is not installed)\n"
         "  9  stopped by SIGTERM or SIGINT; the pass in progress was disconnected\n"
         "  10 a host was skipped: another Brelo was using its folder\n"
         "  11 the host list cannot be read\n"
         "  12 the host refused the user ID or the password (it was not sent again)\n"
         "  13 a host marked terminal only was named: it is not called (\"all\"\n"
         "     leaves such hosts out)\n"
         "  14 the SSH server refused every way of logging in Brelo has (the methods\n"
         "     it offers are named)\n"
         "  15 the SSH host's key is not known: nothing was sent to it (its\n"
         "     fingerprint is printed; --trust-host-key records it)\n"
         "  16 the SSH host's key differs from the one recorded, or was revoked:\n"
         "     nothing was sent to it (both fingerprints are printed)\n"
         "A pilot of several hosts exits with the most serious status of its passes,\n"
         "in this order: 9, 16, 6, 12, 14, 15, 5, 4, 3, 1, 10, 13.\n";
}

bool AnswerAtOnce(const TCommandLine& cmd, int& status) {
  if (!cmd.error.empty()) {
    std::fprintf(stderr, "brelo: %s (brelo --help lists the options)\n", cmd.error.c_str());
    status = kExitUsage;
    return true;
  }
  if (cmd.action == TCommandLine::kHelp) {
    std::fputs(HelpText().c_str(), stdout);
    status = kExitOk;
    return true;
  }
  if (cmd.action == TCommandLine::kVersion) {
    std::printf("brelo %s\n", BRELO_VERSION);
    status = kExitOk;
    return true;
  }
  return false;
}

}  // namespace brelo
