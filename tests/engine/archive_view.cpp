#include "engine/archive_view.h"

#include <zlib.h>

#include "engine/byte_order.h"

namespace plimsy::test {
namespace {

const std::uint8_t* at(std::string_view bytes, std::uint64_t offset) {
  return reinterpret_cast<const std::uint8_t*>(bytes.data()) + offset;
}

bool fits(std::string_view bytes, std::uint64_t offset, std::uint64_t length) {
  return offset <= bytes.size() && length <= bytes.size() - offset;
}

// The ZIP64 values of an extra field, for each all-ones field in turn.
void applyZip64(std::string_view extra, bool wantUncompressed, bool wantCompressed, bool wantOffset,
                ViewedEntry& entry) {
  ByteCursor cursor(extra);
  while (cursor.remaining() >= 4) {
    const std::uint16_t id = cursor.u16();
    const std::uint16_t size = cursor.u16();
    ByteCursor values = cursor.sub(size);
    if (id != kZip64ExtraId) continue;
    if (wantUncompressed) entry.uncompressedSize = values.u64();
    if (wantCompressed) entry.compressedSize = values.u64();
    if (wantOffset) entry.offsetLfh = values.u64();
  }
}

bool readEntry(std::string_view bytes, std::uint64_t& position, ViewedEntry& entry, std::string& error) {
  if (!fits(bytes, position, kCdrSize)) return (error = "central directory record out of bounds", false);
  entry.cdr.copyFrom(at(bytes, position));
  const Cdr& c = entry.cdr;
  if (c.signature() != kCdrSignature) return (error = "bad Cdr signature", false);
  if (!fits(bytes, position, c.totalSize())) return (error = "Cdr name/extra out of bounds", false);
  entry.name.assign(bytes.substr(position + kCdrSize, c.filenameLength()));
  entry.cdrExtra.assign(bytes.substr(position + kCdrSize + c.filenameLength(), c.extraFieldLength()));
  position += c.totalSize();
  entry.uncompressedSize = c.uncompressedSize();
  entry.compressedSize = c.compressedSize();
  entry.offsetLfh = c.offsetLfh();
  applyZip64(entry.cdrExtra, c.uncompressedSize() == kAllOnes32, c.compressedSize() == kAllOnes32,
             c.offsetLfh() == kAllOnes32, entry);

  if (!fits(bytes, entry.offsetLfh, kLfhSize)) return (error = "local header out of bounds", false);
  entry.lfh.copyFrom(at(bytes, entry.offsetLfh));
  const Lfh& l = entry.lfh;
  if (l.signature() != kLfhSignature) return (error = "bad Lfh signature", false);
  const std::uint64_t dataStart = entry.offsetLfh + kLfhSize + l.filenameLength() + l.extraFieldLength();
  if (!fits(bytes, dataStart, entry.compressedSize)) return (error = "entry data out of bounds", false);
  entry.lfhName.assign(bytes.substr(entry.offsetLfh + kLfhSize, l.filenameLength()));
  entry.lfhExtra.assign(bytes.substr(entry.offsetLfh + kLfhSize + l.filenameLength(), l.extraFieldLength()));
  entry.data.assign(bytes.substr(dataStart, entry.compressedSize));
  return true;
}

}  // namespace

ArchiveView viewArchive(std::string_view bytes) {
  ArchiveView view;
  if (bytes.size() < kEcdSize) return (view.error = "too short", view);
  const std::uint64_t ecdAt = bytes.size() - kEcdSize;
  view.ecd.copyFrom(at(bytes, ecdAt));
  if (view.ecd.signature() != kEcdSignature) return (view.error = "no Ecd at the end", view);
  std::uint64_t count = view.ecd.totalQtyCdEntries();
  std::uint64_t cdOffset = view.ecd.cdOffset();
  if (ecdAt >= kEcdl64Size) {
    Ecdl64 locator;
    locator.copyFrom(at(bytes, ecdAt - kEcdl64Size));
    if (locator.signature() == kEcdl64Signature) {
      view.ecdl64 = locator;
      if (!fits(bytes, locator.offsetOfEcd64(), kEcd64Size)) return (view.error = "Ecd64 out of bounds", view);
      Ecd64 record;
      record.copyFrom(at(bytes, locator.offsetOfEcd64()));
      view.ecd64 = record;
      count = record.totalQtyCdEntries();
      cdOffset = record.cdOffset();
    }
  }
  std::uint64_t position = cdOffset;
  for (std::uint64_t i = 0; i < count; ++i) {
    ViewedEntry entry;
    if (!readEntry(bytes, position, entry, view.error)) return view;
    view.entries.push_back(std::move(entry));
  }
  view.ok = true;
  return view;
}

std::optional<std::string> inflateRaw(std::string_view deflated) {
  z_stream stream{};
  if (inflateInit2(&stream, -MAX_WBITS) != Z_OK) return std::nullopt;
  std::string out;
  char buffer[65536];
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(deflated.data()));
  stream.avail_in = static_cast<uInt>(deflated.size());
  int result = Z_OK;
  while (result == Z_OK) {
    stream.next_out = reinterpret_cast<Bytef*>(buffer);
    stream.avail_out = sizeof buffer;
    result = inflate(&stream, Z_NO_FLUSH);
    out.append(buffer, sizeof buffer - stream.avail_out);
  }
  const bool complete = result == Z_STREAM_END && stream.avail_in == 0;
  inflateEnd(&stream);
  if (!complete) return std::nullopt;
  return out;
}

std::optional<std::string> contentOf(const ViewedEntry& entry) {
  if (entry.cdr.compressionMethod() == kMethodStored) return entry.data;
  return inflateRaw(entry.data);
}

std::vector<std::string> namesOf(const ArchiveView& view) {
  std::vector<std::string> names;
  for (const ViewedEntry& entry : view.entries) names.push_back(entry.name);
  return names;
}

}  // namespace plimsy::test
