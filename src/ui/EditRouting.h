// The edit menu's commands act on the text control that has the keyboard
// focus in the active window. A read-only box takes only copy and select
// all; a control that is not a text control ignores every request.
#pragma once

class QWidget;

namespace brelo {

enum class EEditRequest { Undo, Cut, Copy, Paste, Delete, SelectAll };

// Returns whether the focused control took the request.
bool RouteEditRequest(QWidget* focused, EEditRequest request);

}  // namespace brelo
