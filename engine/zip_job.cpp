#include "engine/zip_job.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "core/message.h"
#include "core/paths.h"
#include "core/request_checks.h"
#include "core/text.h"
#include "engine/check_paths.h"
#include "engine/entry_pool.h"
#include "engine/entry_writer.h"
#include "engine/zip_records.h"

namespace plimsy {
namespace {

constexpr std::string_view kMimetype = "mimetype";
// The central directory of a typical book fits without growing.
constexpr std::size_t kCentralDirectoryReserve = 100'000;

// ---- The walk ----------------------------------------------------------------------

// A folder on the way down from the files folder: its identity, and the link
// through which the walk entered it ("" for a plain folder).
struct sFolderOnPath {
  platform::FileIdentity identity;
  std::string link;
};

// The link to name when `item` (reached as `fullPath`) would enter a folder
// that is already on the way down: the item itself when it is a link, else the
// innermost link on the way (without one, the folder itself).
std::string loopingLink(const std::vector<sFolderOnPath>& path, const platform::FolderItem& item,
                        const std::string& fullPath) {
  if (item.isSymlink) return fullPath;
  for (auto folder = path.rbegin(); folder != path.rend(); ++folder) {
    if (!folder->link.empty()) return folder->link;
  }
  return fullPath;
}

bool onPath(const std::vector<sFolderOnPath>& path, const platform::FileIdentity& identity) {
  for (const sFolderOnPath& folder : path) {
    if (folder.identity == identity) return true;
  }
  return false;
}

bool walk(std::string* message, const std::string& folder, const std::string& relativeFolder, const FileVisitor& visit,
          std::vector<sFolderOnPath>& path) {
  std::vector<platform::FolderItem> items;
  if (!platform::listFolder(folder, items)) return fail(message, formatText("Can't read folder\n%s", folder));
  for (const platform::FolderItem& item : items) {
    const std::string relativePath = relativeFolder + item.name;
    const std::string fullPath = folder + item.name;
    if (item.isSpecial) return fail(message, formatText(kNotRegularFileMessage, fullPath));
    if (!item.isFolder) {
      if (!visit(relativePath, item)) return false;
      continue;
    }
    if (onPath(path, item.identity))
      return fail(message, formatText(kFolderLoopMessage, loopingLink(path, item, fullPath)));
    path.push_back({item.identity, item.isSymlink ? fullPath : std::string()});
    const bool walked = walk(message, fullPath + kPreferredSeparator, relativePath + kPreferredSeparator, visit, path);
    path.pop_back();
    if (!walked) return false;
  }
  return true;
}

std::optional<platform::FileIdentity> identityOf(const std::string& path) {
  platform::FileIdentity identity;
  if (!platform::fileIdentity(path, identity)) return std::nullopt;
  return identity;
}

// The files the walk must not pack into the archive: the epub, and the work
// file being written (an identity that cannot be read matches nothing). A
// link in the book may lead to the epub's folder.
struct sOwnFiles {
  std::optional<platform::FileIdentity> epub;
  std::optional<platform::FileIdentity> work;

  bool contains(const platform::FileIdentity& identity) const { return identity == epub || identity == work; }
};

// ---- The entries -----------------------------------------------------------------------

bool addChecked(const sZipWriter& writer, std::string* message, const EntrySink& add, const std::string& relativePath,
                const platform::FolderItem& item, std::optional<std::uint32_t> forcedLevel = std::nullopt,
                std::string_view entryName = {}) {
  if (jobsAbandoned()) return fail(message, kJobAbandonedMessage);
  // The walk joins folders with the system's separator; the name is judged
  // as it will stand in the archive, with "/". (On Windows "\\" is only ever
  // a separator: no file name holds one.)
  std::string inArchive = relativePath;
  if constexpr (kBackslashIsSeparator) std::replace(inArchive.begin(), inArchive.end(), '\\', '/');
  if (!isCarriableEntryName(inArchive))
    return fail(message, formatText(kUncarriableNameMessage, displayUtf8(writer.filesFolder + relativePath)));
  return add(message, relativePath, item, forcedLevel, entryName);
}

// The top-level file named "mimetype" in any case (the first in listing
// order), stored, under its lower-case name.
bool addMimetype(const sZipWriter& writer, std::string* message, const EntrySink& add) {
  std::vector<platform::FolderItem> items;
  if (!platform::listFolder(writer.filesFolder, items))
    return fail(message, formatText("Can't read folder\n%s", writer.filesFolder));
  for (const platform::FolderItem& item : items) {
    if (item.isFolder || !equalsIgnoringAsciiCase(item.name, kMimetype)) continue;
    if (item.isSpecial) return fail(message, formatText(kNotRegularFileMessage, writer.filesFolder + item.name));
    return addChecked(writer, message, add, item.name, item, 0, kMimetype);
  }
  return true;
}

// Every other file, in the order of the walk: files named "mimetype" at any
// depth are left out, and so are the epub and the work file themselves.
bool addOtherFiles(const sZipWriter& writer, std::string* message, const EntrySink& add) {
  const sOwnFiles own{identityOf(writer.epubPath), identityOf(writer.workPath)};
  return collectFiles(message, writer.filesFolder,
                      [&](const std::string& relativePath, const platform::FolderItem& item) {
                        if (equalsIgnoringAsciiCase(item.name, kMimetype) || own.contains(item.identity)) return true;
                        return addChecked(writer, message, add, relativePath, item);
                      });
}

// Every file of the book, one after the other or on several threads: the
// same archive either way. The progress learns the files' count and size
// once the walk has found them all (on several threads, long before the last
// is written).
bool addAllFiles(sZipWriter& writer, std::string* message) {
  const EntryWalk walk = [&writer](std::string* walkMessage, const EntrySink& add) {
    std::uint64_t files = 0;
    std::uint64_t bytes = 0;
    const EntrySink counted = [&](std::string* fileMessage, const std::string& relativePath,
                                  const platform::FolderItem& item, std::optional<std::uint32_t> forcedLevel,
                                  std::string_view entryName) {
      ++files;
      bytes += item.size;
      return add(fileMessage, relativePath, item, forcedLevel, entryName);
    };
    if (!addMimetype(writer, walkMessage, counted) || !addOtherFiles(writer, walkMessage, counted)) return false;
    if (writer.progress != nullptr) {
      writer.progress->totalBytes = bytes;
      writer.progress->totalFiles = files;
    }
    return true;
  };
  if (writer.threads > 1) return addEntriesOnThreads(writer, message, walk);
  return walk(
      message, [&writer](std::string* fileMessage, const std::string& relativePath, const platform::FolderItem& item,
                         std::optional<std::uint32_t> forcedLevel, std::string_view entryName) {
        return add_file__def(writer, fileMessage, relativePath, item, writer.filesFolder, forcedLevel, entryName);
      });
}

// ---- The end ---------------------------------------------------------------------------

// The times the epub is given: the fixed datetime, or the time of now when
// real creation times are asked for; 0 when its times are left alone.
FileTime epubTime(const sZipWriter& writer) {
  if (writer.fixedDatetime != 0) return writer.fixedDatetime;
  return writer.realCreationTimes ? platform::currentFileTime() : 0;
}

// A write, close or setting of times of the work file failed: the text, the
// work file and the system's reason.
bool failOnWorkFile(const sZipWriter& writer, std::string* message, std::string_view text) {
  return fail(message, withPathAndSystemReason(text, writer.workPath));
}

// Sets them on the work file through its handle, after its last write.
bool setEpubTimes(sZipWriter& writer, std::string* message, FileTime time) {
  if (writer.fixedDatetime != 0) {
    return writer.output.setTimes(time, time, time)
               ? true
               : failOnWorkFile(writer, message, "Unable to set time on zip file.");
  }
  if (writer.realCreationTimes) {
    return writer.output.setTimes(time, time, time)
               ? true
               : failOnWorkFile(writer, message, "Unable to set time on epub file.");
  }
  return true;
}

bool writeEndRecords(sZipWriter& writer, std::string* message, FileTime time) {
  const std::optional<std::uint64_t> cdOffset = writer.output.tell();
  const std::string& cd = writer.centralDirectory;
  if (cd.empty() || !cdOffset)
    return fail(message, withPathAndReason("Unable to write central directory.", writer.workPath, ""));
  if (!writer.output.write(cd.data(), cd.size()))
    return failOnWorkFile(writer, message, "Unable to write central directory.");
  const EndRecords end = buildEndRecords(writer.statistics.files, cd.size(), *cdOffset, *cdOffset + cd.size());
  if (end.needsZip64) {
    writer.statistics.zip64 = true;
    if (!writer.output.write(end.ecd64.data(), kEcd64Size))
      return failOnWorkFile(writer, message, "Unable to write Ecd64.");
    if (!writer.output.write(end.ecdl64.data(), kEcdl64Size))
      return failOnWorkFile(writer, message, "Unable to write Ecdl64.");
  }
  if (!writer.output.write(end.ecd.data(), kEcdSize)) return failOnWorkFile(writer, message, "Unable to write Ecd.");
  // The new epub is complete as it is written: the old one's permissions and
  // its times come before the rename, so that nobody sees it change at its path.
  writer.output.copyPermissionsFrom(writer.epubPath);  // none when there is no old epub
  if (!setEpubTimes(writer, message, time)) return false;
  if (!writer.output.close()) return failOnWorkFile(writer, message, "Unable to close zip file.");
  return true;
}

// Copies the old epub to the first backN.zip that no other job has taken.
bool makeBackup(const sZipWriter& writer, std::string* message) {
  const std::string& folder = writer.backupFolder;
  // A file of that name makes the system refuse the folder, with its reason.
  if (pathKind(folder) != PathKind::Folder && !platform::makeFolders(folder))
    return fail(message, withSystemError("Unable to create directory for backup file."));
  std::string backupPath;
  const auto copyTo = [&writer](const std::string& candidate) {
    if (platform::copyFileNoOverwrite(writer.epubPath, candidate)) return ClaimResult::Claimed;
    return platform::entryExists(candidate) ? ClaimResult::Taken : ClaimResult::Failed;
  };
  switch (claimUniqueName(message, folder, "back", "zip", copyTo, backupPath)) {
    case ClaimResult::Claimed: return true;
    case ClaimResult::Taken: return false;
    case ClaimResult::Failed: return fail(message, withSystemError("Unable to make backup."));
  }
  return false;
}

bool writeArchive(sZipWriter& writer, std::string* message, const EpubWorkOrder& order) {
  if (!openOutput(writer, message, order)) return false;
  if (pathKind(writer.filesFolder) == PathKind::Folder && !addAllFiles(writer, message)) return false;
  return finishArchive(writer, message);
}

}  // namespace

bool isCarriableEntryName(std::string_view relativePath) {
  if (!isValidUtf8(relativePath)) return false;
  for (std::size_t at = 0; at < relativePath.size(); ++at) {
    const char c = relativePath[at];
    if (c == '\\' || c == ':' || controlCharacterAt(relativePath, at) != 0) return false;
  }
  return true;
}

bool openOutput(sZipWriter& writer, std::string* message, const EpubWorkOrder& order) {
  writer.backupFolder = order.BackupDir;
  writer.epubPath = order.ZipPath;
  writer.filesFolder = order.FilesDir;
  writer.fixedDatetime = order.tDatetime;
  writer.compressionLevel = order.CompressionLevel;
  writer.realCreationTimes = order.RealFileCreationTimes;
  writer.deflateCompressedFiles = order.DeflateCompressedFiles;
  if (platform::isSpecialFile(writer.epubPath))
    return fail(message, formatText(kNotRegularFileMessage, writer.epubPath));
  std::string folder;
  if (!parentFolder(message, writer.epubPath, folder)) return false;
  ensureParentFolder(writer.epubPath);  // a failure shows when the work file is made
  const auto create = [&writer](const std::string& candidate) {
    if (writer.output.open(candidate, platform::File::Mode::CreateNew)) return ClaimResult::Claimed;
    return writer.output.openFailure() == platform::File::OpenFailure::Exists ? ClaimResult::Taken
                                                                              : ClaimResult::Failed;
  };
  switch (claimUniqueName(message, folder, "temp", "zip", create, writer.workPath)) {
    case ClaimResult::Claimed: break;
    case ClaimResult::Taken: return false;
    case ClaimResult::Failed: return fail(message, withSystemError("Unable to open zip file for writing."));
  }
  writer.workClaim = std::make_unique<cWorkClaim>(writer.workPath, cWorkClaim::eKind::File);
  return true;
}

bool collectFiles(std::string* message, const std::string& folder, const FileVisitor& visit) {
  const std::string root = withTrailingSeparator(folder);
  std::vector<sFolderOnPath> path;
  platform::FileIdentity identity;
  if (platform::fileIdentity(root, identity)) path.push_back({identity, std::string()});
  return walk(message, root, "", visit, path);
}

bool finishArchive(sZipWriter& writer, std::string* message) {
  const FileTime time = epubTime(writer);
  if (!writeEndRecords(writer, message, time)) return false;
  if (jobsAbandoned()) return fail(message, kJobAbandonedMessage);
  if (!writer.backupFolder.empty() && pathKind(writer.epubPath) != PathKind::Missing && !makeBackup(writer, message))
    return false;
  // One rename: there is never a moment without an epub at its path.
  const bool renamed = !writer.workClaim || writer.workClaim->completeWith([&writer] {
    return platform::renameReplacing(writer.workPath, writer.epubPath);
  });
  if (!renamed)
    return fail(message,
                jobsAbandoned() ? kJobAbandonedMessage : withSystemError("Unable to rename work copy of zip file."));
  writer.workClaim.reset();
  // Windows gives a name freed a moment ago the creation time of the file
  // that had it (tunnelling): the same times once more, which changes nothing
  // a reader of the epub can see, put the creation time right.
  if (time != 0) setTimes(time, time, time, writer.epubPath);
  return true;
}

// A failed job leaves no work file (a full disk is not kept full by a half archive).
void removeWorkFile(sZipWriter& writer) {
  writer.output.close();
  if (writer.workClaim) platform::removeFile(writer.workPath);
  writer.workClaim.reset();
}

bool zipJob(const EpubWorkOrder& order, std::string* message, sStatistics& statistics) {
  sZipWriter writer;
  return zipJob(order, message, statistics, writer);
}

bool zipJob(const EpubWorkOrder& order, std::string* message, sStatistics& statistics, sZipWriter& writer) {
  writer.centralDirectory.reserve(kCentralDirectoryReserve);
  EpubWorkOrder checked = order;
  if (!checkJobSource(message, checked) || !checkPaths(checked, message) || !checkBackupOutsideFiles(message, checked))
    return false;
  if (!writeArchive(writer, message, checked)) {
    removeWorkFile(writer);
    return false;
  }
  statistics = writer.statistics;
  return true;
}

}  // namespace plimsy
