#include "engine/unzip_job.h"

#include <algorithm>
#include <limits>
#include <optional>
#include <span>
#include <unordered_map>

#include "core/message.h"
#include "core/paths.h"
#include "core/request_checks.h"
#include "core/text.h"
#include "engine/byte_ranges.h"
#include "engine/check_paths.h"
#include "engine/clash_keys.h"
#include "engine/crc32.h"
#include "engine/folder_swap.h"
#include "engine/job_control.h"
#include "engine/unzip_pool.h"
#include "engine/work_folders.h"

namespace plimsy {

sUnzipContext::sUnzipContext() = default;
sUnzipContext::~sUnzipContext() = default;

namespace {

// ---- Entries -----------------------------------------------------------------------------

// The bytes of the archive one entry occupies: its local header and its data.
struct sEntryRange {
  std::uint64_t start = 0;
  std::uint64_t end = 0;
};

bool anyOverlap(std::vector<sEntryRange>& ranges) {
  std::sort(ranges.begin(), ranges.end(), [](const sEntryRange& a, const sEntryRange& b) { return a.start < b.start; });
  for (std::size_t i = 1; i < ranges.size(); ++i) {
    if (ranges[i].start < ranges[i - 1].end) return true;
  }
  return false;
}

bool namesFolder(std::string_view name) { return !name.empty() && isEntrySeparator(name.back()); }

// Entries without data to write: those of compressed size 0 (an empty file,
// or a folder), and folder entries that some writers give an empty deflate
// stream.
bool holdsNoData(const CdrEx& cdr) {
  if (cdr.effectiveCompressedSize() == 0) return true;
  return namesFolder(cdr.name) && cdr.effectiveUncompressedSize() == 0;
}

}  // namespace

bool isFolderEntry(const CdrEx& cdr) {
  if (!holdsNoData(cdr)) return false;
  if (namesFolder(cdr.name)) return true;
  constexpr std::uint32_t kDosFolderBit = 0x10;
  constexpr std::uint16_t kMadeOnUnix = 3;
  constexpr std::uint32_t kUnixTypeMask = 0170000;
  constexpr std::uint32_t kUnixFolder = 0040000;
  const std::uint32_t attributes = cdr.header.externalAttr();
  const bool unix = (cdr.header.versionMadeBy() >> 8) == kMadeOnUnix;
  return (attributes & kDosFolderBit) != 0 || (unix && ((attributes >> 16) & kUnixTypeMask) == kUnixFolder);
}

namespace {

// Sizes are counted from the local header, as the reader counts them, but a
// header that announces a data descriptor carries no sizes: the central
// directory's (which the entry was checked against) count then.
void countEntry(sStatistics& statistics, const CdrEx& cdr, const LfhEx& lfh) {
  const bool sized = !lfh.hasDataDescriptor;
  const std::uint64_t uncompressed = sized ? lfh.effectiveUncompressedSize() : cdr.effectiveUncompressedSize();
  const std::uint64_t compressed = sized ? lfh.effectiveCompressedSize() : cdr.effectiveCompressedSize();
  if (lfh.header.compressionMethod() == kMethodStored) {
    countStoredEntry(statistics, uncompressed);
  } else {
    countDeflatedEntry(statistics, uncompressed, compressed);
  }
}

// The output path in the context's reusable buffer: the work folder, then
// the name with "/" and "\\" both taken as separators.
const std::string& buildOutputPath(sUnzipContext& context, const std::string& workFolder, std::string_view name) {
  std::string& path = context.outputPath;
  path.assign(workFolder);
  const std::size_t nameStart = path.size();
  path.append(name);
  std::replace_if(path.begin() + static_cast<std::ptrdiff_t>(nameStart), path.end(), isEntrySeparator,
                  kPreferredSeparator);
  return path;
}

// Makes sure the output file's folder exists; entries come folder by folder,
// so the last folder made sure of is remembered.
bool ensureOutputFolder(sUnzipContext& context, const std::string& outputPath) {
  const std::string_view folder =
      std::string_view(outputPath).substr(0, outputPath.size() - fileNamePart(outputPath).size());
  if (!context.lastParentFolder.empty() && folder == context.lastParentFolder) return true;
  if (!ensureParentFolder(outputPath)) {
    context.lastParentFolder.clear();
    return false;
  }
  context.lastParentFolder.assign(folder);
  return true;
}

void noteWrittenFile(sUnzipContext& context, std::uint64_t index, const std::string& outputPath) {
  if (context.keepWrittenFiles) context.writtenFiles.emplace_back(index, outputPath);
}

// The time a written file is given: the fixed datetime, else the local
// header's DOS date and time (which hold UTC); 0 when they form no valid
// time: the file keeps the time of its writing.
FileTime fileTimeOf(const EpubWorkOrder& order, const LfhEx& lfh) {
  FileTime time = order.tDatetime;
  if (time == 0 && !dosDateTimeToFileTime(lfh.header.date(), lfh.header.time(), time)) return 0;
  return time;
}

// Gives a completely written file its time through the open handle, after
// its last write: one call instead of a second look-up of its path. A file
// whose time cannot be set keeps the time of its writing.
void stampFile(platform::File& output, FileTime time) {
  if (time != 0) output.setTimes(time, time, time);
}

// Every file is made fresh in the work folder (or emptied, when an earlier
// entry of the same name made it), as a regular file.
bool openOutput(platform::File& output, const std::string& outputPath) {
  return output.open(outputPath, platform::File::Mode::WriteFresh);
}

// Stored data is checked and copied in pieces of this size, so that a job
// told to stop does not finish a big entry first.
constexpr std::uint64_t kStoredPiece = std::uint64_t{4} << 20;

// With no output path, the data is only checked.
bool writeStored(std::string* message, const std::string* outputPath, const cZipReader& reader,
                 std::uint64_t dataOffset, const CdrEx& cdr, FileTime time, sJobProgress* progress) {
  const std::uint64_t size = cdr.effectiveCompressedSize();
  if (size != cdr.effectiveUncompressedSize()) return fail(message, kLengthMismatchMessage);
  if (size > std::numeric_limits<std::size_t>::max()) return fail(message, kStoredWriteMessage);
  std::uint32_t crc = 0;
  for (std::uint64_t at = 0; at < size; at += kStoredPiece) {
    if (jobsAbandoned()) return fail(message, kJobAbandonedMessage);
    crc = reader.crcOf(dataOffset + at, std::min(kStoredPiece, size - at), crc);
  }
  if (crc != cdr.header.crc()) return fail(message, kCrcMismatchMessage);
  if (outputPath == nullptr) return true;
  platform::File output;
  if (!openOutput(output, *outputPath)) return fail(message, withSystemError(kNoOutputFileMessage));
  bool written = true;
  for (std::uint64_t at = 0; written && at < size; at += kStoredPiece) {
    if (jobsAbandoned()) return fail(message, kJobAbandonedMessage);
    written = reader.copyBytes(output, dataOffset + at, std::min(kStoredPiece, size - at));
    if (written) noteBytes(progress, std::min(kStoredPiece, size - at));
  }
  if (written) stampFile(output, time);
  const bool closed = output.close();
  if (!written || !closed) return fail(message, withPathAndSystemReason(kStoredWriteMessage, *outputPath));
  return true;
}

// With no output path, the data is only checked.
bool writeDeflated(sUnzipContext& context, std::string* message, const std::string* outputPath,
                   const cZipReader& reader, std::uint64_t dataOffset, const CdrEx& cdr, FileTime time) {
  if (!context.inflater) context.inflater = std::make_unique<cInflater>();
  sInflateSink sink;
  sink.inflater = context.inflater.get();
  sink.archive = &reader;
  sink.sizeLimit = cdr.effectiveUncompressedSize();
  sink.checkOnly = outputPath == nullptr;
  sink.progress = context.progress;
  if (!sink.checkOnly && !openOutput(sink.output, *outputPath))
    return fail(message, withSystemError(kDeflatedWriteMessage));
  const bool inflated = inflateInto(sink, outputPath ? std::string_view(*outputPath) : std::string_view(),
                                    reader.viewData() + dataOffset, cdr.effectiveCompressedSize());
  const bool sound = inflated && sink.bytesWritten == sink.sizeLimit && sink.crc == cdr.header.crc();
  if (sound && !sink.checkOnly) stampFile(sink.output, time);
  const bool closed = sink.checkOnly || sink.output.close();
  if (!inflated || !closed) {
    if (sink.abandoned) return fail(message, kJobAbandonedMessage);
    if (sink.overran) return fail(message, kLengthMismatchMessage);
    if (sink.checkOnly) return fail(message, kDeflatedWriteMessage);
    // The file could not be written (the system says why), or the data does
    // not inflate (the file it was for is named).
    if (sink.writeFailed || !closed) return fail(message, withPathAndSystemReason(kDeflatedWriteMessage, *outputPath));
    return fail(message, withPathAndReason(kDeflatedWriteMessage, *outputPath, ""));
  }
  if (sink.bytesWritten != cdr.effectiveUncompressedSize()) return fail(message, kLengthMismatchMessage);
  if (sink.crc != cdr.header.crc()) return fail(message, kCrcMismatchMessage);
  return true;
}

// An entry without data that is no folder must announce no data.
bool isEmptyFile(std::string* message, const CdrEx& cdr) {
  if (cdr.effectiveUncompressedSize() != 0) return fail(message, kLengthMismatchMessage);
  if (cdr.header.crc() != 0) return fail(message, kCrcMismatchMessage);
  return true;
}

// An entry without data: an empty folder, or an empty file (which must not
// announce data it does not have: its sizes and CRC are those of nothing).
bool writeEmpty(sUnzipContext& context, std::string* message, const std::string& outputPath, const CdrEx& cdr,
                FileTime time) {
  if (isFolderEntry(cdr))
    return platform::makeFolders(outputPath) ? true : fail(message, withSystemError(kNoUnzipFolderMessage));
  if (!isEmptyFile(message, cdr)) return false;
  if (!ensureOutputFolder(context, outputPath)) return fail(message, withSystemError(kNoUnzipFolderMessage));
  platform::File output;
  if (!openOutput(output, outputPath)) return fail(message, withSystemError(kNoOutputFileMessage));
  stampFile(output, time);
  return output.close() ? true : fail(message, withPathAndSystemReason(kStoredWriteMessage, outputPath));
}

// Every file entry that a later file entry with the same file key replaces
// on disk, with the entry that replaces it.
void findReplacedEntries(const std::vector<sZipEntry>& entries, const std::vector<std::string>& fileKeys,
                         std::vector<sReplacedEntry>& replaced) {
  std::unordered_map<std::string_view, std::size_t> lastWith;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (fileKeys[i].empty() || isFolderEntry(entries[i].cdr)) continue;
    const auto [found, added] = lastWith.try_emplace(fileKeys[i], i);
    if (added) continue;
    replaced.push_back({entries[found->second].lfh.name, entries[i].lfh.name});
    found->second = i;
  }
}

// The file the work order names, or the archive's bytes given in its place.
using ArchiveBytes = std::optional<std::span<const std::uint8_t>>;

bool extractIntoWorkFolder(sUnzipContext& context, cZipReader& reader, const ArchiveBytes& bytes,
                           std::string* message) {
  const bool open = bytes ? reader.open(message, *bytes) : reader.open(message, context.workOrder.ZipPath);
  if (!open) return false;
  context.statistics.zip64 = reader.statistics().zip64;
  const bool extracted = extractAll(context, message, reader);
  // Whatever went right or wrong, it was read from an archive that changed.
  if (!reader.archiveUnchanged()) return fail(message, kArchiveChangedMessage);
  return extracted;
}

bool runJob(sUnzipContext& context, cZipReader& reader, const ArchiveBytes& bytes, std::string* message) {
  if (!claimWorkFolder(context, message)) {
    removeMadeFolders(context.madeFolders);  // the folders above a files folder that could not be made
    return false;
  }
  cWorkClaim claim(withoutTrailingSeparators(context.workFolder), cWorkClaim::eKind::Folder);
  const bool done = extractIntoWorkFolder(context, reader, bytes, message) && putInPlace(context, message, claim);
  // A job told to stop (the program is quitting) leaves nothing half done,
  // and no job leaves an empty folder behind.
  if (!done && claim.held()) removeFailedWork(context);
  return done;
}

bool runCheckedJob(const EpubWorkOrder& checked, const ArchiveBytes& bytes, std::string* message,
                   sStatistics& statistics, sJobProgress* progress = nullptr) {
  sUnzipContext context;
  context.workOrder = checked;
  context.progress = progress;
  cZipReader reader;
  const bool done = runJob(context, reader, bytes, message);
  reader.releaseArchive();
  statistics = context.statistics;
  return done;
}

}  // namespace

// ---- Public operations ---------------------------------------------------------------------

bool checkEntries(std::string* message, const cZipReader& reader, bool* clash, std::vector<sReplacedEntry>* replaced) {
  std::vector<sEntryRange> ranges;
  std::vector<sNameKey> keys;
  std::vector<std::string> fileKeys;
  const sZipEntry* twoNames = nullptr;
  ranges.reserve(static_cast<std::size_t>(reader.cdrCount()));
  if (clash) keys.reserve(static_cast<std::size_t>(reader.cdrCount()));
  if (clash || replaced) fileKeys.reserve(static_cast<std::size_t>(reader.cdrCount()));
  for (const sZipEntry& entry : reader.entries()) {
    const CdrEx& cdr = entry.cdr;
    const LfhEx& lfh = entry.lfh;
    if (twoNames == nullptr && lfh.name != cdr.name) twoNames = &entry;
    if (isUnsafeEntryName(lfh.name))
      return fail(message, formatTextUnlimited(kUnsafeNameMessage, displayUtf8(lfh.name)));
    if (clash || replaced) fileKeys.push_back(fileKey(lfh.name));
    if (clash) keys.push_back(clashKey(fileKeys.back(), isFolderEntry(cdr)));
    // Folders and empty files hold nothing encrypted, and their bytes cannot add up to a bomb.
    if (holdsNoData(cdr)) continue;
    if (isEncrypted(cdr, lfh)) return fail(message, formatTextUnlimited(kEncryptedEntryMessage, displayUtf8(lfh.name)));
    ranges.push_back({cdr.effectiveOffsetLfh(), saturatingAdd(entry.dataOffset, cdr.effectiveCompressedSize())});
  }
  // Entries sharing bytes are how a small archive unpacks to terabytes.
  if (anyOverlap(ranges)) return fail(message, kOverlappingEntriesMessage);
  // A checker reads the central directory's name, many readers the local
  // header's: one entry of two names is one file shown to each. (Unsafe
  // names and overlaps, which an entry pointing at another's header has too,
  // are told first.)
  if (twoNames != nullptr)
    return fail(message, formatTextUnlimited(kTwoNamesMessage, displayUtf8(twoNames->cdr.name),
                                             displayUtf8(twoNames->lfh.name)));
  if (clash) *clash = namesClash(keys);
  if (replaced) findReplacedEntries(reader.entries(), fileKeys, *replaced);
  return true;
}

namespace {

// Unpacks the entry into the work folder, or with none only checks it.
bool unpackEntry(sUnzipContext& context, std::string* message, const std::string* workFolder, const cZipReader& reader,
                 std::uint64_t index) {
  if (index >= reader.cdrCount()) return fail(message, kInvalidFileMessage);
  const sZipEntry& entry = reader.entries()[static_cast<std::size_t>(index)];
  const CdrEx& cdr = entry.cdr;
  const LfhEx& lfh = entry.lfh;
  if (cdr.header.usesZip64() || lfh.header.usesZip64()) context.statistics.zip64 = true;
  // Unpacked without the checks (a caller of its own), an unsafe name is refused here too.
  if (isUnsafeEntryName(lfh.name)) return fail(message, formatTextUnlimited(kUnsafeNameMessage, displayUtf8(lfh.name)));
  if (holdsNoData(cdr)) {
    if (workFolder == nullptr) {
      if (!isFolderEntry(cdr) && !isEmptyFile(message, cdr)) return false;
    } else if (!lfh.name.empty()) {
      const std::string& outputPath = buildOutputPath(context, *workFolder, lfh.name);
      if (!isFolderEntry(cdr)) noteWrittenFile(context, index, outputPath);
      if (!writeEmpty(context, message, outputPath, cdr, fileTimeOf(context.workOrder, lfh))) return false;
    }
    countZeroLengthEntry(context.statistics);
    return true;
  }
  // The data read is the central directory's compressed size: streaming
  // writers leave the local header's sizes 0.
  const std::uint64_t dataOffset = entry.dataOffset;
  if (!fitsIn(reader.viewSize(), dataOffset, cdr.effectiveCompressedSize())) return fail(message, kInvalidFileMessage);
  const std::uint16_t method = lfh.header.compressionMethod();
  if (method != kMethodStored && method != kMethodDeflated) return fail(message, kOtherMethodMessage);
  if (isEncrypted(cdr, lfh)) return fail(message, formatTextUnlimited(kEncryptedEntryMessage, displayUtf8(lfh.name)));
  const std::string* outputPath = nullptr;
  if (workFolder != nullptr) {
    outputPath = &buildOutputPath(context, *workFolder, lfh.name);
    if (!ensureOutputFolder(context, *outputPath)) return fail(message, withSystemError(kNoUnzipFolderMessage));
    noteWrittenFile(context, index, *outputPath);
  }
  const FileTime time = fileTimeOf(context.workOrder, lfh);
  const bool written = method == kMethodStored
                           ? writeStored(message, outputPath, reader, dataOffset, cdr, time, context.progress)
                           : writeDeflated(context, message, outputPath, reader, dataOffset, cdr, time);
  if (!written) return false;
  countEntry(context.statistics, cdr, lfh);
  return true;
}

}  // namespace

bool extractEntry(sUnzipContext& context, std::string* message, const std::string& workFolder, const cZipReader& reader,
                  std::uint64_t index) {
  return unpackEntry(context, message, &workFolder, reader, index);
}

bool checkEntryData(sUnzipContext& context, std::string* message, const cZipReader& reader, std::uint64_t index) {
  return unpackEntry(context, message, nullptr, reader, index);
}

std::vector<std::string> listFolders(const std::string& folder) {
  std::vector<std::string> folders;
  std::vector<std::string> pending{withTrailingSeparator(folder)};
  std::vector<std::string> names;
  while (!pending.empty()) {
    std::string current = std::move(pending.back());
    pending.pop_back();
    // The folders alone: a book of many files is not examined file by file.
    platform::listSubfolders(current, names);
    // Pushed in reverse so that the folders come out in listing order, depth first.
    for (auto name = names.rbegin(); name != names.rend(); ++name)
      pending.push_back(current + *name + kPreferredSeparator);
    folders.push_back(std::move(current));
  }
  return folders;
}

bool unzipJob(const EpubWorkOrder& order, std::string* message, sStatistics& statistics) {
  return unzipJob(order, message, statistics, nullptr);
}

bool unzipJob(const EpubWorkOrder& order, std::string* message, sStatistics& statistics, sJobProgress* progress) {
  EpubWorkOrder checked = order;
  checked.DoWhat = kDoWhatUnzip;
  if (!checkJobSource(message, checked) || !checkPaths(checked, message) || !checkBackupOutsideFiles(message, checked))
    return false;
  if (!checkFilesFolderTarget(message, checked)) return false;
  return runCheckedJob(checked, std::nullopt, message, statistics, progress);
}

bool unzipJobFromMemory(const EpubWorkOrder& order, std::span<const std::uint8_t> archive, std::string* message,
                        sStatistics& statistics) {
  // The paths checked as for an analysis, which reads no file of its own
  // kind: no archive file need exist.
  EpubWorkOrder checked = order;
  checked.DoWhat = kDoWhatAnalysis;
  if (!checkPaths(checked, message) || !checkBackupOutsideFiles(message, checked)) return false;
  checked.DoWhat = kDoWhatUnzip;
  if (!checkFilesFolderTarget(message, checked)) return false;
  return runCheckedJob(checked, archive, message, statistics);
}

}  // namespace plimsy
