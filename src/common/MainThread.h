// The only two ways work reaches the main thread (the Qt event loop):
// run a function there and wait for it, or post it and go on.
#pragma once

#include <atomic>
#include <functional>

namespace brelo {

// Installs the main thread's queue of posted work (an eventfd watched by a
// notifier): call once on the main thread after the application object
// exists. Without it, posting falls back to Qt's event queue.
void InstallMainThreadQueue();

bool IsMainThread();

// Queues fn for the main thread's event loop and returns at once. Runs fn
// directly when there is no application object (nothing could run it later).
void PostToMain(std::function<void()> fn);

// Runs fn now when called on the main thread, else posts it there: for the
// effects of events that other threads may raise (a carrier loss).
void OnMainThread(std::function<void()> fn);

// Runs fn on the main thread and waits until it has returned (directly when
// called on the main thread). While fn has not started, the wait gives up as
// soon as *abandon becomes true (the owner is being destroyed and the main
// thread may be waiting for this very thread); fn then never runs. Returns
// whether fn ran.
bool RunOnMainAndWait(const std::function<void()>& fn, const std::atomic<bool>* abandon);

}  // namespace brelo
