// The program folder: settings, host list, modem settings, templates, the
// readme and every host's data folder live under it.
#pragma once

#include <string>

namespace brelo {

// The marker that makes an install portable: beside the executable, it keeps
// the program folder there (the way the original program lived beside its
// files).
constexpr const char* kPortableMarker = "brelo.portable";

// The folder chosen by the rule: `--home DIR`, else $BRELO_HOME, else the
// executable's folder when the marker stands beside it, else
// $XDG_DATA_HOME/brelo (default ~/.local/share/brelo). Created 0700 when
// missing. Ends in "/". Never /usr/bin or a build folder by accident: a
// user's mail must not go with a rebuild or a package.
std::string DetermineProgramFolder(const std::string& homeOption, const std::string& executableFolder);

// A first start writes the sample host list at once, so that a user of the
// command line finds a file to edit.
void EnsureHostList(const std::string& programFolder);

}  // namespace brelo
