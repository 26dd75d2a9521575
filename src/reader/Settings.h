// The application settings file "Brelo_V3.ini" in the program folder: the
// quote prefix of responses and the external editor.
#pragma once

#include <string>

#include "reader/PatrolSchedule.h"
#include "reader/SessionPolicy.h"
#include "store/LogPruning.h"

namespace brelo {

// Where the window was, in a section of its own ("Window"), which older
// versions ignore. Empty values: not remembered yet.
struct TWindowPlace {
  std::string Geometry;       // "x,y,width,height"
  bool Maximized = false;
  std::string BrowserSplit;   // the browser's two splitters, "a,b" each
  std::string BoardSplit;
  std::string Host;           // the title of the host last selected (Shift-JIS)
  bool HostKnown = false;     // a host was remembered (even none: an empty title)
  // The reading place: the page shown, the board and the article opened
  // (its record number) and how far its text was scrolled; -1: none.
  int Page = 0;
  int Board = -1;
  int Article = -1;
  int Scroll = 0;
};

struct TAppSettings {
  std::string QuoteString = "> ";   // Shift-JIS
  std::string Editor = "NotePad";   // a program name or a full path
  TWindowPlace Window;
  TPatrolSettings Patrol;   // section "Patrol"
  bool TerminalLines = false;  // the terminal page shows lines (行表示), not the screen; "Terminal", "View"
  // The screen's font ("Terminal", "Font" in Shift-JIS and "FontSize" in
  // pixels): a Japanese monospace font in which 1 and l, 0 and O differ.
  std::string TerminalFont = kDefaultTerminalFont;
  int TerminalFontSize = kDefaultTerminalFontSize;
  static constexpr const char* kDefaultTerminalFont = "Migu 1M";
  static constexpr int kDefaultTerminalFontSize = 16;
  bool TerminalKeys = false;   // the terminal page sends keys as typed (キー入力); "Terminal", "Keys"
  // The terminal options the user set (section "TerminalOptions"); the
  // unread date's check box is not kept.
  TSessionOptions Options;
  // Section "SessionLog", keys "KeepDays" and "MaxMegabytes": set by hand
  // in the file, read at each pass and never written, so that an edit made
  // while a window is open stays.
  TLogKeeping Logs;
  // Section "Session", key "LoginWatchSeconds", kept as Logs is: how long
  // the login watch waits for a login prompt it knows before it leaves the
  // session to the user (an unattended pass then hangs up).
  int LoginWatchSeconds = 60;

  // Reads the file; missing file, section or key give the defaults.
  void Read(const std::string& programFolder);
  // Writes every key, creating the file and its sections when missing.
  // Raises EInOutError("%s に書き込めません").
  void Write(const std::string& programFolder) const;

  static std::string FileName(const std::string& programFolder);
};

// The profile functions drop blanks around a value, so the quote string is
// stored with "_" for each space. Only single-byte underscores turn back into
// spaces: 0x5F is also the second byte of some double-byte characters (ダ).
std::string QuoteFromStored(const std::string& stored);
std::string QuoteToStored(const std::string& quote);

}  // namespace brelo
