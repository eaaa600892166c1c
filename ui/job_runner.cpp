#include "ui/job_runner.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "core/platform.h"
#include "core/request_checks.h"
#include "core/settings_file.h"
#include "engine/analysis_log.h"
#include "engine/book_check.h"
#include "engine/job_control.h"
#include "engine/job_report.h"
#include "engine/repack_job.h"
#include "engine/zip_reader.h"
#include "ui/control_ids.h"
#include "ui/gui_thread.h"
#include "ui/open_failures.h"

namespace plimsy::ui {
namespace {

std::atomic<int> workers{0};

constexpr const char* kUnknownJobMessage = "An error occurred.";

// The request checks' view of the owner.
class cOwnerRequestUi : public cRequestUi {
 public:
  explicit cOwnerRequestUi(cJobOwner& owner) : owner_(owner) {}
  bool offer(const std::string& question) override { return owner_.offer(question); }
  void showChosenPath(int controlId, const std::string& path) override { owner_.showChosenPath(controlId, path); }

 private:
  cJobOwner& owner_;
};

struct sJobKind {
  bool (*check)(cRequestUi&, std::string*, cSettings&);
  const JobFunction* job;
  std::string_view successText;
  const std::string* finishedWork;
  const char* openFailure;
};

bool jobKind(const cJobOwner& owner, sJobRecord& record, sJobKind& kind) {
  switch (record.DoWhat) {
    case kDoWhatZip:
      kind = {checkZipRequest, &owner.services().zip, kZipSuccessText, &record.jobCopy.workOrder.ZipPath,
              kOpenEpubFailure};
      return true;
    case kDoWhatUnzip:
      kind = {checkUnzipRequest, &owner.services().unzip, kUnzipSuccessText, &record.jobCopy.workOrder.FilesDir,
              kOpenFilesFolderFailure};
      return true;
    default: return false;
  }
}

// Opens the finished work or the log; a failure is explained.
void openAndReport(cJobOwner& owner, const std::string& path, const char* failureFormat) {
  const std::string failure = openFailureMessage(failureFormat, owner.openPath(path), path);
  if (!failure.empty()) owner.showMessage(failure, eIcon::Information);
}

// Runs a worker's body; a failure to allocate must not end the program.
template <typename Body>
void guarded(cJobOwner& owner, Body body) {
  try {
    body();
  } catch (...) {
    owner.setBusyLook(false);
    owner.showMessage(kUnknownJobMessage, eIcon::Warning);
  }
}

// The owner as a worker sees it: once the jobs have been told to stop (the
// window is closing and waits for them), nothing more is asked, shown or
// opened, and the busy look stays.
class cStoppableOwner : public cJobOwner {
 public:
  explicit cStoppableOwner(cJobOwner& owner) : owner_(owner) {}
  void readLines() override { owner_.readLines(); }
  void setBusyLook(bool busy) override {
    if (!jobsAbandoned()) owner_.setBusyLook(busy);
  }
  void showMessage(const std::string& text, eIcon icon, bool owned) override {
    if (!jobsAbandoned()) owner_.showMessage(text, icon, owned);
  }
  bool offer(const std::string& question) override { return !jobsAbandoned() && owner_.offer(question); }
  void showChosenPath(int controlId, const std::string& path) override {
    if (!jobsAbandoned()) owner_.showChosenPath(controlId, path);
  }
  int showTaskDialog(const sTaskDialog& task) override {
    return jobsAbandoned() ? kIdCancel : owner_.showTaskDialog(task);
  }
  int showCheckResult(const sCheckView& view) override {
    return jobsAbandoned() ? check_ids::kClose : owner_.showCheckResult(view);
  }
  std::intptr_t openPath(const std::string& path) override {
    constexpr std::intptr_t kNotOpened = 33;  // a success, so that nothing is explained
    return jobsAbandoned() ? kNotOpened : owner_.openPath(path);
  }
  void enableJobButtons(bool enabled) override {
    if (!jobsAbandoned()) owner_.enableJobButtons(enabled);
  }
  const sServices& services() const override { return owner_.services(); }

 private:
  cJobOwner& owner_;
};

// False when no thread could be started.
template <typename Body>
bool startWorker(Body body) {
  ++workers;
  try {
    std::thread([body = std::move(body)]() mutable {
      body();
      --workers;
    }).detach();
    return true;
  } catch (...) {
    --workers;
    return false;
  }
}

// The analysis' ending: idle look, then the summary whose button opens the
// log, or the failure.
void reportAnalysis(cJobOwner& owner, bool ok, const sStatistics& statistics, const std::string& message,
                    std::uint64_t milliseconds) {
  owner.setBusyLook(false);
  if (ok) {
    sTaskDialog task;
    task.instruction = "Analysis";
    task.content = analysisSuccessMessage(kAnalysisButtonHint, statistics, milliseconds);
    task.customButton = "Show full analysis";
    task.commonButton = sTaskDialog::eCommonButton::Cancel;
    if (owner.showTaskDialog(task) == kTaskButtonId)
      openAndReport(owner, settingsSnapshot().workOrder.AnalyzeZipLogPath, kOpenAnalysisLogFailure);
  } else if (!message.empty()) {
    owner.showMessage(message, eIcon::Warning);
  }
}

}  // namespace

void startJob(cJobOwner& owner, std::int32_t doWhat) {
  auto record = std::make_unique<sJobRecord>();
  record->owner = &owner;
  record->DoWhat = doWhat;
  const bool started = startWorker([record = std::move(record)]() mutable {
    sJobRecord local = std::move(*record);
    record.reset();
    cStoppableOwner owner(*local.owner);
    guarded(owner, [&local, &owner] { runJob(owner, local); });
  });
  if (!started) owner.enableJobButtons(true);
}

void runJob(cJobOwner& owner, sJobRecord& record) {
  owner.readLines();
  record.jobCopy = settingsSnapshot();
  record.jobCopy.workOrder.DoWhat = record.DoWhat;
  sJobKind kind{};
  if (!jobKind(owner, record, kind)) {
    owner.enableJobButtons(true);
    owner.showMessage(kUnknownJobMessage, eIcon::Warning);
    return;
  }
  cOwnerRequestUi requestUi(owner);
  if (!kind.check(requestUi, &record.message, record.jobCopy) ||
      !checkJobSource(&record.message, record.jobCopy.workOrder)) {
    // Refused or declined: no job, the buttons take clicks again.
    owner.enableJobButtons(true);
    if (!record.message.empty()) owner.showMessage(record.message, eIcon::Warning);
    return;
  }
  saveSettings();
  record.message.clear();

  owner.setBusyLook(true);
  const FileTime start = platform::currentFileTime();
  sStatistics statistics;
  const bool ok = (*kind.job)(record.jobCopy.workOrder, &record.message, statistics);
  record.statistics = statistics;
  const std::uint64_t milliseconds = elapsedMilliseconds(start, platform::currentFileTime());
  // The window has been closed and the program is ending: nothing to report.
  if (jobsAbandoned()) return;
  // A new epub that would fail its check says so in the success message (the
  // plain check: the container, the package and the navigation).
  std::string checkLine;
  if (ok && record.DoWhat == kDoWhatZip && record.jobCopy.ShowSuccessMessage)
    checkLine = checkFoundLine(countFindings(checkBook(record.jobCopy.workOrder.ZipPath), eSeverity::Error));
  owner.setBusyLook(false);

  if (!ok) {
    if (!record.message.empty()) owner.showMessage(record.message, eIcon::Warning);
    return;
  }
  if (record.jobCopy.ShowSuccessMessage) {
    std::string success = jobSuccessMessage(kind.successText, record.statistics, milliseconds);
    if (!checkLine.empty()) success += "\n\n" + checkLine;
    owner.showMessage(success, eIcon::Information);
  }
  // An unzip whose entries replaced others says so, whatever the options say.
  const std::string replaced = replacedEntriesWarning(record.statistics);
  if (!replaced.empty()) owner.showMessage(replaced, eIcon::Warning);
  if (record.jobCopy.OpenFinishedWork) openAndReport(owner, *kind.finishedWork, kind.openFailure);
}

void startAnalysis(cJobOwner& owner) {
  cJobOwner* cell = &owner;
  const bool started = startWorker([cell] {
    cStoppableOwner owner(*cell);
    guarded(owner, [&owner] { runAnalysis(owner); });
  });
  if (!started) owner.enableJobButtons(true);
}

void runAnalysis(cJobOwner& owner) {
  owner.setBusyLook(true);
  const FileTime start = platform::currentFileTime();
  const EpubWorkOrder order = settingsSnapshot().workOrder;
  cZipReader reader;
  std::string message;
  const bool ok = reader.open(&message, order.ZipPath) && writeAnalysisLog(reader, &message, order.AnalyzeZipLogPath);
  const std::uint64_t milliseconds = elapsedMilliseconds(start, platform::currentFileTime());
  if (!jobsAbandoned()) reportAnalysis(owner, ok, reader.statistics(), message, milliseconds);
  reader.releaseArchive();
}

void startCheck(cJobOwner& owner, const std::string& epub) {
  cJobOwner* cell = &owner;
  const bool started = startWorker([cell, epub] {
    cStoppableOwner owner(*cell);
    guarded(owner, [&owner, &epub] { runCheck(owner, epub); });
  });
  if (!started) owner.enableJobButtons(true);
}

void runCheck(cJobOwner& owner, const std::string& epub) {
  sContainerCheckOptions deep;
  deep.deep = true;
  owner.setBusyLook(true);
  std::vector<sFinding> findings = checkBook(epub, deep);
  bool repaired = false;
  for (;;) {
    if (jobsAbandoned()) return;
    owner.setBusyLook(false);
    if (owner.showCheckResult(checkView(epub, findings, repaired)) != check_ids::kRepair) return;
    // Repair: the epub repacked in place, its old self backed up as the
    // options say, as a zip would back it up.
    sRepackOrder order;
    order.archivePath = epub;
    order.outputPath = epub;
    std::string message;
    if (!repairBackupFolder(&message, settingsSnapshot(), epub, order.backupDir)) {
      // Refused: the buttons, disabled at the click on Repair, take clicks again.
      owner.enableJobButtons(true);
      owner.showMessage(message, eIcon::Warning);
      return;
    }
    owner.setBusyLook(true);
    sStatistics statistics;
    if (!repackJob(order, &message, statistics)) {
      if (jobsAbandoned()) return;
      owner.setBusyLook(false);
      owner.showMessage(message, eIcon::Warning);
      return;
    }
    findings = checkBook(epub, deep);
    repaired = true;
  }
}

int runningJobs() { return workers.load(); }

void stopRunningJobs() {
  abandonRunningJobs();
  // A worker may be waiting for the GUI thread (onGuiThread) at this moment:
  // the GUI thread runs its events while it waits, or both would wait for
  // ever. Workers told to stop ask the GUI thread for nothing that waits
  // for the user (cStoppableOwner).
  while (runningJobs() > 0) {
    processPendingEvents();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

}  // namespace plimsy::ui
