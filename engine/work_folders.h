#pragma once

// The folders a job makes: claiming a new folder for itself alone (a failing
// mkdir is the claim, so two jobs never share one), and the folders a job
// makes above its output, taken away again when the job fails.

#include <string>
#include <vector>

#include "core/paths.h"

namespace plimsy {

// The path without its trailing separators (a root stays a root).
std::string withoutTrailingSeparators(std::string path);

// Makes `candidate` as a new folder: Claimed when this call made it, Taken
// when something of that name exists already, Failed otherwise.
ClaimResult claimFolder(const std::string& candidate);

// Claims the first free folder tempN in `parent` (claimUniqueName's rules and
// results); `folder` receives its path without a trailing separator.
ClaimResult claimTempFolder(std::string* message, const std::string& parent, std::string& folder);

// `folder` and the folders above it that do not exist, innermost first: the
// folders a job makes when it makes `folder` with its parents.
std::vector<std::string> missingFolders(const std::string& folder);

// Removes the folders a job made (missingFolders, innermost first) after a
// failure, as long as they are empty: stops at the first that is not.
void removeMadeFolders(const std::vector<std::string>& made);

}  // namespace plimsy
