#pragma once

// Runs code on the GUI thread. A worker thread waits until the GUI thread has
// run it (so it can read results); on the GUI thread itself the code runs at
// once. The GUI thread never waits for a worker, so this cannot deadlock.

#include <functional>

namespace plimsy::ui {

void onGuiThread(const std::function<void()>& work);

// Whether the calling thread is the GUI thread (true when no application
// object exists).
bool isGuiThread();

}  // namespace plimsy::ui
