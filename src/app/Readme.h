// The readme the Help menu opens: "readme.TXT" in the program folder,
// written there when missing.
#pragma once

#include <string>

namespace brelo {

// Writes readme.TXT when missing (or when an earlier version left it in
// UTF-8): Shift-JIS, CR LF.
void EnsureReadme(const std::string& programFolder);
// What readme.TXT holds when the program writes it.
std::string ReadmeText();

}  // namespace brelo
