#include "store/MessageStore.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string_view>

#include "common/FileUtil.h"
#include "common/Records.h"
#include "common/Sjis.h"
#include "common/StringLock.h"

namespace brelo {
namespace {

static_assert(kBoardRecordSize == 1 + 9 + 33 + 1 + 4);
static_assert(kIndexRecordSize == 9 + 15 + 61 + 3 + 8 + 4 + 4 + 4 + 1 + 1 + 2);

// In an index record's padding (bytes 85-87): the stored text was cut off
// by a lost line. Three bytes, so that whatever an older program left there
// is not taken for it.
constexpr char kCutMark[3] = {'c', 'u', 't'};

// An open file descriptor that closes itself on every path. The store's
// files are opened only as what they seem: never through a link (ELOOP), and
// a pipe or a device in their place is refused at once, never written to.
class TFile {
 public:
  // Never waits at the open: a pipe or a device in the store's place is not a file.
  TFile(const std::string& path, int flags, mode_t mode = 0644)
      : fd_(Regular(::open(path.c_str(), flags | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW, mode))) {}
  ~TFile() {
    if (fd_ >= 0) ::close(fd_);
  }
  TFile(const TFile&) = delete;
  TFile& operator=(const TFile&) = delete;
  // Opens path read-write, creating it when it is not there (created says so).
  static int OpenOrCreate(const std::string& path, bool& created) {
    int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
    if (fd < 0 && errno == ENOENT) {
      fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
      created = created || fd >= 0;
    }
    return Regular(fd);
  }
  explicit TFile(int fd) : fd_(fd) {}
  int fd() const { return fd_; }
  bool ok() const { return fd_ >= 0; }
  off_t Size() const {
    struct stat st;
    return ::fstat(fd_, &st) == 0 ? st.st_size : -1;
  }

 private:
  // fd when it is a regular file; -1 with errno kErrNotRegular otherwise.
  static int Regular(int fd) {
    struct stat st;
    if (fd < 0 || (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode))) return fd;
    ::close(fd);
    errno = kErrNotRegular;
    return -1;
  }
  int fd_;
};

bool PWriteAll(int fd, const char* p, size_t n, off_t at) {
  while (n > 0) {
    ssize_t w = ::pwrite(fd, p, n, at);
    if (w < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += w;
    n -= static_cast<size_t>(w);
    at += w;
  }
  return true;
}

ssize_t PReadAll(int fd, char* p, size_t n, off_t at) {
  size_t done = 0;
  while (done < n) {
    ssize_t r = ::pread(fd, p + done, n - done, at + static_cast<off_t>(done));
    if (r < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (r == 0) break;
    done += static_cast<size_t>(r);
  }
  return static_cast<ssize_t>(done);
}

[[noreturn]] void CannotRead(const std::string& path) { throw EInOutError(CannotReadText(path, errno)); }
[[noreturn]] void CannotWrite(const std::string& path) { throw EInOutError(CannotWriteText(path, errno)); }

// Cuts the text file back to pos after a failed write: no half block stays
// behind a record that never came (best effort: a later append starts at
// the record's own position either way).
[[noreturn]] void UndoBlock(int txtFd, off_t pos, const std::string& failedPath) {
  const int err = errno;
  const int cut = ::ftruncate(txtFd, pos);
  (void)cut;
  throw EInOutError(CannotWriteText(failedPath, err));
}

// Writes a message's block ("#", its number in six digits or more, CR LF,
// the text) at pos, the end of the text file; its length.
size_t WriteBlock(int txtFd, off_t pos, int32_t mesNo, const std::string& text, const std::string& txtPath) {
  const std::string block = SafeFormat("#%.6d\r\n", mesNo) + text;
  if (!PWriteAll(txtFd, block.data(), block.size(), pos)) UndoBlock(txtFd, pos, txtPath);
  return block.size();
}

// Flushes a file's data (or a folder) to the disk with sync; false with
// errno on failure.
bool SyncFile(const std::string& path, bool folder, int (*sync)(int)) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | (folder ? O_DIRECTORY : O_NOFOLLOW));
  if (fd < 0) return errno == ENOENT;
  // A special file (a device standing in for a disk) has nothing to sync.
  const bool ok = sync(fd) == 0 || errno == EINVAL;
  const int err = errno;
  ::close(fd);
  errno = err;
  return ok;
}

}  // namespace

void EncodeBoardEntry(const TBoardEntry& e, char* r) {
  r[0] = static_cast<char>(e.Active);
  PutShortString(r + 1, 8, e.Name);
  PutShortString(r + 10, 32, e.Title);
  r[43] = 0;
  PutInt32(r + 44, e.FirstNew);
}

TBoardEntry DecodeBoardEntry(const char* r) {
  TBoardEntry e;
  e.Active = static_cast<uint8_t>(r[0]);
  e.Name = GetShortString(r + 1, 8);
  e.Title = GetShortString(r + 10, 32);
  e.FirstNew = GetInt32(r + 44);
  return e;
}

void EncodeIndexRecord(const TVeskoMessage& m, char* r) {
  PutShortString(r, 8, m.FromID);
  PutShortString(r + 9, 14, m.FromHandle);
  PutShortString(r + 24, 60, m.Title);
  // The padding after the title, which the original leaves unused, says
  // whether the text is only the beginning a lost line left.
  std::memcpy(r + 85, m.Cut ? kCutMark : "\0\0\0", 3);
  PutDouble(r + 88, m.Date);
  PutInt32(r + 96, m.TextPos);
  PutInt32(r + 100, m.TextLen);
  PutInt32(r + 104, m.MesNo);
  PutUInt32(r + 108, m.Marks());
}

void DecodeIndexRecordInto(const char* r, TVeskoMessage& m) {
  // A length byte above the field's size is clamped: never read past it.
  auto field = [r](std::string& out, size_t at, size_t max) {
    const size_t n = std::min<size_t>(static_cast<unsigned char>(r[at]), max);
    out.resize(n);
    std::memcpy(out.data(), r + at + 1, n);
  };
  field(m.FromID, 0, 8);
  field(m.FromHandle, 9, 14);
  field(m.Title, 24, 60);
  m.BoardName.clear();
  m.Text.clear();
  m.Date = GetDouble(r + 88);
  m.TextPos = GetInt32(r + 96);
  m.TextLen = GetInt32(r + 100);
  m.MesNo = GetInt32(r + 104);
  m.SetMarks(GetUInt32(r + 108));
  m.Cut = std::memcmp(r + 85, kCutMark, 3) == 0;
}

TVeskoMessage DecodeIndexRecord(const char* r) {
  TVeskoMessage m;
  DecodeIndexRecordInto(r, m);
  return m;
}

TMessageStore::TMessageStore() {
  for (int i = 0; i < kBoardCount; ++i) BoardTable[static_cast<size_t>(i)] = DefaultEntry(i);
}

TBoardEntry TMessageStore::DefaultEntry(int board) {
  TBoardEntry e;
  if (board == 0) {
    e.Active = 1;
    e.Name = "@MAIL";
    e.Title = Sjis("メールボックス");
  } else {
    e.Name = "????????";
    e.Title = Sjis("メッセージボード") + SafeFormat("%.2d", board);
  }
  return e;
}

std::string TMessageStore::IndexFile(int board) const { return HostFolder + SafeFormat("MES%.2d.IDX", board); }
std::string TMessageStore::TextFile(int board) const { return HostFolder + SafeFormat("MES%.2d.TXT", board); }

void TMessageStore::LoadBoards() {
  for (int i = 0; i < kBoardCount; ++i) BoardTable[static_cast<size_t>(i)] = DefaultEntry(i);
  MakePath(HostFolder);  // a failure shows at the first write
  TStringLockGuard lock;
  const std::string path = BoardsFile();
  keepBoardsFile_ = false;
  struct stat st;
  if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > static_cast<off_t>(kMaxBoardsFileBytes)) {
    // No board table is that long, but the file may be someone's: a copy is
    // kept before a save replaces it, and without one it is never replaced.
    const std::string aside = KeepAside(path);
    keepBoardsFile_ = aside.empty();
    throw EInOutError(PathText(path) + Sjis(" はボードの一覧としては大きすぎます (") +
                      SafeIntToStr(static_cast<long long>(st.st_size)) + Sjis(" バイト)。ボードの一覧は既定のものを使います。") +
                      (aside.empty() ? Sjis("控えを作れないため、このファイルには書き込みません")
                                     : Sjis("元のファイルを ") + PathText(aside) + Sjis(" に残しました")));
  }
  std::optional<std::string> data = ReadWholeFile(path, kMaxBoardsFileBytes);
  if (!data) return;
  const size_t records = data->size() / kBoardRecordSize;
  const size_t stray = data->size() % kBoardRecordSize;
  if (records < 99 || stray != 0) {
    // A file cut or padded: its records are read where they stand, never
    // moved up or down by one; the next save replaces it, so the damaged
    // one is kept aside first. Fewer than 99 whole records: the defaults.
    const std::string aside = KeepAside(path);
    if (records >= 99) {
      for (size_t i = 0; i < kBoardCount && i < records; ++i) BoardTable[i] = DecodeBoardEntry(data->data() + i * kBoardRecordSize);
      KeepMailbox();
    }
    throw EInOutError(PathText(path) + Sjis(" が壊れています (ボード ") + SafeIntToStr(static_cast<long long>(records)) +
                      Sjis(" 件と半端な ") + SafeIntToStr(static_cast<long long>(stray)) + Sjis(" バイト)。") +
                      (records >= 99 ? Sjis("読めたボードはそのままの番号で使います") : Sjis("ボードの一覧は既定のものを使います")) +
                      (aside.empty() ? std::string() : Sjis("。元のファイルを ") + PathText(aside) + Sjis(" に残しました")));
  }
  const size_t first = records == 99 ? 1 : 0;  // a file written without the mailbox entry
  for (size_t i = 0; i + first < kBoardCount && i < records; ++i) {
    BoardTable[i + first] = DecodeBoardEntry(data->data() + i * kBoardRecordSize);
  }
  KeepMailbox();
}

std::string TMessageStore::FilesProblem(const std::string& folder) {
  DIR* d = ::opendir(folder.c_str());
  if (d == nullptr) return std::string();  // made, or refused, by the folder's own check
  std::string why;
  while (const dirent* e = ::readdir(d)) {
    const std::string name = e->d_name;
    const auto endsWith = [&](std::string_view tail) {
      return name.size() >= tail.size() && name.compare(name.size() - tail.size(), tail.size(), tail) == 0;
    };
    const bool boardFile = name.size() == 9 && name.rfind("MES", 0) == 0 && std::isdigit(static_cast<unsigned char>(name[3])) &&
                           std::isdigit(static_cast<unsigned char>(name[4])) && (endsWith(".IDX") || endsWith(".TXT"));
    if (!boardFile && name != "Boards.Dat" && name != "Users.TXT" && name != "brelo.lock" && !endsWith(".LOG")) {
      continue;
    }
    why = NotARegularFile(JoinPath(folder, name), ELinks::kRefuse);
    if (!why.empty()) break;
  }
  ::closedir(d);
  return why;
}

void TMessageStore::KeepMailbox() {
  // Board 0 is always the mailbox; which of its mails are new is the file's.
  const int32_t firstNew = BoardTable[0].FirstNew;
  BoardTable[0] = DefaultEntry(0);
  BoardTable[0].FirstNew = firstNew;
}

void TMessageStore::SaveBoards() const {
  std::string data(kBoardCount * kBoardRecordSize, '\0');
  for (int i = 0; i < kBoardCount; ++i) {
    EncodeBoardEntry(BoardTable[static_cast<size_t>(i)], data.data() + static_cast<size_t>(i) * kBoardRecordSize);
  }
  TStringLockGuard lock;
  if (keepBoardsFile_) {
    throw EInOutError(CannotWriteText(BoardsFile()) + Sjis(" (控えを作れなかった元のファイルを残すため)"));
  }
  WriteFileAtomic(BoardsFile(), data);
}

void TMessageStore::ClearNewMarks() {
  for (auto& e : BoardTable) e.FirstNew = kNoNewMark;
}

int TMessageStore::RecordCount(int board) const {
  if (!ValidBoard(board)) return 0;
  struct stat st;
  if (::stat(IndexFile(board).c_str(), &st) != 0) return 0;
  return static_cast<int>(st.st_size / static_cast<off_t>(kIndexRecordSize));
}

size_t TMessageStore::HeadLength(int32_t mesNo) { return SafeFormat("#%.6d\r\n", mesNo).size(); }

void TMessageStore::Sync() {
  TStringLockGuard lock;
  for (int b = 0; b < kBoardCount; ++b) {
    if (!unsynced_[static_cast<size_t>(b)]) continue;
    for (const std::string& path : {TextFile(b), IndexFile(b)}) {
      if (!SyncFile(path, false, SyncData)) CannotWrite(path);
    }
    unsynced_[static_cast<size_t>(b)] = false;
  }
  if (newFile_) {
    if (!SyncFile(HostFolder.empty() ? "." : HostFolder, true, SyncFolder)) CannotWrite(HostFolder);
    newFile_ = false;
  }
}

void TMessageStore::AppendMessage(TVeskoMessage& m) {
  if (!ValidBoard(m.BoardNo)) {
    throw EInOutError(Sjis("ボード番号 ") + SafeIntToStr(m.BoardNo) + Sjis(" は 0～99 の範囲にありません"));
  }
  TStringLockGuard lock;
  const std::string idxPath = IndexFile(m.BoardNo);
  const std::string txtPath = TextFile(m.BoardNo);
  // A file made here is made durable with its folder at the next Sync.
  TFile idx(TFile::OpenOrCreate(idxPath, newFile_));
  if (!idx.ok()) CannotWrite(idxPath);
  TFile txt(TFile::OpenOrCreate(txtPath, newFile_));
  if (!txt.ok()) CannotWrite(txtPath);
  unsynced_[static_cast<size_t>(m.BoardNo)] = true;
  const off_t pos = txt.Size();
  const off_t idxSize = idx.Size();
  if (pos < 0 || idxSize < 0) CannotRead(idxPath);
  const int32_t k = static_cast<int32_t>(idxSize / static_cast<off_t>(kIndexRecordSize));
  if (m.MesNo < 0) m.MesNo = k + 1;
  const size_t blockSize = WriteBlock(txt.fd(), pos, m.MesNo, m.Text, txtPath);
  // The record without the text: the text is in the block already.
  std::string text = std::move(m.Text);
  TVeskoMessage rec = m;
  m.Text = std::move(text);
  rec.CutShortStrings();
  rec.TextPos = static_cast<int32_t>(pos);
  rec.TextLen = static_cast<int32_t>(blockSize);
  rec.NewMark = 1;
  rec.Unread = 1;
  rec.News = 1;
  rec.Spare2 = 0;
  TBoardEntry& b = BoardTable[static_cast<size_t>(m.BoardNo)];
  if (k < b.FirstNew) b.FirstNew = k;
  char r[kIndexRecordSize];
  EncodeIndexRecord(rec, r);
  // At the end of the whole records: a partial record an interrupted append
  // left behind is overwritten.
  if (!PWriteAll(idx.fd(), r, sizeof r, static_cast<off_t>(k) * static_cast<off_t>(kIndexRecordSize))) {
    UndoBlock(txt.fd(), pos, idxPath);
  }
  if (idxSize % static_cast<off_t>(kIndexRecordSize) != 0) {
    // The partial record's tail, if any, goes; readers ignore it anyway.
    const int cut = ::ftruncate(idx.fd(), static_cast<off_t>(k + 1) * static_cast<off_t>(kIndexRecordSize));
    (void)cut;
  }
  m.IndexNo = k;
  m.TextPos = rec.TextPos;
  m.TextLen = rec.TextLen;
}

void TMessageStore::CompleteMessage(TVeskoMessage& m, int indexNo) {
  if (!ValidBoard(m.BoardNo)) {
    throw EInOutError(Sjis("ボード番号 ") + SafeIntToStr(m.BoardNo) + Sjis(" は 0～99 の範囲にありません"));
  }
  TStringLockGuard lock;
  const std::string idxPath = IndexFile(m.BoardNo);
  const std::string txtPath = TextFile(m.BoardNo);
  TFile idx(idxPath, O_RDWR);
  if (!idx.ok()) CannotWrite(idxPath);
  const off_t at = static_cast<off_t>(indexNo) * static_cast<off_t>(kIndexRecordSize);
  char r[kIndexRecordSize];
  if (indexNo < 0 || PReadAll(idx.fd(), r, sizeof r, at) != static_cast<ssize_t>(sizeof r)) {
    throw EInOutError(CannotWriteText(idxPath, EINVAL));
  }
  TVeskoMessage rec = DecodeIndexRecord(r);
  TFile txt(TFile::OpenOrCreate(txtPath, newFile_));
  if (!txt.ok()) CannotWrite(txtPath);
  unsynced_[static_cast<size_t>(m.BoardNo)] = true;
  const off_t pos = txt.Size();
  if (pos < 0) CannotRead(txtPath);
  rec.TextPos = static_cast<int32_t>(pos);
  rec.TextLen = static_cast<int32_t>(WriteBlock(txt.fd(), pos, rec.MesNo, m.Text, txtPath));
  rec.Unread = 1;
  rec.Cut = m.Cut;
  EncodeIndexRecord(rec, r);
  // One write of whether it is cut, where the text is and the marks (bytes
  // 85-111, the date between them unchanged): the record points to the cut
  // copy or to the whole, never to anything between.
  constexpr size_t kFrom = 85;
  if (!PWriteAll(idx.fd(), r + kFrom, sizeof r - kFrom, at + static_cast<off_t>(kFrom))) {
    UndoBlock(txt.fd(), pos, idxPath);
  }
  m.MesNo = rec.MesNo;
  m.IndexNo = indexNo;
  m.TextPos = rec.TextPos;
  m.TextLen = rec.TextLen;
}

int TMessageStore::ReadIndex(int board, int count, std::vector<TVeskoMessage>& entries) const {
  // The last `count` records: the start is found under the same lock as the read.
  return ReadRecords(board, -count, count, entries);
}

int TMessageStore::ReadIndexRange(int board, int first, int count, std::vector<TVeskoMessage>& entries) const {
  if (first < 0) {
    entries.clear();
    return 0;
  }
  return ReadRecords(board, first, count, entries);
}

int TMessageStore::ReadRecords(int board, int first, int count, std::vector<TVeskoMessage>& entries) const {
  if (!ValidBoard(board) || count <= 0) {
    entries.clear();
    return 0;
  }
  TStringLockGuard lock;
  const std::string path = IndexFile(board);
  TFile idx(path, O_RDONLY);
  if (!idx.ok()) {
    entries.clear();
    if (errno == ENOENT) return 0;
    CannotRead(path);
  }
  const off_t size = idx.Size();
  if (size < 0) CannotRead(path);
  const int total = static_cast<int>(size / static_cast<off_t>(kIndexRecordSize));
  // A negative first counts from the end (a partial record at the end is not counted).
  const int start = first < 0 ? std::max(0, total + first) : std::min(first, total);
  const int end = static_cast<int>(std::min<int64_t>(total, static_cast<int64_t>(start) + count));
  const int32_t firstNew = BoardTable[static_cast<size_t>(board)].FirstNew;
  const size_t want = static_cast<size_t>(end - start) * kIndexRecordSize;
  thread_local std::unique_ptr<char[]> buf;  // kept between calls: no allocation, no zeroing
  thread_local size_t capacity = 0;
  if (capacity < want) {
    buf.reset(new char[want]);
    capacity = want;
  }
  const ssize_t r = want == 0 ? 0 : PReadAll(idx.fd(), buf.get(), want, static_cast<off_t>(start) * static_cast<off_t>(kIndexRecordSize));
  if (r < 0) CannotRead(path);
  const int got = static_cast<int>(static_cast<size_t>(r) / kIndexRecordSize);
  entries.resize(static_cast<size_t>(got));
  for (int i = 0; i < got; ++i) {
    TVeskoMessage& m = entries[static_cast<size_t>(i)];
    DecodeIndexRecordInto(buf.get() + static_cast<size_t>(i) * kIndexRecordSize, m);
    const int k = start + i;
    m.BoardNo = board;
    m.IndexNo = k;
    m.NewMark = (m.NewMark != 0 && k >= firstNew) ? 1 : 0;
  }
  return got;
}

bool TMessageStore::ReadTextSpan(int board, int64_t pos, size_t len, std::string& out) const {
  out.clear();
  if (!ValidBoard(board) || pos < 0 || len == 0) return false;
  TStringLockGuard lock;
  const std::string path = TextFile(board);
  TFile txt(path, O_RDONLY);
  if (!txt.ok()) {
    if (errno == ENOENT) return false;
    CannotRead(path);
  }
  const off_t size = txt.Size();
  if (size < 0) CannotRead(path);
  if (pos >= size) return false;
  out.resize(static_cast<size_t>(std::min<off_t>(static_cast<off_t>(len), size - pos)));
  const ssize_t r = PReadAll(txt.fd(), out.data(), out.size(), static_cast<off_t>(pos));
  if (r < 0) CannotRead(path);
  out.resize(static_cast<size_t>(r));
  return !out.empty();
}

std::string TMessageStore::ReadText(int board, int32_t textPos, int32_t textLen) const {
  if (!ValidBoard(board) || textPos < 0 || textLen <= 0) return std::string();
  TStringLockGuard lock;
  const std::string path = TextFile(board);
  TFile txt(path, O_RDONLY);
  if (!txt.ok()) {
    if (errno == ENOENT) return std::string();
    CannotRead(path);
  }
  const off_t size = txt.Size();
  if (textPos >= size) return std::string();
  const size_t len = static_cast<size_t>(std::min<off_t>(textLen, size - textPos));
  std::string block(len, '\0');
  const ssize_t r = PReadAll(txt.fd(), block.data(), len, textPos);
  if (r < 0) CannotRead(path);
  block.resize(static_cast<size_t>(r));
  // The head is "#" and the number; numbers of a million and more make it
  // longer than seven bytes, so it ends where its CR LF begins.
  size_t head = 7;
  if (!block.empty() && block[0] == '#') {
    const size_t cr = block.find('\r');
    if (cr != std::string::npos) head = cr;
  }
  if (head >= block.size()) return std::string();
  std::string text = block.substr(head);
  const size_t nul = text.find('\0');
  if (nul != std::string::npos) text.resize(nul);
  return text;
}

void TMessageStore::ReadNews(int board, const std::function<void(const TVeskoMessage&)>& each) const {
  if (!ValidBoard(board)) return;
  const std::string path = IndexFile(board);
  // A chunk at a time, each under the lock, and only the marks looked at:
  // every host's news is read again whenever the user opens an article.
  constexpr int kChunk = 2000;
  std::vector<char> buf(static_cast<size_t>(kChunk) * kIndexRecordSize);
  TVeskoMessage m;  // its strings keep their room from record to record
  m.BoardNo = board;
  for (int first = 0;; first += kChunk) {
    ssize_t r;
    {
      TStringLockGuard lock;
      TFile idx(path, O_RDONLY);
      if (!idx.ok()) {
        if (errno == ENOENT) return;
        CannotRead(path);
      }
      r = PReadAll(idx.fd(), buf.data(), buf.size(), static_cast<off_t>(first) * static_cast<off_t>(kIndexRecordSize));
      if (r < 0) CannotRead(path);
    }
    const int got = static_cast<int>(static_cast<size_t>(r) / kIndexRecordSize);
    for (int i = 0; i < got; ++i) {
      const char* rec = buf.data() + static_cast<size_t>(i) * kIndexRecordSize;
      if (rec[109] == 0 || rec[110] == 0) continue;  // opened, or out of the news
      DecodeIndexRecordInto(rec, m);
      m.IndexNo = first + i;
      each(m);
    }
    if (got < kChunk) return;
  }
}

void TMessageStore::ClearNewsMarks(int board, const std::vector<int>& indexNos) const {
  const char off = 0;
  WriteMarkBytes(board, indexNos, 110, &off, 1);
}

void TMessageStore::SetMarks(int board, int indexNo, uint32_t marks) const {
  char b[4];
  PutUInt32(b, marks);
  WriteMarkBytes(board, {indexNo}, 108, b, 4);
}

void TMessageStore::WriteMarkBytes(int board, const std::vector<int>& indexNos, size_t at, const char* bytes,
                                   size_t n) const {
  if (!ValidBoard(board) || indexNos.empty()) return;
  TStringLockGuard lock;
  const std::string path = IndexFile(board);
  TFile idx(path, O_RDWR);
  if (!idx.ok()) {
    if (errno == ENOENT) return;
    CannotWrite(path);
  }
  const off_t count = idx.Size() / static_cast<off_t>(kIndexRecordSize);
  for (int i : indexNos) {
    if (i < 0 || i >= count) continue;
    const off_t where = static_cast<off_t>(i) * static_cast<off_t>(kIndexRecordSize) + static_cast<off_t>(at);
    if (!PWriteAll(idx.fd(), bytes, n, where)) CannotWrite(path);
  }
}

}  // namespace brelo
