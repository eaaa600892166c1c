#pragma once

// The ZIP reader: reads an archive held in memory (or a file, which it maps
// whole), finds its end records, walks its central directory once, checks
// that every central directory record leads to a sound local header, and
// keeps what it parsed as a list of entries: each entry's central directory
// record, its local header and where its data starts. Its users (the unzip
// job, which feeds zlib straight from the archive's bytes, and the analysis
// log, which describes every record) read that list; nothing is parsed twice.
//
// All bounds are tested as offsets within the archive (offset + length <=
// size, with no arithmetic that can wrap), so a damaged archive can never lead
// a read outside its bytes. The archive's bytes (viewData) stay valid until
// releaseArchive() or the destructor; the entries hold copies of what they
// need.
//
// Calling order: construct, open, then any number of reads of the entries and
// of the archive's bytes, then releaseArchive (also after a failed open; the
// destructor does it too). Opening and releasing belong to one thread; once
// open, the reader may be read from several threads at once.

#include <atomic>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/platform.h"
#include "core/settings.h"
#include "engine/statistics.h"
#include "engine/zip_record_images.h"
#include "engine/zip_records.h"

namespace plimsy {

// The message for an archive that another program shortened or rewrote while
// it was read: what was read from it cannot be trusted.
inline constexpr const char* kArchiveChangedMessage = "Zip file changed while it was being read.";

// One entry as the reader found it.
struct sZipEntry {
  CdrEx cdr;
  LfhEx lfh;                     // the local header the Cdr points at
  std::uint64_t dataOffset = 0;  // after the local header, its name and extra field; the data may run past the end
};

class cZipReader {
 public:
  cZipReader();
  ~cZipReader();
  cZipReader(const cZipReader&) = delete;
  cZipReader& operator=(const cZipReader&) = delete;

  // Reads the archive held in `bytes`, which must stay in place and unchanged
  // until releaseArchive, and fills the entry list and the statistics
  // (counted from the local headers). Fails, at the first fault, with one of:
  //   "Not a valid zip file."                     fewer than 22 bytes
  //   "Unable to find end of central directory."  no Ecd signature anywhere in the archive
  //   "Invalid zip file."                         fewer than 46 bytes at the Ecd's (or the Ecd64's)
  //       CD offset, even for an archive of no entries; the Ecd's CD offset is 0xFFFFFFFF and there
  //       is no locator; the Ecd64 does not fit; a Cdr with
  //       its name, extra field and comment, or a local header with its name and extra field, runs
  //       past the end of the archive
  //   "Invalid zip file (central directory record has wrong offset for local file header)."
  //   "File compressed with method other than deflate."  data stored with a method other than 0 or 8
  //   "Invalid zip file.  (Number of central directory entries doesn't match number in end of
  //       central directory record."
  // The statistics and whatever was found stay after a failure.
  bool open(std::string* message, std::span<const std::uint8_t> bytes);

  // Maps the file and reads it as above. Fails first with
  //   "Not a regular file (a pipe, socket or device):\n<path>"
  //   "Unable to open zip file."                  cannot be opened or mapped (an empty file too)
  // and, whatever else happened, with "Zip file changed while it was being
  // read." when the file was shortened or rewritten during the open.
  bool open(std::string* message, const std::string& path);

  // open(message, order.ZipPath).
  bool openArchive(std::string* message, const EpubWorkOrder& order) { return open(message, order.ZipPath); }

  // Forgets the archive, its entries and end records (and unmaps the file).
  // Safe in any state, also twice. The statistics stay.
  void releaseArchive();

  // The entries, in central directory order.
  const std::vector<sZipEntry>& entries() const { return entries_; }
  std::uint64_t cdrCount() const { return entries_.size(); }

  // The file opened ("" when the archive was given as bytes).
  const std::string& path() const { return path_; }
  // The archive's bytes (nullptr and 0 when nothing is open).
  const std::uint8_t* viewData() const { return bytes_.data(); }
  std::uint64_t viewSize() const { return bytes_.size(); }
  // False when another program has shortened or rewritten the file since it
  // was opened (see platform::MappedFile::unchanged): whatever was read from
  // it since may be wrong, and the user is told so. Bytes given in memory
  // never change.
  bool archiveUnchanged() const { return !view_.isOpen() || view_.unchanged(); }
  // The whole archive is about to be read (unpacking): read ahead.
  void adviseWholeRead() const { view_.adviseWholeRead(); }
  // Writes `length` bytes of the archive from `offset` to `out` at its
  // current position; false when the range is not in the archive or a write
  // fails.
  bool copyBytes(platform::File& out, std::uint64_t offset, std::uint64_t length) const;
  // The CRC-32 of `length` bytes of the archive from `offset` (which the
  // caller has checked lie in it), read piece by piece, each piece's memory
  // given back once it is read (see noteRead). `crc`, the CRC-32 of the
  // bytes before, carries it on.
  std::uint32_t crcOf(std::uint64_t offset, std::uint64_t length, std::uint32_t crc = 0) const;
  // `length` more bytes of the archive have been read, and will not be read
  // again soon. The memory that the read pages of a mapped file take is given
  // back whenever a few MiB have been read since it last was, so that reading
  // a whole archive never holds more than a few MiB of it; the bytes stay
  // readable (read again, they come from the file anew). Any thread may call
  // it.
  void noteRead(std::uint64_t length) const;

  // The end records found, as copies of their images, and their offsets in the
  // archive. nullptr when the record was not found (the Ecdl64 and Ecd64 exist
  // only in ZIP64 archives whose locator stands right before the Ecd).
  const Ecd* ecd() const { return ecd_ ? &*ecd_ : nullptr; }
  const Ecdl64* ecdl64() const { return ecdl64_ ? &*ecdl64_ : nullptr; }
  const Ecd64* ecd64() const { return ecd64_ ? &*ecd64_ : nullptr; }
  std::uint64_t ecdOffset() const { return ecdOffset_; }
  std::uint64_t ecdl64Offset() const { return ecdl64Offset_; }
  std::uint64_t ecd64Offset() const { return ecd64Offset_; }
  // The number of entries the end records announce.
  std::uint64_t expectedEntries() const { return expectedEntries_; }

  // Counts and sizes of the entries walked, and the ZIP64 flag.
  const sStatistics& statistics() const { return statistics_; }

 private:
  bool parse(std::string* message);
  bool findEcd(std::string* message);
  bool findCentralDirectory(std::string* message, std::uint64_t& firstCdr);
  bool walkCentralDirectory(std::string* message, std::uint64_t firstCdr);
  bool readEntry(std::string* message, std::uint64_t cdrOffset, std::uint64_t cdrSize);
  bool readLocalHeader(std::string* message, sZipEntry& entry) const;
  void noteHeaderRead(std::uint64_t offset);
  void releaseMapping() const;
  void forgetArchive();

  sStatistics statistics_;
  std::string path_;
  platform::MappedFile view_;
  std::span<const std::uint8_t> bytes_;
  std::vector<sZipEntry> entries_;
  std::optional<Ecd> ecd_;
  std::optional<Ecdl64> ecdl64_;
  std::optional<Ecd64> ecd64_;
  std::uint64_t ecdOffset_ = 0;
  std::uint64_t ecdl64Offset_ = 0;
  std::uint64_t ecd64Offset_ = 0;
  std::uint64_t expectedEntries_ = 0;
  std::uint64_t lastHeaderRead_ = 0;   // while the central directory is walked
  std::uint64_t headerPagesRead_ = 0;  // since the mapping's pages were last given back
  mutable std::atomic<std::uint64_t> readSinceRelease_{0};
};

// Decodes an extra field into the record: the ZIP64 values (only those whose
// header field holds all ones, in the order uncompressed size, compressed
// size and, for a Cdr, offset of the Lfh and 4-byte disk start number), the
// NTFS times (Header ID 0x000A, at least 36 bytes) and the has-ZIP64 and
// has-NTFS flags, and records each finding in the record's extraFindings:
// each ZIP64 value taken, each NTFS record's times, each record of another
// kind (its ID and data size), in order. Returns, and records, whether
// parsing reached the end of the field. A damaged field stops parsing
// silently: what was found before stays.
bool parseExtraField(LfhEx& lfh, std::string_view extra);
bool parseExtraField(CdrEx& cdr, std::string_view extra);

// The offset in the file of an entry's data: after its local header, name and
// extra field. The reader has checked that these lie in the file; the data
// itself may not.
inline std::uint64_t entryDataOffset(const CdrEx& cdr, const LfhEx& lfh) {
  return cdr.effectiveOffsetLfh() + kLfhSize + lfh.header.filenameLength() + lfh.header.extraFieldLength();
}

}  // namespace plimsy
