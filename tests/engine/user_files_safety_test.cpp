// Nothing of the user's is destroyed or laid open by a job: an unzip never
// puts its folder in the place of a file, copies and replacements keep the
// permissions of what they copy or replace, a backup that could not be
// completed is not left behind, and the new epub is finished (times and
// permissions) before it takes the old one's place.

#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <string>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "core/paths.h"
#include "core/platform.h"
#include "core/request_checks.h"
#include "core/text.h"
#include "engine/repack_job.h"
#include "engine/unzip_job.h"
#include "engine/zip_job.h"
#include "support/faults.h"
#include "support/file_tree.h"
#include "support/temp_dir.h"
#include "support/times.h"
#include "support/work_orders.h"

namespace fs = std::filesystem;

namespace plimsy {
namespace {

using test::namesIn;
using test::readFile;
using test::readTree;
using test::TempDir;
using test::writeFile;
using Names = std::set<std::string>;

// Answers every offer with Yes and shows nothing.
class YesUi : public cRequestUi {
 public:
  bool offer(const std::string&) override { return true; }
  void showChosenPath(int, const std::string&) override {}
};

class UserFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    writeFile(dir.path() / "book" / "mimetype", "application/epub+zip");
    writeFile(dir.path() / "book" / "OEBPS" / "chapter.xhtml", "<html>one</html>");
    std::string message;
    ASSERT_TRUE(test::zipFolder(dir.path() / "book", dir.path() / "book.epub", 9, message)) << message;
  }
  void TearDown() override { platform::observeOperations(nullptr); }

  std::string path(const char* relative) const { return dir / relative; }

  TempDir dir;
};

// ---- An unzip onto a file ------------------------------------------------------------------

// The window and plimsy-cli run the request checks and then the job; a caller
// of the job alone meets the same refusal in the job. Either way the file is
// kept byte for byte and nothing is made beside it (no tempN, no backN).
TEST_F(UserFiles, UnzipOntoAFileIsRefusedBeforeAnythingIsWritten) {
  const std::string notes = "my notes, not a book\n";
  writeFile(dir.path() / "notes.txt", notes);
  const struct {
    const char* road;
    bool backups;
    const char* filesLine;
  } rows[] = {
      {"request", false, "notes.txt"}, {"request", true, "notes.txt"}, {"request", true, "notes.txt/"},
      {"job", false, "notes.txt"},     {"job", true, "notes.txt"},     {"job", false, "notes.txt/"},
  };
  const std::string expected = formatText(kFilesFolderIsFileMessage, path("notes.txt"));
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.road) + (row.backups ? " with backups " : " without backups ") + row.filesLine);
    std::string filesLine = path(row.filesLine);
    if (endsWithSeparator(row.filesLine)) filesLine = withTrailingSeparator(path("notes.txt"));
    std::string message;
    sStatistics statistics;
    if (std::string(row.road) == "request") {
      cSettings job;
      job.SaveBackups = row.backups;
      job.UseSpecifiedBackupFolder = false;
      job.workOrder.ZipPath = path("book.epub");
      job.workOrder.FilesDir = filesLine;
      YesUi ui;
      const bool accepted = checkUnzipRequest(ui, &message, job) && checkJobSource(&message, job.workOrder) &&
                            unzipJob(job.workOrder, &message, statistics);
      EXPECT_FALSE(accepted);
    } else {
      EpubWorkOrder order = test::unzipOrder(path("book.epub"), filesLine);
      if (row.backups) order.BackupDir = dir.str();
      EXPECT_FALSE(unzipJob(order, &message, statistics));
    }
    EXPECT_EQ(message, expected);
    EXPECT_EQ(readFile(dir.path() / "notes.txt"), notes);
    EXPECT_EQ(namesIn(dir.path()), (Names{"book", "book.epub", "notes.txt"}));
  }
}

// What is no folder is not replaced by one either: a link that leads nowhere.
// A link to a folder is a folder, and is unpacked over as one.
TEST_F(UserFiles, UnzipOntoADanglingLinkIsRefusedAndOntoALinkedFolderGoesOn) {
  std::error_code error;
  fs::create_symlink(dir.path() / "nowhere", dir.path() / "gone", error);
  if (error) GTEST_SKIP() << "no symbolic links here: " << error.message();
  std::string message;
  sStatistics statistics;
  EXPECT_FALSE(unzipJob(test::unzipOrder(path("book.epub"), path("gone")), &message, statistics));
  EXPECT_EQ(message, formatText(kFilesFolderIsFileMessage, path("gone")));
  EXPECT_TRUE(fs::is_symlink(dir.path() / "gone"));

  fs::create_directory(dir.path() / "real");
  fs::create_directory_symlink(dir.path() / "real", dir.path() / "linked");
  EXPECT_TRUE(checkFilesFolderTarget(&message, test::unzipOrder(path("book.epub"), path("linked"))));
}

// ---- Permissions ------------------------------------------------------------------------

#ifndef _WIN32
constexpr bool kPermissionsKept = true;
#else
constexpr bool kPermissionsKept = false;  // a new file takes its folder's access rules
#endif

fs::perms modeOf(const fs::path& path) { return fs::status(path).permissions() & fs::perms::mask; }

// The epub that a zip or a repack replaces keeps its permissions, in the new
// epub and in its backup; a repack into a new file gives it those of its source.
TEST_F(UserFiles, ReplacedEpubsAndTheirBackupsKeepTheirMode) {
  if (!kPermissionsKept) GTEST_SKIP() << "POSIX permission bits";
  const fs::perms modes[] = {fs::perms(0600), fs::perms(0640), fs::perms(0400)};
  const std::function<bool(std::string*)> jobs[] = {
      [this](std::string* message) {
        EpubWorkOrder order = test::zipOrder(path("book"), path("book.epub"));
        order.BackupDir = dir.str();
        sStatistics statistics;
        return zipJob(order, message, statistics);
      },
      [this](std::string* message) {
        sRepackOrder order;
        order.archivePath = order.outputPath = path("book.epub");
        order.backupDir = dir.str();
        sStatistics statistics;
        return repackJob(order, message, statistics);
      },
  };
  for (const fs::perms mode : modes) {
    for (std::size_t job = 0; job < std::size(jobs); ++job) {
      SCOPED_TRACE(fmt::format("mode {:o}, {}", static_cast<unsigned>(mode), job == 0 ? "zip" : "repack"));
      fs::remove(dir.path() / "back1.zip");
      fs::permissions(dir.path() / "book.epub", mode);
      std::string message;
      ASSERT_TRUE(jobs[job](&message)) << message;
      EXPECT_EQ(modeOf(dir.path() / "book.epub"), mode);
      EXPECT_EQ(modeOf(dir.path() / "back1.zip"), mode);
    }
    // Repacked into a new file, the epub keeps the mode of the one it came from.
    fs::remove(dir.path() / "copy.epub");
    sRepackOrder order;
    order.archivePath = path("book.epub");
    order.outputPath = path("copy.epub");
    std::string message;
    sStatistics statistics;
    ASSERT_TRUE(repackJob(order, &message, statistics)) << message;
    EXPECT_EQ(modeOf(dir.path() / "copy.epub"), mode);
  }
}

// The backup of an unpacked-over folder keeps the mode of every folder and
// file in it, the top folder's too.
TEST_F(UserFiles, FolderBackupsKeepEveryMode) {
  if (!kPermissionsKept) GTEST_SKIP() << "POSIX permission bits";
  const struct {
    const char* item;
    fs::perms mode;
  } rows[] = {
      {"files/private/diary.txt", fs::perms(0600)},
      {"files/shared.txt", fs::perms(0640)},
      {"files/private", fs::perms(0700)},
      {"files/group", fs::perms(0750)},
      {"files", fs::perms(0700)},
  };
  writeFile(dir.path() / "files/private/diary.txt", "dear diary");
  writeFile(dir.path() / "files/shared.txt", "for the group");
  fs::create_directories(dir.path() / "files/group");
  for (const auto& row : rows) fs::permissions(dir.path() / row.item, row.mode);
  EpubWorkOrder order = test::unzipOrder(path("book.epub"), path("files"));
  order.BackupDir = path("saved");
  std::string message;
  sStatistics statistics;
  ASSERT_TRUE(unzipJob(order, &message, statistics)) << message;
  for (const auto& row : rows) {
    const fs::path backup = dir.path() / "saved/back1" / fs::path(row.item).lexically_relative("files");
    EXPECT_EQ(modeOf(backup), row.mode) << row.item;
  }
}

// ---- Backups that fail half way -------------------------------------------------------------

// However far the copy of the old folder came, no backN is left that could
// be taken for a backup; the old folder is as it was.
TEST_F(UserFiles, AFolderBackupThatFailsHalfWayIsRemoved) {
  writeFile(dir.path() / "files/a.txt", "first");
  writeFile(dir.path() / "files/sub/b.txt", "second");
  writeFile(dir.path() / "files/sub/c.txt", "third");
  writeFile(dir.path() / "files/z.txt", "last");
  const auto before = readTree(dir.path() / "files");
  for (const std::uint64_t failingCopy : {1, 2, 3, 4}) {
    SCOPED_TRACE(fmt::format("copy {} fails", failingCopy));
    EpubWorkOrder order = test::unzipOrder(path("book.epub"), path("files"));
    order.BackupDir = path("saved");
    std::string message;
    sStatistics statistics;
    {
      const test::ScopedFault fault(platform::FaultOperation::Copy, failingCopy);
      EXPECT_FALSE(unzipJob(order, &message, statistics));
    }
    EXPECT_EQ(namesIn(dir.path() / "saved"), Names{});
    EXPECT_EQ(readTree(dir.path() / "files"), before);
    for (const std::string& name : namesIn(dir.path())) {
      if (name.starts_with("temp")) fs::remove_all(dir.path() / name);  // the work folder is not this test's
    }
  }
}

// The same for the copy of the old epub: its close is the second (the new
// epub's is the first).
TEST_F(UserFiles, AnEpubBackupThatFailsHalfWayIsRemoved) {
  const std::string old = readFile(dir.path() / "book.epub");
  writeFile(dir.path() / "book/OEBPS/chapter.xhtml", "<html>two</html>");
  EpubWorkOrder order = test::zipOrder(path("book"), path("book.epub"));
  order.BackupDir = path("saved");
  std::string message;
  sStatistics statistics;
  {
    const test::ScopedFault fault(platform::FaultOperation::Close, 2);
    EXPECT_FALSE(zipJob(order, &message, statistics));
  }
  EXPECT_EQ(namesIn(dir.path() / "saved"), Names{});
  EXPECT_EQ(readFile(dir.path() / "book.epub"), old);
  EXPECT_EQ(namesIn(dir.path()), (Names{"book", "book.epub", "saved"}));
}

// ---- The new epub is finished before it is in place --------------------------------------------

// At the moment of the rename the work file already has the epub's times (and
// the old epub's mode): after it, nothing about the epub at its path changes,
// so a reader that opened it meanwhile never sees it change.
TEST_F(UserFiles, TheWorkFileHasTheEpubsTimesAndModeBeforeTheRename) {
  const FileTime fixed = test::utc(2021, 6, 1, 12, 30);
  if (kPermissionsKept) fs::permissions(dir.path() / "book.epub", fs::perms(0640));
  EpubWorkOrder order = test::zipOrder(path("book"), path("book.epub"));
  order.tDatetime = fixed;
  std::optional<FileTime> writeTimeAtRename;
  std::optional<fs::perms> modeAtRename;
  platform::observeOperations([&](platform::FaultOperation operation) {
    if (operation != platform::FaultOperation::Rename || writeTimeAtRename) return;
    platform::FileTimes times;
    if (platform::readFileTimes(path("temp1.zip"), times)) writeTimeAtRename = times.write;
    modeAtRename = modeOf(dir.path() / "temp1.zip");
  });
  std::string message;
  sStatistics statistics;
  ASSERT_TRUE(zipJob(order, &message, statistics)) << message;
  platform::observeOperations(nullptr);
  EXPECT_EQ(writeTimeAtRename, fixed);
  if (kPermissionsKept) {
    EXPECT_EQ(modeAtRename, fs::perms(0640));
  }
  platform::FileTimes times;
  ASSERT_TRUE(platform::readFileTimes(path("book.epub"), times));
  EXPECT_EQ(times.write, fixed);
}

}  // namespace
}  // namespace plimsy
