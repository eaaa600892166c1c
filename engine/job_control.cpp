#include "engine/job_control.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace plimsy {
namespace {

struct sRegistry {
  std::mutex lock;
  std::vector<std::pair<std::string, cWorkClaim::eKind>> claims;
};

sRegistry& registry() {
  static sRegistry instance;
  return instance;
}

std::atomic<bool> abandoned{false};

// Takes a claim off the list; the registry's lock is held.
void forget(const std::string& path, cWorkClaim::eKind kind) {
  auto& claims = registry().claims;
  const auto found = std::find(claims.begin(), claims.end(), std::make_pair(path, kind));
  if (found != claims.end()) claims.erase(found);
}

}  // namespace

bool jobsAbandoned() { return abandoned.load(); }

void resumeJobs() { abandoned = false; }

void abandonRunningJobs() { abandoned = true; }

void waitForAbandonedWork(const std::function<void()>& whileWaiting) {
  for (;;) {
    {
      const std::lock_guard<std::mutex> guard(registry().lock);
      if (registry().claims.empty()) return;
    }
    if (whileWaiting) whileWaiting();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

cWorkClaim::cWorkClaim(std::string path, eKind kind) : path_(std::move(path)), kind_(kind) {
  const std::lock_guard<std::mutex> guard(registry().lock);
  registry().claims.emplace_back(path_, kind_);
  registered_ = true;
}

cWorkClaim::~cWorkClaim() {
  if (!registered_) return;
  const std::lock_guard<std::mutex> guard(registry().lock);
  forget(path_, kind_);
}

bool cWorkClaim::lockAndCheck() {
  registry().lock.lock();
  if (abandoned.load() || !registered_) {
    registry().lock.unlock();
    return false;
  }
  return true;
}

void cWorkClaim::unlockAndRelease(bool released) {
  if (released) {
    forget(path_, kind_);
    registered_ = false;
  }
  registry().lock.unlock();
}

}  // namespace plimsy
