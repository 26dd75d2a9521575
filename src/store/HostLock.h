// One writer per host folder: a pilot run and an open window (or two
// pilots) never write the same host's files at once. The lock is a file
// "brelo.lock" in the host folder, locked with flock and holding the
// holder's process id; the kernel releases it when the process ends, however
// it ends.
#pragma once

#include <string>

namespace brelo {

class THostLock {
 public:
  THostLock() = default;
  ~THostLock();
  THostLock(const THostLock&) = delete;
  THostLock& operator=(const THostLock&) = delete;

  // Takes the lock of `folder`, waiting up to waitMs for another holder to
  // let go. False when it stays held (Holder() then names the other process)
  // or the lock file cannot be made. Taking the lock held already is true.
  bool Acquire(const std::string& folder, int waitMs = 0);
  void Release();
  bool Held() const { return fd_ >= 0; }
  const std::string& Folder() const { return folder_; }
  // After a failed Acquire: true when another process holds the lock (false
  // when the lock file could not be made at all), and the process id its
  // file names (0 when unknown).
  bool Contended() const { return contended_; }
  int Holder() const { return holder_; }
  // Why the last Acquire failed, in Shift-JIS ("" after a success).
  const std::string& Problem() const { return problem_; }

  static std::string FileName(const std::string& folder);

 private:
  int fd_ = -1;
  std::string folder_;
  int holder_ = 0;
  bool contended_ = false;
  std::string problem_;
};

}  // namespace brelo
