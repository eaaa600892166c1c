#include "ui/services.h"

#include <utility>

#include "engine/unzip_job.h"
#include "engine/zip_job.h"
#include "ui/ui_values.h"

namespace plimsy::ui {

sServices jobServices(cPresenter& presenter, cOpener& opener, std::function<void()> quit) {
  sServices services;
  services.presenter = &presenter;
  services.opener = &opener;
  // zipJob has an overload that takes the writer's tuning: name the job's own.
  services.zip = static_cast<bool (*)(const EpubWorkOrder&, std::string*, sStatistics&)>(zipJob);
  services.unzip = unzipJob;
  services.quit = std::move(quit);
  return services;
}

std::intptr_t openHelpPage(cOpener& opener) { return opener.open(helpPagePath()); }

}  // namespace plimsy::ui
