// Memory of the command-line tools on a store of 100,000 messages on one
// board: --search with a few hits and with every message a hit, --export of
// the board, and --recapture of a session log of 100,000 messages (about
// 75 MB). Each runs as its own process; its peak RSS is set beside that of
// `brelo --version`, the program's own floor, measured in the same run.
#include <sys/resource.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "BenchUtil.h"
#include "common/Sjis.h"
#include "store/MessageStore.h"

using namespace brelo;

namespace {

// Runs the program with args, its output thrown away; the peak RSS in MB,
// or -1 when it fails.
double PeakMb(const std::vector<std::string>& args) {
  rusage use{};
  if (!bench::RunQuietly(args, &use)) return -1;
  return static_cast<double>(use.ru_maxrss) / 1024.0;
}

}  // namespace

int main(int argc, char** argv) {
  const int count = argc > 1 ? std::atoi(argv[1]) : 100000;
  const std::string program = BRELO_PROGRAM;
  const std::string home = bench::TempFolder("tools") + "/";
  const std::vector<std::string> base = {program, "--home", home};
  // A first start writes the sample host list; host 0 keeps its messages in DEMO/.
  std::vector<std::string> version = {program, "--version"};
  if (PeakMb({program, "--home", home, "--search", "0", "x"}) < 0) return 1;
  TMessageStore store;
  store.HostFolder = home + "DEMO/";
  store.LoadBoards();
  const std::string body = Sjis("本文の一行目です。どの記事にもある話です。\r\n二行目はもう少し長くして、記事らしい大きさにします。\r\n");
  for (int i = 0; i < count; ++i) {
    TVeskoMessage m;
    m.BoardNo = 1;
    m.MesNo = -1;
    m.FromID = "USER" + std::to_string(i % 50);
    m.FromHandle = Sjis("ハンドル");
    m.Title = Sjis("題名") + std::to_string(i);
    m.Text = body + (i % 1000 == 0 ? Sjis("めずらしい言葉") + "\r\n" : std::string());
    store.AppendMessage(m);
  }
  store.Sync();
  // A session log of as many messages on board 2, as a pass reading news logs them.
  const std::string logPath = home + "news.LOG";
  {
    std::ofstream log(logPath, std::ios::binary);
    log << Sjis("日付が 98/01/01 以降のものを読みます。") << "\r\n0002: NEWS  " << Sjis("お知らせ") << "\r\n";
    for (int i = 1; i <= count; ++i) {
      log << "Message  #" << i << " is from: TARO " << Sjis("たろう") << "\r\n"
          << "Time: 98/03/15 21:07:33  Section 2:" << Sjis("お知らせ") << "\r\n"
          << "Subj: " << Sjis("お知らせの題名 ") << i << "\r\n";
      for (int l = 0; l < 12; ++l) log << Sjis("お知らせの本文です。一行が長めの文章を何行か続けます。") << "\r\n";
    }
    log << "//\r\n";
  }
  const double logMb = static_cast<double>(std::filesystem::file_size(logPath)) / 1e6;
  std::printf("%d messages on one board; a log of %.1f MB\n", count, logMb);
  // Three rounds, interleaved with the floor.
  bench::TRounds floor, few, all, exported;
  for (int round = 0; round < 3; ++round) {
    floor.Add(PeakMb(version));
    few.Add(PeakMb({program, "--home", home, "--search", "0", "めずらしい言葉"}));
    all.Add(PeakMb({program, "--home", home, "--search", "0", "話"}));
    exported.Add(PeakMb({program, "--home", home, "--export", "0", "--board", "1"}));
  }
  const double recaptured = PeakMb({program, "--home", home, "--recapture", "0", logPath});
  std::filesystem::remove_all(home);
  if (floor.Min() < 0 || few.Min() < 0 || all.Min() < 0 || exported.Min() < 0 || recaptured < 0) return 1;
  bench::Report("--search, 100 hits in 100,000, peak RSS MB", few, floor, "MB", "<= 40 MB");
  bench::Report("--search, every message a hit, peak RSS MB", all, floor, "MB", "<= 40 MB");
  bench::Report("--export of the 100,000-message board, peak RSS MB", exported, floor, "MB", "<= 40 MB");
  bench::Report("--recapture of the log, peak RSS MB", recaptured, floor.Median(), "MB", "<= 40 MB");
  return 0;
}
