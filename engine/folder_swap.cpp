#include "engine/folder_swap.h"

#include <algorithm>

#include "core/message.h"
#include "core/paths.h"
#include "core/text.h"
#include "engine/job_control.h"
#include "engine/work_folders.h"

namespace plimsy {
namespace {

// Whether a file (or anything but a folder) lies anywhere in the folder. A
// folder that cannot be read may hold one.
bool holdsFiles(const std::string& folder) {
  std::vector<platform::FolderItem> items;
  if (!platform::listFolder(folder, items)) return true;
  return std::any_of(items.begin(), items.end(), [&folder](const platform::FolderItem& item) {
    return !item.isFolder || item.isSymlink || holdsFiles(joinPath(folder, item.name));
  });
}

bool unpacksIntoFilesFolder(const sUnzipContext& context) {
  return withoutTrailingSeparators(context.workFolder) == withoutTrailingSeparators(context.workOrder.FilesDir);
}

// A backup folder that is removed again unless the copy into it completed:
// nothing partial may look like a backup.
class cPartialBackup {
 public:
  explicit cPartialBackup(std::string folder) : folder_(std::move(folder)) {}
  ~cPartialBackup() {
    if (!kept_) platform::removeTree(folder_);
  }
  cPartialBackup(const cPartialBackup&) = delete;
  cPartialBackup& operator=(const cPartialBackup&) = delete;
  void keep() { kept_ = true; }

 private:
  std::string folder_;
  bool kept_ = false;
};

// Copies the old files folder into the first backN that no other job has made.
bool makeBackup(const sUnzipContext& context, std::string* message) {
  const std::string& backupDir = context.workOrder.BackupDir;
  // A file of that name makes the system refuse the folder, with its reason.
  if (pathKind(backupDir) != PathKind::Folder && !platform::makeFolders(backupDir))
    return fail(message, withSystemError(kNoBackupFolderMessage));
  std::string backup;
  switch (claimUniqueName(message, withTrailingSeparator(backupDir), "back", "", claimFolder, backup)) {
    case ClaimResult::Claimed: break;
    case ClaimResult::Taken: return false;
    case ClaimResult::Failed: {
      // The reason and the path, as copyTree gives them.
      platform::sSystemError error = platform::lastSystemError();
      while (error.reason.ends_with('.')) error.reason.pop_back();
      return fail(message, formatText(kCopyTreeMessage, "cannot make " + error.path + ": " + error.reason));
    }
  }
  cPartialBackup partial(backup);
  std::string reason;
  if (!platform::copyTree(context.workOrder.FilesDir, backup, &reason))
    return fail(message, formatText(kCopyTreeMessage, reason));
  partial.keep();
  return true;
}

// Renames `from` to the first oldN beside it that is free.
bool renameAside(const std::string& from, std::string& aside) {
  std::string parent;
  if (!parentFolder(nullptr, from, parent)) return false;
  const auto rename = [&from](const std::string& candidate) {
    if (platform::renameNoReplace(from, candidate)) return ClaimResult::Claimed;
    return platform::entryExists(candidate) ? ClaimResult::Taken : ClaimResult::Failed;
  };
  return claimUniqueName(nullptr, withTrailingSeparator(parent), "old", "", rename, aside) == ClaimResult::Claimed;
}

// Puts the work folder in the place of the old files folder: the old one is
// renamed aside, the work folder renamed into place, and the old one put back
// when that fails. `aside` receives the old folder's new path, to be deleted.
bool swapFolders(const sUnzipContext& context, std::string* message, std::string& aside) {
  const std::string filesDir = withoutTrailingSeparators(context.workOrder.FilesDir);
  const std::string workFolder = withoutTrailingSeparators(context.workFolder);
  // Either rename fails on the files folder, which is what the user can act on.
  if (!renameAside(filesDir, aside))
    return fail(message, withPathAndReason(kRenameWorkFolderMessage, filesDir, platform::lastSystemError().reason));
  if (!platform::renameNoReplace(workFolder, filesDir)) {
    const std::string reason = platform::lastSystemError().reason;
    platform::renameNoReplace(aside, filesDir);
    return fail(message, withPathAndReason(kRenameWorkFolderMessage, filesDir, reason));
  }
  return true;
}

// Gives every folder of the result the fixed datetime, or the time of now
// when real creation times are asked for; else leaves them alone.
void stampFolders(const EpubWorkOrder& order) {
  FileTime time = order.tDatetime;
  if (time == 0 && order.RealFileCreationTimes) time = platform::currentFileTime();
  if (time == 0) return;
  for (const std::string& folder : listFolders(order.FilesDir)) setTimes(time, time, time, folder);
}

}  // namespace

void removeFailedWork(const sUnzipContext& context) {
  const std::string workFolder = withoutTrailingSeparators(context.workFolder);
  if (!jobsAbandoned() && holdsFiles(workFolder)) return;
  if (platform::removeTree(workFolder)) removeMadeFolders(context.madeFolders);
}

bool claimWorkFolder(sUnzipContext& context, std::string* message) {
  const std::string& filesDir = context.workOrder.FilesDir;
  std::string parent;
  if (!parentFolder(message, filesDir, parent)) return false;
  if (pathKind(filesDir) == PathKind::Missing) {
    context.madeFolders = missingFolders(parent);
    platform::makeFolders(parent);
    const ClaimResult made = claimFolder(withoutTrailingSeparators(filesDir));
    if (made == ClaimResult::Claimed) {
      context.workFolder = withTrailingSeparator(filesDir);
      return true;
    }
    if (made == ClaimResult::Failed) return fail(message, withSystemError(kNoUnzipFolderMessage));
    // Made by someone else meanwhile: it is an existing folder now.
  }
  std::string folder;
  switch (claimTempFolder(message, parent, folder)) {
    case ClaimResult::Claimed: context.workFolder = withTrailingSeparator(folder); return true;
    case ClaimResult::Taken: return false;
    case ClaimResult::Failed: break;
  }
  return fail(message, withSystemError(kNoUnzipFolderMessage));
}

bool putInPlace(sUnzipContext& context, std::string* message, cWorkClaim& claim) {
  if (unpacksIntoFilesFolder(context)) {
    if (!claim.completeWith([] { return true; })) return fail(message, kJobAbandonedMessage);
    stampFolders(context.workOrder);
    return true;
  }
  if (!context.workOrder.BackupDir.empty() && !makeBackup(context, message)) return false;
  std::string aside;
  bool abandoned = true;
  const bool swapped = claim.completeWith([&] {
    abandoned = false;
    return swapFolders(context, message, aside);
  });
  if (!swapped) return abandoned ? fail(message, kJobAbandonedMessage) : false;
  stampFolders(context.workOrder);
  std::string reason;
  if (!platform::removeTree(aside, &reason)) return fail(message, formatText(kDeleteTreeMessage, reason));
  return true;
}

}  // namespace plimsy
