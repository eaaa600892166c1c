#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/filetime.h"
#include "core/message.h"
#include "core/paths.h"
#include "core/request_checks.h"
#include "core/text.h"
#include "support/messages.h"
#include "support/scoped_env.h"
#include "support/special_files.h"
#include "support/temp_dir.h"
#include "support/times.h"

namespace plimsy {
namespace {

namespace fs = std::filesystem;
using test::TempDir;
using test::writeFile;

// Answers every offer with a fixed answer and records what it was asked and shown.
class FakeUi : public cRequestUi {
 public:
  explicit FakeUi(bool answer) : answer_(answer) {}
  bool offer(const std::string& question) override {
    questions.push_back(question);
    return answer_;
  }
  void showChosenPath(int controlId, const std::string& path) override { shown.emplace_back(controlId, path); }

  std::vector<std::string> questions;
  std::vector<std::pair<int, std::string>> shown;

 private:
  bool answer_;
};

class RequestChecks : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(dir.path() / "book");
    job.workOrder.FilesDir = dir / "book";
    job.SaveBackups = false;
  }
  std::string check(bool (*checkFn)(cRequestUi&, std::string*, cSettings&), bool answer = true) {
    FakeUi ui(answer);
    std::string message = "untouched";
    ok = checkFn(ui, &message, job);
    questions = ui.questions;
    shown = ui.shown;
    return ok ? std::string("OK") : message;
  }

  TempDir dir;
  cSettings job;
  bool ok = false;
  std::vector<std::string> questions;
  std::vector<std::pair<int, std::string>> shown;
};

TEST_F(RequestChecks, ZipInsistsOnAnAbsoluteExistingFilesFolder) {
  job.workOrder.FilesDir = "";
  EXPECT_EQ(check(checkZipRequest), "Please specify the files directory that you want to zip.");
  EXPECT_EQ(job.workOrder.DoWhat, kDoWhatZip);  // set whatever the outcome
  job.workOrder.FilesDir = "book";
  EXPECT_EQ(check(checkZipRequest),
            "You specified a files directory path that isn't absolute. To avoid this problem, use the button with "
            "three dots.");
  job.workOrder.FilesDir = dir / "nothing";
  EXPECT_EQ(check(checkZipRequest), "You specified a files directory that doesn't exist.");
  writeFile(dir.path() / "afile", "x");
  job.workOrder.FilesDir = dir / "afile";
  EXPECT_EQ(check(checkZipRequest), "You specified a files directory that isn't a directory.");
}

TEST_F(RequestChecks, ZipOffersBookNBesideTheFilesFolder) {
  writeFile(dir.path() / "book1.epub", "old");
  EXPECT_EQ(check(checkZipRequest), "OK");
  ASSERT_EQ(questions.size(), 1u);
  EXPECT_EQ(questions[0],
            "You didn't specify the name and location of an epub file to create. Would you like Plimsy to choose?");
  EXPECT_EQ(job.workOrder.ZipPath, dir / "book2.epub");
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0], std::make_pair(kEpubLineId, dir / "book2.epub"));
}

TEST_F(RequestChecks, DeclinedOfferStopsWithAnEmptyMessageAndChangesNothing) {
  EXPECT_EQ(check(checkZipRequest, false), "");
  EXPECT_FALSE(ok);
  EXPECT_TRUE(job.workOrder.ZipPath.empty());
  EXPECT_TRUE(shown.empty());
}

TEST_F(RequestChecks, EpubInsideTheFilesFolderIsRefused) {
  job.workOrder.ZipPath = dir / "book/OEBPS/out.epub";
  EXPECT_EQ(check(checkZipRequest), "Epub file is in files directory tree.");
  job.workOrder.ZipPath = "out.epub";
  EXPECT_EQ(check(checkZipRequest), "Path is not absolute.");
}

TEST_F(RequestChecks, UnzipOffersFilesNWithATrailingSeparator) {
  job.workOrder.FilesDir = "";
  job.workOrder.ZipPath = dir / "in.epub";
  EXPECT_EQ(check(checkUnzipRequest), "You specified an epub file that doesn't exist.");
  writeFile(job.workOrder.ZipPath, "PK");
  std::filesystem::create_directories(dir.path() / "files1");
  EXPECT_EQ(check(checkUnzipRequest), "OK");
  EXPECT_EQ(job.workOrder.DoWhat, kDoWhatUnzip);
  EXPECT_EQ(job.workOrder.FilesDir, dir / "files2/");
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].first, kFilesLineId);
  EXPECT_EQ(questions[0],
            "You didn't specify the name and location of a files folder. Would you like Plimsy to choose?");

  job.workOrder.ZipPath = dir / "book";
  EXPECT_EQ(check(checkUnzipRequest), "You specified an epub file that is a directory.");
  job.workOrder.ZipPath = "";
  EXPECT_EQ(check(checkUnzipRequest), "Please specify the epub that you want to unzip.");
  job.workOrder.ZipPath = "in.epub";
  EXPECT_EQ(check(checkUnzipRequest),
            "You specified an epub path that isn't absolute. To avoid this problem, use the button with three dots.");
}

TEST_F(RequestChecks, BackupFolderFollowsTheOptions) {
  job.workOrder.ZipPath = dir / "out/book.epub";
  job.workOrder.BackupDir = "/somewhere";
  job.SaveBackups = false;
  EXPECT_EQ(check(checkZipRequest), "OK");
  EXPECT_EQ(job.workOrder.BackupDir, "");

  job.SaveBackups = true;
  job.UseSpecifiedBackupFolder = false;
  job.PutBackupsInOriginalLocation = false;  // not consulted
  EXPECT_EQ(check(checkZipRequest), "OK");
  EXPECT_EQ(job.workOrder.BackupDir, dir / "out");

  job.UseSpecifiedBackupFolder = true;
  job.workOrder.BackupDir = "";
  EXPECT_EQ(check(checkZipRequest),
            "You instructed Plimsy to use your specified backup directory but you didn't specify one.");
  job.workOrder.BackupDir = "backups";
  EXPECT_EQ(check(checkZipRequest),
            "You specified a backup directory path that isn't absolute. To avoid this problem, use the button with "
            "three dots.");
  writeFile(dir.path() / "plainfile", "x");
  job.workOrder.BackupDir = dir / "plainfile";
  EXPECT_EQ(check(checkZipRequest), "The backup directory you specified is not a directory.");
  job.workOrder.BackupDir = dir / "my backups/deep/er";
  EXPECT_EQ(check(checkZipRequest), "OK");
  EXPECT_EQ(pathKind(dir / "my backups/deep/er"), PathKind::Folder);
  job.workOrder.BackupDir = dir / "plainfile/below";
  EXPECT_EQ(test::firstLine(check(checkZipRequest)), "Unable to create backup directory.");
  // Inside the book, the backups would be packed into the next epub: refused
  // before the folder is made.
  job.workOrder.BackupDir = dir / "book/backups";
  EXPECT_EQ(check(checkZipRequest), kBackupInsideFilesMessage);
  EXPECT_EQ(pathKind(dir / "book/backups"), PathKind::Missing);
}

// An unzip would put its folder in the place of a file, deleting it: refused
// before the backup folder is made. A folder, or a name not yet taken, is fine.
TEST_F(RequestChecks, UnzipOntoAFileIsRefusedBeforeTheBackupFolderIsMade) {
  writeFile(dir.path() / "book.epub", "PK");
  writeFile(dir.path() / "notes.txt", "notes");
  const std::string refused = formatText(kFilesFolderIsFileMessage, dir / "notes.txt");
  const struct {
    std::string filesLine;
    std::string expected;
  } rows[] = {
      {dir / "notes.txt", refused},
      {withTrailingSeparator(dir / "notes.txt"), refused},
      {dir / "book", "OK"},
      {dir / "fresh", "OK"},
  };
  for (const auto& row : rows) {
    fs::remove_all(dir.path() / "saved");
    job.workOrder.ZipPath = dir / "book.epub";
    job.workOrder.FilesDir = row.filesLine;
    job.SaveBackups = true;
    job.UseSpecifiedBackupFolder = true;
    job.workOrder.BackupDir = dir / "saved";
    EXPECT_EQ(check(checkUnzipRequest), row.expected) << row.filesLine;
    EXPECT_EQ(pathKind(dir / "saved"), row.expected == "OK" ? PathKind::Folder : PathKind::Missing) << row.filesLine;
  }
  EXPECT_EQ(test::readFile(dir.path() / "notes.txt"), "notes");
}

TEST_F(RequestChecks, PipesAreRefusedAsEpubsAndLogsByName) {
  const std::string pipe = dir / "pipe.epub";
  if (!test::makePipe(pipe)) GTEST_SKIP() << "no pipes in this file system";
  const std::string refusal = formatText(kNotRegularFileMessage, pipe);
  job.workOrder.ZipPath = pipe;
  EXPECT_EQ(check(checkZipRequest), refusal);
  job.workOrder.FilesDir = dir / "files";
  EXPECT_EQ(check(checkUnzipRequest), refusal);
  job.workOrder.DoWhat = kDoWhatUnzip;
  std::string message;
  EXPECT_FALSE(checkJobSource(&message, job.workOrder));
  EXPECT_EQ(message, refusal);
  EXPECT_EQ(check(checkAnalysisRequest), refusal);
  job.workOrder.ZipPath = dir / "real.epub";
  job.workOrder.AnalyzeZipLogPath = pipe;
  EXPECT_EQ(check(checkAnalysisRequest), refusal);
}

TEST_F(RequestChecks, DatetimeIsParsedIntoTheJobCopyOnly) {
  job.workOrder.ZipPath = dir / "b.epub";
  job.workOrder.tDatetime = 1234;  // as read from the settings file
  EXPECT_EQ(check(checkZipRequest), "OK");
  EXPECT_EQ(job.workOrder.tDatetime, 1234u);  // empty text keeps the stored value
  job.sDatetime = "2022-03-04Z";
  EXPECT_EQ(check(checkZipRequest), "OK");
  EXPECT_EQ(job.workOrder.tDatetime, test::utc(2022, 3, 4));
  job.sDatetime = "2022-02-30";
  EXPECT_EQ(check(checkZipRequest), "Unable to read datetime.");
}

TEST(CheckJobSource, NamesTheMissingOrWrongSource) {
  TempDir dir;
  writeFile(dir.path() / "f.epub", "x");
  EpubWorkOrder order;
  std::string message;
  // The message of a refused source; "OK" for one that passes.
  const auto check = [&] { return checkJobSource(&message, order) ? std::string("OK") : message; };
  order.DoWhat = kDoWhatZip;
  EXPECT_EQ(check(), "Please specify the files folder that you want to zip.");
  order.FilesDir = dir / "none";
  EXPECT_EQ(check(), "You specified a files folder that doesn't exist.");
  order.FilesDir = dir / "f.epub";
  EXPECT_EQ(check(), "You specified a files folder that isn't a folder.");
  order.DoWhat = kDoWhatUnzip;
  EXPECT_EQ(check(), "Please specify the epub file that you want to unzip.");
  order.ZipPath = dir.str();
  EXPECT_EQ(check(), "You specified an epub file that isn't a file (it's a folder).");
  order.ZipPath = dir / ".hidden.epub";
  writeFile(order.ZipPath, "x");
  EXPECT_EQ(check(), "OK");
  order.DoWhat = kDoWhatAnalysis;
  order.ZipPath = "";
  EXPECT_EQ(check(), "OK");
}

TEST(CheckAnalysisRequest, OffersAnalysisTxtInTheTemporaryFolder) {
  TempDir dir;
  // The variable the system takes its temporary folder from.
  test::ScopedEnv tmpdir(kWindowsNameRules ? "TMP" : "TMPDIR");
  tmpdir.set(utf8FromPath(dir.path()));
  cSettings settings;
  std::string message;
  FakeUi yes(true);
  EXPECT_FALSE(checkAnalysisRequest(yes, &message, settings));
  EXPECT_EQ(message, "You must specify the name and location of an epub file to analyze.");
  EXPECT_EQ(settings.workOrder.DoWhat, kDoWhatAnalysis);
  settings.workOrder.ZipPath = "/x.epub";
  FakeUi no(false);
  EXPECT_FALSE(checkAnalysisRequest(no, &message, settings));
  EXPECT_EQ(message, "");
  EXPECT_TRUE(checkAnalysisRequest(yes, &message, settings));
  EXPECT_EQ(settings.workOrder.AnalyzeZipLogPath, dir / "analysis.txt");
}

}  // namespace
}  // namespace plimsy
