#include "engine/unzip_job.h"

#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "core/filetime.h"
#include "core/message.h"
#include "core/platform.h"
#include "core/text.h"
#include "engine/crc32.h"
#include "engine/zip_job.h"
#include "support/file_tree.h"
#include "support/messages.h"
#include "support/sample_data.h"
#include "support/special_files.h"
#include "support/temp_dir.h"
#include "support/work_orders.h"
#include "support/zip_builder.h"

namespace fs = std::filesystem;

namespace plimsy {
namespace {

using test::ArchivePlan;
using test::buildArchive;
using test::deflatedEntry;
using test::listTree;
using test::planOf;
using test::readTree;
using test::storedEntry;
using test::TempDir;
using test::writeFile;

using Tree = std::map<std::string, std::string>;

const char* const kMimetype = "application/epub+zip";
const char* const kChapter = "<html><body><p>Call me Ishmael. Some years ago, never mind how long.</p></body></html>\n";

// 2021-05-06 07:08:09 UTC.
FileTime fixedTime() {
  FileTime time = 0;
  EXPECT_TRUE(parseDatetime("2021-05-06T07:08:09Z", time));
  return time;
}

FileTime writeTimeOf(const std::string& path) {
  platform::FileTimes times;
  EXPECT_TRUE(platform::readFileTimes(path, times)) << path;
  return times.write;
}

class UnzipJob : public ::testing::Test {
 protected:
  void putArchive(const ArchivePlan& plan) { writeFile(order.ZipPath, buildArchive(plan)); }
  void putFiles(const Tree& files) {
    for (const auto& [name, content] : files) writeFile(dir.path() / "files" / name, content);
  }

  bool unzip() {
    message.clear();
    return unzipJob(order, &message, statistics);
  }

  // The job's message when it fails; "(done)" when it succeeds.
  std::string failure() { return unzip() ? "(done)" : message; }
  Tree files() const { return readTree(dir.path() / "files"); }
  std::set<std::string> topLevel() const { return test::namesIn(dir.path()); }

  TempDir dir;
  EpubWorkOrder order = test::unzipOrder(dir / "book.epub", dir / "files");
  std::string message;
  sStatistics statistics;
};

ArchivePlan threeEntries() {
  return planOf({storedEntry("mimetype", kMimetype), deflatedEntry("OEBPS/text/ch1.xhtml", kChapter),
                 deflatedEntry("META-INF/container.xml", "<container/>")});
}

const Tree kThreeFiles = {
    {"mimetype", kMimetype}, {"OEBPS/text/ch1.xhtml", kChapter}, {"META-INF/container.xml", "<container/>"}};

// ---- Where the entries go --------------------------------------------------------------

TEST_F(UnzipJob, IntoAMissingFolderWritesStraightIntoItWithoutTempOrBackup) {
  putArchive(threeEntries());
  order.BackupDir = dir / "backups";
  ASSERT_TRUE(unzip()) << message;

  EXPECT_EQ(files(), kThreeFiles);
  EXPECT_EQ(topLevel(), (std::set<std::string>{"book.epub", "files"}));

  sStatistics expected;
  expected.files = 3;
  expected.stored = 1;
  expected.storedBytes = 20;
  expected.deflated = 2;
  const ArchivePlan plan = threeEntries();
  expected.deflatedInputBytes = plan.entries[1].uncompressedSize + plan.entries[2].uncompressedSize;
  expected.deflatedOutputBytes = plan.entries[1].data.size() + plan.entries[2].data.size();
  EXPECT_EQ(statistics, expected);
}

TEST_F(UnzipJob, OverAnExistingFolderUnpacksBesideItBacksItUpAndSwaps) {
  putArchive(threeEntries());
  putFiles({{"old.txt", "old"}, {"sub/older.txt", "older"}});
  fs::create_directory(dir.path() / "temp1");  // taken: the work folder becomes temp2
  writeFile(dir.path() / "backups" / "back1" / "x", "an earlier backup");
  order.BackupDir = dir / "backups";
  ASSERT_TRUE(unzip()) << message;

  EXPECT_EQ(files(), kThreeFiles);
  EXPECT_EQ(readTree(dir.path() / "backups" / "back2"), (Tree{{"old.txt", "old"}, {"sub/older.txt", "older"}}));
  EXPECT_EQ(readTree(dir.path() / "backups" / "back1"), (Tree{{"x", "an earlier backup"}}));
  // Neither the work folder nor the old folder, renamed aside, is left.
  EXPECT_EQ(topLevel(), (std::set<std::string>{"backups", "book.epub", "files", "temp1"}));
}

TEST_F(UnzipJob, WithoutBackupsTheOldFolderIsReplacedAndGone) {
  putArchive(threeEntries());
  putFiles({{"old.txt", "old"}});
  ASSERT_TRUE(unzip()) << message;
  EXPECT_EQ(files(), kThreeFiles);
  EXPECT_EQ(topLevel(), (std::set<std::string>{"book.epub", "files"}));
}

TEST_F(UnzipJob, BackupFolderThatIsAFileFailsBeforeTheOldFolderIsTouched) {
  putArchive(threeEntries());
  putFiles({{"old.txt", "old"}});
  writeFile(dir.path() / "backups", "a file");
  order.BackupDir = dir / "backups";
  EXPECT_EQ(test::firstLine(failure()), "Unable to create directory for backup.");
  EXPECT_EQ(files(), (Tree{{"old.txt", "old"}}));
  EXPECT_EQ(readTree(dir.path() / "temp1"), kThreeFiles);
  EXPECT_EQ(statistics.files, 3u);  // the counts of a job that got that far
}

TEST_F(UnzipJob, BackupFolderInsideTheFilesFolderIsRefused) {
  putArchive(threeEntries());
  putFiles({{"old.txt", "old"}});
  order.BackupDir = dir / "files/backups";
  EXPECT_FALSE(unzip());
  EXPECT_EQ(message, kBackupInsideFilesMessage);
  // Refused before anything is unpacked or made.
  EXPECT_EQ(listTree(dir.path()), (std::set<std::string>{"book.epub", "files/", "files/old.txt"}));
}

TEST_F(UnzipJob, FailedChecksLeaveTheStatisticsAlone) {
  statistics.files = 42;
  EXPECT_EQ(failure(), "You specified an epub file that doesn't exist.");
  writeFile(order.ZipPath, "x");
  order.FilesDir = "relative/files";
  EXPECT_EQ(failure(), "Files directory path is not absolute.\nrelative/files");
  EXPECT_EQ(statistics.files, 42u);
  EXPECT_FALSE(fs::exists(dir.path() / "files"));
}

// Marks a file or folder immutable (it can then be neither renamed nor
// removed, not even by root), or clears the mark. False where the file
// system or the user's rights do not allow it.
bool setImmutable(const fs::path& path, bool immutable) {
  const std::string command =
      std::string("chattr ") + (immutable ? "+i '" : "-i '") + path.string() + "' >/dev/null 2>&1";
  return std::system(command.c_str()) == 0;
}

TEST_F(UnzipJob, AFailedSwapLeavesTheOldFolderInPlaceAndTheNewOneBesideIt) {
  putArchive(threeEntries());
  putFiles({{"old.txt", "old"}});
  const fs::path filesDir = dir.path() / "files";
  if (!setImmutable(filesDir, true)) GTEST_SKIP() << "cannot make a folder immutable here";
  const bool done = unzip();
  setImmutable(filesDir, false);
  EXPECT_FALSE(done);
  EXPECT_EQ(test::firstLine(message), kRenameWorkFolderMessage);
  EXPECT_EQ(files(), (Tree{{"old.txt", "old"}}));
  EXPECT_EQ(readTree(dir.path() / "temp1"), kThreeFiles);
}

TEST_F(UnzipJob, AnOldFolderThatCannotBeDeletedStaysAsideWithTheNewOneInPlace) {
  putArchive(threeEntries());
  putFiles({{"old.txt", "old"}, {"stuck.txt", "stuck"}});
  const fs::path stuck = dir.path() / "files" / "stuck.txt";
  if (!setImmutable(stuck, true)) GTEST_SKIP() << "cannot make a file immutable here";
  order.tDatetime = fixedTime();
  const bool done = unzip();
  setImmutable(dir.path() / "old1" / "stuck.txt", false);
  setImmutable(stuck, false);
  EXPECT_FALSE(done);
  EXPECT_EQ(message.rfind("Unable to delete old directory tree so it can be replaced by new one; ", 0), 0u) << message;
  EXPECT_EQ(files(), kThreeFiles);
  EXPECT_EQ(writeTimeOf((dir.path() / "files").string()), order.tDatetime);  // finished but for the old folder
  EXPECT_TRUE(fs::exists(dir.path() / "old1" / "stuck.txt"));                // what could not be deleted
}

// ---- What the entries become -----------------------------------------------------------

TEST_F(UnzipJob, EntriesWithoutDataBecomeEmptyFilesAndFoldersCountedAsZeroLength) {
  putArchive(planOf({storedEntry("mimetype", kMimetype), storedEntry("empty.txt", ""), storedEntry("OEBPS/", ""),
                     storedEntry("OEBPS/images/", ""), deflatedEntry("OEBPS/a.xhtml", kChapter),
                     // Some writers give folder entries an empty deflate stream.
                     deflatedEntry("OEBPS/fonts/", ""), storedEntry("OEBPS/Styles/empty.css", "")}));
  // Folders whose names lack the separator, known by their attributes.
  ArchivePlan plan = planOf({storedEntry("Misc", ""), storedEntry("Text", ""), storedEntry("Text/a.txt", "a")});
  plan.entries[0].editCdr = [](Cdr& c) { c.setExternalAttr(0x10); };  // MS-DOS folder
  plan.entries[1].editCdr = [](Cdr& c) {
    c.setVersionMadeBy(0x031E);  // made on Unix
    c.setExternalAttr(0040755u << 16);
  };
  writeFile(dir.path() / "folders.epub", buildArchive(plan));
  EpubWorkOrder folders = test::unzipOrder(dir / "folders.epub", dir / "folders");
  ASSERT_TRUE(unzipJob(folders, &message, statistics)) << message;
  EXPECT_EQ(listTree(dir.path() / "folders"), (std::set<std::string>{"Misc/", "Text/", "Text/a.txt"}));
  ASSERT_TRUE(unzip()) << message;
  EXPECT_EQ(
      readTree(dir.path() / "files"),
      (Tree{{"mimetype", kMimetype}, {"empty.txt", ""}, {"OEBPS/a.xhtml", kChapter}, {"OEBPS/Styles/empty.css", ""}}));
  for (const char* folder : {"OEBPS/images", "OEBPS/fonts"})
    EXPECT_TRUE(fs::is_directory(dir.path() / "files" / folder)) << folder;
  EXPECT_EQ(statistics.files, 7u);
  EXPECT_EQ(statistics.zeroLength, 5u);
}

TEST_F(UnzipJob, EmptyEntriesThatAnnounceDataAreRefused) {
  const struct {
    std::function<void(Cdr&)> edit;
    const char* message;
  } cases[] = {
      {[](Cdr& c) { c.setUncompressedSize(5); }, kLengthMismatchMessage},
      {[](Cdr& c) { c.setCrc(0x12345678); }, kCrcMismatchMessage},
  };
  for (const auto& [edit, expected] : cases) {
    ArchivePlan plan = planOf({storedEntry("empty.css", "")});
    plan.entries[0].editCdr = edit;
    putArchive(plan);
    EXPECT_FALSE(unzip());
    EXPECT_EQ(message, expected);
    fs::remove_all(dir.path() / "files");
  }
}

TEST_F(UnzipJob, BothSlashAndBackslashSeparateFolders) {
  putArchive(planOf({storedEntry("a/b/c.txt", "slashes"), storedEntry("d\\e\\f.txt", "backslashes"),
                     storedEntry("a\\g.txt", "mixed")}));
  ASSERT_TRUE(unzip()) << message;
  EXPECT_EQ(files(), (Tree{{"a/b/c.txt", "slashes"}, {"d/e/f.txt", "backslashes"}, {"a/g.txt", "mixed"}}));
}

TEST_F(UnzipJob, NamesAreUtf8BytesUnchanged) {
  putArchive(planOf({storedEntry("caf\xC3\xA9/r\xC3\xA9sum\xC3\xA9.txt", "accents")}));
  ASSERT_TRUE(unzip()) << message;
  EXPECT_EQ(files(), (Tree{{"caf\xC3\xA9/r\xC3\xA9sum\xC3\xA9.txt", "accents"}}));
}

TEST_F(UnzipJob, StreamedEntriesAreSizedFromTheCentralDirectory) {
  // As streaming writers make them: flag bit 3, zero sizes and CRC in the
  // local header, the real values in the central directory.
  ArchivePlan plan = threeEntries();
  for (test::EntryPlan& entry : plan.entries) {
    entry.editLfh = [](Lfh& h) {
      h.setGeneralFlags(0x0008);
      h.setCrc(0);
      h.setCompressedSize(0);
      h.setUncompressedSize(0);
    };
  }
  putArchive(plan);
  ASSERT_TRUE(unzip()) << message;
  EXPECT_EQ(files(), kThreeFiles);
  EXPECT_EQ(statistics.storedBytes, 20u);
  EXPECT_EQ(statistics.deflatedInputBytes, plan.entries[1].uncompressedSize + plan.entries[2].uncompressedSize);
}

TEST_F(UnzipJob, EntriesAreCheckedForLengthBeforeCrc) {
  struct Case {
    const char* label;
    test::EntryPlan entry;
    std::function<void(Cdr&)> edit;
    const char* expected;
  };
  const Case cases[] = {
      {"deflated, longer than declared", deflatedEntry("a", kChapter),
       [](Cdr& c) { c.setUncompressedSize(c.uncompressedSize() - 1); }, kLengthMismatchMessage},
      {"deflated, shorter than declared, CRC wrong too", deflatedEntry("a", kChapter),
       [](Cdr& c) {
         c.setUncompressedSize(c.uncompressedSize() + 1);
         c.setCrc(c.crc() ^ 1);
       },
       kLengthMismatchMessage},
      {"deflated, CRC wrong", deflatedEntry("a", kChapter), [](Cdr& c) { c.setCrc(c.crc() ^ 1); }, kCrcMismatchMessage},
      {"stored, CRC wrong", storedEntry("a", kChapter), [](Cdr& c) { c.setCrc(c.crc() ^ 1); }, kCrcMismatchMessage},
      {"stored, sizes differ", storedEntry("a", kChapter),
       [](Cdr& c) { c.setUncompressedSize(c.uncompressedSize() + 1); }, kLengthMismatchMessage},
      {"deflated, stream cut short", deflatedEntry("a", kChapter),
       [](Cdr& c) { c.setCompressedSize(c.compressedSize() - 3); }, kDeflatedWriteMessage},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    ArchivePlan plan = planOf({c.entry});
    plan.entries[0].editCdr = c.edit;
    putArchive(plan);
    fs::remove_all(dir.path() / "files");
    EXPECT_EQ(test::firstLine(failure()), c.expected);
  }
}

TEST_F(UnzipJob, CorruptDeflateStreamCannotBeWritten) {
  ArchivePlan plan = planOf({deflatedEntry("a.xhtml", kChapter)});
  plan.entries[0].data[0] = '\x07';  // final block of the reserved type 3
  putArchive(plan);
  EXPECT_EQ(test::firstLine(failure()), kDeflatedWriteMessage);
}

TEST_F(UnzipJob, OtherMethodsBehindZeroLocalSizesAreRefused) {
  // The reader counts an entry whose local header has no size as empty,
  // whatever its method; the data is read with the central directory's size.
  ArchivePlan plan = planOf({storedEntry("a.txt", "some text")});
  plan.entries[0].method = 12;
  plan.entries[0].editLfh = [](Lfh& h) { h.setCompressedSize(0); };
  putArchive(plan);
  EXPECT_EQ(failure(), kOtherMethodMessage);
}

TEST_F(UnzipJob, AFailureMidArchiveLeavesTheWorkFolderBesideTheUntouchedFilesFolder) {
  ArchivePlan plan = threeEntries();
  plan.entries[2].editCdr = [](Cdr& c) { c.setCrc(c.crc() + 1); };
  putArchive(plan);
  putFiles({{"old.txt", "old"}});
  order.BackupDir = dir / "backups";
  EXPECT_EQ(failure(), kCrcMismatchMessage);
  EXPECT_EQ(files(), (Tree{{"old.txt", "old"}}));
  Tree written = kThreeFiles;  // the failed entry's output stays as written
  EXPECT_EQ(readTree(dir.path() / "temp1"), written);
  EXPECT_EQ(topLevel(), (std::set<std::string>{"book.epub", "files", "temp1"}));
  EXPECT_EQ(statistics.files, 2u);
}

// Many entries are unpacked by several threads; the job still fails with the
// message of the first failing entry in central directory order.
TEST_F(UnzipJob, TheFirstFailingEntryDecidesTheMessageWhateverTheThreads) {
  ArchivePlan plan;
  for (int i = 0; i < 200; ++i)
    plan.entries.push_back(deflatedEntry("OEBPS/" + std::to_string(i) + ".xhtml", kChapter));
  plan.entries[150].editCdr = [](Cdr& c) { c.setCrc(c.crc() ^ 1); };
  plan.entries[90].editCdr = [](Cdr& c) { c.setUncompressedSize(c.uncompressedSize() + 1); };
  putArchive(plan);
  for (int round = 0; round < 5; ++round) {
    fs::remove_all(dir.path() / "files");
    EXPECT_EQ(failure(), kLengthMismatchMessage);
  }
  plan.entries[90].editCdr = nullptr;
  plan.entries[150].editCdr = nullptr;
  putArchive(plan);
  fs::remove_all(dir.path() / "files");
  ASSERT_EQ(failure(), "(done)");
  EXPECT_EQ(files().size(), 200u);
  EXPECT_EQ(statistics.files, 200u);
  EXPECT_EQ(statistics.deflated, 200u);
  EXPECT_EQ(statistics.deflatedInputBytes, 200 * std::string(kChapter).size());
}

// A failed unzip takes away the folders it made when they hold no file: the
// files folder it was to make (with the folders above it that it made) or
// its work folder beside an existing one, which stays untouched. A work
// folder holding what could be read out of a damaged book stays.
TEST_F(UnzipJob, AFailedUnzipLeavesNoEmptyFolderItMade) {
  ArchivePlan unsafe = planOf({storedEntry("mimetype", kMimetype), storedEntry("../escaped", "x")});
  ArchivePlan otherMethod = planOf({storedEntry("OEBPS/a.txt", "some text")});
  otherMethod.entries[0].method = 12;
  ArchivePlan badCrc = threeEntries();
  badCrc.entries[1].editCdr = [](Cdr& c) { c.setCrc(c.crc() ^ 1); };
  const struct {
    const char* label;
    std::optional<std::string> epub;  // none: missing
    std::string message;
    Tree left;  // what the work folder keeps
  } cases[] = {
      {"not a zip", std::string("PK"), "Not a valid zip file.", {}},
      {"a text file",
       std::string("Call me Ishmael. Some years ago, never mind how long."),
       "Unable to find end of central directory.",
       {}},
      {"an unsafe name", buildArchive(unsafe), "Unsafe file name in zip file:\n../escaped", {}},
      {"another method", buildArchive(otherMethod), kOtherMethodMessage, {}},
      {"missing", std::nullopt, "You specified an epub file that doesn't exist.", {}},
      {"damaged after one entry",
       buildArchive(badCrc),
       kCrcMismatchMessage,
       {{"mimetype", kMimetype}, {"OEBPS/text/ch1.xhtml", kChapter}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    fs::remove_all(dir.path());
    fs::create_directories(dir.path());
    if (c.epub) writeFile(order.ZipPath, *c.epub);
    const std::set<std::string> epub = c.epub ? std::set<std::string>{"book.epub"} : std::set<std::string>{};

    // A new files folder, below folders that do not exist yet either.
    order.FilesDir = dir / "new/deeper/files";
    EXPECT_TRUE(failure().starts_with(c.message)) << message;
    if (c.left.empty()) {
      EXPECT_EQ(topLevel(), epub);
    } else {
      EXPECT_EQ(readTree(dir.path() / "new" / "deeper" / "files"), c.left);
      fs::remove_all(dir.path() / "new");
    }

    // An existing files folder: untouched, and no empty work folder beside it.
    order.FilesDir = dir / "files";
    putFiles({{"old.txt", "old"}});
    EXPECT_TRUE(failure().starts_with(c.message)) << message;
    EXPECT_EQ(files(), (Tree{{"old.txt", "old"}}));
    std::set<std::string> expected = epub;
    expected.insert("files");
    if (!c.left.empty()) {
      expected.insert("temp1");
      EXPECT_EQ(readTree(dir.path() / "temp1"), c.left);
    }
    EXPECT_EQ(topLevel(), expected);
  }
}

TEST_F(UnzipJob, AFileInTheWayOfAFolderFailsCleanly) {
  putArchive(planOf({storedEntry("a", "a file"), storedEntry("a/b", "below a file")}));
  EXPECT_EQ(test::firstLine(failure()), kNoUnzipFolderMessage);
  EXPECT_EQ(files(), (Tree{{"a", "a file"}}));

  putArchive(planOf({storedEntry("a/b", "in a folder"), storedEntry("a", "where the folder is")}));
  fs::remove_all(dir.path() / "files");
  EXPECT_EQ(test::firstLine(failure()), kNoOutputFileMessage);
}

TEST_F(UnzipJob, ALinkPlantedInTheWorkFolderIsNeverWrittenThrough) {
  writeFile(dir.path() / "outside.txt", "keep");
  const struct {
    test::EntryPlan entry;
    const char* expected;
  } plants[] = {
      {storedEntry("b.txt", "stored"), kNoOutputFileMessage},
      {deflatedEntry("b.txt", kChapter), kDeflatedWriteMessage},
      {storedEntry("b.txt", ""), kNoOutputFileMessage},
  };
  for (const auto& [entry, expected] : plants) {
    SCOPED_TRACE(entry.name);
    fs::remove_all(dir.path() / "files");
    putArchive(planOf({storedEntry("mimetype", kMimetype), entry}));
    bool planted = false;
    // Another program puts a link where the next entry goes while the first is written.
    platform::observeOperations([&](platform::FaultOperation operation) {
      if (operation == platform::FaultOperation::Write && !planted)
        planted = test::makeLink(dir.path() / "outside.txt", dir.path() / "files" / "b.txt");
    });
    const std::string outcome = failure();
    platform::observeOperations(nullptr);
    if (!planted) GTEST_SKIP() << test::kNoLinks;
    EXPECT_EQ(test::firstLine(outcome), expected);
    EXPECT_EQ(test::readFile(dir / "outside.txt"), "keep");
  }
}

// ---- Times -----------------------------------------------------------------------------

TEST_F(UnzipJob, FixedDatetimeStampsEveryFileAndFolder) {
  putArchive(threeEntries());
  putFiles({{"old.txt", "old"}});
  order.tDatetime = fixedTime();
  ASSERT_TRUE(unzip()) << message;
  const fs::path root = dir.path() / "files";
  EXPECT_EQ(writeTimeOf(root.string()), order.tDatetime);
  for (const std::string& item : listTree(root))
    EXPECT_EQ(writeTimeOf((root / item).string()), order.tDatetime) << item;
}

TEST_F(UnzipJob, FilesTakeTheirDosTimesAndFoldersTheTimeOfUnpacking) {
  ArchivePlan plan = threeEntries();
  plan.entries[2].dosDate = 0;  // no valid date: keeps the time it was written
  putArchive(plan);
  order.RealFileCreationTimes = true;
  const FileTime before = platform::currentFileTime();
  ASSERT_TRUE(unzip()) << message;
  const FileTime after = platform::currentFileTime() + 2 * kFileTimeTicksPerSecond;
  const fs::path root = dir.path() / "files";

  FileTime dosTime = 0;
  ASSERT_TRUE(dosDateTimeToFileTime(test::kTestDosDate, test::kTestDosTime, dosTime));
  EXPECT_EQ(writeTimeOf((root / "mimetype").string()), dosTime);
  EXPECT_EQ(writeTimeOf((root / "OEBPS/text/ch1.xhtml").string()), dosTime);
  // File systems keep coarser clocks than ours: allow them a second.
  const FileTime undated = writeTimeOf((root / "META-INF/container.xml").string());
  EXPECT_GE(undated + kFileTimeTicksPerSecond, before);
  EXPECT_LE(undated, after);
  for (const char* folder : {"", "OEBPS/", "OEBPS/text/", "META-INF/"}) {
    const FileTime time = writeTimeOf((root / folder).string());
    EXPECT_GE(time + kFileTimeTicksPerSecond, before) << folder;
    EXPECT_LE(time, after) << folder;
  }
}

// ---- The pieces ------------------------------------------------------------------------

TEST(UnzipPieces, ListFoldersGoesDepthFirstAndSkipsLinks) {
  TempDir dir;
  for (const char* folder : {"b/c", "a", "b/d/e"}) fs::create_directories(dir.path() / folder);
  writeFile(dir.path() / "b" / "file.txt", "x");
  if (!test::makeLink(dir.path() / "a", dir.path() / "b" / "link", true)) GTEST_SKIP() << test::kNoLinks;
  const std::string root = dir.str();
  EXPECT_EQ(listFolders(dir.path().string()),
            (std::vector<std::string>{root, root + "a/", root + "b/", root + "b/c/", root + "b/d/", root + "b/d/e/"}));
}

TEST(UnzipPieces, InflateEntryNeedsTheWholeStreamAndStopsAtTheLimit) {
  TempDir dir;
  const std::string text(200'000, 'z');
  const std::string stream = test::rawDeflate(text) + "trailing bytes are ignored";
  const auto* data = reinterpret_cast<const std::uint8_t*>(stream.data());
  const std::string out = dir / "out";
  cInflater inflater;
  sInflateSink sink;
  sink.inflater = &inflater;

  ASSERT_TRUE(inflateEntry(sink, out, data, stream.size()));
  EXPECT_EQ(test::readFile(out), text);
  EXPECT_EQ(sink.bytesWritten, text.size());
  EXPECT_EQ(sink.crc, crc32Of(text.data(), text.size()));
  // The same state, used again.
  ASSERT_TRUE(inflateEntry(sink, out, data, stream.size()));
  EXPECT_EQ(sink.bytesWritten, text.size());

  EXPECT_FALSE(inflateEntry(sink, out, data, test::rawDeflate(text).size() - 1));
  EXPECT_FALSE(sink.overran);

  sink.sizeLimit = 1000;
  EXPECT_FALSE(inflateEntry(sink, out, data, stream.size()));
  EXPECT_TRUE(sink.overran);
  EXPECT_LE(fs::file_size(out), 1000u);

  sInflateSink ownState;  // no inflater given: one of its own
  EXPECT_TRUE(inflateEntry(ownState, out, data, stream.size()));
  EXPECT_FALSE(inflateEntry(ownState, dir / "missing/out", data, stream.size()));
  EXPECT_TRUE(ownState.writeFailed);
}

// ---- Round trip ------------------------------------------------------------------------

TEST(UnzipRoundTrip, ZipUnzipZipOfTheSampleBookGivesTheSameBytes) {
  TempDir dir;
  const FileTime time = fixedTime();
  EpubWorkOrder zip;
  zip.DoWhat = kDoWhatZip;
  zip.FilesDir = test::sampleBook().string();
  zip.ZipPath = dir / "first.epub";
  zip.tDatetime = time;
  std::string message;
  sStatistics statistics;
  ASSERT_TRUE(zipJob(zip, &message, statistics)) << message;

  EpubWorkOrder unzip;
  unzip.ZipPath = zip.ZipPath;
  unzip.FilesDir = dir / "unpacked";
  unzip.tDatetime = time;
  ASSERT_TRUE(unzipJob(unzip, &message, statistics)) << message;
  EXPECT_EQ(readTree(dir.path() / "unpacked"), readTree(zip.FilesDir));

  zip.FilesDir = unzip.FilesDir;
  zip.ZipPath = dir / "second.epub";
  ASSERT_TRUE(zipJob(zip, &message, statistics)) << message;
  EXPECT_EQ(test::readFile(dir / "second.epub"), test::readFile(dir / "first.epub"));
}

}  // namespace
}  // namespace plimsy
