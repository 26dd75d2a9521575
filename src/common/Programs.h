// The program's own helpers (the window program, the demo host): where they
// are installed, found from the running executable.
#pragma once

#include <string>

namespace brelo {

// The folder of the running executable, without a trailing "/".
std::string ExecutableFolder();

// The path of the helper program `name`, looked for beside besideFolder
// first (the build tree, a portable install), then in ../lib/brelo from
// there (an install under any prefix), then in the folder this build was
// made for; "" when none of them holds an executable of that name.
std::string FindPrivateProgram(const std::string& name, const std::string& besideFolder);
// The folder this build installs its helpers in (PREFIX/lib/brelo).
std::string InstalledPrivateFolder();

}  // namespace brelo
