// The window with a store of 100,000 messages on one board: from start to the
// first shown window, beside the same window with nothing stored; and
// opening that board (its newest 999 listed and the view updated), beside
// building the same list alone. Each beside the other in the same round.
//
// The baselines do the same kind of work as their figures: this machine's
// speed moves by up to half between runs, and a hello-world window (a
// fraction of a millisecond) beside a whole window moved their ratio by a
// third from one run to the next.
#include <QApplication>
#include <QListView>
#include <QWindow>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <utility>
#include <string>

#include "BenchUtil.h"
#include "common/MainThread.h"
#include "common/Sjis.h"
#include "ui/BrowserPage.h"
#include "ui/MainForm.h"

using namespace brelo;

namespace {

// Processes events until the window is on the screen (at most ten seconds).
bool Exposed(QWidget* w) {
  const double limit = bench::Seconds() + 10;
  while (bench::Seconds() < limit) {
    QApplication::processEvents(QEventLoop::AllEvents, 5);
    if (w->windowHandle() != nullptr && w->windowHandle()->isExposed()) return true;
  }
  return false;
}

// Makes the window on `home` and shows it; false when it did not show.
bool Show(std::unique_ptr<TMainForm>& form, const std::string& home) {
  form = std::make_unique<TMainForm>(home, TAppSettings());
  form->show();
  if (!Exposed(form.get())) return false;
  QApplication::processEvents();
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (std::getenv("DISPLAY") == nullptr && std::getenv("WAYLAND_DISPLAY") == nullptr) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  QApplication app(argc, argv);
  InstallMainThreadQueue();
  const int count = argc > 1 ? std::atoi(argv[1]) : 100000;
  const std::string home = bench::TempFolder("window") + "/";
  // The same window with nothing stored: what the store adds to the start.
  const std::string empty = bench::TempFolder("window-empty") + "/";
  {
    // The first start writes the sample host list; host 0 keeps its messages in DEMO/.
    TMainForm first(home, TAppSettings());
    TMainForm firstEmpty(empty, TAppSettings());
  }
  {
    TMessageStore store;
    store.HostFolder = home + "DEMO/";
    store.LoadBoards();
    store.BoardTable[1].Active = 1;
    store.BoardTable[1].Name = "GENERAL";
    store.SaveBoards();
    for (int i = 0; i < count; ++i) {
      TVeskoMessage m;
      m.BoardNo = 1;
      m.MesNo = -1;
      m.FromID = "USER" + std::to_string(i % 50);
      m.Title = Sjis("題名") + std::to_string(i);
      m.Text = Sjis("本文です。\r\n");
      store.AppendMessage(m);
    }
    store.Sync();
  }
  // Nine rounds, each the least time of each kind over its bursts (this
  // machine's memory is slowed by its neighbours from moment to moment, a
  // window's start more than the list's threading: the least time is the
  // work's own): the window shown, beside the same window with nothing
  // stored, over three bursts of two each; then, in the stored window,
  // opening the board (listed, the view updated and drawn) beside building
  // its list alone, over five bursts of ten each. Before the rounds, one
  // start of each not counted (fonts, plugins, the store's pages).
  bench::TRounds shown, emptyShown, opened, listed;
  std::unique_ptr<TMainForm> form;
  const auto showEmpty = [&] {
    const bool ok = Show(form, empty);
    form.reset();
    return ok;
  };
  const auto showStored = [&] {
    const bool ok = Show(form, home);
    form.reset();
    return ok;
  };
  if (!showEmpty() || !showStored()) {
    std::fprintf(stderr, "window_bench: a window did not show\n");
    return 1;
  }
  for (int round = 0; round < 9; ++round) {
    const std::vector<double> starts = bench::LeastTimes({showEmpty, showStored}, 3, 2, 20);
    if (starts.empty() || !Show(form, home)) {
      std::fprintf(stderr, "window_bench: a window did not show\n");
      return 1;
    }
    TArticleBrowser& browser = form->Browser();
    int line = -1;
    for (size_t i = 0; i < browser.BoardLines.size(); ++i) {
      if (TArticleBrowser::BoardOfLine(browser.BoardLines[i]) == 1) line = static_cast<int>(i);
    }
    const auto open = [&] {
      browser.BoardsClick(line);
      QApplication::processEvents();
      return browser.RowCount() == TArticleBrowser::kListed;
    };
    const auto list = [&] {
      browser.ShowArticleList();
      return true;
    };
    const std::vector<double> board = line < 0 ? std::vector<double>() : bench::LeastTimes({open, list}, 5, 10, 20);
    QApplication::processEvents();  // the view's update after the last list, not timed
    form.reset();
    if (board.empty()) {
      std::fprintf(stderr, "window_bench: the board did not list\n");
      return 1;
    }
    emptyShown.Add(starts[0] * 1e3);
    shown.Add(starts[1] * 1e3);
    opened.Add(board[0] * 1e3);
    listed.Add(board[1] * 1e3);
  }
  std::filesystem::remove_all(home);
  std::filesystem::remove_all(empty);
  bench::Report("window shown, 100,000 stored, ms", shown, emptyShown, "ms", "(the same window, nothing stored)");
  bench::Report("window shown, nothing stored, ms", emptyShown, "ms", "(information)");
  bench::Report("opening the 100,000-message board, ms", opened, listed, "ms", "(its list built alone)");
  return 0;
}
