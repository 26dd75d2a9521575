// What the terminal page's screen showed, kept in a file: the scrollback
// and the screen's rows as text, or as HTML with their colours and styles.
#pragma once

#include <QString>
#include <string>

namespace brelo {

class TTerminalScreen;

enum class ETerminalSaveFormat {
  kShiftJis,  // the system's text files: Shift-JIS, CR LF
  kUtf8,      // the desktop's: UTF-8, LF
  kHtml,      // UTF-8, the colours as shown
};

// Every line of the scrollback and the screen, blanks at the ends of lines
// and the empty rows below the last written one left out. A character the
// file's encoding cannot hold is "?". `yen`: the host's backslash shows as
// a yen sign (a Shift-JIS host), in the HTML as on the screen.
std::string TerminalSaveBytes(const TTerminalScreen& screen, ETerminalSaveFormat format, bool yen);

}  // namespace brelo
