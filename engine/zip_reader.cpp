#include "engine/zip_reader.h"

#include <algorithm>

#include "core/message.h"
#include "core/text.h"
#include "engine/byte_ranges.h"
#include "engine/crc32.h"

namespace plimsy {
namespace {

// The NTFS record's three times stand at +12, +20 and +28 from its Header
// ID; the record is only read when those 36 bytes lie in the extra field.
constexpr std::size_t kNtfsTimesOffset = 12;
constexpr std::size_t kNtfsRecordMinimum = 36;
// Header ID and data size in front of every extra-field record.
constexpr std::size_t kExtraHeaderSize = 4;

// Reading a mapped archive gives back the memory of the pages read once this
// many bytes have been read, so that the reader never holds more than a few
// MiB of it.
constexpr std::uint64_t kReleaseAfterBytes = std::uint64_t{4} << 20;
constexpr std::uint64_t kFaultAround = std::uint64_t{2} << 20;  // the largest folio commonly mapped by one fault
// No more entries are made room for at once than this, whatever the end
// records announce.
constexpr std::uint64_t kMostEntriesReserved = std::uint64_t{1} << 20;

constexpr const char* kInvalidZipFile = "Invalid zip file.";
constexpr const char* kWrongLfhOffset =
    "Invalid zip file (central directory record has wrong offset for local file header).";

// The next n bytes (which the caller has checked are there).
std::string take(ByteCursor& cursor, std::size_t n) {
  const ByteCursor part = cursor.sub(n);
  return std::string(reinterpret_cast<const char*>(part.data()), part.remaining());
}

void addFinding(sExtraFindings& findings, sExtraFinding::eKind kind, std::uint64_t value) {
  sExtraFinding& f = findings.items.emplace_back();
  f.kind = kind;
  f.value = value;
}

void recordZip64Values(LfhEx& lfh, unsigned found) {
  using K = sExtraFinding::eKind;
  if (found & kFoundUncompressedSize)
    addFinding(lfh.extraFindings, K::Zip64UncompressedSize, lfh.zip64.uncompressedSize());
  if (found & kFoundCompressedSize) addFinding(lfh.extraFindings, K::Zip64CompressedSize, lfh.zip64.compressedSize());
}

void recordZip64Values(CdrEx& cdr, unsigned found) {
  using K = sExtraFinding::eKind;
  const CdrZip64& z = cdr.zip64;
  if (found & kFoundUncompressedSize) addFinding(cdr.extraFindings, K::Zip64UncompressedSize, z.uncompressedSize);
  if (found & kFoundCompressedSize) addFinding(cdr.extraFindings, K::Zip64CompressedSize, z.compressedSize);
  if (found & kFoundOffsetLfh) addFinding(cdr.extraFindings, K::Zip64OffsetLfh, z.offsetLfh);
  if (found & kFoundDiskStartNumber) addFinding(cdr.extraFindings, K::Zip64DiskStartNumber, z.diskStartNumber);
}

// The values follow the record's 4 header bytes and are bounded by the end
// of the whole extra field, not by the record's data size.
template <typename Record>
bool readZip64Record(Record& record, ByteCursor values) {
  record.hasZip64Extra = true;
  unsigned found = 0;
  const bool complete = readZip64Values(record, values, found);
  recordZip64Values(record, found);
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
  sExtraFinding& f = out.extraFindings.items.emplace_back();
  f.kind = sExtraFinding::eKind::NtfsTimes;
  f.modified = out.ntfsModified;
  f.accessed = out.ntfsAccessed;
  f.created = out.ntfsCreated;
  return true;
}

template <typename Record>
bool parseRecords(Record& out, ByteCursor rest) {
  for (;;) {
    if (rest.remaining() == 0) return true;
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
      default: {
        sExtraFinding& f = out.extraFindings.items.emplace_back();
        f.headerId = id;
        f.dataSize = dataSize;
        break;
      }
    }
  }
}

template <typename Record>
bool parseExtraFieldInto(Record& out, std::string_view extra) {
  out.extraFindings.complete = parseRecords(out, ByteCursor(extra));
  return out.extraFindings.complete;
}

// A record's fixed part and name, known to lie in `record` with its extra
// field, which is parsed; the cursor is left at what follows (a Cdr's
// comment).
template <typename Record>
ByteCursor readRecord(Record& out, ByteCursor record) {
  constexpr std::size_t kFixed = decltype(out.header)::kSize;
  out.header.copyFrom(record.data());
  record.skip(kFixed);
  out.name = take(record, out.header.filenameLength());
  const ByteCursor extra = record.sub(out.header.extraFieldLength());
  parseExtraField(out, std::string_view(reinterpret_cast<const char*>(extra.data()), extra.remaining()));
  return record;
}

}  // namespace

bool parseExtraField(LfhEx& lfh, std::string_view extra) { return parseExtraFieldInto(lfh, extra); }
bool parseExtraField(CdrEx& cdr, std::string_view extra) { return parseExtraFieldInto(cdr, extra); }

cZipReader::cZipReader() = default;

cZipReader::~cZipReader() { releaseArchive(); }

void cZipReader::forgetArchive() {
  entries_.clear();
  entries_.shrink_to_fit();
  bytes_ = {};
  ecd_.reset();
  ecdl64_.reset();
  ecd64_.reset();
  ecdOffset_ = ecdl64Offset_ = ecd64Offset_ = expectedEntries_ = 0;
  lastHeaderRead_ = headerPagesRead_ = 0;
  readSinceRelease_ = 0;
}

void cZipReader::releaseArchive() {
  forgetArchive();
  view_.close();
  path_.clear();
}

bool cZipReader::copyBytes(platform::File& out, std::uint64_t offset, std::uint64_t length) const {
  if (view_.isOpen()) return view_.copyTo(out, offset, length);
  if (!fitsIn(bytes_.size(), offset, length) || length > SIZE_MAX) return false;
  return out.write(bytes_.data() + offset, static_cast<std::size_t>(length));
}

std::uint32_t cZipReader::crcOf(std::uint64_t offset, std::uint64_t length, std::uint32_t crc) const {
  while (length > 0) {
    const std::uint64_t piece = std::min(length, kReleaseAfterBytes);
    crc = ~updateCrc32(~crc, bytes_.data() + offset, static_cast<std::size_t>(piece));
    noteRead(piece);
    offset += piece;
    length -= piece;
  }
  return crc;
}

void cZipReader::noteRead(std::uint64_t length) const {
  if (!view_.isOpen()) return;
  // Every page is given back, not just these: pages of other entries that
  // other threads are reading are read again from the file, which costs less
  // than keeping track of them.
  if (readSinceRelease_.fetch_add(length) + length < kReleaseAfterBytes) return;
  readSinceRelease_ = 0;
  releaseMapping();
}

void cZipReader::releaseMapping() const {
  if (view_.isOpen()) view_.release(0, view_.size());
}

bool cZipReader::open(std::string* message, const std::string& path) {
  releaseArchive();
  statistics_ = sStatistics{};
  path_ = path;
  if (platform::isSpecialFile(path)) return fail(message, formatText(kNotRegularFileMessage, path));
  if (!view_.open(path)) {
    std::string reason = platform::lastSystemError().reason;
    if (reason.empty()) reason = "The file is empty.";  // the one failure the system gives no reason for
    return fail(message, withPathAndReason("Unable to open zip file.", path, reason));
  }
  bytes_ = std::span<const std::uint8_t>(view_.data(), static_cast<std::size_t>(view_.size()));
  bool open = parse(message);
  // What the walk read is in the entries now.
  releaseMapping();
  if (!view_.unchanged()) open = fail(message, kArchiveChangedMessage);
  // What is wrong with the archive is said on the first line; the archive
  // it is about follows, as for the system's failures.
  if (!open && message && message->find('\n') == std::string::npos) *message += '\n' + path;
  return open;
}

bool cZipReader::open(std::string* message, std::span<const std::uint8_t> bytes) {
  releaseArchive();
  statistics_ = sStatistics{};
  bytes_ = bytes;
  return parse(message);
}

bool cZipReader::parse(std::string* message) {
  if (bytes_.size() < kEcdSize) return fail(message, "Not a valid zip file.");
  std::uint64_t firstCdr = 0;
  return findEcd(message) && findCentralDirectory(message, firstCdr) && walkCentralDirectory(message, firstCdr);
}

// The Ecd is the signature nearest the end of the file. The whole file is
// searched: an archive comment (or anything appended) may be of any length.
bool cZipReader::findEcd(std::string* message) {
  const std::uint8_t* base = bytes_.data();
  for (std::uint64_t at = bytes_.size() - kEcdSize;; --at) {
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
  const std::uint8_t* base = bytes_.data();
  const std::uint64_t size = bytes_.size();
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
  const std::uint8_t* base = bytes_.data();
  const std::uint64_t size = bytes_.size();
  // Every record takes 46 bytes at least: no hostile count makes room for more.
  entries_.reserve(
      static_cast<std::size_t>(std::min({expectedEntries_, (size - firstCdr) / kCdrSize, kMostEntriesReserved})));
  std::uint64_t at = firstCdr;
  while (fitsIn(size, at, 4) && loadLe32(base + at) == kCdrSignature) {
    if (!fitsIn(size, at, kCdrSize)) return fail(message, kInvalidZipFile);
    Cdr header;
    header.copyFrom(base + at);
    if (!fitsIn(size, at, header.totalSize())) return fail(message, kInvalidZipFile);
    if (!readEntry(message, at, header.totalSize())) return false;
    at += header.totalSize();
    if (!fitsIn(size, at, kCdrSize)) break;
  }
  if (entries_.size() != expectedEntries_)
    return fail(message,
                "Invalid zip file.  (Number of central directory entries doesn't match number in end of central "
                "directory record.");
  return true;
}

// One Cdr of `cdrSize` bytes that lies wholly in the file: its local header
// must be sound, and the entry is counted from that header.
bool cZipReader::readEntry(std::string* message, std::uint64_t cdrOffset, std::uint64_t cdrSize) {
  sZipEntry& entry = entries_.emplace_back();
  CdrEx& cdr = entry.cdr;
  ByteCursor rest = readRecord(cdr, ByteCursor(bytes_.data() + cdrOffset, static_cast<std::size_t>(cdrSize)));
  cdr.comment = take(rest, cdr.header.commentLength());
  if (cdr.header.usesZip64()) statistics_.zip64 = true;
  if (!readLocalHeader(message, entry)) {
    entries_.pop_back();
    return false;
  }
  const LfhEx& lfh = entry.lfh;
  if (lfh.header.usesZip64()) statistics_.zip64 = true;
  if (!countReadEntry(statistics_, lfh.header.compressionMethod(), lfh.effectiveUncompressedSize(),
                      lfh.effectiveCompressedSize())) {
    entries_.pop_back();
    return fail(message, "File compressed with method other than deflate.");
  }
  noteHeaderRead(cdr.effectiveOffsetLfh());
  return true;
}

// The local header at the Cdr's effective offset: its signature, then its
// fixed part, name and extra field must lie in the file.
bool cZipReader::readLocalHeader(std::string* message, sZipEntry& entry) const {
  const std::uint8_t* base = bytes_.data();
  const std::uint64_t size = bytes_.size();
  const std::uint64_t at = entry.cdr.effectiveOffsetLfh();
  if (!fitsIn(size, at, 4) || loadLe32(base + at) != kLfhSignature) return fail(message, kWrongLfhOffset);
  if (!fitsIn(size, at, kLfhSize)) return fail(message, kInvalidZipFile);
  LfhEx& lfh = entry.lfh;
  lfh.header.copyFrom(base + at);
  const std::uint64_t total = kLfhSize + std::uint64_t{lfh.header.filenameLength()} + lfh.header.extraFieldLength();
  if (!fitsIn(size, at, total)) return fail(message, kInvalidZipFile);
  lfh.hasDataDescriptor = (lfh.header.generalFlags() & 0x0008) != 0;
  readRecord(lfh, ByteCursor(base + at, static_cast<std::size_t>(total)));
  entry.dataOffset = at + total;
  return true;
}

// Reading a local header maps the pages around it (the system maps up to a
// whole large folio of the file, kFaultAround bytes, at once): once the pages
// so mapped may add up to a few MiB, they are given back.
void cZipReader::noteHeaderRead(std::uint64_t offset) {
  const std::uint64_t distance = offset > lastHeaderRead_ ? offset - lastHeaderRead_ : lastHeaderRead_ - offset;
  lastHeaderRead_ = offset;
  headerPagesRead_ += std::min(distance, kFaultAround);
  if (headerPagesRead_ < kReleaseAfterBytes) return;
  headerPagesRead_ = 0;
  releaseMapping();
}

}  // namespace plimsy
