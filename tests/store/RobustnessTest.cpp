// What the stored files survive: a process killed at any moment while it
// appends and replaces them, and damaged files of every small kind.
#include <gtest/gtest.h>
#include <dirent.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <random>
#include <thread>

#include "reader/ModemSettings.h"
#include "reader/Settings.h"
#include "common/FileUtil.h"
#include "common/IniFile.h"
#include "common/Sjis.h"
#include "hosts/HostTable.h"
#include "store/MessageStore.h"
#include "store/ReservationBox.h"
#include "support/TempDir.h"

namespace brelo {
namespace {

std::string TextOf(int no) { return "message " + std::to_string(no) + "\r\n" + std::string(static_cast<size_t>(no % 300), 'x') + "\r\n"; }
// What a lost line leaves of an even-numbered message before the whole completes it.
std::string CutOf(int no) { return "message " + std::to_string(no) + "\r\n"; }

// The child: appends numbered messages (every even one first as a cut copy
// that the whole then completes) and replaces Boards.Dat and Write.Dat with
// numbered versions, telling the parent each step that returned.
[[noreturn]] void Writer(const std::string& folder, int firstNo, int version, int pipeFd) {
  TMessageStore store;
  store.HostFolder = folder;
  TReservationBox box;
  box.HostFolder = folder;
  for (int no = firstNo;; ++no) {
    TVeskoMessage m;
    m.BoardNo = 1;
    m.MesNo = no;
    m.Title = "t" + std::to_string(no);
    m.Text = TextOf(no);
    if (no % 2 == 0) {
      TVeskoMessage cut = m;
      cut.Text = CutOf(no);
      store.AppendMessage(cut);
      store.CompleteMessage(m, cut.IndexNo);
    } else {
      store.AppendMessage(m);
    }
    int32_t done = no;
    if (::write(pipeFd, &done, 4) != 4) ::_exit(1);
    if (no % 3 == 0) {
      ++version;
      for (auto& e : store.BoardTable) e.Title = "v" + std::to_string(version);
      store.SaveBoards();
      box.ReservationCount = 1 + version % 5;
      for (int i = 0; i < box.ReservationCount; ++i) box.ReservationTable[static_cast<size_t>(i)].Title = "v" + std::to_string(version);
      box.SaveReservations();
      int32_t v = -version;
      if (::write(pipeFd, &v, 4) != 4) ::_exit(1);
    }
  }
}

TEST(CrashSafety, KilledWhileAppendingAndReplacingTheStoreLoads) {
  const char* env = std::getenv("BRELO_CRASH_ITERATIONS");
  const int iterations = env != nullptr ? std::atoi(env) : 20;
  test::TTempDir dir;
  std::mt19937 rng(std::random_device{}());
  int acknowledged = 0, version = 0;
  for (int it = 0; it < iterations; ++it) {
    int p[2];
    ASSERT_EQ(::pipe(p), 0);
    const pid_t child = ::fork();
    if (child == 0) {
      ::close(p[0]);
      Writer(dir.Path(), acknowledged + 1, version, p[1]);
    }
    ::close(p[1]);
    std::this_thread::sleep_for(std::chrono::microseconds(500 + rng() % 20000));
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    int32_t v;
    while (::read(p[0], &v, 4) == 4) {
      if (v > 0) acknowledged = v;
      else version = -v;
    }
    ::close(p[0]);

    // Every message whose append returned is intact.
    TMessageStore store;
    store.HostFolder = dir.Path();
    ASSERT_NO_THROW(store.LoadBoards()) << it;
    std::vector<TVeskoMessage> e;
    const int count = store.ReadIndex(1, 1 << 30, e);
    ASSERT_GE(count, acknowledged) << it;
    for (int i = 0; i < acknowledged; ++i) {
      ASSERT_EQ(e[static_cast<size_t>(i)].MesNo, i + 1) << it;
      ASSERT_EQ(store.ReadText(1, e[static_cast<size_t>(i)].TextPos, e[static_cast<size_t>(i)].TextLen), "\r\n" + TextOf(i + 1)) << it;
    }
    // One more message may have gone through, or its cut copy, which the
    // whole completes as the next pass would; a partial record at most.
    for (int i = acknowledged; i < count; ++i) {
      const TVeskoMessage& r = e[static_cast<size_t>(i)];
      const std::string text = store.ReadText(1, r.TextPos, r.TextLen);
      if (text == "\r\n" + TextOf(i + 1)) continue;
      ASSERT_EQ(text, "\r\n" + CutOf(i + 1)) << it;
      TVeskoMessage whole;
      whole.BoardNo = 1;
      whole.Text = TextOf(i + 1);
      store.CompleteMessage(whole, i);
    }
    acknowledged = count;
    ASSERT_LT(test::ReadBytes(store.IndexFile(1)).size() - static_cast<size_t>(count) * kIndexRecordSize, kIndexRecordSize);
    // A replaced file is wholly old or wholly new.
    if (FileExists(store.BoardsFile())) {
      ASSERT_EQ(test::ReadBytes(store.BoardsFile()).size(), kBoardCount * kBoardRecordSize) << it;
      const std::string title = store.BoardTable[5].Title;
      for (int b = 1; b < kBoardCount; ++b) ASSERT_EQ(store.BoardTable[static_cast<size_t>(b)].Title, title) << it;
      const int shown = std::atoi(title.c_str() + 1);
      ASSERT_TRUE(shown == version || shown == version + 1) << it << " " << shown << " " << version;
      version = shown;
    }
    TReservationBox box;
    box.HostFolder = dir.Path();
    box.LoadReservations();
    if (box.ReservationCount > 0) {
      ASSERT_EQ(test::ReadBytes(box.WriteFile()).size() % kReservationRecordSize, 0u) << it;
      ASSERT_EQ(box.ReservationCount, 1 + std::atoi(box.ReservationTable[0].Title.c_str() + 1) % 5) << it;
      for (int i = 1; i < box.ReservationCount; ++i) ASSERT_EQ(box.ReservationTable[static_cast<size_t>(i)].Title, box.ReservationTable[0].Title);
    }
  }
}

// The copy a load keeps aside of a damaged file, removed (so that the next
// load looks through a folder of one copy at most).
void RemoveKeptAside(const std::string& path) {
  const std::string dir = DirName(path);
  const std::string prefix = path.substr(dir.size()) + ".broken-";
  std::vector<std::string> kept;
  if (DIR* d = ::opendir(dir.c_str())) {
    while (const dirent* e = ::readdir(d)) {
      if (std::string(e->d_name).rfind(prefix, 0) == 0) kept.push_back(dir + e->d_name);
    }
    ::closedir(d);
  }
  for (const std::string& k : kept) ::unlink(k.c_str());
}

// Every single-bit flip, every byte flip and every truncation of a seed
// (of the bytes in `spans`, [from, to), when given): loading never crashes
// and never changes the file, and either works or raises an error that
// names the file. Thousands of loads: the copies they keep aside are not
// flushed to the disk, and each goes before the next.
void Sweep(const std::string& path, const std::function<void()>& load, const std::string& nameInError,
           std::vector<std::pair<size_t, size_t>> spans = {}) {
  const std::string seed = test::ReadBytes(path);
  ASSERT_FALSE(seed.empty());
  if (spans.empty()) spans.emplace_back(0, seed.size());
  const auto noFlush = [](int) { return 0; };
  ReplaceSyncData = ReplaceSyncFolder = noFlush;
  struct TFlushAgain {
    ~TFlushAgain() { ReplaceSyncData = ReplaceSyncFolder = ::fsync; }
  } flushAgain;
  auto once = [&](const std::string& bytes) {
    test::WriteBytes(path, bytes);
    try {
      load();
    } catch (const EInOutError& e) {
      ASSERT_NE(std::string(e.what()).find(nameInError), std::string::npos) << e.what();
    }
    ASSERT_EQ(test::ReadBytes(path), bytes) << "loading changed " << path;
    RemoveKeptAside(path);
  };
  for (const auto& [from, to] : spans) {
  for (size_t i = from; i < to; ++i) {
    for (int bit = 0; bit < 8; ++bit) {
      std::string m = seed;
      m[i] = static_cast<char>(m[i] ^ (1 << bit));
      once(m);
    }
    std::string m = seed;
    m[i] = static_cast<char>(~m[i]);
    once(m);
    once(seed.substr(0, i));
  }
  }
  test::WriteBytes(path, seed);
}

TEST(MalformedFiles, RecordAndIniFilesUnderEveryFlipAndCut) {
  test::TTempDir dir;
  TMessageStore store;
  store.HostFolder = dir.Path();
  store.LoadBoards();
  for (int i = 1; i <= 4; ++i) {
    TVeskoMessage m;
    m.BoardNo = 2;
    m.MesNo = i;
    m.FromID = "ID" + std::to_string(i);
    m.Title = Sjis("題名") + std::to_string(i);
    m.Text = Sjis("本文") + "\r\n";
    store.AppendMessage(m);
  }
  store.SaveBoards();
  std::vector<TVeskoMessage> originals;
  store.ReadIndex(2, 999, originals);
  // A hundred records of one layout: the mailbox's, the boards' before and
  // with the messages, and the last two (where a file of 99 records or a
  // cut one ends) stand for them all; a cut elsewhere differs from these
  // only in how many records are left.
  Sweep(store.BoardsFile(), [&] { store.LoadBoards(); }, "Boards.Dat",
        {{0, 3 * kBoardRecordSize}, {98 * kBoardRecordSize, 100 * kBoardRecordSize}});
  Sweep(store.IndexFile(2), [&] {
    std::vector<TVeskoMessage> e;
    store.ReadIndex(2, 999, e);
    for (const auto& m : e) store.ReadText(2, m.TextPos, m.TextLen);
  }, "MES02.IDX");
  // Truncations of an index give whole records, the originals' first ones.
  const std::string idx = test::ReadBytes(store.IndexFile(2));
  for (size_t cut = 0; cut <= idx.size(); ++cut) {
    test::WriteBytes(store.IndexFile(2), idx.substr(0, cut));
    std::vector<TVeskoMessage> e;
    store.ReadIndex(2, 999, e);
    ASSERT_EQ(e.size(), cut / kIndexRecordSize);
    for (size_t i = 0; i < e.size(); ++i) ASSERT_EQ(e[i].Title, originals[i].Title);
  }
  test::WriteBytes(store.IndexFile(2), idx);
  Sweep(store.TextFile(2), [&] {
    for (const auto& m : originals) store.ReadText(2, m.TextPos, m.TextLen);
  }, "MES02.TXT");

  TReservationBox box;
  box.HostFolder = dir.Path();
  box.AddReservation(3, "t", "TARO");
  box.AddReservation(0, "mail", "HANAKO");
  // Two records of one layout: the first whole, the second's start and end.
  Sweep(box.WriteFile(), [&] { box.LoadReservations(); }, "Write.Dat",
        {{0, kReservationRecordSize + 8}, {2 * kReservationRecordSize - 8, 2 * kReservationRecordSize}});

  THostTable hosts;
  hosts.LoadHostList(dir.Path());
  hosts.SaveHostList(dir.Path());
  Sweep(THostTable::FileName(dir.Path()), [&] { hosts.LoadHostList(dir.Path()); }, "veskohosts.dat");
  TAppSettings settings;
  settings.Write(dir.Path());
  Sweep(TAppSettings::FileName(dir.Path()), [&] { settings.Read(dir.Path()); }, "Brelo_V3.ini");
  TModemSettings modem;
  modem.Write(dir.Path());
  Sweep(TModemSettings::FileName(dir.Path()), [&] { modem.Read(dir.Path()); }, "Modem.Ini");
}

}  // namespace
}  // namespace brelo
