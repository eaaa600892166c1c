#pragma once

// Archives laid out byte by byte for tests: every field of every record can
// be set to any value, so that tests can build both sound archives and the
// damaged ones a reader must refuse.
//
//   ArchivePlan plan = planOf({storedEntry("mimetype", "application/epub+zip"), deflatedEntry("a.xhtml", text)});
//   plan.entries[1].editCdr = [](Cdr& c) { c.setOffsetLfh(c.offsetLfh() + 1); };
//   const std::string zip = buildArchive(plan);
//
// The builder fills every field the way a sound archive has it (sizes, CRC,
// lengths and offsets from the content), then calls the edit hooks, which may
// put anything into any field. Damaged variants of finished bytes come from
// messWith() and the patch helpers, after Go's archive/zip tests.

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/filetime.h"
#include "engine/zip_record_images.h"

namespace plimsy::test {

// DOS time and date the builder stamps on entries: 2022-03-04 10:20:30.
inline constexpr std::uint16_t kTestDosTime = 0x528F;
inline constexpr std::uint16_t kTestDosDate = 0x5464;

// ---- Little pieces ----------------------------------------------------------------

std::string le16(std::uint16_t value);
std::string le32(std::uint32_t value);
std::string le64(std::uint64_t value);
// "50 4B 03 04" (or "504B0304") -> the four bytes.
std::string fromHex(std::string_view hex);

template <std::size_t N>
std::string bytesOf(const RecordImage<N>& record) {
  return std::string(reinterpret_cast<const char*>(record.data()), N);
}

// One extra-field record: Header ID, data size (of `data`), data.
std::string extraRecord(std::uint16_t id, std::string_view data);
// A ZIP64 record holding the given 8-byte values, in order.
std::string zip64Extra(std::initializer_list<std::uint64_t> values);
// An NTFS record (Header ID 0x000A, 32 data bytes: reserved, tag 1, size 24,
// then the three times).
std::string ntfsExtra(FileTime modified, FileTime accessed, FileTime created);

// A raw deflate stream of `content` (zlib, level 9, no header).
std::string rawDeflate(std::string_view content);

// ---- Archives -----------------------------------------------------------------------

struct EntryPlan {
  std::string name;
  std::optional<std::string> lfhName;  // a different name in the local header
  std::string data;                    // the bytes after the local header (already deflated for method 8)
  std::uint16_t method = kMethodStored;
  std::uint32_t crc = 0;
  std::uint64_t uncompressedSize = 0;
  std::uint16_t dosTime = kTestDosTime;
  std::uint16_t dosDate = kTestDosDate;
  // Both headers carry their sizes (and the Cdr its Lfh offset) as ZIP64
  // values: all-ones fields, version 45, and a ZIP64 record in front of the
  // extra fields below (Lfh: both sizes, 20 bytes; Cdr: sizes and offset, 28).
  bool zip64 = false;
  std::string lfhExtra;
  std::string cdrExtra;
  std::string comment;
  // Called after the builder filled the record (lengths included).
  std::function<void(Lfh&)> editLfh;
  std::function<void(Cdr&)> editCdr;
};

// Method 0 with size and CRC of `content`; method 8 with `content` deflated.
EntryPlan storedEntry(std::string name, std::string_view content);
EntryPlan deflatedEntry(std::string name, std::string_view content);

struct ArchivePlan {
  std::vector<EntryPlan> entries;
  std::string leading;  // bytes before the first local header
  // Write an Ecd64 and Ecdl64 before the Ecd. The Ecd's counts, CD size and
  // CD offset then hold their all-ones values (editEcd may change them).
  bool zip64 = false;
  std::string ecd64Extensible;  // data after the Ecd64's 56 bytes; its Size counts them
  std::string gapBeforeEcd;     // bytes between the central directory (or Ecdl64) and the Ecd
  std::string comment;          // the archive comment; Comment length follows it
  std::string trailing;         // bytes after the comment
  std::function<void(Ecd&)> editEcd;
  std::function<void(Ecd64&)> editEcd64;
  std::function<void(Ecdl64&)> editEcdl64;
};

// Where the builder put things, as offsets from the start of the archive.
struct ArchiveLayout {
  std::vector<std::uint64_t> lfhOffsets;
  std::vector<std::uint64_t> dataOffsets;
  std::vector<std::uint64_t> cdrOffsets;
  std::uint64_t cdOffset = 0;
  std::uint64_t cdSize = 0;
  std::uint64_t ecd64Offset = 0;   // 0 without ZIP64 end records
  std::uint64_t ecdl64Offset = 0;  // 0 without ZIP64 end records
  std::uint64_t ecdOffset = 0;
};

// A plan of these entries, with everything else as a sound archive has it.
ArchivePlan planOf(std::vector<EntryPlan> entries);

std::string buildArchive(const ArchivePlan& plan, ArchiveLayout* layout = nullptr);

// A small sound epub of three entries: mimetype (stored), container.xml and a
// chapter (both deflated).
ArchivePlan smallEpubPlan();

// ---- Damage ----------------------------------------------------------------------------

// A copy of `archive` changed by `change`.
std::string messWith(std::string archive, const std::function<void(std::string&)>& change);

// Overwrite a little-endian value at `offset` (which must lie inside `bytes`).
void patchLe16(std::string& bytes, std::uint64_t offset, std::uint16_t value);
void patchLe32(std::string& bytes, std::uint64_t offset, std::uint32_t value);
void patchLe64(std::string& bytes, std::uint64_t offset, std::uint64_t value);

}  // namespace plimsy::test
