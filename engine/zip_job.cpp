#include "engine/zip_job.h"

#include <optional>

#include "core/message.h"
#include "core/paths.h"
#include "core/request_checks.h"
#include "core/text.h"
#include "engine/check_paths.h"
#include "engine/entry_writer.h"
#include "engine/zip_records.h"

namespace plimsy {
namespace {

constexpr std::string_view kMimetype = "mimetype";
// The central directory of a typical book fits without growing.
constexpr std::size_t kCentralDirectoryReserve = 100'000;

bool walk(std::string* message, const std::string& folder, const std::string& relativeFolder,
          const FileVisitor& visit) {
  std::vector<platform::FolderItem> items;
  if (!platform::listFolder(folder, items)) return fail(message, formatText("Can't read folder\n%s", folder));
  for (const platform::FolderItem& item : items) {
    const std::string relativePath = relativeFolder + item.name;
    if (!item.isFolder) {
      if (!visit(relativePath, item)) return false;
      continue;
    }
    // A link to a folder may lead back up the tree: never followed.
    if (item.isSymlink) continue;
    if (!walk(message, folder + item.name + kPreferredSeparator, relativePath + kPreferredSeparator, visit))
      return false;
  }
  return true;
}

std::optional<platform::FileIdentity> identityOf(const std::string& path) {
  platform::FileIdentity identity;
  if (!platform::fileIdentity(path, identity)) return std::nullopt;
  return identity;
}

// The files the walk must not pack into the archive: the epub, and the work
// file being written (an identity that cannot be read matches nothing).
struct sOwnFiles {
  std::optional<platform::FileIdentity> epub;
  std::optional<platform::FileIdentity> work;

  bool contains(const platform::FileIdentity& identity) const { return identity == epub || identity == work; }
};

// The top-level file named "mimetype" in any case (the first in listing
// order), stored, under its lower-case name.
bool addMimetype(sZipWriter& writer, std::string* message) {
  std::vector<platform::FolderItem> items;
  if (!platform::listFolder(writer.filesFolder, items))
    return fail(message, formatText("Can't read folder\n%s", writer.filesFolder));
  for (const platform::FolderItem& item : items) {
    if (item.isFolder || !equalsIgnoringAsciiCase(item.name, kMimetype)) continue;
    return add_file__def(writer, message, item.name, item, writer.filesFolder, 0, kMimetype);
  }
  return true;
}

// Every other file, in the order of the walk: files named "mimetype" at any
// depth are left out, and so are the epub and the work file themselves.
bool addOtherFiles(sZipWriter& writer, std::string* message) {
  const sOwnFiles own{identityOf(writer.epubPath), identityOf(writer.workPath)};
  return collectFiles(message, writer.filesFolder,
                      [&](const std::string& relativePath, const platform::FolderItem& item) {
                        if (equalsIgnoringAsciiCase(item.name, kMimetype) || own.contains(item.identity)) return true;
                        return add_file__def(writer, message, relativePath, item, writer.filesFolder);
                      });
}

bool writeEndRecords(sZipWriter& writer, std::string* message) {
  const std::optional<std::uint64_t> cdOffset = writer.output.tell();
  const std::string& cd = writer.centralDirectory;
  if (cd.empty() || !cdOffset || !writer.output.write(cd.data(), cd.size()))
    return fail(message, "Unable to write central directory.");
  const EndRecords end = buildEndRecords(writer.statistics.files, cd.size(), *cdOffset, *cdOffset + cd.size());
  if (end.needsZip64) {
    writer.statistics.zip64 = true;
    if (!writer.output.write(end.ecd64.data(), kEcd64Size)) return fail(message, "Unable to write Ecd64.");
    if (!writer.output.write(end.ecdl64.data(), kEcdl64Size)) return fail(message, "Unable to write Ecdl64.");
  }
  if (!writer.output.write(end.ecd.data(), kEcdSize)) return fail(message, "Unable to write Ecd.");
  if (!writer.output.close()) return fail(message, "Unable to close zip file.");
  return true;
}

bool makeBackup(const sZipWriter& writer, std::string* message) {
  const std::string& folder = writer.backupFolder;
  switch (pathKind(folder)) {
    case PathKind::File: return fail(message, "Unable to create directory for backup file.");
    case PathKind::Missing:
      // Makes the folder part of a path inside the folder: the folder itself.
      if (!ensureParentFolder(joinPath(folder, "back.zip")))
        return fail(message, "Unable to create directory for backup file.");
      break;
    case PathKind::Folder: break;
  }
  std::string backupPath;
  if (!uniqueFileName(message, folder, "back", "zip", backupPath)) return false;
  if (!platform::copyFileNoOverwrite(writer.epubPath, backupPath)) return fail(message, "Unable to make backup.");
  return true;
}

bool setEpubTimes(const sZipWriter& writer, std::string* message) {
  if (writer.fixedDatetime != 0) {
    const FileTime t = writer.fixedDatetime;
    return setTimes(t, t, t, writer.epubPath) ? true : fail(message, "Unable to set time on zip file.");
  }
  if (writer.realCreationTimes) {
    const FileTime now = platform::currentFileTime();
    return setTimes(now, now, now, writer.epubPath) ? true : fail(message, "Unable to set time on epub file.");
  }
  return true;
}

}  // namespace

bool openOutput(sZipWriter& writer, std::string* message, const EpubWorkOrder& order) {
  writer.backupFolder = order.BackupDir;
  writer.epubPath = order.ZipPath;
  writer.filesFolder = order.FilesDir;
  writer.fixedDatetime = order.tDatetime;
  writer.compressionLevel = order.CompressionLevel;
  writer.realCreationTimes = order.RealFileCreationTimes;
  writer.deflateCompressedFiles = order.DeflateCompressedFiles;
  if (pathKind(writer.epubPath) == PathKind::Missing) {
    writer.workPath = writer.epubPath;
  } else {
    std::string folder;
    if (!parentFolder(message, writer.epubPath, folder)) return false;
    if (!uniqueFileName(message, folder, "temp", "zip", writer.workPath)) return false;
  }
  ensureParentFolder(writer.workPath);  // a failure shows when the file is opened
  if (!writer.output.open(writer.workPath, platform::File::Mode::WriteTruncate))
    return fail(message, "Unable to open zip file for writing.");
  return true;
}

bool collectFiles(std::string* message, const std::string& folder, const FileVisitor& visit) {
  return walk(message, withTrailingSeparator(folder), "", visit);
}

bool finishArchive(sZipWriter& writer, std::string* message) {
  if (!writeEndRecords(writer, message)) return false;
  if (writer.workPath != writer.epubPath) {
    if (!writer.backupFolder.empty() && !makeBackup(writer, message)) return false;
    // One rename: there is never a moment without an epub at its path.
    if (!platform::renameReplacing(writer.workPath, writer.epubPath))
      return fail(message, "Unable to rename work copy of zip file.");
  }
  return setEpubTimes(writer, message);
}

bool zipJob(const EpubWorkOrder& order, std::string* message, sStatistics& statistics) {
  sZipWriter writer;
  writer.centralDirectory.reserve(kCentralDirectoryReserve);
  EpubWorkOrder checked = order;
  if (!checkJobSource(message, checked) || !checkPaths(checked, message)) return false;
  if (!openOutput(writer, message, checked)) return false;
  if (pathKind(writer.filesFolder) == PathKind::Folder &&
      (!addMimetype(writer, message) || !addOtherFiles(writer, message)))
    return false;
  if (!finishArchive(writer, message)) return false;
  statistics = writer.statistics;
  return true;
}

}  // namespace plimsy
