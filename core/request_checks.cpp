#include "core/request_checks.h"

#include <filesystem>
#include <system_error>

#include "core/message.h"
#include "core/paths.h"
#include "core/text.h"

namespace plimsy {
namespace {

// Why there is no folder for temporary files: where this user's folder is
// looked for (see platform::userTemporaryFolder).
#ifdef _WIN32
constexpr const char* kNoTemporaryFolderReason = "None of %TMP%, %TEMP% and %USERPROFILE% names a usable folder.";
#else
constexpr const char* kNoTemporaryFolderReason =
    "None of $TMPDIR, $XDG_RUNTIME_DIR, $XDG_CACHE_HOME and $HOME holds an absolute path.";
#endif

// Runs isAbsolutePath and turns "not absolute" into `notAbsoluteText`.
bool requireAbsolute(std::string* message, const std::string& path, const char* notAbsoluteText) {
  bool absolute = false;
  if (!isAbsolutePath(message, path, absolute)) return false;
  if (!absolute) return fail(message, notAbsoluteText);
  return true;
}

bool offerToChoose(cRequestUi& ui, std::string* message, const char* question) {
  if (ui.offer(formatText(question, std::string("Plimsy")))) return true;
  return fail(message, "");
}

bool resolveBackupFolder(std::string* message, cSettings& job) {
  EpubWorkOrder& order = job.workOrder;
  if (!job.SaveBackups) {
    order.BackupDir.clear();
    return true;
  }
  if (!job.UseSpecifiedBackupFolder) return parentFolder(message, order.ZipPath, order.BackupDir);
  if (order.BackupDir.empty())
    return fail(message, "You instructed Plimsy to use your specified backup directory but you didn't specify one.");
  if (!requireAbsolute(message, order.BackupDir,
                       "You specified a backup directory path that isn't absolute. To avoid this problem, use the "
                       "button with three dots."))
    return false;
  // Before the folder is made: a refused request leaves nothing behind.
  if (!checkBackupOutsideFiles(message, order)) return false;
  switch (pathKind(order.BackupDir)) {
    case PathKind::Folder: return true;
    case PathKind::File: return fail(message, "The backup directory you specified is not a directory.");
    case PathKind::Missing: break;
  }
  if (!platform::makeFolders(order.BackupDir))
    return fail(message, withSystemError("Unable to create backup directory."));
  return true;
}

}  // namespace

bool checkZipRequest(cRequestUi& ui, std::string* message, cSettings& job) {
  EpubWorkOrder& order = job.workOrder;
  order.DoWhat = kDoWhatZip;
  if (order.FilesDir.empty()) return fail(message, "Please specify the files directory that you want to zip.");
  if (!requireAbsolute(message, order.FilesDir,
                       "You specified a files directory path that isn't absolute. To avoid this problem, use the "
                       "button with three dots."))
    return false;
  switch (pathKind(order.FilesDir)) {
    case PathKind::Missing: return fail(message, "You specified a files directory that doesn't exist.");
    case PathKind::File: return fail(message, "You specified a files directory that isn't a directory.");
    case PathKind::Folder: break;
  }
  if (!order.ZipPath.empty()) return checkJobOptions(message, job);

  if (!offerToChoose(ui, message,
                     "You didn't specify the name and location of an epub file to create. Would you like %s to "
                     "choose?"))
    return false;
  std::string parent;
  std::string chosen;
  if (!parentFolder(message, order.FilesDir, parent)) return false;
  if (!uniqueFileName(message, parent, "book", "epub", chosen)) return false;
  order.ZipPath = chosen;
  ui.showChosenPath(kEpubLineId, chosen);
  return checkJobOptions(message, job);
}

bool checkUnzipRequest(cRequestUi& ui, std::string* message, cSettings& job) {
  EpubWorkOrder& order = job.workOrder;
  order.DoWhat = kDoWhatUnzip;
  if (order.ZipPath.empty()) return fail(message, "Please specify the epub that you want to unzip.");
  if (!requireAbsolute(message, order.ZipPath,
                       "You specified an epub path that isn't absolute. To avoid this problem, use the button with "
                       "three dots."))
    return false;
  switch (pathKind(order.ZipPath)) {
    case PathKind::Missing: return fail(message, "You specified an epub file that doesn't exist.");
    case PathKind::Folder: return fail(message, "You specified an epub file that is a directory.");
    case PathKind::File: break;
  }
  if (!order.FilesDir.empty()) return checkJobOptions(message, job);

  if (!offerToChoose(ui, message,
                     "You didn't specify the name and location of a files folder. Would you like %s to choose?"))
    return false;
  std::string parent;
  std::string chosen;
  if (!parentFolder(message, order.ZipPath, parent)) return false;
  if (!uniqueFileName(message, parent, "files", "", chosen)) return false;
  order.FilesDir = withTrailingSeparator(chosen);
  ui.showChosenPath(kFilesLineId, order.FilesDir);
  return checkJobOptions(message, job);
}

bool checkJobOptions(std::string* message, cSettings& job) {
  EpubWorkOrder& order = job.workOrder;
  if (platform::isSpecialFile(order.ZipPath)) return fail(message, formatText(kNotRegularFileMessage, order.ZipPath));
  bool inTree = false;
  if (!isInDirectoryTree(message, order.ZipPath, order.FilesDir, inTree)) return false;
  if (inTree) return fail(message, "Epub file is in files directory tree.");
  if (!checkFilesFolderTarget(message, order)) return false;
  if (!resolveBackupFolder(message, job)) return false;
  if (job.sDatetime.empty()) return true;
  if (!parseDatetime(toUtf8(job.sDatetime), order.tDatetime)) return fail(message, "Unable to read datetime.");
  return true;
}

bool resolveBackupFolderFor(std::string* message, cSettings& job) { return resolveBackupFolder(message, job); }

bool checkJobSource(std::string* message, const EpubWorkOrder& order) {
  if (order.DoWhat == kDoWhatZip) {
    if (order.FilesDir.empty()) return fail(message, "Please specify the files folder that you want to zip.");
    switch (pathKind(order.FilesDir)) {
      case PathKind::Missing: return fail(message, "You specified a files folder that doesn't exist.");
      case PathKind::File: return fail(message, "You specified a files folder that isn't a folder.");
      case PathKind::Folder: return true;
    }
  }
  if (order.DoWhat == kDoWhatUnzip) {
    if (order.ZipPath.empty()) return fail(message, "Please specify the epub file that you want to unzip.");
    switch (pathKind(order.ZipPath)) {
      case PathKind::Missing: return fail(message, "You specified an epub file that doesn't exist.");
      case PathKind::Folder: return fail(message, "You specified an epub file that isn't a file (it's a folder).");
      case PathKind::File: break;
    }
    if (platform::isSpecialFile(order.ZipPath)) return fail(message, formatText(kNotRegularFileMessage, order.ZipPath));
  }
  return true;
}

bool checkFilesFolderTarget(std::string* message, const EpubWorkOrder& order) {
  if (order.DoWhat != kDoWhatUnzip) return true;
  // "notes.txt/" is no folder to the system, but the job would take the name without its separator.
  std::string target = order.FilesDir;
  while (target.size() > 1 && endsWithSeparator(target) && target[target.size() - 2] != ':') target.pop_back();
  if (target.empty() || !platform::entryExists(target) || pathKind(target) == PathKind::Folder) return true;
  return fail(message, formatText(kFilesFolderIsFileMessage, target));
}

bool checkBackupOutsideFiles(std::string* message, const EpubWorkOrder& order) {
  if (order.BackupDir.empty() || order.FilesDir.empty()) return true;
  bool inside = false;
  if (!isInDirectoryTree(message, order.BackupDir, order.FilesDir, inside)) return false;
  return inside ? fail(message, kBackupInsideFilesMessage) : true;
}

bool checkAnalysisRequest(cRequestUi& ui, std::string* message, cSettings& settings) {
  EpubWorkOrder& order = settings.workOrder;
  order.DoWhat = kDoWhatAnalysis;
  if (order.ZipPath.empty()) return fail(message, "You must specify the name and location of an epub file to analyze.");
  for (const std::string* path : {&order.ZipPath, &order.AnalyzeZipLogPath}) {
    if (platform::isSpecialFile(*path)) return fail(message, formatText(kNotRegularFileMessage, *path));
  }
  if (!order.AnalyzeZipLogPath.empty()) return true;
  if (!offerToChoose(ui, message,
                     "You didn't specify the name and location of an analysis log to create. Would you like %s to "
                     "choose?"))
    return false;
  std::string folder;
  if (!temporaryFolder(folder))
    return fail(message,
                withPathAndReason("Unable to find the folder for temporary files.", "", kNoTemporaryFolderReason));
  order.AnalyzeZipLogPath = withTrailingSeparator(folder) + "analysis.txt";
  return true;
}

bool checkAnalysisRequest(cRequestUi& ui, std::string* message) {
  cSettings copy = settingsSnapshot();
  const bool ok = checkAnalysisRequest(ui, message, copy);
  updateSettings([&copy](cSettings& shared) {
    shared.workOrder.DoWhat = copy.workOrder.DoWhat;
    shared.workOrder.AnalyzeZipLogPath = copy.workOrder.AnalyzeZipLogPath;
  });
  return ok;
}

}  // namespace plimsy
