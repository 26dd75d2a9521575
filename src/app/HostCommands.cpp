#include "app/HostCommands.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "app/CommandLine.h"
#include "app/Pilot.h"
#include "common/FileUtil.h"
#include "common/Sjis.h"
#include "hosts/HostTable.h"
#include "session/Address.h"
#include "reader/Patrol.h"

// Last: its macros (ECHO, ...) would clash with the telnet option names above.
#include <termios.h>

namespace brelo {
namespace {

// The terminal as it was before the echo went off, for a signal to restore.
termios g_terminal{};

void RestoreTerminalAndDie(int sig) {
  ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &g_terminal);
  ::signal(sig, SIG_DFL);
  ::raise(sig);
}

int Refuse(const std::string& why) {
  std::fprintf(stderr, "brelo: %s\n", why.c_str());
  return kExitUsage;
}

int Save(THostTable& hosts, const std::string& programFolder) {
  try {
    hosts.SaveHostList(programFolder);
  } catch (const EInOutError& e) {
    std::fprintf(stderr, "brelo: %s\n", SjisToUtf8(e.what()).c_str());
    return kExitStore;
  }
  return kExitOk;
}

std::string Field(std::string utf8) {
  std::replace_if(utf8.begin(), utf8.end(), [](char c) { return c == '\t' || c == '\r' || c == '\n'; }, ' ');
  return utf8;
}

std::string FolderPath(const std::string& programFolder, const THostEntry& e) {
  return JoinPath(programFolder, SjisToUtf8(e.FilePath));
}

// A text of the command line in Shift-JIS, as the host list keeps it
// (THostTable::FieldProblem, the window's rule); why not in `why`, naming a
// character by its position only: the text may be a password.
bool ToSjis(const std::string& option, const std::string& utf8, size_t limit, std::string& out, std::string& why) {
  const TSjisResult r = Utf8ToSjisChecked(utf8);
  if (!r.ok()) {
    // The first character that does not convert, counted as the user typed it.
    const QString chars = QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
    int position = 0;
    for (int i = 0; i < chars.size(); ++i) {
      ++position;
      const int n = chars[i].isHighSurrogate() && i + 1 < chars.size() ? 2 : 1;
      if (!QStringToSjis(chars.mid(i, n)).ok()) break;
      i += n - 1;
    }
    why = option + ": character " + std::to_string(position) + " cannot be held in Shift-JIS";
    return false;
  }
  if (const std::string problem = THostTable::FieldProblem(option, r.bytes, limit); !problem.empty()) {
    why = SjisToUtf8(problem);
    return false;
  }
  out = r.bytes;
  return true;
}

// Why the list cannot take e as a new host (UTF-8; empty when it can): its
// title names another host, the list is full, or THostTable::EntryProblem
// (an empty folder is not judged: one is chosen later).
std::string AddProblem(const THostTable& hosts, const THostEntry& e, const std::string& title,
                       const std::string& programFolder) {
  if (const int same = FindHost(hosts, title); same >= 0) {
    return "there is already a host titled " + title + " (" + std::to_string(same) + ")";
  }
  if (hosts.HostCount >= kMaxHosts) return "the host list is full (" + std::to_string(kMaxHosts) + " hosts)";
  if (e.FilePath.empty()) return std::string();  // one is chosen that nobody uses
  THostTable with = hosts;
  with.HostTable[static_cast<size_t>(with.HostCount++)] = e;
  return SjisToUtf8(with.EntryProblem(with.HostCount - 1, programFolder));
}

}  // namespace

int LoadHostListOrSay(THostTable& hosts, const std::string& programFolder) {
  try {
    hosts.LoadHostList(programFolder);
  } catch (const EInOutError& e) {
    std::fprintf(stderr, "brelo: %s\n", SjisToUtf8(e.what()).c_str());
    return kExitHostList;
  }
  if (!hosts.LoadProblem.empty()) std::fprintf(stderr, "brelo: %s\n", SjisToUtf8(hosts.LoadProblem).c_str());
  return kExitOk;
}

int LoadHostListAndFindOrSay(THostTable& hosts, const std::string& programFolder, const std::string& host,
                             int& index) {
  if (const int status = LoadHostListOrSay(hosts, programFolder); status != kExitOk) return status;
  index = FindHost(hosts, host);
  if (index >= 0) return kExitOk;
  std::fprintf(stderr, "brelo: there is no host \"%s\" in the host list\n", host.c_str());
  return kExitUnknownHost;
}

std::optional<std::string> ReadSecretLine(const std::string& prompt) {
  const bool terminal = ::isatty(STDIN_FILENO) == 1 && ::tcgetattr(STDIN_FILENO, &g_terminal) == 0;
  struct sigaction restore {}, oldInt {}, oldTerm {}, oldHup {};
  if (terminal) {
    restore.sa_handler = RestoreTerminalAndDie;
    sigemptyset(&restore.sa_mask);
    ::sigaction(SIGINT, &restore, &oldInt);
    ::sigaction(SIGTERM, &restore, &oldTerm);
    ::sigaction(SIGHUP, &restore, &oldHup);
    termios quiet = g_terminal;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    quiet.c_lflag |= ECHONL;  // the Enter still shows
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    // Asked for only once nothing typed can show any more.
    std::fprintf(stderr, "%s", prompt.c_str());
    std::fflush(stderr);
  }
  std::string line;
  const bool got = static_cast<bool>(std::getline(std::cin, line)) || !line.empty();
  if (terminal) {
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &g_terminal);
    ::sigaction(SIGINT, &oldInt, nullptr);
    ::sigaction(SIGTERM, &oldTerm, nullptr);
    ::sigaction(SIGHUP, &oldHup, nullptr);
  }
  if (!got) return std::nullopt;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

int RunListHosts(const TCommandLine&, const std::string& programFolder) {
  THostTable hosts;
  if (const int status = LoadHostListOrSay(hosts, programFolder); status != kExitOk) return status;
  for (int i = 0; i < hosts.HostCount; ++i) {
    const THostEntry& e = hosts.HostTable[static_cast<size_t>(i)];
    std::printf("%d\t%s\t%s\t%s\t%s\n", i, Field(SjisToUtf8(e.Title)).c_str(), Field(SjisToUtf8(e.Address)).c_str(),
                Field(FolderPath(programFolder, e)).c_str(), e.TerminalOnly ? "terminal-only" : "auto");
  }
  return kExitOk;
}

int RunAddHost(const TCommandLine& cmd, const std::string& programFolder) {
  // Checked once, here, by the rules the window's host dialogs use: what
  // the list cannot keep as given is refused, never changed.
  THostEntry e;
  std::string why;
  if (!ToSjis("TITLE", cmd.host, 1023, e.Title, why) || !ToSjis("--address", cmd.address, 1023, e.Address, why) ||
      !ToSjis("--user-id", cmd.userId, 8, e.UserID, why) ||
      !ToSjis("--handle", cmd.handle.empty() ? "Pallo" : cmd.handle, 14, e.HandleName, why) ||
      !ToSjis("--folder", cmd.hostFolder, 1023, e.FilePath, why)) {
    return Refuse(why);
  }
  if (e.Title.empty() || e.Address.empty() || e.UserID.empty()) return Refuse("TITLE, --address and --user-id may not be empty");
  if (const std::string why = AddressProblem(e.Address); !why.empty()) return Refuse("--address: " + SjisToUtf8(why));
  // Hosts are named by title or by index: a title must name one host, and
  // digits alone would read as an index.
  if (e.Title.find_first_not_of("0123456789") == std::string::npos) {
    return Refuse("a title of digits alone would be taken for an index: " + cmd.host);
  }
  e.HostKind = cmd.kind == "ktbbs" ? 1 : 0;
  e.Encoding = ParseHostEncoding(cmd.encoding);
  e.Line = ParseLineKind(cmd.line);
  e.TerminalOnly = cmd.terminalOnly;
  if (!cmd.sshKey.empty()) {
    if (ParseAddress(e.Address).kind != TAddress::kSsh) return Refuse("--ssh-key goes with an ssh:// address");
    char* full = ::realpath(cmd.sshKey.c_str(), nullptr);
    if (full == nullptr || ::access(full, R_OK) != 0) {
      std::free(full);
      return Refuse("--ssh-key: cannot read the key file " + cmd.sshKey);
    }
    e.SshKey = full;
    std::free(full);
  }
  // A folder given is judged with the list as it is: nobody is asked for a
  // password that would be refused.
  {
    THostTable hosts;
    if (const int status = LoadHostListOrSay(hosts, programFolder); status != kExitOk) return status;
    if (const std::string why = AddProblem(hosts, e, cmd.host, programFolder); !why.empty()) return Refuse(why);
  }
  const std::optional<std::string> password = ReadSecretLine("Password for " + cmd.host + ": ");
  if (!password) return Refuse("no password on standard input (one line; an empty line for none)");
  if (!ToSjis("the password", *password, 8, e.Password, why)) return Refuse(why);

  // The list afresh under its lock: another writer's host is neither lost
  // nor given the same index or folder.
  try {
    THostListLock lock(programFolder);
    THostTable hosts;
    if (const int status = LoadHostListOrSay(hosts, programFolder); status != kExitOk) return status;
    if (e.FilePath.empty()) {
      // As the window names a new host's folder, but never one in use or on the disk.
      auto tick = static_cast<int32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                           std::chrono::steady_clock::now().time_since_epoch()).count());
      const auto taken = [&](const std::string& name) {
        for (int i = 0; i < hosts.HostCount; ++i) {
          if (hosts.HostTable[static_cast<size_t>(i)].FilePath == name) return true;
        }
        return FileExists(JoinPath(programFolder, name)) || DirExists(JoinPath(programFolder, name));
      };
      do {
        e.FilePath = "HOST" + THostTable::TickSuffix(tick++);
      } while (taken(e.FilePath));
    }
    if (const std::string why = AddProblem(hosts, e, cmd.host, programFolder); !why.empty()) return Refuse(why);
    hosts.Add(0);
    const int index = hosts.HostCount - 1;
    hosts.HostTable[static_cast<size_t>(index)] = e;
    if (const int status = Save(hosts, programFolder); status != kExitOk) return status;
    std::printf("%d\n", index);
    return kExitOk;
  } catch (const EInOutError& err) {
    std::fprintf(stderr, "brelo: %s\n", SjisToUtf8(err.what()).c_str());
    return kExitHostList;
  }
}

int RunRemoveHost(const TCommandLine& cmd, const std::string& programFolder) {
  {
    // A list that cannot be read is said as such, before its lock is taken.
    THostTable hosts;
    if (const int status = LoadHostListOrSay(hosts, programFolder); status != kExitOk) return status;
  }
  try {
    // Found, removed and written under the list's lock: the index named is
    // the one of the list as it is, and nobody else's change is lost.
    THostListLock lock(programFolder);
    THostTable hosts;
    int index = -1;
    if (const int status = LoadHostListAndFindOrSay(hosts, programFolder, cmd.host, index); status != kExitOk) {
      return status;
    }
    const THostEntry e = hosts.HostTable[static_cast<size_t>(index)];
    hosts.Delete(index);
    if (const int status = Save(hosts, programFolder); status != kExitOk) return status;
    std::printf("brelo: removed host %d %s; its folder %s and the data in it stay%s\n", index,
                SjisToUtf8(e.Title).c_str(), FolderPath(programFolder, e).c_str(),
                index < hosts.HostCount ? " (the hosts after it moved up by one)" : "");
    return kExitOk;
  } catch (const EInOutError& err) {
    std::fprintf(stderr, "brelo: %s\n", SjisToUtf8(err.what()).c_str());
    return kExitHostList;
  }
}

}  // namespace brelo
