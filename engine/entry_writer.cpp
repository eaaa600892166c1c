#include "engine/entry_writer.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstring>

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
// The longest local header: the fixed part, the longest name and the ZIP64
// extra field.
constexpr std::size_t kMaxLfhBytes = kLfhSize + kMaxEntryNameLength + kLfhZip64Size;
// A small stored file is read behind the room for its header, with one byte
// more to see whether it has grown.
constexpr std::size_t kWholeInputBytes = kMaxLfhBytes + kWholeFileLimit + 1;

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
                 platform::File& source, int level, sEntryData& data) {
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
      if (!output.write(out, produced)) return false;
      data.bytesWritten += produced;
    } while (stream.avail_out == 0);
  } while (flush != Z_FINISH);
  data.crc = ~crc;
  return result == Z_STREAM_END;
}

bool storeRest(std::uint8_t* in, platform::File& output, platform::File& source, sEntryData& data) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (;;) {
    const std::size_t got = source.read(in, kStreamBlock);
    if (got == 0) break;
    if (jobsAbandoned()) return false;
    crc = updateCrc32(crc, in, got);
    data.bytesRead += got;
    if (!output.write(in, got)) return false;
    data.bytesWritten += got;
  }
  data.crc = ~crc;
  return true;
}

bool failWithDataMessage(std::string* message, std::uint32_t level) {
  return fail(message, level == 0 ? kStoredWriteFailed : kDeflateFailed);
}

// ---- Small files: read whole, one write -------------------------------------

// Reads exactly `size` bytes, and one more to see whether the file has grown.
bool readWhole(platform::File& source, std::uint8_t* at, std::uint64_t size, std::uint32_t level,
               std::string* message) {
  const std::size_t got = source.read(at, static_cast<std::size_t>(size) + 1);
  if (source.failed() && level != 0) return fail(message, kDeflateFailed);
  if (got != size) return fail(message, kLengthMismatch);
  return true;
}

bool writeWholeStored(sZipWriter& writer, std::string* message, sLfhEx2& lfh, platform::File& source,
                      std::uint64_t size) {
  const std::size_t headerLength = lfhLength(lfh);
  std::uint8_t* buffer = ensureSize(writer.scratch.input, kWholeInputBytes);
  if (!readWhole(source, buffer + headerLength, size, 0, message)) return false;
  lfh.header.setCrc(crc32Of(buffer + headerLength, static_cast<std::size_t>(size)));
  setLfhCompressedSize(lfh, size);
  placeLfh(lfh, buffer);
  if (!writer.output.write(buffer, headerLength + static_cast<std::size_t>(size)))
    return fail(message, kStoredWriteFailed);
  return true;
}

bool writeWholeDeflated(sZipWriter& writer, std::string* message, sLfhEx2& lfh, platform::File& source,
                        std::uint64_t size, std::uint32_t level) {
  const std::size_t length = static_cast<std::size_t>(size);
  std::uint8_t* in = ensureSize(writer.scratch.input, kWholeInputBytes);
  if (!readWhole(source, in, size, level, message)) return false;
  lfh.header.setCrc(crc32Of(in, length));

  cDeflater& deflater = *writer.scratch.deflater;
  if (!deflater.start(static_cast<int>(level))) return fail(message, kDeflateFailed);
  z_stream& stream = deflater.stream();
  const std::size_t headerLength = lfhLength(lfh);
  // deflateBound holds whatever one Z_FINISH call over the whole input makes;
  // the buffer is sized once for the biggest small file.
  const std::size_t bound = deflateBound(&stream, static_cast<uLong>(length));
  std::uint8_t* out = ensureSize(writer.scratch.output, kMaxLfhBytes + deflateBound(&stream, kWholeFileLimit));
  stream.next_in = in;
  stream.avail_in = static_cast<uInt>(length);
  stream.next_out = out + headerLength;
  stream.avail_out = static_cast<uInt>(bound);
  if (deflate(&stream, Z_FINISH) != Z_STREAM_END) return fail(message, kDeflateFailed);
  const std::size_t compressed = bound - stream.avail_out;

  setLfhCompressedSize(lfh, compressed);
  placeLfh(lfh, out);  // same length: a small entry never needs ZIP64
  if (!writer.output.write(out, headerLength + compressed)) return fail(message, kDeflateFailed);
  return true;
}

// ---- Big files: provisional header, streamed data, header rewritten ---------

bool rewriteLfh(sZipWriter& writer, std::string* message, const sLfhEx2& lfh, std::uint64_t at, std::uint32_t level) {
  const bool atHeader = writer.output.seek(at);
  if (level != 0) return atHeader && lfh.write(nullptr, writer.output) ? true : fail(message, kDeflateFailed);
  if (!atHeader) return fail(message, "Error while writing local file header in sLfhEx2::write().");
  return lfh.write(message, writer.output);
}

bool writeStreamed(sZipWriter& writer, std::string* message, sLfhEx2& lfh, platform::File& source, std::uint64_t size,
                   std::uint64_t lfhOffset, std::uint32_t level) {
  if (!lfh.write(message, writer.output)) return false;
  sEntryData data;
  if (!writeEntryData(writer, message, data, source, level)) return false;
  if (data.bytesRead != size) return fail(message, kLengthMismatch);
  lfh.header.setCrc(data.crc);
  const bool hadZip64 = lfh.header.usesZip64();
  setLfhCompressedSize(lfh, data.bytesWritten);
  const std::optional<std::uint64_t> end = writer.output.tell();
  if (!end) return failWithDataMessage(message, level);
  if (!rewriteLfh(writer, message, lfh, lfhOffset, level)) return false;
  if (hadZip64 || !lfh.header.usesZip64()) return writer.output.seek(*end) ? true : failWithDataMessage(message, level);

  // The deflated data reached 0xFFFFFFFF bytes although the file is smaller:
  // the header grew by its ZIP64 extra field and now overlaps the data.
  // Deflate again behind it; the same input at the same level gives the same
  // bytes, so the sizes in the header stand.
  sEntryData again;
  if (!source.seek(0) || !writeEntryData(writer, message, again, source, level)) return fail(message, kDeflateFailed);
  if (again.bytesRead != size) return fail(message, kLengthMismatch);
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
  std::uint8_t* in = ensureSize(writer.scratch.input, kStreamBlock);
  if (level == 0) return storeRest(in, writer.output, source, data) ? true : fail(message, kStoredWriteFailed);
  std::uint8_t* out = ensureSize(writer.scratch.output, kStreamBlock);
  if (!deflateRest(*writer.scratch.deflater, in, out, writer.output, source, static_cast<int>(level), data))
    return fail(message, kDeflateFailed);
  return true;
}

bool deflateFile(platform::File& output, platform::File& source, int level) {
  cDeflater deflater;
  std::vector<std::uint8_t> in(kStreamBlock);
  std::vector<std::uint8_t> out(kStreamBlock);
  sEntryData data;
  return deflateRest(deflater, in.data(), out.data(), output, source, level, data);
}

bool add_file__def(sZipWriter& writer, std::string* message, const std::string& relativePath,
                   const platform::FolderItem& findData, const std::string& filesFolder,
                   std::optional<std::uint32_t> forcedLevel, std::string_view entryName) {
  const std::uint32_t level = levelInEffect(writer, relativePath, forcedLevel);
  const std::string fullPath = filesFolder + relativePath;
  if (pathKind(fullPath) == PathKind::Missing) return fail(message, "Source file not found in add_file__def().");
  platform::File source;
  if (!source.open(fullPath, platform::File::Mode::Read)) {
    const platform::File::OpenFailure failure = source.openFailure();
    const char* format = failure == platform::File::OpenFailure::NotRegular         ? kNotRegularFileMessage
                         : failure == platform::File::OpenFailure::SharingViolation ? kFileInUseMessage
                                                                                    : "Can't open file\n%s";
    return fail(message, formatText(format, fullPath));
  }
  const std::optional<std::uint64_t> size = source.size();
  if (!size) return fail(message, formatText("Can't open file\n%s", fullPath));

  const FileTime time = writer.fixedDatetime != 0 ? writer.fixedDatetime : findData.lastWrite;
  const std::uint16_t method = level == 0 ? kMethodStored : kMethodDeflated;
  sLfhEx2 lfh;
  if (!initLfh(lfh, message, method, time, 0, entryNameFor(relativePath, entryName), *size, *size)) return false;
  const std::optional<std::uint64_t> lfhOffset = writer.output.tell();
  if (!lfhOffset) return failWithDataMessage(message, level);

  const bool whole = *size <= std::min(writer.wholeFileLimit, kWholeFileLimit);
  const bool written = !whole       ? writeStreamed(writer, message, lfh, source, *size, *lfhOffset, level)
                       : level == 0 ? writeWholeStored(writer, message, lfh, source, *size)
                                    : writeWholeDeflated(writer, message, lfh, source, *size, level);
  if (!written) return false;

  CdrEx cdr;
  fillCdr(cdr, *lfhOffset, lfh);
  appendCdr(cdr, writer.centralDirectory);
  if (level == 0)
    countStoredEntry(writer.statistics, lfh.effectiveUncompressedSize());
  else
    countDeflatedEntry(writer.statistics, lfh.effectiveUncompressedSize(), lfh.effectiveCompressedSize());
  return true;
}

}  // namespace plimsy
