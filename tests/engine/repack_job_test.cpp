#include "engine/repack_job.h"

#include <atomic>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/paths.h"
#include "core/platform.h"
#include "core/text.h"
#include "engine/container_check.h"
#include "engine/unzip_job.h"
#include "engine/zip_reader.h"
#include "support/file_tree.h"
#include "support/repack_books.h"
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
  std::string data;         // the compressed bytes
  std::uint16_t flags = 0;  // the central directory's general flags
};

std::vector<sKeptEntry> entriesOf(const std::string& path) {
  cZipReader reader;
  std::string message;
  EXPECT_TRUE(reader.open(&message, path)) << message;
  std::vector<sKeptEntry> kept;
  for (const sZipEntry& entry : reader.entries()) {
    const auto* data = reinterpret_cast<const char*>(reader.viewData() + entry.dataOffset);
    kept.push_back({entry.lfh.name, entry.lfh.header.compressionMethod(), entry.lfh.header.date(),
                    entry.lfh.header.time(), std::string(data, entry.cdr.effectiveCompressedSize()),
                    entry.cdr.header.generalFlags()});
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

// The container codes the check gives for an archive.
std::set<std::string> checkCodes(const fs::path& epub) {
  std::set<std::string> codes;
  for (const sFinding& finding : checkContainer(epub.string())) codes.insert(finding.code);
  return codes;
}

// Books that repack once broke: each is repacked, then the result is checked
// as a reader would: the container check finds no code the book did not
// have, every entry but mimetype comes out in order under its name (a folder
// with its "/"), with its time, UTF-8 flag and compressed bytes (packed
// again: its content), and the result unpacks. A book that cannot be carried
// is refused with its message, and a repack into a missing folder leaves
// no folder behind.
class RepackBooks : public RepackJob {
 protected:
  void expectRepackedWell(const test::RepackBook& book) {
    constexpr std::uint16_t kUtf8Flag = 0x0800;
    fs::remove_all(dir.path());
    fs::create_directories(dir.path());
    put(book.plan);
    const fs::path output = dir.path() / "new" / "deeper" / "out.epub";
    sRepackOrder order{input.string(), output.string(), "", book.level};
    std::vector<std::string> dropped{"(not set)"};
    const bool done = repackJob(order, &message, statistics, &dropped);
    if (book.refusal) {
      EXPECT_FALSE(done);
      EXPECT_EQ(message, *book.refusal);
      EXPECT_EQ(test::listTree(dir.path()), std::set<std::string>{"in.epub"});
      return;
    }
    ASSERT_TRUE(done) << message;
    EXPECT_EQ(dropped, book.dropped);

    const std::set<std::string> was = checkCodes(input);
    for (const std::string& code : checkCodes(output)) EXPECT_TRUE(was.count(code)) << "new finding " << code;
    const std::vector<sKeptEntry> result = entriesOf(output.string());
    ASSERT_FALSE(result.empty());
    EXPECT_EQ(result[0].name, "mimetype");
    EXPECT_EQ(result[0].method, kMethodStored);
    EXPECT_EQ(result[0].data, "application/epub+zip");
    std::vector<std::string> names;
    for (std::size_t i = 1; i < result.size(); ++i) names.push_back(result[i].name);
    EXPECT_EQ(names, test::namesAfterRepack(book));
    std::map<std::string, sKeptEntry> before;
    for (const sKeptEntry& entry : entriesOf(input.string())) before.emplace(entry.name, entry);
    for (std::size_t i = 1; i < result.size(); ++i) {
      const sKeptEntry& after = result[i];
      SCOPED_TRACE(after.name);
      const bool folder = after.name.ends_with('/');
      const auto old = before.find(folder ? after.name.substr(0, after.name.size() - 1) : after.name);
      ASSERT_NE(old, before.end());
      EXPECT_EQ(after.dosDate, old->second.dosDate);
      EXPECT_EQ(after.dosTime, old->second.dosTime);
      EXPECT_EQ(after.flags & kUtf8Flag, old->second.flags & kUtf8Flag);
      if (folder) {
        EXPECT_EQ(after.data, "");
      } else if (!book.level) {
        EXPECT_EQ(after.method, old->second.method);
        EXPECT_EQ(after.data, old->second.data);
      }
    }
    // The result unpacks, every file with its content.
    const auto files = unpacked(output, dir.path() / "unpacked");
    for (const test::EntryPlan& entry : book.plan.entries) {
      if (entry.name == "mimetype" || entry.name.ends_with('/')) continue;
      if (std::find(book.dropped.begin(), book.dropped.end(), entry.name) != book.dropped.end()) continue;
      if (book.renamed.count(entry.name)) {
        EXPECT_TRUE(fs::is_directory(dir.path() / "unpacked" / pathFromUtf8(entry.name))) << entry.name;
        continue;
      }
      const auto file = files.find(entry.name);
      ASSERT_NE(file, files.end()) << entry.name;
      EXPECT_EQ(file->second.size(), entry.uncompressedSize) << entry.name;
    }
  }
};

TEST_F(RepackBooks, NoBookComesOutWorseThanItWent) {
  for (const test::RepackBook& book : test::repackBooks()) {
    SCOPED_TRACE(book.label);
    expectRepackedWell(book);
  }
}

// Both jobs refuse an entry whose local header gives another name than the
// central directory (the name a checker reads), before anything is written,
// naming both spellings as UTF-8.
TEST_F(RepackJob, AnEntryOfTwoNamesIsRefusedByRepackAndUnzip) {
  const struct {
    const char* central;
    const char* local;
  } cases[] = {
      {"OEBPS/chapter1.xhtml", "OEBPS/chapter2.xhtml"},
      {"OEBPS/chapter1.xhtml", "OEBPS/Chapter1.xhtml"},
      {"OEBPS/chapter1.xhtml", "OEBPS\\chapter1.xhtml"},
      {"OEBPS/caf\xC3\xA9.xhtml", "OEBPS/cafe\xCC\x81.xhtml"},  // equal after NFC: they look alike
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.local);
    fs::remove_all(dir.path());
    fs::create_directories(dir.path());
    ArchivePlan plan = smallEpubPlan();
    plan.entries.push_back(deflatedEntry(c.central, kText));
    plan.entries.back().lfhName = c.local;
    put(plan);
    const std::string expected = formatTextUnlimited(kTwoNamesMessage, displayUtf8(c.central), displayUtf8(c.local));
    EXPECT_FALSE(repack(dir.path() / "out.epub"));
    EXPECT_EQ(message, expected);
    sStatistics counts;
    std::string unzipped;
    EXPECT_FALSE(unzipJob(test::unzipOrder(input.string(), (dir.path() / "files").string()), &unzipped, counts));
    EXPECT_EQ(unzipped, expected);
    EXPECT_EQ(test::listTree(dir.path()), std::set<std::string>{"in.epub"});
  }
}

// An archive rewritten while it is repacked: what was read from it cannot
// be trusted, whatever else failed (a CRC, say). Windows lets nobody write a
// file that is being read: there the job simply succeeds.
TEST_F(RepackJob, AnArchiveChangedWhileItIsRepackedFailsClearly) {
  ArchivePlan plan = smallEpubPlan();
  for (int i = 0; i < 40; ++i) plan.entries.push_back(deflatedEntry("OEBPS/" + std::to_string(i) + ".xhtml", kText));
  ArchiveLayout layout;
  const std::string original = buildArchive(plan, &layout);
  for (const std::optional<std::uint32_t> level : {std::optional<std::uint32_t>(), std::optional<std::uint32_t>(9)}) {
    SCOPED_TRACE(level ? "packed again" : "copied");
    writeFile(input, original);
    fs::remove(dir.path() / "out.epub");
    std::atomic<bool> tried{false};
    std::atomic<bool> changed{false};
    platform::observeOperations([&](platform::FaultOperation operation) {
      if (operation != platform::FaultOperation::Write || tried.exchange(true)) return;
      // Every chapter's data damaged in place: same length, other bytes.
      std::string bytes = original;
      for (std::size_t i = 3; i < layout.dataOffsets.size(); ++i) bytes[layout.dataOffsets[i] + 1] ^= 0x55;
      platform::File file;
      if (!file.open(input.string(), platform::File::Mode::WriteTruncate)) return;
      changed = file.write(bytes.data(), bytes.size());
      file.close();
      std::error_code error;
      fs::last_write_time(input, fs::last_write_time(input) + std::chrono::seconds(1), error);
    });
    const bool done = repack(dir.path() / "out.epub", level);
    platform::observeOperations(nullptr);
    ASSERT_TRUE(tried);
    EXPECT_EQ(done ? std::string("(done)") : message, changed ? kArchiveChangedMessage : "(done)");
  }
}

// The note the command line prints for what the job left out.
TEST(RepackReport, SaysWhichEntriesWereLeftOut) {
  EXPECT_EQ(droppedEntriesNote({}), "");
  EXPECT_EQ(droppedEntriesNote({"MIMETYPE", "MimeType"}),
            formatText(kDroppedMimetypeNote, "MIMETYPE") + "\n" + formatText(kDroppedMimetypeNote, "MimeType"));
}

}  // namespace
}  // namespace plimsy
