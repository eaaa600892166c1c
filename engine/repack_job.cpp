#include "engine/repack_job.h"

#include <algorithm>
#include <memory>
#include <string_view>
#include <vector>

#include "core/message.h"
#include "core/paths.h"
#include "core/settings.h"
#include "core/text.h"
#include "engine/crc32.h"
#include "engine/entry_writer.h"
#include "engine/job_control.h"
#include "engine/unzip_job.h"
#include "engine/zip_job.h"
#include "engine/zip_reader.h"
#include "engine/zip_records.h"
#include "engine/zip_writer.h"

namespace plimsy {
namespace {

constexpr std::string_view kMimetypeName = "mimetype";
constexpr std::string_view kEpubMimetype = "application/epub+zip";
constexpr const char* kCopyFailedMessage = "Unable to write entry data.";
constexpr const char* kNoScratchFolderMessage = "Unable to create directory for unzipped files.";

// Two entries of the same name would unpack to one file: the later one would
// win without a word.
bool refuseDuplicates(std::string* message, const cZipReader& reader) {
  std::vector<std::string_view> names;
  names.reserve(reader.entries().size());
  for (const sZipEntry& entry : reader.entries()) names.emplace_back(entry.lfh.name);
  std::sort(names.begin(), names.end());
  const auto twice = std::adjacent_find(names.begin(), names.end());
  if (twice == names.end()) return true;
  return fail(message, formatTextUnlimited(kDuplicateNameMessage, displayUtf8(*twice)));
}

const sZipEntry* findMimetype(const cZipReader& reader) {
  for (const sZipEntry& entry : reader.entries()) {
    if (entry.lfh.name == kMimetypeName) return &entry;
  }
  return nullptr;
}

// A header for `name` with the given DOS date and time as they are (no time
// zone, no 1980 floor: what the old archive said stays).
bool makeHeader(sLfhEx2& lfh, std::string* message, std::uint16_t method, std::uint16_t date, std::uint16_t time,
                std::uint32_t crc, std::string_view name, std::uint64_t uncompressed, std::uint64_t compressed) {
  if (!initLfh(lfh, message, method, 0, crc, name, uncompressed, compressed)) return false;
  lfh.header.setDate(date);
  lfh.header.setTime(time);
  return true;
}

bool writeMimetype(sZipWriter& writer, std::string* message, std::uint16_t date, std::uint16_t time) {
  const std::uint32_t crc = crc32Of(kEpubMimetype.data(), kEpubMimetype.size());
  sLfhEx2 lfh;
  if (!makeHeader(lfh, message, kMethodStored, date, time, crc, kMimetypeName, kEpubMimetype.size(),
                  kEpubMimetype.size()))
    return false;
  const std::optional<std::uint64_t> offset = writer.output.tell();
  if (!offset || !lfh.write(message, writer.output)) return fail(message, kCopyFailedMessage);
  if (!writer.output.write(kEpubMimetype.data(), kEpubMimetype.size())) return fail(message, kCopyFailedMessage);
  recordEntry(writer, *offset, lfh);
  return true;
}

// Empty files and folders hold no data; neither do entries that announce none.
bool holdsData(const sZipEntry& entry) {
  return entry.cdr.effectiveCompressedSize() != 0 && entry.cdr.effectiveUncompressedSize() != 0;
}

// Copies an entry that was checked whole: a new header, the same data. An
// entry without data (an empty file, a folder) is stored empty.
bool copyEntry(sZipWriter& writer, std::string* message, const cZipReader& reader, const sZipEntry& entry) {
  const CdrEx& cdr = entry.cdr;
  const LfhEx& old = entry.lfh;
  const std::uint64_t compressed = cdr.effectiveCompressedSize();
  const bool empty = !holdsData(entry);
  const std::uint16_t method = empty ? kMethodStored : old.header.compressionMethod();
  sLfhEx2 lfh;
  if (!makeHeader(lfh, message, method, old.header.date(), old.header.time(), empty ? 0 : cdr.header.crc(), old.name,
                  empty ? 0 : cdr.effectiveUncompressedSize(), empty ? 0 : compressed))
    return false;
  const std::optional<std::uint64_t> offset = writer.output.tell();
  if (!offset || !lfh.write(message, writer.output)) return fail(message, kCopyFailedMessage);
  if (!empty && !reader.copyBytes(writer.output, entry.dataOffset, compressed))
    return fail(message, kCopyFailedMessage);
  recordEntry(writer, *offset, lfh);
  return true;
}

// Packing again at a level: the entry is unpacked (and checked) into a
// scratch folder and added from there as the zip job adds a file.
class cScratchFolder {
 public:
  ~cScratchFolder() {
    if (claim_) platform::removeTree(withoutSeparator());
  }

  bool make(std::string* message, const std::string& besidePath) {
    std::string parent;
    if (!parentFolder(message, besidePath, parent)) return false;
    const auto makeFolder = [](const std::string& candidate) {
      switch (platform::makeFolder(candidate)) {
        case platform::MakeFolderResult::Made: return ClaimResult::Claimed;
        case platform::MakeFolderResult::Exists: return ClaimResult::Taken;
        case platform::MakeFolderResult::Failed: break;
      }
      return ClaimResult::Failed;
    };
    switch (claimUniqueName(message, withTrailingSeparator(parent), "temp", "", makeFolder, path_)) {
      case ClaimResult::Claimed: break;
      case ClaimResult::Taken: return false;
      case ClaimResult::Failed: return fail(message, withSystemError(kNoScratchFolderMessage));
    }
    claim_ = std::make_unique<cWorkClaim>(path_, cWorkClaim::eKind::Folder);
    path_ = withTrailingSeparator(path_);
    return true;
  }

  const std::string& path() const { return path_; }

 private:
  std::string withoutSeparator() const { return path_.substr(0, path_.size() - 1); }

  std::string path_;
  std::unique_ptr<cWorkClaim> claim_;
};

// An entry with data, packed again at the order's level.
bool repackEntry(sZipWriter& writer, std::string* message, const cZipReader& reader, std::uint64_t index,
                 sUnzipContext& unpacker, const cScratchFolder& scratch) {
  const sZipEntry& entry = reader.entries()[static_cast<std::size_t>(index)];
  if (!extractEntry(unpacker, message, scratch.path(), reader, index)) return false;
  std::string relativePath = entry.lfh.name;
  std::replace(relativePath.begin(), relativePath.end(), '\\', kPreferredSeparator);
  std::replace(relativePath.begin(), relativePath.end(), '/', kPreferredSeparator);
  platform::FolderItem item;
  item.name = std::string(fileNamePart(relativePath));
  item.size = entry.cdr.effectiveUncompressedSize();
  // The unpacked file has its entry's DOS time, which the entry writer turns back into the same.
  dosDateTimeToFileTime(entry.lfh.header.date(), entry.lfh.header.time(), item.lastWrite);
  const bool added = add_file__def(writer, message, relativePath, item, scratch.path(), std::nullopt, entry.lfh.name);
  platform::removeFile(scratch.path() + relativePath);
  return added;
}

bool writeEntries(sZipWriter& writer, std::string* message, const cZipReader& reader, const sRepackOrder& order) {
  const sZipEntry* mimetype = findMimetype(reader);
  std::uint16_t date = 0;
  std::uint16_t time = 0;
  if (mimetype != nullptr) {
    date = mimetype->lfh.header.date();
    time = mimetype->lfh.header.time();
  } else {
    fileTimeToDosDateTime(platform::currentFileTime(), date, time);
  }
  if (!writeMimetype(writer, message, date, time)) return false;

  sUnzipContext unpacker;
  cScratchFolder scratch;
  if (order.level && !scratch.make(message, order.outputPath)) return false;
  for (std::uint64_t index = 0; index < reader.cdrCount(); ++index) {
    if (jobsAbandoned()) return fail(message, kJobAbandonedMessage);
    const sZipEntry& entry = reader.entries()[static_cast<std::size_t>(index)];
    if (&entry == mimetype) continue;
    if (entry.lfh.name.empty()) return fail(message, formatText(kUnsafeNameMessage, std::string()));
    const bool written =
        order.level && holdsData(entry)
            ? repackEntry(writer, message, reader, index, unpacker, scratch)
            : checkEntryData(unpacker, message, reader, index) && copyEntry(writer, message, reader, entry);
    if (!written) return false;
  }
  return true;
}

// What the new archive will hold: the mimetype entry and every other entry.
void announceTotals(sJobProgress* progress, const cZipReader& reader) {
  if (progress == nullptr) return;
  std::uint64_t files = 1;
  std::uint64_t bytes = kEpubMimetype.size();
  for (const sZipEntry& entry : reader.entries()) {
    if (entry.lfh.name == kMimetypeName) continue;
    ++files;
    bytes += entry.cdr.effectiveUncompressedSize();
  }
  progress->totalFiles = files;
  progress->totalBytes = bytes;
}

bool writeArchive(sZipWriter& writer, std::string* message, cZipReader& reader, const sRepackOrder& order) {
  EpubWorkOrder output;
  output.ZipPath = order.outputPath;
  output.BackupDir = order.backupDir;
  output.CompressionLevel = order.level.value_or(9);
  output.RealFileCreationTimes = true;
  if (!openOutput(writer, message, output)) return false;
  writer.progress = order.progress;
  announceTotals(order.progress, reader);
  if (!writeEntries(writer, message, reader, order)) return false;
  if (!reader.archiveUnchanged()) return fail(message, kArchiveChangedMessage);
  // Let go of the old archive before it may be replaced (Windows keeps a
  // mapped file from being renamed over).
  reader.releaseArchive();
  // A new epub is no more open to others than the one it was made from (one
  // that replaces a file takes that file's permissions instead).
  writer.output.copyPermissionsFrom(order.archivePath);
  return finishArchive(writer, message);
}

}  // namespace

bool repackJob(const sRepackOrder& order, std::string* message, sStatistics& statistics) {
  cZipReader reader;
  if (!reader.open(message, order.archivePath) || !checkEntries(message, reader) || !refuseDuplicates(message, reader))
    return false;
  sZipWriter writer;
  if (!writeArchive(writer, message, reader, order)) {
    removeWorkFile(writer);
    return false;
  }
  statistics = writer.statistics;
  return true;
}

}  // namespace plimsy
