#pragma once

// The program's start and end: the single-instance rule, the settings file
// loaded into the process-wide settings, the main dialog created and run
// until it closes (closing saves the settings).

#include <string>

#include "ui/services.h"

namespace plimsy::ui {

// Reads the settings file at `path` into the process-wide settings object,
// with every line break dropped; a missing or empty file leaves the defaults.
// True when the settings were read (a file of line breaks alone counts).
bool loadStartupSettings(const std::string& path);

// The whole program: returns the process exit code (0 also for a start that
// found another instance running).
int runPlimsy(int argc, char** argv);

}  // namespace plimsy::ui
