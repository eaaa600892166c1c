#pragma once

// Local headers and central directory records as the engine handles them in
// memory (the on-disk image together with its ZIP64 values, name and what a
// reader made of its extra field), and the rules by which the zip job builds
// them, writes them and takes their effective values.
//
// Effective values: a 32-bit size or offset field holding 0xFFFFFFFF stands
// for the 64-bit value of the ZIP64 extra field; otherwise the field is the
// value. Likewise the Ecd's all-ones fields stand for the Ecd64's values.
//
// A local header written here carries the ZIP64 extra field exactly when its
// uncompressed or compressed size reaches 0xFFFFFFFF, and then BOTH 32-bit
// size fields hold 0xFFFFFFFF and the extra field both real sizes, so that
// every reader takes the same sizes from it. A central directory record puts
// into its ZIP64 extra field only the values whose own field overflowed.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/filetime.h"
#include "core/platform.h"
#include "engine/byte_order.h"
#include "engine/zip_record_images.h"

namespace plimsy {

// The longest entry name a local header takes, in bytes.
inline constexpr std::size_t kMaxEntryNameLength = 0xFFFE;

// The ZIP64 values of a central directory record; a value holding all ones
// (kNoZip64Value, 0xFFFFFFFF for the disk) is absent.
struct CdrZip64 {
  std::uint16_t headerId = kZip64ExtraId;
  std::uint16_t dataSize = kAllOnes16;
  std::uint64_t uncompressedSize = kNoZip64Value;
  std::uint64_t compressedSize = kNoZip64Value;
  std::uint64_t offsetLfh = kNoZip64Value;
  std::uint32_t diskStartNumber = kAllOnes32;
};

// One thing the reader found in an extra field: a ZIP64 value it took, the
// three times of an NTFS record, or a record of a kind it does not handle.
struct sExtraFinding {
  enum class eKind : std::uint8_t {
    Zip64UncompressedSize,
    Zip64CompressedSize,
    Zip64OffsetLfh,
    Zip64DiskStartNumber,
    NtfsTimes,
    Unhandled,
  };
  eKind kind = eKind::Unhandled;
  std::uint16_t headerId = 0;  // Unhandled: the record's Header ID and data size
  std::uint16_t dataSize = 0;
  std::uint64_t value = 0;  // a ZIP64 value
  FileTime modified = 0;    // NtfsTimes
  FileTime accessed = 0;
  FileTime created = 0;

  bool operator==(const sExtraFinding&) const = default;
};

// What the reader found in an extra field, in the order it stands there, and
// whether parsing reached the end of the field (a damaged record stops it).
struct sExtraFindings {
  std::vector<sExtraFinding> items;
  bool complete = false;
};

// The fresh images: signature, version to extract 20 (Lfh) or version made
// by 45 (Cdr), every other field 0; the ZIP64 image with header ID 1, data
// size 16 and both slots empty.
Lfh freshLfh();
LfhZip64 freshLfhZip64();
Cdr freshCdr();

// A local header in memory. The members marked "reader" are filled by the ZIP
// reader from an archive and stay empty when the zip job builds a header.
struct sLfhEx2 {
  Lfh header = freshLfh();
  LfhZip64 zip64 = freshLfhZip64();  // a slot holding kNoZip64Value holds no value
  std::string name;                  // raw bytes
  FileTime ntfsModified = 0;         // NTFS extra field times (reader)
  FileTime ntfsAccessed = 0;
  FileTime ntfsCreated = 0;
  bool hasDataDescriptor = false;  // (reader)
  bool hasZip64Extra = false;      // (reader)
  bool hasNtfsExtra = false;       // (reader)
  sExtraFindings extraFindings;    // (reader) for the analysis log

  std::uint64_t effectiveUncompressedSize() const;
  std::uint64_t effectiveCompressedSize() const;

  // Writes the header image, the name (when there is one) and, when either
  // size field holds 0xFFFFFFFF, the 20-byte ZIP64 image at the file's
  // current position. Fails, with the message naming the part that could not
  // be written, when the file is not open or a write fails:
  //   "Error while writing local file header in sLfhEx2::write()."
  //   "Error while writing file name in sLfhEx2::write()."
  //   "Error while writing extended field in sLfhEx2::write()."
  bool write(std::string* message, platform::File& file) const;
};
using LfhEx = sLfhEx2;

// A central directory record in memory; "reader" members as for sLfhEx2.
struct CdrEx {
  Cdr header = freshCdr();
  CdrZip64 zip64;
  std::string name;     // raw bytes
  std::string comment;  // raw comment (reader)
  FileTime ntfsModified = 0;
  FileTime ntfsAccessed = 0;
  FileTime ntfsCreated = 0;
  bool hasZip64Extra = false;
  bool hasNtfsExtra = false;
  sExtraFindings extraFindings;

  std::uint64_t effectiveUncompressedSize() const;
  std::uint64_t effectiveCompressedSize() const;
  std::uint64_t effectiveOffsetLfh() const;
};

// Whether an entry is encrypted: bit 0 of the general purpose flags in its
// central directory record or in its local header (either one is enough, so a
// record that hides the bit in one of them is still refused).
inline bool isEncrypted(const CdrEx& cdr, const sLfhEx2& lfh) {
  constexpr std::uint16_t kEncryptedFlag = 0x0001;
  return ((cdr.header.generalFlags() | lfh.header.generalFlags()) & kEncryptedFlag) != 0;
}

// ---- Building and writing (the zip job and its entry writer) ----------------

// Fills a local header for an entry: method, DOS time and date of `time` (both
// 0 when the time lies outside 1980..2107), CRC, name and both sizes (the
// ZIP64 rule above; version to extract 10 stored / 20 deflated / 45 ZIP64).
// Fails with "Unable to initialize local file header" and leaves the record
// alone when the name is longer than kMaxEntryNameLength bytes.
bool initLfh(sLfhEx2& lfh, std::string* message, std::uint16_t method, FileTime time, std::uint32_t crc,
             std::string_view name, std::uint64_t uncompressedSize, std::uint64_t compressedSize);

// Sets the compressed size once the entry's data is written, keeping its
// uncompressed size, by the same rules as initLfh: the ZIP64 extra field,
// version to extract and both size fields follow. The header may grow by the
// 20-byte extra field (deflated output of 4 GiB or more from a smaller file);
// compare `header.extraFieldLength()` before and after to know.
void setLfhCompressedSize(sLfhEx2& lfh, std::uint64_t compressedSize);

// Fills a fresh central directory record from the entry's local header and
// the offset at which that header starts: flags, method, time, date and CRC
// copied, sizes and offset with 0xFFFFFFFF and a ZIP64 value where they do
// not fit, the name, the extra field length and version to extract (45 when
// any field overflowed, else 10 stored / 20 deflated).
void fillCdr(CdrEx& cdr, std::uint64_t offsetLfh, const sLfhEx2& lfh);

// Appends the record to the central directory image: the 46 header bytes, the
// name and, when any value overflowed, the ZIP64 extra field with just those
// values in the order uncompressed size, compressed size, offset of the local
// header (12, 20 or 28 bytes). Sets the header's extra field length first.
void appendCdr(CdrEx& cdr, std::string& centralDirectory);

// The end records of an archive. The Ecd64 and Ecdl64 are meaningful only
// when `needsZip64` is true; then the zip job writes, after the central
// directory, the Ecd64, the Ecdl64 and the Ecd, in that order.
struct EndRecords {
  Ecd ecd;
  Ecd64 ecd64;
  Ecdl64 ecdl64;
  bool needsZip64 = false;
};

// Builds the end records for `entries` central directory records of
// `cdSize` bytes in all, starting at `cdOffset`; the Ecd64 would start at
// `ecd64Offset` (just behind the central directory). ZIP64 end records are
// needed from 65,535 entries on, or when the size or offset reaches
// 0xFFFFFFFF.
EndRecords buildEndRecords(std::uint64_t entries, std::uint64_t cdSize, std::uint64_t cdOffset,
                           std::uint64_t ecd64Offset);

// ---- Reading (the ZIP reader) ------------------------------------------------

// The end values an archive announces: an Ecd field holding its all-ones value
// stands for the Ecd64's value when there is an Ecd64 (pass nullptr when the
// archive has none); otherwise the Ecd field is the value.
std::uint64_t effectiveQtyCdEntriesThisDisk(const Ecd& ecd, const Ecd64* ecd64);
std::uint64_t effectiveTotalQtyCdEntries(const Ecd& ecd, const Ecd64* ecd64);
std::uint64_t effectiveCdSize(const Ecd& ecd, const Ecd64* ecd64);
std::uint64_t effectiveCdOffset(const Ecd& ecd, const Ecd64* ecd64);

// Which ZIP64 values readZip64Values took (bits of `found`).
inline constexpr unsigned kFoundUncompressedSize = 1;
inline constexpr unsigned kFoundCompressedSize = 2;
inline constexpr unsigned kFoundOffsetLfh = 4;
inline constexpr unsigned kFoundDiskStartNumber = 8;

// Takes the values of a ZIP64 extra field from `values` (the bytes after its
// 4-byte header ID and data size) into the record: one value for each header
// field that holds its all-ones value, in the order uncompressed size (8
// bytes), compressed size (8), and for a Cdr offset of the local header (8)
// and disk start number (4, when Disk number holds 0xFFFF). `found` receives
// the values taken. False when a value would run past the end of `values`;
// the values taken before it stay. Does not touch hasZip64Extra.
bool readZip64Values(sLfhEx2& lfh, ByteCursor values, unsigned& found);
bool readZip64Values(CdrEx& cdr, ByteCursor values, unsigned& found);

}  // namespace plimsy
