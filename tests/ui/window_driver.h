#pragma once

// What the window's tests do as the user and see as the user, whatever the
// window backend: keys, clicks and the close box, and the few looks the
// dialog code itself cannot report. Each backend's test support implements
// it (qt/, win32/). Every call belongs on the GUI thread.

#include <functional>
#include <string>

#include "ui/native_window.h"

namespace plimsy::test {

enum class eKey { Escape, Return, Up, Down, Left, Right };

// A key pressed and released on a dialog or one of its controls, handled as
// the window system handles the user's keys (the dialog's own keyboard
// handling included) before this returns.
void pressKey(ui::WindowRef window, eKey key);
// A left click in the middle of a control.
void clickControl(ui::WindowRef control);
// The close box in a dialog's title bar.
void pressCloseBox(ui::WindowRef dialog);

// Whether the dialog or control is on the screen (its dialog shown too).
bool isShown(ui::WindowRef window);
bool isDefaultButton(ui::WindowRef button);
bool acceptsDroppedFiles(ui::WindowRef dialog);
// Whether a dialog keeps the user from the program's other windows.
bool isModal(ui::WindowRef dialog);
// Whether a progress bar runs as a marquee.
bool isMarquee(ui::WindowRef bar);

// What the window system says about a control to the user: the hint shown
// while the pointer rests on it (empty when none) and the name a screen
// reader says (through the system's accessibility interface).
std::string toolTip(ui::WindowRef control);
std::string accessibleName(ui::WindowRef control);

void minimise(ui::WindowRef dialog);
bool isMinimised(ui::WindowRef dialog);
// Makes the dialog the active window; true once it is.
bool activate(ui::WindowRef dialog);

// The text on the clipboard (empty when it holds none).
std::string clipboardText();

// Runs `work` on the GUI thread as soon as its event loop runs again (for
// instance inside a modal loop that the test is about to enter).
void runSoon(std::function<void()> work);
// The modal dialog being shown now, if any.
ui::WindowRef activeModalDialog();
// The control with this id in a dialog the test has only as a window (a
// modal dialog the program opened); nullptr when there is none.
ui::WindowRef dialogControl(ui::WindowRef dialog, int controlId);

}  // namespace plimsy::test
