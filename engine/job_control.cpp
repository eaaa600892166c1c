#include "engine/job_control.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "core/platform.h"

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

bool abandonRunningJobs(std::chrono::milliseconds wait) {
  abandoned = true;
  const auto deadline = std::chrono::steady_clock::now() + wait;
  for (;;) {
    {
      const std::lock_guard<std::mutex> guard(registry().lock);
      if (registry().claims.empty()) return true;
      if (std::chrono::steady_clock::now() >= deadline) {
        for (const auto& [path, kind] : registry().claims) {
          if (kind == cWorkClaim::eKind::File)
            platform::removeFile(path);
          else
            platform::removeTree(path);
        }
        registry().claims.clear();
        return false;
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
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
