#pragma once

// How findings read as text, the same in the window and on the command line:
// one line per finding and a count of them.

#include <string>
#include <vector>

#include "engine/container_check.h"

namespace plimsy {

// "CODE severity entry: message" per finding (no entry: "CODE severity:
// message"), each with a line feed. A line feed or tab inside a finding is
// written \x0A or \x09, so that every finding keeps to its line.
std::string findingsAsText(const std::vector<sFinding>& findings);

// "1 error, 2 warnings".
std::string findingsSummary(const std::vector<sFinding>& findings);

// The summary a person reads first: "No problems found." when there is no
// finding at all, else findingsSummary.
std::string checkSummary(const std::vector<sFinding>& findings);

}  // namespace plimsy
