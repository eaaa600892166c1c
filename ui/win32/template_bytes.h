#pragma once

// The in-memory dialog template (DLGTEMPLATEEX with its DLGITEMTEMPLATEEX
// items) that CreateDialogIndirectParamW makes a dialog from, built from a
// parsed template: style names become their values, texts UTF-16, every
// control a visible child unless the template says NOT WS_VISIBLE.

#include <cstdint>
#include <string>
#include <vector>

#include "ui/dialog_template.h"

namespace plimsy::ui::win32 {

// The value of a window, dialog or control style name; false for a name it
// does not know.
bool styleValue(const std::string& name, std::uint32_t& value);

// Fails with "Dialog <id>: unknown style <name>." or "Dialog <id>: unknown
// control class <name>." (the bytes are then empty).
bool dialogTemplateBytes(const sDialogTemplate& dialog, std::vector<std::uint8_t>& bytes, std::string* message);

}  // namespace plimsy::ui::win32
