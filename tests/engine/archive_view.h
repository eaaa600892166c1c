#pragma once

// A plain reading of the archives the zip job writes, for tests: the end
// records, every central directory record with its local header, and the
// entries' data inflated with zlib. It trusts the layout the writer is meant
// to produce (no archive comment, no data descriptors) and records what it
// finds rather than judging it; the tests judge.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/zip_record_images.h"

namespace plimsy::test {

struct ViewedEntry {
  Cdr cdr;
  Lfh lfh;
  std::string name;      // from the central directory
  std::string lfhName;   // from the local header
  std::string cdrExtra;  // raw extra fields
  std::string lfhExtra;
  std::uint64_t uncompressedSize = 0;  // effective, from the central directory
  std::uint64_t compressedSize = 0;
  std::uint64_t offsetLfh = 0;
  std::string data;  // the compressed bytes, as they stand after the local header
};

struct ArchiveView {
  Ecd ecd;
  std::optional<Ecd64> ecd64;
  std::optional<Ecdl64> ecdl64;
  std::vector<ViewedEntry> entries;
  bool ok = false;    // every record was where the end records said
  std::string error;  // what went wrong when not ok
};

// Reads an archive held in memory (sizes of up to a few hundred MiB).
ArchiveView viewArchive(std::string_view bytes);

// The entry's content: the stored bytes, or the inflated raw deflate stream.
// nullopt when inflating fails or does not end exactly at the data's end.
std::optional<std::string> contentOf(const ViewedEntry& entry);

// The raw inflate of a deflate stream; nullopt on any error or trailing bytes.
std::optional<std::string> inflateRaw(std::string_view deflated);

// The names of the entries, in order.
std::vector<std::string> namesOf(const ArchiveView& view);

}  // namespace plimsy::test
