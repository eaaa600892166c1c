#include "engine/zip_reader.h"

#include <algorithm>
#include <functional>

#include "core/message.h"
#include "core/text.h"

namespace plimsy {
namespace {

// The reader keeps room for this many records before the first one is read.
constexpr std::size_t kInitialCdrListRoom = 50;

// The NTFS record's three times stand at +12, +20 and +28 from its Header
// ID; the record is only read when those 36 bytes lie in the extra field.
constexpr std::size_t kNtfsTimesOffset = 12;
constexpr std::size_t kNtfsRecordMinimum = 36;
// Header ID and data size in front of every extra-field record.
constexpr std::size_t kExtraHeaderSize = 4;

constexpr const char* kInvalidZipFile = "Invalid zip file.";
constexpr const char* kWrongLfhOffset =
    "Invalid zip file (central directory record has wrong offset for local file header).";

// `length` bytes at `offset` lie inside a file of `size` bytes. Written so
// that no sum can wrap, whatever the (hostile) offset.
bool fitsIn(std::uint64_t size, std::uint64_t offset, std::uint64_t length) {
  return offset <= size && length <= size - offset;
}

// The next n bytes, or as many as remain.
std::string takeUpTo(ByteCursor& cursor, std::size_t n) {
  const ByteCursor part = cursor.sub(std::min(n, cursor.remaining()));
  return std::string(reinterpret_cast<const char*>(part.data()), part.remaining());
}

void appendZip64Lines(std::string& text, std::uint64_t uncompressed, std::uint64_t compressed, unsigned found) {
  if (found & kFoundUncompressedSize) text += formatText("\n   ZIP64 uncompressed size: 0x%llx", uncompressed);
  if (found & kFoundCompressedSize) text += formatText("\n   ZIP64 compressed size: 0x%llx", compressed);
}

void announceZip64Values(LfhEx& lfh, unsigned found) {
  appendZip64Lines(lfh.interpretation, lfh.zip64.uncompressedSize(), lfh.zip64.compressedSize(), found);
}

void announceZip64Values(CdrEx& cdr, unsigned found) {
  const CdrZip64& z = cdr.zip64;
  appendZip64Lines(cdr.interpretation, z.uncompressedSize, z.compressedSize, found);
  if (found & kFoundOffsetLfh) cdr.interpretation += formatText("\n   ZIP64 offset_lfh: 0x%llx", z.offsetLfh);
  if (found & kFoundDiskStartNumber)
    cdr.interpretation +=
        formatText("\n   ZIP64 disk_start_number: 0x%llx", static_cast<std::uint64_t>(z.diskStartNumber));
}

// The values follow the record's 4 header bytes and are bounded by the end
// of the whole extra field, not by the record's data size.
template <typename Record>
bool readZip64Record(Record& record, ByteCursor values) {
  record.hasZip64Extra = true;
  unsigned found = 0;
  const bool complete = readZip64Values(record, values, found);
  announceZip64Values(record, found);
  return complete;
}

// `record` starts at the NTFS record's Header ID and runs to the end of the
// extra field. Reserved word, attribute tag and size are not examined.
template <typename Record>
bool readNtfsRecord(Record& out, ByteCursor record) {
  out.hasNtfsExtra = true;
  if (record.remaining() < kNtfsRecordMinimum) return false;
  record.skip(kNtfsTimesOffset);
  out.ntfsModified = record.u64();
  out.ntfsAccessed = record.u64();
  out.ntfsCreated = record.u64();
  out.interpretation += formatText("\n   NTFS  mod:    %s", formatFileTime(out.ntfsModified));
  out.interpretation += formatText("\n   NTFS  access: %s", formatFileTime(out.ntfsAccessed));
  out.interpretation += formatText("\n   NTFS  create: %s", formatFileTime(out.ntfsCreated));
  return true;
}

template <typename Record>
bool parseExtraFieldInto(Record& out, std::string_view extra) {
  ByteCursor rest(extra);
  for (;;) {
    if (rest.remaining() == 0) {
      if (out.interpretation.empty()) out.interpretation = "\n   none";
      return true;
    }
    if (rest.remaining() < kExtraHeaderSize) return false;
    const ByteCursor record = rest;
    const std::uint16_t id = rest.u16();
    const std::uint16_t dataSize = rest.u16();
    const ByteCursor afterHeader = rest;
    if (!rest.skip(dataSize)) return false;
    switch (id) {
      case kZip64ExtraId:
        if (!readZip64Record(out, afterHeader)) return false;
        break;
      case kNtfsExtraId:
        if (!readNtfsRecord(out, record)) return false;
        break;
      default: out.interpretation += formatText("\n   UNHANDLED: ID = %u, length = %u", id, dataSize); break;
    }
  }
}

}  // namespace

bool parseExtraField(LfhEx& lfh, std::string_view extra) { return parseExtraFieldInto(lfh, extra); }
bool parseExtraField(CdrEx& cdr, std::string_view extra) { return parseExtraFieldInto(cdr, extra); }

cZipReader::cZipReader() { cdrs_.reserve(kInitialCdrListRoom); }

cZipReader::~cZipReader() { releaseArchive(); }

void cZipReader::releaseArchive() {
  view_.close();
  cdrs_.clear();
  ecd_.reset();
  ecdl64_.reset();
  ecd64_.reset();
  ecdOffset_ = ecdl64Offset_ = ecd64Offset_ = expectedEntries_ = 0;
}

const std::uint8_t* cZipReader::cdrItem(std::uint64_t index) const {
  return index < cdrs_.size() ? cdrs_[static_cast<std::size_t>(index)] : nullptr;
}

std::uint64_t cZipReader::bytesFrom(const std::uint8_t* pointer) const {
  const std::uint8_t* base = view_.data();
  if (base == nullptr || pointer == nullptr) return 0;
  // Pointers into different objects are ordered through std::less alone.
  const std::less<const std::uint8_t*> before;
  if (before(pointer, base) || !before(pointer, base + view_.size())) return 0;
  return view_.size() - static_cast<std::uint64_t>(pointer - base);
}

// Copies a record's fixed part (known to lie in the view), then as much of its name and extra field as
// the file holds; the cursor is left at what follows (a Cdr's comment).
template <typename Record>
ByteCursor cZipReader::copyRecord(Record& out, const std::uint8_t* record) const {
  constexpr std::size_t kFixed = decltype(out.header)::kSize;
  const std::uint64_t available = bytesFrom(record);
  out.header.copyFrom(record);  // the callers have checked the fixed part
  ByteCursor rest(record + kFixed, static_cast<std::size_t>(available - kFixed));
  out.name = takeUpTo(rest, out.header.filenameLength());
  out.extra = takeUpTo(rest, out.header.extraFieldLength());
  return rest;
}

CdrEx cZipReader::interpretCdr(const std::uint8_t* cdr) const {
  CdrEx out;
  if (bytesFrom(cdr) < kCdrSize) return out;
  ByteCursor rest = copyRecord(out, cdr);
  out.comment = takeUpTo(rest, out.header.commentLength());
  parseExtraField(out, out.extra);
  return out;
}

LfhEx cZipReader::interpretLfh(const std::uint8_t* lfh) const {
  LfhEx out;
  if (bytesFrom(lfh) < kLfhSize) return out;
  copyRecord(out, lfh);
  out.hasDataDescriptor = (out.header.generalFlags() & 0x0008) != 0;
  parseExtraField(out, out.extra);
  return out;
}

bool cZipReader::readLocalHeader(std::string* message, const CdrEx& cdr, LfhEx& lfh) const {
  const std::uint8_t* base = view_.data();
  const std::uint64_t size = view_.size();
  const std::uint64_t at = cdr.effectiveOffsetLfh();
  if (base == nullptr || !fitsIn(size, at, 4) || loadLe32(base + at) != kLfhSignature)
    return fail(message, kWrongLfhOffset);
  if (!fitsIn(size, at, kLfhSize)) return fail(message, kInvalidZipFile);
  Lfh header;
  header.copyFrom(base + at);
  const std::uint64_t total = kLfhSize + std::uint64_t{header.filenameLength()} + header.extraFieldLength();
  if (!fitsIn(size, at, total)) return fail(message, kInvalidZipFile);
  lfh = interpretLfh(base + at);
  return true;
}

bool cZipReader::openArchive(std::string* message, const EpubWorkOrder& order) {
  releaseArchive();
  statistics_ = sStatistics{};
  workOrder_ = order;
  if (platform::isSpecialFile(workOrder_.ZipPath))
    return fail(message, formatText(kNotRegularFileMessage, workOrder_.ZipPath));
  if (!view_.open(workOrder_.ZipPath)) return fail(message, "Unable to open zip file.");
  if (view_.size() < kEcdSize) return fail(message, "Not a valid zip file.");
  std::uint64_t firstCdr = 0;
  const bool open =
      findEcd(message) && findCentralDirectory(message, firstCdr) && walkCentralDirectory(message, firstCdr);
  if (!view_.unchanged()) return fail(message, kArchiveChangedMessage);
  return open;
}

// The Ecd is the signature nearest the end of the file. The whole file is
// searched: an archive comment (or anything appended) may be of any length.
bool cZipReader::findEcd(std::string* message) {
  const std::uint8_t* base = view_.data();
  for (std::uint64_t at = view_.size() - kEcdSize;; --at) {
    if (base[at] == 0x50 && loadLe32(base + at) == kEcdSignature) {
      ecdOffset_ = at;
      ecd_.emplace().copyFrom(base + at);
      if (ecd_->usesZip64()) statistics_.zip64 = true;
      return true;
    }
    if (at == 0) return fail(message, "Unable to find end of central directory.");
  }
}

// Where the central directory starts and how many records it announces: from
// the Ecd, replaced by the Ecd64's values when a locator stands exactly 20
// bytes before the Ecd (no other place is searched).
bool cZipReader::findCentralDirectory(std::string* message, std::uint64_t& firstCdr) {
  const std::uint8_t* base = view_.data();
  const std::uint64_t size = view_.size();
  bool startKnown = false;
  if (ecd_->cdOffset() != kAllOnes32) {
    if (!fitsIn(size, ecd_->cdOffset(), kCdrSize)) return fail(message, kInvalidZipFile);
    firstCdr = ecd_->cdOffset();
    expectedEntries_ = ecd_->totalQtyCdEntries();
    startKnown = true;
  }
  if (ecdOffset_ >= kEcdl64Size && loadLe32(base + ecdOffset_ - kEcdl64Size) == kEcdl64Signature) {
    ecdl64Offset_ = ecdOffset_ - kEcdl64Size;
    ecdl64_.emplace().copyFrom(base + ecdl64Offset_);
    statistics_.zip64 = true;
    if (!fitsIn(size, ecdl64_->offsetOfEcd64(), kEcd64Size)) return fail(message, kInvalidZipFile);
    ecd64Offset_ = ecdl64_->offsetOfEcd64();
    ecd64_.emplace().copyFrom(base + ecd64Offset_);
    // As for the Ecd: a central directory that starts outside the file is no
    // central directory, even one of no entries (an archive claiming to be
    // empty must not replace a folder with nothing).
    if (!fitsIn(size, ecd64_->cdOffset(), kCdrSize)) return fail(message, kInvalidZipFile);
    firstCdr = ecd64_->cdOffset();
    expectedEntries_ = ecd64_->totalQtyCdEntries();
    startKnown = true;
  }
  // A CD offset of 0xFFFFFFFF says that the real one is in an Ecd64 we do not
  // have: the central directory cannot be found.
  if (!startKnown) return fail(message, kInvalidZipFile);
  return true;
}

// Record after record while Cdr signatures follow; the Ecd's CD size is not
// used.
bool cZipReader::walkCentralDirectory(std::string* message, std::uint64_t firstCdr) {
  const std::uint8_t* base = view_.data();
  const std::uint64_t size = view_.size();
  std::uint64_t at = firstCdr;
  while (fitsIn(size, at, 4) && loadLe32(base + at) == kCdrSignature) {
    if (!fitsIn(size, at, kCdrSize)) return fail(message, kInvalidZipFile);
    Cdr header;
    header.copyFrom(base + at);
    if (!fitsIn(size, at, header.totalSize())) return fail(message, kInvalidZipFile);
    if (!readEntry(message, at)) return false;
    at += header.totalSize();
    if (!fitsIn(size, at, kCdrSize)) break;
  }
  if (cdrs_.size() != expectedEntries_)
    return fail(message,
                "Invalid zip file.  (Number of central directory entries doesn't match number in end of central "
                "directory record.");
  return true;
}

// One Cdr that lies wholly in the file: its local header must be sound, and
// the entry is counted from that header.
bool cZipReader::readEntry(std::string* message, std::uint64_t cdrOffset) {
  const std::uint8_t* record = view_.data() + cdrOffset;
  const CdrEx cdr = interpretCdr(record);
  if (cdr.header.usesZip64()) statistics_.zip64 = true;
  LfhEx lfh;
  if (!readLocalHeader(message, cdr, lfh)) return false;
  if (lfh.header.usesZip64()) statistics_.zip64 = true;
  if (!countReadEntry(statistics_, lfh.header.compressionMethod(), lfh.effectiveUncompressedSize(),
                      lfh.effectiveCompressedSize()))
    return fail(message, "File compressed with method other than deflate.");
  cdrs_.push_back(record);
  return true;
}

}  // namespace plimsy
