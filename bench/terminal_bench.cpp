// The terminal view while the demo host floods: redraws per second must stay
// at or below five (the 200 ms timer), and the main thread's time per redraw
// is printed.
#include <QApplication>
#include <QElapsedTimer>

#include "BenchUtil.h"
#include "DemoHostProcess.h"
#include "common/MainThread.h"
#include "session/VeskoClient.h"
#include "ui/TerminalPage.h"

using namespace brelo;

int main(int argc, char** argv) {
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  InstallMainThreadQueue();
  bench::TDemoHostProcess host({"--flood", "3000000"});
  TVeskoClient c;
  TTerminalPage page(c);
  page.resize(640, 340);
  page.show();
  c.OnReceive = [&page](TVeskoClient*, const std::string&) { page.MarkChanged(); };
  c.Address = "127.0.0.1:" + std::to_string(host.Port());
  const int before = page.PaintBox1->Redraws();
  c.Connect();
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < 4000) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  const int redraws = page.PaintBox1->Redraws() - before;
  const double seconds = t.elapsed() / 1000.0;
  c.Disconnect();
  std::printf("%.0f lines consumed meanwhile, %d rows a redraw\n", static_cast<double>(c.Ring().TakenCount()),
              page.PaintBox1->RowCount());
  bench::Report("terminal redraws per second while flooding", redraws / seconds, 5.0, "/s", "<= 1 (at most 5 a second)");
  bench::Report("terminal main-thread time per redraw, ms", page.PaintBox1->DrawSeconds() / std::max(1, redraws) * 1e3,
                200.0, "ms", "share of the 200 ms period");
  return redraws / seconds <= 5.2 ? 0 : 1;
}
