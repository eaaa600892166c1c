#include "engine/zip_records.h"

#include "core/message.h"

namespace plimsy {
namespace {

// The ZIP64 data of a local header: two 8-byte sizes.
constexpr std::uint16_t kLfhZip64DataSize = 16;

// The 32-bit field for a value, and whether the value needs its ZIP64 slot.
bool overflows32(std::uint64_t value) { return value >= kAllOnes32; }
std::uint32_t field32(std::uint64_t value) {
  return overflows32(value) ? kAllOnes32 : static_cast<std::uint32_t>(value);
}
std::uint64_t slot64(std::uint64_t value) { return overflows32(value) ? value : kNoZip64Value; }

std::uint64_t effective(std::uint32_t field, std::uint64_t zip64Value) {
  return field == kAllOnes32 ? zip64Value : field;
}
std::uint64_t effective16(std::uint16_t field, std::uint64_t ecd64Value) {
  return field == kAllOnes16 ? ecd64Value : field;
}

std::uint16_t plainVersion(std::uint16_t method) { return method == kMethodStored ? kVersionStored : kVersionDeflated; }

// Both sizes of a local header. When either reaches 0xFFFFFFFF the header
// carries the ZIP64 extra field, both size fields hold 0xFFFFFFFF and both
// slots the real sizes; otherwise both fields hold the sizes and the slots
// stay empty.
void setLfhSizes(sLfhEx2& lfh, std::uint64_t uncompressedSize, std::uint64_t compressedSize) {
  Lfh& h = lfh.header;
  if (overflows32(uncompressedSize) || overflows32(compressedSize)) {
    h.setUncompressedSize(kAllOnes32);
    h.setCompressedSize(kAllOnes32);
    lfh.zip64.setUncompressedSize(uncompressedSize);
    lfh.zip64.setCompressedSize(compressedSize);
    h.setVersionToExtract(kVersionZip64);
    h.setExtraFieldLength(static_cast<std::uint16_t>(kLfhZip64Size));
  } else {
    h.setUncompressedSize(static_cast<std::uint32_t>(uncompressedSize));
    h.setCompressedSize(static_cast<std::uint32_t>(compressedSize));
    lfh.zip64.setUncompressedSize(kNoZip64Value);
    lfh.zip64.setCompressedSize(kNoZip64Value);
    h.setVersionToExtract(plainVersion(h.compressionMethod()));
    h.setExtraFieldLength(0);
  }
}

// The ZIP64 values a central directory record carries, in their fixed order.
struct Zip64List {
  std::uint64_t values[3] = {};
  std::uint16_t count = 0;
};

Zip64List cdrZip64Values(const CdrZip64& z) {
  Zip64List list;
  for (const std::uint64_t v : {z.uncompressedSize, z.compressedSize, z.offsetLfh})
    if (v != kNoZip64Value) list.values[list.count++] = v;
  return list;
}

// Extra field length and ZIP64 data size from the values the record carries.
void settleCdrExtra(CdrEx& cdr) {
  const Zip64List list = cdrZip64Values(cdr.zip64);
  cdr.zip64.dataSize = static_cast<std::uint16_t>(8 * list.count);
  cdr.header.setExtraFieldLength(list.count == 0 ? 0 : static_cast<std::uint16_t>(4 + cdr.zip64.dataSize));
}

// Takes one 8-byte value when `wanted`; false when it runs past the end.
bool take64(ByteCursor& values, bool wanted, std::uint64_t& slot, unsigned bit, unsigned& found) {
  if (!wanted) return true;
  if (values.remaining() < 8) return false;
  slot = values.u64();
  found |= bit;
  return true;
}

}  // namespace

Lfh freshLfh() {
  Lfh h;
  h.setSignature(kLfhSignature);
  h.setVersionToExtract(kVersionDeflated);
  return h;
}

LfhZip64 freshLfhZip64() {
  LfhZip64 z;
  z.setHeaderId(kZip64ExtraId);
  z.setDataSize(kLfhZip64DataSize);
  z.setUncompressedSize(kNoZip64Value);
  z.setCompressedSize(kNoZip64Value);
  return z;
}

Cdr freshCdr() {
  Cdr h;
  h.setSignature(kCdrSignature);
  h.setVersionMadeBy(kVersionZip64);
  return h;
}

std::uint64_t sLfhEx2::effectiveUncompressedSize() const {
  return effective(header.uncompressedSize(), zip64.uncompressedSize());
}
std::uint64_t sLfhEx2::effectiveCompressedSize() const {
  return effective(header.compressedSize(), zip64.compressedSize());
}

std::uint64_t CdrEx::effectiveUncompressedSize() const {
  return effective(header.uncompressedSize(), zip64.uncompressedSize);
}
std::uint64_t CdrEx::effectiveCompressedSize() const {
  return effective(header.compressedSize(), zip64.compressedSize);
}
std::uint64_t CdrEx::effectiveOffsetLfh() const { return effective(header.offsetLfh(), zip64.offsetLfh); }

bool sLfhEx2::write(std::string* message, platform::File& file) const {
  if (!file.write(header.data(), kLfhSize))
    return fail(message, "Error while writing local file header in sLfhEx2::write().");
  if (!name.empty() && !file.write(name.data(), name.size()))
    return fail(message, "Error while writing file name in sLfhEx2::write().");
  if (header.usesZip64() && !file.write(zip64.data(), kLfhZip64Size))
    return fail(message, "Error while writing extended field in sLfhEx2::write().");
  return true;
}

bool initLfh(sLfhEx2& lfh, std::string* message, std::uint16_t method, FileTime time, std::uint32_t crc,
             std::string_view name, std::uint64_t uncompressedSize, std::uint64_t compressedSize) {
  if (name.size() > kMaxEntryNameLength) return fail(message, "Unable to initialize local file header");
  Lfh& h = lfh.header;
  h.setGeneralFlags(0);
  h.setCompressionMethod(method);
  std::uint16_t dosDate = 0;
  std::uint16_t dosTime = 0;
  if (!fileTimeToDosDateTime(time, dosDate, dosTime)) dosDate = dosTime = 0;
  h.setTime(dosTime);
  h.setDate(dosDate);
  h.setCrc(crc);
  lfh.name.assign(name);
  h.setFilenameLength(static_cast<std::uint16_t>(name.size()));
  setLfhSizes(lfh, uncompressedSize, compressedSize);
  return true;
}

void setLfhCompressedSize(sLfhEx2& lfh, std::uint64_t compressedSize) {
  setLfhSizes(lfh, lfh.effectiveUncompressedSize(), compressedSize);
}

void fillCdr(CdrEx& cdr, std::uint64_t offsetLfh, const sLfhEx2& lfh) {
  Cdr& h = cdr.header;
  const Lfh& l = lfh.header;
  h.setOffsetLfh(field32(offsetLfh));
  cdr.zip64.offsetLfh = slot64(offsetLfh);
  h.setGeneralFlags(l.generalFlags());
  h.setCompressionMethod(l.compressionMethod());
  h.setTime(l.time());
  h.setDate(l.date());
  h.setCrc(l.crc());
  const std::uint64_t compressed = lfh.effectiveCompressedSize();
  const std::uint64_t uncompressed = lfh.effectiveUncompressedSize();
  h.setCompressedSize(field32(compressed));
  cdr.zip64.compressedSize = slot64(compressed);
  h.setUncompressedSize(field32(uncompressed));
  cdr.zip64.uncompressedSize = slot64(uncompressed);
  cdr.name = lfh.name;
  h.setFilenameLength(static_cast<std::uint16_t>(cdr.name.size()));
  h.setVersionToExtract(h.usesZip64() ? kVersionZip64 : plainVersion(h.compressionMethod()));
  settleCdrExtra(cdr);
}

void appendCdr(CdrEx& cdr, std::string& centralDirectory) {
  settleCdrExtra(cdr);
  const Zip64List list = cdrZip64Values(cdr.zip64);
  centralDirectory.append(reinterpret_cast<const char*>(cdr.header.data()), kCdrSize);
  centralDirectory += cdr.name;
  if (list.count == 0) return;
  appendLe16(centralDirectory, cdr.zip64.headerId);
  appendLe16(centralDirectory, cdr.zip64.dataSize);
  for (std::uint16_t i = 0; i < list.count; ++i) appendLe64(centralDirectory, list.values[i]);
}

EndRecords buildEndRecords(std::uint64_t entries, std::uint64_t cdSize, std::uint64_t cdOffset,
                           std::uint64_t ecd64Offset) {
  EndRecords r;
  const auto count16 = entries < kAllOnes16 ? static_cast<std::uint16_t>(entries) : kAllOnes16;
  r.ecd.setSignature(kEcdSignature);
  r.ecd.setQtyCdEntriesThisDisk(count16);
  r.ecd.setTotalQtyCdEntries(count16);
  r.ecd.setCdSize(field32(cdSize));
  r.ecd.setCdOffset(field32(cdOffset));
  r.needsZip64 = r.ecd.usesZip64();
  if (!r.needsZip64) return r;

  r.ecd64.setSignature(kEcd64Signature);
  r.ecd64.setSize(kEcd64SizeFieldValue);
  r.ecd64.setVersionMadeBy(kVersionZip64);
  r.ecd64.setVersionToExtract(kVersionZip64);
  r.ecd64.setQtyCdEntriesThisDisk(entries);
  r.ecd64.setTotalQtyCdEntries(entries);
  r.ecd64.setCdSize(cdSize);
  r.ecd64.setCdOffset(cdOffset);

  r.ecdl64.setSignature(kEcdl64Signature);
  r.ecdl64.setOffsetOfEcd64(ecd64Offset);
  r.ecdl64.setNumberOfDisks(1);
  return r;
}

std::uint64_t effectiveQtyCdEntriesThisDisk(const Ecd& ecd, const Ecd64* ecd64) {
  return ecd64 ? effective16(ecd.qtyCdEntriesThisDisk(), ecd64->qtyCdEntriesThisDisk()) : ecd.qtyCdEntriesThisDisk();
}
std::uint64_t effectiveTotalQtyCdEntries(const Ecd& ecd, const Ecd64* ecd64) {
  return ecd64 ? effective16(ecd.totalQtyCdEntries(), ecd64->totalQtyCdEntries()) : ecd.totalQtyCdEntries();
}
std::uint64_t effectiveCdSize(const Ecd& ecd, const Ecd64* ecd64) {
  return ecd64 ? effective(ecd.cdSize(), ecd64->cdSize()) : ecd.cdSize();
}
std::uint64_t effectiveCdOffset(const Ecd& ecd, const Ecd64* ecd64) {
  return ecd64 ? effective(ecd.cdOffset(), ecd64->cdOffset()) : ecd.cdOffset();
}

bool readZip64Values(sLfhEx2& lfh, ByteCursor values, unsigned& found) {
  found = 0;
  std::uint64_t uncompressed = lfh.zip64.uncompressedSize();
  std::uint64_t compressed = lfh.zip64.compressedSize();
  const bool ok =
      take64(values, lfh.header.uncompressedSize() == kAllOnes32, uncompressed, kFoundUncompressedSize, found) &&
      take64(values, lfh.header.compressedSize() == kAllOnes32, compressed, kFoundCompressedSize, found);
  lfh.zip64.setUncompressedSize(uncompressed);
  lfh.zip64.setCompressedSize(compressed);
  return ok;
}

bool readZip64Values(CdrEx& cdr, ByteCursor values, unsigned& found) {
  found = 0;
  const Cdr& h = cdr.header;
  CdrZip64& z = cdr.zip64;
  if (!take64(values, h.uncompressedSize() == kAllOnes32, z.uncompressedSize, kFoundUncompressedSize, found) ||
      !take64(values, h.compressedSize() == kAllOnes32, z.compressedSize, kFoundCompressedSize, found) ||
      !take64(values, h.offsetLfh() == kAllOnes32, z.offsetLfh, kFoundOffsetLfh, found))
    return false;
  if (h.diskNumber() != kAllOnes16) return true;
  if (values.remaining() < 4) return false;
  z.diskStartNumber = values.u32();
  found |= kFoundDiskStartNumber;
  return true;
}

}  // namespace plimsy
