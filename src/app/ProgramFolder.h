// The program folder: settings, host list, modem settings, templates, the
// readme and every host's data folder live under it.
#pragma once

#include <string>

namespace brelo {

// The folder chosen by the rule: `--home DIR`, else $BRELO_HOME, else the
// executable's folder when it is writable, else $XDG_DATA_HOME/brelo
// (~/.local/share/brelo). Created when missing. Ends in "/".
std::string DetermineProgramFolder(const std::string& homeOption, const std::string& executableFolder);

}  // namespace brelo
