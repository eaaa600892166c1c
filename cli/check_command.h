#pragma once

// plimsy-cli check: the container check of an epub, printed as text (one
// finding per line, then a count) or as one JSON object. Exit codes: 0 when
// no finding is an error, 1 otherwise.

#include <string>
#include <string_view>
#include <vector>

#include "engine/container_check.h"
#include "engine/findings_text.h"

namespace plimsy::cli {

struct CheckOptions {
  std::string epub;
  std::string format = "text";  // "text" or "json"
  bool deep = false;
  bool quiet = false;  // no count line after the findings
};

int runCheck(const CheckOptions& options);

// Before a zip: prints, on standard error, one line per fault of the book
// folder that the check of its epub would report (checkBookFolder), as
// findingsAsText does. The zip goes ahead.
void printBookFolderWarnings(const std::string& folder);

// `text` as a JSON string, quotes included: ", \ and control characters
// escaped; bytes that are not UTF-8 as in visibleName.
std::string jsonString(std::string_view text);

// {"file": ..., "findings": [{"code", "severity", "entry", "message"}...],
//  "summary": {"errors": N, "warnings": M}} and a line feed.
std::string findingsAsJson(std::string_view file, const std::vector<sFinding>& findings);

// The findings' wording, shared with the window (engine/findings_text.h).
using ::plimsy::findingsAsText;
using ::plimsy::findingsSummary;

}  // namespace plimsy::cli
