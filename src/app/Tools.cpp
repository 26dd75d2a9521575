#include "app/Tools.h"

#include <cstdio>
#include <iostream>

#include "app/CommandLine.h"
#include "app/Pilot.h"
#include "common/FileUtil.h"
#include "common/Sjis.h"
#include "store/ArticleSearch.h"
#include "store/Export.h"
#include "reader/MainModel.h"
#include "reader/Recapture.h"

namespace brelo {
namespace {

// The model with the host of the command line selected; nullptr and a
// message when there is no such host.
struct TOpened {
  TConsoleView view{false};
  std::unique_ptr<TMainModel> model;
  int host = -1;
};

// Searching and exporting only read the host's files; a re-capture writes
// them, and so waits for a pass in progress elsewhere like a pilot does.
enum class EUse { kRead, kWrite };

int Open(const TCommandLine& cmd, const std::string& folder, TOpened& o, EUse use) {
  o.model = std::make_unique<TMainModel>(folder, o.view);
  o.view.store = &o.model->Store;
  try {
    o.model->Hosts.LoadHostList(folder);
  } catch (const EInOutError& e) {
    o.view.ReportError(e.what());
    return kExitHostList;
  }
  const int index = FindHost(o.model->Hosts, cmd.host);
  if (index < 0) {
    std::fprintf(stderr, "brelo: there is no host \"%s\" in the host list\n", cmd.host.c_str());
    return kExitUnknownHost;
  }
  o.host = index;
  if (const std::string why = o.model->Policy.FolderProblem(index); !why.empty()) {
    o.view.ReportError(why);
    return kExitStore;
  }
  if (use == EUse::kRead) {
    o.model->Store.HostFolder = o.model->Policy.FolderOf(index);
    o.view.ShowBoardList();
    return kExitOk;
  }
  o.model->Policy.LockWaitMs = cmd.lockWaitSeconds * 1000;
  o.model->Policy.HostComboBoxChange(index);
  if (o.model->Policy.HostBusy()) {
    o.view.ReportError(o.model->Policy.BusyText());
    return kExitBusy;
  }
  return kExitOk;
}

}  // namespace

int RunSearch(const TCommandLine& cmd, const std::string& folder) {
  TOpened o;
  if (const int status = Open(cmd, folder, o, EUse::kRead); status != kExitOk) return status;
  const TSjisResult text = Utf8ToSjisChecked(cmd.text);
  if (!text.ok()) {
    std::fprintf(stderr, "brelo: Shift-JIS cannot hold %s\n", text.unmappable.toUtf8().constData());
    return 1;
  }
  try {
    // Each hit is printed as it is found: nothing of the store is held.
    SearchArticles(o.model->Store, text.bytes, [&](const TSearchHit& h) {
      const TBoardEntry& b = o.model->Store.BoardTable[static_cast<size_t>(h.Board)];
      std::printf("%02d %-8s #%04d %s %s  %s\n", h.Board, b.Name.c_str(), h.Article.MesNo,
                  SjisToUtf8(h.Article.FromID).c_str(), SjisToUtf8(h.Article.FromHandle).c_str(),
                  SjisToUtf8(h.Article.Title).c_str());
    });
  } catch (const EInOutError& e) {
    o.view.ReportError(e.what());
    return 1;
  }
  return 0;
}

int RunRecapture(const TCommandLine& cmd, const std::string& folder) {
  TOpened o;
  if (const int status = Open(cmd, folder, o, EUse::kWrite); status != kExitOk) return status;
  try {
    const std::optional<TRecaptureResult> done = RecaptureFile(*o.model, cmd.text);
    if (!done) {
      std::fprintf(stderr, "brelo: there is no session log %s\n", cmd.text.c_str());
      return 1;
    }
    const TRecaptureResult& r = *done;
    std::printf(
        "brelo: %d stored, %d already stored, %d cut off at the end of the log (kept as far as it goes), %d board "
        "announcements\n",
        r.stored, r.skipped, r.cut, r.boards);
  } catch (const EInOutError& e) {
    o.view.ReportError(e.what());
    return 1;
  }
  return 0;
}

int RunExport(const TCommandLine& cmd, const std::string& folder) {
  TOpened o;
  if (const int status = Open(cmd, folder, o, EUse::kRead); status != kExitOk) return status;
  try {
    const THostEntry& h = o.model->Hosts.HostTable[static_cast<size_t>(o.host)];
    std::string name;
    for (char c : SjisToUtf8(h.FilePath)) {
      name += (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ? c : '-';
    }
    ExportArticles(o.model->Store, cmd.board, cmd.format == "mbox", name.empty() ? "host" : name, std::cout);
    std::cout.flush();
  } catch (const EInOutError& e) {
    o.view.ReportError(e.what());
    return 1;
  }
  return 0;
}

}  // namespace brelo
