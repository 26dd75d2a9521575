#include "common/FileUtil.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <algorithm>
#include <random>
#include <utility>

#include "common/Sjis.h"

namespace brelo {

std::string PathText(std::string_view path) { return Utf8ToSjisChecked(path).bytes; }

std::string CannotWriteText(std::string_view path) {
  return PathText(path) + Sjis(" に書き込めません");
}

std::string CannotWriteText(std::string_view path, int err) {
  return CannotWriteText(path) + " (" + ReasonText(err) + ")";
}

std::string CannotReadText(std::string_view path, int err) {
  return PathText(path) + Sjis(" を読めません") + " (" + ReasonText(err) + ")";
}

std::string ReasonText(int err) {
  switch (err) {
    case ENOSPC: return Sjis("ディスクに空きがありません");
    case EDQUOT: return Sjis("ディスクの割り当てを超えました");
    case EROFS: return Sjis("読み取り専用のファイルシステムです");
    case EACCES:
    case EPERM: return Sjis("アクセスが許可されていません");
    case ENOENT: return Sjis("ファイルまたはフォルダがありません");
    case ENOTDIR: return Sjis("フォルダではありません");
    case EISDIR: return Sjis("フォルダです");
    case EIO: return Sjis("入出力エラー");
    case EFBIG: return Sjis("ファイルが大きすぎます");
    case ELOOP: return Sjis("シンボリックリンクです");  // what an open that follows no link meets
    case kErrNotRegular: return Sjis("通常のファイルではありません");
    case EMFILE:
    case ENFILE: return Sjis("開いているファイルが多すぎます");
    default: break;
  }
  // Other reasons in the system's own words (ASCII).
  return std::strerror(err);
}
namespace {
// Unique within the folder: the process id and a random tag.
std::string FormatTmpSuffix() {
  thread_local std::mt19937 rng{std::random_device{}()};
  char buf[48];
  std::snprintf(buf, sizeof buf, ".tmp%d-%08x", static_cast<int>(::getpid()), static_cast<unsigned>(rng()));
  return buf;
}
}  // namespace

bool FileExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool DirExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool MakeDir(const std::string& path) {
  if (path.empty()) return false;
  if (::mkdir(path.c_str(), 0755) == 0) return true;
  const int err = errno;  // the reason, not the look that follows
  if (DirExists(path)) return true;
  errno = err;
  return false;
}

bool MakePath(const std::string& path) {
  if (path.empty()) return false;
  if (DirExists(path)) return true;
  std::string p = path;
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  size_t slash = p.rfind('/');
  if (slash != std::string::npos && slash > 0 && !MakePath(p.substr(0, slash))) return false;
  return MakeDir(p);
}

std::string DirName(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string WithSlash(std::string folder) {
  if (!folder.empty() && folder.back() != '/') folder += '/';
  return folder;
}

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  return WithSlash(folder) + name;
}

namespace {

// "%s を読めません (why)".
std::string CannotReadBecause(const std::string& path, const std::string& why) {
  return PathText(path) + Sjis(" を読めません (") + why + ")";
}

// Why a file of this kind is not read; empty for a regular file.
std::string KindProblem(const std::string& path, mode_t mode) {
  if (S_ISREG(mode)) return std::string();
  if (S_ISDIR(mode)) return CannotReadText(path, EISDIR);
  return CannotReadBecause(path, Sjis("通常のファイルではありません"));
}

std::string TooBigText(const std::string& path, size_t maxBytes) {
  return CannotReadBecause(path, Sjis("大きすぎます。") + std::to_string(maxBytes) + Sjis(" バイトまでです"));
}

}  // namespace

std::string NotARegularFile(const std::string& path, ELinks links) {
  struct stat st;
  const int got = links == ELinks::kRefuse ? ::lstat(path.c_str(), &st) : ::stat(path.c_str(), &st);
  if (got != 0) return errno == ENOENT || errno == ENOTDIR ? std::string() : CannotReadText(path, errno);
  if (S_ISLNK(st.st_mode)) return CannotReadBecause(path, Sjis("シンボリックリンクです"));
  return KindProblem(path, st.st_mode);
}

std::optional<std::string> ReadWholeFile(const std::string& path, size_t maxBytes, ELinks links) {
  const bool noFollow = links == ELinks::kRefuse;
  // Looked at before it is opened: opening a device may do something.
  struct stat st;
  if ((noFollow ? ::lstat(path.c_str(), &st) : ::stat(path.c_str(), &st)) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) return std::nullopt;
    throw EInOutError(CannotReadText(path, errno));
  }
  if (noFollow && S_ISLNK(st.st_mode)) throw EInOutError(CannotReadBecause(path, Sjis("シンボリックリンクです")));
  if (std::string why = KindProblem(path, st.st_mode); !why.empty()) throw EInOutError(why);
  if (static_cast<unsigned long long>(st.st_size) > maxBytes) throw EInOutError(TooBigText(path, maxBytes));
  // What it is when opened counts: it may have been replaced in between.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | (noFollow ? O_NOFOLLOW : 0));
  if (fd < 0) {
    if (errno == ENOENT) return std::nullopt;
    if (errno == ELOOP && noFollow) throw EInOutError(CannotReadBecause(path, Sjis("シンボリックリンクです")));
    throw EInOutError(CannotReadText(path, errno));
  }
  std::string why;
  if (::fstat(fd, &st) != 0) why = CannotReadText(path, errno);
  else why = KindProblem(path, st.st_mode);
  if (!why.empty()) {
    ::close(fd);
    throw EInOutError(why);
  }
  std::string out;
  out.reserve(std::min<size_t>(static_cast<size_t>(st.st_size), maxBytes));
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      const int err = errno;
      ::close(fd);
      throw EInOutError(CannotReadText(path, err));
    }
    if (n == 0) break;
    if (out.size() + static_cast<size_t>(n) > maxBytes) {
      // It grew while it was read.
      ::close(fd);
      throw EInOutError(TooBigText(path, maxBytes));
    }
    out.append(buf, static_cast<size_t>(n));
  }
  ::close(fd);
  return out;
}

int (*ReplaceSyncData)(int fd) = ::fsync;
int (*ReplaceSyncFolder)(int fd) = ::fsync;

void WriteFileAtomic(const std::string& path, std::string_view bytes, unsigned mode) {
  struct stat st;
  // An existing file keeps its mode. Anything but a regular file in its
  // place (a link, a pipe, a device) was put there by someone else: it is
  // neither written through nor replaced.
  if (::lstat(path.c_str(), &st) == 0) {
    if (!S_ISREG(st.st_mode)) {
      throw EInOutError(CannotWriteText(path, S_ISLNK(st.st_mode) ? ELOOP : kErrNotRegular));
    }
    mode = st.st_mode & 07777;
  }
  std::string tmp = path + FormatTmpSuffix();
  int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
  if (fd < 0) throw EInOutError(CannotWriteText(path, errno));
  // The umask must not widen or narrow what the file is meant to be.
  ::fchmod(fd, mode);
  size_t done = 0;
  int err = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      err = errno;
      break;
    }
    done += static_cast<size_t>(n);
  }
  if (err == 0 && ReplaceSyncData(fd) != 0) err = errno;
  if (::close(fd) != 0 && err == 0) err = errno;
  if (err == 0 && ::rename(tmp.c_str(), path.c_str()) != 0) err = errno;
  if (err != 0) {
    ::unlink(tmp.c_str());
    throw EInOutError(CannotWriteText(path, err));
  }
  // The rename itself reaches the disk with the folder.
  const std::string dir = DirName(path);
  const int dfd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    ReplaceSyncFolder(dfd);
    ::close(dfd);
  }
}

std::string CheckWritableFolder(const std::string& folder, unsigned long long minFreeBytes) {
  const std::string shown = PathText(folder);
  std::string bare = folder;
  while (bare.size() > 1 && bare.back() == '/') bare.pop_back();
  struct stat st;
  if (::stat(bare.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) {
    return shown + Sjis(" はフォルダではないため、受信したものを保存できません");
  }
  if (!MakePath(folder)) {
    return shown + Sjis(" を作れません (") + ReasonText(errno) + ")";
  }
  // A file written, synced and removed: what every store write needs.
  const std::string probe = JoinPath(folder, ".brelo-write-check" + FormatTmpSuffix());
  int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return shown + Sjis(" に書き込めません (") + ReasonText(errno) + ")";
  char block[4096];
  std::memset(block, 'x', sizeof block);
  int err = 0;
  if (::write(fd, block, sizeof block) != static_cast<ssize_t>(sizeof block)) err = errno != 0 ? errno : ENOSPC;
  if (err == 0 && ::fsync(fd) != 0) err = errno;
  if (::close(fd) != 0 && err == 0) err = errno;
  ::unlink(probe.c_str());
  if (err != 0) return shown + Sjis(" に書き込めません (") + ReasonText(err) + ")";
  struct statvfs vfs;
  if (::statvfs(folder.c_str(), &vfs) == 0) {
    const unsigned long long free = static_cast<unsigned long long>(vfs.f_bavail) * vfs.f_frsize;
    if (free < minFreeBytes) {
      return shown + Sjis(" のディスクの空きが ") + std::to_string(free >> 20) + Sjis(" MB しかありません (") +
             std::to_string(minFreeBytes >> 20) + Sjis(" MB 以上必要です)");
    }
  }
  return std::string();
}

std::string KeepAside(const std::string& path) {
  const std::optional<std::string> bytes = [&]() -> std::optional<std::string> {
    try {
      return ReadWholeFile(path, kMaxKeptAsideBytes);
    } catch (const EInOutError&) {
      return std::nullopt;
    }
  }();
  if (!bytes) return std::string();
  // The newest copy, made at an earlier load of the same damaged file when it
  // holds the same bytes. Names sort by their time, then by the number a
  // second copy within the same second gets.
  const std::string dir = DirName(path);
  const std::string prefix = path.substr(dir.size()) + ".broken-";
  std::string newest;
  std::pair<std::string, int> newestKey;
  if (DIR* d = ::opendir(dir.empty() ? "." : dir.c_str())) {
    while (const dirent* e = ::readdir(d)) {
      const std::string name = e->d_name;
      if (name.rfind(prefix, 0) != 0 || name.find(".tmp") != std::string::npos) continue;
      const std::string rest = name.substr(prefix.size());
      const size_t dash = rest.find('-', 9);
      const std::pair<std::string, int> key{rest.substr(0, dash),
                                            dash == std::string::npos ? 1 : std::atoi(rest.c_str() + dash + 1)};
      if (newest.empty() || key > newestKey) {
        newest = name;
        newestKey = key;
      }
    }
    ::closedir(d);
  }
  if (!newest.empty()) {
    try {
      if (ReadWholeFile(dir + newest, bytes->size()) == bytes) return dir + newest;
    } catch (const EInOutError&) {
    }
  }
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  ::localtime_r(&now, &tm);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, ".broken-%Y%m%d-%H%M%S", &tm);
  std::string aside = path + stamp;
  for (int i = 2; FileExists(aside) && i < 100; ++i) aside = path + stamp + "-" + std::to_string(i);
  try {
    WriteFileAtomic(aside, *bytes, 0600);
  } catch (const EInOutError&) {
    return std::string();
  }
  return aside;
}

void RemoveStaleTemporaries(const std::string& folder) {
  DIR* d = ::opendir(folder.c_str());
  if (d == nullptr) return;
  while (const dirent* e = ::readdir(d)) {
    // NAME.tmp<pid>-<8 hex digits>, as WriteFileAtomic names them.
    const std::string name = e->d_name;
    const size_t at = name.rfind(".tmp");
    if (at == std::string::npos || at == 0) continue;
    int pid = 0;
    unsigned tag = 0;
    int used = 0;
    if (std::sscanf(name.c_str() + at, ".tmp%d-%8x%n", &pid, &tag, &used) != 2 ||
        static_cast<size_t>(used) != name.size() - at || pid <= 0) {
      continue;
    }
    if (pid == ::getpid() || ::kill(pid, 0) == 0 || errno != ESRCH) continue;  // its writer may still run
    ::unlink(JoinPath(folder, name).c_str());
  }
  ::closedir(d);
}

std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t lf = text.find('\n', start);
    size_t end = lf == std::string_view::npos ? text.size() : lf;
    size_t cut = end;
    if (cut > start && text[cut - 1] == '\r') --cut;
    lines.emplace_back(text.substr(start, cut - start));
    if (lf == std::string_view::npos) break;
    start = lf + 1;
  }
  return lines;
}

std::string JoinLinesCRLF(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& l : lines) {
    out += l;
    out += "\r\n";
  }
  return out;
}

std::string WithFinalLineBreak(std::string text) {
  if (!text.empty() && (text.size() < 2 || text.compare(text.size() - 2, 2, "\r\n") != 0)) text += "\r\n";
  return text;
}

}  // namespace brelo
