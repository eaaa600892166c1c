#pragma once

// The program's start and end: the single-instance rule, the settings file
// loaded into the process-wide settings, the main dialog created and run
// until it closes (closing saves the settings).

#include <string>
#include <string_view>
#include <vector>

#include "ui/services.h"

namespace plimsy::ui {

// Reads the settings file at `path` into the process-wide settings object,
// with every line break dropped; a missing or empty file leaves the defaults.
// True when the settings were read (a file of line breaks alone counts).
bool loadStartupSettings(const std::string& path);

// The whole program: returns the process exit code (0 also for a start that
// found another instance running).
int runPlimsy(int argc, char** argv);

// ---- The command line ------------------------------------------------------------

// What a start is asked for: the window (with the path it names, if any), or
// the help or the version printed. The arguments are the program's after the
// window system has taken its own out, the program's name first. "--help"
// and "--version" count anywhere before "--"; the first other argument is
// the path ("--" lets a path start with a dash).
struct sStartRequest {
  enum class eKind { Window, Help, Version };
  eKind kind = eKind::Window;
  std::string path;
};
sStartRequest startRequest(const std::vector<std::string>& arguments);

// What --help and --version print (each ends with a line break).
std::string usageText();
std::string versionText();

// A path from the command line made absolute against this process's current
// folder, with "." and ".." taken out; a later start does this before it
// hands the path on, since the running instance has a current folder of its
// own. Empty stays empty; a path that cannot be made absolute comes back as
// it was (the window then leaves it alone). On Windows a trailing quote,
// what the command line leaves of a quoted folder's trailing "\", goes.
std::string absoluteStartPath(const std::string& path);

// ---- Without a display ---------------------------------------------------------------

// Why the window cannot be shown, when the environment already says so: the
// window-system platforms asked for (`platform`: "-platform NAME" or
// QT_QPA_PLATFORM, a ";" list of names each with optional ":options"; empty
// for the default) all need a display, and neither DISPLAY nor
// WAYLAND_DISPLAY names one. Empty otherwise (the platform may still fail to
// connect).
std::string displayProblem(std::string_view platform, std::string_view display, std::string_view waylandDisplay);

// The one line printed when the window cannot be shown, for `reason`.
std::string noDisplayLine(std::string_view reason);

}  // namespace plimsy::ui
