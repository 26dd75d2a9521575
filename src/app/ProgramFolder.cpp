#include "app/ProgramFolder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "common/FileUtil.h"
#include "hosts/HostTable.h"

namespace brelo {

std::string DetermineProgramFolder(const std::string& homeOption, const std::string& executableFolder) {
  std::string folder;
  if (!homeOption.empty()) {
    folder = homeOption;
  } else if (const char* env = std::getenv("BRELO_HOME"); env != nullptr && *env != '\0') {
    folder = env;
  } else if (!executableFolder.empty() && FileExists(JoinPath(executableFolder, kPortableMarker))) {
    folder = executableFolder;
  } else {
    const char* xdg = std::getenv("XDG_DATA_HOME");
    const char* home = std::getenv("HOME");
    if (xdg != nullptr && *xdg == '/') folder = JoinPath(xdg, "brelo");
    else folder = JoinPath(JoinPath(home != nullptr && *home != '\0' ? home : "/tmp", ".local/share"), "brelo");
  }
  if (!DirExists(folder)) {
    // A folder made here holds the host list and its passwords: the owner's only.
    MakePath(folder);
    ::chmod(folder.c_str(), 0700);
  }
  return WithSlash(folder);
}

void EnsureHostList(const std::string& programFolder) {
  if (FileExists(THostTable::FileName(programFolder))) return;
  THostTable hosts;
  try {
    hosts.LoadHostList(programFolder);
    hosts.SaveHostList(programFolder);
  } catch (const EInOutError&) {
    // An unwritable folder shows at the first write the user makes, and a
    // list that is no file where the list is read.
  }
}

}  // namespace brelo
