#pragma once

// The desktop's clipboard (the window backend's).

#include <string>

namespace plimsy::ui {

// Puts UTF-8 text on the clipboard, replacing what was there.
void copyToClipboard(const std::string& text);

}  // namespace plimsy::ui
