#include "app/Pilot.h"

#include <QCoreApplication>
#include <QTimer>
#include <chrono>
#include <cstdio>

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

int PilotExitStatus(const TPassSummary& s, bool timedOut) {
  if (s.storeFailed) return kExitStore;
  if (timedOut) return kExitTimeout;
  if (!s.loggedIn) return kExitNoLogin;
  if (!s.logoutSent || !s.loggedOut) return kExitLineLost;
  if (!s.WritesAllDone()) return kExitWrites;
  return kExitOk;
}

int RunPilot(const TCommandLine& cmd, const std::string& programFolder) {
  TConsoleView view(true);
  TMainModel model(programFolder, view);
  view.store = &model.Store;
  try {
    model.Hosts.LoadHostList(programFolder);
  } catch (const EInOutError& e) {
    view.ReportError(e.what());
    return kExitNoLogin;
  }
  if (!model.Hosts.LoadProblem.empty()) view.ReportError(model.Hosts.LoadProblem);
  const int index = FindHost(model.Hosts, cmd.host);
  if (index < 0) {
    std::fprintf(stderr, "brelo: there is no host \"%s\" in the host list %s. The hosts are:\n", cmd.host.c_str(),
                 THostTable::FileName(programFolder).c_str());
    for (int i = 0; i < model.Hosts.HostCount; ++i) {
      std::fprintf(stderr, "  %d  %s\n", i, SjisToUtf8(model.Hosts.HostTable[static_cast<size_t>(i)].Title).c_str());
    }
    return kExitUnknownHost;
  }
  TModemSettings modem;
  modem.Read(programFolder);
  modem.ApplyTo(model.VeskoClient1);
  TSessionPolicy& policy = model.Policy;
  policy.Options.PassgoodbyeMessage = true;  // nobody is there to answer the goodbye
  policy.HostComboBoxChange(index);
  std::printf("brelo: %s (%s)\n", SjisToUtf8(model.Hosts.HostTable[static_cast<size_t>(index)].Title).c_str(),
              model.Store.HostFolder.c_str());
  std::fflush(stdout);

  bool timedOut = false;
  TVeskoClient& client = model.VeskoClient1;
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, [&] {
    // A work thread that gave up on its own (port, busy line) leaves the send
    // thread waiting for Disconnect.
    if (client.SessionRunning() && !client.WorkThreadRunning()) client.Disconnect();
    if (!client.SessionRunning()) QCoreApplication::quit();
  });
  watch.start(100);
  // The time-out never fires early: a timer may, so the clock decides.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(cmd.timeoutSeconds);
  QTimer limit;
  limit.setSingleShot(true);
  limit.setTimerType(Qt::PreciseTimer);
  QObject::connect(&limit, &QTimer::timeout, [&] {
    const auto left = deadline - std::chrono::steady_clock::now();
    if (left > std::chrono::milliseconds(0)) {
      limit.start(static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(left).count()) + 1);
      return;
    }
    timedOut = true;
    std::fprintf(stderr, "brelo: no logout after %d seconds; disconnecting\n", cmd.timeoutSeconds);
    if (client.SessionRunning()) client.Disconnect();
  });
  policy.SpeedButton1Click(true);
  if (client.SessionRunning()) {
    limit.start(cmd.timeoutSeconds * 1000);
    QCoreApplication::exec();
  }

  // What the pass stored is on the disk before it is reported.
  try {
    model.Store.Sync();
  } catch (const EInOutError& e) {
    view.ReportError(e.what());
    return kExitStore;
  }
  for (int b = 0; b < kBoardCount; ++b) {
    const TBoardEntry& e = model.Store.BoardTable[static_cast<size_t>(b)];
    const int n = model.Store.RecordCount(b);
    if (!e.Active || n == 0) continue;
    std::printf("  %02d %-8s %s: %d\n", b, e.Name.c_str(), SjisToUtf8(e.Title).c_str(), n);
  }
  const TPassSummary& s = policy.Summary();
  std::printf("brelo: received %d: %d stored, %d already stored, %d lost\n", policy.ReceivedCount(), s.stored,
              s.duplicates, s.lost);
  std::printf("brelo: writes: %d sent, %d refused by the host, %d failed, %d skipped, %d interrupted, %d not recorded; "
              "%d reservation(s) left in the box\n",
              s.sent, s.refused, s.failed, s.skipped, s.interrupted, s.unrecorded, model.Box.ReservationCount);
  const int status = PilotExitStatus(s, timedOut);
  // Why, in words, for the one who reads the cron mail.
  const TVeskoClient::TLineError err = client.LastLineError();
  const std::string address = model.Hosts.HostTable[static_cast<size_t>(index)].Address;
  switch (status) {
    case kExitStore:
      std::fprintf(stderr, "brelo: %s\n", SjisToUtf8(s.problem).c_str());
      break;
    case kExitTimeout:
      if (!s.loggedIn) {
        std::fprintf(stderr, "brelo: %s did not answer the login within %d seconds\n", address.c_str(),
                     cmd.timeoutSeconds);
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
    default:
      break;
  }
  return status;
}

}  // namespace brelo
