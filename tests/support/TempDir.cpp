#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace brelo::test {

TTempDir::TTempDir() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "brelo-test-XXXXXX").string();
  char* p = ::mkdtemp(tmpl.data());
  if (p == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = std::string(p) + "/";
}

TTempDir::~TTempDir() {
  std::error_code ec;
  // Folders made read-only by a test must become writable to be removed.
  for (auto& e : std::filesystem::recursive_directory_iterator(path_, ec)) {
    if (e.is_directory(ec)) ::chmod(e.path().c_str(), 0755);
  }
  ::chmod(path_.c_str(), 0755);
  std::filesystem::remove_all(path_, ec);
}

void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  ASSERT_TRUE(f.good()) << path;
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadBytes(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::ostringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

std::vector<std::string> ListFolder(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code ec;
  for (auto& e : std::filesystem::directory_iterator(folder, ec)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

TFullFile::TFullFile(const std::string& path, long long bytes) : bytes_(bytes) {
  WriteBytes(path, "");
  if (::truncate(path.c_str(), static_cast<off_t>(bytes)) != 0) std::abort();
}

TFullFile::~TFullFile() {
  if (!applied_) return;
  rlimit r{};
  ::getrlimit(RLIMIT_FSIZE, &r);
  r.rlim_cur = static_cast<rlim_t>(oldSoft_);
  ::setrlimit(RLIMIT_FSIZE, &r);
}

void TFullFile::Now() {
  rlimit r{};
  ::getrlimit(RLIMIT_FSIZE, &r);
  oldSoft_ = static_cast<long long>(r.rlim_cur);
  applied_ = true;
  ::signal(SIGXFSZ, SIG_IGN);
  r.rlim_cur = static_cast<rlim_t>(bytes_);
  ::setrlimit(RLIMIT_FSIZE, &r);
}

std::function<void()> TFullFile::ForChild() const {
  const long long bytes = bytes_;
  return [bytes] {
    ::signal(SIGXFSZ, SIG_IGN);  // kept across exec: the write fails instead of killing
    rlimit r{};
    ::getrlimit(RLIMIT_FSIZE, &r);
    r.rlim_cur = static_cast<rlim_t>(bytes);
    ::setrlimit(RLIMIT_FSIZE, &r);
  };
}

}  // namespace brelo::test
