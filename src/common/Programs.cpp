#include "common/Programs.h"

#include <unistd.h>

#include <climits>
#include <cstdlib>

#include "common/FileUtil.h"

#ifndef BRELO_PRIVATE_DIR
#define BRELO_PRIVATE_DIR "/usr/lib/brelo"
#endif

namespace brelo {

std::string ExecutableFolder() {
  char path[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return ".";
  const std::string folder = DirName(std::string(path, static_cast<size_t>(n)));
  return folder.size() > 1 ? folder.substr(0, folder.size() - 1) : folder;
}

std::string InstalledPrivateFolder() { return BRELO_PRIVATE_DIR; }

std::string FindPrivateProgram(const std::string& name, const std::string& besideFolder) {
  for (const std::string& folder :
       {besideFolder, besideFolder.empty() ? std::string() : JoinPath(besideFolder, "../lib/brelo"),
        InstalledPrivateFolder()}) {
    if (folder.empty()) continue;
    const std::string path = JoinPath(folder, name);
    if (::access(path.c_str(), X_OK) == 0 && !DirExists(path)) return path;
  }
  return std::string();
}

}  // namespace brelo
