// Search over 100,000 stored messages, beside reading the same text files raw.
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "BenchUtil.h"
#include "common/FileUtil.h"
#include "common/Sjis.h"
#include "store/ArticleSearch.h"

using namespace brelo;

int main(int argc, char** argv) {
  const int count = argc > 1 ? std::atoi(argv[1]) : 100000;
  const std::string dir = bench::TempFolder("search") + "/";
  TMessageStore store;
  store.HostFolder = dir;
  store.LoadBoards();
  const std::string body = Sjis("本文の一行目です。検索の速さを測ります。\r\n二行目にはカタカナとかんじがあります。\r\n");
  for (int i = 0; i < count; ++i) {
    TVeskoMessage m;
    m.BoardNo = 1 + i % 10;
    m.MesNo = -1;
    m.FromID = "USER" + std::to_string(i % 50);
    m.FromHandle = Sjis("ハンドル");
    m.Title = Sjis("題名") + std::to_string(i);
    m.Text = body + (i % 1000 == 0 ? Sjis("めずらしい言葉") + "\r\n" : std::string());
    store.AppendMessage(m);
  }
  const std::string needle = Sjis("めずらしい言葉");
  bench::TRounds search, raw;
  size_t hits = 0, bytes = 0;
  const auto readRaw = [&] {
    bytes = 0;
    for (int b = 0; b < kBoardCount; ++b) {
      if (auto t = ReadWholeFile(store.TextFile(b))) bytes += t->size();
      if (auto x = ReadWholeFile(store.IndexFile(b))) bytes += x->size();
    }
    return bytes > 0;
  };
  const auto searchAll = [&] {
    hits = 0;
    SearchArticles(store, needle, [&](const TSearchHit&) { ++hits; });
    return true;
  };
  // Five rounds, each the least time of each over twenty bursts a twentieth
  // of a second apart: the raw read is a copy from memory, the search mostly
  // the cores' work, and this machine's memory is slowed by its neighbours
  // from moment to moment. Each round reads a fresh copy of the files: how
  // fast one file's cached pages are read depends on where they happen to
  // lie, the same for every read of them, so one copy is one draw. Freed
  // file buffers stay mapped (both sides read whole files into fresh
  // strings, and page faults are the kernel's, not the search's); the files
  // are on the disk first, so that their write-back does not run beside the
  // reads.
  bench::KeepHeapMapped();
  std::string folder = dir;
  for (int round = 0; round < 5; ++round) {
    const std::string copy = bench::TempFolder("search") + "/";
    std::filesystem::copy(folder, copy);
    std::filesystem::remove_all(folder);
    folder = copy;
    store.HostFolder = folder;
    store.LoadBoards();
    ::sync();
    const std::vector<double> least = bench::LeastTimes({readRaw, searchAll}, 20, 1, 50);
    if (least.empty()) return 1;
    raw.Add(least[0] * 1e3);
    search.Add(least[1] * 1e3);
  }
  std::printf("%zu hits in %d messages (%.1f MB)\n", hits, count, static_cast<double>(bytes) / 1e6);
  bench::Report("search of 100,000 messages, ms", search, raw, "ms", "(raw read of the same files)");
  std::filesystem::remove_all(folder);
  return hits == static_cast<size_t>((count + 999) / 1000) ? 0 : 1;
}
