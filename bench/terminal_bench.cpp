// The terminal page while the demo host floods, in rounds of two floods:
// the line view alone (the ring's tail, redrawn at most five times a
// second) and the screen (libvterm fed with the tapped bytes, redraws
// coalesced), each counted over a window inside its flood. Printed: the
// redraws, the share of the main thread's time each view takes (the
// screen's at most 20 %; CPU time, so that a busy machine's waits do not
// count, and the wall clock beside it), the screen's part of the main
// thread's own time, the whole main thread's CPU share and the lines taken
// per second beside each other, and what a line of the screen's scrollback
// costs beside a line of the ring. Then the page beside tmux: the same flood
// (the demo host hangs up after it), once read by the page's screen and once
// by the telnet client in a tmux window of the same size, timed from the
// call to the flood's last line taken in (ratio at most 1). tmux and the
// telnet client are Debian's (tmux, inetutils-telnet); without them that
// part is left out and said so.
#include <time.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QImage>
#include <QPainter>
#include <QTimer>

#include <algorithm>
#include <optional>

#include "BenchUtil.h"
#include "DemoHostProcess.h"
#include "common/MainThread.h"
#include "reader/TerminalText.h"
#include "session/VeskoClient.h"
#include "ui/TerminalPage.h"
#include "ui/Text.h"

using namespace brelo;

namespace {

// A whole number of both views' redraw periods (200 ms and 40 ms): a window
// of seven and a half periods held seven redraws or eight by where it began
// against the view's timer.
constexpr int kWindowMs = 1600;

struct TRun {
  double seconds = 0;
  double viewSeconds = 0;    // the main thread's wall-clock time in the view (and the screen's feed)
  double viewCpuSeconds = 0; // its CPU time there
  double mainCpuSeconds = 0;
  double lines = 0;
  int redraws = 0;
  int rows = 0;
  double bytesPerLine = 0;   // what the view keeps per line
  int linesKept = 0;
  double bareDrawCpuSeconds = 0;  // the line view's rows drawn with Qt alone, per draw
};

// CPU seconds to draw the line view's rows as it draws rows in the
// terminal's own colours (each row's cell cleared, its text drawn) into an
// image of the view's size with its font, and nothing else: no view, no
// update. Fetching the rows from the ring is not timed.
double BareDraw(const TTerminalView& view, const TVeskoClient& c) {
  const std::vector<TTerminalRow> rows = TerminalRowsText(
      [&c](int i, std::string& text, std::vector<TAttrRun>& runs) { c.LineWithRuns(i, text, runs); }, c.LineIndex(),
      view.RowCount());
  QImage canvas(view.size(), QImage::Format_RGB32);
  const QFont font = view.font();
  const int h = QFontMetrics(font).height();
  const int left = view.TextLeft(), width = 80 * view.CellWidth();
  const double cpu = ThreadCpuSeconds();
  QPainter p(&canvas);
  p.setFont(font);
  for (size_t r = 0; r < rows.size(); ++r) {
    const QRect rect(left, static_cast<int>(r) * h, width, h);
    p.fillRect(rect, Qt::black);
    p.setPen(Qt::white);
    p.drawText(rect, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, Q(rows[r].text));
  }
  p.end();
  return ThreadCpuSeconds() - cpu;
}

// What the view has counted so far.
struct TCounters {
  double view = 0, viewCpu = 0, mainCpu = 0, lines = 0;
  int redraws = 0;
};

TCounters Count(TTerminalPage& page, TVeskoClient& c, bool screen) {
  TCounters n;
  n.mainCpu = ThreadCpuSeconds();
  n.lines = static_cast<double>(c.Ring().TakenCount());
  if (screen) {
    n.redraws = page.ScreenView->Paints();
    n.view = page.ScreenSeconds() + page.ScreenView->PaintSeconds();
    n.viewCpu = page.ScreenCpuSeconds() + page.ScreenView->PaintCpuSeconds();
  } else {
    n.redraws = page.PaintBox1->Redraws();
    n.view = page.PaintBox1->DrawSeconds();
    n.viewCpu = page.PaintBox1->DrawCpuSeconds();
  }
  return n;
}

// A flood that outlasts the measurement: its counts are taken over a window
// that lies wholly inside the flood, from the first line taken on, so that
// neither the connection's start nor the flood's end is in the figures (a
// flood that ended inside the window made the redraws per second a matter
// of when it ended). The host sends two million lines a second (108 MB/s),
// the same for both views: the screen's share is of a fixed flood, and not
// of whatever this machine could take in that moment, which moved a quarter
// from one run to the next. Empty when no line came within ten seconds.
std::optional<TRun> Flood(bool screen) {
  bench::TDemoHostProcess host({"--flood", "1000000000", "--flood-rate", "2000000"});
  TVeskoClient c;
  TTerminalPage page(c);
  page.resize(900, 560);
  page.SetLineView(!screen);
  if (!screen) c.Ring().SetScreenTap(nullptr);  // the line view as it was: nothing tapped
  page.show();
  c.OnReceive = [&page](TVeskoClient*, const std::string&) { page.MarkChanged(); };
  c.Address = "127.0.0.1:" + std::to_string(host.Port());
  c.Connect();
  QElapsedTimer t;
  t.start();
  // The main thread sleeps between events, as in the window: a loop that
  // polled for events without waiting kept a core busy and took the lines
  // at whatever pace the scheduler left the other threads.
  QTimer wake;
  wake.start(50);
  while (c.Ring().TakenCount() == 0 && t.elapsed() < 10000) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  wake.stop();
  if (c.Ring().TakenCount() == 0) return std::nullopt;
  const TCounters before = Count(page, c, screen);
  t.restart();
  // Beside the line view's redraws, its rows drawn alone as often, amid the
  // same flood: both meet the caches as the flood leaves them.
  double bare = 0, bareCpu = 0;
  int bareDraws = 0;
  QEventLoop window;
  QTimer end, draw;
  end.setSingleShot(true);
  QObject::connect(&end, &QTimer::timeout, &window, &QEventLoop::quit);
  QObject::connect(&draw, &QTimer::timeout, [&] {
    const double cpu = ThreadCpuSeconds();
    bare += BareDraw(*page.PaintBox1, c);
    ++bareDraws;
    bareCpu += ThreadCpuSeconds() - cpu;  // not the main thread's work for the flood
  });
  end.start(kWindowMs);
  if (!screen) draw.start(200);
  window.exec();
  const TCounters after = Count(page, c, screen);
  TRun r;
  r.seconds = t.elapsed() / 1000.0;
  r.mainCpuSeconds = after.mainCpu - before.mainCpu - bareCpu;
  r.lines = after.lines - before.lines;
  r.redraws = after.redraws - before.redraws;
  r.viewSeconds = after.view - before.view;
  r.viewCpuSeconds = after.viewCpu - before.viewCpu;
  if (screen) {
    r.rows = page.Screen().Rows();
    r.linesKept = page.Screen().ScrollbackSize();
    r.bytesPerLine = static_cast<double>(page.Screen().ScrollbackBytes()) / std::max(1, r.linesKept);
  } else {
    r.rows = page.PaintBox1->RowCount();
    size_t bytes = 0;
    for (int i = 0; i < TLineRing::kSize; ++i) bytes += sizeof(std::string) + c.Lines(i).size() + sizeof(std::vector<TAttrRun>);
    r.linesKept = TLineRing::kSize;
    r.bytesPerLine = static_cast<double>(bytes) / TLineRing::kSize;
  }
  r.bareDrawCpuSeconds = bare / std::max(1, bareDraws);
  c.Disconnect();
  return r;
}

// The flood of the comparison with tmux: long enough that starting a
// process is a small part of it, short enough for rounds.
constexpr long kTmuxLines = 200000;

// The page's screen takes the flood from a terminal-only session (nothing
// answered for the user): seconds from the call until the screen shows the
// flood's last line. Empty when it did not within a minute.
std::optional<double> PageTakes() {
  bench::TDemoHostProcess host({"--flood", std::to_string(kTmuxLines), "--flood-only"});
  TVeskoClient c;
  TTerminalPage page(c);
  page.resize(900, 560);
  page.show();
  char last[16];
  std::snprintf(last, sizeof last, "%07ld", kTmuxLines);
  const QString lastLine = QString::fromLatin1(last);
  c.Address = "127.0.0.1:" + std::to_string(host.Port());
  c.TerminalOnly = true;
  const double start = bench::Seconds();
  c.Connect();
  QTimer wake;
  wake.start(2);
  QElapsedTimer t;
  t.start();
  const auto shown = [&] {
    const TTerminalScreen& s = page.Screen();
    return s.CursorRow() > 0 && s.RowText(s.CursorRow() - 1).startsWith(lastLine);
  };
  while (!shown() && t.elapsed() < 60000) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  const double seconds = bench::Seconds() - start;
  c.Disconnect();
  if (!shown()) return std::nullopt;
  return seconds;
}

// The page's screen size in the benchmark's window.
QSize PageCells() {
  TVeskoClient c;
  TTerminalPage page(c);
  page.resize(900, 560);
  page.show();
  return {page.Screen().Columns(), page.Screen().Rows()};
}

// The same flood through the telnet client in a new window of the tmux
// server (its windows the page's size): seconds from the window's start
// until the client ended, the host having hung up after the flood. Empty
// when tmux or the client failed.
std::optional<double> TmuxTakes(const std::string& server) {
  bench::TDemoHostProcess host({"--flood", std::to_string(kTmuxLines), "--flood-only"});
  const std::string tmux = "tmux -L " + server + " ";
  const std::string window = tmux + "new-window -d 'telnet 127.0.0.1 " + std::to_string(host.Port()) + "; " + tmux +
                             "wait-for -S flood-done' && " + tmux + "wait-for flood-done";
  const double start = bench::Seconds();
  if (std::system(window.c_str()) != 0) return std::nullopt;
  return bench::Seconds() - start;
}

bool Have(const char* program) {
  const std::string which = std::string("command -v ") + program + " >/dev/null 2>&1";
  return std::system(which.c_str()) == 0;
}

// The two views under a fixed flood; false when a goal was missed.
bool ViewsUnderFlood() {
  // A first pair not counted (fonts, the first allocations), then twelve, in
  // turn the line view first and the screen first.
  bench::TRounds lineRedraws, lineDraw, bareDraw, screenShare, lineShare, screenWall, screenRedraws, screenBusy, lineBusy,
      screenLines, lineLines;
  TRun lines, screen;
  bool tooMany = false;
  for (int round = -1; round < 12; ++round) {
    std::optional<TRun> l, s;
    if (round % 2 == 0) {
      l = Flood(false);
      s = Flood(true);
    } else {
      s = Flood(true);
      l = Flood(false);
    }
    if (!l || !s) {
      std::fprintf(stderr, "terminal_bench: the demo host's flood did not arrive\n");
      std::exit(1);
    }
    if (round < 0) continue;
    lines = *l;
    screen = *s;
    lineRedraws.Add(lines.redraws / lines.seconds);
    // Five a second: a window of 1.6 s may hold a redraw at each end, 1 + 8.
    if (lines.redraws > static_cast<int>(lines.seconds * 5) + 1) tooMany = true;
    lineDraw.Add(lines.viewCpuSeconds / std::max(1, lines.redraws) * 1e3);
    bareDraw.Add(lines.bareDrawCpuSeconds * 1e3);
    screenShare.Add(100.0 * screen.viewCpuSeconds / screen.seconds);
    lineShare.Add(100.0 * lines.viewCpuSeconds / lines.seconds);
    screenWall.Add(100.0 * screen.viewSeconds / screen.seconds);
    screenRedraws.Add(screen.redraws / screen.seconds);
    screenBusy.Add(100.0 * screen.mainCpuSeconds / screen.seconds);
    lineBusy.Add(100.0 * lines.mainCpuSeconds / lines.seconds);
    screenLines.Add(screen.lines / screen.seconds);
    lineLines.Add(lines.lines / lines.seconds);
  }
  std::printf("line view: %d rows a redraw; screen: %d rows, %d lines of scrollback\n", lines.rows, screen.rows,
              screen.linesKept);
  bench::Report("terminal redraws per second while flooding", lineRedraws, 5.0, "/s", "<= 1 (at most 5 a second)");
  // Beside drawing the same rows alone, not beside the 200 ms period: a
  // redraw's milliseconds move with this machine's speed from run to run,
  // its cost over bare drawing does not.
  bench::Report("terminal main-thread time per redraw (CPU), beside drawing its rows alone, ms", lineDraw, bareDraw,
                "ms", "the view's cost over Qt's drawing (the period is 200 ms)");
  bench::Report("screen: main thread's share in the screen while flooding (CPU)", screenShare, 20.0, "%",
                "<= 1 (at most 20 %)");
  // Its part of the main thread's own time in the same flood: both move
  // with the machine together. Beside the line view's share, it did not
  // hold still: the line view's share is a few short redraws a second on
  // cold caches, and moves with this machine's memory from run to run.
  bench::Report("screen: its part of the main thread's CPU while flooding", screenShare, screenBusy, "%",
                "the rest: the receive path and the event loop");
  bench::Report("screen: its share of the wall clock while flooding", screenWall, 20.0, "%",
                "information (a busy machine's waits included)");
  bench::Report("line view: its share of the main thread while flooding (CPU)", lineShare, "%", "information");
  bench::Report("screen: redraws per second while flooding", screenRedraws, 1000.0 / TTerminalPage::kScreenIntervalMs, "/s", "<= 1 (coalesced)");
  bench::Report("screen: main thread busy while flooding, beside the line view", screenBusy, lineBusy, "%",
                "the whole main thread, both views");
  bench::Report("screen: lines taken per second, beside the line view", screenLines, lineLines, "/s",
                "near 1 (the flood is not slowed)");
  bench::Report("screen: scrollback bytes per line, beside a ring line", screen.bytesPerLine, lines.bytesPerLine,
                "B", "memory of 10,000 lines against the ring's 1000");
  bench::Report("screen: scrollback MB (10,000 lines), beside the ring", screen.bytesPerLine * screen.linesKept / 1e6,
                lines.bytesPerLine * lines.linesKept / 1e6, "MB", "information");
  if (tooMany) std::fprintf(stderr, "terminal_bench: the line view redrew more than five times a second\n");
  if (screenShare.Median() > 20.0) std::fprintf(stderr, "terminal_bench: the screen took more than 20 %% of the main thread\n");
  return !tooMany && screenShare.Median() <= 20.0;
}

// The page beside tmux reading the same flood through the telnet client;
// false when the page was slower.
bool BesideTmux() {
  bool slower = false;
  if (!Have("tmux") || !Have("telnet")) {
    std::printf("page beside tmux: left out (it needs tmux and inetutils-telnet)\n");
  } else {
    const QSize cells = PageCells();
    const std::string server = "brelo-bench-" + std::to_string(::getpid());
    // A server of its own, the page's size and scrollback.
    const std::string start = "tmux -L " + server + " -f /dev/null new-session -d -x " + std::to_string(cells.width()) +
                              " -y " + std::to_string(cells.height()) + " 'sleep 3600' \\; set -g history-limit " +
                              std::to_string(TTerminalScreen::kScrollbackLines);
    if (std::system(start.c_str()) != 0) {
      std::fprintf(stderr, "terminal_bench: tmux did not start\n");
      std::exit(1);
    }
    bench::TRounds pageTimes, tmuxTimes;
    for (int round = -1; round < 8; ++round) {
      std::optional<double> p, t;
      if (round % 2 == 0) {
        p = PageTakes();
        t = TmuxTakes(server);
      } else {
        t = TmuxTakes(server);
        p = PageTakes();
      }
      if (!p || !t) {
        std::fprintf(stderr, "terminal_bench: the flood did not arrive (%s)\n", p ? "tmux" : "the page");
        (void)!std::system(("tmux -L " + server + " kill-server").c_str());
        std::exit(1);
      }
      if (round < 0) continue;
      pageTimes.Add(*p);
      tmuxTimes.Add(*t);
    }
    (void)!std::system(("tmux -L " + server + " kill-server").c_str());
    std::printf("page beside tmux: %ld lines (%d x %d cells, %d lines of scrollback each)\n", kTmuxLines, cells.width(),
                cells.height(), TTerminalScreen::kScrollbackLines);
    bench::Report("terminal: a flood taken in, beside tmux with the telnet client", pageTimes, tmuxTimes, "s",
                  "<= 1 (at least as fast)");
    std::vector<double> ratios;
    for (size_t i = 0; i < pageTimes.Size(); ++i) ratios.push_back(pageTimes[i] / tmuxTimes[i]);
    std::sort(ratios.begin(), ratios.end());
    slower = ratios[ratios.size() / 2] > 1.0;
    if (slower) std::fprintf(stderr, "terminal_bench: the page took the flood more slowly than tmux\n");
  }
  return !slower;
}

}  // namespace

// Both parts, or the one named: --views, --beside-tmux.
int main(int argc, char** argv) {
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  InstallMainThreadQueue();
  const std::string only = argc > 1 ? argv[1] : "";
  bool ok = true;
  if (only != "--beside-tmux") ok &= ViewsUnderFlood();
  if (only != "--views") ok &= BesideTmux();
  return ok ? 0 : 1;
}
