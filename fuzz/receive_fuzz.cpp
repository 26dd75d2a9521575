// The receive path: telnet commands and the answers they call for, a host's
// encoding converted or not, escape sequences taken out or not, TAB, BS, CR,
// the ring's back-pressure. Fed whole and split at two places taken from
// the input, it must give the same lines and the same answers.
#include <cstdint>
#include <string>
#include <vector>

#include "session/LineRing.h"
#include "Split.h"

namespace {

std::vector<std::string> Lines(const std::vector<std::string>& chunks, bool removeEscapes, brelo::EHostEncoding e) {
  brelo::TLineRing ring;
  ring.SetTelnetAnswers(true, "VT100");
  ring.SetEscapeRemoval(removeEscapes);
  ring.SetEncoding(e);
  ring.ResetIndexes();
  std::vector<std::string> out;
  std::string replies;
  for (const std::string& c : chunks) {
    ring.Feed(c.data(), c.size());
    replies += ring.TakeTelnetReplies();
    // The reader takes every line the chunk brings, the backlog's too:
    // where back-pressure set in differs with the cuts, what is read must not.
    for (int round = 0; round < 100000; ++round) {
      while (ring.LineWaiting()) out.push_back(ring.Take());
      if (!ring.Paused()) break;
      ring.FeedBacklog();
      replies += ring.TakeTelnetReplies();
    }
  }
  replies += ring.TakeTelnetReplies();
  out.push_back("replies:" + replies);
  while (ring.LineWaiting()) out.push_back(ring.Take());
  out.push_back("partial:" + ring.Line(ring.LineIndex()));
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string in(reinterpret_cast<const char*>(data), size);
  const bool escapes = size > 2 && (data[2] & 1) != 0;
  const auto encoding = static_cast<brelo::EHostEncoding>(size > 2 ? (data[2] >> 1) % 3 : 0);
  const auto whole = Lines({in}, escapes, encoding);
  const auto split = Lines(brelo::fuzz::ThreeReads(data, size), escapes, encoding);
  if (whole != split) __builtin_trap();
  return 0;
}
