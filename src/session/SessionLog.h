// The session log: every line the work thread consumes, one text line each.
// Written by the work thread, opened by Connect and closed by Disconnect,
// which may run on other threads; a mutex keeps them apart.
//
// One pass writes at most Limit() bytes: a host that babbles forever cannot
// fill the disk. Past the limit one line says that the rest was not logged.
#pragma once

#include <atomic>
#include <cstdio>
#include <mutex>
#include <string>
#include <string_view>

namespace brelo {

class TSessionLog {
 public:
  static constexpr long long kDefaultLimit = 256LL << 20;

  ~TSessionLog();
  // Opens path for appending, creating it; false on failure. Starts the
  // pass's count of bytes.
  bool Open(const std::string& path);
  // Writes one line. Returns errno the first time a write fails (the log is
  // then given up for this pass), 0 otherwise.
  int WriteLine(const std::string& line);
  void Close();
  bool IsOpen() const;
  // The line that begins each pass in a log: a form feed, which no line of
  // the host's holds (the receive path drops control bytes), then when the
  // pass began, in parentheses. Re-capture never carries a message across it.
  static std::string PassMark();
  static bool IsPassMark(std::string_view line) { return line.size() > 1 && line[0] == '\f' && line[1] == '('; }
  std::string Path() const;
  void SetLimit(long long bytes) { limit_ = bytes; }
  long long Limit() const { return limit_; }

 private:
  mutable std::mutex m_;
  std::FILE* f_ = nullptr;          // guarded by m_
  std::string path_;                // guarded by m_
  long long written_ = 0;           // guarded by m_: bytes of this pass
  bool capped_ = false;             // guarded by m_
  std::atomic<long long> limit_{kDefaultLimit};
  std::atomic<bool> open_{false};   // lets WriteLine skip the lock without a log
};

}  // namespace brelo
