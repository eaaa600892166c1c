#pragma once

// Running jobs, seen from outside: each job registers the work file or
// folder it has claimed (tempN.zip, tempN/, the analysis log's work file)
// for as long as it owns it, and checks between pieces of work (and inside
// long ones) whether it has been told to stop.
// A program that quits in the middle of a job tells every job to stop, so
// that no half-written epub or half-filled folder is left behind.

#include <functional>
#include <new>
#include <string>

namespace plimsy {

// The message of a job that was told to stop (the program is quitting).
inline constexpr const char* kJobAbandonedMessage = "The job was stopped before it was finished.";

// The message of a job whose helper thread (the unzip's pool, the zip's
// read-ahead, the deep check) could not allocate memory.
inline constexpr const char* kOutOfMemoryMessage = "Out of memory.";

// Runs the body of a helper thread, which returns true or false with its
// message as every operation does; an allocation that fails inside it (a
// std::bad_alloc, which would end the program once it left the thread) is
// turned into false with kOutOfMemoryMessage. The message text needs no
// memory of its own.
template <typename Body>
bool failingOnOutOfMemory(std::string* message, Body&& body) {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    if (message) *message = kOutOfMemoryMessage;
    return false;
  }
}

// Tells every running job (zip, unzip, analysis) to stop at its next check;
// each then fails and removes its own work file or folder. Jobs check often,
// inside long entries too, so they stop soon. Jobs started afterwards are
// stopped at once too: this is for a program about to end.
void abandonRunningJobs();

// Waits until no job holds a work file or folder any more: every job told to
// stop has removed its own work (nothing is ever removed under a job that
// may still write). `whileWaiting`, when given, is called between looks: a
// GUI thread runs its pending events there, so that a job waiting for the
// GUI thread is not kept waiting. There is no time limit.
void waitForAbandonedWork(const std::function<void()>& whileWaiting = {});

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
