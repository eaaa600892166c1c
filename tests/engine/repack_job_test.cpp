#include "engine/repack_job.h"

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/text.h"
#include "engine/unzip_job.h"
#include "engine/zip_reader.h"
#include "support/file_tree.h"
#include "support/temp_dir.h"
#include "support/work_orders.h"
#include "support/zip_builder.h"

namespace fs = std::filesystem;

namespace plimsy {
namespace {

using test::ArchivePlan;
using test::buildArchive;
using test::deflatedEntry;
using test::EntryPlan;
using test::planOf;
using test::readFile;
using test::smallEpubPlan;
using test::storedEntry;
using test::TempDir;
using test::writeFile;

const char* const kText = "<html><body><p>Call me Ishmael. Some years ago, never mind how long.</p></body></html>\n";

// What a repacked archive must keep of an entry of the old one.
struct sKeptEntry {
  std::string name;
  std::uint16_t method = 0;
  std::uint16_t dosDate = 0;
  std::uint16_t dosTime = 0;
  std::string data;  // the compressed bytes
};

std::vector<sKeptEntry> entriesOf(const std::string& path) {
  cZipReader reader;
  std::string message;
  EXPECT_TRUE(reader.open(&message, path)) << message;
  std::vector<sKeptEntry> kept;
  for (const sZipEntry& entry : reader.entries()) {
    const auto* data = reinterpret_cast<const char*>(reader.viewData() + entry.dataOffset);
    kept.push_back({entry.lfh.name, entry.lfh.header.compressionMethod(), entry.lfh.header.date(),
                    entry.lfh.header.time(), std::string(data, entry.cdr.effectiveCompressedSize())});
  }
  return kept;
}

std::map<std::string, std::string> unpacked(const fs::path& epub, const fs::path& folder) {
  sStatistics statistics;
  std::string message;
  EXPECT_TRUE(unzipJob(test::unzipOrder(epub.string(), folder.string()), &message, statistics)) << message;
  return test::readTree(folder);
}

EntryPlan withDataDescriptor(EntryPlan entry) {
  entry.editLfh = [](Lfh& l) {
    l.setGeneralFlags(l.generalFlags() | 0x0008);
    l.setCrc(0);
    l.setCompressedSize(0);
    l.setUncompressedSize(0);
  };
  entry.editCdr = [](Cdr& c) { c.setGeneralFlags(c.generalFlags() | 0x0008); };
  return entry;
}

class RepackJob : public ::testing::Test {
 protected:
  fs::path put(const ArchivePlan& plan) {
    writeFile(input, buildArchive(plan));
    return input;
  }
  bool repack(const fs::path& output, std::optional<std::uint32_t> level = std::nullopt) {
    sRepackOrder order{input.string(), output.string(), (dir.path() / "backups").string(), level};
    return repackJob(order, &message, statistics);
  }

  TempDir dir;
  fs::path input = dir.path() / "in.epub";
  std::string message;
  sStatistics statistics;
};

// Faults a container can have that repack mends: the result starts with the
// exact stored mimetype, and every other entry keeps its name, method, time
// and compressed bytes, whatever its old headers said.
TEST_F(RepackJob, MendsTheContainerAndCopiesEveryOtherEntryAsItIs) {
  const EntryPlan chapter = deflatedEntry("OEBPS/ch1.xhtml", kText);
  EntryPlan dated = storedEntry("OEBPS/cover.jpg", "not really a jpeg");
  dated.dosDate = 0x5A21;
  dated.dosTime = 0x1234;
  EntryPlan withExtra = deflatedEntry("OEBPS/ch2.xhtml", kText);
  withExtra.lfhExtra = test::extraRecord(0xCAFE, "stray");
  withExtra.cdrExtra = test::extraRecord(0xCAFE, "stray");
  const struct {
    const char* name;
    std::vector<EntryPlan> entries;
  } cases[] = {
      {"mimetype last and deflated", {chapter, dated, deflatedEntry("mimetype", "application/epub+zip")}},
      {"mimetype with a newline", {storedEntry("mimetype", "application/epub+zip\n"), chapter}},
      {"no mimetype", {chapter, dated}},
      {"data descriptors and stray extra fields", {withDataDescriptor(chapter), withExtra, dated}},
      {"empty file and folder", {storedEntry("OEBPS/", ""), storedEntry("OEBPS/empty.css", ""), chapter}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    put(planOf(c.entries));
    const fs::path output = dir.path() / "out.epub";
    ASSERT_TRUE(repack(output)) << message;
    const std::vector<sKeptEntry> result = entriesOf(output.string());
    ASSERT_FALSE(result.empty());
    EXPECT_EQ(result[0].name, "mimetype");
    EXPECT_EQ(result[0].method, kMethodStored);
    EXPECT_EQ(result[0].data, "application/epub+zip");
    std::vector<sKeptEntry> expected;
    for (const sKeptEntry& entry : entriesOf(input.string()))
      if (entry.name != "mimetype") expected.push_back(entry);
    ASSERT_EQ(result.size(), expected.size() + 1);
    for (std::size_t i = 0; i < expected.size(); ++i) {
      EXPECT_EQ(result[i + 1].name, expected[i].name);
      EXPECT_EQ(result[i + 1].method, expected[i].method);
      EXPECT_EQ(result[i + 1].dosDate, expected[i].dosDate);
      EXPECT_EQ(result[i + 1].dosTime, expected[i].dosTime);
      EXPECT_EQ(result[i + 1].data, expected[i].data);
    }
    EXPECT_EQ(statistics.files, result.size());
    // A sound container is repacked into the same bytes.
    writeFile(input, readFile(output));
    ASSERT_TRUE(repack(dir.path() / "again.epub")) << message;
    EXPECT_EQ(readFile(dir.path() / "again.epub"), readFile(output));
  }
}

// What cannot be carried stops the job with the unzip job's message (or, for
// two entries of one name, a message of its own), and nothing is written.
TEST_F(RepackJob, RefusesWhatCannotBeCarriedAndWritesNothing) {
  EntryPlan badCrc = deflatedEntry("OEBPS/ch1.xhtml", kText);
  badCrc.crc ^= 1;
  EntryPlan shortData = storedEntry("OEBPS/ch1.xhtml", kText);
  shortData.uncompressedSize += 1;
  const struct {
    const char* name;
    std::vector<EntryPlan> entries;
    std::string message;
  } cases[] = {
      {"CRC", {storedEntry("mimetype", "application/epub+zip"), badCrc}, kCrcMismatchMessage},
      {"length", {shortData}, kLengthMismatchMessage},
      {"unsafe name", {storedEntry("../evil.xhtml", kText)}, formatText(kUnsafeNameMessage, "../evil.xhtml")},
      {"same name twice",
       {storedEntry("a.xhtml", kText), storedEntry("a.xhtml", "other")},
       formatText(kDuplicateNameMessage, "a.xhtml")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    put(planOf(c.entries));
    const std::string before = readFile(input);
    EXPECT_FALSE(repack(input));
    EXPECT_EQ(message, c.message);
    EXPECT_EQ(readFile(input), before);
    EXPECT_EQ(test::listTree(dir.path()), std::set<std::string>{"in.epub"});
  }
}

// In place, the old epub goes to the backup folder first; at a level, the
// data is packed again by the zip job's rules and unpacks to the same files.
TEST_F(RepackJob, ReplacesInPlaceWithABackupAndPacksAgainAtALevel) {
  ArchivePlan plan = smallEpubPlan();
  plan.entries.push_back(storedEntry("OEBPS/images/cover.png", "png bytes, stored"));
  plan.entries.push_back(deflatedEntry("OEBPS/sub\\back.xhtml", kText));
  const std::string original = buildArchive(plan);
  writeFile(input, original);
  const auto files = unpacked(input, dir.path() / "original");
  for (const std::uint32_t level : {0u, 9u}) {
    SCOPED_TRACE(level);
    writeFile(input, original);
    fs::remove_all(dir.path() / "backups");
    ASSERT_TRUE(repack(input, level)) << message;
    EXPECT_EQ(readFile(dir.path() / "backups" / "back1.zip"), original);
    for (const sKeptEntry& entry : entriesOf(input.string())) {
      const bool stored = level == 0 || entry.name == "mimetype" || entry.name.ends_with(".png");
      EXPECT_EQ(entry.method, stored ? kMethodStored : kMethodDeflated) << entry.name;
    }
    const fs::path folder = dir.path() / ("level" + std::to_string(level));
    EXPECT_EQ(unpacked(input, folder), files);
  }
}

}  // namespace
}  // namespace plimsy
