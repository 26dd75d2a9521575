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

// What is timed below a millisecond is done this many times a round and
// the mean taken: one such timing alone moved a round's ratio fivefold.
constexpr int kRepeat = 20;

// Seconds from making the window to its being shown (negative when it was not).
double Show(std::unique_ptr<TMainForm>& form, const std::string& home) {
  const double t0 = bench::Seconds();
  form = std::make_unique<TMainForm>(home, TAppSettings());
  form->show();
  if (!Exposed(form.get())) return -1;
  QApplication::processEvents();
  return bench::Seconds() - t0;
}

double Empty(const std::string& home) {
  std::unique_ptr<TMainForm> form;
  return Show(form, home);
}

struct TTimes {
  double shown = -1, opened = -1, listed = -1;
};

// Seconds to the shown window, then to the listed board, then to the list
// alone; each negative when it failed.
TTimes Brelo(const std::string& home, bool listFirst) {
  std::unique_ptr<TMainForm> form;
  TTimes t;
  t.shown = Show(form, home);
  if (t.shown < 0) return t;
  TArticleBrowser& browser = form->Browser();
  int line = -1;
  for (size_t i = 0; i < browser.BoardLines.size(); ++i) {
    if (TArticleBrowser::BoardOfLine(browser.BoardLines[i]) == 1) line = static_cast<int>(i);
  }
  if (line < 0) return t;
  const auto open = [&] {
    const double t0 = bench::Seconds();
    for (int i = 0; i < kRepeat; ++i) {
      browser.BoardsClick(line);
      QApplication::processEvents();
    }
    return (bench::Seconds() - t0) / kRepeat;
  };
  const auto list = [&] {
    const double t0 = bench::Seconds();
    for (int i = 0; i < kRepeat; ++i) browser.ShowArticleList();
    const double s = (bench::Seconds() - t0) / kRepeat;
    QApplication::processEvents();  // the view's update, not timed
    return s;
  };
  if (listFirst) {
    t.listed = list();
    t.opened = open();
  } else {
    t.opened = open();
    t.listed = list();
  }
  if (browser.RowCount() != TArticleBrowser::kListed) t.opened = -1;
  return t;
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
  // A first round not counted (fonts, plugins and the store's pages loaded
  // the first time), then nine, in turn the empty window first and the
  // stored one first.
  bench::TRounds shown, emptyShown, opened, listed;
  for (int round = -1; round < 9; ++round) {
    double e;
    TTimes b;
    if (round % 2 == 0) {
      e = Empty(empty);
      b = Brelo(home, true);
    } else {
      b = Brelo(home, false);
      e = Empty(empty);
    }
    if (e < 0 || b.shown < 0 || b.opened < 0 || b.listed < 0) {
      std::fprintf(stderr, "window_bench: a window did not show, or the board did not list\n");
      return 1;
    }
    if (round < 0) continue;
    shown.Add(b.shown * 1e3);
    emptyShown.Add(e * 1e3);
    opened.Add(b.opened * 1e3);
    listed.Add(b.listed * 1e3);
  }
  std::filesystem::remove_all(home);
  std::filesystem::remove_all(empty);
  bench::Report("window shown, 100,000 stored, ms", shown, emptyShown, "ms", "(the same window, nothing stored)");
  bench::Report("window shown, nothing stored, ms", emptyShown, "ms", "(information)");
  bench::Report("opening the 100,000-message board, ms", opened, listed, "ms", "(its list built alone)");
  return 0;
}
