#pragma once

// The ZIP reader: opens an archive read-only through one mapping of the whole
// file, finds its end records, walks its central directory, checks that every
// central directory record leads to a sound local header, and counts the
// entries. Its users are the unzip job (which feeds zlib straight from the
// mapped bytes) and the analysis log (which describes every record).
//
// Every pointer the reader hands out (Cdr list items, the view) points into
// the mapping and stays valid until releaseArchive() or the destructor. All
// bounds are tested as offsets within the file (offset + length <= size, with
// no arithmetic that can wrap), so a damaged archive can never lead a read
// outside the view.
//
// Calling order: construct, openArchive, then any number of Cdr list reads,
// interpretCdr and readLocalHeader calls, then releaseArchive (also after a
// failed open; the destructor does it too). The reader belongs to one thread.

#include <cstdint>
#include <optional>
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

class cZipReader {
 public:
  cZipReader();
  ~cZipReader();
  cZipReader(const cZipReader&) = delete;
  cZipReader& operator=(const cZipReader&) = delete;

  // Copies the work order, maps the file named by its ZipPath and walks the
  // central directory, filling the statistics (counted from the local
  // headers). Fails, at the first fault, with one of:
  //   "Unable to open zip file."                  cannot be opened or mapped (an empty file too)
  //   "Not a regular file (a pipe, socket or device):\n<path>"
  //   "Zip file changed while it was being read."  shortened or rewritten during the open
  //   "Not a valid zip file."                     fewer than 22 bytes
  //   "Unable to find end of central directory."  no Ecd signature anywhere in the file
  //   "Invalid zip file."                         fewer than 46 bytes at the Ecd's (or the Ecd64's)
  //       CD offset, even for an archive of no entries; the Ecd's CD offset is 0xFFFFFFFF and there
  //       is no locator; the Ecd64 does not fit; a Cdr with
  //       its name, extra field and comment, or a local header with its name and extra field, runs
  //       past the end of the file
  //   "Invalid zip file (central directory record has wrong offset for local file header)."
  //   "File compressed with method other than deflate."  data stored with a method other than 0 or 8
  //   "Invalid zip file.  (Number of central directory entries doesn't match number in end of
  //       central directory record."
  // The statistics and whatever was found stay after a failure.
  bool openArchive(std::string* message, const EpubWorkOrder& order);

  // Unmaps the file and forgets the Cdr list and end records. Safe in any
  // state, also twice. The statistics and the work-order copy stay.
  void releaseArchive();

  // The local header that a central directory record points at. Fails with
  // "Invalid zip file (central directory record has wrong offset for local
  // file header)." when no Lfh signature stands at its effective offset inside
  // the file, and with "Invalid zip file." when the header, its name or its
  // extra field runs past the end. The entry's data is not examined.
  bool readLocalHeader(std::string* message, const CdrEx& cdr, LfhEx& lfh) const;

  // The in-memory form of a Cdr (or Lfh) that lies in the view, such as a Cdr
  // list item: header, name, extra field (and comment), and what the extra
  // field says. Never fails; parts that would lie outside the view are left
  // empty.
  CdrEx interpretCdr(const std::uint8_t* cdr) const;
  LfhEx interpretLfh(const std::uint8_t* lfh) const;

  // The central directory records, in their order; item() is nullptr past the end.
  std::uint64_t cdrCount() const { return cdrs_.size(); }
  const std::uint8_t* cdrItem(std::uint64_t index) const;

  // The mapped archive (nullptr and 0 when nothing is mapped).
  const std::uint8_t* viewData() const { return view_.data(); }
  std::uint64_t viewSize() const { return view_.size(); }
  // False when another program has shortened or rewritten the archive since
  // it was opened (see platform::MappedFile::unchanged): whatever was read
  // from it since may be wrong, and the user is told so.
  bool archiveUnchanged() const { return view_.unchanged(); }
  // The whole archive is about to be read (unpacking): read ahead.
  void adviseWholeRead() const { view_.adviseWholeRead(); }
  // Writes `length` bytes of the archive from `offset` to `out` (see
  // platform::MappedFile::copyTo).
  bool copyBytes(platform::File& out, std::uint64_t offset, std::uint64_t length) const {
    return view_.copyTo(out, offset, length);
  }

  // The end records found, as copies of their images, and their offsets in the
  // file. nullptr when the record was not found (the Ecdl64 and Ecd64 exist
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
  // The work order given to openArchive (ZipPath, AnalyzeZipLogPath…).
  const EpubWorkOrder& workOrder() const { return workOrder_; }

 private:
  bool findEcd(std::string* message);
  bool findCentralDirectory(std::string* message, std::uint64_t& firstCdr);
  bool walkCentralDirectory(std::string* message, std::uint64_t firstCdr);
  bool readEntry(std::string* message, std::uint64_t cdrOffset);
  // The bytes from `pointer` to the end of the view; 0 when it lies outside.
  std::uint64_t bytesFrom(const std::uint8_t* pointer) const;
  template <typename Record>
  ByteCursor copyRecord(Record& out, const std::uint8_t* record) const;

  sStatistics statistics_;
  EpubWorkOrder workOrder_;
  std::vector<const std::uint8_t*> cdrs_;
  platform::MappedFile view_;
  std::optional<Ecd> ecd_;
  std::optional<Ecdl64> ecdl64_;
  std::optional<Ecd64> ecd64_;
  std::uint64_t ecdOffset_ = 0;
  std::uint64_t ecdl64Offset_ = 0;
  std::uint64_t ecd64Offset_ = 0;
  std::uint64_t expectedEntries_ = 0;
};

// Decodes an extra field into the record: the ZIP64 values (only those whose
// header field holds all ones, in the order uncompressed size, compressed
// size and, for a Cdr, offset of the Lfh and 4-byte disk start number), the
// NTFS times (Header ID 0x000A, at least 36 bytes) and the has-ZIP64 and
// has-NTFS flags, and appends one line per finding to its interpretation
// text ("\n   ZIP64 uncompressed size: 0x…", "\n   NTFS  mod:    …",
// "\n   UNHANDLED: ID = …, length = …"). Returns true when parsing reached the
// end of the field; then an interpretation still empty becomes "\n   none".
// A damaged field stops parsing silently: what was found before stays.
bool parseExtraField(LfhEx& lfh, std::string_view extra);
bool parseExtraField(CdrEx& cdr, std::string_view extra);

// The offset in the file of an entry's data: after its local header, name and
// extra field. readLocalHeader has checked that these lie in the file; the
// data itself may not.
inline std::uint64_t entryDataOffset(const CdrEx& cdr, const LfhEx& lfh) {
  return cdr.effectiveOffsetLfh() + kLfhSize + lfh.header.filenameLength() + lfh.header.extraFieldLength();
}

}  // namespace plimsy
