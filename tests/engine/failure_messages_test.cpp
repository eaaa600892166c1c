// Every failure whose text names no file says, on the lines after it, the
// path it is about and the system's own reason. Each row makes the failure
// happen (a missing file, a path below a file, an injected disk fault, a file
// held open by someone else) and reads the three lines.

#include <cerrno>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "core/message.h"
#include "core/paths.h"
#include "core/platform.h"
#include "core/request_checks.h"
#include "core/settings.h"
#include "engine/analysis_log.h"
#include "engine/check_paths.h"
#include "engine/container_check.h"
#include "engine/repack_job.h"
#include "engine/unzip_job.h"
#include "engine/zip_job.h"
#include "engine/zip_reader.h"
#include "support/faults.h"
#include "support/special_files.h"
#include "support/temp_dir.h"
#include "support/times.h"
#include "support/work_orders.h"
#include "support/zip_builder.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace plimsy {
namespace {

using platform::FaultOperation;
using test::ScopedFault;
using test::TempDir;
using test::writeFile;

// An error as this system reports it: errno on POSIX, a GetLastError value on
// Windows (the other system's name is never compiled).
#ifdef _WIN32
#define SYSTEM_CODE(posix, windows) static_cast<std::uint32_t>(windows)
#else
#define SYSTEM_CODE(posix, windows) static_cast<std::uint32_t>(posix)
#endif

constexpr std::uint32_t kBelowAFile = SYSTEM_CODE(ENOTDIR, ERROR_PATH_NOT_FOUND);
constexpr std::uint32_t kMissing = SYSTEM_CODE(ENOENT, ERROR_FILE_NOT_FOUND);
constexpr std::uint32_t kNameTaken = SYSTEM_CODE(EEXIST, ERROR_ALREADY_EXISTS);
constexpr std::uint32_t kIsAFolder = SYSTEM_CODE(EISDIR, ERROR_ACCESS_DENIED);
constexpr std::uint32_t kAccessDenied = SYSTEM_CODE(EACCES, ERROR_ACCESS_DENIED);
constexpr std::uint32_t kInjected = SYSTEM_CODE(EIO, ERROR_WRITE_FAULT);
constexpr std::uint32_t kDiskFull = SYSTEM_CODE(ENOSPC, ERROR_DISK_FULL);
// A check the job makes itself: the system gives no reason.
constexpr std::uint32_t kNoSystemReason = UINT32_MAX;
constexpr std::uint32_t kHeld = SYSTEM_CODE(0, ERROR_SHARING_VIOLATION);  // no sharing modes on POSIX

// What a row's failure must say.
struct sExpected {
  std::string firstLine;
  std::string path;  // empty: there is no path to name
  std::uint32_t code;
  std::uint32_t orCode = 0;  // a second error the system may give instead
  std::string reason{};      // the reason, when it is not the system's (code kNoSystemReason)
};

struct sWorld {
  TempDir dir;
  std::string book = dir / "book";            // a files folder with a mimetype and a chapter
  std::string epub = dir / "book.epub";       // a small epub
  std::string plainFile = dir / "plainfile";  // a file, which nothing can lie below

  sWorld() {
    writeFile(dir.path() / "book" / "mimetype", "application/epub+zip");
    writeFile(dir.path() / "book" / "chapter.xhtml", "<html/>");
    writeFile(dir.path() / "book.epub", test::buildArchive(test::smallEpubPlan()));
    writeFile(dir.path() / "plainfile", "a file");
  }
  std::string below(const std::string& name) const { return plainFile + kPreferredSeparator + name; }
};

// A row: makes its failure happen in `world` and returns the message, filling
// in what it must say; false to skip (the system has no such failure).
struct sRow {
  const char* what;
  std::function<bool(sWorld& world, std::string& message, sExpected& expected)> fail;
};

std::string zipMessage(const EpubWorkOrder& order) {
  std::string message;
  sStatistics statistics;
  EXPECT_FALSE(zipJob(order, &message, statistics));
  return message;
}

// Zips on one thread, so that the nth write is always the same one: the
// mimetype's entry, the chapter's, the central directory, the end record.
std::string zipMessageOneByOne(const EpubWorkOrder& order, std::size_t wholeFileLimit = kWholeFileLimit) {
  std::string message;
  sStatistics statistics;
  sZipWriter writer;
  writer.threads = 1;
  writer.wholeFileLimit = wholeFileLimit;
  EXPECT_FALSE(zipJob(order, &message, statistics, writer));
  return message;
}

std::string unzipMessage(const EpubWorkOrder& order) {
  std::string message;
  sStatistics statistics;
  EXPECT_FALSE(unzipJob(order, &message, statistics));
  return message;
}

std::string readerMessage(const std::string& path) {
  cZipReader reader;
  std::string message;
  EXPECT_FALSE(reader.open(&message, path));
  return message;
}

std::string repackMessage(const sRepackOrder& order) {
  std::string message;
  sStatistics statistics;
  EXPECT_FALSE(repackJob(order, &message, statistics));
  return message;
}

// The checks of a request run without a window: offers are declined.
class cNoUi : public cRequestUi {
 public:
  bool offer(const std::string&) override { return false; }
  void showChosenPath(int, const std::string&) override {}
};

// One that takes every offer.
class cYesUi : public cRequestUi {
 public:
  bool offer(const std::string&) override { return true; }
  void showChosenPath(int, const std::string&) override {}
};

// Environment variables unset for the life of the object, then put back.
class cUnsetVariables {
 public:
  explicit cUnsetVariables(std::vector<const char*> names) : names_(std::move(names)) {
    for (const char* name : names_) {
      saved_.push_back(platform::environmentVariable(name));
      platform::setEnvironmentVariable(name, std::nullopt);
    }
  }
  ~cUnsetVariables() {
    for (std::size_t i = 0; i < names_.size(); ++i) platform::setEnvironmentVariable(names_[i], saved_[i]);
  }
  cUnsetVariables(const cUnsetVariables&) = delete;
  cUnsetVariables& operator=(const cUnsetVariables&) = delete;

 private:
  std::vector<const char*> names_;
  std::vector<std::optional<std::string>> saved_;
};

// An epub of one entry, unpacked into the missing folder "files" beside it.
std::string unzipOneEntry(sWorld& w, const test::EntryPlan& entry) {
  const std::string epub = w.dir / "one.epub";
  writeFile(w.dir.path() / "one.epub", test::buildArchive(test::planOf({entry})));
  return unzipMessage(test::unzipOrder(epub, w.dir / "files"));
}

const sRow kRows[] = {
    {"zip: the work file beside the epub cannot be made",
     [](sWorld& w, std::string& message, sExpected& expected) {
       message = zipMessage(test::zipOrder(w.book, w.below("book.epub")));
       expected = {"Unable to open zip file for writing.", w.below("temp1.zip"), kBelowAFile};
       return true;
     }},
    {"zip: the backup folder is a file",
     [](sWorld& w, std::string& message, sExpected& expected) {
       EpubWorkOrder order = test::zipOrder(w.book, w.epub);
       order.BackupDir = w.plainFile;
       message = zipMessage(order);
       expected = {"Unable to create directory for backup file.", w.plainFile, kNameTaken};
       return true;
     }},
    {"zip: the old epub cannot be copied to the backup",
     [](sWorld& w, std::string& message, sExpected& expected) {
       EpubWorkOrder order = test::zipOrder(w.book, w.epub);
       order.BackupDir = w.dir / "backups";
       const ScopedFault fault(FaultOperation::Copy, 1);
       message = zipMessage(order);
       expected = {"Unable to make backup.", w.dir / "backups/back1.zip", kInjected};
       return true;
     }},
    {"zip: the epub is held open by another program when it is backed up",
     [](sWorld& w, std::string& message, sExpected& expected) {
       const auto held = test::holdWithoutSharing(w.epub);
       if (!held) return false;
       EpubWorkOrder order = test::zipOrder(w.book, w.epub);
       order.BackupDir = w.dir / "backups";
       message = zipMessage(order);
       expected = {"Unable to make backup.", w.epub, kHeld};
       return true;
     }},
    {"zip: the epub is held open by another program when it is replaced",
     [](sWorld& w, std::string& message, sExpected& expected) {
       const auto held = test::holdWithoutSharing(w.epub);
       if (!held) return false;
       message = zipMessage(test::zipOrder(w.book, w.epub));
       // Windows refuses to replace it as a sharing violation, Wine as a denied access.
       expected = {"Unable to rename work copy of zip file.", w.epub, kHeld, kAccessDenied};
       return true;
     }},
    {"zip: the work copy cannot be renamed over the epub",
     [](sWorld& w, std::string& message, sExpected& expected) {
       const ScopedFault fault(FaultOperation::Rename, 1);
       message = zipMessage(test::zipOrder(w.book, w.epub));
       expected = {"Unable to rename work copy of zip file.", w.epub, kInjected};
       return true;
     }},
    {"zip: the mimetype's entry cannot be written (a full disk)",
     [](sWorld& w, std::string& message, sExpected& expected) {
       const ScopedFault fault(FaultOperation::Write, 1, true);
       message = zipMessageOneByOne(test::zipOrder(w.book, w.epub));
       expected = {"Unable to write stored file.", w.dir / "temp1.zip", kDiskFull};
       return true;
     }},
    {"zip: the entries written on several threads cannot be written (a full disk)",
     [](sWorld& w, std::string& message, sExpected& expected) {
       const ScopedFault fault(FaultOperation::Write, 1, true);
       sStatistics statistics;
       sZipWriter writer;
       writer.threads = 4;
       EXPECT_FALSE(zipJob(test::zipOrder(w.book, w.epub), &message, statistics, writer));
       // The batch's first entry is the stored mimetype.
       expected = {"Unable to write stored file.", w.dir / "temp1.zip", kDiskFull};
       return true;
     }},
    {"zip: the local header of a streamed entry cannot be written",
     [](sWorld& w, std::string& message, sExpected& expected) {
       const ScopedFault fault(FaultOperation::Write, 1);
       message = zipMessageOneByOne(test::zipOrder(w.book, w.epub), 0);
       expected = {"Error while writing local file header in sLfhEx2::write().", w.dir / "temp1.zip", kInjected};
       return true;
     }},
    {"zip: the chapter's deflated entry cannot be written",
     [](sWorld& w, std::string& message, sExpected& expected) {
       const ScopedFault fault(FaultOperation::Write, 2);
       message = zipMessageOneByOne(test::zipOrder(w.book, w.epub));
       expected = {"An error occurred while deflating.", w.dir / "temp1.zip", kInjected};
       return true;
     }},
    {"zip: the central directory cannot be written",
     [](sWorld& w, std::string& message, sExpected& expected) {
       const ScopedFault fault(FaultOperation::Write, 3);
       message = zipMessageOneByOne(test::zipOrder(w.book, w.epub));
       expected = {"Unable to write central directory.", w.dir / "temp1.zip", kInjected};
       return true;
     }},
    {"zip: the end record cannot be written",
     [](sWorld& w, std::string& message, sExpected& expected) {
       const ScopedFault fault(FaultOperation::Write, 4);
       message = zipMessageOneByOne(test::zipOrder(w.book, w.epub));
       expected = {"Unable to write Ecd.", w.dir / "temp1.zip", kInjected};
       return true;
     }},
    {"zip: the work file cannot be closed",
     [](sWorld& w, std::string& message, sExpected& expected) {
       const ScopedFault fault(FaultOperation::Close, 1);
       message = zipMessage(test::zipOrder(w.book, w.epub));
       expected = {"Unable to close zip file.", w.dir / "temp1.zip", kInjected};
       return true;
     }},
    {"zip: the fixed datetime cannot be set",
     [](sWorld& w, std::string& message, sExpected& expected) {
       EpubWorkOrder order = test::zipOrder(w.book, w.epub);
       order.tDatetime = test::utc(2020, 5, 17, 12);
       const ScopedFault fault(FaultOperation::SetTimes, 1);
       message = zipMessage(order);
       expected = {"Unable to set time on zip file.", w.dir / "temp1.zip", kInjected};
       return true;
     }},
    {"zip: the real creation time cannot be set",
     [](sWorld& w, std::string& message, sExpected& expected) {
       EpubWorkOrder order = test::zipOrder(w.book, w.epub);
       order.RealFileCreationTimes = true;
       const ScopedFault fault(FaultOperation::SetTimes, 1);
       message = zipMessage(order);
       expected = {"Unable to set time on epub file.", w.dir / "temp1.zip", kInjected};
       return true;
     }},
    {"zip: the job's own check finds no files folder",
     [](sWorld& w, std::string& message, sExpected& expected) {
       EpubWorkOrder order = test::zipOrder(w.dir / "missing", w.epub);
       EXPECT_FALSE(checkPaths(order, &message));
       expected = {"Files folder does not exist.", w.dir / "missing", kNoSystemReason};
       return true;
     }},
    {"unzip: a stored entry cannot be written",
     [](sWorld& w, std::string& message, sExpected& expected) {
       const ScopedFault fault(FaultOperation::Write, 1);
       message = unzipOneEntry(w, test::storedEntry("a", "text"));
       expected = {kStoredWriteMessage, w.dir / "files/a", kInjected};
       return true;
     }},
    {"unzip: a stored entry's file cannot be closed",
     [](sWorld& w, std::string& message, sExpected& expected) {
       const ScopedFault fault(FaultOperation::Close, 1);
       message = unzipOneEntry(w, test::storedEntry("a", "text"));
       expected = {kStoredWriteMessage, w.dir / "files/a", kInjected};
       return true;
     }},
    {"unzip: a deflated entry cannot be written (a full disk)",
     [](sWorld& w, std::string& message, sExpected& expected) {
       const ScopedFault fault(FaultOperation::Write, 1, true);
       message = unzipOneEntry(w, test::deflatedEntry("a", "text text text"));
       expected = {kDeflatedWriteMessage, w.dir / "files/a", kDiskFull};
       return true;
     }},
    {"unzip: a deflated entry's data does not inflate",
     [](sWorld& w, std::string& message, sExpected& expected) {
       test::EntryPlan entry = test::deflatedEntry("a", "text text text");
       entry.data[0] = '\x07';  // a final block of the reserved type 3
       message = unzipOneEntry(w, entry);
       expected = {kDeflatedWriteMessage, w.dir / "files/a", kNoSystemReason};
       return true;
     }},
    {"unzip: a folder entry lies below a file entry",
     [](sWorld& w, std::string& message, sExpected& expected) {
       writeFile(w.dir.path() / "file-then-folder.epub",
                 test::buildArchive(test::planOf({test::storedEntry("a", "text"), test::storedEntry("a/b/", "")})));
       message = unzipMessage(test::unzipOrder(w.dir / "file-then-folder.epub", w.dir / "files"));
  // Windows goes up to the file that stands in the way and names it.
#ifdef _WIN32
       expected = {kNoUnzipFolderMessage, w.dir / "files/a", kNameTaken};
#else
       expected = {kNoUnzipFolderMessage, w.dir / "files/a/b", kBelowAFile};
#endif
       return true;
     }},
    {"unzip: the files folder cannot be made",
     [](sWorld& w, std::string& message, sExpected& expected) {
       message = unzipMessage(test::unzipOrder(w.epub, w.below("files") + kPreferredSeparator));
       expected = {kNoUnzipFolderMessage, w.below("files"), kBelowAFile};
       return true;
     }},
    {"unzip: an entry's file cannot be made (a folder entry took its name)",
     [](sWorld& w, std::string& message, sExpected& expected) {
       writeFile(w.dir.path() / "folder-then-file.epub",
                 test::buildArchive(test::planOf({test::storedEntry("a/", ""), test::storedEntry("a", "text")})));
       message = unzipMessage(test::unzipOrder(w.dir / "folder-then-file.epub", w.dir / "files"));
       expected = {kNoOutputFileMessage, w.dir / "files/a", kIsAFolder};
       return true;
     }},
    {"unzip: the epub is held open by another program",
     [](sWorld& w, std::string& message, sExpected& expected) {
       const auto held = test::holdWithoutSharing(w.epub);
       if (!held) return false;
       message = unzipMessage(test::unzipOrder(w.epub, w.dir / "files"));
       expected = {"Unable to open zip file.", w.epub, kHeld};
       return true;
     }},
    {"unzip: the backup folder is a file",
     [](sWorld& w, std::string& message, sExpected& expected) {
       EpubWorkOrder order = test::unzipOrder(w.epub, w.book);
       order.BackupDir = w.plainFile;
       message = unzipMessage(order);
       expected = {kNoBackupFolderMessage, w.plainFile, kNameTaken};
       return true;
     }},
    {"unzip: the work folder cannot be renamed into place",
     [](sWorld& w, std::string& message, sExpected& expected) {
       const ScopedFault fault(FaultOperation::Rename, 1);
       message = unzipMessage(test::unzipOrder(w.epub, w.book));
       expected = {kRenameWorkFolderMessage, w.book, kInjected};
       return true;
     }},
    {"analyze (A): the epub is missing",
     [](sWorld& w, std::string& message, sExpected& expected) {
       cSettings settings;
       settings.workOrder.ZipPath = w.dir / "missing.epub";
       settings.workOrder.AnalyzeZipLogPath = w.dir / "analysis.txt";
       cNoUi ui;
       EXPECT_TRUE(checkAnalysisRequest(ui, &message, settings)) << message;
       message = readerMessage(settings.workOrder.ZipPath);
       expected = {"Unable to open zip file.", w.dir / "missing.epub", kMissing};
       return true;
     }},
    {"analyze: the epub's path lies below a file",
     [](sWorld& w, std::string& message, sExpected& expected) {
       message = readerMessage(w.below("book.epub"));
       expected = {"Unable to open zip file.", w.below("book.epub"), kBelowAFile};
       return true;
     }},
    {"analyze: the log cannot be created",
     [](sWorld& w, std::string& message, sExpected& expected) {
       cZipReader reader;
       EXPECT_TRUE(reader.open(&message, w.epub)) << message;
       EXPECT_FALSE(writeAnalysisLog(reader, &message, w.below("analysis.txt")));
       expected = {"Unable to open log file.", w.below("analysis.txt"), kBelowAFile};
       return true;
     }},
    {"analyze: the log cannot be written (a full disk)",
     [](sWorld& w, std::string& message, sExpected& expected) {
       cZipReader reader;
       EXPECT_TRUE(reader.open(&message, w.epub)) << message;
       const ScopedFault fault(FaultOperation::Write, 1, true);
       EXPECT_FALSE(writeAnalysisLog(reader, &message, w.dir / "analysis.txt"));
       expected = {"Unable to write log file.", w.dir / "analysis.txt", kDiskFull};
       return true;
     }},
    {"analyze: there is no folder for temporary files to hold the log",
     [](sWorld& w, std::string& message, sExpected& expected) {
#ifdef _WIN32
       (void)w;
       (void)message;
       (void)expected;
       return false;  // Windows always has one
#else
       const cUnsetVariables unset({"TMPDIR", "XDG_RUNTIME_DIR", "XDG_CACHE_HOME", "HOME"});
       cSettings settings;
       settings.workOrder.ZipPath = w.epub;
       cYesUi ui;
       EXPECT_FALSE(checkAnalysisRequest(ui, &message, settings));
       expected = {"Unable to find the folder for temporary files.", "", kNoSystemReason, 0,
                   "None of $TMPDIR, $XDG_RUNTIME_DIR, $XDG_CACHE_HOME and $HOME holds an absolute path."};
       return true;
#endif
     }},
    {"check: the epub is held open by another program",
     [](sWorld& w, std::string& message, sExpected& expected) {
       const auto held = test::holdWithoutSharing(w.epub);
       if (!held) return false;
       const std::vector<sFinding> findings = checkContainer(w.epub, {});
       EXPECT_EQ(findings.size(), 1u);
       if (!findings.empty()) message = findings.front().message;
       // A finding stays on its line and the report names the file: the
       // system's reason follows the first sentence, the path is left out.
       expected = {"Unable to open zip file. " + platform::systemErrorText(kHeld), "", kNoSystemReason};
       return true;
     }},
    {"repack: the epub is missing",
     [](sWorld& w, std::string& message, sExpected& expected) {
       sRepackOrder order;
       order.archivePath = order.outputPath = w.dir / "missing.epub";
       message = repackMessage(order);
       expected = {"Unable to open zip file.", w.dir / "missing.epub", kMissing};
       return true;
     }},
    {"repack: the scratch folder cannot be made",
     [](sWorld& w, std::string& message, sExpected& expected) {
       sRepackOrder order;
       order.archivePath = order.outputPath = w.epub;
       order.level = 9;
       const ScopedFault fault(FaultOperation::MakeFolder, 1);
       message = repackMessage(order);
       expected = {"Unable to create directory for unzipped files.", w.dir / "temp1", kInjected};
       return true;
     }},
    {"repack: the work copy cannot be renamed over the epub",
     [](sWorld& w, std::string& message, sExpected& expected) {
       sRepackOrder order;
       order.archivePath = order.outputPath = w.epub;
       const ScopedFault fault(FaultOperation::Rename, 1);
       message = repackMessage(order);
       expected = {"Unable to rename work copy of zip file.", w.epub, kInjected};
       return true;
     }},
    {"request: the backup folder cannot be made",
     [](sWorld& w, std::string& message, sExpected& expected) {
       cSettings job;
       job.workOrder = test::zipOrder(w.book, w.epub);
       job.SaveBackups = true;
       job.UseSpecifiedBackupFolder = true;
       job.workOrder.BackupDir = w.below("backups");
       cNoUi ui;
       EXPECT_FALSE(checkZipRequest(ui, &message, job));
  // Windows goes up to the file that stands in the way and names it.
#ifdef _WIN32
       expected = {"Unable to create backup directory.", w.plainFile, kNameTaken};
#else
       expected = {"Unable to create backup directory.", w.below("backups"), kBelowAFile};
#endif
       return true;
     }},
};

std::vector<std::string> linesOf(const std::string& message) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = message.find('\n', start);
    lines.push_back(message.substr(start, end - start));
    if (end == std::string::npos) return lines;
    start = end + 1;
  }
}

TEST(FailureMessages, NameThePathAndTheSystemsReasonAfterTheFirstLine) {
  int ran = 0;
  for (const sRow& row : kRows) {
    SCOPED_TRACE(row.what);
    sWorld world;
    std::string message;
    sExpected expected;
    if (!row.fail(world, message, expected)) continue;
    ++ran;
    std::vector<std::string> lines = linesOf(message);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], expected.firstLine);
    std::vector<std::string> wanted = {expected.firstLine};
    if (!expected.path.empty()) wanted.push_back(expected.path);
    if (expected.code != kNoSystemReason) {
      const bool otherError = expected.orCode != 0 && lines.back() == platform::systemErrorText(expected.orCode);
      wanted.push_back(platform::systemErrorText(otherError ? expected.orCode : expected.code));
      EXPECT_FALSE(wanted.back().empty());
    }
    if (!expected.reason.empty()) wanted.push_back(expected.reason);
    EXPECT_EQ(lines, wanted);
  }
#ifdef _WIN32
  EXPECT_EQ(ran, static_cast<int>(std::size(kRows)) - 1);  // Windows always has a folder for temporary files
#else
  EXPECT_EQ(ran, static_cast<int>(std::size(kRows)) - 4);  // files held without sharing are Windows' own
#endif
}

// A message whose text carries the reason and the path in its sentence keeps
// its one line: the old folder that could not be deleted is named there.
TEST(FailureMessages, OldFolderThatCannotBeDeletedIsNamedInItsSentence) {
  sWorld world;
  std::string message;
  {
    const ScopedFault fault(FaultOperation::Remove, 1);
    message = unzipMessage(test::unzipOrder(world.epub, world.book));
  }
  std::string reason = platform::systemErrorText(kInjected);
  while (reason.ends_with('.')) reason.pop_back();
  EXPECT_EQ(message, "Unable to delete old directory tree so it can be replaced by new one; " + reason + ": " +
                         (world.dir / "old1") + ".");
}

// The reason is the system's own sentence for the error.
TEST(FailureMessages, ReasonIsTheSystemsOwnText) {
#ifdef _WIN32
  for (const DWORD code : {DWORD{ERROR_FILE_NOT_FOUND}, DWORD{ERROR_SHARING_VIOLATION}}) {
    wchar_t buffer[512] = {};
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                                        buffer, 512, nullptr);
    ASSERT_GT(length, 0u);
    std::wstring wide(buffer, length);
    while (!wide.empty() && (wide.back() == L'\n' || wide.back() == L'\r' || wide.back() == L' ')) wide.pop_back();
    std::string expected(wide.size() * 3, '\0');
    expected.resize(static_cast<std::size_t>(WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                                                 expected.data(), static_cast<int>(expected.size()),
                                                                 nullptr, nullptr)));
    EXPECT_EQ(platform::systemErrorText(code), expected);
  }
#else
  for (const int code : {ENOENT, ENOTDIR, EEXIST, EIO}) EXPECT_EQ(platform::systemErrorText(code), std::strerror(code));
#endif
}

// A message that already names its file keeps its lines; an empty path or
// reason adds none.
TEST(FailureMessages, PathAndReasonFollowTheFirstLine) {
  struct sCase {
    const char* path;
    const char* reason;
    const char* message;
  };
  const sCase cases[] = {
      {"/b/x.epub", "No such file or directory", "Unable to open zip file.\n/b/x.epub\nNo such file or directory"},
      {"/b/x.epub", "", "Unable to open zip file.\n/b/x.epub"},
      {"", "", "Unable to open zip file."},
  };
  for (const sCase& c : cases) EXPECT_EQ(withPathAndReason("Unable to open zip file.", c.path, c.reason), c.message);
}

}  // namespace
}  // namespace plimsy
