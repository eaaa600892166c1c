#include "ui/startup.h"

#include <filesystem>
#include <system_error>

#include "core/paths.h"
#include "core/settings_file.h"
#include "ui/ui_values.h"
#include "version.h"

namespace plimsy::ui {

bool loadStartupSettings(const std::string& path) { return loadSettingsFile(path); }

sStartRequest startRequest(const std::vector<std::string>& arguments) {
  sStartRequest request;
  bool optionsEnded = false;
  for (std::size_t i = 1; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (!optionsEnded && argument == "--") {
      optionsEnded = true;
    } else if (!optionsEnded && (argument == "--help" || argument == "-h")) {
      return {sStartRequest::eKind::Help, {}};
    } else if (!optionsEnded && argument == "--version") {
      return {sStartRequest::eKind::Version, {}};
    } else if (request.path.empty()) {
      request.path = argument;
    }
  }
  return request;
}

std::string usageText() {
  return "Usage: plimsy [PATH]\n"
         "Opens the Plimsy window: zip a book folder into an epub, unzip an epub,\n"
         "analyse any ZIP archive.\n"
         "\n"
         "  PATH       an epub: it fills the Epub line, and the Files line with the\n"
         "             folder beside it named after it; or a folder: it fills the\n"
         "             Files line, and the Epub line with the epub beside it named\n"
         "             after it. When Plimsy runs already, its window takes the path.\n"
         "  --help     print this help and exit\n"
         "  --version  print the version and exit\n"
         "\n"
         "The window also takes the options of Qt programs, such as -platform NAME.\n"
         "plimsy-cli runs the same jobs from a terminal.\n";
}

std::string versionText() { return windowTitle() + " (file version " + kFileVersion + ")\n"; }

std::string absoluteStartPath(const std::string& path) {
  if (path.empty()) return path;
  std::string given = path;
  // "C:\books\Name\" typed with its quotes reaches the program as
  // C:\books\Name" (the backslash takes the quote for a character); a
  // Windows name never holds a quote.
  if (kWindowsNameRules && given.size() > 1 && given.back() == '"') given.pop_back();
  try {
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(pathFromUtf8(given), error);
    if (error) return path;
    return utf8FromPath(absolute.lexically_normal());
  } catch (const std::exception&) {
    return path;
  }
}

std::string displayProblem(std::string_view platform, std::string_view display, std::string_view waylandDisplay) {
  if (!display.empty() || !waylandDisplay.empty()) return {};
  // Every platform named must be one that shows windows on a display server.
  while (true) {
    const std::size_t end = platform.find(';');
    std::string_view name = platform.substr(0, end);
    name = name.substr(0, name.find(':'));
    if (!name.empty() && name != "xcb" && name.substr(0, 7) != "wayland") return {};
    if (end == std::string_view::npos) break;
    platform.remove_prefix(end + 1);
  }
  return "neither DISPLAY nor WAYLAND_DISPLAY is set";
}

std::string noDisplayLine(std::string_view reason) {
  return "No display: " + std::string(reason) + "; plimsy-cli runs the same jobs from a terminal";
}

}  // namespace plimsy::ui
