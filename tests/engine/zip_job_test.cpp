#include <chrono>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/filetime.h"
#include "core/message.h"
#include "core/paths.h"
#include "core/platform.h"
#include "core/settings.h"
#include "core/text.h"
#include "engine/archive_view.h"
#include "engine/check_paths.h"
#include "engine/zip_job.h"
#include "engine/zip_records.h"
#include "support/file_tree.h"
#include "support/messages.h"
#include "support/sample_data.h"
#include "support/special_files.h"
#include "support/temp_dir.h"
#include "support/times.h"
#include "support/work_orders.h"

namespace fs = std::filesystem;

namespace plimsy {
namespace {

using test::ArchiveView;
using test::namesIn;
using test::TempDir;
using test::writeFile;

class ZipJob : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directories(dir.path() / "book"); }

  void put(const std::string& relativePath, std::string_view content = "x") {
    writeFile(dir.path() / "book" / relativePath, content);
  }

  bool zip() {
    message.clear();
    return zipJob(order, &message, statistics);
  }

  // The job's message when it fails; "(done)" when it succeeds.
  std::string failure() { return zip() ? "(done)" : message; }
  ArchiveView epub() const { return test::viewArchive(test::readFile(order.ZipPath)); }

  TempDir dir;
  EpubWorkOrder order = test::zipOrder(dir / "book", dir / "out/book.epub");
  std::string message;
  sStatistics statistics;
};

// ---- Checking the paths ----------------------------------------------------------------

TEST_F(ZipJob, CheckPathsGivesTheFirstFailingTestsMessage) {
  writeFile(dir / "file.txt", "x");
  struct Case {
    const char* label;
    std::function<void(EpubWorkOrder&)> change;
    const char* expected;
  };
  const std::vector<Case> cases = {
      {"level 10", [](EpubWorkOrder& o) { o.CompressionLevel = 10; },
       "Compression level must be between 0 and 9 inclusive."},
      {"level -1", [](EpubWorkOrder& o) { o.CompressionLevel = 0xFFFFFFFF; },
       "Compression level must be between 0 and 9 inclusive."},
      {"no epub", [](EpubWorkOrder& o) { o.ZipPath.clear(); }, "Missing zip file."},
      {"no folder", [](EpubWorkOrder& o) { o.FilesDir.clear(); }, "Missing files folder."},
      {"relative epub", [](EpubWorkOrder& o) { o.ZipPath = "out/book.epub"; }, "Zip file path is not absolute."},
      {"relative folder", [](EpubWorkOrder& o) { o.FilesDir = "book"; }, "Files directory path is not absolute."},
      {"missing folder", [this](EpubWorkOrder& o) { o.FilesDir = dir / "none"; }, "Files folder does not exist."},
      {"folder is a file", [this](EpubWorkOrder& o) { o.FilesDir = dir / "file.txt"; },
       "Files folder is not a directory."},
      {"epub in folder", [this](EpubWorkOrder& o) { o.ZipPath = dir / "book/sub/a.epub"; },
       "Zip file is in files directory tree."},
      {"epub is the folder", [this](EpubWorkOrder& o) { o.ZipPath = dir / "book"; },
       "Zip file is in files directory tree."},
      {"unzip, no epub",
       [this](EpubWorkOrder& o) {
         o.DoWhat = kDoWhatUnzip;
         o.ZipPath = dir / "none.epub";
       },
       "Zip file does not exist."},
      {"unzip, epub is a folder",
       [this](EpubWorkOrder& o) {
         o.DoWhat = kDoWhatUnzip;
         o.ZipPath = dir / "book";
       },
       "Zip file is a directory."},
  };
  for (const Case& c : cases) {
    EpubWorkOrder o = order;
    c.change(o);
    std::string text;
    EXPECT_FALSE(checkPaths(o, &text)) << c.label;
    EXPECT_EQ(test::firstLine(text), c.expected) << c.label;
  }
  EpubWorkOrder unzip = order;
  unzip.DoWhat = kDoWhatUnzip;
  unzip.ZipPath = dir / "file.txt";
  unzip.FilesDir = dir / "not-yet";  // an unzip makes its folder
  EXPECT_TRUE(checkPaths(unzip, &message)) << message;
  EXPECT_EQ(unzip.FilesDir, dir / "not-yet/");
  EpubWorkOrder ok = order;
  ok.FilesDir += "/";
  EXPECT_TRUE(checkPaths(ok, &message)) << message;
  EXPECT_EQ(ok.FilesDir, (dir / "book") + "/");  // never doubled
}

TEST_F(ZipJob, BadLevelIsRefusedBeforeAnythingIsTouched) {
  put("a.txt");
  fs::create_directories(dir.path() / "out");
  for (const std::uint32_t level : {10u, 0xFFFFFFFFu}) {
    order.CompressionLevel = level;
    EXPECT_EQ(failure(), "Compression level must be between 0 and 9 inclusive.");
    EXPECT_TRUE(namesIn(dir.path() / "out").empty());
  }
  order.CompressionLevel = 9;
  order.FilesDir.clear();
  EXPECT_FALSE(zip());
  EXPECT_EQ(message, "Please specify the files folder that you want to zip.");  // the source check runs first
}

// ---- What goes into the archive ------------------------------------------------------------

TEST_F(ZipJob, MimetypeFirstAndStoredThenTheWalkDepthFirst) {
  put("OEBPS/text/ch2.xhtml", "<p>two</p>");
  put("OEBPS/text/ch1.xhtml", "<p>one</p>");
  put("OEBPS/content.opf", "<package/>");
  put("META-INF/container.xml", "<container/>");
  put("MimeType", "application/epub+zip");
  put("OEBPS/sub/mimetype", "stray");
  put("OEBPS/MIMETYPE.txt", "kept");
  put(".hidden", "dot file");
  put("Thumbs.db", "thumbs");
  fs::create_directories(dir.path() / "book" / "empty" / "nested");
  ASSERT_TRUE(zip()) << message;
  const ArchiveView view = epub();
  ASSERT_TRUE(view.ok) << view.error;
  EXPECT_EQ(
      test::namesOf(view),
      (std::vector<std::string>{"mimetype", ".hidden", "META-INF/container.xml", "OEBPS/content.opf",
                                "OEBPS/MIMETYPE.txt", "OEBPS/text/ch1.xhtml", "OEBPS/text/ch2.xhtml", "Thumbs.db"}));
  const test::ViewedEntry& mimetype = view.entries[0];
  EXPECT_EQ(mimetype.lfh.compressionMethod(), kMethodStored);
  EXPECT_EQ(mimetype.offsetLfh, 0u);
  EXPECT_EQ(mimetype.data, "application/epub+zip");
  EXPECT_EQ(mimetype.lfh.extraFieldLength(), 0u);
  for (const test::ViewedEntry& e : view.entries) EXPECT_EQ(test::contentOf(e).has_value(), true) << e.name;
  EXPECT_EQ(statistics.files, 8u);
  EXPECT_EQ(statistics.stored, 1u);
  EXPECT_EQ(statistics.deflated, 7u);
  EXPECT_FALSE(statistics.zip64);
}

TEST_F(ZipJob, FolderWithoutFilesFailsOneWithoutMimetypeDoesNot) {
  EXPECT_EQ(test::firstLine(failure()), "Unable to write central directory.");
  fs::create_directories(dir.path() / "book" / "a" / "b");
  fs::create_directories(dir.path() / "book" / "c");
  EXPECT_EQ(test::firstLine(failure()), "Unable to write central directory.");
  EXPECT_EQ(statistics, sStatistics{});
  put("c/a.xhtml");
  ASSERT_TRUE(zip()) << message;
  EXPECT_EQ(test::namesOf(epub()), std::vector<std::string>{"c/a.xhtml"});
}

TEST_F(ZipJob, LinksAreFollowedToFilesAndFoldersButNotRoundInCircles) {
  put("a/real.txt", "real");
  writeFile(dir / "outside.txt", "outside");
  writeFile(dir / "shared/img/cover.png", "png");
  if (!test::makeLink(dir.path() / "outside.txt", dir.path() / "book" / "link.txt")) GTEST_SKIP() << test::kNoLinks;
  if (!test::makeLink("../../shared/img", dir.path() / "book" / "a" / "images", true)) GTEST_SKIP() << test::kNoLinks;
  ASSERT_TRUE(zip()) << message;
  const ArchiveView view = epub();
  ASSERT_TRUE(view.ok) << view.error;
  EXPECT_EQ(test::namesOf(view), (std::vector<std::string>{"a/images/cover.png", "a/real.txt", "link.txt"}));
  EXPECT_EQ(test::contentOf(view.entries[2]), "outside");

  // A link back into a folder on the way down is named, whichever folder it
  // leads to; nothing is left behind.
  const struct {
    const char* link;
    fs::path target;
  } loops[] = {{"a/loop", dir.path() / "book"}, {"a/here", dir.path() / "book" / "a"}, {"up", dir.path()}};
  for (const auto& [link, target] : loops) {
    SCOPED_TRACE(link);
    if (!test::makeLink(target, dir.path() / "book" / link, true)) GTEST_SKIP() << test::kNoLinks;
    EXPECT_EQ(failure(), formatText(kFolderLoopMessage, (dir / "book/") + link));
    fs::remove(dir.path() / "book" / link);
    EXPECT_EQ(namesIn(dir.path() / "out"), std::set<std::string>{"book.epub"});
  }
}

TEST_F(ZipJob, TheEpubItselfIsNeverPacked) {
  put("a.txt");
  fs::create_directories(dir.path() / "out");
  writeFile(order.ZipPath, "old epub");
  // The same file under another name inside the book: skipped by identity.
  fs::create_hard_link(order.ZipPath, dir.path() / "book" / "copy.epub");
  ASSERT_TRUE(zip()) << message;
  EXPECT_EQ(test::namesOf(epub()), std::vector<std::string>{"a.txt"});
}

// ---- Where the archive goes ------------------------------------------------------------------

TEST_F(ZipJob, MissingEpubFolderIsMadeAndTheEpubWrittenInPlace) {
  put("a.txt");
  order.ZipPath = dir / "x/y/z/book.epub";
  order.BackupDir = dir / "backups";
  ASSERT_TRUE(zip()) << message;
  EXPECT_EQ(namesIn(dir.path() / "x" / "y" / "z"), std::set<std::string>{"book.epub"});
  EXPECT_FALSE(fs::exists(dir.path() / "backups"));  // nothing to back up
}

TEST_F(ZipJob, ZippingOverAnEpubBacksItUpAndLeavesNoWorkFile) {
  order.BackupDir = dir / "backups/deep";  // made when missing
  put("a.txt", "first");
  ASSERT_TRUE(zip()) << message;
  const std::string first = test::readFile(order.ZipPath);
  put("a.txt", "second");
  ASSERT_TRUE(zip()) << message;
  const std::string second = test::readFile(order.ZipPath);
  put("a.txt", "third");
  ASSERT_TRUE(zip()) << message;
  EXPECT_EQ(test::contentOf(epub().entries.at(0)), "third");
  EXPECT_EQ(namesIn(dir.path() / "out"), std::set<std::string>{"book.epub"});
  EXPECT_EQ(namesIn(dir.path() / "backups" / "deep"), (std::set<std::string>{"back1.zip", "back2.zip"}));
  EXPECT_EQ(test::readFile(dir.path() / "backups" / "deep" / "back1.zip"), first);
  EXPECT_EQ(test::readFile(dir.path() / "backups" / "deep" / "back2.zip"), second);
}

TEST_F(ZipJob, EpubTimesFollowTheFixedDatetimeOrNowOrAreLeftAlone) {
  put("a.txt");
  const FileTime fixed = test::utc(2021, 5, 6);
  order.tDatetime = fixed;
  ASSERT_TRUE(zip()) << message;
  platform::FileTimes times;
  ASSERT_TRUE(platform::readFileTimes(order.ZipPath, times));
  EXPECT_EQ(times.write, fixed);
  EXPECT_EQ(times.access, fixed);

  order.tDatetime = 0;
  order.RealFileCreationTimes = true;
  const FileTime before = platform::currentFileTime();
  ASSERT_TRUE(zip()) << message;
  ASSERT_TRUE(platform::readFileTimes(order.ZipPath, times));
  EXPECT_GE(times.write, before - kFileTimeTicksPerSecond);

  order.RealFileCreationTimes = false;
  ASSERT_TRUE(setTimes(fixed, fixed, fixed, order.ZipPath));
  fs::last_write_time(dir.path() / "book" / "a.txt", fs::file_time_type::clock::now() - std::chrono::hours(48));
  ASSERT_TRUE(zip()) << message;  // a new file replaces the old one: its own times, not the old epub's
  ASSERT_TRUE(platform::readFileTimes(order.ZipPath, times));
  EXPECT_GE(times.write, before - kFileTimeTicksPerSecond);
}

TEST_F(ZipJob, StatisticsCountEveryEntryByItsMethod) {
  put("mimetype", "application/epub+zip");
  put("a.xhtml", std::string(10'000, 'a'));
  put("cover.jpg", "jpeg bytes");
  put("empty.css", "");
  ASSERT_TRUE(zip()) << message;
  EXPECT_EQ(statistics.files, 4u);
  EXPECT_EQ(statistics.stored, 2u);
  EXPECT_EQ(statistics.storedBytes, 20u + 10u);
  EXPECT_EQ(statistics.deflated, 2u);
  EXPECT_EQ(statistics.deflatedInputBytes, 10'000u);
  EXPECT_EQ(statistics.zeroLength, 0u);
  const ArchiveView view = epub();  // mimetype, then a.xhtml, cover.jpg, empty.css
  EXPECT_EQ(statistics.deflatedOutputBytes, view.entries[1].compressedSize + view.entries[3].compressedSize);
}

// ---- On several threads ---------------------------------------------------------------------

// Zips the fixture's book with `threads` workers and `budget` bytes of queue;
// the archive's bytes, or the job's message when it fails.
struct sThreadedRun {
  bool ok = false;
  std::string bytesOrMessage;
  std::size_t peak = 0;
};

sThreadedRun zipWithThreads(const EpubWorkOrder& order, unsigned threads, std::size_t budget = kQueueBudget) {
  sZipWriter writer;
  writer.threads = threads;
  writer.queueBudget = budget;
  std::string message;
  sStatistics statistics;
  sThreadedRun run;
  run.ok = zipJob(order, &message, statistics, writer);
  run.bytesOrMessage = run.ok ? test::readFile(order.ZipPath) : message;
  run.peak = writer.peakQueuedBytes;
  return run;
}

TEST_F(ZipJob, AnyNumberOfThreadsWritesTheSameBytes) {
  const std::size_t mib = std::size_t{1} << 20;
  put("mimetype", "application/epub+zip");
  put("OEBPS/empty.css", "");
  put("OEBPS/Text/ch1.xhtml", test::prose(5'000, 1));
  put("OEBPS/Text/deep/er/ch2.xhtml", test::prose(100'000, 2));
  put("OEBPS/Images/cover.jpg", test::noise(2 * mib + 3, 3));  // stored
  put("OEBPS/fonts/font.bin", test::noise(300'000, 4));        // deflated, grows
  put("OEBPS/big.xhtml", test::prose(mib + mib / 2, 5));       // read whole by a worker at the default budget
  put("OEBPS/Text/zz/last.xhtml", test::prose(mib + 5, 6));    // bigger than the small budget
  for (int i = 0; i < 40; ++i) put("OEBPS/Text/many/p" + std::to_string(i) + ".xhtml", test::prose(900, 10 + i));
  put("OEBPS/Text/many/empty.xhtml", "");
  order.tDatetime = test::utc(2024, 5, 1);
  for (const std::uint32_t level : {9u, 0u}) {
    order.CompressionLevel = level;
    const sThreadedRun one = zipWithThreads(order, 1);
    ASSERT_TRUE(one.ok) << one.bytesOrMessage;
    EXPECT_EQ(one.peak, 0u);  // no queue
    for (const unsigned threads : {2u, 8u}) {
      for (const std::size_t budget : {kQueueBudget, mib}) {
        SCOPED_TRACE("level " + std::to_string(level) + ", " + std::to_string(threads) + " threads, budget " +
                     std::to_string(budget));
        const sThreadedRun many = zipWithThreads(order, threads, budget);
        ASSERT_TRUE(many.ok) << many.bytesOrMessage;
        EXPECT_TRUE(many.bytesOrMessage == one.bytesOrMessage);
        EXPECT_GT(many.peak, 0u);
        EXPECT_LE(many.peak, budget);
      }
    }
  }
}

// The walk runs ahead of the writer, and workers read files after the one
// that fails: still the first failure in the walk's order is reported, and
// the job leaves no work file.
TEST_F(ZipJob, TheFirstFailureInWalkOrderWinsWithAnyNumberOfThreads) {
  for (int i = 0; i < 30; ++i) put("a/" + std::to_string(i) + ".xhtml", test::prose(20'000, i));
  put("z/after.xhtml", test::prose(20'000, 99));
  struct Case {
    const char* label;
    std::function<bool()> make;  // false: not possible here
    std::string expected;
  };
  const std::string book = dir / "book/";
  const std::string kLengthMismatch = "Stored length doesn't match input length in add_file__def().";
  // /proc files say they are empty and are not.
  const auto changingFile = [&] {
    return pathKind("/proc/self/status") == PathKind::File &&
           test::makeLink("/proc/self/status", dir.path() / "book" / "m" / "status.xhtml");
  };
  const std::vector<Case> cases = {
      {"name that cannot be carried",
       [&] {
         if (kWindowsNameRules) return false;
         put("m/a:b.xhtml");
         return true;
       },
       formatText(kUncarriableNameMessage, displayUtf8(book + "m/a:b.xhtml"))},
      {"dangling link", [&] { return test::makeLink(dir.path() / "gone", dir.path() / "book" / "m" / "gone.xhtml"); },
       "Source file not found in add_file__def()."},
      {"file whose length changes while read", changingFile, kLengthMismatch},
      {"folder loop after a failing file",
       [&] { return changingFile() && test::makeLink(dir.path() / "book", dir.path() / "book" / "n", true); },
       kLengthMismatch},
      {"folder loop", [&] { return test::makeLink(dir.path() / "book", dir.path() / "book" / "n", true); },
       formatText(kFolderLoopMessage, book + "n")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    fs::remove_all(dir.path() / "book" / "m");
    fs::remove(dir.path() / "book" / "n");
    fs::create_directories(dir.path() / "book" / "m");
    if (!c.make()) continue;
    for (const unsigned threads : {1u, 8u}) {
      const sThreadedRun run = zipWithThreads(order, threads, std::size_t{1} << 20);
      EXPECT_FALSE(run.ok) << threads;
      EXPECT_TRUE(run.bytesOrMessage.starts_with(c.expected)) << threads << ": " << run.bytesOrMessage;
      EXPECT_TRUE(namesIn(dir.path() / "out").empty()) << threads;
    }
  }
}

// However many files wait, the queue holds at most its budget: files read
// whole and their entries, and files held open for the writer.
TEST_F(ZipJob, TheQueueNeverHoldsMoreThanItsBudget) {
  const std::size_t budget = std::size_t{4} << 20;
  order.CompressionLevel = 1;
  for (int i = 0; i < 12; ++i) put("whole/" + std::to_string(i) + ".xhtml", test::prose(700'000 + i, i));
  for (int i = 0; i < 40; ++i) put("streamed/" + std::to_string(i) + ".xhtml", test::prose(1'100'000, 100 + i));
  for (int i = 0; i < 400; ++i) put("small/" + std::to_string(i) + ".xhtml", test::prose(3'000, 500 + i));
  const sThreadedRun run = zipWithThreads(order, 8, budget);
  ASSERT_TRUE(run.ok) << run.bytesOrMessage;
  EXPECT_GT(run.peak, budget / 2);  // it did fill up
  EXPECT_LE(run.peak, budget);
  EXPECT_EQ(test::namesOf(epub()).size(), 12u + 40u + 400u);
}

}  // namespace
}  // namespace plimsy
