#include <chrono>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/filetime.h"
#include "core/paths.h"
#include "core/platform.h"
#include "core/settings.h"
#include "core/text.h"
#include "engine/archive_view.h"
#include "engine/check_paths.h"
#include "engine/zip_job.h"
#include "engine/zip_records.h"
#include "support/file_tree.h"
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
    EXPECT_EQ(text, c.expected) << c.label;
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
  EXPECT_EQ(failure(), "Unable to write central directory.");
  fs::create_directories(dir.path() / "book" / "a" / "b");
  fs::create_directories(dir.path() / "book" / "c");
  EXPECT_EQ(failure(), "Unable to write central directory.");
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

}  // namespace
}  // namespace plimsy
