// A temporary folder for one test, removed with everything in it.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace brelo::test {

class TTempDir {
 public:
  TTempDir();
  ~TTempDir();
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;
  // The folder, ending in "/".
  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + name; }

 private:
  std::string path_;
};

// Writes bytes to a file (test set-up; failures abort the test).
void WriteBytes(const std::string& path, const std::string& bytes);
std::string ReadBytes(const std::string& path);
// The names of the files in a folder, sorted.
std::vector<std::string> ListFolder(const std::string& folder);

// A file on a disk that is full for it: the file is made `bytes` long (a
// hole, no blocks) and no process this applies to writes past that many
// bytes of any file (EFBIG; SIGXFSZ ignored). As root no permission stops a
// write, and a link to /dev/full is no store file any more. In this process
// while the object lives (a write of the test's own stays far below), or,
// through ForChild, in a program the test starts.
class TFullFile {
 public:
  explicit TFullFile(const std::string& path, long long bytes = 1 << 20);
  ~TFullFile();
  TFullFile(const TFullFile&) = delete;
  TFullFile& operator=(const TFullFile&) = delete;
  // Applies the limit here, until the object goes.
  void Now();
  // What a child process runs before its program (QProcess::setChildProcessModifier).
  std::function<void()> ForChild() const;

 private:
  long long bytes_;
  bool applied_ = false;
  long long oldSoft_ = 0;
};

}  // namespace brelo::test
