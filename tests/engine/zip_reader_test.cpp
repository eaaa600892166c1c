#include "engine/zip_reader.h"

#include <set>
#include <span>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

#include "engine/analysis_log.h"
#include "engine/crc32.h"
#include "support/messages.h"
#include "support/temp_dir.h"
#include "support/zip_builder.h"

namespace plimsy {
namespace {

using test::ArchiveLayout;
using test::ArchivePlan;
using test::buildArchive;
using test::extraRecord;
using test::messWith;
using test::patchLe16;
using test::patchLe32;
using test::patchLe64;

const char* const kUnableToOpen = "Unable to open zip file.";
const char* const kNotValid = "Not a valid zip file.";
const char* const kNoEcd = "Unable to find end of central directory.";
const char* const kInvalid = "Invalid zip file.";
const char* const kWrongOffset = "Invalid zip file (central directory record has wrong offset for local file header).";
const char* const kOtherMethod = "File compressed with method other than deflate.";
const char* const kCountMismatch =
    "Invalid zip file.  (Number of central directory entries doesn't match number in end of central directory "
    "record.";

// Offsets of fields inside the records, for patching finished archives.
constexpr std::uint64_t kEcdTotalEntriesAt = 10;
constexpr std::uint64_t kEcdCdSizeAt = 12;
constexpr std::uint64_t kEcdCdOffsetAt = 16;
constexpr std::uint64_t kEcdThisDiskEntriesAt = 8;
constexpr std::uint64_t kEcd64CdOffsetAt = 48;
constexpr std::uint64_t kEcdl64OffsetAt = 8;

class ZipReaderTest : public ::testing::Test {
 protected:
  // Writes the bytes to a file and opens it; `message` holds the failure.
  // Read from memory, the same bytes must come to the same result.
  bool open(std::string_view bytes) {
    reader.releaseArchive();  // Windows lets nobody write a file that is being read
    test::writeFile(path(), bytes);
    const bool opened = openPath(path());
    // What is wrong with the archive comes first, the file it is about after it.
    const std::string pathLine = "\n" + path();
    if (!opened && !bytes.empty()) {
      EXPECT_TRUE(message.ends_with(pathLine)) << message;
      if (message.ends_with(pathLine)) message.resize(message.size() - pathLine.size());
    }
    expectSameFromMemory(bytes, opened);
    return opened;
  }
  // (An empty file cannot be mapped: it is refused before it is read.)
  void expectSameFromMemory(std::string_view bytes, bool opened) {
    if (bytes.empty()) return;
    cZipReader memory;
    std::string memoryMessage;
    const std::span<const std::uint8_t> span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    EXPECT_EQ(memory.open(&memoryMessage, span), opened);
    EXPECT_EQ(memoryMessage, message);
    EXPECT_EQ(memory.cdrCount(), reader.cdrCount());
    EXPECT_EQ(memory.statistics(), reader.statistics());
  }
  bool openPath(const std::string& zipPath) {
    EpubWorkOrder order;
    order.ZipPath = zipPath;
    message.clear();
    return reader.openArchive(&message, order);
  }
  // The message for bytes the reader refuses; "(opened)" when it opens them.
  // (Only the first line: a file that cannot be opened is named after it.)
  std::string refusalOf(std::string_view bytes) { return open(bytes) ? "(opened)" : test::firstLine(message); }
  std::string path() const { return dir / "book.epub"; }
  std::string cdrName(std::uint64_t index) const { return reader.entries().at(index).cdr.name; }

  test::TempDir dir;
  cZipReader reader;
  std::string message;
};

// ---- Finding the end records -------------------------------------------------------

TEST_F(ZipReaderTest, OpensASmallEpubAndCountsItsEntriesFromTheLocalHeaders) {
  ArchiveLayout layout;
  const ArchivePlan plan = test::smallEpubPlan();
  const std::string zip = buildArchive(plan, &layout);
  ASSERT_TRUE(open(zip)) << message;

  ASSERT_EQ(reader.cdrCount(), 3u);
  EXPECT_EQ(cdrName(0), "mimetype");
  EXPECT_EQ(cdrName(2), "OEBPS/chapter1.xhtml");
  EXPECT_EQ(reader.entries()[1].cdr.effectiveOffsetLfh(), layout.lfhOffsets[1]);
  EXPECT_EQ(reader.entries()[1].dataOffset, layout.dataOffsets[1]);
  EXPECT_EQ(reader.viewSize(), zip.size());
  EXPECT_EQ(reader.ecdOffset(), layout.ecdOffset);
  EXPECT_EQ(reader.ecdl64(), nullptr);
  EXPECT_EQ(reader.ecd64(), nullptr);
  EXPECT_EQ(reader.expectedEntries(), 3u);
  EXPECT_EQ(reader.path(), path());

  sStatistics expected;
  expected.files = 3;
  expected.stored = 1;
  expected.storedBytes = 20;
  expected.deflated = 2;
  expected.deflatedInputBytes = plan.entries[1].uncompressedSize + plan.entries[2].uncompressedSize;
  expected.deflatedOutputBytes = plan.entries[1].data.size() + plan.entries[2].data.size();
  EXPECT_EQ(reader.statistics(), expected);
}

TEST_F(ZipReaderTest, RefusesFilesTooShortOrWithoutEndRecord) {
  EXPECT_EQ(refusalOf(""), kUnableToOpen);
  // The system refuses to map an empty file with a reason that would only mislead.
  EXPECT_EQ(message, std::string(kUnableToOpen) + "\n" + path() + "\nThe file is empty.");
  EXPECT_EQ(refusalOf("P"), kNotValid);
  EXPECT_EQ(refusalOf(std::string(21, '\0')), kNotValid);
  EXPECT_EQ(refusalOf(std::string(22, '\0')), kNoEcd);
  EXPECT_FALSE(openPath(dir / "missing.epub"));
  EXPECT_EQ(test::firstLine(message), kUnableToOpen);
  EXPECT_FALSE(openPath(dir.str()));  // a folder
  EXPECT_EQ(test::firstLine(message), kUnableToOpen);
}

TEST_F(ZipReaderTest, EmptyArchiveNeedsRoomForOneCdrAfterItsCdOffset) {
  ArchivePlan plan;
  EXPECT_FALSE(open(buildArchive(plan)));  // 22 bytes
  EXPECT_EQ(message, kInvalid);
  plan.comment = std::string(23, 'c');  // 45 bytes
  EXPECT_EQ(refusalOf(buildArchive(plan)), kInvalid);
  plan.comment = std::string(24, 'c');  // 46 bytes
  ASSERT_TRUE(open(buildArchive(plan))) << message;
  EXPECT_EQ(reader.cdrCount(), 0u);
  EXPECT_EQ(reader.statistics(), sStatistics{});
}

TEST_F(ZipReaderTest, TheEcdSignatureNearestTheEndWins) {
  ArchiveLayout layout;
  ArchivePlan plan = test::smallEpubPlan();
  const std::string plain = buildArchive(plan, &layout);
  // The comment holds a copy of the Ecd (without comment) announcing the
  // same central directory: the copy is the one taken.
  std::string copy = plain.substr(static_cast<std::size_t>(layout.ecdOffset), kEcdSize);
  patchLe16(copy, 20, 0);
  plan.comment = "note " + copy + " end";
  ASSERT_TRUE(open(buildArchive(plan, &layout))) << message;
  EXPECT_EQ(reader.ecdOffset(), layout.ecdOffset + kEcdSize + 5);
  EXPECT_EQ(reader.cdrCount(), 3u);

  // A copy that announces one entry too many proves it was read.
  patchLe16(copy, kEcdTotalEntriesAt, 4);
  plan.comment = "note " + copy + " end";
  EXPECT_EQ(refusalOf(buildArchive(plan)), kCountMismatch);
}

TEST_F(ZipReaderTest, TheWholeFileIsSearchedForTheEcd) {
  ArchivePlan plan = test::smallEpubPlan();
  plan.comment = std::string(65'535, 'c');
  ASSERT_TRUE(open(buildArchive(plan))) << message;
  plan.comment.clear();
  plan.trailing = std::string(200'000, 't');
  ASSERT_TRUE(open(buildArchive(plan))) << message;
  EXPECT_EQ(reader.cdrCount(), 3u);
}

TEST_F(ZipReaderTest, CdOffsetOfAllOnesWithoutLocatorIsRefused) {
  ArchivePlan plan = test::smallEpubPlan();
  plan.editEcd = [](Ecd& e) { e.setCdOffset(kAllOnes32); };
  EXPECT_EQ(refusalOf(buildArchive(plan)), kInvalid);
  EXPECT_TRUE(reader.statistics().zip64);
}

TEST_F(ZipReaderTest, CdOffsetLeavingFewerThan46BytesIsRefused) {
  ArchiveLayout layout;
  const std::string zip = buildArchive(test::smallEpubPlan(), &layout);
  const auto offset = static_cast<std::uint32_t>(zip.size() - 45);
  EXPECT_EQ(refusalOf(messWith(zip, [&](std::string& b) { patchLe32(b, layout.ecdOffset + kEcdCdOffsetAt, offset); })),
            kInvalid);
}

// ---- ZIP64 end records -----------------------------------------------------------

ArchivePlan zip64EpubPlan() {
  ArchivePlan plan = test::smallEpubPlan();
  plan.zip64 = true;
  return plan;
}

TEST_F(ZipReaderTest, Zip64EndRecordsGiveTheCentralDirectory) {
  ArchiveLayout layout;
  ASSERT_TRUE(open(buildArchive(zip64EpubPlan(), &layout))) << message;
  EXPECT_EQ(reader.cdrCount(), 3u);
  EXPECT_TRUE(reader.statistics().zip64);
  ASSERT_NE(reader.ecdl64(), nullptr);
  ASSERT_NE(reader.ecd64(), nullptr);
  EXPECT_EQ(reader.ecdl64Offset(), layout.ecdl64Offset);
  EXPECT_EQ(reader.ecd64Offset(), layout.ecd64Offset);
  EXPECT_EQ(reader.ecd64()->cdOffset(), layout.cdOffset);
}

TEST_F(ZipReaderTest, Ecd64ValuesReplaceEcdValuesThatAreNotAllOnes) {
  ArchivePlan plan = zip64EpubPlan();
  // An Ecd whose own values are wrong but plausible: 7 entries, CD at offset 0.
  plan.editEcd = [](Ecd& e) {
    e.setQtyCdEntriesThisDisk(7);
    e.setTotalQtyCdEntries(7);
    e.setCdSize(100);
    e.setCdOffset(0);
  };
  ASSERT_TRUE(open(buildArchive(plan))) << message;
  EXPECT_EQ(reader.cdrCount(), 3u);
  EXPECT_EQ(reader.expectedEntries(), 3u);
  EXPECT_TRUE(reader.statistics().zip64);  // the locator alone says so
}

TEST_F(ZipReaderTest, LocatorOneByteAwayFromTheEcdIsNotSeen) {
  ArchiveLayout layout;
  ArchivePlan plan = zip64EpubPlan();
  plan.gapBeforeEcd = "x";
  std::string zip = buildArchive(plan, &layout);
  // Give the Ecd real values: the archive is then read from them alone.
  patchLe16(zip, layout.ecdOffset + kEcdThisDiskEntriesAt, 3);
  patchLe16(zip, layout.ecdOffset + kEcdTotalEntriesAt, 3);
  patchLe32(zip, layout.ecdOffset + kEcdCdSizeAt, static_cast<std::uint32_t>(layout.cdSize));
  patchLe32(zip, layout.ecdOffset + kEcdCdOffsetAt, static_cast<std::uint32_t>(layout.cdOffset));
  ASSERT_TRUE(open(zip)) << message;
  EXPECT_EQ(reader.ecdl64(), nullptr);
  EXPECT_EQ(reader.ecd64(), nullptr);
  EXPECT_FALSE(reader.statistics().zip64);
  EXPECT_EQ(reader.cdrCount(), 3u);

  // With the Ecd's all-ones values the start of the central directory is unknown.
  EXPECT_EQ(refusalOf(buildArchive(plan)), kInvalid);
}

TEST_F(ZipReaderTest, HugeOffsetsInZip64RecordsNeitherWrapNorReachOutside) {
  ArchiveLayout layout;
  const std::string zip = buildArchive(zip64EpubPlan(), &layout);
  const std::uint64_t huge = 0xFFFFFFFFFFFFFFF0;

  // A central directory far past the end is no central directory.
  EXPECT_EQ(
      refusalOf(messWith(zip, [&](std::string& b) { patchLe64(b, layout.ecd64Offset + kEcd64CdOffsetAt, huge); })),
      kInvalid);

  // An Ecd64 past the end, or reaching one byte past it.
  EXPECT_EQ(
      refusalOf(messWith(zip, [&](std::string& b) { patchLe64(b, layout.ecdl64Offset + kEcdl64OffsetAt, huge); })),
      kInvalid);
  EXPECT_EQ(refusalOf(messWith(zip,
                               [&](std::string& b) {
                                 patchLe64(b, layout.ecdl64Offset + kEcdl64OffsetAt, zip.size() - kEcd64Size + 1);
                               })),
            kInvalid);

  // A local header offset past the end, through the Cdr's ZIP64 value.
  ArchivePlan plan = test::smallEpubPlan();
  plan.entries[1].zip64 = true;
  const std::string entry64 = buildArchive(plan, &layout);
  const std::uint64_t offsetValueAt = layout.cdrOffsets[1] + kCdrSize + plan.entries[1].name.size() + 4 + 16;
  EXPECT_EQ(refusalOf(messWith(entry64, [&](std::string& b) { patchLe64(b, offsetValueAt, huge); })), kWrongOffset);
}

// ---- Central directory and local headers -----------------------------------------

TEST_F(ZipReaderTest, EntryCountMustMatchTheEndRecord) {
  ArchivePlan plan = test::smallEpubPlan();
  plan.entries.pop_back();
  plan.editEcd = [](Ecd& e) { e.setTotalQtyCdEntries(3); };
  EXPECT_EQ(refusalOf(buildArchive(plan)), kCountMismatch);
  EXPECT_EQ(reader.statistics().files, 2u);  // what was counted stays

  plan.editEcd = [](Ecd& e) { e.setTotalQtyCdEntries(1); };
  EXPECT_EQ(refusalOf(buildArchive(plan)), kCountMismatch);
}

TEST_F(ZipReaderTest, CdrMustPointAtALocalHeaderInsideTheFile) {
  ArchivePlan plan = test::smallEpubPlan();
  plan.entries[1].editCdr = [](Cdr& c) { c.setOffsetLfh(c.offsetLfh() + 1); };
  EXPECT_EQ(refusalOf(buildArchive(plan)), kWrongOffset);

  plan.entries[1].editCdr = [](Cdr& c) { c.setOffsetLfh(0xFFFFFFFE); };
  EXPECT_EQ(refusalOf(buildArchive(plan)), kWrongOffset);
}

TEST_F(ZipReaderTest, RecordsRunningPastTheEndAreRefused) {
  ArchivePlan plan = test::smallEpubPlan();
  plan.entries[2].editCdr = [](Cdr& c) { c.setCommentLength(0xFFFF); };
  EXPECT_EQ(refusalOf(buildArchive(plan)), kInvalid);

  plan = test::smallEpubPlan();
  plan.entries[2].editLfh = [](Lfh& l) { l.setExtraFieldLength(0xFFFF); };
  EXPECT_EQ(refusalOf(buildArchive(plan)), kInvalid);

  // A local header at the very end of the file: signature, but no room for 30 bytes.
  ArchiveLayout layout;
  plan = test::smallEpubPlan();
  plan.trailing = std::string("PK\x03\x04", 4);
  const std::string zip = buildArchive(plan, &layout);
  const auto lastFour = static_cast<std::uint32_t>(zip.size() - 4);
  EXPECT_EQ(refusalOf(messWith(zip, [&](std::string& b) { patchLe32(b, layout.cdrOffsets[0] + 42, lastFour); })),
            kInvalid);
}

TEST_F(ZipReaderTest, OnlyStoredAndDeflatedDataIsAccepted) {
  ArchivePlan plan = test::smallEpubPlan();
  plan.entries.push_back(test::storedEntry("empty.bz2", ""));
  plan.entries.back().method = 12;
  ASSERT_TRUE(open(buildArchive(plan))) << message;  // no data: a zero-length file, whatever the method
  EXPECT_EQ(reader.statistics().zeroLength, 1u);
  EXPECT_EQ(reader.statistics().files, 4u);

  plan.entries.back() = test::storedEntry("data.bz2", "BZh9 not really");
  plan.entries.back().method = 12;
  EXPECT_EQ(refusalOf(buildArchive(plan)), kOtherMethod);
}

TEST_F(ZipReaderTest, Zip64EntryIsCountedWithItsLocalHeadersValues) {
  ArchivePlan plan = test::smallEpubPlan();
  plan.entries[1].zip64 = true;
  ASSERT_TRUE(open(buildArchive(plan))) << message;
  EXPECT_TRUE(reader.statistics().zip64);
  EXPECT_EQ(reader.statistics().deflatedInputBytes,
            plan.entries[1].uncompressedSize + plan.entries[2].uncompressedSize);

  const CdrEx& cdr = reader.entries()[1].cdr;
  EXPECT_TRUE(cdr.hasZip64Extra);
  EXPECT_EQ(cdr.effectiveCompressedSize(), plan.entries[1].data.size());
  const LfhEx& lfh = reader.entries()[1].lfh;
  EXPECT_EQ(lfh.effectiveUncompressedSize(), plan.entries[1].uncompressedSize);
  EXPECT_EQ(reader.entries()[1].dataOffset, entryDataOffset(cdr, lfh));
  const std::string_view data(reinterpret_cast<const char*>(reader.viewData() + entryDataOffset(cdr, lfh)),
                              lfh.effectiveCompressedSize());
  EXPECT_EQ(data, plan.entries[1].data);
}

TEST_F(ZipReaderTest, ReleaseIsSafeInEveryState) {
  reader.releaseArchive();  // never opened
  EXPECT_FALSE(open("PK"));
  reader.releaseArchive();
  reader.releaseArchive();
  ASSERT_TRUE(open(buildArchive(test::smallEpubPlan())));
  reader.releaseArchive();
  EXPECT_EQ(reader.viewData(), nullptr);
  EXPECT_EQ(reader.cdrCount(), 0u);
  EXPECT_EQ(reader.ecd(), nullptr);
  EXPECT_EQ(reader.statistics().files, 3u);  // kept for the report
  EXPECT_EQ(reader.path(), "");
  EXPECT_TRUE(reader.archiveUnchanged());
}

// A stored entry of several release pieces: its CRC is that of its bytes,
// and its bytes read the same after their pages were given back.
TEST_F(ZipReaderTest, BigEntryReadPieceByPieceKeepsItsBytes) {
  std::string content(9 * 1024 * 1024 + 123, '\0');
  std::uint32_t x = 12345;
  for (char& c : content) c = static_cast<char>((x = x * 1'103'515'245 + 12'345) >> 24);
  ArchivePlan plan = test::smallEpubPlan();
  plan.entries.push_back(test::storedEntry("OEBPS/big.bin", content));
  ASSERT_TRUE(open(buildArchive(plan))) << message;
  const sZipEntry& big = reader.entries().back();
  const std::uint64_t size = big.cdr.effectiveCompressedSize();
  ASSERT_EQ(size, content.size());
  EXPECT_EQ(reader.crcOf(big.dataOffset, size), big.cdr.header.crc());
  EXPECT_EQ(reader.crcOf(big.dataOffset, size), crc32Of(content.data(), content.size()));
  reader.noteRead(size);  // every page given back
  EXPECT_EQ(std::string_view(reinterpret_cast<const char*>(reader.viewData() + big.dataOffset), size), content);
  EXPECT_TRUE(reader.archiveUnchanged());
}

// ---- Damaged archives: every prefix and every byte ----------------------------------

bool isReaderMessage(const std::string& message) {
  static const std::set<std::string> kMessages = {kUnableToOpen, kNotValid,    kNoEcd,        kInvalid,
                                                  kWrongOffset,  kOtherMethod, kCountMismatch};
  return kMessages.count(test::firstLine(message)) == 1;
}

ArchivePlan sweepPlan() {
  ArchivePlan plan = zip64EpubPlan();
  plan.entries[1].zip64 = true;
  plan.entries[2].cdrExtra = test::ntfsExtra(1, 2, 3) + extraRecord(0x5455, "x");
  plan.comment = "comment";
  return plan;
}

TEST_F(ZipReaderTest, EveryPrefixOpensOrFailsWithAReaderMessage) {
  const std::string zip = buildArchive(sweepPlan());
  for (std::size_t length = 0; length < zip.size(); ++length) {
    if (!open(std::string_view(zip).substr(0, length))) {
      EXPECT_TRUE(isReaderMessage(message)) << "prefix " << length << ": " << message;
    }
  }
}

TEST_F(ZipReaderTest, EveryDamagedByteOpensOrFailsWithAReaderMessage) {
  const std::string zip = buildArchive(sweepPlan());
  for (const char value : {'\x00', '\xFF'}) {
    for (std::size_t at = 0; at < zip.size(); ++at) {
      if (open(messWith(zip, [&](std::string& b) { b[at] = value; }))) {
        // Every local header, with its name and extra field, lies in the file.
        for (const sZipEntry& entry : reader.entries()) EXPECT_LE(entry.dataOffset, zip.size());
      } else {
        EXPECT_TRUE(isReaderMessage(message)) << "byte " << at << ": " << message;
      }
    }
  }
}

// ---- Extra fields ------------------------------------------------------------------

TEST(ExtraField, EmptyFieldSaysNoneAndShortFieldsSayNothing) {
  LfhEx lfh;
  EXPECT_TRUE(parseExtraField(lfh, ""));
  EXPECT_EQ(extraFieldLines(lfh.extraFindings), "\n   none");

  // A ZIP64 record with no value to give (no field holds all ones): none.
  LfhEx zip64;
  EXPECT_TRUE(parseExtraField(zip64, test::zip64Extra({1, 2})));
  EXPECT_TRUE(zip64.hasZip64Extra);
  EXPECT_EQ(extraFieldLines(zip64.extraFindings), "\n   none");

  LfhEx three;
  EXPECT_FALSE(parseExtraField(three, std::string("\x01\x00\x00", 3)));
  EXPECT_EQ(extraFieldLines(three.extraFindings), "");

  // A record whose data size runs past the end: the records before it stay.
  CdrEx cdr;
  EXPECT_FALSE(parseExtraField(cdr, extraRecord(0x9999, "ab") + test::le16(0x7777) + test::le16(5) + "abc"));
  EXPECT_EQ(extraFieldLines(cdr.extraFindings), "\n   UNHANDLED: ID = 39321, length = 2");
}

TEST(ExtraField, LocalZip64RecordGivesOnlyTheAllOnesValuesThenTheNextRecord) {
  LfhEx lfh;
  lfh.header.setUncompressedSize(kAllOnes32);
  lfh.header.setCompressedSize(1000);
  EXPECT_TRUE(parseExtraField(lfh, test::zip64Extra({0x1'0000'0000, 1000}) + extraRecord(0x9999, "xy")));
  EXPECT_EQ(extraFieldLines(lfh.extraFindings),
            "\n   ZIP64 uncompressed size: 0x100000000\n   UNHANDLED: ID = 39321, length = 2");
  EXPECT_TRUE(lfh.hasZip64Extra);
  EXPECT_EQ(lfh.effectiveUncompressedSize(), 0x1'0000'0000u);
  EXPECT_EQ(lfh.effectiveCompressedSize(), 1000u);
}

TEST(ExtraField, CentralZip64RecordWithDiskStartNumber) {
  CdrEx cdr;
  cdr.header.setOffsetLfh(kAllOnes32);
  cdr.header.setDiskNumber(kAllOnes16);
  EXPECT_TRUE(parseExtraField(cdr, extraRecord(kZip64ExtraId, test::le64(0x2'0000'0000) + test::le32(7))));
  EXPECT_EQ(extraFieldLines(cdr.extraFindings), "\n   ZIP64 offset_lfh: 0x200000000\n   ZIP64 disk_start_number: 0x7");
  EXPECT_EQ(cdr.effectiveOffsetLfh(), 0x2'0000'0000u);
  EXPECT_EQ(cdr.zip64.diskStartNumber, 7u);

  // Without the 4 bytes of the disk start number parsing stops; the offset stays.
  CdrEx shorter;
  shorter.header = cdr.header;
  EXPECT_FALSE(parseExtraField(shorter, extraRecord(kZip64ExtraId, test::le64(0x2'0000'0000))));
  EXPECT_EQ(extraFieldLines(shorter.extraFindings), "\n   ZIP64 offset_lfh: 0x200000000");
  EXPECT_TRUE(shorter.hasZip64Extra);
}

TEST(ExtraField, NtfsTimesThenAnotherRecord) {
  // 2022-03-04 10:20:30 UTC and one and two days later.
  const FileTime t = 132'908'628'300'000'000;
  const FileTime day = 864'000'000'000;
  CdrEx cdr;
  EXPECT_TRUE(parseExtraField(cdr, test::ntfsExtra(t, t + day, t + 2 * day) + extraRecord(0x5455, "12345")));
  EXPECT_EQ(extraFieldLines(cdr.extraFindings),
            "\n   NTFS  mod:    2022-Mar-04 10:20:30\n   NTFS  access: 2022-Mar-05 10:20:30"
            "\n   NTFS  create: 2022-Mar-06 10:20:30\n   UNHANDLED: ID = 21589, length = 5");
  EXPECT_TRUE(cdr.hasNtfsExtra);
  EXPECT_EQ(cdr.ntfsAccessed, t + day);

  // An NTFS record shorter than its three times: flagged, nothing read.
  LfhEx lfh;
  EXPECT_FALSE(parseExtraField(lfh, extraRecord(kNtfsExtraId, std::string(8, '\0'))));
  EXPECT_TRUE(lfh.hasNtfsExtra);
  EXPECT_EQ(extraFieldLines(lfh.extraFindings), "");
  EXPECT_EQ(lfh.ntfsModified, 0u);
}

}  // namespace
}  // namespace plimsy
