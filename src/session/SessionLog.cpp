#include "session/SessionLog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "common/DateTime.h"
#include "common/FileUtil.h"
#include "common/Sjis.h"

namespace brelo {

TSessionLog::~TSessionLog() { Close(); }

bool TSessionLog::Open(const std::string& path) {
  std::lock_guard<std::mutex> lk(m_);
  if (f_ != nullptr) std::fclose(f_);
  f_ = nullptr;
  // Only a file of its own: never through a link, never into a pipe or a device.
  int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0666);
  if (struct stat st; fd >= 0 && (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
    ::close(fd);
    fd = -1;
    errno = kErrNotRegular;
  }
  if (fd >= 0) {
    f_ = ::fdopen(fd, "ab");
    if (f_ == nullptr) {
      const int err = errno;
      ::close(fd);
      errno = err;
    }
  }
  path_ = path;
  written_ = 0;
  capped_ = false;
  open_ = f_ != nullptr;
  return f_ != nullptr;
}

int TSessionLog::WriteLine(const std::string& line) {
  if (!open_.load()) return 0;
  std::lock_guard<std::mutex> lk(m_);
  if (f_ == nullptr || capped_) return 0;
  const long long size = static_cast<long long>(line.size()) + 2;
  const bool last = written_ + size > limit_.load();
  const std::string& text =
      last ? Sjis("(このパスのログが上限に達したため、これ以降の受信は記録していません)") : line;
  errno = 0;
  std::fwrite(text.data(), 1, text.size(), f_);
  std::fwrite("\r\n", 1, 2, f_);
  // Each line reaches the file at once, so that a crash keeps the log up to
  // the last line the work thread consumed.
  if (std::fflush(f_) != 0 || std::ferror(f_)) {
    const int err = errno != 0 ? errno : EIO;
    std::fclose(f_);
    f_ = nullptr;
    open_ = false;
    return err;
  }
  written_ += size;
  capped_ = last;
  return 0;
}

void TSessionLog::Close() {
  std::lock_guard<std::mutex> lk(m_);
  if (f_ != nullptr) std::fclose(f_);
  f_ = nullptr;
  open_ = false;
}

std::string TSessionLog::PassMark() {
  const TCivilTime t = NowCivil();
  char when[40];
  std::snprintf(when, sizeof when, " %04d/%02d/%02d %02d:%02d:%02d)", t.year, t.month, t.day, t.hour, t.minute, t.second);
  return "\f(" + Sjis("接続") + when;
}

bool TSessionLog::IsOpen() const { return open_.load(); }

std::string TSessionLog::Path() const {
  std::lock_guard<std::mutex> lk(m_);
  return path_;
}

}  // namespace brelo
