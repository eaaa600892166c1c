// Archives made to do harm, and archives damaged on the way: every one must
// be refused with a clear message, leave nothing outside the folder it was
// unpacked into, and (where the damage can be seen in advance) leave nothing
// at all.

#include <filesystem>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "core/paths.h"
#include "core/text.h"
#include "engine/archive_messages.h"
#include "engine/crc32.h"
#include "engine/unzip_job.h"
#include "support/file_tree.h"
#include "support/messages.h"
#include "support/temp_dir.h"
#include "support/work_orders.h"
#include "support/zip_builder.h"

namespace fs = std::filesystem;

namespace plimsy {
namespace {

using test::ArchiveLayout;
using test::ArchivePlan;
using test::buildArchive;
using test::deflatedEntry;
using test::listTree;
using test::planOf;
using test::storedEntry;
using test::TempDir;
using test::writeFile;

// The sandbox: the archive and the files folder sit side by side in a
// temporary folder, and everything the job makes must stay inside the files
// folder (or a tempN work folder beside it).
class HostileArchive : public ::testing::Test {
 protected:
  bool unzip(const std::string& archive) {
    writeFile(order.ZipPath, archive);
    message.clear();
    sStatistics statistics;
    return unzipJob(order, &message, statistics);
  }

  // The job's message when it refuses the archive; "(done)" when it unpacks it.
  std::string failureOf(const std::string& archive) { return unzip(archive) ? "(done)" : message; }

  // Nothing but the archive: the files folder that the job made for it is gone again.
  void expectNothingWritten() const { EXPECT_EQ(listTree(dir.path()), (std::set<std::string>{"book.epub"})); }

  // Items outside the files folder and the work folders beside it.
  std::set<std::string> strayItems() const {
    std::set<std::string> stray;
    for (const std::string& item : listTree(dir.path())) {
      if (item == "book.epub" || item.rfind("files/", 0) == 0 || item.rfind("temp", 0) == 0) continue;
      stray.insert(item);
    }
    return stray;
  }

  TempDir dir;
  EpubWorkOrder order = test::unzipOrder(dir / "book.epub", dir / "files");
  std::string message;
};

// ---- Names that lead outside ----------------------------------------------------------

TEST_F(HostileArchive, UnsafeNamesAreRefusedBeforeAnythingIsWritten) {
  const std::string absolute = dir / "escaped";
  const std::string names[] = {"../escaped",
                               absolute,
                               "a/../../escaped",
                               "..\\escaped",
                               "C:\\escaped",
                               "C:escaped",
                               "c:/escaped",
                               "a\\..\\..\\escaped",
                               "..",
                               "a/..",
                               "\\escaped",
                               std::string("a\0b", 3),
                               "ok/../../../escaped"};
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    fs::remove_all(dir.path() / "files");
    const ArchivePlan plan = planOf({storedEntry("mimetype", "application/epub+zip"), deflatedEntry(name, "gotcha")});
    EXPECT_EQ(failureOf(buildArchive(plan)), formatTextUnlimited(kUnsafeNameMessage, displayUtf8(name)));
    expectNothingWritten();
  }
}

TEST_F(HostileArchive, UnsafeNameInTheLocalHeaderCountsNotTheOneInTheDirectory) {
  ArchivePlan plan = planOf({storedEntry("harmless.txt", "gotcha")});
  plan.entries[0].lfhName = "../escaped";
  EXPECT_EQ(failureOf(buildArchive(plan)), "Unsafe file name in zip file:\n../escaped");
  expectNothingWritten();
}

TEST_F(HostileArchive, NamesThatOnlyLookOddAreSafe) {
  for (const char* name : {"a..b", "..a", "a/..b/c", "x/./y", "auxiliary/COM10.xhtml"})
    EXPECT_FALSE(isUnsafeEntryName(name)) << name;
  // Windows cannot hold these names: there they are refused like the others.
  for (const char* name : {". /z", "dir:colon", "1:x", "OEBPS/aux.xhtml", "CON", "Text/chapter./x", "trailing "})
    EXPECT_EQ(isUnsafeEntryName(name), plimsy::kWindowsNameRules) << name;
}

TEST_F(HostileArchive, UnsafeNamesAreRefusedInEntriesWithoutDataToo) {
  // Empty files and folders are made as well: their names lead somewhere.
  for (const char* name : {"../", "/etc/", "../empty.txt"}) {
    SCOPED_TRACE(name);
    fs::remove_all(dir.path() / "files");
    EXPECT_EQ(failureOf(buildArchive(planOf({storedEntry("ok.txt", "ok"), storedEntry(name, "")}))),
              formatTextUnlimited(kUnsafeNameMessage, std::string(name)));
    expectNothingWritten();
  }
}

// ---- Archives that unpack to far more than they say ------------------------------------

TEST_F(HostileArchive, InflatingStopsAtTheDeclaredSize) {
  ArchivePlan plan = planOf({deflatedEntry("bomb.txt", std::string(10'000'000, '\0'))});
  plan.entries[0].uncompressedSize = 100;  // both headers declare 100 bytes
  EXPECT_EQ(failureOf(buildArchive(plan)), kLengthMismatchMessage);
  EXPECT_LE(fs::file_size(dir.path() / "files" / "bomb.txt"), 100u);
}

TEST_F(HostileArchive, OverlappingEntriesAreRefusedBeforeAnythingIsWritten) {
  ArchiveLayout layout;
  ArchivePlan plan = planOf(
      {storedEntry("first.txt", "first"), deflatedEntry("second.txt", "second"), storedEntry("third.txt", "third")});
  const std::string sound = buildArchive(plan, &layout);

  // Two records sharing one local header.
  plan.entries[2].editCdr = [&](Cdr& c) { c.setOffsetLfh(static_cast<std::uint32_t>(layout.lfhOffsets[1])); };
  EXPECT_EQ(failureOf(buildArchive(plan)), kOverlappingEntriesMessage);
  expectNothingWritten();

  // The first entry's data reaching over the next entry: stored, with sizes
  // and CRC that fit the longer data, as "quoted" overlapping bombs make them.
  const std::string quoted = sound.substr(layout.dataOffsets[0], layout.lfhOffsets[2] - layout.dataOffsets[0]);
  plan.entries[2].editCdr = nullptr;
  plan.entries[0].editCdr = [&](Cdr& c) {
    c.setCompressedSize(static_cast<std::uint32_t>(quoted.size()));
    c.setUncompressedSize(static_cast<std::uint32_t>(quoted.size()));
    c.setCrc(crc32Of(quoted.data(), quoted.size()));
  };
  fs::remove_all(dir.path() / "files");
  EXPECT_EQ(failureOf(buildArchive(plan)), kOverlappingEntriesMessage);
  expectNothingWritten();
}

TEST(EntryChecks, ManyEntriesAreCheckedInOnePass) {
  TempDir dir;
  ArchivePlan plan;
  for (int i = 0; i < 70'000; ++i) plan.entries.push_back(storedEntry("d/" + std::to_string(i), "x"));
  plan.zip64 = true;
  EpubWorkOrder order;
  order.ZipPath = dir / "many.zip";
  std::string message;
  for (const bool overlapping : {false, true}) {
    // The last entry pointing back at the first local header.
    if (overlapping) plan.entries.back().editCdr = [](Cdr& c) { c.setOffsetLfh(0); };
    writeFile(order.ZipPath, buildArchive(plan));
    cZipReader reader;
    ASSERT_TRUE(reader.openArchive(&message, order)) << message;
    EXPECT_EQ(checkEntries(&message, reader), !overlapping);
  }
  EXPECT_EQ(message, kOverlappingEntriesMessage);
}

// ---- Damage ------------------------------------------------------------------------------

TEST_F(HostileArchive, DamagedEntriesFailWithTheirMessage) {
  struct Case {
    const char* label;
    std::function<void(std::string&, const ArchiveLayout&)> damage;
    const char* expected;
  };
  const Case cases[] = {
      {"stored data changed", [](std::string& z, const ArchiveLayout& l) { z[l.dataOffsets[0] + 3] ^= 0x20; },
       kCrcMismatchMessage},
      {"data past the end of the file",
       [](std::string& z, const ArchiveLayout& l) { test::patchLe32(z, l.cdrOffsets[2] + 20, 0x7FFFFFFF); },
       kInvalidFileMessage},
      {"deflate stream of a reserved block type",
       [](std::string& z, const ArchiveLayout& l) { z[l.dataOffsets[1]] = '\x07'; }, kDeflatedWriteMessage},
      {"local header moved", [](std::string& z, const ArchiveLayout& l) { test::patchLe32(z, l.lfhOffsets[1], 0); },
       "Invalid zip file (central directory record has wrong offset for local file header)."},
      {"encrypted", [](std::string& z, const ArchiveLayout& l) { test::patchLe16(z, l.cdrOffsets[1] + 8, 1); },
       "Unable to unzip an encrypted file:\nMETA-INF/container.xml"},
  };
  ArchiveLayout layout;
  const std::string sound = buildArchive(test::smallEpubPlan(), &layout);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    std::string damaged = sound;
    c.damage(damaged, layout);
    fs::remove_all(dir.path() / "files");
    EXPECT_EQ(test::firstLine(failureOf(damaged)), test::firstLine(c.expected));
    EXPECT_EQ(strayItems(), std::set<std::string>{});
  }
}

// An archive that claims to hold nothing must hold its (empty) central
// directory: otherwise a folder would be replaced by nothing.
TEST_F(HostileArchive, EmptyZip64ArchiveWithItsDirectoryPastTheEndIsRefused) {
  ArchivePlan plan;
  plan.zip64 = true;
  plan.editEcd64 = [](Ecd64& e) { e.setCdOffset(0xFFFFFF00); };
  writeFile(dir.path() / "files" / "chapter.xhtml", "precious");
  EXPECT_EQ(test::firstLine(failureOf(buildArchive(plan))), "Invalid zip file.");
  EXPECT_EQ(test::readTree(dir.path() / "files"), (std::map<std::string, std::string>{{"chapter.xhtml", "precious"}}));
}

TEST_F(HostileArchive, Zip64SizesNearTheTopOfTheRangeDoNotWrap) {
  ArchiveLayout layout;
  ArchivePlan plan = planOf({storedEntry("big.bin", "data")});
  plan.entries[0].zip64 = true;
  std::string zip = buildArchive(plan, &layout);
  // The Cdr's ZIP64 record: uncompressed, compressed, offset of the Lfh.
  const std::uint64_t values = layout.cdrOffsets[0] + kCdrSize + plan.entries[0].name.size() + 4;
  for (const std::uint64_t huge : {~std::uint64_t{0} - 8, std::uint64_t{1} << 63}) {
    test::patchLe64(zip, values, huge);
    test::patchLe64(zip, values + 8, huge);
    fs::remove_all(dir.path() / "files");
    EXPECT_EQ(failureOf(zip), kInvalidFileMessage);
  }
}

TEST_F(HostileArchive, TruncatedAtEveryOffsetGivesAClearMessage) {
  const std::string sound = buildArchive(test::smallEpubPlan());
  for (std::size_t size = 0; size < sound.size(); ++size) {
    SCOPED_TRACE(size);
    fs::remove_all(dir.path() / "files");
    EXPECT_FALSE(unzip(sound.substr(0, size)));
    EXPECT_TRUE(test::isArchiveMessage(message)) << message;
    EXPECT_EQ(strayItems(), std::set<std::string>{});
  }
}

TEST_F(HostileArchive, EveryByteFlippedGivesSuccessOrAClearMessage) {
  const std::string sound = buildArchive(test::smallEpubPlan());
  for (std::size_t at = 0; at < sound.size(); ++at) {
    SCOPED_TRACE(at);
    std::string damaged = sound;
    damaged[at] = static_cast<char>(~damaged[at]);
    fs::remove_all(dir.path() / "files");
    if (!unzip(damaged)) {
      EXPECT_TRUE(test::isArchiveMessage(message)) << message;
    }
    EXPECT_EQ(strayItems(), std::set<std::string>{});
  }
}

}  // namespace
}  // namespace plimsy
