#include <cctype>
#include <cstdint>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

#include "core/filetime.h"
#include "core/platform.h"
#include "core/text.h"
#include "engine/byte_order.h"
#include "engine/zip_records.h"
#include "support/temp_dir.h"
#include "support/times.h"
#include "support/zip_builder.h"

namespace plimsy {
namespace {

using test::bytesOf;
using test::fromHex;
using test::utc;

std::string hexOf(std::string_view data) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (const char c : data) {
    const auto b = static_cast<unsigned char>(c);
    if (!out.empty()) out += ' ';
    out += kDigits[b >> 4];
    out += kDigits[b & 0x0F];
  }
  return out;
}

// Compared as hex so that a failure shows where the bytes differ.
#define EXPECT_BYTES(actual, spacedHex) EXPECT_EQ(hexOf(actual), hexOf(fromHex(spacedHex)))

// DOS time 0x528F, date 0x5464. A function, not a constant: file-time
// conversions must not run during static initialisation.
FileTime march2022() { return utc(2022, 3, 4, 10, 20, 30); }

sLfhEx2 makeLfh(std::uint16_t method, std::uint64_t uncompressed, std::uint64_t compressed,
                std::string_view name = "a.txt") {
  sLfhEx2 lfh;
  EXPECT_TRUE(initLfh(lfh, nullptr, method, march2022(), 0x11223344, name, uncompressed, compressed));
  return lfh;
}

std::string appendedCdr(std::uint64_t offset, const sLfhEx2& lfh) {
  CdrEx cdr;
  fillCdr(cdr, offset, lfh);
  std::string cd;
  appendCdr(cdr, cd);
  return cd;
}

// Reads a ZIP64 extra record (Header ID, data size, values) into `record`;
// gives the values found.
template <typename Record>
unsigned readZip64Record(Record& record, ByteCursor& extra) {
  EXPECT_EQ(extra.u16(), kZip64ExtraId);
  const std::uint16_t dataSize = extra.u16();
  unsigned found = 0;
  EXPECT_TRUE(readZip64Values(record, extra.sub(dataSize), found));
  return found;
}

// Reads a record back the way a reader does: fixed part, name, then the
// ZIP64 extra field's values by the all-ones rule.
CdrEx parseCdr(const std::string& image) {
  CdrEx cdr;
  EXPECT_GE(image.size(), kCdrSize);
  cdr.header.copyFrom(reinterpret_cast<const std::uint8_t*>(image.data()));
  ByteCursor rest(std::string_view(image).substr(kCdrSize));
  const ByteCursor name = rest.sub(cdr.header.filenameLength());
  cdr.name.assign(reinterpret_cast<const char*>(name.data()), name.remaining());
  ByteCursor extra = rest.sub(cdr.header.extraFieldLength());
  EXPECT_FALSE(rest.failed());
  EXPECT_EQ(rest.remaining(), 0u) << "bytes behind the record";
  if (extra.remaining() > 0) {
    readZip64Record(cdr, extra);
    EXPECT_EQ(extra.remaining(), 0u);
  }
  return cdr;
}

template <typename Record>
bool readZip64ValuesFrom(Record& record, std::string_view spacedHex, unsigned& found) {
  const std::string values = fromHex(spacedHex);
  return readZip64Values(record, ByteCursor(values), found);
}

// ---- Byte order and cursor -----------------------------------------------------------

TEST(ByteCursor, ReadsLittleEndianAndNeverPastItsEnd) {
  const std::string data = fromHex("01 02 03 04 05 06 07 08 09 0A 0B");
  ByteCursor c(data);
  EXPECT_EQ(c.u16(), 0x0201u);
  EXPECT_EQ(c.u32(), 0x06050403u);
  ByteCursor inner = c.sub(3);
  EXPECT_EQ(c.remaining(), 2u);
  EXPECT_EQ(inner.remaining(), 3u);
  EXPECT_EQ(inner.u32(), 0u) << "4 bytes asked of 3";
  EXPECT_TRUE(inner.failed());
  EXPECT_EQ(inner.u16(), 0u) << "a failed cursor stays empty";
  EXPECT_FALSE(c.failed()) << "the outer cursor is not touched by its part";
  EXPECT_EQ(c.sub(5).remaining(), 0u);
  EXPECT_TRUE(c.failed());
  EXPECT_EQ(c.u16(), 0u) << "nothing after a short read is taken";

  const std::string eight = fromHex("88 77 66 55 44 33 22 11");
  ByteCursor wide(eight);
  EXPECT_EQ(wide.u64(), 0x1122334455667788u);
  EXPECT_FALSE(wide.failed());
  EXPECT_EQ(wide.remaining(), 0u);
}

// ---- Local headers -------------------------------------------------------------------

TEST(LocalHeader, FreshRecordAndStoredEntryImage) {
  const sLfhEx2 fresh;
  EXPECT_BYTES(bytesOf(fresh.header),
               "50 4B 03 04 14 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00");
  EXPECT_BYTES(bytesOf(fresh.zip64), "01 00 10 00 FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF");

  sLfhEx2 lfh;
  ASSERT_TRUE(initLfh(lfh, nullptr, kMethodStored, march2022(), 0x2CAB616F, "mimetype", 20, 20));
  EXPECT_BYTES(bytesOf(lfh.header),
               "50 4B 03 04 0A 00 00 00 00 00 8F 52 64 54 6F 61 AB 2C 14 00 00 00 14 00 00 00 08 00 00 00");
  EXPECT_EQ(lfh.name, "mimetype");
}

TEST(LocalHeader, SizesAtTheZip64Boundary) {
  // One below: plain 32-bit fields, no extra field.
  const sLfhEx2 below = makeLfh(kMethodDeflated, 0xFFFFFFFE, 0xFFFFFFFE);
  EXPECT_BYTES(bytesOf(below.header),
               "50 4B 03 04 14 00 00 00 08 00 8F 52 64 54 44 33 22 11 FE FF FF FF FE FF FF FF 05 00 00 00");
  EXPECT_EQ(below.effectiveUncompressedSize(), 0xFFFFFFFEu);

  // At the limit: both fields all ones, both real sizes in the 20-byte record.
  const sLfhEx2 at = makeLfh(kMethodDeflated, 0xFFFFFFFF, 0xFFFFFFFF);
  EXPECT_BYTES(bytesOf(at.header),
               "50 4B 03 04 2D 00 00 00 08 00 8F 52 64 54 44 33 22 11 FF FF FF FF FF FF FF FF 05 00 14 00");
  EXPECT_BYTES(bytesOf(at.zip64), "01 00 10 00 FF FF FF FF 00 00 00 00 FF FF FF FF 00 00 00 00");
  EXPECT_EQ(at.effectiveUncompressedSize(), 0xFFFFFFFFu);
  EXPECT_EQ(at.effectiveCompressedSize(), 0xFFFFFFFFu);

  // Only the uncompressed size overflows: still both fields all ones, so
  // that readers taking values by the all-ones rule see both sizes.
  const sLfhEx2 mixed = makeLfh(kMethodDeflated, 0x123456789, 0x1000);
  EXPECT_EQ(mixed.header.uncompressedSize(), 0xFFFFFFFFu);
  EXPECT_EQ(mixed.header.compressedSize(), 0xFFFFFFFFu);
  EXPECT_EQ(mixed.header.versionToExtract(), 45);
  EXPECT_BYTES(bytesOf(mixed.zip64), "01 00 10 00 89 67 45 23 01 00 00 00 00 10 00 00 00 00 00 00");
  EXPECT_EQ(mixed.effectiveCompressedSize(), 0x1000u);
}

TEST(LocalHeader, CompressedSizeSetAfterTheData) {
  // An empty file deflates to 2 bytes.
  sLfhEx2 empty = makeLfh(kMethodDeflated, 0, 0);
  setLfhCompressedSize(empty, 2);
  EXPECT_EQ(empty.header.compressedSize(), 2u);
  EXPECT_EQ(empty.header.uncompressedSize(), 0u);
  EXPECT_EQ(empty.header.extraFieldLength(), 0);
  EXPECT_EQ(empty.header.versionToExtract(), 20);

  // Deflated output reaching 4 GiB from a smaller file: the header grows.
  sLfhEx2 grows = makeLfh(kMethodDeflated, 100, 100);
  setLfhCompressedSize(grows, 0xFFFFFFFF);
  EXPECT_EQ(grows.header.uncompressedSize(), 0xFFFFFFFFu);
  EXPECT_EQ(grows.header.compressedSize(), 0xFFFFFFFFu);
  EXPECT_EQ(grows.header.extraFieldLength(), 20);
  EXPECT_EQ(grows.header.versionToExtract(), 45);
  EXPECT_EQ(grows.effectiveUncompressedSize(), 100u);
  EXPECT_EQ(grows.effectiveCompressedSize(), 0xFFFFFFFFu);

  // A big file that deflates small keeps its ZIP64 record and the real sizes.
  sLfhEx2 shrinks = makeLfh(kMethodDeflated, 0x500000000, 0x500000000);
  setLfhCompressedSize(shrinks, 1234);
  EXPECT_EQ(shrinks.header.extraFieldLength(), 20);
  EXPECT_EQ(shrinks.header.compressedSize(), 0xFFFFFFFFu);
  EXPECT_EQ(shrinks.effectiveUncompressedSize(), 0x500000000u);
  EXPECT_EQ(shrinks.effectiveCompressedSize(), 1234u);
}

TEST(LocalHeader, NameLengthLimit) {
  const std::string longest(65'534, 'n');
  sLfhEx2 ok;
  std::string message;
  EXPECT_TRUE(initLfh(ok, &message, kMethodStored, march2022(), 0, longest, 1, 1));
  EXPECT_EQ(ok.header.filenameLength(), 0xFFFE);
  EXPECT_EQ(ok.name.size(), 65'534u);

  sLfhEx2 refused;
  EXPECT_FALSE(initLfh(refused, &message, kMethodStored, march2022(), 0, longest + "n", 1, 1));
  EXPECT_EQ(message, "Unable to initialize local file header");
  EXPECT_EQ(refused.header, freshLfh()) << "nothing is filled in";
  EXPECT_TRUE(refused.name.empty());
}

TEST(LocalHeader, DosTimeAndDateAtTheEndsOfTheirRange) {
  struct Case {
    FileTime time;
    std::uint16_t date;
    std::uint16_t dosTime;
  };
  const Case cases[] = {
      {utc(1979, 12, 31, 23, 59, 59), 0, 0},
      {utc(1980, 1, 1, 0, 0, 0), 0x0021, 0},
      {utc(2107, 12, 31, 23, 59, 59), 0xFF9F, 0xBF7D},
      {utc(2108, 1, 1, 0, 0, 0), 0, 0},
  };
  for (const Case& c : cases) {
    sLfhEx2 lfh = makeLfh(kMethodStored, 1, 1);  // holds the 2022 time first
    ASSERT_TRUE(initLfh(lfh, nullptr, kMethodStored, c.time, 0, "x", 1, 1));
    EXPECT_EQ(lfh.header.date(), c.date) << formatFileTime(c.time);
    EXPECT_EQ(lfh.header.time(), c.dosTime) << formatFileTime(c.time);
  }
}

TEST(LocalHeader, WrittenToAFileAndReadBack) {
  test::TempDir dir;
  const std::string path = dir / "out.zip";
  const sLfhEx2 plain = makeLfh(kMethodStored, 3, 3, "one");
  const sLfhEx2 big = makeLfh(kMethodDeflated, 0x100000000, 0x80000000, "two");
  {
    platform::File file;
    ASSERT_TRUE(file.open(path, platform::File::Mode::WriteTruncate));
    std::string message;
    ASSERT_TRUE(plain.write(&message, file)) << message;
    ASSERT_TRUE(big.write(&message, file)) << message;
  }
  const std::string written = test::readFile(path);
  EXPECT_BYTES(written,
               "50 4B 03 04 0A 00 00 00 00 00 8F 52 64 54 44 33 22 11 03 00 00 00 03 00 00 00 03 00 00 00 6F 6E 65"
               "50 4B 03 04 2D 00 00 00 08 00 8F 52 64 54 44 33 22 11 FF FF FF FF FF FF FF FF 03 00 14 00 74 77 6F"
               "01 00 10 00 00 00 00 00 01 00 00 00 00 00 00 80 00 00 00 00");

  // Parsed back, the second header gives its real sizes.
  sLfhEx2 parsed;
  ASSERT_EQ(written.size(), 33u + 53u);
  parsed.header.copyFrom(reinterpret_cast<const std::uint8_t*>(written.data()) + 33);
  ByteCursor extra(std::string_view(written).substr(33 + kLfhSize + 3));
  ASSERT_EQ(extra.remaining(), parsed.header.extraFieldLength());
  EXPECT_EQ(readZip64Record(parsed, extra), kFoundUncompressedSize | kFoundCompressedSize);
  EXPECT_EQ(parsed.effectiveUncompressedSize(), 0x100000000u);
  EXPECT_EQ(parsed.effectiveCompressedSize(), 0x80000000u);
}

TEST(LocalHeader, WriteToAFileThatIsNotOpenFails) {
  platform::File closed;
  std::string message;
  EXPECT_FALSE(makeLfh(kMethodStored, 1, 1).write(&message, closed));
  EXPECT_EQ(message, "Error while writing local file header in sLfhEx2::write().");
}

// ---- Central directory records ------------------------------------------------------------

TEST(CentralDirectoryRecord, PlainEntryImage) {
  sLfhEx2 lfh;
  ASSERT_TRUE(initLfh(lfh, nullptr, kMethodStored, march2022(), 0x2CAB616F, "mimetype", 20, 20));
  EXPECT_BYTES(appendedCdr(0, lfh),
               "50 4B 01 02 2D 00 0A 00 00 00 00 00 8F 52 64 54 6F 61 AB 2C 14 00 00 00 14 00 00 00 08 00 00 00"
               "00 00 00 00 00 00 00 00 00 00 00 00 00 00 6D 69 6D 65 74 79 70 65");
}

TEST(CentralDirectoryRecord, OffsetAloneOverflowing) {
  const sLfhEx2 lfh = makeLfh(kMethodStored, 3, 3, "f");
  EXPECT_EQ(lfh.header.versionToExtract(), 10);
  EXPECT_EQ(lfh.header.extraFieldLength(), 0);
  EXPECT_BYTES(appendedCdr(0x100000000, lfh),
               "50 4B 01 02 2D 00 2D 00 00 00 00 00 8F 52 64 54 44 33 22 11 03 00 00 00 03 00 00 00 01 00 0C 00"
               "00 00 00 00 00 00 00 00 00 00 FF FF FF FF 66"
               "01 00 08 00 00 00 00 00 01 00 00 00");
}

TEST(CentralDirectoryRecord, AllThreeOverflowing) {
  const sLfhEx2 lfh = makeLfh(kMethodDeflated, 0x200000000, 0x180000000, "f");
  EXPECT_BYTES(appendedCdr(0x300000000, lfh),
               "50 4B 01 02 2D 00 2D 00 00 00 08 00 8F 52 64 54 44 33 22 11 FF FF FF FF FF FF FF FF 01 00 1C 00"
               "00 00 00 00 00 00 00 00 00 00 FF FF FF FF 66"
               "01 00 18 00 00 00 00 00 02 00 00 00 00 00 00 80 01 00 00 00 00 00 00 00 03 00 00 00");
}

TEST(CentralDirectoryRecord, ParsedBackGivesTheValuesItWasBuiltFrom) {
  struct Case {
    const char* label;
    std::uint16_t method;
    std::uint64_t uncompressed;
    std::uint64_t compressed;
    std::uint64_t offset;
    std::uint16_t extraLength;
    std::uint16_t version;
  };
  const Case cases[] = {
      {"nothing overflows", kMethodDeflated, 0xFFFFFFFE, 0xFFFFFFFE, 0xFFFFFFFE, 0, 20},
      {"stored, nothing overflows", kMethodStored, 5, 5, 0, 0, 10},
      {"uncompressed only", kMethodDeflated, 0x123456789, 0x1000, 0, 12, 45},
      {"compressed only", kMethodDeflated, 100, 0xFFFFFFFF, 0, 12, 45},
      {"offset at the limit", kMethodStored, 1, 1, 0xFFFFFFFF, 12, 45},
      {"sizes", kMethodStored, 0xFFFFFFFF, 0xFFFFFFFF, 7, 20, 45},
      {"all three", kMethodDeflated, 0x200000000, 0x180000000, 0x300000000, 28, 45},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    sLfhEx2 lfh = makeLfh(c.method, c.uncompressed, c.uncompressed, "dir/name.xhtml");
    setLfhCompressedSize(lfh, c.compressed);
    const std::string image = appendedCdr(c.offset, lfh);
    EXPECT_EQ(image.size(), kCdrSize + 14 + c.extraLength);
    const CdrEx parsed = parseCdr(image);
    EXPECT_EQ(parsed.header.extraFieldLength(), c.extraLength);
    EXPECT_EQ(parsed.header.versionToExtract(), c.version);
    EXPECT_EQ(parsed.header.compressionMethod(), c.method);
    EXPECT_EQ(parsed.effectiveUncompressedSize(), c.uncompressed);
    EXPECT_EQ(parsed.effectiveCompressedSize(), c.compressed);
    EXPECT_EQ(parsed.effectiveOffsetLfh(), c.offset);
    EXPECT_EQ(parsed.name, "dir/name.xhtml");
  }
}

TEST(Zip64Values, ReadOnlyForAllOnesFieldsAndWithinTheirBytes) {
  // A local header whose uncompressed field alone is all ones takes one value
  // from a record holding two; its compressed size stays the 32-bit field.
  sLfhEx2 lfh;
  lfh.header.setUncompressedSize(kAllOnes32);
  lfh.header.setCompressedSize(77);
  unsigned found = 0;
  EXPECT_TRUE(readZip64ValuesFrom(lfh, "00 00 00 00 02 00 00 00 09 00 00 00 00 00 00 00", found));
  EXPECT_EQ(found, kFoundUncompressedSize);
  EXPECT_EQ(lfh.effectiveUncompressedSize(), 0x200000000u);
  EXPECT_EQ(lfh.effectiveCompressedSize(), 77u);

  // The disk start number (4 bytes) is read when Disk number holds 0xFFFF.
  CdrEx disk;
  disk.header.setDiskNumber(kAllOnes16);
  EXPECT_TRUE(readZip64ValuesFrom(disk, "05 00 00 00", found));
  EXPECT_EQ(found, kFoundDiskStartNumber);
  EXPECT_EQ(disk.zip64.diskStartNumber, 5u);
  CdrEx shortDisk;
  shortDisk.header.setDiskNumber(kAllOnes16);
  EXPECT_FALSE(readZip64ValuesFrom(shortDisk, "05 00 00", found));
  EXPECT_EQ(shortDisk.zip64.diskStartNumber, kAllOnes32);

  // Values that run short: those before stay, the rest stay absent.
  CdrEx cut;
  cut.header.setUncompressedSize(kAllOnes32);
  cut.header.setCompressedSize(kAllOnes32);
  cut.header.setOffsetLfh(kAllOnes32);
  EXPECT_FALSE(readZip64ValuesFrom(cut, "01 00 00 00 00 00 00 00 02 00 00 00 00 00 00 00 03 00", found));
  EXPECT_EQ(found, kFoundUncompressedSize | kFoundCompressedSize);
  EXPECT_EQ(cut.effectiveCompressedSize(), 2u);
  EXPECT_EQ(cut.effectiveOffsetLfh(), kNoZip64Value);
}

// ---- End records ----------------------------------------------------------------------------

TEST(EndRecords, EntryCountAtTheZip64Boundary) {
  const EndRecords below = buildEndRecords(65'534, 100, 200, 300);
  EXPECT_FALSE(below.needsZip64);
  EXPECT_BYTES(bytesOf(below.ecd), "50 4B 05 06 00 00 00 00 FE FF FE FF 64 00 00 00 C8 00 00 00 00 00");

  const EndRecords at = buildEndRecords(65'535, 0x1000, 0x2000, 0x3000);
  ASSERT_TRUE(at.needsZip64);
  EXPECT_BYTES(bytesOf(at.ecd), "50 4B 05 06 00 00 00 00 FF FF FF FF 00 10 00 00 00 20 00 00 00 00");
  EXPECT_BYTES(bytesOf(at.ecd64),
               "50 4B 06 06 2C 00 00 00 00 00 00 00 2D 00 2D 00 00 00 00 00 00 00 00 00"
               "FF FF 00 00 00 00 00 00 FF FF 00 00 00 00 00 00 00 10 00 00 00 00 00 00 00 20 00 00 00 00 00 00");
  EXPECT_BYTES(bytesOf(at.ecdl64), "50 4B 06 07 00 00 00 00 00 30 00 00 00 00 00 00 01 00 00 00");
}

TEST(EndRecords, CentralDirectorySizeAndOffsetAtTheZip64Boundary) {
  EXPECT_FALSE(buildEndRecords(3, 0xFFFFFFFE, 0xFFFFFFFE, 0).needsZip64);

  const EndRecords size = buildEndRecords(3, 0xFFFFFFFF, 10, 0x100000009);
  ASSERT_TRUE(size.needsZip64);
  EXPECT_EQ(size.ecd.cdSize(), kAllOnes32);
  EXPECT_EQ(size.ecd.cdOffset(), 10u);
  EXPECT_EQ(size.ecd.totalQtyCdEntries(), 3);
  EXPECT_EQ(size.ecd64.cdSize(), 0xFFFFFFFFu);
  EXPECT_EQ(size.ecdl64.offsetOfEcd64(), 0x100000009u);

  const EndRecords offset = buildEndRecords(3, 10, 0xFFFFFFFF, 0x100000009);
  ASSERT_TRUE(offset.needsZip64);
  EXPECT_EQ(offset.ecd.cdOffset(), kAllOnes32);
  EXPECT_EQ(offset.ecd64.cdOffset(), 0xFFFFFFFFu);
  EXPECT_EQ(offset.ecd64.totalQtyCdEntries(), 3u);
}

TEST(EndRecords, EffectiveValuesTakeTheEcd64ForAllOnesFields) {
  EndRecords r = buildEndRecords(70'000, 0x123, 0x500000000, 0x500000123);
  Ecd ecd;
  ecd.copyFrom(r.ecd.data());  // as a reader copies it from the file
  EXPECT_EQ(effectiveTotalQtyCdEntries(ecd, &r.ecd64), 70'000u);
  EXPECT_EQ(effectiveQtyCdEntriesThisDisk(ecd, &r.ecd64), 70'000u);
  EXPECT_EQ(effectiveCdOffset(ecd, &r.ecd64), 0x500000000u);
  EXPECT_EQ(effectiveCdSize(ecd, &r.ecd64), 0x123u);
  // Without an Ecd64 the fields stand as they are.
  EXPECT_EQ(effectiveTotalQtyCdEntries(ecd, nullptr), 0xFFFFu);
  EXPECT_EQ(effectiveCdOffset(ecd, nullptr), 0xFFFFFFFFu);
  // A field that did not overflow is its own value, whatever the Ecd64 says.
  r.ecd64.setCdSize(0x999);
  EXPECT_EQ(effectiveCdSize(ecd, &r.ecd64), 0x123u);
}

}  // namespace
}  // namespace plimsy
