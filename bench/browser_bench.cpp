// The article list: ShowArticleList on a board of 999 articles in deep
// threads (reading the index, threading, drawing the rows), beside reading
// the same 999 index records alone.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>

#include "BenchUtil.h"
#include "common/Sjis.h"
#include "store/MessageStore.h"
#include "reader/ArticleBrowser.h"

using namespace brelo;

int main() {
  const std::string dir = bench::TempFolder("browser") + "/";
  TMessageStore store;
  store.HostFolder = dir;
  store.LoadBoards();
  std::mt19937 rng(7);
  // Threads of up to 40 levels, answering both recent and old articles.
  for (int no = 1; no <= 999; ++no) {
    TVeskoMessage m;
    m.BoardNo = 1;
    m.MesNo = no;
    m.FromID = "TARO";
    m.FromHandle = Sjis("たろう");
    const int parent = no > 1 && no % 40 != 1 ? (rng() % 3 == 0 ? 1 + static_cast<int>(rng() % static_cast<unsigned>(no - 1)) : no - 1) : 0;
    m.Title = (parent > 0 ? "Re:" + std::to_string(parent) + ")" : std::string()) + Sjis("スレッドの題名");
    m.Text = "x\r\n";
    store.AppendMessage(m);
  }
  TArticleBrowser browser(store);
  browser.CurrentBoard = 1;
  std::vector<TVeskoMessage> entries;
  bench::TRounds shown, readIndex, all;
  int depth = 0;
  std::string text;
  const auto read = [&] {
    store.ReadIndex(1, 999, entries);
    return entries.size() == 999;
  };
  // What a board click costs: the list threaded and the rows a 460-pixel
  // window shows drawn.
  const auto click = [&] {
    browser.ShowArticleList();
    for (int row = 0; row < 25; ++row) browser.RowTextInto(row, text);
    return true;
  };
  // And with every one of the 999 rows drawn (scrolling through all).
  const auto scroll = [&] {
    browser.ShowArticleList();
    for (int row = 0; row < browser.RowCount(); ++row) browser.RowTextInto(row, text);
    return true;
  };
  // Steps of a few dozen microseconds, mostly memory: each round takes each
  // step's least time over bursts spread in time (see LeastTimes), after a
  // first round not counted (the index's pages, the first allocations).
  for (int round = -1; round < 15; ++round) {
    const std::vector<double> least = bench::LeastTimes({read, click, scroll}, 8, 10, 10);
    if (least.empty()) return 1;
    if (round < 0) continue;
    readIndex.Add(least[0] * 1e6);
    shown.Add(least[1] * 1e6);
    all.Add(least[2] * 1e6);
  }
  for (const auto& r : browser.ThreadList) depth = std::max(depth, r.Depth);
  std::printf("rows %d, deepest thread %d levels\n", browser.RowCount(), depth);
  bench::Report("ShowArticleList of 999 + rows shown, microseconds", shown, readIndex, "us", "<= 3");
  bench::Report("ShowArticleList of 999 + all rows drawn, microseconds", all, readIndex, "us", "(all rows)");
  std::filesystem::remove_all(dir);
  return browser.RowCount() == 999 ? 0 : 1;
}
