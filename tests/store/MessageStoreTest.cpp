// Boards and message files: byte layouts, numbering, new marks, and what
// damaged files do.
#include "store/MessageStore.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/FileUtil.h"
#include "common/Records.h"
#include "common/Sjis.h"
#include "support/TempDir.h"

namespace brelo {
namespace {

using test::ReadBytes;
using test::TTempDir;
using test::WriteBytes;

TVeskoMessage Msg(int board, int no, const std::string& text = "body\r\n") {
  TVeskoMessage m;
  m.BoardNo = board;
  m.MesNo = no;
  m.FromID = "TARO";
  m.FromHandle = Sjis("たろう");
  m.Title = "title";
  m.Date = EncodeDateTime({1998, 3, 15, 21, 7, 33, 0});
  m.Text = text;
  return m;
}

class StoreTest : public ::testing::Test {
 protected:
  TTempDir dir;
  TMessageStore store;
  void SetUp() override {
    store.HostFolder = dir.Path() + "HOST/";
    store.LoadBoards();
  }
};

TEST(StoreRecords, BoardEntryBytes) {
  TBoardEntry e;
  e.Active = 1;
  e.Name = "GENERAL";
  e.Title = Sjis("雑談");
  e.FirstNew = 9999;
  char r[kBoardRecordSize];
  EncodeBoardEntry(e, r);
  const std::string expected = std::string("\x01\x07GENERAL\0", 10) + "\x04" + Sjis("雑談") + std::string(28, '\0') +
                               std::string(1, '\0') + std::string("\x0F\x27\0\0", 4);
  ASSERT_EQ(expected.size(), kBoardRecordSize);
  EXPECT_EQ(std::string(r, kBoardRecordSize), expected);
  TBoardEntry back = DecodeBoardEntry(r);
  EXPECT_EQ(back.Name, "GENERAL");
  EXPECT_EQ(back.Title, Sjis("雑談"));
  EXPECT_EQ(back.FirstNew, 9999);
}

TEST(StoreRecords, IndexRecordBytes) {
  TVeskoMessage m = Msg(3, 42);
  m.TextPos = 0x0102;
  m.TextLen = 20;
  m.NewMark = 1;
  m.Unread = 1;
  char r[kIndexRecordSize];
  EncodeIndexRecord(m, r);
  EXPECT_EQ(std::string(r, 9), std::string("\x04TARO\0\0\0\0", 9));
  EXPECT_EQ(static_cast<unsigned char>(r[9]), 6);  // たろう: 6 bytes
  EXPECT_EQ(std::string(r + 24, 6), "\x05title");
  EXPECT_EQ(GetDouble(r + 88), m.Date);
  EXPECT_EQ(std::string(r + 96, 4), std::string("\x02\x01\0\0", 4));
  EXPECT_EQ(GetInt32(r + 104), 42);
  EXPECT_EQ(std::string(r + 108, 4), std::string("\x01\x01\0\0", 4));
}

TEST_F(StoreTest, DefaultsAndTheMailbox) {
  EXPECT_EQ(store.BoardTable[0].Name, "@MAIL");
  EXPECT_EQ(store.BoardTable[0].Active, 1);
  EXPECT_EQ(store.BoardTable[5].Name, "????????");
  EXPECT_EQ(store.BoardTable[5].Title, Sjis("メッセージボード05"));
  EXPECT_EQ(store.BoardTable[5].Active, 0);
  EXPECT_TRUE(DirExists(store.HostFolder));
}

TEST_F(StoreTest, AppendNumbersFromTheIndexAndWritesTheHead) {
  for (int i = 1; i <= 41; ++i) {
    TVeskoMessage m = Msg(3, 1000 + i);
    store.AppendMessage(m);
  }
  TVeskoMessage m = Msg(3, -1, "text\r\n");
  store.AppendMessage(m);
  EXPECT_EQ(m.MesNo, 42);
  const std::string txt = ReadBytes(store.TextFile(3));
  EXPECT_EQ(txt.substr(txt.size() - 15), "#000042\r\ntext\r\n");
  std::vector<TVeskoMessage> e;
  ASSERT_EQ(store.ReadIndex(3, 999, e), 42);
  EXPECT_EQ(e[0].TextPos, 0);
  EXPECT_EQ(e[41].TextLen, 15);
  EXPECT_EQ(store.ReadText(3, e[41].TextPos, e[41].TextLen), "\r\ntext\r\n");
  // Mail lives on board 0.
  TVeskoMessage mail = Msg(0, -1);
  store.AppendMessage(mail);
  EXPECT_TRUE(FileExists(store.HostFolder + "MES00.IDX"));
  EXPECT_TRUE(FileExists(store.HostFolder + "MES00.TXT"));
}

TEST_F(StoreTest, NewMarksCountOnlyFromFirstNew) {
  for (int i = 1; i <= 10; ++i) {
    TVeskoMessage m = Msg(4, i);
    store.AppendMessage(m);
  }
  store.ClearNewMarks();
  EXPECT_EQ(store.BoardTable[4].FirstNew, kNoNewMark);
  TVeskoMessage m = Msg(4, 11);
  store.AppendMessage(m);
  EXPECT_EQ(store.BoardTable[4].FirstNew, 10);
  std::vector<TVeskoMessage> e;
  store.ReadIndex(4, 999, e);
  for (const auto& x : e) EXPECT_EQ(x.NewMark, x.IndexNo >= 10 ? 1 : 0) << x.IndexNo;
  EXPECT_EQ(e[3].Unread, 1);
  // FirstNew reaches the disk with the boards.
  store.SaveBoards();
  TMessageStore again;
  again.HostFolder = store.HostFolder;
  again.LoadBoards();
  EXPECT_EQ(again.BoardTable[4].FirstNew, 10);
}

TEST_F(StoreTest, NewMarksOnABoardOfTwentyThousandRecords) {
  // Records written straight to the index, as a long-lived board holds them.
  std::string idx;
  for (int k = 0; k < 20000; ++k) {
    TVeskoMessage m = Msg(5, k + 1);
    m.NewMark = m.Unread = 1;
    char r[kIndexRecordSize];
    EncodeIndexRecord(m, r);
    idx.append(r, sizeof r);
  }
  test::WriteBytes(store.IndexFile(5), idx);
  test::WriteBytes(store.TextFile(5), "");
  // A Boards.Dat of the old kind, with 9999 on that board, reads as it did.
  store.BoardTable[5].FirstNew = 9999;
  store.SaveBoards();
  store.LoadBoards();
  EXPECT_EQ(store.BoardTable[5].FirstNew, 9999);
  std::vector<TVeskoMessage> e;
  store.ReadIndex(5, 999, e);
  EXPECT_EQ(e.front().NewMark, 1);  // record 19,001: at or after 9999, as before
  // Clearing the marks hides every old one; the next message alone is new.
  store.ClearNewMarks();
  TVeskoMessage m = Msg(5, 20001);
  store.AppendMessage(m);
  EXPECT_EQ(store.BoardTable[5].FirstNew, 20000);
  store.ReadIndex(5, 999, e);
  for (const auto& x : e) EXPECT_EQ(x.NewMark, x.IndexNo == 20000 ? 1 : 0) << x.IndexNo;
  // What reaches the disk reads back the same.
  store.SaveBoards();
  TMessageStore again;
  again.HostFolder = store.HostFolder;
  again.LoadBoards();
  EXPECT_EQ(again.BoardTable[5].FirstNew, 20000);
  EXPECT_EQ(again.BoardTable[6].FirstNew, kNoNewMark);
}

TEST_F(StoreTest, AFailedAppendLeavesNoHalfBlockAndSyncMakesAppendsDurable) {
  TVeskoMessage first = Msg(2, 1);
  store.AppendMessage(first);
  store.Sync();
  // The disk is full for the text file: an error naming it and its reason,
  // and the index still holds only whole records.
  const std::string index = ReadBytes(store.IndexFile(2));
  TVeskoMessage second = Msg(2, 2);
  {
    test::TFullFile full(store.TextFile(2));
    full.Now();
    try {
      store.AppendMessage(second);
      FAIL() << "a write to a full disk succeeded";
    } catch (const EInOutError& e) {
      EXPECT_NE(SjisToUtf8(e.what()).find("MES02.TXT に書き込めません (ファイルが大きすぎます)"), std::string::npos);
    }
  }
  EXPECT_EQ(ReadBytes(store.IndexFile(2)), index);
  // Full for the index alone: the error names it, and the text file loses
  // the block whose record never came.
  WriteBytes(store.TextFile(2), "#000001\r\nbody\r\n");
  {
    test::TFullFile full(store.IndexFile(2), 9000 * kIndexRecordSize);
    full.Now();
    try {
      store.AppendMessage(second);
      FAIL() << "an index record written to a full disk succeeded";
    } catch (const EInOutError& e) {
      EXPECT_NE(SjisToUtf8(e.what()).find("MES02.IDX に書き込めません (ファイルが大きすぎます)"), std::string::npos);
    }
  }
  EXPECT_EQ(ReadBytes(store.TextFile(2)), "#000001\r\nbody\r\n");
}

// What Sync handed to the disk: the path of each descriptor it flushed.
std::vector<std::string> gSynced;
int RecordSync(int fd, int (*sync)(int)) {
  char path[4096];
  const ssize_t n = ::readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), path, sizeof path);
  gSynced.push_back(n > 0 ? std::string(path, static_cast<size_t>(n)) : std::string("?"));
  return sync(fd);
}

TEST_F(StoreTest, SyncFlushesTheFilesOfEveryBoardAppendedToAndTheFolderOfANewFile) {
  store.SyncData = [](int fd) { return RecordSync(fd, ::fdatasync); };
  store.SyncFolder = [](int fd) { return RecordSync(fd, ::fsync); };
  gSynced.clear();
  for (int board : {4, 2, 4}) {
    TVeskoMessage m = Msg(board, -1);
    store.AppendMessage(m);
  }
  store.Sync();
  const std::string host = store.HostFolder.substr(0, store.HostFolder.size() - 1);
  EXPECT_EQ(gSynced, (std::vector<std::string>{store.TextFile(2), store.IndexFile(2), store.TextFile(4),
                                               store.IndexFile(4), host}));
  // Nothing appended since: nothing to flush.
  gSynced.clear();
  store.Sync();
  EXPECT_TRUE(gSynced.empty());
  // Files that exist already: the folder needs no flush.
  TVeskoMessage m = Msg(2, -1);
  store.AppendMessage(m);
  store.Sync();
  EXPECT_EQ(gSynced, (std::vector<std::string>{store.TextFile(2), store.IndexFile(2)}));
  // A flush the disk refuses is an error naming the file, and the board is
  // flushed again at the next Sync.
  store.AppendMessage(m);
  store.SyncData = [](int) {
    errno = EIO;
    return -1;
  };
  try {
    store.Sync();
    FAIL() << "a failed flush went unreported";
  } catch (const EInOutError& e) {
    EXPECT_NE(SjisToUtf8(e.what()).find("MES02.TXT に書き込めません"), std::string::npos);
  }
  store.SyncData = [](int fd) { return RecordSync(fd, ::fdatasync); };
  gSynced.clear();
  store.Sync();
  EXPECT_EQ(gSynced, (std::vector<std::string>{store.TextFile(2), store.IndexFile(2)}));
  // A cut message completed later changes its board's files as an append does.
  TVeskoMessage cut = Msg(4, 77, "cut\r\n");
  store.AppendMessage(cut);
  store.Sync();
  gSynced.clear();
  TVeskoMessage whole = Msg(4, 77, "the whole body\r\n");
  store.CompleteMessage(whole, cut.IndexNo);
  store.Sync();
  EXPECT_EQ(gSynced, (std::vector<std::string>{store.TextFile(4), store.IndexFile(4)}));
}

TEST_F(StoreTest, ReadIndexGivesTheLastRecordsOnly) {
  std::string idx;
  for (int k = 0; k < 1500; ++k) {
    char r[kIndexRecordSize];
    TVeskoMessage m = Msg(6, k + 1);
    EncodeIndexRecord(m, r);
    idx.append(r, kIndexRecordSize);
  }
  WriteBytes(store.IndexFile(6), idx);
  std::vector<TVeskoMessage> e;
  ASSERT_EQ(store.ReadIndex(6, 999, e), 999);
  EXPECT_EQ(e.front().IndexNo, 501);
  EXPECT_EQ(e.back().IndexNo, 1499);
  EXPECT_EQ(e.back().MesNo, 1500);
  EXPECT_EQ(store.ReadIndex(7, 999, e), 0);  // no file: empty
}

TEST_F(StoreTest, SetMarksWritesFourBytesInPlace) {
  for (int i = 1; i <= 3; ++i) {
    TVeskoMessage m = Msg(2, i);
    store.AppendMessage(m);
  }
  const std::string before = ReadBytes(store.IndexFile(2));
  store.SetMarks(2, 1, 0x00000001);  // new, read
  const std::string after = ReadBytes(store.IndexFile(2));
  EXPECT_EQ(after.substr(kIndexRecordSize + 108, 4), std::string("\x01\0\0\0", 4));
  EXPECT_EQ(after.substr(0, kIndexRecordSize + 108), before.substr(0, kIndexRecordSize + 108));
  store.SetMarks(2, 3, 0);  // at the record count: nothing
  store.SetMarks(9, 0, 0);  // no file: nothing
  EXPECT_EQ(ReadBytes(store.IndexFile(2)), after);
}

TEST_F(StoreTest, BoardsFileOf99RecordsFillsBoardsOneTo99) {
  std::string data;
  for (int i = 1; i <= 99; ++i) {
    TBoardEntry e;
    e.Active = 1;
    e.Name = "B" + std::to_string(i);
    e.Title = "t";
    char r[kBoardRecordSize];
    EncodeBoardEntry(e, r);
    data.append(r, kBoardRecordSize);
  }
  ASSERT_EQ(data.size(), 4752u);
  WriteBytes(store.BoardsFile(), data);
  store.LoadBoards();
  EXPECT_EQ(store.BoardTable[1].Name, "B1");
  EXPECT_EQ(store.BoardTable[99].Name, "B99");
  EXPECT_EQ(store.BoardTable[0].Name, "@MAIL");
}

TEST_F(StoreTest, ShortBoardsFileIsAnErrorNamingTheFileAndKeepsDefaults) {
  WriteBytes(store.BoardsFile(), std::string(kBoardRecordSize * 50 + 7, '\x01'));
  try {
    store.LoadBoards();
    FAIL();
  } catch (const EInOutError& e) {
    EXPECT_NE(std::string(e.what()).find(store.BoardsFile()), std::string::npos);
  }
  EXPECT_EQ(store.BoardTable[5].Name, "????????");
  EXPECT_EQ(store.BoardTable[0].Name, "@MAIL");
  EXPECT_EQ(ReadBytes(store.BoardsFile()).size(), kBoardRecordSize * 50 + 7);  // not overwritten
}

// A Boards.Dat one byte short, padded or a link to a device: the boards
// keep their numbers, the damage is named and kept aside once, and the
// mailbox's new marks survive every load.
TEST_F(StoreTest, DamagedBoardsFilesAreSeenAndNeverShifted) {
  for (int i = 1; i < kBoardCount; ++i) {
    store.BoardTable[static_cast<size_t>(i)].Active = 1;
    store.BoardTable[static_cast<size_t>(i)].Name = "B" + std::to_string(i);
  }
  store.ClearNewMarks();  // the mail read so far is no longer new
  store.SaveBoards();
  const std::string whole = ReadBytes(store.BoardsFile());
  ASSERT_EQ(whole.size(), kBoardCount * kBoardRecordSize);
  store.LoadBoards();
  EXPECT_EQ(store.BoardTable[0].FirstNew, kNoNewMark);
  EXPECT_EQ(store.BoardTable[0].Name, "@MAIL");

  const auto asideCopies = [&] {
    int n = 0;
    for (const std::string& f : test::ListFolder(store.HostFolder)) n += f.rfind("Boards.Dat.broken-", 0) == 0;
    return n;
  };
  for (const std::string& damaged : {whole.substr(0, whole.size() - 1), whole + "x"}) {
    WriteBytes(store.BoardsFile(), damaged);
    for (int load = 0; load < 2; ++load) {
      try {
        store.LoadBoards();
        ADD_FAILURE() << "a damaged file loads without a word";
      } catch (const EInOutError& e) {
        EXPECT_NE(SjisToUtf8(e.what()).find("Boards.Dat が壊れています"), std::string::npos);
      }
      EXPECT_EQ(store.BoardTable[2].Name, "B2");
      EXPECT_EQ(store.BoardTable[98].Name, "B98");
      EXPECT_EQ(store.BoardTable[0].FirstNew, kNoNewMark);
    }
    EXPECT_EQ(ReadBytes(store.BoardsFile()), damaged);
  }
  EXPECT_EQ(asideCopies(), 2);  // one per damaged file, not one per load

  // Files that are not regular are refused at once, never read to their end
  // (nor followed: a link is no file of the store's).
  for (const char* target : {"/dev/full", "/dev/zero"}) {
    ::unlink(store.BoardsFile().c_str());
    ASSERT_EQ(::symlink(target, store.BoardsFile().c_str()), 0);
    try {
      store.LoadBoards();
      ADD_FAILURE() << target;
    } catch (const EInOutError& e) {
      EXPECT_NE(SjisToUtf8(e.what()).find("シンボリックリンクです"), std::string::npos);
    }
    EXPECT_EQ(store.BoardTable[2].Name, "????????");
  }
  ::unlink(store.BoardsFile().c_str());
  ASSERT_EQ(::mkfifo(store.BoardsFile().c_str(), 0600), 0);  // nobody writes: an open would wait for ever
  EXPECT_THROW(store.LoadBoards(), EInOutError);
}

TEST_F(StoreTest, DamagedIndexAndTextFilesAreReadSafely) {
  for (int i = 1; i <= 2; ++i) {
    TVeskoMessage m = Msg(5, i, "hello\r\n");
    store.AppendMessage(m);
  }
  // A trailing partial record (an interrupted append) is ignored ...
  std::string idx = ReadBytes(store.IndexFile(5));
  WriteBytes(store.IndexFile(5), idx + std::string(50, 'x'));
  std::vector<TVeskoMessage> e;
  EXPECT_EQ(store.ReadIndex(5, 999, e), 2);
  // ... and the next append overwrites it.
  TVeskoMessage m = Msg(5, 3);
  store.AppendMessage(m);
  EXPECT_EQ(ReadBytes(store.IndexFile(5)).size(), 3 * kIndexRecordSize);
  EXPECT_EQ(store.ReadIndex(5, 999, e), 3);
  // Pointers past the end of the text file read what exists, or nothing.
  EXPECT_EQ(store.ReadText(5, e[0].TextPos, 100000), "\r\nhello\r\n#000002\r\nhello\r\n#000003\r\nbody\r\n");
  EXPECT_EQ(store.ReadText(5, 1 << 30, 10), "");
  EXPECT_EQ(store.ReadText(5, -4, 10), "");
  EXPECT_EQ(store.ReadText(8, 0, 10), "");  // no file
  // A block without its "#" head (a record written by hand, or pointing
  // into the middle of a text): the seven bytes of a head are skipped,
  // nothing more, nothing less.
  WriteBytes(store.TextFile(8), "NOHEADHERE\r\ntext\r\n");
  EXPECT_EQ(store.ReadText(8, 0, 18), "ERE\r\ntext\r\n");
  EXPECT_EQ(store.ReadText(8, 0, 7), "");
}

TEST_F(StoreTest, BoardNumbersOutsideTheTableAreRefused) {
  TVeskoMessage m = Msg(100, 1);
  EXPECT_THROW(store.AppendMessage(m), EInOutError);
  m.BoardNo = -1;
  EXPECT_THROW(store.AppendMessage(m), EInOutError);
  EXPECT_FALSE(FileExists(store.HostFolder + "MES100.IDX"));
  std::vector<TVeskoMessage> e;
  EXPECT_EQ(store.ReadIndex(100, 999, e), 0);
  EXPECT_EQ(store.ReadText(-1, 0, 10), "");
}

TEST_F(StoreTest, MillionAndAboveNumbersKeepTheirTextClean) {
  TVeskoMessage m = Msg(1, 1234567, "line\r\n");
  store.AppendMessage(m);
  EXPECT_EQ(ReadBytes(store.TextFile(1)), "#1234567\r\nline\r\n");  // stored as written
  EXPECT_EQ(store.ReadText(1, m.TextPos, m.TextLen), "\r\nline\r\n");
}

TEST_F(StoreTest, UnwritableFolderIsReported) {
  WriteBytes(dir.File("plainfile"), "x");
  store.HostFolder = dir.File("plainfile") + "/";
  TVeskoMessage m = Msg(1, 1);
  EXPECT_THROW(store.AppendMessage(m), EInOutError);
  try {
    store.SaveBoards();
    FAIL();
  } catch (const EInOutError& e) {
    EXPECT_NE(SjisToUtf8(e.what()).find("Boards.Dat に書き込めません"), std::string::npos);
  }
}

TEST_F(StoreTest, ReplacementKeepsTheOldFileWhenTheNewOneCannotBeFinished) {
  store.BoardTable[3].Name = "OLD";
  store.SaveBoards();
  const std::string old = ReadBytes(store.BoardsFile());
  // A crash between writing the temporary file and the rename leaves a stray
  // temporary file and the old Boards.Dat.
  WriteBytes(store.BoardsFile() + ".tmp1-deadbeef", std::string(100, 'x'));
  store.LoadBoards();
  EXPECT_EQ(store.BoardTable[3].Name, "OLD");
  EXPECT_EQ(ReadBytes(store.BoardsFile()), old);
}

}  // namespace
}  // namespace brelo
