#pragma once

// The background job runner: zip, unzip, analysis and check each run on a detached
// worker thread of their own, so the window stays responsive. The worker
// completes the request (checks, and the questions they ask), switches the
// owner to its busy look, times the job, restores the idle look and reports:
// the success text with the statistics and the elapsed milliseconds (or the
// first error; a zip's message says how many errors the check of the new
// epub found, if any), then opens the finished work when the options say so (and
// explains an open that failed); an unzip whose entries replaced others (two
// names for one file) warns of them, whatever the options say. A job that
// ends after the window was closed and the running jobs abandoned
// (engine/job_control.h) reports nothing.
//
// Every effect on the window goes through the owner, which carries it out on
// the GUI thread while the worker waits; the GUI thread never waits for a
// worker, and nobody joins one.

#include <cstdint>
#include <string>

#include "core/settings.h"
#include "engine/statistics.h"
#include "ui/check_job.h"
#include "ui/services.h"

namespace plimsy::ui {

// What the runner needs of the window that asked for a job (the main
// dialog). Each operation may be called from a worker thread.
class cJobOwner {
 public:
  virtual ~cJobOwner() = default;
  // Copies the two path lines into the process-wide settings object.
  virtual void readLines() = 0;
  // Busy: job buttons hidden, marquee shown. Idle: the other way round, and
  // the job buttons enabled.
  virtual void setBusyLook(bool busy) = 0;
  // The job buttons are disabled from the click that asks for a job until
  // its request is refused or declined (enabled here) or the job ends (the
  // idle look), so that a second click or Enter cannot start a second job on
  // the same paths meanwhile.
  virtual void enableJobButtons(bool enabled) = 0;
  // A message box owned by the window (nullptr owner when `owned` is false).
  virtual void showMessage(const std::string& text, eIcon icon, bool owned = true) = 0;
  // A Yes/No/Cancel question; true only for Yes.
  virtual bool offer(const std::string& question) = 0;
  // Writes a path the checks chose into the path line with this control id.
  virtual void showChosenPath(int controlId, const std::string& path) = 0;
  virtual int showTaskDialog(const sTaskDialog& task) = 0;
  // The result dialog of a check (modal); check_ids::kRepair when the user
  // asks for a repair (the job buttons are disabled then), else
  // check_ids::kClose.
  virtual int showCheckResult(const sCheckView& view) = 0;
  // Opens a file or folder; returns the shell result.
  virtual std::intptr_t openPath(const std::string& path) = 0;
  virtual const sServices& services() const = 0;
};

// One zip or unzip request.
struct sJobRecord {
  sStatistics statistics;
  std::string message;
  cJobOwner* owner = nullptr;
  std::int32_t DoWhat = 0;
  cSettings jobCopy;
};

// Starts runJob for DoWhat 1 (zip) or 2 (unzip) on a new detached thread and
// returns at once. The owner's job buttons are disabled already; they are
// enabled again when the request does not become a job.
void startJob(cJobOwner& owner, std::int32_t doWhat);

// The worker's steps for a zip or unzip request (runs on the calling thread).
void runJob(cJobOwner& owner, sJobRecord& record);

// Starts runAnalysis on a new detached thread (the request checks have run;
// the job buttons are disabled until the idle look).
void startAnalysis(cJobOwner& owner);

// The worker's steps for an analysis: busy look, read and log the epub named
// by the process-wide work order, idle look, then the summary task dialog
// (whatever ShowSuccessMessage says) whose button opens the log.
void runAnalysis(cJobOwner& owner);

// Starts runCheck for this epub on a new detached thread and returns at once
// (checkCheckRequest has passed; the job buttons are disabled until the idle
// look).
void startCheck(cJobOwner& owner, const std::string& epub);

// The worker's steps for a check: busy look, the deep check, idle look, the
// result dialog. On Repair (the job buttons are disabled from its click): the
// backup folder as the options say (a refusal enables them and is shown), busy look, the epub repacked in place,
// checked again, idle look, the result again. A repack that fails shows its message.
void runCheck(cJobOwner& owner, const std::string& epub);

// The number of worker threads that have not finished yet.
int runningJobs();

// Tells every running job to stop (engine/job_control.h) and waits, on the
// GUI thread, until every worker has ended: each removes its own work
// before it ends, and nothing is removed under a job that may still write.
// Meanwhile the GUI thread runs its pending events, so that a worker waiting
// for it goes on; workers told to stop show, ask and open nothing more, and
// leave the busy look as it is. For a program about to end.
void stopRunningJobs();

}  // namespace plimsy::ui
