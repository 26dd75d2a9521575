// Whether the window can open here, found out without Qt's display code (the
// command-line program does not link it): a display server must answer on
// the socket that DISPLAY or WAYLAND_DISPLAY names.
#pragma once

#include <string>

namespace brelo {

struct TCommandLine;

// "" when the window may open: Qt was told to draw elsewhere (-platform or
// QT_QPA_PLATFORM other than xcb or wayland), or a display server accepts a
// connection. Otherwise one line saying why the window cannot open (UTF-8).
std::string DisplayProblem(const TCommandLine& cmd);

}  // namespace brelo
