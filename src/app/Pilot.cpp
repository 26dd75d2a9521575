#include "app/Pilot.h"

#include <sys/stat.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <memory>
#include <unistd.h>

#include "app/CommandLine.h"
#include "reader/ModemSettings.h"
#include "common/FileUtil.h"
#include "common/Sjis.h"
#include "common/StringLock.h"
#include "reader/MainModel.h"

namespace brelo {

void TConsoleView::SetStatus(const std::string& sjis) {
  if (!printStatus_) return;
  std::printf("%s\n", SjisToUtf8(sjis).c_str());
  std::fflush(stdout);
}

void TConsoleView::ShowBoardList() {
  try {
    store->LoadBoards();
  } catch (const EInOutError& e) {
    ReportError(e.what());
  }
}

void TConsoleView::ReportError(const std::string& sjis) {
  std::fprintf(stderr, "brelo: %s\n", SjisToUtf8(sjis).c_str());
}

int FindHost(const THostTable& hosts, const std::string& hostArg) {
  const std::string title = Utf8ToSjisChecked(hostArg).bytes;
  for (int i = 0; i < hosts.HostCount; ++i) {
    if (hosts.HostTable[static_cast<size_t>(i)].Title == title) return i;
  }
  const int n = SafeStrToIntDef(hostArg, -1);
  if (!hostArg.empty() && hostArg.find_first_not_of("0123456789") == std::string::npos && n >= 0 &&
      n < hosts.HostCount) {
    return n;
  }
  return -1;
}

bool ParseHostList(const THostTable& hosts, const std::string& hostsText, std::vector<int>& out,
                   std::string& bad) {
  out.clear();
  // A title may hold a comma or be "all": the whole text names a host first.
  if (const int one = FindHost(hosts, hostsText); one >= 0) {
    out.push_back(one);
    return true;
  }
  if (hostsText == "all") {
    for (int i = 0; i < hosts.HostCount; ++i) out.push_back(i);
    return true;
  }
  size_t from = 0;
  for (;;) {
    const size_t comma = hostsText.find(',', from);
    std::string part = hostsText.substr(from, comma == std::string::npos ? std::string::npos : comma - from);
    while (!part.empty() && part.front() == ' ') part.erase(part.begin());
    while (!part.empty() && part.back() == ' ') part.pop_back();
    const int i = FindHost(hosts, part);
    if (i < 0) {
      bad = part;
      out.clear();
      return false;
    }
    out.push_back(i);
    if (comma == std::string::npos) return true;
    from = comma + 1;
  }
}

namespace {

// SIGTERM and SIGINT reach the event loop through a pipe: a handler may do
// nothing more than write to it.
int g_signalPipe[2] = {-1, -1};

void OnStopSignal(int sig) {
  const char c = static_cast<char>(sig);
  const ssize_t n = ::write(g_signalPipe[1], &c, 1);
  (void)n;
}

void InstallStopSignals() {
  if (g_signalPipe[0] >= 0 || ::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  struct sigaction sa {};
  sa.sa_handler = OnStopSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  ::sigaction(SIGTERM, &sa, nullptr);
  ::sigaction(SIGINT, &sa, nullptr);
}

// Why a pass failed, in words, for the one who reads the cron mail.
void PrintCause(const TPatrolResult& r, int timeoutSeconds) {
  const std::string& address = r.address;
  const TVeskoClient::TLineError& err = r.lineError;
  switch (r.status) {
    case kExitStore:
      std::fprintf(stderr, "brelo: %s\n", SjisToUtf8(r.summary.problem).c_str());
      break;
    case kExitTimeout:
      if (!r.summary.loggedIn) {
        std::fprintf(stderr, "brelo: %s did not answer the login within %d seconds\n", address.c_str(),
                     timeoutSeconds);
      }
      break;
    case kExitNoLogin:
      if (err.code != 0) {
        std::fprintf(stderr, "brelo: cannot reach %s: %s (error %d)\n", address.c_str(), err.text.c_str(), err.code);
      } else {
        std::fprintf(stderr, "brelo: %s ended the line before the login was done\n", address.c_str());
      }
      break;
    case kExitLineLost:
      std::fprintf(stderr, "brelo: the line was lost before the logout%s; what arrived is stored\n",
                   err.code != 0 ? (": " + err.text).c_str() : "");
      break;
    case kExitWrites:
      std::fprintf(stderr, "brelo: not every reservation was carried out (see the writes above)\n");
      break;
    case kExitBusy:
      std::fprintf(stderr, "brelo: %s; skipped\n", SjisToUtf8(r.problem).c_str());
      break;
    case kExitStopped:
      std::fprintf(stderr, "brelo: the pass was stopped before the logout; what arrived is stored\n");
      break;
    default:
      break;
  }
}

// What is left in the box, truthfully: an unreadable box is no empty one.
std::string BoxLeftWords(const TPatrolResult& r) {
  if (r.summary.boxUnreadable) return "the box (Write.Dat) could not be read: what it holds is unknown";
  return std::to_string(r.boxLeft) + " reservation(s) left in the box";
}

// Every entry the user has to look at, named, on the error output.
void PrintBoxNotes(const TPassSummary& s) {
  for (const std::string& why : s.notSent) std::fprintf(stderr, "brelo: not sent: %s\n", SjisToUtf8(why).c_str());
  for (const std::string& title : s.heldInterrupted) {
    std::fprintf(stderr, "brelo: held as %s (posted or not, unknown; send again or delete it in the box): %s\n",
                 SjisToUtf8(Sjis("送信中に中断")).c_str(), SjisToUtf8(title).c_str());
  }
  if (!s.boxProblem.empty()) std::fprintf(stderr, "brelo: box: %s\n", SjisToUtf8(s.boxProblem).c_str());
  if (s.dueBeyond > 0) {
    std::fprintf(stderr, "brelo: %d due reservation(s) lie beyond the %d the box loads and are not sent\n",
                 s.dueBeyond, kReservationsLoaded);
  }
}

}  // namespace

int RunPilot(const TCommandLine& cmd, const std::string& programFolder) {
  TConsoleView view(!cmd.quiet);
  TMainModel model(programFolder, view);
  view.store = &model.Store;
  try {
    model.Hosts.LoadHostList(programFolder);
  } catch (const EInOutError& e) {
    view.ReportError(e.what());
    return kExitNoLogin;
  }
  if (!model.Hosts.LoadProblem.empty()) view.ReportError(model.Hosts.LoadProblem);
  std::vector<int> hosts;
  std::string bad;
  if (!ParseHostList(model.Hosts, cmd.host, hosts, bad)) {
    std::fprintf(stderr, "brelo: there is no host \"%s\" in the host list %s. The hosts are:\n", bad.c_str(),
                 THostTable::FileName(programFolder).c_str());
    for (int i = 0; i < model.Hosts.HostCount; ++i) {
      std::fprintf(stderr, "  %d  %s\n", i, SjisToUtf8(model.Hosts.HostTable[static_cast<size_t>(i)].Title).c_str());
    }
    return kExitUnknownHost;
  }
  if (hosts.empty()) {
    std::fprintf(stderr, "brelo: the host list %s has no hosts\n", THostTable::FileName(programFolder).c_str());
    return kExitUnknownHost;
  }
  TModemSettings modem;
  modem.Read(programFolder);
  modem.ApplyTo(model.VeskoClient1);
  model.Policy.LockWaitMs = cmd.lockWaitSeconds * 1000;

  TPatrol patrol(model);
  patrol.TimeoutSeconds = cmd.timeoutSeconds;
  patrol.OnHostStarting = [&](int host) {
    if (cmd.quiet) return;
    std::printf("brelo: %s (%s)\n", SjisToUtf8(model.Hosts.HostTable[static_cast<size_t>(host)].Title).c_str(),
                model.Policy.FolderOf(host).c_str());
    std::fflush(stdout);
  };
  patrol.OnTimeout = [&](int) {
    std::fprintf(stderr, "brelo: no logout after %d seconds; disconnecting\n", cmd.timeoutSeconds);
  };
  patrol.OnHostDone = [&](const TPatrolResult& r) {
    const TPassSummary& s = r.summary;
    if (!cmd.quiet && r.status != kExitBusy) {
      for (int b = 0; b < kBoardCount; ++b) {
        const TBoardEntry& e = model.Store.BoardTable[static_cast<size_t>(b)];
        const int n = model.Store.RecordCount(b);
        if (!e.Active || n == 0) continue;
        std::printf("  %02d %-8s %s: %d\n", b, e.Name.c_str(), SjisToUtf8(e.Title).c_str(), n);
      }
      std::string more;
      if (s.completed > 0) more += ", " + std::to_string(s.completed) + " completing a copy a lost line had cut off";
      if (s.beyondRange > 0) {
        more += ", " + std::to_string(s.beyondRange) +
                " not stored (message numbers beyond 2147483647; they stay in the session log)";
      }
      std::printf("brelo: received %d: %d stored, %d already stored, %d lost%s\n", r.received, s.stored,
                  s.duplicates, s.lost, more.c_str());
      std::printf("brelo: writes: %d sent, %d refused by the host, %d failed, %d skipped, %d interrupted, %d not "
                  "recorded; %s\n",
                  s.sent, s.refused, s.failed, s.skipped, s.interrupted, s.unrecorded, BoxLeftWords(r).c_str());
      if (!s.downloaded.empty() || !s.uploaded.empty() || s.transfersFailed > 0) {
        const auto list = [&](const std::vector<std::string>& files, const std::string& folder) {
          std::string out;
          for (const std::string& f : files) {
            struct stat st {};
            const long long size = folder.empty() || ::stat((folder + f).c_str(), &st) != 0 ? -1 : st.st_size;
            out += (out.empty() ? " " : ", ") + SjisToUtf8(f) + (size >= 0 ? " (" + std::to_string(size) + " bytes)" : "");
          }
          return out.empty() ? std::string(" none") : out;
        };
        std::printf("brelo: files: downloaded%s into %sDOWN/; uploaded%s; %d transfer(s) failed\n",
                    list(s.downloaded, model.Store.HostFolder + "DOWN/").c_str(), model.Store.HostFolder.c_str(),
                    list(s.uploaded, "").c_str(), s.transfersFailed);
      }
    }
    std::fflush(stdout);
    PrintBoxNotes(s);
    PrintCause(r, cmd.timeoutSeconds);
    // The summary line: one per host, whatever else is printed.
    std::string what = StatusWords(r.status);
    if (r.status == kExitBusy) {
      what += r.busyHolder > 0 ? " (" + SjisToUtf8(Sjis("使用中")) + ", process " + std::to_string(r.busyHolder) + ")"
                               : " (" + SjisToUtf8(Sjis("使用中")) + ")";
    }
    std::printf("brelo: %d %s: %s (%d); %d new (%d mail), %d already stored, %d lost; %d sent, %s\n", r.host,
                SjisToUtf8(r.title).c_str(), what.c_str(), r.status, s.stored, s.storedMail, s.duplicates, s.lost,
                s.sent, s.boxUnreadable ? "box unreadable" : (std::to_string(r.boxLeft) + " left in the box").c_str());
    std::fflush(stdout);
    std::fflush(stderr);
  };
  patrol.OnFinished = [] { QCoreApplication::quit(); };

  InstallStopSignals();
  std::unique_ptr<QSocketNotifier> stopper;
  int stopSignal = 0;
  if (g_signalPipe[0] >= 0) {
    stopper = std::make_unique<QSocketNotifier>(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(stopper.get(), &QSocketNotifier::activated, [&] {
      char c = 0;
      while (::read(g_signalPipe[0], &c, 1) == 1) {
        if (stopSignal != 0) continue;
        stopSignal = c;
        std::fprintf(stderr, "brelo: stopped by %s; disconnecting\n", c == SIGINT ? "SIGINT" : "SIGTERM");
        // A second signal ends the program at once.
        ::signal(SIGTERM, SIG_DFL);
        ::signal(SIGINT, SIG_DFL);
        patrol.Stop();
      }
    });
  }
  patrol.Start(hosts);
  QCoreApplication::exec();

  std::vector<int> statuses;
  int newItems = 0, newMail = 0;
  for (const TPatrolResult& r : patrol.Results()) {
    statuses.push_back(r.status);
    newItems += r.summary.stored;
    newMail += r.summary.storedMail;
  }
  if (patrol.Stopped()) statuses.push_back(kExitStopped);
  const int status = WorstStatus(statuses);
  if (hosts.size() > 1) {
    std::string counts;
    for (int st : {kExitOk, kExitBusy, kExitNoLogin, kExitTimeout, kExitLineLost, kExitWrites, kExitStore,
                   kExitStopped}) {
      const auto n = std::count(statuses.begin(), statuses.end() - (patrol.Stopped() ? 1 : 0), st);
      if (n > 0) counts += ", " + std::to_string(n) + " " + StatusWords(st);
    }
    if (patrol.NotCalled() > 0) counts += ", " + std::to_string(patrol.NotCalled()) + " not called";
    std::printf("brelo: round of %zu hosts: %s; %d new (%d mail); exit status %d\n", hosts.size(),
                counts.empty() ? "none called" : counts.substr(2).c_str(), newItems, newMail, status);
  }
  std::fflush(stdout);
  return status;
}

}  // namespace brelo
