// Hand-over to the main thread. Any thread may call RunOnMainThread: on the
// main thread the body runs at once; from another thread it is queued to the
// main thread and the caller waits until it has run, so the order of calls
// is the order of their effects.
//
// When the application ends while a worker still runs, the gate is closed
// first: from then on a worker that asks for the main thread (or comes back
// from a hand-over) is parked for good, so it can never reach a window that
// is being destroyed. The process ends without waiting for it.
#pragma once

#include <functional>

void RunOnMainThread(const std::function<void()>& ABody);
bool IsMainThread();

// Closes the gate; called once the event loop has ended.
void CloseMainThreadGate();
bool MainThreadGateClosed();
