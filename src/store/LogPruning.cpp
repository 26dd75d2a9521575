#include "store/LogPruning.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>

#include "common/FileUtil.h"

namespace brelo {
namespace {

struct TLog {
  std::string name;  // yyyyMMdd.LOG: sorted by name, sorted by day
  unsigned long long size = 0;
};

// The day a session log's name stands for; nothing for any other name.
std::optional<TDateTime> LogDay(const std::string& name) {
  if (name.size() != 12 || name.compare(8, 4, ".LOG") != 0 ||
      !std::all_of(name.begin(), name.begin() + 8, [](char c) { return c >= '0' && c <= '9'; })) {
    return std::nullopt;
  }
  TCivilTime t;
  t.year = std::stoi(name.substr(0, 4));
  t.month = std::stoi(name.substr(4, 2));
  t.day = std::stoi(name.substr(6, 2));
  if (t.year < 1 || t.month < 1 || t.month > 12 || t.day < 1 || t.day > 31) return std::nullopt;
  return EncodeDateTime(t);
}

}  // namespace

std::vector<std::string> PruneSessionLogs(const std::string& folder, const TLogKeeping& keep, const TCivilTime& today) {
  std::vector<TLog> logs;
  if (DIR* dir = ::opendir(folder.c_str())) {
    while (const dirent* e = ::readdir(dir)) {
      const std::string name = e->d_name;
      struct stat st {};
      if (LogDay(name) && ::stat(JoinPath(folder, name).c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
        logs.push_back({name, static_cast<unsigned long long>(st.st_size)});
      }
    }
    ::closedir(dir);
  }
  std::sort(logs.begin(), logs.end(), [](const TLog& a, const TLog& b) { return a.name < b.name; });
  TCivilTime midnight{today.year, today.month, today.day};
  const TDateTime day = EncodeDateTime(midnight);
  unsigned long long total = 0;
  for (const TLog& l : logs) total += l.size;
  const unsigned long long cap = static_cast<unsigned long long>(keep.MaxMegabytes) << 20;
  std::vector<std::string> removed;
  for (const TLog& l : logs) {
    const TDateTime logDay = *LogDay(l.name);
    if (logDay >= day) break;  // today's (or a clock gone back's) stays
    const bool old = keep.KeepDays > 0 && day - logDay > keep.KeepDays;
    const bool over = keep.MaxMegabytes > 0 && total > cap;
    if (!old && !over) break;  // the rest are newer and fit
    if (::unlink(JoinPath(folder, l.name).c_str()) == 0) {
      total -= l.size;
      removed.push_back(l.name);
    }
  }
  return removed;
}

}  // namespace brelo
