#include "app/Pilot.h"

#include <sys/stat.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <optional>
#include <unistd.h>

#include "app/CommandLine.h"
#include "app/HostCommands.h"
#include "common/Programs.h"
#include "reader/DemoHostStarter.h"
#include "reader/Patrol.h"
#include "reader/ModemSettings.h"
#include "common/FileUtil.h"
#include "common/Sjis.h"
#include "common/StringLock.h"
#include "reader/MainModel.h"
#include "reader/Settings.h"

namespace brelo {

void TConsoleView::SetStatus(const std::string& sjis) {
  if (!printStatus_) return;
  if (HeldOut != nullptr) {
    *HeldOut += SjisToUtf8(sjis) + "\n";
    return;
  }
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
  reported_ += sjis + '\n';
  // One line for the one who reads the cron mail: the window's two-line
  // notices are joined.
  std::string line = SjisToUtf8(sjis);
  for (size_t at; (at = line.find("\r\n")) != std::string::npos;) line.replace(at, 2, " ");
  line = "brelo: " + line + "\n";
  if (HeldErr != nullptr) *HeldErr += line;
  else std::fputs(line.c_str(), stderr);
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
    // Every host a round can call: a terminal-only one is the user's.
    for (int i = 0; i < hosts.HostCount; ++i) {
      if (!hosts.HostTable[static_cast<size_t>(i)].TerminalOnly) out.push_back(i);
    }
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
    if (std::find(out.begin(), out.end(), i) == out.end()) out.push_back(i);  // "2,2" calls once
    if (comma == std::string::npos) return true;
    from = comma + 1;
  }
}

namespace {

// SIGTERM and SIGINT reach the event loop through a pipe: a handler may do
// nothing more than write to it.
int g_signalPipe[2] = {-1, -1};

volatile sig_atomic_t g_stopSignals = 0;

void OnStopSignal(int sig) {
  // A second signal ends the program at once, whatever the first one waits
  // for. It is counted here rather than left pending for the default action:
  // a signal that arrived while this ran may be handed to the handler late.
  const bool second = g_stopSignals != 0;
  g_stopSignals = 1;
  if (second) {
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    ::sigaction(sig, &dfl, nullptr);
    ::raise(sig);  // delivered with the default action once this returns
    return;
  }
  const char c = static_cast<char>(sig);
  const ssize_t n = ::write(g_signalPipe[1], &c, 1);
  (void)n;
}

void InstallStopSignals() {
  if (g_signalPipe[0] >= 0 || ::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  struct sigaction sa {};
  sa.sa_handler = OnStopSignal;
  // One at a time: a second one pending meanwhile comes after the first.
  sigemptyset(&sa.sa_mask);
  sigaddset(&sa.sa_mask, SIGTERM);
  sigaddset(&sa.sa_mask, SIGINT);
  sa.sa_flags = SA_RESTART;
  ::sigaction(SIGTERM, &sa, nullptr);
  ::sigaction(SIGINT, &sa, nullptr);
}

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
  // Whole, however long: a line cut to a buffer would end inside a character.
  va_list args, again;
  va_start(args, format);
  va_copy(again, args);
  const int n = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  std::string out(static_cast<size_t>(std::max(n, 0)) + 1, '\0');
  std::vsnprintf(out.data(), out.size(), format, again);
  va_end(again);
  out.pop_back();
  return out;
}

// Why a pass failed, in words, for the one who reads the cron mail.
std::string Cause(const TPatrolResult& r, int timeoutSeconds, int loginWatchSeconds, const TConsoleView& view) {
  const std::string& address = r.address;
  const TVeskoClient::TLineError& err = r.lineError;
  switch (r.status) {
    case kExitStore:
      return view.Reported(r.summary.problem) ? std::string() : "brelo: " + SjisToUtf8(r.summary.problem) + "\n";
    case kExitTimeout:
      if (r.summary.loggedIn) return std::string();
      return Format("brelo: %s did not answer the login within %d seconds\n", address.c_str(), timeoutSeconds);
    case kExitLoginRefused:
      return Format("brelo: %s refused the login%s; the password was not sent again (check the user ID and the "
                    "password in the host list)\n",
                    address.c_str(),
                    r.summary.loginWords.empty() ? "" : (": " + SjisToUtf8(r.summary.loginWords)).c_str());
    case kExitTerminalOnly:
      return Format("brelo: %s is marked terminal only (%s): no unattended pass; connect to it in the window\n",
                    SjisToUtf8(r.title).c_str(), SjisToUtf8(Sjis("自動ログインしない")).c_str());
    case kExitSshRefused:
      return Format("brelo: %s refused every way of logging in that Brelo has (the host's key, the agent, the default "
                    "keys, the password); it offers: %s\n",
                    address.c_str(), err.ssh.methods.c_str());
    case kExitHostKeyUnknown: {
      return Format("brelo: the host key of %s is not known: %s key %s\n", err.ssh.hostName.c_str(),
                    err.ssh.key.Kind().c_str(), err.ssh.key.Fingerprint().c_str()) +
             Format("brelo: nothing was sent to it. If this is the host's key (ask whoever runs the host), record "
                          "it with: brelo --trust-host-key %d\n",
                          r.host);
    }
    case kExitHostKeyChanged: {
      const bool revoked = err.ssh.check.verdict == THostKeyCheck::kRevoked;
      std::string out = Format("brelo: the host key of %s %s: it shows %s key %s\n", err.ssh.hostName.c_str(),
                               revoked ? "is revoked" : "differs from the one recorded", err.ssh.key.Kind().c_str(),
                               err.ssh.key.Fingerprint().c_str());
      for (const TKnownKey& k : err.ssh.check.recorded) {
        out += Format("brelo: %s: %s key %s (%s line %d)\n", revoked ? "revoked" : "recorded", k.key.Kind().c_str(),
                      k.key.Fingerprint().c_str(), k.file.c_str(), k.line);
      }
      return out + (revoked ? std::string("brelo: nothing was sent to it\n")
                            : Format("brelo: nothing was sent to it. Someone may be posing as the host. If the host did "
                                     "change its key, remove the recorded line and run brelo --trust-host-key %d\n",
                                     r.host));
    }
    case kExitNoLogin:
      if (err.ssh.kind == TSshOutcome::kFailed) {
        return Format("brelo: the SSH connection to %s failed: %s\n", address.c_str(), err.ssh.error.c_str());
      }
      if (r.summary.loginNotRecognised) {
        return Format("brelo: %s showed no login prompt Brelo knows (ID, password, main prompt) for %d seconds; "
                      "hung up\n",
                      address.c_str(), loginWatchSeconds);
      }
      if (!err.lookup.empty()) {
        return Format("brelo: the address page gave no address: %s\n", SjisToUtf8(err.lookup).c_str());
      }
      if (err.code != 0) {
        return Format("brelo: cannot reach %s: %s (error %d)\n", address.c_str(), err.text.c_str(), err.code);
      }
      return Format("brelo: %s ended the line before the login was done\n", address.c_str());
    case kExitLineLost:
      return Format("brelo: the line was lost before the logout%s; what arrived is stored\n",
                    err.code != 0 ? (": " + err.text).c_str() : "");
    case kExitWrites:
      return "brelo: not every reservation was carried out (see the writes above)\n";
    case kExitBusy:
      return "brelo: " + SjisToUtf8(r.problem) + "; skipped\n";
    case kExitStopped:
      return r.summary.loggedIn || r.received > 0
                 ? "brelo: the pass was stopped before the logout; what arrived is stored\n"
                 : "brelo: stopped before the host was called\n";
    default:
      return std::string();
  }
}

// What is left in the box, truthfully: an unreadable box is no empty one.
std::string BoxLeftWords(const TPatrolResult& r) {
  if (r.summary.boxUnreadable) return "the box (Write.Dat) could not be read: what it holds is unknown";
  return std::to_string(r.boxLeft) + " reservation(s) left in the box";
}

// Every entry the user has to look at, named, for the error output.
std::string BoxNotes(const TPassSummary& s) {
  std::string out;
  for (const std::string& why : s.notSent) out += "brelo: not sent: " + SjisToUtf8(why) + "\n";
  for (const std::string& title : s.heldInterrupted) {
    out += Format("brelo: held as %s (posted or not, unknown; send again or delete it in the box): %s\n",
                  SjisToUtf8(Sjis("送信中に中断")).c_str(), SjisToUtf8(title).c_str());
  }
  for (const std::string& title : s.sentUnrecorded) {
    out += Format("brelo: posted, but the box could not be saved afterwards; it still holds it as %s: %s (delete it "
                  "from the box)\n",
                  SjisToUtf8(Sjis("送信中に中断")).c_str(), SjisToUtf8(title).c_str());
  }
  // One line per problem: a line break inside one would let a terminal
  // write the second part over the first.
  for (const std::string& problem : SplitLines(s.boxProblem)) out += "brelo: box: " + SjisToUtf8(problem) + "\n";
  if (s.dueBeyond > 0) {
    out += Format("brelo: %d due reservation(s) lie beyond the %d the box loads and are not sent\n", s.dueBeyond,
                  kReservationsLoaded);
  }
  return out;
}

// What a finished pass stored and wrote, as the pass's own lines.
std::string PassReport(const TPatrolResult& r, TMainModel& model) {
  const TPassSummary& s = r.summary;
  std::string out;
  for (int b = 0; b < kBoardCount; ++b) {
    const TBoardEntry& e = model.Store.BoardTable[static_cast<size_t>(b)];
    const int n = model.Store.RecordCount(b);
    if (!e.Active || n == 0) continue;
    out += Format("  %02d %-8s %s: %d\n", b, e.Name.c_str(), SjisToUtf8(e.Title).c_str(), n);
  }
  std::string more;
  if (s.completed > 0) more += ", " + std::to_string(s.completed) + " completing a copy a lost line had cut off";
  if (s.beyondRange > 0) {
    more += ", " + std::to_string(s.beyondRange) +
            " not stored (message numbers beyond 2147483647; they stay in the session log)";
  }
  out += Format("brelo: received %d: %d stored, %d already stored, %d lost%s\n", r.received, s.stored, s.duplicates,
                s.lost, more.c_str());
  out += Format("brelo: writes: %d sent, %d refused by the host, %d failed, %d skipped, %d interrupted, %d not "
                "recorded; %s\n",
                s.sent, s.refused, s.failed, s.skipped, s.interrupted, s.unrecorded, BoxLeftWords(r).c_str());
  const std::string files = FilesSummary(s, model.Store.HostFolder);
  if (!files.empty()) out += "brelo: " + files + "\n";
  return out;
}

// The summary line: one per host, whatever else is printed.
std::string SummaryLine(const TPatrolResult& r) {
  const TPassSummary& s = r.summary;
  std::string what = StatusWords(r.status);
  if (s.hungUp) what += " (hung up: the host kept the line after the logout)";
  if (r.status == kExitBusy) {
    what += r.busyHolder > 0 ? " (" + SjisToUtf8(Sjis("使用中")) + ", process " + std::to_string(r.busyHolder) + ")"
                             : " (" + SjisToUtf8(Sjis("使用中")) + ")";
  }
  return Format("brelo: %d %s: %s (%d); %d new (%d mail), %d already stored, %d lost; %d sent, %s\n", r.host,
                SjisToUtf8(r.title).c_str(), what.c_str(), r.status, s.stored, s.storedMail, s.duplicates, s.lost,
                s.sent, s.boxUnreadable ? "box unreadable" : (std::to_string(r.boxLeft) + " left in the box").c_str());
}

// One pass at a time: a round of --jobs N has N lanes, each with a model of
// its own (its own session, store, box and host folder lock).
struct TLane {
  TLane(const std::string& programFolder, bool printStatus)
      : view(printStatus), model(programFolder, view), patrol(model) {
    view.store = &model.Store;
  }
  TConsoleView view;
  TMainModel model;
  TPatrol patrol;
  int position = -1;  // the place in the round of the host of the pass in progress
};

// What the round prints. Lines go out as they come with one lane; with
// several, each host's lines wait until its pass is over and go out in the
// order of the round. Under --quiet the standard output waits for the end:
// a round with nothing new and no failure prints nothing at all.
class TRoundOutput {
 public:
  TRoundOutput(size_t hosts, bool hold, bool quiet) : out_(hosts), err_(hosts), done_(hosts), hold_(hold), quiet_(quiet) {}
  std::string* Out(int position) { return hold_ ? &out_[static_cast<size_t>(position)] : nullptr; }
  std::string* Err(int position) { return hold_ ? &err_[static_cast<size_t>(position)] : nullptr; }
  void Print(int position, const std::string& text) { Put(position, text, false); }
  void PrintError(int position, const std::string& text) { Put(position, text, true); }
  // The host's pass is over: what the round has finished, in order, goes out.
  void Done(int position) {
    done_[static_cast<size_t>(position)] = true;
    while (hold_ && next_ < done_.size() && done_[next_]) {
      Write(out_[next_], false);
      Write(err_[next_], true);
      ++next_;
    }
  }
  // The end of the round: under --quiet, the summaries only when they tell something.
  void Finish(const std::string& roundLine, bool worthTelling) {
    for (; hold_ && next_ < done_.size(); ++next_) {
      Write(out_[next_], false);
      Write(err_[next_], true);
    }
    Write(roundLine, false);
    if (quiet_ && worthTelling) std::fputs(quietOut_.c_str(), stdout);
    std::fflush(stdout);
  }

 private:
  void Put(int position, const std::string& text, bool error) {
    if (hold_ && position >= 0) (error ? err_ : out_)[static_cast<size_t>(position)] += text;
    else Write(text, error);
  }
  void Write(const std::string& text, bool error) {
    if (text.empty()) return;
    if (error) {
      std::fputs(text.c_str(), stderr);
      std::fflush(stderr);
    } else if (quiet_) {
      quietOut_ += text;
    } else {
      std::fputs(text.c_str(), stdout);
      std::fflush(stdout);
    }
  }
  std::vector<std::string> out_, err_;
  std::vector<bool> done_;
  size_t next_ = 0;
  bool hold_, quiet_;
  std::string quietOut_;
};

}  // namespace

std::string FilesSummary(const TPassSummary& s, const std::string& hostFolder) {
  if (s.downloaded.empty() && s.notDownloaded.empty() && s.uploaded.empty() && s.notUploaded.empty() &&
      s.transfersFailed == 0) {
    return {};
  }
  // Names, with their sizes where they are in `folder`, one separator between two.
  const auto list = [](const std::vector<std::string>& files, const std::string& folder) {
    std::string out;
    for (const std::string& f : files) {
      struct stat st {};
      const bool sized = !folder.empty() && ::stat((folder + f).c_str(), &st) == 0;
      out += (out.empty() ? "" : ", ") + SjisToUtf8(f) + (sized ? " (" + std::to_string(st.st_size) + " bytes)" : "");
    }
    return out.empty() ? std::string("none") : out;
  };
  std::string line = "files: downloaded " + list(s.downloaded, hostFolder + "DOWN/") + " into " + hostFolder + "DOWN/";
  if (!s.notDownloaded.empty()) line += "; not downloaded: " + list(s.notDownloaded, "");
  line += "; uploaded " + list(s.uploaded, "");
  if (!s.notUploaded.empty()) line += "; not uploaded (left in UP/): " + list(s.notUploaded, "");
  return line + "; " + std::to_string(s.transfersFailed) + " transfer(s) failed";
}

int RunPilot(const TCommandLine& cmd, const std::string& programFolder) {
  THostTable table;
  if (const int status = LoadHostListOrSay(table, programFolder); status != kExitOk) return status;
  std::vector<int> hosts;
  std::string bad;
  if (!ParseHostList(table, cmd.host, hosts, bad)) {
    std::fprintf(stderr, "brelo: there is no host \"%s\" in the host list %s. The hosts are:\n", bad.c_str(),
                 THostTable::FileName(programFolder).c_str());
    for (int i = 0; i < table.HostCount; ++i) {
      std::fprintf(stderr, "  %d  %s\n", i, SjisToUtf8(table.HostTable[static_cast<size_t>(i)].Title).c_str());
    }
    return kExitUnknownHost;
  }
  if (hosts.empty()) {
    std::fprintf(stderr, table.HostCount > 0 ? "brelo: every host of the host list %s is marked terminal only\n"
                                             : "brelo: the host list %s has no hosts\n",
                 THostTable::FileName(programFolder).c_str());
    return kExitUnknownHost;
  }
  TAppSettings appSettings;
  appSettings.Read(programFolder);
  const int loginWatchSeconds = appSettings.LoginWatchSeconds;
  TModemSettings modem;
  modem.Read(programFolder);
  // The sample host of a first start, started for the round as the window
  // starts it, and stopped at its end.
  TDemoHostStarter demoHost(programFolder, ExecutableFolder());

  const size_t laneCount = std::min(hosts.size(), static_cast<size_t>(cmd.jobs));
  TRoundOutput output(hosts.size(), laneCount > 1, cmd.quiet);
  std::vector<std::unique_ptr<TLane>> lanes;
  std::vector<std::optional<TPatrolResult>> results(hosts.size());
  std::vector<bool> started(hosts.size());
  bool stopping = false;
  const auto folderOf = [&](int host) {
    return WithSlash(programFolder + SjisToUtf8(table.HostTable[static_cast<size_t>(host)].FilePath));
  };
  // Starts passes on the idle lanes: the next host of the round whose folder
  // no pass in progress uses. Quits when nothing runs any more.
  std::function<void()> dispatch = [&] {
    for (auto& lane : lanes) {
      if (lane->position >= 0 || stopping) continue;
      for (size_t p = 0; p < hosts.size(); ++p) {
        if (started[p]) continue;
        const bool folderInUse = std::any_of(lanes.begin(), lanes.end(), [&](const auto& other) {
          return other->position >= 0 && folderOf(hosts[static_cast<size_t>(other->position)]) == folderOf(hosts[p]);
        });
        if (folderInUse) continue;
        started[p] = true;
        lane->position = static_cast<int>(p);
        lane->view.HeldOut = output.Out(lane->position);
        lane->view.HeldErr = output.Err(lane->position);
        lane->patrol.Start({hosts[p]});
        break;
      }
    }
    if (std::none_of(lanes.begin(), lanes.end(), [](const auto& lane) { return lane->position >= 0; })) {
      QCoreApplication::quit();
    }
  };
  for (size_t i = 0; i < laneCount; ++i) {
    lanes.push_back(std::make_unique<TLane>(programFolder, !cmd.quiet));
    TLane* const lane = lanes.back().get();
    lane->model.Hosts = table;
    modem.ApplyTo(lane->model.VeskoClient1);
    lane->patrol.TimeoutSeconds = cmd.timeoutSeconds;
    lane->patrol.LockWaitMs = cmd.lockWaitSeconds * 1000;
    lane->patrol.OnHostStarting = [&, lane](int host) {
      lane->view.ForgetReported();
      const std::string address = table.HostTable[static_cast<size_t>(host)].Address;
      if (!cmd.quiet) {
        output.Print(lane->position, Format("brelo: %s (%s)\n",
                                            SjisToUtf8(table.HostTable[static_cast<size_t>(host)].Title).c_str(),
                                            lane->model.Policy.FolderOf(host).c_str()));
      }
      if (const std::string note = demoHost.Before(address); !note.empty()) lane->view.SetStatus(note);
    };
    lane->patrol.OnTimeout = [&, lane](int) {
      output.PrintError(lane->position,
                        Format("brelo: no logout after %d seconds; disconnecting\n", cmd.timeoutSeconds));
    };
    lane->patrol.OnHostDone = [&, lane](const TPatrolResult& r) {
      const bool called = r.status != kExitBusy && r.status != kExitTerminalOnly &&
                          (r.status != kExitStopped || r.summary.loggedIn || r.received > 0);
      if (!cmd.quiet && called) output.Print(lane->position, PassReport(r, lane->model));
      output.PrintError(lane->position,
                        BoxNotes(r.summary) + Cause(r, cmd.timeoutSeconds, loginWatchSeconds, lane->view));
      output.Print(lane->position, SummaryLine(r));
      results[static_cast<size_t>(lane->position)] = r;
    };
    lane->patrol.OnFinished = [&, lane] {
      const int position = lane->position;
      lane->position = -1;
      lane->view.HeldOut = lane->view.HeldErr = nullptr;
      // The folder is let go at once: the next pass there may be another lane's.
      lane->model.Policy.HostComboBoxChange(-1);
      output.Done(position);
      QTimer::singleShot(0, dispatch);
    };
  }

  InstallStopSignals();
  std::unique_ptr<QSocketNotifier> stopper;
  if (g_signalPipe[0] >= 0) {
    stopper = std::make_unique<QSocketNotifier>(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(stopper.get(), &QSocketNotifier::activated, [&] {
      char c = 0;
      while (::read(g_signalPipe[0], &c, 1) == 1) {
        if (stopping) continue;
        stopping = true;
        std::fprintf(stderr, "brelo: stopped by %s; disconnecting\n", c == SIGINT ? "SIGINT" : "SIGTERM");
        for (auto& lane : lanes) lane->patrol.Stop();
      }
    });
  }
  QTimer::singleShot(0, dispatch);
  QCoreApplication::exec();

  std::vector<int> statuses;
  int newItems = 0, newMail = 0;
  for (const auto& r : results) {
    if (!r) continue;
    statuses.push_back(r->status);
    newItems += r->summary.stored;
    newMail += r->summary.storedMail;
  }
  const int notCalled = static_cast<int>(std::count(started.begin(), started.end(), false));
  std::vector<int> all = statuses;
  if (stopping) all.push_back(kExitStopped);
  const int status = WorstStatus(all);
  std::string roundLine;
  if (hosts.size() > 1) {
    std::string counts;
    for (int st : {kExitOk, kExitBusy, kExitTerminalOnly, kExitNoLogin, kExitLoginRefused, kExitSshRefused,
                   kExitHostKeyUnknown, kExitHostKeyChanged, kExitTimeout, kExitLineLost, kExitWrites, kExitStore,
                   kExitStopped}) {
      const auto n = std::count(statuses.begin(), statuses.end(), st);
      if (n > 0) counts += ", " + std::to_string(n) + " " + StatusWords(st);
    }
    if (notCalled > 0) counts += ", " + std::to_string(notCalled) + " not called";
    roundLine = Format("brelo: round of %zu hosts: %s; %d new (%d mail); exit status %d\n", hosts.size(),
                       counts.empty() ? "none called" : counts.substr(2).c_str(), newItems, newMail, status);
  }
  output.Finish(roundLine, newItems > 0 || status != kExitOk);
  return status;
}

}  // namespace brelo
