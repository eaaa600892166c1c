#pragma once

// The words a dialog gives its controls besides their texts: the name a
// screen reader says (every edit line and combo box takes its label's text;
// a button whose text is a symbol or a short word says what it does) and the
// hint shown while the pointer rests on the control. One table per dialog,
// used by every window backend.

#include <span>

#include "ui/dlg.h"

namespace plimsy::ui {

struct sControlWords {
  int controlId;
  const char* accessibleName;
  const char* hint;  // nullptr: none
};

inline void applyControlWords(const cDlg& dialog, std::span<const sControlWords> words) {
  for (const sControlWords& word : words) {
    const cWin control(dialog.control(word.controlId));
    control.setAccessibleName(word.accessibleName);
    if (word.hint) control.setToolTip(word.hint);
  }
}

}  // namespace plimsy::ui
