// A full ring pauses the line and the reader's progress resumes it: every
// order of the two sides' steps ends with every line delivered, a reader
// slowed at random never stalls a sender at full speed in any receive mode,
// and neither does the real session component over a loopback socket.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <future>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <QCoreApplication>

#include "common/HostEncoding.h"
#include "common/Sjis.h"
#include "session/LineRing.h"
#include "session/ResumeGate.h"
#include "session/VeskoClient.h"
#include "support/Loopback.h"
#include "support/Wait.h"

namespace brelo {
namespace {

using namespace std::chrono_literals;

// ------------------------------------------------------------ every order

// The ring's hand-off as a model: counters for the ring, the real gate for
// the state, and the writer's and the reader's code cut into their atomic
// steps exactly where the ring's code reads or writes shared state. Every
// reachable state is visited; one with no step left must have delivered
// every line, and a resume is never asked for twice at once. No tick is
// modelled: the gate alone must be enough.
struct TModel {
  int capacity;  // unread lines that fill the ring
  int lowWater;  // unread lines at or below which the backlog may run
  std::vector<int> chunks;
};

// Where a side is in its code.
enum EPc : int {
  kFill,          // writer: moving backlog lines into the ring
  kPause,         // writer: publishing the pause
  kLoadState,     // recheck, first step: the gate's state
  kLoadRoom,      // recheck: the reader's position
  kClaim,         // recheck: compare-and-swap
  kIdle,          // writer: between feeds; reader: taking a line
};

struct TWorld {
  int unread = 0, backlog = 0, delivered = 0, nextChunk = 0, posted = 0;
  int gate = TResumeGate::kFlowing;
  int wpc = kIdle, rpc = kIdle;
  bool fromBacklog = false;  // the writer is in FeedBacklog, not in Feed
  bool wroom = false, rroom = false;  // the room each side saw before its claim
  auto Key() const {
    return std::make_tuple(unread, backlog, delivered, nextChunk, posted, gate, wpc, rpc, fromBacklog, wroom, rroom);
  }
  bool operator<(const TWorld& o) const { return Key() < o.Key(); }
};

// One step of the ring's RecheckRoom for either side: the state, then the
// room, then the claim with the room seen. Returns the next pc.
int RecheckStep(const TModel& m, TWorld& w, int pc, bool& seenRoom) {
  TResumeGate g(static_cast<TResumeGate::EState>(w.gate));
  switch (pc) {
    case kLoadState:
      return g.State() == TResumeGate::kPaused ? kLoadRoom : kIdle;
    case kLoadRoom:
      seenRoom = w.unread <= m.lowWater;
      return kClaim;
    default:  // kClaim
      if (g.Claim(seenRoom)) ++w.posted;
      w.gate = g.State();
      seenRoom = false;
      return kIdle;
  }
}

// The states one step of the writer or of the reader leads to.
std::vector<TWorld> Steps(const TModel& m, const TWorld& w) {
  std::vector<TWorld> out;
  // The writer.
  TWorld n = w;
  TResumeGate g(static_cast<TResumeGate::EState>(w.gate));
  bool enabled = true;
  switch (w.wpc) {
    case kIdle:
      if (w.posted > 0) {  // a posted resume: FeedBacklog
        --n.posted;
        n.fromBacklog = true;
        n.wpc = kFill;
      } else if (w.nextChunk < static_cast<int>(m.chunks.size())) {  // Feed
        n.backlog += m.chunks[static_cast<size_t>(n.nextChunk++)];
        n.fromBacklog = false;
        n.wpc = w.backlog > 0 ? kPause : kFill;  // behind a backlog the bytes only join it
      } else {
        enabled = false;
      }
      break;
    case kFill:
      if (w.backlog > 0 && w.unread < m.capacity) {
        ++n.unread;
        --n.backlog;
      } else if (w.backlog == 0) {
        if (w.fromBacklog) g.Flow();
        n.wpc = kIdle;
      } else {
        n.wpc = kPause;
      }
      break;
    case kPause:
      if (w.fromBacklog || g.State() == TResumeGate::kFlowing) g.Pause();
      n.wpc = kLoadState;
      break;
    default:
      break;
  }
  n.gate = g.State();
  if (w.wpc == kLoadState || w.wpc == kLoadRoom || w.wpc == kClaim) n.wpc = RecheckStep(m, n, w.wpc, n.wroom);
  if (enabled) out.push_back(n);
  // The reader.
  n = w;
  if (w.rpc == kIdle) {
    if (w.unread > 0) {
      --n.unread;
      ++n.delivered;
      n.rpc = kLoadState;
      out.push_back(n);
    }  // else it waits for a line
  } else {
    n.rpc = RecheckStep(m, n, w.rpc, n.rroom);
    out.push_back(n);
  }
  return out;
}

TEST(ResumeGateTest, AChangeBetweenTheReadersLookAndItsWaitEndsTheWaitAtOnce) {
  // The reader looks, finds nothing, and only then waits: what the writer
  // did in between (a line, the partial line, a wake) must end that wait,
  // or a reader that made the ring full sleeps its whole wait while reading
  // is paused.
  // The three cases wait side by side: a lost change fails within one bound.
  using namespace std::chrono_literals;
  std::array<TLineRing, 3> rings;
  std::array<std::future<void>, 3> waits;
  for (int what = 0; what < 3; ++what) {
    TLineRing& ring = rings[static_cast<size_t>(what)];
    ring.WaitForChange(0);  // a wait that ended: the reader begins to look
    ASSERT_FALSE(ring.LineWaiting());
    if (what == 0) ring.Feed("a line\r", 7);
    else if (what == 1) ring.Feed("Password: ", 10);
    else ring.Wake();
    waits[static_cast<size_t>(what)] = std::async(std::launch::async, [&ring] { ring.WaitForChange(600000); });
  }
  const auto deadline = std::chrono::steady_clock::now() + 30s;
  for (int what = 0; what < 3; ++what) {
    const bool ended = waits[static_cast<size_t>(what)].wait_until(deadline) == std::future_status::ready;
    if (!ended) rings[static_cast<size_t>(what)].Wake();  // a second change frees the failing wait
    EXPECT_TRUE(ended) << "case " << what;
  }
}

TEST(ResumeGateTest, EveryOrderOfTheWritersAndTheReadersStepsDeliversEveryLine) {
  const std::vector<TModel> models = {
      {3, 1, {7}}, {3, 1, {2, 5}}, {4, 2, {5, 5}}, {2, 1, {3, 1, 4}}, {5, 2, {12}}, {3, 0, {4, 4}},
  };
  for (const TModel& m : models) {
    int total = 0;
    for (int c : m.chunks) total += c;
    std::set<TWorld> seen;
    std::deque<TWorld> todo{TWorld()};
    seen.insert(todo.front());
    size_t ends = 0;
    while (!todo.empty()) {
      const TWorld w = todo.front();
      todo.pop_front();
      ASSERT_LE(w.posted, 1) << "a resume asked for twice at once";
      const std::vector<TWorld> next = Steps(m, w);
      if (next.empty()) {
        ++ends;
        ASSERT_EQ(w.delivered, total) << "stalled: capacity " << m.capacity << ", backlog " << w.backlog
                                      << ", unread " << w.unread << ", gate " << w.gate;
      }
      for (const TWorld& n : next) {
        if (seen.insert(n).second) todo.push_back(n);
      }
    }
    EXPECT_GE(ends, 1u);
    EXPECT_GT(seen.size(), 50u);  // the orders were many
  }
}

// ------------------------------------------------------------ under load

enum class EMode { kPlain, kEscapes, kUtf8, kEucJp, kTelnet };
const EMode kModes[] = {EMode::kPlain, EMode::kEscapes, EMode::kUtf8, EMode::kEucJp, EMode::kTelnet};

std::string ModeName(EMode m) {
  switch (m) {
    case EMode::kPlain: return "plain";
    case EMode::kEscapes: return "escapes removed";
    case EMode::kUtf8: return "UTF-8";
    case EMode::kEucJp: return "EUC-JP";
    default: return "telnet commands";
  }
}

// The lines as the reader must get them (Shift-JIS), and the host's bytes.
struct TTraffic {
  std::vector<std::string> lines;
  std::string bytes;
};

TTraffic Traffic(EMode mode, int count, std::mt19937& rng) {
  TTraffic t;
  const std::string kana = Sjis("漢字かなカナ");
  for (int i = 0; i < count; ++i) {
    std::string line = "line " + std::to_string(i) + " ";
    const int len = static_cast<int>(rng() % 60);
    for (int k = 0; k < len; ++k) line += (k % 5 == 0) ? kana : std::string(1, static_cast<char>('a' + k % 26));
    t.lines.push_back(line);
    std::string host = line;
    if (mode == EMode::kUtf8) host = EncodeForHost(EHostEncoding::kUtf8, line);
    if (mode == EMode::kEucJp) host = EncodeForHost(EHostEncoding::kEucJp, line);
    if (mode == EMode::kEscapes) host = "\x1b[1;3" + std::to_string(i % 7 + 1) + "m" + host + "\x1b[0m\x1b[K";
    if (mode == EMode::kTelnet && !host.empty()) {
      // A no-operation, an option request or a subnegotiation somewhere in
      // the line (between whole characters).
      static const std::string kCommands[] = {"\xff\xf1", "\xff\xfb\x03", "\xff\xfa\x18\x01\xff\xf0", "\xff\xfd\x1f"};
      size_t at = rng() % host.size();
      while (at > 0 && at < host.size() && IsDBCSLeadByte(static_cast<unsigned char>(host[at - 1]))) --at;
      host.insert(at, kCommands[rng() % 4]);
    }
    t.bytes += host + "\r\n";
  }
  return t;
}

void SetMode(TLineRing& ring, EMode mode) {
  ring.ResetIndexes();
  ring.SetEscapeRemoval(mode == EMode::kEscapes);
  ring.SetEncoding(mode == EMode::kUtf8 ? EHostEncoding::kUtf8
                   : mode == EMode::kEucJp ? EHostEncoding::kEucJp
                                           : EHostEncoding::kShiftJis);
  ring.SetTelnetAnswers(mode == EMode::kTelnet, "VT100");
}

// No progress on either side for this long is a stall, whatever the load:
// the reader sleeps at most a millisecond at a time.
constexpr auto kStall = 20s;

// One round: a writer thread feeds the bytes in random chunks as fast as the
// ring takes them and, when paused, waits for OnRoom alone (no tick); the
// reader takes lines with random sleeps and waits for lines without the
// ring's own wait (whose recheck would hide a lost resume). Returns the
// lines read.
std::vector<std::string> Round(TLineRing& ring, const std::string& bytes, size_t expected, unsigned seed,
                               bool& stalled) {
  std::mutex m;
  std::condition_variable cv;
  bool room = false;
  std::atomic<bool> abort{false};
  std::atomic<unsigned long long> progress{0};
  ring.OnRoom = [&] {
    std::lock_guard<std::mutex> lk(m);
    room = true;
    cv.notify_all();
  };
  std::thread writer([&] {
    std::mt19937 rng(seed);
    size_t at = 0;
    while (at < bytes.size() && !abort) {
      const size_t n = std::min<size_t>(bytes.size() - at, 1 + rng() % 4096);
      bool flowing = ring.Feed(bytes.data() + at, n);
      at += n;
      ++progress;
      while (!flowing && !abort) {
        std::unique_lock<std::mutex> lk(m);
        cv.wait_for(lk, 100ms, [&] { return room; });  // a bound only to see `abort`
        if (!room) continue;
        room = false;
        lk.unlock();
        flowing = ring.FeedBacklog();
        ++progress;
      }
    }
  });
  std::vector<std::string> got;
  std::atomic<size_t> count{0};
  std::thread reader([&] {
    std::mt19937 rng(seed + 1);
    while (got.size() < expected && !abort) {
      if (!ring.LineWaiting()) {
        std::this_thread::sleep_for(50us);
        continue;
      }
      got.push_back(ring.Take());
      ++count;
      ++progress;
      if (rng() % 64 == 0) std::this_thread::sleep_for(std::chrono::microseconds(rng() % 1000));
    }
  });
  auto last = progress.load();
  auto since = std::chrono::steady_clock::now();
  while (count < expected) {
    std::this_thread::sleep_for(10ms);
    if (progress != last) {
      last = progress;
      since = std::chrono::steady_clock::now();
    } else if (std::chrono::steady_clock::now() - since > kStall) {
      stalled = true;
      abort = true;
      break;
    }
  }
  reader.join();
  abort = true;
  writer.join();
  ring.OnRoom = nullptr;
  return got;
}

TEST(BackPressureStress, ASlowReaderNeverStallsAFastSenderInAnyMode) {
  constexpr int kRounds = 12;
  constexpr int kLines = 4000;  // four times the ring
  TLineRing ring;
  std::mt19937 rng(36);
  for (const EMode mode : kModes) {
    for (int round = 0; round < kRounds; ++round) {
      SCOPED_TRACE(ModeName(mode) + ", round " + std::to_string(round));
      const TTraffic t = Traffic(mode, kLines, rng);
      SetMode(ring, mode);
      bool stalled = false;
      const std::vector<std::string> got = Round(ring, t.bytes, t.lines.size(), static_cast<unsigned>(rng()), stalled);
      ASSERT_FALSE(stalled) << "no progress for " << std::chrono::seconds(kStall).count() << " s after "
                            << got.size() << " lines; paused " << ring.Paused() << ", backlog "
                            << ring.BacklogBytes();
      ASSERT_EQ(got.size(), t.lines.size());
      for (size_t i = 0; i < got.size(); ++i) ASSERT_EQ(got[i], t.lines[i]) << "line " << i;
      EXPECT_FALSE(ring.Paused());
    }
  }
}

// The session component itself: a peer sends as fast as the socket takes,
// the work thread reads every line while the login waits for the ID prompt;
// each round must end with every line taken, in every mode.
TEST(BackPressureStress, TheSessionOverLoopbackTakesEveryLineInEveryMode) {
  constexpr int kLines = 20000;  // twenty times the ring
  std::mt19937 rng(3636);
  for (const EMode mode : kModes) {
    for (int round = 0; round < 3; ++round) {
      SCOPED_TRACE(ModeName(mode) + ", round " + std::to_string(round));
      const TTraffic t = Traffic(mode, kLines, rng);
      test::TLoopbackPeer peer;
      TVeskoClient c;
      c.Address = "127.0.0.1:" + std::to_string(peer.Port());
      c.RemoveEscapes = mode == EMode::kEscapes;
      c.Encoding = mode == EMode::kUtf8 ? EHostEncoding::kUtf8
                   : mode == EMode::kEucJp ? EHostEncoding::kEucJp
                                           : EHostEncoding::kShiftJis;
      c.Connect();
      ASSERT_TRUE(peer.Accept());
      std::atomic<bool> sent{false};
      std::thread sender([&] {
        peer.Write(t.bytes);  // blocks while the client's socket is full
        sent = true;
      });
      // Progress, not time: the count of lines taken must keep moving.
      unsigned long long last = 0;
      auto since = std::chrono::steady_clock::now();
      bool stalled = false;
      while (c.Ring().TakenCount() < static_cast<unsigned long long>(kLines)) {
        test::ProcessEventsFor(20);
        const unsigned long long now = c.Ring().TakenCount();
        if (now != last) {
          last = now;
          since = std::chrono::steady_clock::now();
        } else if (std::chrono::steady_clock::now() - since > kStall) {
          stalled = true;
          break;
        }
      }
      EXPECT_FALSE(stalled) << "stalled after " << last << " lines, ring paused " << c.Ring().Paused();
      c.Disconnect();  // a sender still blocked gets its error now
      sender.join();
      peer.HangUp();
      EXPECT_TRUE(sent);
      if (stalled) return;
    }
  }
}

}  // namespace
}  // namespace brelo
