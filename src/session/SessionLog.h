// The session log: every line the work thread consumes, one text line each.
// Written by the work thread, opened by Connect and closed by Disconnect,
// which may run on other threads; a mutex keeps them apart.
#pragma once

#include <atomic>
#include <cstdio>
#include <mutex>
#include <string>

namespace brelo {

class TSessionLog {
 public:
  ~TSessionLog();
  // Opens path for appending, creating it; false on failure.
  bool Open(const std::string& path);
  void WriteLine(const std::string& line);
  void Close();
  bool IsOpen() const;

 private:
  mutable std::mutex m_;
  std::FILE* f_ = nullptr;          // guarded by m_
  std::atomic<bool> open_{false};   // lets WriteLine skip the lock without a log
};

}  // namespace brelo
