// The terminal page while the demo host floods, in two runs of one program:
// the line view alone (the ring's tail, redrawn at most five times a
// second) and the screen (libvterm fed with the tapped bytes, redraws
// coalesced). Printed: the redraws, the share of the main thread's time
// each view takes (the screen's at most 20 %; CPU time, so that a busy
// machine's waits do not count, and the wall clock beside it), the whole main thread's CPU
// share and the lines taken per second beside each other, and what a line
// of the screen's scrollback costs beside a line of the ring.
#include <time.h>

#include <QApplication>
#include <QElapsedTimer>

#include "BenchUtil.h"
#include "DemoHostProcess.h"
#include "common/MainThread.h"
#include "session/VeskoClient.h"
#include "ui/TerminalPage.h"

using namespace brelo;

namespace {

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
};

TRun Flood(bool screen) {
  bench::TDemoHostProcess host({"--flood", "3000000"});
  TVeskoClient c;
  TTerminalPage page(c);
  page.resize(900, 560);
  page.SetLineView(!screen);
  if (!screen) c.Ring().SetScreenTap(nullptr);  // the line view as it was: nothing tapped
  page.show();
  c.OnReceive = [&page](TVeskoClient*, const std::string&) { page.MarkChanged(); };
  c.Address = "127.0.0.1:" + std::to_string(host.Port());
  const int before = screen ? page.ScreenView->Paints() : page.PaintBox1->Redraws();
  c.Connect();
  QElapsedTimer t;
  t.start();
  const double cpu0 = ThreadCpuSeconds();
  while (t.elapsed() < 4000) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  TRun r;
  r.mainCpuSeconds = ThreadCpuSeconds() - cpu0;
  r.seconds = t.elapsed() / 1000.0;
  r.lines = static_cast<double>(c.Ring().TakenCount());
  if (screen) {
    r.redraws = page.ScreenView->Paints() - before;
    r.viewSeconds = page.ScreenSeconds() + page.ScreenView->PaintSeconds();
    r.viewCpuSeconds = page.ScreenCpuSeconds() + page.ScreenView->PaintCpuSeconds();
    r.rows = page.Screen().Rows();
    r.linesKept = page.Screen().ScrollbackSize();
    r.bytesPerLine = static_cast<double>(page.Screen().ScrollbackBytes()) / std::max(1, r.linesKept);
  } else {
    r.redraws = page.PaintBox1->Redraws() - before;
    r.viewSeconds = page.PaintBox1->DrawSeconds();
    r.viewCpuSeconds = page.PaintBox1->DrawCpuSeconds();
    r.rows = page.PaintBox1->RowCount();
    size_t bytes = 0;
    for (int i = 0; i < TLineRing::kSize; ++i) bytes += sizeof(std::string) + c.Lines(i).size() + sizeof(std::vector<TAttrRun>);
    r.linesKept = TLineRing::kSize;
    r.bytesPerLine = static_cast<double>(bytes) / TLineRing::kSize;
  }
  c.Disconnect();
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  InstallMainThreadQueue();
  const TRun lines = Flood(false);
  const TRun screen = Flood(true);
  std::printf("line view: %.0f lines taken, %d rows a redraw; screen: %.0f lines taken, %d rows, %d lines of scrollback\n",
              lines.lines, lines.rows, screen.lines, screen.rows, screen.linesKept);
  bench::Report("terminal redraws per second while flooding", lines.redraws / lines.seconds, 5.0, "/s",
                "<= 1 (at most 5 a second)");
  bench::Report("terminal main-thread time per redraw, ms", lines.viewSeconds / std::max(1, lines.redraws) * 1e3,
                200.0, "ms", "share of the 200 ms period");
  const double screenShare = 100.0 * screen.viewCpuSeconds / screen.seconds;
  bench::Report("screen: main thread's share in the screen while flooding (CPU)", screenShare, 20.0, "%",
                "<= 1 (at most 20 %)");
  bench::Report("screen: its share beside the line view's (CPU)", screenShare,
                100.0 * lines.viewCpuSeconds / lines.seconds, "%", "the screen's cost over the line view's");
  bench::Report("screen: its share of the wall clock, beside the line view's", 100.0 * screen.viewSeconds / screen.seconds,
                100.0 * lines.viewSeconds / lines.seconds, "%", "information (a busy machine's waits included)");
  bench::Report("screen: redraws per second while flooding", screen.redraws / screen.seconds,
                1000.0 / TTerminalPage::kScreenIntervalMs, "/s", "<= 1 (coalesced)");
  bench::Report("screen: main thread busy while flooding, beside the line view", 100.0 * screen.mainCpuSeconds / screen.seconds,
                100.0 * lines.mainCpuSeconds / lines.seconds, "%", "the whole main thread, both views");
  bench::Report("screen: lines taken per second, beside the line view", screen.lines / screen.seconds,
                lines.lines / lines.seconds, "/s", "near 1 (the flood is not slowed)");
  bench::Report("screen: scrollback bytes per line, beside a ring line", screen.bytesPerLine, lines.bytesPerLine,
                "B", "memory of 10,000 lines against the ring's 1000");
  bench::Report("screen: scrollback MB (10,000 lines), beside the ring", screen.bytesPerLine * screen.linesKept / 1e6,
                lines.bytesPerLine * lines.linesKept / 1e6, "MB", "information");
  const bool ok = lines.redraws / lines.seconds <= 5.2 && screenShare <= 20.0;
  return ok ? 0 : 1;
}
