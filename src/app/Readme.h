// The readme the Help menu opens: "readme.TXT" in the program folder,
// written there when missing.
#pragma once

#include <string>

namespace brelo {

void EnsureReadme(const std::string& programFolder);

}  // namespace brelo
