#include "app/ProgramFolder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "common/FileUtil.h"

namespace brelo {

std::string DetermineProgramFolder(const std::string& homeOption, const std::string& executableFolder) {
  std::string folder;
  if (!homeOption.empty()) {
    folder = homeOption;
  } else if (const char* env = std::getenv("BRELO_HOME"); env != nullptr && *env != '\0') {
    folder = env;
  } else if (!executableFolder.empty() && ::access(executableFolder.c_str(), W_OK) == 0) {
    folder = executableFolder;
  } else {
    const char* xdg = std::getenv("XDG_DATA_HOME");
    const char* home = std::getenv("HOME");
    if (xdg != nullptr && *xdg != '\0') folder = JoinPath(xdg, "brelo");
    else folder = JoinPath(JoinPath(home != nullptr ? home : "/tmp", ".local/share"), "brelo");
  }
  if (!DirExists(folder)) {
    // A folder made here holds the host list and its passwords: the owner's only.
    MakePath(folder);
    ::chmod(folder.c_str(), 0700);
  }
  return WithSlash(folder);
}

}  // namespace brelo
