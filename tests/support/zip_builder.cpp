#include "support/zip_builder.h"

#include <stdexcept>

#include <zlib.h>

#include "engine/byte_order.h"
#include "engine/crc32.h"

namespace plimsy::test {
namespace {

std::uint32_t low32(std::uint64_t value) { return static_cast<std::uint32_t>(value); }

std::uint16_t length16(const std::string& bytes) { return static_cast<std::uint16_t>(bytes.size()); }

std::uint16_t versionFor(const EntryPlan& e) {
  if (e.zip64) return kVersionZip64;
  return e.method == kMethodStored ? kVersionStored : kVersionDeflated;
}

// The fields the local header and the central directory record share.
template <typename Header>
void setSharedFields(Header& h, const EntryPlan& e, const std::string& name, const std::string& extra) {
  h.setVersionToExtract(versionFor(e));
  h.setCompressionMethod(e.method);
  h.setTime(e.dosTime);
  h.setDate(e.dosDate);
  h.setCrc(e.crc);
  h.setCompressedSize(e.zip64 ? kAllOnes32 : low32(e.data.size()));
  h.setUncompressedSize(e.zip64 ? kAllOnes32 : low32(e.uncompressedSize));
  h.setFilenameLength(length16(name));
  h.setExtraFieldLength(length16(extra));
}

Lfh localHeader(const EntryPlan& e, const std::string& name, const std::string& extra) {
  Lfh h;
  h.setSignature(kLfhSignature);
  setSharedFields(h, e, name, extra);
  if (e.editLfh) e.editLfh(h);
  return h;
}

Cdr centralRecord(const EntryPlan& e, std::uint64_t lfhOffset, const std::string& extra) {
  Cdr h;
  h.setSignature(kCdrSignature);
  h.setVersionMadeBy(kVersionZip64);
  setSharedFields(h, e, e.name, extra);
  h.setCommentLength(length16(e.comment));
  h.setOffsetLfh(e.zip64 ? kAllOnes32 : low32(lfhOffset));
  if (e.editCdr) e.editCdr(h);
  return h;
}

Ecd endRecord(const ArchivePlan& plan, const ArchiveLayout& layout) {
  Ecd h;
  h.setSignature(kEcdSignature);
  const auto count = static_cast<std::uint16_t>(plan.entries.size());
  h.setQtyCdEntriesThisDisk(plan.zip64 ? kAllOnes16 : count);
  h.setTotalQtyCdEntries(plan.zip64 ? kAllOnes16 : count);
  h.setCdSize(plan.zip64 ? kAllOnes32 : low32(layout.cdSize));
  h.setCdOffset(plan.zip64 ? kAllOnes32 : low32(layout.cdOffset));
  h.setCommentLength(length16(plan.comment));
  if (plan.editEcd) plan.editEcd(h);
  return h;
}

void appendZip64EndRecords(const ArchivePlan& plan, ArchiveLayout& layout, std::string& out) {
  layout.ecd64Offset = out.size();
  Ecd64 e;
  e.setSignature(kEcd64Signature);
  e.setSize(kEcd64SizeFieldValue + plan.ecd64Extensible.size());
  e.setVersionMadeBy(kVersionZip64);
  e.setVersionToExtract(kVersionZip64);
  e.setQtyCdEntriesThisDisk(plan.entries.size());
  e.setTotalQtyCdEntries(plan.entries.size());
  e.setCdSize(layout.cdSize);
  e.setCdOffset(layout.cdOffset);
  if (plan.editEcd64) plan.editEcd64(e);
  out += bytesOf(e) + plan.ecd64Extensible;

  layout.ecdl64Offset = out.size();
  Ecdl64 l;
  l.setSignature(kEcdl64Signature);
  l.setOffsetOfEcd64(layout.ecd64Offset);
  l.setNumberOfDisks(1);
  if (plan.editEcdl64) plan.editEcdl64(l);
  out += bytesOf(l);
}

}  // namespace

std::string le16(std::uint16_t value) {
  std::string out;
  appendLe16(out, value);
  return out;
}

std::string le32(std::uint32_t value) {
  std::uint8_t b[4];
  storeLe32(b, value);
  return std::string(reinterpret_cast<const char*>(b), sizeof b);
}

std::string le64(std::uint64_t value) {
  std::string out;
  appendLe64(out, value);
  return out;
}

std::string fromHex(std::string_view hex) {
  std::string out;
  std::string digits;
  for (const char c : hex) {
    if (c == ' ') continue;
    digits += c;
    if (digits.size() == 2) {
      out += static_cast<char>(std::stoi(digits, nullptr, 16));
      digits.clear();
    }
  }
  return out;
}

std::string extraRecord(std::uint16_t id, std::string_view data) {
  return le16(id) + le16(static_cast<std::uint16_t>(data.size())) + std::string(data);
}

std::string zip64Extra(std::initializer_list<std::uint64_t> values) {
  std::string data;
  for (const std::uint64_t v : values) data += le64(v);
  return extraRecord(kZip64ExtraId, data);
}

std::string ntfsExtra(FileTime modified, FileTime accessed, FileTime created) {
  return extraRecord(kNtfsExtraId, le32(0) + le16(1) + le16(24) + le64(modified) + le64(accessed) + le64(created));
}

std::string rawDeflate(std::string_view content) {
  z_stream z{};
  if (deflateInit2(&z, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) throw std::runtime_error("deflateInit2");
  std::string out(deflateBound(&z, static_cast<uLong>(content.size())), '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(content.data()));
  z.avail_in = static_cast<uInt>(content.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  const int result = deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  if (result != Z_STREAM_END) throw std::runtime_error("deflate");
  return out;
}

EntryPlan storedEntry(std::string name, std::string_view content) {
  EntryPlan e;
  e.name = std::move(name);
  e.data = std::string(content);
  e.crc = crc32Of(content.data(), content.size());
  e.uncompressedSize = content.size();
  return e;
}

EntryPlan deflatedEntry(std::string name, std::string_view content) {
  EntryPlan e = storedEntry(std::move(name), content);
  e.method = kMethodDeflated;
  e.data = rawDeflate(content);
  return e;
}

ArchivePlan planOf(std::vector<EntryPlan> entries) {
  ArchivePlan plan;
  plan.entries = std::move(entries);
  return plan;
}

std::string buildArchive(const ArchivePlan& plan, ArchiveLayout* layoutOut) {
  ArchiveLayout layout;
  std::string out = plan.leading;
  std::string cd;
  for (const EntryPlan& e : plan.entries) {
    const std::uint64_t lfhOffset = out.size();
    const std::string& lfhName = e.lfhName ? *e.lfhName : e.name;
    const std::string lfhExtra = e.zip64 ? zip64Extra({e.uncompressedSize, e.data.size()}) + e.lfhExtra : e.lfhExtra;
    out += bytesOf(localHeader(e, lfhName, lfhExtra)) + lfhName + lfhExtra;
    layout.lfhOffsets.push_back(lfhOffset);
    layout.dataOffsets.push_back(out.size());
    out += e.data;

    const std::string cdrExtra =
        e.zip64 ? zip64Extra({e.uncompressedSize, e.data.size(), lfhOffset}) + e.cdrExtra : e.cdrExtra;
    layout.cdrOffsets.push_back(cd.size());
    cd += bytesOf(centralRecord(e, lfhOffset, cdrExtra)) + e.name + cdrExtra + e.comment;
  }
  layout.cdOffset = out.size();
  layout.cdSize = cd.size();
  for (std::uint64_t& offset : layout.cdrOffsets) offset += layout.cdOffset;
  out += cd;
  if (plan.zip64) appendZip64EndRecords(plan, layout, out);
  out += plan.gapBeforeEcd;
  layout.ecdOffset = out.size();
  out += bytesOf(endRecord(plan, layout)) + plan.comment + plan.trailing;
  if (layoutOut) *layoutOut = layout;
  return out;
}

ArchivePlan smallEpubPlan() {
  return planOf({storedEntry("mimetype", "application/epub+zip"),
                 deflatedEntry("META-INF/container.xml",
                               "<?xml version=\"1.0\"?>\n"
                               "<container version=\"1.0\" "
                               "xmlns=\"urn:oasis:names:tc:opendocument:xmlns:container\">\n"
                               "  <rootfiles>\n"
                               "    <rootfile full-path=\"OEBPS/content.opf\" "
                               "media-type=\"application/oebps-package+xml\"/>\n"
                               "  </rootfiles>\n"
                               "</container>\n"),
                 deflatedEntry("OEBPS/chapter1.xhtml",
                               "<html><body><p>It was a dark and stormy night; the rain fell in "
                               "torrents, except at occasional intervals.</p></body></html>\n")});
}

std::string messWith(std::string archive, const std::function<void(std::string&)>& change) {
  change(archive);
  return archive;
}

namespace {
void patch(std::string& bytes, std::uint64_t offset, const std::string& value) {
  if (offset > bytes.size() || value.size() > bytes.size() - offset) throw std::out_of_range("patch past the end");
  bytes.replace(static_cast<std::size_t>(offset), value.size(), value);
}
}  // namespace

void patchLe16(std::string& bytes, std::uint64_t offset, std::uint16_t value) { patch(bytes, offset, le16(value)); }
void patchLe32(std::string& bytes, std::uint64_t offset, std::uint32_t value) { patch(bytes, offset, le32(value)); }
void patchLe64(std::string& bytes, std::uint64_t offset, std::uint64_t value) { patch(bytes, offset, le64(value)); }

}  // namespace plimsy::test
