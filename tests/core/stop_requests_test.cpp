// Requests to stop from outside (SIGINT, SIGTERM, SIGHUP), and helper threads
// that run out of memory: both end a job with a message, not the process.

#include <atomic>
#include <new>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

#include "core/platform.h"
#include "engine/job_control.h"

#ifndef _WIN32
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>
#endif

namespace plimsy {
namespace {

// What a helper thread's failure to allocate becomes; everything else passes
// through unchanged.
TEST(OutOfMemory, AHelperThreadsFailedAllocationFailsItsJobWithAMessage) {
  const struct {
    const char* name;
    bool (*body)(std::string*);
    bool result;
    const char* message;
  } cases[] = {
      {"succeeds", [](std::string*) { return true; }, true, "untouched"},
      {"fails with its own message",
       [](std::string* m) {
         *m = "Unable to write file.";
         return false;
       },
       false, "Unable to write file."},
      {"cannot allocate", [](std::string*) -> bool { throw std::bad_alloc(); }, false, kOutOfMemoryMessage},
      {"asks for an impossible array", [](std::string*) -> bool { throw std::bad_array_new_length(); }, false,
       kOutOfMemoryMessage},
      {"cannot allocate for its message",
       [](std::string* m) -> bool {
         *m = "half";
         throw std::bad_alloc();
       },
       false, kOutOfMemoryMessage},
  };
  for (const auto& c : cases) {
    std::string message = "untouched";
    EXPECT_EQ(failingOnOutOfMemory(&message, [&] { return c.body(&message); }), c.result) << c.name;
    EXPECT_EQ(message, c.message) << c.name;
  }
  EXPECT_FALSE(failingOnOutOfMemory(nullptr, []() -> bool { throw std::bad_alloc(); }));
}

#ifndef _WIN32

// What a child process that watched for requests to stop saw: each case runs
// in a process of its own (the handlers are the process's).
enum eChildResult : int {
  kStoppedOnAnotherThread = 10,  // the callback ran once, on its own thread, and the signal was noted
  kCallbackOnSignalThread = 11,
  kCallbackMissing = 12,
  kWrongSignal = 13,
  kIgnoredStayedIgnored = 14,
  kSurvivedSecondSignal = 15,
  kNotInstalled = 16,
};

// Forks; the child runs `body` and ends with its result. The parent gets the
// child's wait status.
template <typename Body>
int inChild(Body body) {
  const pid_t child = ::fork();
  if (child == 0) ::_exit(body());
  int status = 0;
  while (::waitpid(child, &status, 0) < 0) {
  }
  return status;
}

// Waits (without a time limit: the test's own timeout is the limit) until the
// callback has run.
int watchAndRaise(int signal, bool secondSignal) {
  static std::atomic<int> calls{0};
  static std::atomic<bool> onOtherThread{false};
  const std::thread::id main = std::this_thread::get_id();
  if (!platform::watchStopRequests([main] {
        onOtherThread = std::this_thread::get_id() != main;
        ++calls;
      }))
    return kNotInstalled;
  ::raise(signal);
  while (calls.load() == 0) std::this_thread::yield();
  if (platform::stopRequestSignal() != signal) return kWrongSignal;
  if (!onOtherThread.load()) return kCallbackOnSignalThread;
  if (secondSignal) {
    ::raise(signal);  // ends the process here
    return kSurvivedSecondSignal;
  }
  return calls.load() == 1 ? kStoppedOnAnotherThread : kCallbackMissing;
}

TEST(StopRequests, TheFirstRunsTheCallbackOnAThreadTheSecondEndsTheProgram) {
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(signal);
    const int first = inChild([signal] {
      ::signal(signal, SIG_DFL);
      return watchAndRaise(signal, false);
    });
    ASSERT_TRUE(WIFEXITED(first));
    EXPECT_EQ(WEXITSTATUS(first), kStoppedOnAnotherThread);
    EXPECT_EQ(platform::exitStatusForStop(signal), 128 + signal);

    const int second = inChild([signal] {
      ::signal(signal, SIG_DFL);
      return watchAndRaise(signal, true);
    });
    ASSERT_TRUE(WIFSIGNALED(second)) << (WIFEXITED(second) ? WEXITSTATUS(second) : -1);
    EXPECT_EQ(WTERMSIG(second), signal);
  }
}

// A program started with SIGINT ignored (nohup, a background job of a
// script) keeps ignoring it; the others still stop it.
TEST(StopRequests, ASignalIgnoredAtTheStartStaysIgnored) {
  const int status = inChild([] {
    ::signal(SIGINT, SIG_IGN);
    ::signal(SIGTERM, SIG_DFL);
    static std::atomic<bool> called{false};
    if (!platform::watchStopRequests([] { called = true; })) return static_cast<int>(kNotInstalled);
    ::raise(SIGINT);
    if (called.load() || platform::stopRequestSignal() != 0) return static_cast<int>(kWrongSignal);
    ::raise(SIGTERM);
    while (!called.load()) std::this_thread::yield();
    return static_cast<int>(platform::stopRequestSignal() == SIGTERM ? kIgnoredStayedIgnored : kWrongSignal);
  });
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), kIgnoredStayedIgnored);
}

#endif

}  // namespace
}  // namespace plimsy
