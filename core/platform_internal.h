#pragma once

// What the platform files share with each other and nobody else uses: each
// system's own part of a listing, and the fault plan that tests arm.

#include <cstdint>
#include <string>
#include <vector>

#include "core/platform.h"

namespace plimsy::platform::detail {

// The items of a folder without "." and "..", in the order the system gives
// them (listFolder sorts them). Same failures as listFolder.
bool listFolderItems(const std::string& folder, std::vector<FolderItem>& items);

// The names of the folders in a folder (not links to folders), in the order
// the system gives them (listSubfolders sorts them). Same failures as
// listFolder.
bool listSubfolderNames(const std::string& folder, std::vector<std::string>& names);

// Records why an operation failed on this thread (the system's error code
// and the path it was about), for lastSystemError().
void recordFailure(std::uint32_t code, const std::string& path);

enum class InjectedFault {
  None,      // go on
  Failure,   // fail as an input/output error would
  DiskFull,  // fail as a full disk would (a sticky fault)
};

// Counts one operation (and calls the observer first); says whether it is to
// fail. The caller sets the system's error code to match.
InjectedFault injectedFault(FaultOperation operation);

}  // namespace plimsy::platform::detail
