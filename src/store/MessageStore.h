// The local store of one host: the board table and, per board, a text file
// of message blocks (MESnn.TXT) and an index of fixed-size records
// (MESnn.IDX) that points into it. All files lie in HostFolder.
//
// Records are encoded and decoded field by field, little-endian, never by
// casting. Each file operation holds StringLock for its whole duration.
// File errors raise EInOutError with a Shift-JIS message naming the file.
// Index and text files only grow, and a record changes only in its marks or,
// when a cut-off copy is completed, in where its text is; an interrupted
// append leaves at most one partial record at the end of the index, which
// readers ignore and the next append overwrites.
#pragma once

#include <unistd.h>

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "session/VeskoMessage.h"

namespace brelo {

struct TBoardEntry {
  uint8_t Active = 0;
  std::string Name;    // at most 8 bytes
  std::string Title;   // at most 32 bytes
  int32_t FirstNew = 0;
};

constexpr size_t kBoardRecordSize = 48;
constexpr size_t kIndexRecordSize = 112;
constexpr int kBoardCount = 100;
// FirstNew when no record is new. Files written by older versions hold
// 9999, which still reads as it always did; 9999 is also a real record
// number on a big board, so clearing writes a value no record can reach.
constexpr int32_t kNoNewMark = 0x7FFFFFFF;
// The most of Boards.Dat that is read: the table is 4800 bytes.
constexpr size_t kMaxBoardsFileBytes = 64u << 10;

void EncodeBoardEntry(const TBoardEntry& e, char* rec);
TBoardEntry DecodeBoardEntry(const char* rec);
// An index record; BoardNo and IndexNo are not stored.
void EncodeIndexRecord(const TVeskoMessage& m, char* rec);
TVeskoMessage DecodeIndexRecord(const char* rec);
// The same into an existing record (its strings keep their capacity).
void DecodeIndexRecordInto(const char* rec, TVeskoMessage& m);

class TMessageStore {
 public:
  // The folder of the selected host, ending in "/"; empty while none is.
  std::string HostFolder;
  std::array<TBoardEntry, kBoardCount> BoardTable;

  TMessageStore();

  static bool ValidBoard(int board) { return board >= 0 && board < kBoardCount; }
  std::string IndexFile(int board) const;
  std::string TextFile(int board) const;
  std::string BoardsFile() const { return HostFolder + "Boards.Dat"; }

  // Defaults, then Boards.Dat when present (99 records fill boards 1-99),
  // then board 0 forced to the mailbox, keeping the FirstNew the file holds.
  // A file that is not whole records, or fewer than 99, is kept aside and
  // raises EInOutError; its whole records stay where they stand (none
  // below 99: the defaults). An unreadable file, one that is no regular
  // file or a long one raises EInOutError with the defaults in place.
  void LoadBoards();
  void SaveBoards() const;  // whole-file replacement
  void ClearNewMarks();
  // Stores a message on the board of its BoardNo; a MesNo below 0 becomes the
  // record count + 1 (written back into m). A board outside 0-99 raises
  // EInOutError and writes nothing; so does a failed write, naming the file
  // and the system's reason.
  void AppendMessage(TVeskoMessage& m);
  // Completes record indexNo of m's board, a copy a lost line cut off, with
  // m's whole text: the block is appended under the record's own number and
  // the record points to it, marked unread (the cut block stays behind,
  // unused). m takes the record's number and place. Raises EInOutError, the
  // record left as it was.
  void CompleteMessage(TVeskoMessage& m, int indexNo);
  // Makes every append since the last Sync durable: the message files it
  // touched are flushed to the disk (and the folder, when a file was new).
  // Called once per board's capture, not per message. Raises EInOutError.
  void Sync();
  // How Sync flushes: a message file's data (fdatasync) and the folder
  // (fsync). A test puts a recorder here that passes the call on.
  int (*SyncData)(int fd) = ::fdatasync;
  int (*SyncFolder)(int fd) = ::fsync;
  // The last `count` index records of a board, oldest first. The entries'
  // storage is reused from call to call.
  int ReadIndex(int board, int count, std::vector<TVeskoMessage>& entries) const;
  // Records first .. first+count-1 (fewer at the end of the index), oldest first.
  int ReadIndexRange(int board, int first, int count, std::vector<TVeskoMessage>& entries) const;
  // The raw bytes pos .. pos+len-1 of a board's text file, cut at its end;
  // false when nothing is there.
  bool ReadTextSpan(int board, int64_t pos, size_t len, std::string& out) const;
  // The text of one block without its head ("#" and the number), so that it
  // begins with the CR LF after the head; cut at the first NUL. What a record
  // points to beyond the file's end is not read.
  std::string ReadText(int board, int32_t textPos, int32_t textLen) const;
  // The records of a board in the news list: not opened, and their news
  // mark still set (the new mark plays no part), oldest first, each handed
  // to `each` (the same entry, refilled: the strings are read only).
  void ReadNews(int board, const std::function<void(const TVeskoMessage&)>& each) const;
  // Takes these records out of the news list: their news mark only is
  // written, whatever else happened to them meanwhile.
  void ClearNewsMarks(int board, const std::vector<int>& indexNos) const;
  // Overwrites the four mark bytes of record indexNo (nothing when the index
  // does not exist or indexNo is not below the record count).
  void SetMarks(int board, int indexNo, uint32_t marks) const;
  // Number of whole records in a board's index.
  int RecordCount(int board) const;

  // Why a pass cannot keep what it receives in `folder` (Shift-JIS; empty
  // when it can): a file the pass writes there as it receives — Boards.Dat,
  // a board's files, Users.TXT, brelo.lock, a session log — is a link, a
  // pipe, a device or a folder. Nothing is ever written through one. (The
  // box, Write.Dat, is refused by its own load: never written, the pass's
  // writes not made.)
  static std::string FilesProblem(const std::string& folder);

  // The default entry of a board.
  static TBoardEntry DefaultEntry(int board);
  // The length of a block's head ("#" and the number, CR LF).
  static size_t HeadLength(int32_t mesNo);

 private:
  void KeepMailbox();
  // Writes n bytes at offset `at` of each of these records (those that are
  // there), under the lock.
  void WriteMarkBytes(int board, const std::vector<int>& indexNos, size_t at, const char* bytes, size_t n) const;
  int ReadRecords(int board, int first, int count, std::vector<TVeskoMessage>& entries) const;

  // Boards.Dat was too long to be a table and could not be kept aside: it stays.
  bool keepBoardsFile_ = false;
  std::array<bool, kBoardCount> unsynced_{};  // boards appended to since the last Sync
  bool newFile_ = false;                      // a message file was created since the last Sync
};

}  // namespace brelo
