#pragma once

// Check and Repair in the window, what the job runner (startCheck) needs
// besides its workers: the request's check, what the result dialog shows,
// where a repair's backup goes, and the line a successful zip's message gets
// when the new epub has errors.

#include <cstddef>
#include <string>
#include <vector>

#include "core/settings.h"
#include "engine/container_check.h"

namespace plimsy::ui {

// What the result dialog shows.
struct sCheckView {
  std::string title;     // "Check: Name.epub"
  std::string summary;   // "No problems found." or "3 errors, 1 warning" (after a repair, a line before it)
  std::string findings;  // one finding a line, as plimsy-cli check prints them
  std::string copyText;  // the findings and the count, as plimsy-cli check prints them
  bool repairOffered = false;
};

// The view of `findings`, found in the epub at `epub`; `repaired` when the
// epub has just been repacked.
sCheckView checkView(const std::string& epub, const std::vector<sFinding>& findings, bool repaired);

// What the summary says first after a repair.
inline constexpr const char* kRepairedNote = "The epub was repacked and checked again.";

// Before a check: the epub line must name an existing epub file, absolutely.
// Refused as the Unzip request refuses a missing epub, except for an empty
// line, which asks for the epub to check.
bool checkCheckRequest(std::string* message, const std::string& epub);

// Where a repair puts the backup of the epub it replaces, by the options in
// `settings` (empty: no backup); false with the message of a refusal.
bool repairBackupFolder(std::string* message, const cSettings& settings, const std::string& epub,
                        std::string& backupDir);

// The line a zip's success message gets when the new epub has errors:
// "Check found 2 errors in this book: click Check to see them."; empty for
// none.
std::string checkFoundLine(std::size_t errors);

}  // namespace plimsy::ui
