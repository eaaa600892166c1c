#pragma once

// Running zip and unzip jobs, seen from outside: each job registers the work
// file or folder it has claimed (tempN.zip, tempN/) for as long as it owns
// it, and checks between pieces of work whether it has been told to stop.
// A program that quits in the middle of a job tells every job to stop, so
// that no half-written epub or half-filled folder is left behind.

#include <chrono>
#include <string>

namespace plimsy {

// The message of a job that was told to stop (the program is quitting).
inline constexpr const char* kJobAbandonedMessage = "The job was stopped before it was finished.";

// Tells every running zip and unzip job to stop at its next check (each then
// fails and removes its own work file or folder), waits up to `wait` for them
// to do so, and removes the work files and folders of those that have not
// stopped by then. Jobs started afterwards are stopped at once too: this is
// for a program about to end. Returns true when every job had stopped within
// the wait.
bool abandonRunningJobs(std::chrono::milliseconds wait);

// Whether abandonRunningJobs has been called: jobs stop when it is true.
bool jobsAbandoned();

// Lets jobs run again after abandonRunningJobs (a program that stays, such
// as a test).
void resumeJobs();

// A job's claim on its work file or folder, registered while the object
// lives. release() gives the claim up once the work has been renamed into
// place (under the registry's lock, so that an abandon either sees the work
// path or finds it gone).
class cWorkClaim {
 public:
  enum class eKind { File, Folder };
  cWorkClaim(std::string path, eKind kind);
  ~cWorkClaim();
  cWorkClaim(const cWorkClaim&) = delete;
  cWorkClaim& operator=(const cWorkClaim&) = delete;

  // Runs `step` (a rename into place, say) under the registry's lock and, when
  // it succeeds, gives the claim up. False (and the claim kept) when the jobs
  // have been abandoned or the step fails.
  template <typename Step>
  bool completeWith(Step step);

  // Whether the claim has not been given up.
  bool held() const { return registered_; }

 private:
  bool lockAndCheck();
  void unlockAndRelease(bool released);

  std::string path_;
  eKind kind_;
  bool registered_ = false;
};

template <typename Step>
bool cWorkClaim::completeWith(Step step) {
  if (!lockAndCheck()) return false;
  const bool done = step();
  unlockAndRelease(done);
  return done;
}

}  // namespace plimsy
