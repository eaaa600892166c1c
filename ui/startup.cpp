#include "ui/startup.h"

#include "core/settings_file.h"

namespace plimsy::ui {

bool loadStartupSettings(const std::string& path) { return loadSettingsFile(path); }

}  // namespace plimsy::ui
