#include "engine/work_folders.h"

#include "core/platform.h"

namespace plimsy {

std::string withoutTrailingSeparators(std::string path) {
  while (path.size() > 1 && endsWithSeparator(path)) path.pop_back();
  return path;
}

ClaimResult claimFolder(const std::string& candidate) {
  switch (platform::makeFolder(candidate)) {
    case platform::MakeFolderResult::Made: return ClaimResult::Claimed;
    case platform::MakeFolderResult::Exists: return ClaimResult::Taken;
    case platform::MakeFolderResult::Failed: break;
  }
  return ClaimResult::Failed;
}

ClaimResult claimTempFolder(std::string* message, const std::string& parent, std::string& folder) {
  return claimUniqueName(message, withTrailingSeparator(parent), "temp", "", claimFolder, folder);
}

std::vector<std::string> missingFolders(const std::string& folder) {
  std::vector<std::string> missing;
  std::string current = withoutTrailingSeparators(folder);
  while (pathKind(current) == PathKind::Missing) {
    missing.push_back(current);
    std::string up;
    if (!parentFolder(nullptr, current, up) || withoutTrailingSeparators(up) == current) break;
    current = withoutTrailingSeparators(up);
  }
  return missing;
}

void removeMadeFolders(const std::vector<std::string>& made) {
  for (const std::string& folder : made) {
    if (!platform::removeEmptyFolder(folder)) return;
  }
}

}  // namespace plimsy
