// The store: appending 100,000 messages to one board, beside opening,
// appending to and closing the same two files per message with raw system
// calls; and ReadIndex of the last 999 records of that index, beside reading
// the same bytes raw.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "BenchUtil.h"
#include "common/Sjis.h"
#include "store/MessageStore.h"

using namespace brelo;

int main(int argc, char** argv) {
  const int count = argc > 1 ? std::atoi(argv[1]) : 100000;
  char tmpl[] = "/tmp/brelo-bench-XXXXXX";
  const std::string dir = std::string(::mkdtemp(tmpl)) + "/";
  TVeskoMessage m;
  m.BoardNo = 1;
  m.FromID = "TARO";
  m.FromHandle = Sjis("たろう");
  m.Title = Sjis("ベンチマークの題名");
  m.Text = Sjis("本文の一行目です。\r\n本文の二行目です。\r\n");
  // Baseline: open, append, close, twice per message. Five rounds,
  // interleaved, each into fresh files.
  const std::string block = "#000001\r\n" + m.Text;
  char record[kIndexRecordSize] = {};
  bench::TRounds rawRate, rate;
  TMessageStore store;
  for (int round = 0; round < 5; ++round) {
    const std::string raw = dir + "raw" + std::to_string(round);
    double t0 = bench::Seconds();
    for (int i = 0; i < count; ++i) {
      int t = ::open((raw + ".TXT").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
      if (::write(t, block.data(), block.size()) < 0) return 1;
      ::close(t);
      int x = ::open((raw + ".IDX").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
      if (::write(x, record, sizeof record) < 0) return 1;
      ::close(x);
    }
    rawRate.Add(count / (bench::Seconds() - t0));
    store = TMessageStore();
    store.HostFolder = dir + "store" + std::to_string(round) + "/";
    std::filesystem::create_directory(store.HostFolder);
    store.LoadBoards();
    t0 = bench::Seconds();
    for (int i = 0; i < count; ++i) {
      m.MesNo = -1;
      store.AppendMessage(m);
    }
    rate.Add(count / (bench::Seconds() - t0));
  }
  bench::Report("store append, messages/s", rate, rawRate, "msg/s", ">= 0.5");

  // ReadIndex of the last 999 records of the last round's index, 20 rounds,
  // beside a raw read of the same bytes.
  bench::TRounds readIndex, rawRead;
  std::vector<TVeskoMessage> entries;
  std::vector<char> buf(999 * kIndexRecordSize);
  for (int round = 0; round < 20; ++round) {
    double t0 = bench::Seconds();
    int fd = ::open(store.IndexFile(1).c_str(), O_RDONLY);
    const off_t size = ::lseek(fd, 0, SEEK_END);
    if (::pread(fd, buf.data(), buf.size(), size - static_cast<off_t>(buf.size())) < 0) return 1;
    ::close(fd);
    rawRead.Add((bench::Seconds() - t0) * 1e6);
    t0 = bench::Seconds();
    store.ReadIndex(1, 999, entries);
    readIndex.Add((bench::Seconds() - t0) * 1e6);
  }
  if (entries.size() != 999 || entries.back().MesNo != count) return 1;
  bench::Report("ReadIndex 999 of 100,000, microseconds", readIndex, rawRead, "us", "<= 3");
  std::filesystem::remove_all(dir);
  return 0;
}
