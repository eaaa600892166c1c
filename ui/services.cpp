#include "ui/services.h"

#include <utility>

#include "core/paths.h"
#include "core/platform.h"
#include "engine/unzip_job.h"
#include "engine/zip_job.h"
#include "ui/open_failures.h"
#include "ui/ui_values.h"

namespace plimsy::ui {

sServices jobServices(cPresenter& presenter, cOpener& opener, std::function<void()> quit) {
  sServices services;
  services.presenter = &presenter;
  services.opener = &opener;
  // Both jobs have overloads for the command line (tuning, progress): name the plain ones.
  using Job = bool (*)(const EpubWorkOrder&, std::string*, sStatistics&);
  services.zip = static_cast<Job>(zipJob);
  services.unzip = static_cast<Job>(unzipJob);
  services.quit = std::move(quit);
  return services;
}

namespace {
const char* const kAllFiles = "All files (*)";
}  // namespace

sPathPick epubPick(const std::string& startPath) {
  return {"Choose the epub", {"EPUB (*.epub)", kAllFiles}, "epub", startPath};
}

sPathPick filesFolderPick(const std::string& startPath) { return {"Choose the files folder", {}, "", startPath}; }

sPathPick backupFolderPick(const std::string& startPath) { return {"Choose the backup folder", {}, "", startPath}; }

sPathPick analysisLogPick(const std::string& startPath) {
  return {"Choose the analysis log", {"Text files (*.txt)", kAllFiles}, "txt", startPath};
}

std::string openHelpPage(cOpener& opener) {
  const std::string found = helpPagePath();
  const std::intptr_t result = opener.open(found);
  std::string named = found;
  const std::string program = platform::executablePath();
  if (named.empty() && !program.empty()) named = utf8FromPath(pathFromUtf8(program).parent_path() / "help.html");
  return openFailureMessage(kOpenUserGuideFailure, result, named);
}

}  // namespace plimsy::ui
