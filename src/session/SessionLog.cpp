#include "session/SessionLog.h"

namespace brelo {

TSessionLog::~TSessionLog() { Close(); }

bool TSessionLog::Open(const std::string& path) {
  std::lock_guard<std::mutex> lk(m_);
  if (f_ != nullptr) std::fclose(f_);
  f_ = std::fopen(path.c_str(), "ab");
  open_ = f_ != nullptr;
  return f_ != nullptr;
}

void TSessionLog::WriteLine(const std::string& line) {
  if (!open_.load()) return;
  std::lock_guard<std::mutex> lk(m_);
  if (f_ == nullptr) return;
  std::fwrite(line.data(), 1, line.size(), f_);
  std::fwrite("\r\n", 1, 2, f_);
  // Each line reaches the file at once, so that a crash keeps the log up to
  // the last line the work thread consumed.
  std::fflush(f_);
}

void TSessionLog::Close() {
  std::lock_guard<std::mutex> lk(m_);
  if (f_ != nullptr) std::fclose(f_);
  f_ = nullptr;
  open_ = false;
}

bool TSessionLog::IsOpen() const { return open_.load(); }

}  // namespace brelo
