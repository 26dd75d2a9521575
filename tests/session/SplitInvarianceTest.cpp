// The receive path is a function of its state and the bytes: every input of
// the fuzz corpus up to 4 KiB, fed whole and split at every byte offset,
// gives the same lines, and the screen's tap the same bytes.
#include <gtest/gtest.h>

#include <filesystem>

#include "session/LineRing.h"
#include "support/TempDir.h"

namespace brelo {
namespace {

std::vector<std::string> Lines(const std::string& a, const std::string& b) {
  TLineRing ring;
  std::string tapped;
  ring.SetScreenTap([&tapped](const char* p, size_t n) { tapped.append(p, n); });
  std::vector<std::string> out;
  for (const std::string* chunk : {&a, &b}) {
    ring.Feed(chunk->data(), chunk->size());
    for (int round = 0; round < 10000; ++round) {
      // Every line the chunk brings, the backlog's too: where back-pressure
      // sets in differs with the cut, what is read must not.
      while (ring.LineWaiting()) out.push_back(ring.Take());
      if (!ring.Paused()) break;
      ring.FeedBacklog();
    }
  }
  out.push_back("partial:" + ring.Line(ring.LineIndex()));
  out.push_back("tapped:" + tapped);
  return out;
}

TEST(SplitInvariance, EveryCorpusInputAtEveryOffset) {
  int inputs = 0;
  for (const char* target : {"receive"}) {
    for (const auto& f : std::filesystem::directory_iterator(std::string(BRELO_FUZZ_CORPUS) + "/" + target)) {
      const std::string in = test::ReadBytes(f.path().string());
      if (in.size() > 4096) continue;
      ++inputs;
      const auto whole = Lines(in, "");
      for (size_t at = 1; at < in.size(); ++at) {
        ASSERT_EQ(Lines(in.substr(0, at), in.substr(at)), whole) << f.path() << " split at " << at;
      }
    }
  }
  EXPECT_GE(inputs, 5);
}

}  // namespace
}  // namespace brelo
