#include "ui/services.h"

#include "ui/ui_values.h"

namespace plimsy::ui {

std::intptr_t openHelpPage(cOpener& opener) { return opener.open(helpPagePath()); }

}  // namespace plimsy::ui
