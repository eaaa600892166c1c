// What the zip and unzip jobs do when the world around them misbehaves: pipes
// and sockets where files should be, names an epub cannot carry, two jobs in
// one folder, entries that clash when unpacked on several threads, an archive
// shortened under a running job, and a program that quits mid-job.

#include <atomic>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "core/message.h"
#include "core/paths.h"
#include "core/platform.h"
#include "core/text.h"
#include "engine/archive_view.h"
#include "engine/job_control.h"
#include "engine/unzip_job.h"
#include "engine/zip_job.h"
#include "engine/zip_reader.h"
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

using test::buildArchive;
using test::listTree;
using test::planOf;
using test::readFile;
using test::readTree;
using test::storedEntry;
using test::TempDir;
using test::writeFile;
using Tree = std::map<std::string, std::string>;

class JobSafety : public ::testing::Test {
 protected:
  void SetUp() override { writeFile(dir.path() / "book" / "mimetype", "application/epub+zip"); }
  void TearDown() override {
    platform::observeOperations(nullptr);
    resumeJobs();
  }

  // The job's message when it fails; "(done)" when it succeeds.
  std::string zipFailure() {
    message.clear();
    return zipJob(zip, &message, statistics) ? "(done)" : message;
  }
  std::string unzipFailure() {
    message.clear();
    return unzipJob(unzip, &message, statistics) ? "(done)" : message;
  }

  TempDir dir;
  EpubWorkOrder zip = test::zipOrder(dir / "book", dir / "out/book.epub");
  EpubWorkOrder unzip = test::unzipOrder(dir / "out/book.epub", dir / "files");
  std::string message;
  sStatistics statistics;
};

// ---- Pipes, sockets and devices -----------------------------------------------------------

TEST_F(JobSafety, SpecialFilesAreRefusedByNameAndNothingIsLeftBehind) {
  if (!test::makePipe(dir.path() / "probe")) GTEST_SKIP() << "no pipes or sockets in this file system";
  fs::remove(dir.path() / "probe");
  const struct {
    const char* where;
    std::function<bool(const fs::path&)> make;
  } cases[] = {
      {"book/OEBPS/pipe.xhtml", test::makePipe},
      {"book/socket", test::makeSocket},
      {"book/MIMETYPE", test::makePipe},
  };
  for (const bool epubExists : {false, true}) {
    for (const auto& [where, make] : cases) {
      SCOPED_TRACE(std::string(where) + (epubExists ? " over an epub" : ""));
      fs::remove_all(dir.path() / "out");
      if (epubExists) writeFile(zip.ZipPath, "old epub");
      fs::remove(dir.path() / "book" / "mimetype");
      ASSERT_TRUE(make(dir.path() / where));
      EXPECT_EQ(zipFailure(), formatText(kNotRegularFileMessage, dir / where));
      fs::remove(dir.path() / where);
      // No work file, and the epub as it was.
      EXPECT_EQ(readTree(dir.path() / "out"), (epubExists ? Tree{{"book.epub", "old epub"}} : Tree{}));
    }
  }
  // The epub path itself, for the zip (to write) and the unzip (to read).
  fs::remove_all(dir.path() / "out");
  fs::create_directories(dir.path() / "out");
  ASSERT_TRUE(test::makePipe(zip.ZipPath));
  EXPECT_EQ(zipFailure(), formatText(kNotRegularFileMessage, zip.ZipPath));
  EXPECT_EQ(unzipFailure(), formatText(kNotRegularFileMessage, zip.ZipPath));
  cZipReader reader;
  EXPECT_FALSE(reader.openArchive(&message, unzip));
  EXPECT_EQ(message, formatText(kNotRegularFileMessage, zip.ZipPath));
  EXPECT_EQ(listTree(dir.path() / "out"), std::set<std::string>{"book.epub"});
}

// ---- Names ------------------------------------------------------------------------------

TEST_F(JobSafety, NamesAnEpubCannotCarryAreRefusedWhenZipping) {
  const struct {
    std::string name;
    bool carriable;
  } names[] = {
      {"OEBPS/Text/ch1.xhtml", true},
      {"Ελληνικά/中文.xhtml", true},
      {"100% sure & done.xhtml", true},
      {"C:notes.txt", false},
      {"..\\up.txt", false},
      {"a\\b.xhtml", false},
      {"bad\xff\xfe.txt", false},
      {"title\x1b]0;pwned\x07", false},
      {"tab\there.txt", false},
      {"c1\xc2\x9b"
       "31m.txt",
       false},
      {"x:y/inside.txt", false},
  };
  for (const auto& [name, carriable] : names) {
    SCOPED_TRACE(name);
    EXPECT_EQ(isCarriableEntryName(name), carriable);
    if (carriable || kWindowsNameRules) continue;  // Windows cannot hold these names in the first place
    writeFile(dir.path() / "book" / name, "text");
    EXPECT_EQ(zipFailure(), formatText(kUncarriableNameMessage, displayUtf8(dir / "book/" + name)));
    fs::remove_all(dir.path() / "book" / fs::path(name).begin()->string());
    EXPECT_FALSE(fs::exists(dir.path() / "out" / "book.epub"));
  }
}

// ---- Backups inside the book ---------------------------------------------------------------

TEST_F(JobSafety, BackupFolderInsideTheBookIsRefusedBeforeAnythingIsMade) {
  writeFile(zip.ZipPath, "old epub");
  zip.BackupDir = dir / "book/backups";
  EXPECT_EQ(zipFailure(), kBackupInsideFilesMessage);
  EXPECT_EQ(listTree(dir.path()), (std::set<std::string>{"book/", "book/mimetype", "out/", "out/book.epub"}));
}

// ---- Unpacking on several threads ----------------------------------------------------------

std::string fileName(int i) { return fmt::format("f{}", i); }

// An archive of `count` stored entries named by `nameOf`, each file holding
// its index (folders nothing).
std::string archiveOf(int count, const std::function<std::string(int)>& nameOf) {
  test::ArchivePlan plan;
  for (int i = 0; i < count; ++i) {
    const std::string name = nameOf(i);
    plan.entries.push_back(storedEntry(name, name.back() == '/' ? std::string() : fmt::format("entry {}", i)));
  }
  return buildArchive(plan);
}

TEST_F(JobSafety, NamesThatClashAreFoundWhateverTheirSpelling) {
  const struct {
    std::vector<std::string> names;
    bool clash;
  } cases[] = {
      {{"a", "b", "c/d", "c/e"}, false},
      {{"x/", "x/y", "x/z/"}, false},
      {{"a", "a"}, true},
      {{"a.xhtml", "A.XHTML"}, true},
      {{"x", "x/y"}, true},
      {{"x/y", "x"}, true},
      {{"x", "x/"}, true},
      {{"x/./y", "x/y"}, true},
      {{"x//y", "x\\y"}, true},
      // One file where the file system folds case beyond ASCII (Windows).
      {{"\xC3\x89.xhtml", "\xC3\xA9.xhtml"}, kWindowsNameRules},
      {{"\xC3\x89/a", "\xC3\xA9"}, kWindowsNameRules},
  };
  for (const auto& [names, clash] : cases) {
    SCOPED_TRACE(::testing::PrintToString(names));
    writeFile(unzip.ZipPath, archiveOf(static_cast<int>(names.size()), [&names = names](int i) { return names[i]; }));
    cZipReader reader;
    ASSERT_TRUE(reader.openArchive(&message, unzip)) << message;
    bool found = false;
    ASSERT_TRUE(checkEntries(&message, reader, &found)) << message;
    EXPECT_EQ(found, clash);
  }
}

// Enough entries for several threads; the result is that of one thread going
// through them in order, every time.
TEST_F(JobSafety, ParallelUnpackingGivesTheOneByOneResult) {
  for (int round = 0; round < 10; ++round) {
    SCOPED_TRACE(round);
    // The same name many times: the last entry wins.
    fs::remove_all(dir.path() / "files");
    writeFile(unzip.ZipPath, archiveOf(200, [](int i) { return i % 2 ? "same.txt" : fileName(i); }));
    ASSERT_EQ(unzipFailure(), "(done)");
    EXPECT_EQ(readFile(dir.path() / "files" / "same.txt"), "entry 199");

    // Two names for one file on Windows only, where case folding reaches
    // past ASCII: there too the last entry wins, never the fastest thread.
    fs::remove_all(dir.path() / "files");
    writeFile(unzip.ZipPath, archiveOf(200, [](int i) {
                return i % 2 == 0 ? fileName(i) : i % 4 == 1 ? "\xC3\x89.txt" : "\xC3\xA9.txt";
              }));
    ASSERT_EQ(unzipFailure(), "(done)");
    if (kWindowsNameRules) {
      EXPECT_EQ(readFile(pathFromUtf8(dir / "files/\xC3\x89.txt")), "entry 199");
      EXPECT_EQ(statistics.replacedEntries.size(), 99u);
    } else {
      EXPECT_EQ(readFile(pathFromUtf8(dir / "files/\xC3\x89.txt")), "entry 197");
      EXPECT_EQ(readFile(pathFromUtf8(dir / "files/\xC3\xA9.txt")), "entry 199");
      EXPECT_EQ(statistics.replacedEntries.size(), 98u);
    }

    // A file where a later entry needs a folder: the later entry fails.
    fs::remove_all(dir.path() / "files");
    writeFile(unzip.ZipPath, archiveOf(200, [](int i) { return i == 150 ? "f3/inner" : fileName(i); }));
    EXPECT_EQ(test::firstLine(unzipFailure()), kNoUnzipFolderMessage);

    // A failing entry: nothing after it is left in the work folder.
    fs::remove_all(dir.path() / "files");
    test::ArchivePlan plan;
    for (int i = 0; i < 200; ++i) plan.entries.push_back(storedEntry(fileName(i), "x"));
    plan.entries[120].editCdr = [](Cdr& c) { c.setCrc(c.crc() ^ 1); };
    writeFile(unzip.ZipPath, buildArchive(plan));
    EXPECT_EQ(unzipFailure(), kCrcMismatchMessage);
    EXPECT_EQ(listTree(dir.path() / "files").size(), 120u);
  }
}

// ---- Two jobs in one folder ------------------------------------------------------------------

TEST_F(JobSafety, TwoJobsInOneFolderNeverShareAWorkFile) {
  for (const std::string book : {"a", "b"}) {
    writeFile(dir.path() / book / "mimetype", "application/epub+zip");
    writeFile(dir.path() / book / "text.xhtml", "book " + book + test::prose(100'000, 1));
    writeFile(dir.path() / "dist" / (book + ".epub"), "old");
    fs::create_directories(dir.path() / "dist" / (book + "-files"));
  }
  // Both books at once, as `make -j2` builds them.
  const auto bothAtOnce = [](const std::function<EpubWorkOrder(const std::string&)>& orderFor) {
    const auto run = [](const EpubWorkOrder& order) {
      std::string ignored;
      sStatistics counts;
      return order.DoWhat == kDoWhatZip ? zipJob(order, &ignored, counts) : unzipJob(order, &ignored, counts);
    };
    bool other = false;
    std::thread thread([&] { other = run(orderFor("b")); });
    const bool first = run(orderFor("a"));
    thread.join();
    return first && other;
  };
  for (int round = 0; round < 10; ++round) {
    SCOPED_TRACE(round);
    EXPECT_TRUE(bothAtOnce([&](const std::string& b) { return test::zipOrder(dir / b, dir / "dist/" + b + ".epub"); }));
    EXPECT_TRUE(bothAtOnce([&](const std::string& b) {
      return test::unzipOrder(dir / "dist/" + b + ".epub", dir / "dist/" + b + "-files");
    }));
    for (const std::string book : {"a", "b"})
      EXPECT_EQ(readFile(dir.path() / "dist" / (book + "-files") / "text.xhtml"),
                readFile(dir.path() / book / "text.xhtml"));
    EXPECT_EQ(test::namesIn(dir.path() / "dist"), (std::set<std::string>{"a.epub", "a-files", "b.epub", "b-files"}));
  }
}

// ---- The world changing under a running job --------------------------------------------------

TEST_F(JobSafety, AnArchiveChangedWhileItIsUnpackedFailsClearly) {
  // Each change says whether the system let it happen: Windows lets nobody
  // write a file that is being read, and the job then simply succeeds.
  const struct {
    const char* change;
    std::function<bool(const std::string&)> apply;
  } changes[] = {{"shortened",
                  [](const std::string& path) {
                    std::error_code error;
                    fs::resize_file(path, 100, error);
                    return !error;
                  }},
                 {"rewritten", [](const std::string& path) {
                    const std::string bytes = readFile(path);
                    platform::File file;  // same bytes, written again
                    if (!file.open(path, platform::File::Mode::WriteTruncate)) return false;
                    file.write(bytes.data(), bytes.size());
                    file.close();
                    std::error_code error;
                    fs::last_write_time(path, fs::last_write_time(path) + std::chrono::seconds(1), error);
                    return true;
                  }}};
  for (const auto& change : changes) {
    SCOPED_TRACE(change.change);
    fs::remove_all(dir.path() / "files");
    writeFile(unzip.ZipPath, archiveOf(300, [](int i) { return "OEBPS/" + std::to_string(i) + ".xhtml"; }));
    const auto& apply = change.apply;
    std::atomic<bool> tried{false};
    std::atomic<bool> changed{false};
    platform::observeOperations([&](platform::FaultOperation operation) {
      if (operation == platform::FaultOperation::Write && !tried.exchange(true)) changed = apply(unzip.ZipPath);
    });
    const std::string outcome = unzipFailure();
    platform::observeOperations(nullptr);
    ASSERT_TRUE(tried);
    EXPECT_EQ(outcome, changed ? kArchiveChangedMessage : "(done)");
  }
}

// Stops the job at its first write until the test has told every job to
// stop; the job then notices at its next check.
TEST_F(JobSafety, AbandonedJobsStopAndTakeTheirWorkWithThem) {
  for (int i = 0; i < 40; ++i) writeFile(dir.path() / "book" / (std::to_string(i) + ".xhtml"), test::prose(50'000, i));
  writeFile(zip.ZipPath, "old epub");
  std::string zipped;
  ASSERT_TRUE(test::zipFolder(dir.path() / "book", dir.path() / "full.epub", 9, zipped)) << zipped;
  fs::rename(dir.path() / "full.epub", dir.path() / "out" / "full.epub");
  unzip.ZipPath = dir / "out/full.epub";
  fs::create_directories(dir.path() / "files");

  const std::function<bool(std::string*)> jobs[] = {
      [&](std::string* text) { return zipJob(zip, text, statistics); },
      [&](std::string* text) { return unzipJob(unzip, text, statistics); }};
  for (const auto& job : jobs) {
    std::atomic<bool> writing{false};
    platform::observeOperations([&](platform::FaultOperation operation) {
      if (operation != platform::FaultOperation::Write || writing.exchange(true)) return;
      while (!jobsAbandoned()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
    std::string text;
    bool done = true;
    std::thread worker([&] { done = job(&text); });
    while (!writing) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    abandonRunningJobs();
    waitForAbandonedWork();
    worker.join();
    platform::observeOperations(nullptr);
    resumeJobs();
    EXPECT_FALSE(done);
    EXPECT_EQ(text, kJobAbandonedMessage);
    EXPECT_EQ(test::namesIn(dir.path() / "out"), (std::set<std::string>{"book.epub", "full.epub"}));
    EXPECT_EQ(readFile(dir.path() / "out" / "book.epub"), "old epub");
    EXPECT_EQ(test::namesIn(dir.path()), (std::set<std::string>{"book", "files", "out"}));
  }
}

// A job told to stop in the middle of one big entry stops there, within a
// piece or two of it, not at its end, and takes its work with it: unzip
// (stored data is copied piece by piece, deflated data checked at every
// piece of output) and zip (stored and deflated).
TEST_F(JobSafety, AJobToldToStopInsideABigEntryStopsThere) {
  const std::string big = test::prose(std::size_t{12} << 20, 7);
  writeFile(dir.path() / "book" / "OEBPS" / "big.xhtml", big);
  const auto unzipOf = [&](const test::EntryPlan& entry) {
    return [&, entry](std::string* text) {
      writeFile(unzip.ZipPath, buildArchive(planOf({storedEntry("mimetype", "application/epub+zip"), entry})));
      return unzipJob(unzip, text, statistics);
    };
  };
  const auto zipAt = [&](std::uint32_t level) {
    return [&, level](std::string* text) {
      EpubWorkOrder order = zip;
      order.CompressionLevel = level;
      return zipJob(order, text, statistics);
    };
  };
  const struct {
    const char* label;
    std::function<bool(std::string*)> job;
  } jobs[] = {
      {"unzip, stored", unzipOf(storedEntry("OEBPS/big.xhtml", big))},
      {"unzip, deflated", unzipOf(test::deflatedEntry("OEBPS/big.xhtml", big))},
      {"zip, stored", zipAt(0)},
      {"zip, deflated", zipAt(1)},
  };
  for (const auto& [label, job] : jobs) {
    SCOPED_TRACE(label);
    fs::remove_all(dir.path() / "out");
    fs::remove_all(dir.path() / "files");
    std::uint64_t writes = 0;
    std::uint64_t writesAfterStop = 0;
    platform::observeOperations([&](platform::FaultOperation operation) {
      if (operation != platform::FaultOperation::Write) return;
      if (jobsAbandoned())
        ++writesAfterStop;
      else if (++writes == 3)
        abandonRunningJobs();  // the third write is well inside the big entry
    });
    std::string text;
    const bool done = job(&text);
    platform::observeOperations(nullptr);
    resumeJobs();
    EXPECT_FALSE(done);
    EXPECT_EQ(text, kJobAbandonedMessage);
    EXPECT_LE(writesAfterStop, 2u) << "the rest of the entry was written first";
    // Its work is gone: no files folder, no work file or folder, no epub.
    EXPECT_EQ(test::namesIn(dir.path()), (std::set<std::string>{"book", "out"}));
    EXPECT_EQ(test::namesIn(dir.path() / "out"),
              label[0] == 'u' ? std::set<std::string>{"book.epub"} : std::set<std::string>{});
  }
}

}  // namespace
}  // namespace plimsy
