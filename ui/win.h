#pragma once

// cWin: an object bound to a window or to one of a dialog's controls, with
// the few control operations the dialogs use. The operations are the window
// backend's (ui/qt, ui/win32); the dialogs' code sees only this class.
// Destroying a cWin never destroys its window. Nothing happens without a
// window, and every call belongs on the GUI thread.

#include <string>
#include <vector>

#include "ui/native_window.h"

namespace plimsy::ui {

class cWin {
 public:
  cWin() = default;
  explicit cWin(WindowRef window) : window_(window) {}
  virtual ~cWin() = default;
  cWin(const cWin&) = delete;
  cWin& operator=(const cWin&) = delete;

  WindowRef window() const { return window_; }
  void attach(WindowRef window) { window_ = window; }

  // Runs when the window has been created; does nothing here.
  virtual void onCreate() {}

  void showWindow(bool visible) const;
  void enable(bool enabled) const;
  bool isEnabled() const;
  bool isVisible() const;  // shown in its own right (whether or not its dialog is)
  // The text of an edit line or box, a combo box's edit field, a button or a
  // label. Lines end in "\n" (a multi-line box's own line ends are turned
  // into "\n" and back).
  std::string text() const;
  void setText(const std::string& text) const;
  bool isChecked() const;
  // Sets or clears a check mark without touching the other radio buttons.
  void setChecked(bool checked) const;
  // Presses a button as a click would (a radio button is checked, its group
  // cleared, and the dialog gets the command).
  void click() const;
  void setFocus() const;
  // The hint shown while the pointer rests on the control.
  void setToolTip(const std::string& text) const;
  // The name screen readers give the control (a button whose text is a
  // symbol, an edit line that its label names).
  void setAccessibleName(const std::string& name) const;
  // The control's rectangle in its dialog's client area.
  sPixelRect rectInDialog() const;

  // ---- Combo boxes ----
  // Replaces the list with these items, in this order.
  void setItems(const std::vector<std::string>& items) const;
  int itemCount() const;
  std::string itemText(int index) const;
  // The selected item's index; -1 when none is.
  int selectedItem() const;
  // Selects an item; -1 selects none and empties the edit field.
  void selectItem(int index) const;

  // ---- Progress bars and labels ----
  // Makes a progress bar a marquee that runs for as long as it is shown.
  void startMarquee() const;
  // Gives a label the heading's look: the menu font, 1.8 times as tall and
  // 1.5 times as heavy, in blue (red 0, green 78, blue 234).
  void setHeadingLook() const;

 protected:
  WindowRef window_ = nullptr;
};

}  // namespace plimsy::ui
