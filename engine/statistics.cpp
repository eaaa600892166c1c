#include "engine/statistics.h"

#include "core/text.h"
#include "engine/zip_record_images.h"

namespace plimsy {
namespace {

constexpr const char* kEmDash = "\xE2\x80\x94";

std::string ratioText(std::uint64_t part, std::uint64_t whole) {
  if (whole == 0) return kEmDash;
  return formatText("%4.2f", static_cast<double>(part) / static_cast<double>(whole));
}

}  // namespace

void countStoredEntry(sStatistics& statistics, std::uint64_t size) {
  ++statistics.files;
  ++statistics.stored;
  statistics.storedBytes += size;
}

void countDeflatedEntry(sStatistics& statistics, std::uint64_t uncompressedSize, std::uint64_t compressedSize) {
  ++statistics.files;
  ++statistics.deflated;
  statistics.deflatedInputBytes += uncompressedSize;
  statistics.deflatedOutputBytes += compressedSize;
}

void countZeroLengthEntry(sStatistics& statistics) {
  ++statistics.files;
  ++statistics.zeroLength;
}

bool countEntryByMethod(sStatistics& statistics, std::uint16_t method, std::uint64_t uncompressedSize,
                        std::uint64_t compressedSize) {
  switch (method) {
    case kMethodStored: countStoredEntry(statistics, uncompressedSize); return true;
    case kMethodDeflated: countDeflatedEntry(statistics, uncompressedSize, compressedSize); return true;
    default: ++statistics.files; return false;
  }
}

bool countReadEntry(sStatistics& statistics, std::uint16_t method, std::uint64_t uncompressedSize,
                    std::uint64_t compressedSize) {
  if (compressedSize == 0) {
    countZeroLengthEntry(statistics);
    return true;
  }
  return countEntryByMethod(statistics, method, uncompressedSize, compressedSize);
}

void statisticsText(const sStatistics& s, std::string& text) {
  const std::uint64_t unzipped = s.storedBytes + s.deflatedInputBytes;
  const std::uint64_t zipped = s.storedBytes + s.deflatedOutputBytes;
  text += formatText(
      "Number of files: %s\nNumber of files stored: %s\nNumber of files deflated: %s\n"
      "Number of zero-length files: %s\nUnzipped size: %s\nZipped size: %s\nOverall size ratio: %s\n"
      "Deflation ratio: %s\nZIP64: %s",
      groupThousands(s.files), groupThousands(s.stored), groupThousands(s.deflated), groupThousands(s.zeroLength),
      groupThousands(unzipped), groupThousands(zipped), ratioText(zipped, unzipped),
      ratioText(s.deflatedOutputBytes, s.deflatedInputBytes), s.zip64 ? "yes" : "no");
}

}  // namespace plimsy
