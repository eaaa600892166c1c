#include "engine/entry_writer.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <utility>

#include "core/message.h"
#include "core/paths.h"
#include "core/text.h"
#include "engine/crc32.h"
#include "engine/job_control.h"
#include "engine/zip_records.h"

namespace plimsy {

// ---- The reusable deflate stream --------------------------------------------

// A raw deflate stream (window bits -15, memory level 8, default strategy)
// that is reset, not rebuilt, between entries of the same level. A reset
// stream deflates exactly as a fresh one does.
class cDeflater {
 public:
  cDeflater() = default;
  cDeflater(const cDeflater&) = delete;
  cDeflater& operator=(const cDeflater&) = delete;
  ~cDeflater() { end(); }

  // Readies the stream for a new source at `level`; false when zlib refuses.
  bool start(int level) {
    if (ready_ && level == level_) return deflateReset(&stream_) == Z_OK;
    end();
    stream_ = z_stream{};
    if (deflateInit2(&stream_, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) return false;
    ready_ = true;
    level_ = level;
    return true;
  }

  z_stream& stream() { return stream_; }

 private:
  void end() {
    if (ready_) deflateEnd(&stream_);
    ready_ = false;
  }

  z_stream stream_{};
  bool ready_ = false;
  int level_ = 0;
};

sEntryScratch::sEntryScratch() : deflater(std::make_unique<cDeflater>()) {}
sEntryScratch::~sEntryScratch() = default;
sEntryScratch::sEntryScratch(sEntryScratch&&) noexcept = default;
sEntryScratch& sEntryScratch::operator=(sEntryScratch&&) noexcept = default;

namespace {

constexpr std::array<std::string_view, 12> kCompressedExtensions = {".gif", ".jpg", ".jpeg", ".png", ".tif",  ".tiff",
                                                                    ".mp3", ".mp4", ".wma",  ".avi", ".mpeg", ".mpg"};

// Blocks of the streaming path: big enough for few system calls, small
// enough to stay in the processor's cache between the CRC and the write.
constexpr std::size_t kStreamBlock = std::size_t{256} << 10;
// Stored data is copied in bigger blocks: fewer system calls, and it never
// passes through zlib.
constexpr std::size_t kStoreBlock = std::size_t{1} << 20;
// The longest local header: the fixed part, the longest name and the ZIP64
// extra field.
constexpr std::size_t kMaxLfhBytes = kLfhSize + kMaxEntryNameLength + kLfhZip64Size;
// A small stored file is read behind the room for its header, with one byte
// more to see whether it has grown.
constexpr std::size_t kWholeInputBytes = kMaxLfhBytes + kWholeFileLimit + 1;

// A deflated entry waiting to be written is moved to a buffer of its own
// length when its buffer has more room to spare than this.
constexpr std::size_t kSlackToGiveBack = 4096;

constexpr const char* kDeflateFailed = "An error occurred while deflating.";
constexpr const char* kStoredWriteFailed = "Unable to write stored file.";
constexpr const char* kLengthMismatch = "Stored length doesn't match input length in add_file__def().";

std::uint8_t* ensureSize(std::vector<std::uint8_t>& buffer, std::size_t size) {
  if (buffer.size() < size) buffer.resize(size);
  return buffer.data();
}

// The entry's name: the relative path, with "/" between folders.
std::string entryNameFor(const std::string& relativePath, std::string_view entryName) {
  std::string name = entryName.empty() ? toUtf8(relativePath) : std::string(entryName);
  if constexpr (kBackslashIsSeparator) std::replace(name.begin(), name.end(), '\\', '/');
  return name;
}

std::uint32_t levelInEffect(const sZipWriter& writer, const std::string& relativePath,
                            std::optional<std::uint32_t> forcedLevel) {
  if (forcedLevel) return *forcedLevel;
  if (writer.compressionLevel != 0 && !writer.deflateCompressedFiles && isCompressedFileName(relativePath)) return 0;
  return writer.compressionLevel;
}

// The local header as it stands on disk (fixed part, name, ZIP64 extra field
// when either size field holds 0xFFFFFFFF), copied to `at`; returns its length.
std::size_t placeLfh(const sLfhEx2& lfh, std::uint8_t* at) {
  std::memcpy(at, lfh.header.data(), kLfhSize);
  std::memcpy(at + kLfhSize, lfh.name.data(), lfh.name.size());
  std::size_t length = kLfhSize + lfh.name.size();
  if (lfh.header.usesZip64()) {
    std::memcpy(at + length, lfh.zip64.data(), kLfhZip64Size);
    length += kLfhZip64Size;
  }
  return length;
}

std::size_t lfhLength(const sLfhEx2& lfh) {
  return kLfhSize + lfh.name.size() + (lfh.header.usesZip64() ? kLfhZip64Size : 0);
}

// Deflates the rest of `source` through `deflater` with the two buffers,
// computing the CRC-32 of what it reads.
bool deflateRest(cDeflater& deflater, std::uint8_t* in, std::uint8_t* out, platform::File& output,
                 platform::File& source, int level, sEntryData& data, sJobProgress* progress) {
  if (!deflater.start(level)) return false;
  z_stream& stream = deflater.stream();
  std::uint32_t crc = 0xFFFFFFFFu;
  int flush = Z_NO_FLUSH;
  int result = Z_OK;
  do {
    const std::size_t got = source.read(in, kStreamBlock);
    if (source.failed() || jobsAbandoned()) return false;
    crc = updateCrc32(crc, in, got);
    data.bytesRead += got;
    noteBytes(progress, got);
    // File::read fills the block unless the source has ended.
    flush = got < kStreamBlock ? Z_FINISH : Z_NO_FLUSH;
    stream.next_in = in;
    stream.avail_in = static_cast<uInt>(got);
    do {
      stream.next_out = out;
      stream.avail_out = static_cast<uInt>(kStreamBlock);
      result = deflate(&stream, flush);
      if (result == Z_STREAM_ERROR) return false;
      const std::size_t produced = kStreamBlock - stream.avail_out;
      if (!output.write(out, produced)) {
        data.outputFailed = true;
        return false;
      }
      data.bytesWritten += produced;
    } while (stream.avail_out == 0);
  } while (flush != Z_FINISH);
  data.crc = ~crc;
  return result == Z_STREAM_END;
}

bool storeRest(std::uint8_t* in, platform::File& output, platform::File& source, sEntryData& data,
               sJobProgress* progress) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (;;) {
    const std::size_t got = source.read(in, kStoreBlock);
    if (got == 0) break;
    if (jobsAbandoned()) return false;
    crc = updateCrc32(crc, in, got);
    data.bytesRead += got;
    noteBytes(progress, got);
    if (!output.write(in, got)) {
      data.outputFailed = true;
      return false;
    }
    data.bytesWritten += got;
  }
  data.crc = ~crc;
  return true;
}

// The archive's work file could not be written (or its position moved):
// the text, the file and the system's reason.
bool failWriting(const sZipWriter& writer, std::string* message, std::string_view text) {
  return fail(message, withPathAndSystemReason(text, writer.workPath));
}

// Its position could not be read or moved: no reason is recorded for that.
bool failWithDataMessage(const sZipWriter& writer, std::string* message, std::uint32_t level) {
  return fail(message, withPathAndReason(dataWriteFailure(level), writer.workPath, ""));
}

// ---- Small files: read whole, one write -------------------------------------

// Reads exactly `size` bytes, and one more to see whether the file has grown.
// A failure names the file; reading records no reason.
bool readWhole(sOpenedEntry& entry, std::uint8_t* at, std::uint32_t level, std::string* message) {
  const std::size_t got = entry.source.read(at, static_cast<std::size_t>(entry.size) + 1);
  if (entry.source.failed() && level != 0) return fail(message, withPathAndReason(kDeflateFailed, entry.path, ""));
  if (got != entry.size) return fail(message, withPathAndReason(kLengthMismatch, entry.path, ""));
  return true;
}

// Room for the deflated data of `size` bytes whatever zlib's parameters (its
// own conservative bound, with a margin).
std::size_t deflatedRoom(std::uint64_t size) {
  const auto n = static_cast<std::size_t>(size);
  return n + (n + 7) / 8 + (n + 63) / 64 + 64;
}

// The entry of a stored file in `out` (room for the longest header, the file
// and one byte more); its length in `length`.
bool encodeStored(sOpenedEntry& entry, std::uint8_t* out, std::size_t& length, std::string* message) {
  const std::size_t headerLength = lfhLength(entry.lfh);
  if (!readWhole(entry, out + headerLength, 0, message)) return false;
  const auto size = static_cast<std::size_t>(entry.size);
  entry.lfh.header.setCrc(crc32Of(out + headerLength, size));
  setLfhCompressedSize(entry.lfh, entry.size);
  placeLfh(entry.lfh, out);
  length = headerLength + size;
  return true;
}

// The entry of a deflated file in `out` (`room` bytes: the longest header and
// deflatedRoom), read into `in` (the file and one byte more). The input goes
// to zlib in blocks, which gives the bytes of one call over all of it.
bool encodeDeflated(sOpenedEntry& entry, cDeflater& deflater, std::uint8_t* in, std::uint8_t* out, std::size_t room,
                    std::size_t& length, std::string* message) {
  if (!readWhole(entry, in, entry.level, message)) return false;
  const auto size = static_cast<std::size_t>(entry.size);
  entry.lfh.header.setCrc(crc32Of(in, size));
  if (!deflater.start(static_cast<int>(entry.level))) return fail(message, kDeflateFailed);
  z_stream& stream = deflater.stream();
  const std::size_t headerLength = lfhLength(entry.lfh);
  const std::size_t capacity = room - headerLength;
  if (deflateBound(&stream, static_cast<uLong>(size)) > capacity) return fail(message, kDeflateFailed);
  stream.next_out = out + headerLength;
  stream.avail_out = static_cast<uInt>(capacity);
  std::size_t taken = 0;
  int result = Z_OK;
  do {
    if (jobsAbandoned()) return fail(message, kJobAbandonedMessage);
    const std::size_t piece = std::min(size - taken, kStoreBlock);
    stream.next_in = in + taken;
    stream.avail_in = static_cast<uInt>(piece);
    taken += piece;
    result = deflate(&stream, taken == size ? Z_FINISH : Z_NO_FLUSH);
    if (result == Z_STREAM_ERROR || stream.avail_in != 0) return fail(message, kDeflateFailed);
  } while (taken < size);
  if (result != Z_STREAM_END) return fail(message, kDeflateFailed);
  const std::size_t compressed = capacity - stream.avail_out;
  setLfhCompressedSize(entry.lfh, compressed);
  placeLfh(entry.lfh, out);  // same length: a small entry never needs ZIP64
  length = headerLength + compressed;
  return true;
}

bool writeWhole(sZipWriter& writer, std::string* message, sOpenedEntry& entry) {
  std::uint8_t* in = ensureSize(writer.scratch.input, kWholeInputBytes);
  std::size_t length = 0;
  if (entry.level == 0) {
    if (!encodeStored(entry, in, length, message)) return false;
    return writer.output.write(in, length) ? true : failWriting(writer, message, kStoredWriteFailed);
  }
  const std::size_t room = kMaxLfhBytes + deflatedRoom(kWholeFileLimit);
  std::uint8_t* out = ensureSize(writer.scratch.output, room);
  if (!encodeDeflated(entry, *writer.scratch.deflater, in, out, room, length, message)) return false;
  return writer.output.write(out, length) ? true : failWriting(writer, message, kDeflateFailed);
}

// ---- Big files: provisional header, streamed data, header rewritten ---------

bool rewriteLfh(sZipWriter& writer, std::string* message, const sLfhEx2& lfh, std::uint64_t at, std::uint32_t level) {
  if (!writer.output.seek(at)) {
    const char* text = level != 0 ? kDeflateFailed : "Error while writing local file header in sLfhEx2::write().";
    return fail(message, withPathAndReason(text, writer.workPath, ""));
  }
  std::string lfhMessage;
  if (lfh.write(&lfhMessage, writer.output)) return true;
  return failWriting(writer, message, level != 0 ? kDeflateFailed : lfhMessage);
}

// A source file that cannot be read, or whose length changed, is named.
bool writeStreamed(sZipWriter& writer, std::string* message, sOpenedEntry& entry, std::uint64_t lfhOffset) {
  sLfhEx2& lfh = entry.lfh;
  platform::File& source = entry.source;
  const std::uint64_t size = entry.size;
  const std::uint32_t level = entry.level;
  std::string lfhMessage;
  if (!lfh.write(&lfhMessage, writer.output)) return failWriting(writer, message, lfhMessage);
  sEntryData data;
  if (!writeEntryData(writer, message, data, source, level)) {
    if (level == 0 || data.outputFailed || !source.failed() || jobsAbandoned()) return false;
    return fail(message, withPathAndReason(kDeflateFailed, entry.path, ""));
  }
  if (data.bytesRead != size) return fail(message, withPathAndReason(kLengthMismatch, entry.path, ""));
  lfh.header.setCrc(data.crc);
  const bool hadZip64 = lfh.header.usesZip64();
  setLfhCompressedSize(lfh, data.bytesWritten);
  const std::optional<std::uint64_t> end = writer.output.tell();
  if (!end) return failWithDataMessage(writer, message, level);
  if (!rewriteLfh(writer, message, lfh, lfhOffset, level)) return false;
  if (hadZip64 || !lfh.header.usesZip64())
    return writer.output.seek(*end) ? true : failWithDataMessage(writer, message, level);

  // The deflated data reached 0xFFFFFFFF bytes although the file is smaller:
  // the header grew by its ZIP64 extra field and now overlaps the data.
  // Deflate again behind it; the same input at the same level gives the same
  // bytes, so the sizes in the header stand.
  sEntryData again;
  if (!source.seek(0)) return fail(message, kDeflateFailed);
  if (!writeEntryData(writer, message, again, source, level)) return false;
  if (again.bytesRead != size) return fail(message, withPathAndReason(kLengthMismatch, entry.path, ""));
  if (again.bytesWritten != data.bytesWritten || again.crc != data.crc) return fail(message, kDeflateFailed);
  return true;
}

}  // namespace

bool isCompressedFileName(std::string_view path) {
  const std::string_view extension = extensionPart(path);
  return std::any_of(kCompressedExtensions.begin(), kCompressedExtensions.end(),
                     [&](std::string_view known) { return equalsIgnoringAsciiCase(extension, known); });
}

bool writeEntryData(sZipWriter& writer, std::string* message, sEntryData& data, platform::File& source,
                    std::uint32_t level) {
  data = sEntryData{};
  std::uint8_t* in = ensureSize(writer.scratch.input, level == 0 ? kStoreBlock : kStreamBlock);
  bool written = false;
  if (level == 0) {
    written = storeRest(in, writer.output, source, data, writer.progress);
  } else {
    std::uint8_t* out = ensureSize(writer.scratch.output, kStreamBlock);
    written = deflateRest(*writer.scratch.deflater, in, out, writer.output, source, static_cast<int>(level), data,
                          writer.progress);
  }
  // recordEntry settles the entry's count at its size.
  if (writer.progress != nullptr) writer.progressNoted += data.bytesRead;
  if (written) return true;
  // Both loops stop, block by block, when the jobs are told to stop.
  if (jobsAbandoned()) return fail(message, kJobAbandonedMessage);
  const char* text = level == 0 ? kStoredWriteFailed : kDeflateFailed;
  return data.outputFailed ? failWriting(writer, message, text) : fail(message, text);
}

bool deflateFile(platform::File& output, platform::File& source, int level) {
  cDeflater deflater;
  std::vector<std::uint8_t> in(kStreamBlock);
  std::vector<std::uint8_t> out(kStreamBlock);
  sEntryData data;
  return deflateRest(deflater, in.data(), out.data(), output, source, level, data, nullptr);
}

std::uint32_t entryLevel(const sZipWriter& writer, const std::string& relativePath,
                         std::optional<std::uint32_t> forcedLevel) {
  return levelInEffect(writer, relativePath, forcedLevel);
}

bool openEntry(const sZipWriter& writer, std::string* message, const std::string& relativePath,
               const platform::FolderItem& findData, const std::string& filesFolder,
               std::optional<std::uint32_t> forcedLevel, std::string_view entryName, sOpenedEntry& entry) {
  entry.level = levelInEffect(writer, relativePath, forcedLevel);
  const std::string fullPath = filesFolder + relativePath;
  // A missing file is told apart only when it cannot be opened: one look-up
  // fewer for every file that can.
  if (!entry.source.open(fullPath, platform::File::Mode::Read)) {
    if (pathKind(fullPath) == PathKind::Missing)
      return fail(message, withPathAndReason("Source file not found in add_file__def().", fullPath, ""));
    const platform::File::OpenFailure failure = entry.source.openFailure();
    if (failure == platform::File::OpenFailure::Other)
      return fail(message, withPathAndSystemReason("Can't open file", fullPath));
    const char* format = failure == platform::File::OpenFailure::NotRegular         ? kNotRegularFileMessage
                         : failure == platform::File::OpenFailure::SharingViolation ? kFileInUseMessage
                                                                                    : "Can't open file\n%s";
    return fail(message, formatText(format, fullPath));
  }
  const std::optional<std::uint64_t> size = entry.source.size();
  if (!size) return fail(message, formatText("Can't open file\n%s", fullPath));
  entry.size = *size;

  const FileTime time = writer.fixedDatetime != 0 ? writer.fixedDatetime : findData.lastWrite;
  const std::uint16_t method = entry.level == 0 ? kMethodStored : kMethodDeflated;
  entry.path = fullPath;
  std::string lfhMessage;
  if (initLfh(entry.lfh, &lfhMessage, method, time, 0, entryNameFor(relativePath, entryName), *size, *size))
    return true;
  return fail(message, withPathAndReason(lfhMessage, fullPath, ""));
}

std::size_t wholeEntryBytes(std::uint64_t size, std::uint32_t level, std::size_t nameLength) {
  const auto n = static_cast<std::size_t>(size);
  const std::size_t header = kLfhSize + nameLength + kLfhZip64Size;
  return header + n + 1 + (level == 0 ? 0 : header + deflatedRoom(size));
}

bool encodeWholeEntry(sOpenedEntry& entry, sEntryScratch& scratch, sEntryBytes& bytes, std::string* message) {
  if (entry.level == 0) {
    bytes.data = std::make_unique_for_overwrite<std::uint8_t[]>(wholeEntryBytes(entry.size, 0, entry.lfh.name.size()));
    return encodeStored(entry, bytes.data.get(), bytes.length, message);
  }
  const auto in = std::make_unique_for_overwrite<std::uint8_t[]>(static_cast<std::size_t>(entry.size) + 1);
  const std::size_t room = kLfhSize + entry.lfh.name.size() + kLfhZip64Size + deflatedRoom(entry.size);
  bytes.data = std::make_unique_for_overwrite<std::uint8_t[]>(room);
  if (!encodeDeflated(entry, *scratch.deflater, in.get(), bytes.data.get(), room, bytes.length, message)) return false;
  // What waits to be written holds only its own bytes.
  if (room - bytes.length > kSlackToGiveBack) {
    auto exact = std::make_unique_for_overwrite<std::uint8_t[]>(bytes.length);
    std::memcpy(exact.get(), bytes.data.get(), bytes.length);
    bytes.data = std::move(exact);
  }
  return true;
}

bool writeStreamedEntry(sZipWriter& writer, std::string* message, sOpenedEntry& entry, std::uint64_t lfhOffset) {
  return writeStreamed(writer, message, entry, lfhOffset);
}

void recordEntry(sZipWriter& writer, std::uint64_t lfhOffset, const sLfhEx2& lfh) {
  CdrEx cdr;
  fillCdr(cdr, lfhOffset, lfh);
  appendCdr(cdr, writer.centralDirectory);
  if (lfh.header.compressionMethod() == kMethodStored)
    countStoredEntry(writer.statistics, lfh.effectiveUncompressedSize());
  else
    countDeflatedEntry(writer.statistics, lfh.effectiveUncompressedSize(), lfh.effectiveCompressedSize());
  noteEntrySettled(writer.progress, lfh.effectiveUncompressedSize(), std::exchange(writer.progressNoted, 0));
}

const char* dataWriteFailure(std::uint32_t level) { return level == 0 ? kStoredWriteFailed : kDeflateFailed; }

bool add_file__def(sZipWriter& writer, std::string* message, const std::string& relativePath,
                   const platform::FolderItem& findData, const std::string& filesFolder,
                   std::optional<std::uint32_t> forcedLevel, std::string_view entryName) {
  sOpenedEntry entry;
  if (!openEntry(writer, message, relativePath, findData, filesFolder, forcedLevel, entryName, entry)) return false;
  const std::optional<std::uint64_t> lfhOffset = writer.output.tell();
  if (!lfhOffset) return failWithDataMessage(writer, message, entry.level);
  const bool whole = entry.size <= std::min(writer.wholeFileLimit, kWholeFileLimit);
  const bool written =
      whole ? writeWhole(writer, message, entry) : writeStreamedEntry(writer, message, entry, *lfhOffset);
  if (!written) return false;
  recordEntry(writer, *lfhOffset, entry.lfh);
  return true;
}

}  // namespace plimsy
