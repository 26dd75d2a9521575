#include "app/Pilot.h"

#include <QCoreApplication>
#include <QTimer>
#include <cstdio>

#include "app/CommandLine.h"
#include "app/ModemSettings.h"
#include "common/FileUtil.h"
#include "common/Sjis.h"
#include "common/StringLock.h"
#include "ui/MainModel.h"

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

int RunPilot(const TCommandLine& cmd, const std::string& programFolder) {
  TConsoleView view(true);
  TMainModel model(programFolder, view);
  view.store = &model.Store;
  try {
    model.Hosts.LoadHostList(programFolder);
  } catch (const EInOutError& e) {
    view.ReportError(e.what());
    return 1;
  }
  const int index = FindHost(model.Hosts, cmd.host);
  if (index < 0) {
    std::fprintf(stderr, "brelo: there is no host \"%s\" in the host list. The hosts are:\n", cmd.host.c_str());
    for (int i = 0; i < model.Hosts.HostCount; ++i) {
      std::fprintf(stderr, "  %d  %s\n", i, SjisToUtf8(model.Hosts.HostTable[static_cast<size_t>(i)].Title).c_str());
    }
    return 2;
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
  QTimer limit;
  limit.setSingleShot(true);
  QObject::connect(&limit, &QTimer::timeout, [&] {
    timedOut = true;
    std::fprintf(stderr, "brelo: no logout after %d seconds; disconnecting\n", cmd.timeoutSeconds);
    if (client.SessionRunning()) client.Disconnect();
  });
  if (cmd.timeoutSeconds > 0) limit.start(cmd.timeoutSeconds * 1000);
  policy.SpeedButton1Click(true);
  QCoreApplication::exec();

  // What the pass stored, board by board.
  for (int b = 0; b < kBoardCount; ++b) {
    const TBoardEntry& e = model.Store.BoardTable[static_cast<size_t>(b)];
    const int n = model.Store.RecordCount(b);
    if (!e.Active || n == 0) continue;
    std::printf("  %02d %-8s %s: %d\n", b, e.Name.c_str(), SjisToUtf8(e.Title).c_str(), n);
  }
  std::printf("brelo: received %d, %d reservation(s) left in the box\n", policy.ReceivedCount(),
              model.Box.ReservationCount);
  if (timedOut) return 3;
  if (!policy.LoggedOut() || !policy.LogoutSent()) {
    std::fprintf(stderr, "brelo: the pass did not end with the host's logout\n");
    return 1;
  }
  return 0;
}

}  // namespace brelo
