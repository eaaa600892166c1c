#include "cli/commands.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <system_error>

#include <fmt/format.h>

#include "cli/progress_line.h"
#include "cli/terminal_text.h"
#include "core/paths.h"
#include "core/platform.h"
#include "core/request_checks.h"
#include "core/settings.h"
#include "core/text.h"
#include "engine/analysis_log.h"
#include "engine/book_check.h"
#include "engine/findings_text.h"
#include "engine/job_control.h"
#include "engine/job_report.h"
#include "engine/repack_job.h"
#include "engine/unzip_job.h"
#include "engine/zip_job.h"
#include "engine/zip_reader.h"

namespace plimsy::cli {
namespace {

// The command line's side of the request checks: an omitted output path means
// "choose one for me", so every offer is accepted and the choice is printed.
class CommandLineUi : public cRequestUi {
 public:
  explicit CommandLineUi(bool quiet) : quiet_(quiet) {}
  bool offer(const std::string&) override { return true; }
  void showChosenPath(int controlId, const std::string& path) override {
    if (quiet_) return;
    printEscaped(stdout, fmt::format("{}: {}\n", controlId == kEpubLineId ? "Epub" : "Files folder", path));
  }

 private:
  bool quiet_;
};

cSettings jobSettings(const JobOptions& options) {
  cSettings job;
  if (options.level) job.workOrder.CompressionLevel = *options.level;
  job.workOrder.DeflateCompressedFiles = options.deflateCompressed;
  job.workOrder.RealFileCreationTimes = !options.noRealTimes;
  job.sDatetime = options.datetime;
  job.SaveBackups = !options.noBackup;
  if (!options.backupDir.empty()) {
    job.UseSpecifiedBackupFolder = true;
    job.PutBackupsInOriginalLocation = false;
    job.workOrder.BackupDir = absoluteFromCommandLine(options.backupDir);
  }
  return job;
}

int failWith(const std::string& message) {
  if (!message.empty()) printEscaped(stderr, message + "\n");
  return 1;
}

int report(bool quiet, const std::string& text) {
  if (!quiet) printEscaped(stdout, text + "\n");
  return 0;
}

}  // namespace

void stopJobsOnRequest() {
  // The watcher's thread only says stop; the job's own thread fails and
  // removes its work, as when the window quits.
  platform::watchStopRequests([] { abandonRunningJobs(); });
}

int exitStatusAfter(int status) {
  const int signal = platform::stopRequestSignal();
  if (signal == 0) return status;
  waitForAbandonedWork();
  return platform::exitStatusForStop(signal);
}

std::string absoluteFromCommandLine(const std::string& path) {
  if (path.empty()) return path;
  std::error_code error;
  const std::filesystem::path absolute = std::filesystem::absolute(pathFromUtf8(path), error);
  if (error) return path;
  return utf8FromPath(absolute.lexically_normal());
}

namespace {

// A line on standard error showing how far the job has come, unless quiet or
// not watched.
std::unique_ptr<cProgressLine> progressLine(bool quiet, const sJobProgress& progress, std::string doing) {
  if (quiet || !platform::standardErrorIsTerminal()) return nullptr;
  return std::make_unique<cProgressLine>(progress, std::move(doing), stderr);
}

// A zip or unzip request: its check, its job, what the progress line says it
// does, and its success text.
struct sJobKind {
  bool (*check)(cRequestUi&, std::string*, cSettings&);
  std::function<bool(const EpubWorkOrder&, std::string*, sStatistics&, sJobProgress*)> job;
  std::string_view doing;
  std::string_view successText;
};

// The window's road for a job: the kind's check, the source check, the timed
// job, the report.
int runJobCommand(const JobOptions& options, cSettings& job, const sJobKind& kind) {
  CommandLineUi ui(options.quiet);
  std::string message;
  if (!kind.check(ui, &message, job) || !checkJobSource(&message, job.workOrder)) return failWith(message);

  sStatistics statistics;
  sJobProgress progress;
  const FileTime start = platform::currentFileTime();
  bool done = false;
  {
    const std::unique_ptr<cProgressLine> line = progressLine(options.quiet, progress, std::string(kind.doing));
    done = kind.job(job.workOrder, &message, statistics, &progress);
  }
  if (!done) return failWith(message);
  const std::uint64_t ms = elapsedMilliseconds(start, platform::currentFileTime());
  const int result = report(options.quiet, jobSuccessMessage(kind.successText, statistics, ms));
  // Entries that replaced others (two names for one file): a warning, not a failure.
  const std::string replaced = replacedEntriesWarning(statistics);
  if (!replaced.empty()) printEscaped(stderr, replaced + "\n");
  return result;
}

// After a zip: the errors that the check of the new epub finds, on standard
// error, as the book folder's warnings are printed before it; those warnings
// are not said twice. The zip has succeeded all the same.
void printNewEpubErrors(const std::string& folder, const std::string& epub) {
  const std::vector<sFinding> said = checkBookFolder(folder);
  std::vector<sFinding> errors;
  for (sFinding& finding : checkBook(epub)) {
    if (finding.severity != eSeverity::Error) continue;
    const bool warnedOf = std::any_of(said.begin(), said.end(), [&finding](const sFinding& warning) {
      return warning.code == finding.code && warning.entry == finding.entry;
    });
    if (!warnedOf) errors.push_back(std::move(finding));
  }
  if (!errors.empty()) printEscaped(stderr, findingsAsText(errors));
}

}  // namespace

int runZip(const JobOptions& options) {
  cSettings job = jobSettings(options);
  job.workOrder.FilesDir = absoluteFromCommandLine(options.source);
  job.workOrder.ZipPath = absoluteFromCommandLine(options.target);
  const auto zip = [&options](const EpubWorkOrder& order, std::string* message, sStatistics& statistics,
                              sJobProgress* progress) {
    sZipWriter writer;
    if (options.threads) writer.threads = *options.threads;
    writer.progress = progress;
    return zipJob(order, message, statistics, writer);
  };
  const int status = runJobCommand(options, job, {checkZipRequest, zip, "Zipping", kZipSuccessText});
  if (status == 0 && !options.quiet) printNewEpubErrors(job.workOrder.FilesDir, job.workOrder.ZipPath);
  return status;
}

int runUnzip(const JobOptions& options) {
  cSettings job = jobSettings(options);
  job.workOrder.ZipPath = absoluteFromCommandLine(options.source);
  job.workOrder.FilesDir = absoluteFromCommandLine(options.target);
  const auto unzip = [](const EpubWorkOrder& order, std::string* message, sStatistics& statistics,
                        sJobProgress* progress) { return unzipJob(order, message, statistics, progress); };
  return runJobCommand(options, job, {checkUnzipRequest, unzip, "Unzipping", kUnzipSuccessText});
}

int runAnalyze(const JobOptions& options) {
  cSettings settings;
  settings.workOrder.ZipPath = absoluteFromCommandLine(options.source);
  settings.workOrder.AnalyzeZipLogPath = absoluteFromCommandLine(options.logPath);
  CommandLineUi ui(options.quiet);
  std::string message;
  if (!checkAnalysisRequest(ui, &message, settings)) return failWith(message);

  const FileTime start = platform::currentFileTime();
  cZipReader reader;
  const bool ok = reader.open(&message, settings.workOrder.ZipPath) &&
                  writeAnalysisLog(reader, &message, settings.workOrder.AnalyzeZipLogPath);
  const std::uint64_t ms = elapsedMilliseconds(start, platform::currentFileTime());
  const sStatistics statistics = reader.statistics();
  reader.releaseArchive();
  if (!ok) return failWith(message);
  return report(options.quiet, analysisSuccessMessage("", statistics, ms) +
                                   "\n\nAnalysis log: " + settings.workOrder.AnalyzeZipLogPath);
}

int runRepack(const JobOptions& options) {
  sRepackOrder order;
  order.archivePath = absoluteFromCommandLine(options.source);
  order.outputPath = options.target.empty() ? order.archivePath : absoluteFromCommandLine(options.target);
  if (options.level) order.level = *options.level;
  std::string message;
  EpubWorkOrder source;
  source.DoWhat = kDoWhatUnzip;
  source.ZipPath = order.archivePath;
  if (!checkJobSource(&message, source)) return failWith(message);
  if (pathKind(order.outputPath) == PathKind::Folder)
    return failWith(formatText("The epub to write is a folder:\n%s", order.outputPath));
  if (!options.noBackup) {
    if (!options.backupDir.empty())
      order.backupDir = absoluteFromCommandLine(options.backupDir);
    else if (!parentFolder(&message, order.outputPath, order.backupDir))
      return failWith(message);
  }
  sStatistics statistics;
  std::vector<std::string> dropped;
  sJobProgress progress;
  order.progress = &progress;
  const FileTime start = platform::currentFileTime();
  bool done = false;
  {
    const std::unique_ptr<cProgressLine> line = progressLine(options.quiet, progress, "Repacking");
    done = repackJob(order, &message, statistics, &dropped);
  }
  if (!done) return failWith(message);
  const std::uint64_t ms = elapsedMilliseconds(start, platform::currentFileTime());
  const int result = report(options.quiet, jobSuccessMessage(kRepackSuccessText, statistics, ms));
  // Entries left out (a MIMETYPE beside the new mimetype): said, as unzip says what it replaced.
  const std::string note = droppedEntriesNote(dropped);
  if (!note.empty()) printEscaped(stderr, note + "\n");
  return result;
}

}  // namespace plimsy::cli
