#include "engine/repack_job.h"

#include <zlib.h>

#include <algorithm>
#include <memory>
#include <string_view>
#include <vector>

#include "core/message.h"
#include "core/paths.h"
#include "core/settings.h"
#include "core/text.h"
#include "engine/crc32.h"
#include "engine/entry_name_rules.h"
#include "engine/entry_writer.h"
#include "engine/job_control.h"
#include "engine/unzip_job.h"
#include "engine/work_folders.h"
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
// The UTF-8 flag (bit 11): the entry's name is UTF-8. The zip job never sets
// it; repack keeps it where the book had it, or readers that go by it would
// read the names of a repacked book in another encoding.
constexpr std::uint16_t kUtf8Flag = 0x0800;
// A mimetype in another letter case is read up to this length: the media
// type with some white space.
constexpr std::uint64_t kMostMimetypeText = 256;

// What becomes of an entry of the old archive.
enum class eFate : std::uint8_t {
  Copied,    // its compressed bytes as they are (or packed again at the order's level)
  Folder,    // a folder entry, named with a trailing "/", without data
  Mimetype,  // the mimetype entry, written first anew
  Dropped,   // a mimetype in another letter case that the new mimetype entry replaces
};

struct sPlannedEntry {
  eFate fate = eFate::Copied;
  std::string name;  // the name it is written under
};

bool namesFolder(std::string_view name) { return !name.empty() && (name.back() == '/' || name.back() == '\\'); }

// A top-level name that a reading system takes for "mimetype" (letter case
// and Unicode normalization ignored, as in the duplicate check).
bool isMimetypeInAnotherCase(std::string_view name) {
  return name != kMimetypeName && caseFoldedName(decomposedName(name)) == kMimetypeName;
}

// The entry's data, inflated when deflated, when it holds at most `limit`
// bytes (and was checked whole: its stream is sound).
std::optional<std::string> smallEntryText(const cZipReader& reader, const sZipEntry& entry, std::uint64_t limit) {
  const std::uint64_t size = entry.cdr.effectiveUncompressedSize();
  const std::uint64_t compressed = entry.cdr.effectiveCompressedSize();
  if (size > limit || compressed > limit * 2 + 16) return std::nullopt;
  const auto* data = reinterpret_cast<const char*>(reader.viewData() + entry.dataOffset);
  if (entry.lfh.header.compressionMethod() == kMethodStored) return std::string(data, static_cast<std::size_t>(size));
  std::string text(static_cast<std::size_t>(size), '\0');
  if (size == 0) return text;
  z_stream stream{};
  if (inflateInit2(&stream, -MAX_WBITS) != Z_OK) return std::nullopt;
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
  stream.avail_in = static_cast<uInt>(compressed);
  stream.next_out = reinterpret_cast<Bytef*>(text.data());
  stream.avail_out = static_cast<uInt>(text.size());
  const int status = inflate(&stream, Z_FINISH);
  inflateEnd(&stream);
  if (status != Z_STREAM_END) return std::nullopt;
  return text;
}

// Whether the entry holds the epub's media type (white space around it aside).
bool holdsEpubMediaType(const cZipReader& reader, const sZipEntry& entry) {
  const std::optional<std::string> text = smallEntryText(reader, entry, kMostMimetypeText);
  return text && trimWhiteSpace(*text) == kEpubMimetype;
}

// Data that does not inflate is said to be so, by name. (The unzip job's
// message for it names writing, which is not what failed.)
bool sayWhatFailed(std::string* message, const sZipEntry& entry, bool inflating) {
  if (message != nullptr && inflating && message->starts_with(kDeflatedWriteMessage))
    *message = formatTextUnlimited(kInflateFailedMessage, displayUtf8(entry.lfh.name));
  return false;
}

// Decides each entry's fate and the name it is written under. A mimetype in
// another letter case would stand beside the new mimetype entry as its
// duplicate: it is left out when it holds the media type (the new entry says
// the same), else the book is refused. Names that two entries would share
// are refused too: the later one would win without a word.
bool planEntries(std::string* message, const cZipReader& reader, sUnzipContext& checker,
                 std::vector<sPlannedEntry>& plan) {
  const std::vector<sZipEntry>& entries = reader.entries();
  plan.resize(entries.size());
  bool mimetypeSeen = false;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const sZipEntry& entry = entries[i];
    sPlannedEntry& planned = plan[i];
    planned.name = entry.lfh.name;
    if (isFolderEntry(entry.cdr)) {
      planned.fate = eFate::Folder;
      if (!namesFolder(planned.name)) planned.name += '/';
    } else if (planned.name == kMimetypeName && !mimetypeSeen) {
      planned.fate = eFate::Mimetype;
      mimetypeSeen = true;
    } else if (isMimetypeInAnotherCase(planned.name)) {
      if (!checkEntryData(checker, message, reader, i))
        return sayWhatFailed(message, entry, entry.lfh.header.compressionMethod() == kMethodDeflated);
      if (!holdsEpubMediaType(reader, entry))
        return fail(message, formatTextUnlimited(kOtherMimetypeMessage, displayUtf8(planned.name)));
      planned.fate = eFate::Dropped;
    }
  }
  std::vector<std::string_view> names;
  names.reserve(plan.size());
  for (const sPlannedEntry& planned : plan)
    if (planned.fate != eFate::Dropped) names.emplace_back(planned.name);
  std::sort(names.begin(), names.end());
  const auto twice = std::adjacent_find(names.begin(), names.end());
  if (twice == names.end()) return true;
  return fail(message, formatTextUnlimited(kDuplicateNameMessage, displayUtf8(*twice)));
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

// What a new header keeps of the old entry's general flags.
std::uint16_t keptFlags(const sZipEntry& entry) {
  return (entry.lfh.header.generalFlags() | entry.cdr.header.generalFlags()) & kUtf8Flag;
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

// Copies an entry that was checked whole: a new header, the same data (an
// empty deflated file keeps its two-byte stream). A folder, and an entry
// without compressed data, is stored empty.
bool copyEntry(sZipWriter& writer, std::string* message, const cZipReader& reader, const sZipEntry& entry,
               const sPlannedEntry& planned) {
  const CdrEx& cdr = entry.cdr;
  const LfhEx& old = entry.lfh;
  const std::uint64_t compressed = cdr.effectiveCompressedSize();
  const bool empty = planned.fate == eFate::Folder || compressed == 0;
  const std::uint16_t method = empty ? kMethodStored : old.header.compressionMethod();
  sLfhEx2 lfh;
  if (!makeHeader(lfh, message, method, old.header.date(), old.header.time(), empty ? 0 : cdr.header.crc(),
                  planned.name, empty ? 0 : cdr.effectiveUncompressedSize(), empty ? 0 : compressed))
    return false;
  lfh.header.setGeneralFlags(keptFlags(entry));
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
    switch (claimTempFolder(message, parent, path_)) {
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

// Writes an entry unpacked into the scratch folder at the order's level (by
// the zip job's rules: images stay stored), with the old entry's DOS date and time as they are (even ones that form no
// valid time) and its UTF-8 flag.
bool addUnpackedEntry(sZipWriter& writer, std::string* message, const std::string& relativePath,
                      const cScratchFolder& scratch, const sZipEntry& entry) {
  sOpenedEntry opened;
  if (!openEntry(writer, message, relativePath, {}, scratch.path(), std::nullopt, entry.lfh.name, opened)) return false;
  opened.lfh.header.setDate(entry.lfh.header.date());
  opened.lfh.header.setTime(entry.lfh.header.time());
  opened.lfh.header.setGeneralFlags(keptFlags(entry));
  const std::optional<std::uint64_t> offset = writer.output.tell();
  if (!offset) return fail(message, dataWriteFailure(opened.level));
  if (opened.size <= std::min(writer.wholeFileLimit, kWholeFileLimit)) {
    sEntryBytes bytes;
    if (!encodeWholeEntry(opened, writer.scratch, bytes, message)) return false;
    if (!writer.output.write(bytes.data.get(), bytes.length)) return fail(message, dataWriteFailure(opened.level));
  } else if (!writeStreamedEntry(writer, message, opened, *offset)) {
    return false;
  }
  recordEntry(writer, *offset, opened.lfh);
  return true;
}

// An entry packed again at the order's level (every entry but folders).
bool repackEntry(sZipWriter& writer, std::string* message, const cZipReader& reader, std::uint64_t index,
                 sUnzipContext& unpacker, const cScratchFolder& scratch) {
  const sZipEntry& entry = reader.entries()[static_cast<std::size_t>(index)];
  if (!extractEntry(unpacker, message, scratch.path(), reader, index)) {
    // Told apart only now: the data does not inflate, or the scratch file could not be written.
    const bool inflating = message != nullptr && message->starts_with(kDeflatedWriteMessage) &&
                           !checkEntryData(unpacker, nullptr, reader, index);
    return sayWhatFailed(message, entry, inflating);
  }
  std::string relativePath = entry.lfh.name;
  std::replace(relativePath.begin(), relativePath.end(), '\\', kPreferredSeparator);
  std::replace(relativePath.begin(), relativePath.end(), '/', kPreferredSeparator);
  const bool added = addUnpackedEntry(writer, message, relativePath, scratch, entry);
  platform::removeFile(scratch.path() + relativePath);
  return added;
}

bool writeEntries(sZipWriter& writer, std::string* message, const cZipReader& reader, const sRepackOrder& order,
                  const std::vector<sPlannedEntry>& plan) {
  // The new mimetype entry takes the old one's time (or that of the one in
  // another letter case it replaces), else the time of now.
  std::uint16_t date = 0;
  std::uint16_t time = 0;
  const auto old =
      std::find_if(plan.begin(), plan.end(), [](const sPlannedEntry& p) { return p.fate == eFate::Mimetype; });
  const auto dropped =
      std::find_if(plan.begin(), plan.end(), [](const sPlannedEntry& p) { return p.fate == eFate::Dropped; });
  const auto dated = old != plan.end() ? old : dropped;
  if (dated != plan.end()) {
    const LfhEx& lfh = reader.entries()[static_cast<std::size_t>(dated - plan.begin())].lfh;
    date = lfh.header.date();
    time = lfh.header.time();
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
    const sPlannedEntry& planned = plan[static_cast<std::size_t>(index)];
    if (planned.fate == eFate::Mimetype || planned.fate == eFate::Dropped) continue;
    if (entry.lfh.name.empty()) return fail(message, formatText(kUnsafeNameMessage, std::string()));
    bool written = false;
    if (order.level && planned.fate == eFate::Copied) {
      written = repackEntry(writer, message, reader, index, unpacker, scratch);
    } else if (!checkEntryData(unpacker, message, reader, index)) {
      return sayWhatFailed(message, entry, entry.lfh.header.compressionMethod() == kMethodDeflated);
    } else {
      written = copyEntry(writer, message, reader, entry, planned);
    }
    if (!written) return false;
  }
  return true;
}

// What the new archive will hold: the mimetype entry and every other entry.
void announceTotals(sJobProgress* progress, const cZipReader& reader, const std::vector<sPlannedEntry>& plan) {
  if (progress == nullptr) return;
  std::uint64_t files = 1;
  std::uint64_t bytes = kEpubMimetype.size();
  for (std::size_t i = 0; i < plan.size(); ++i) {
    if (plan[i].fate == eFate::Mimetype || plan[i].fate == eFate::Dropped) continue;
    ++files;
    bytes += reader.entries()[i].cdr.effectiveUncompressedSize();
  }
  progress->totalFiles = files;
  progress->totalBytes = bytes;
}

bool writeArchive(sZipWriter& writer, std::string* message, cZipReader& reader, const sRepackOrder& order,
                  const std::vector<sPlannedEntry>& plan) {
  EpubWorkOrder output;
  output.ZipPath = order.outputPath;
  output.BackupDir = order.backupDir;
  output.CompressionLevel = order.level.value_or(9);
  output.RealFileCreationTimes = true;
  if (!openOutput(writer, message, output)) return false;
  writer.progress = order.progress;
  announceTotals(order.progress, reader, plan);
  const bool written = writeEntries(writer, message, reader, order, plan);
  // Whatever went right or wrong, it was read from an archive that changed.
  if (!reader.archiveUnchanged()) return fail(message, kArchiveChangedMessage);
  if (!written) return false;
  // Let go of the old archive before it may be replaced (Windows keeps a
  // mapped file from being renamed over).
  reader.releaseArchive();
  // A new epub is no more open to others than the one it was made from (one
  // that replaces a file takes that file's permissions instead).
  writer.output.copyPermissionsFrom(order.archivePath);
  return finishArchive(writer, message);
}

}  // namespace

bool repackJob(const sRepackOrder& order, std::string* message, sStatistics& statistics,
               std::vector<std::string>* dropped) {
  cZipReader reader;
  std::vector<sPlannedEntry> plan;
  sUnzipContext checker;
  if (!reader.open(message, order.archivePath) || !checkEntries(message, reader) ||
      !planEntries(message, reader, checker, plan)) {
    if (!reader.archiveUnchanged()) return fail(message, kArchiveChangedMessage);
    return false;
  }
  // The folders the output's folder needs are made; a failed job takes them away again.
  std::string outputFolder;
  const std::vector<std::string> made =
      parentFolder(nullptr, order.outputPath, outputFolder) ? missingFolders(outputFolder) : std::vector<std::string>{};
  sZipWriter writer;
  if (!writeArchive(writer, message, reader, order, plan)) {
    removeWorkFile(writer);
    removeMadeFolders(made);
    return false;
  }
  statistics = writer.statistics;
  if (dropped != nullptr) {
    dropped->clear();
    for (const sPlannedEntry& planned : plan)
      if (planned.fate == eFate::Dropped) dropped->push_back(planned.name);
  }
  return true;
}

std::string droppedEntriesNote(const std::vector<std::string>& dropped) {
  std::string text;
  for (const std::string& name : dropped) {
    if (!text.empty()) text += '\n';
    text += formatTextUnlimited(kDroppedMimetypeNote, displayUtf8(name));
  }
  return text;
}

}  // namespace plimsy
