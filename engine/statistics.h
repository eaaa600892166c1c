#pragma once

// The statistics of one job (zip, unzip or analysis) and the report text that
// the success message shows. Sizes are effective sizes (64-bit values where
// the 32-bit fields of a record overflow).

#include <cstdint>
#include <string>
#include <vector>

namespace plimsy {

// An entry of an archive that unpacked to the same file as a later entry,
// which replaced it (the names as they stand in the archive).
struct sReplacedEntry {
  std::string replaced;
  std::string by;

  bool operator==(const sReplacedEntry&) const = default;
};

struct sStatistics {
  std::uint64_t files = 0;                // entries handled
  std::uint64_t stored = 0;               // entries with method 0
  std::uint64_t deflated = 0;             // entries with method 8
  std::uint64_t zeroLength = 0;           // entries read with compressed size 0 (never counted when zipping)
  std::uint64_t storedBytes = 0;          // sizes of the stored entries
  std::uint64_t deflatedInputBytes = 0;   // uncompressed sizes of the deflated entries
  std::uint64_t deflatedOutputBytes = 0;  // compressed sizes of the deflated entries
  bool zip64 = false;                     // the archive uses ZIP64 records
  // Unzip: the entries that a later entry replaced on disk, in archive order.
  std::vector<sReplacedEntry> replacedEntries;

  bool operator==(const sStatistics&) const = default;
};

// Counting one entry. The zip job counts every entry it writes by its method
// (an empty file too); readers count an entry with no compressed data as
// zero-length, whatever its method.
void countStoredEntry(sStatistics& statistics, std::uint64_t size);
void countDeflatedEntry(sStatistics& statistics, std::uint64_t uncompressedSize, std::uint64_t compressedSize);
void countZeroLengthEntry(sStatistics& statistics);

// By method: 0 stored, 8 deflated. Any other method counts the entry in
// `files` alone and returns false (the caller refuses the archive).
bool countEntryByMethod(sStatistics& statistics, std::uint16_t method, std::uint64_t uncompressedSize,
                        std::uint64_t compressedSize);

// As a reader counts an entry from its local header: zero-length when the
// compressed size is 0, else by method as above.
bool countReadEntry(sStatistics& statistics, std::uint16_t method, std::uint64_t uncompressedSize,
                    std::uint64_t compressedSize);

// Appends the nine-line report (no line feed after the last line):
//   Number of files: 1,000
//   Number of files stored: …  (then deflated, zero-length)
//   Unzipped size: …           (stored + deflated input bytes)
//   Zipped size: …             (stored + deflated output bytes)
//   Overall size ratio: 0.25   (zipped / unzipped)
//   Deflation ratio: 0.25      (deflated output / input)
//   ZIP64: yes | no
// Counts and sizes have thousands separators; a ratio whose divisor is 0 is
// shown as an em dash "—".
void statisticsText(const sStatistics& statistics, std::string& text);

}  // namespace plimsy
