#pragma once

// Groups of a dialog's controls, as the arrow keys see them. A control whose
// template carries WS_GROUP starts a group that runs up to the next such
// control; the controls before the first one (all of them when none carries
// it) form a group too. From a button of any kind, Up and Left move the focus
// to the previous control of the group and Down and Right to the next one, in
// template order, wrapping within the group and passing over controls that
// cannot take the focus; edit lines and combo boxes keep the arrow keys for
// themselves. This is how a native dialog's keyboard works.

#include <cstddef>
#include <functional>
#include <optional>

#include "ui/dialog_template.h"

namespace plimsy::ui {

// Whether the arrow keys of this control move the focus within its group.
bool arrowsMoveWithinGroup(const sControlTemplate& control);

// Whether this kind of control can ever have the focus (labels, lines and
// progress bars cannot).
bool canTakeFocus(const sControlTemplate& control);

// The control the arrow keys move to from dialog.controls[from]: the previous
// (or next) one of its group that can take the focus and is `available`
// (shown and enabled), wrapping within the group. None when the group holds no
// other such control.
std::optional<std::size_t> nextGroupControl(const sDialogTemplate& dialog, std::size_t from, bool previous,
                                            const std::function<bool(std::size_t)>& available);

}  // namespace plimsy::ui
