// A temporary folder for one test, removed with everything in it.
#pragma once

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

}  // namespace brelo::test
