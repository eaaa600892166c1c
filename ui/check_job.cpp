#include "ui/check_job.h"

#include <fmt/format.h>

#include "core/message.h"
#include "core/paths.h"
#include "core/platform.h"
#include "core/request_checks.h"
#include "engine/findings_text.h"
#include "engine/repair_rules.h"

namespace plimsy::ui {

sCheckView checkView(const std::string& epub, const std::vector<sFinding>& findings, bool repaired) {
  sCheckView view;
  view.title = "Check: " + std::string(fileNamePart(epub));
  view.summary = checkSummary(findings);
  if (repaired) view.summary = std::string(kRepairedNote) + "\n" + view.summary;
  view.findings = findingsAsText(findings);
  view.copyText = view.findings + findingsSummary(findings) + "\n";
  view.repairOffered = repairOffered(findings);
  return view;
}

bool checkCheckRequest(std::string* message, const std::string& epub) {
  if (epub.empty()) return fail(message, "Please specify the epub that you want to check.");
  bool absolute = false;
  if (!isAbsolutePath(message, epub, absolute)) return false;
  if (!absolute)
    return fail(message,
                "You specified an epub path that isn't absolute. To avoid this problem, use the button with three "
                "dots.");
  // The rest as the Unzip request's source check says it.
  EpubWorkOrder order;
  order.DoWhat = kDoWhatUnzip;
  order.ZipPath = epub;
  return checkJobSource(message, order);
}

bool repairBackupFolder(std::string* message, const cSettings& settings, const std::string& epub,
                        std::string& backupDir) {
  cSettings job = settings;
  job.workOrder.ZipPath = epub;
  // No files folder takes part in a repair.
  job.workOrder.FilesDir.clear();
  if (!resolveBackupFolderFor(message, job)) return false;
  backupDir = job.workOrder.BackupDir;
  return true;
}

std::string checkFoundLine(std::size_t errors) {
  if (errors == 0) return {};
  return fmt::format("Check found {} {} in this book: click Check to see them.", errors,
                     errors == 1 ? "error" : "errors");
}

}  // namespace plimsy::ui
