// Waiting for events in tests: the Qt event loop runs until the condition
// holds, bounded by a generous limit so that a fault fails instead of hanging.
#pragma once

#include <functional>

namespace brelo::test {

// Processes events until pred() is true; false after limitMs.
bool WaitUntil(const std::function<bool()>& pred, int limitMs = 10000);
// Processes events for ms (to let late notifications arrive).
void ProcessEventsFor(int ms);

}  // namespace brelo::test
