#pragma once

// Runs code on the GUI thread. A worker thread waits until the GUI thread has
// run it (so it can read results); on the GUI thread itself the code runs at
// once. The GUI thread never waits for a worker, so this cannot deadlock.
// The window backend carries it out (a blocking queued call on Qt, a message
// sent to a window of the GUI thread on Windows).

#include <functional>

namespace plimsy::ui {

void onGuiThread(const std::function<void()>& work);

// Whether the calling thread is the GUI thread (true before the backend has
// started).
bool isGuiThread();

// Runs the GUI thread's pending events and calls once (tests wait with it).
void processPendingEvents();

}  // namespace plimsy::ui
