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
  const std::string dir = bench::TempFolder("store") + "/";
  TVeskoMessage m;
  m.BoardNo = 1;
  m.FromID = "TARO";
  m.FromHandle = Sjis("たろう");
  m.Title = Sjis("ベンチマークの題名");
  m.Text = Sjis("本文の一行目です。\r\n本文の二行目です。\r\n");
  // Baseline: open, append, close, twice per message. A first round of both
  // not counted (the files' first blocks, the page cache), then five, in turn
  // the baseline first and the store first, each into fresh files.
  const std::string block = "#000001\r\n" + m.Text;
  char record[kIndexRecordSize] = {};
  bench::TRounds rawRate, rate;
  TMessageStore store;
  const auto raw = [&](int round) {
    const std::string path = dir + "raw" + std::to_string(round + 1);
    const double t0 = bench::Seconds();
    for (int i = 0; i < count; ++i) {
      int t = ::open((path + ".TXT").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
      if (::write(t, block.data(), block.size()) < 0) return -1.0;
      ::close(t);
      int x = ::open((path + ".IDX").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
      if (::write(x, record, sizeof record) < 0) return -1.0;
      ::close(x);
    }
    return count / (bench::Seconds() - t0);
  };
  const auto append = [&](int round) {
    store = TMessageStore();
    store.HostFolder = dir + "store" + std::to_string(round + 1) + "/";
    std::filesystem::create_directory(store.HostFolder);
    store.LoadBoards();
    const double t0 = bench::Seconds();
    for (int i = 0; i < count; ++i) {
      m.MesNo = -1;
      store.AppendMessage(m);
    }
    return count / (bench::Seconds() - t0);
  };
  for (int round = -1; round < 5; ++round) {
    double r, a;
    if (round % 2 == 0) {
      r = raw(round);
      a = append(round);
    } else {
      a = append(round);
      r = raw(round);
    }
    if (r < 0) return 1;
    if (round < 0) continue;
    rawRate.Add(r);
    rate.Add(a);
  }
  bench::Report("store append, messages/s", rate, rawRate, "msg/s", ">= 0.5");

  // ReadIndex of the last 999 records of the last round's index, beside a raw
  // read of the same bytes: twelve rounds, each the least time of each over
  // ten bursts of twenty a tenth of a second apart (a mean of fifty reads in a
  // row measured the moment's memory: a process's ratio moved by a fifth with
  // it). The append rounds' writes are on the disk first, so that their
  // write-back does not run beside the reads.
  ::sync();
  bench::TRounds readIndex, rawRead;
  std::vector<TVeskoMessage> entries;
  std::vector<char> buf(999 * kIndexRecordSize);
  const auto readRaw = [&] {
    int fd = ::open(store.IndexFile(1).c_str(), O_RDONLY);
    const off_t size = ::lseek(fd, 0, SEEK_END);
    const ssize_t n = ::pread(fd, buf.data(), buf.size(), size - static_cast<off_t>(buf.size()));
    ::close(fd);
    return n == static_cast<ssize_t>(buf.size());
  };
  const auto readIndexed = [&] {
    store.ReadIndex(1, 999, entries);
    return entries.size() == 999 && entries.back().MesNo == count;
  };
  for (int round = 0; round < 12; ++round) {
    const std::vector<double> least = bench::LeastTimes({readRaw, readIndexed}, 10, 20, 100);
    if (least.empty()) return 1;
    rawRead.Add(least[0] * 1e6);
    readIndex.Add(least[1] * 1e6);
  }
  bench::Report("ReadIndex 999 of 100,000, microseconds", readIndex, rawRead, "us", "<= 3");
  std::filesystem::remove_all(dir);
  return 0;
}
