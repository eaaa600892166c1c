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

}  // namespace
}  // namespace plimsy
