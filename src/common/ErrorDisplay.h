// The application's central error display: where an exception raised on a
// thread without a caller (the serial watch thread) is shown to the user.
#pragma once

#include <functional>
#include <string>

namespace brelo {

// The windows install a handler that shows a message box on the main thread;
// without one the message goes to standard error. Any thread.
void SetErrorDisplay(std::function<void(const std::string& sjisMessage)> handler);
void ShowApplicationError(const std::string& sjisMessage);

}  // namespace brelo
