// The parts of the platform layer that must be the same on every system: the
// order of a folder's listing and the fault plan.

#include <algorithm>
#include <array>
#include <atomic>
#include <mutex>

#include "core/platform.h"
#include "core/platform_internal.h"
#include "core/text.h"

namespace plimsy::platform {
namespace {

// Case-insensitive order, ties by raw bytes: the order NTFS lists a folder
// in, so that a folder gives the same archive on every system.
bool nameLess(const std::string& a, const std::string& b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    const auto ca = static_cast<unsigned char>(asciiUpper(a[i]));
    const auto cb = static_cast<unsigned char>(asciiUpper(b[i]));
    if (ca != cb) return ca < cb;
  }
  if (a.size() != b.size()) return a.size() < b.size();
  return a < b;
}

// ---- Fault injection ------------------------------------------------------------

constexpr std::size_t kFaultOperations = 7;

struct sFaultPlan {
  std::array<std::atomic<std::uint64_t>, kFaultOperations> counts{};
  std::atomic<int> armed{-1};  // the operation that fails, or -1
  std::atomic<std::uint64_t> nth{0};
  std::atomic<bool> sticky{false};
};

sFaultPlan& faultPlan() {
  static sFaultPlan plan;
  return plan;
}

// Why the last recorded operation of this thread failed.
thread_local std::uint32_t failureCode = 0;
thread_local std::string failurePath;

std::mutex observerLock;
std::function<void(FaultOperation)> observer;
std::atomic<bool> observed{false};

}  // namespace

File::~File() { close(); }

File::File(File&& other) noexcept
    : handle_(other.handle_), failed_(other.failed_), openFailure_(other.openFailure_), writable_(other.writable_) {
  other.handle_ = kNoHandle;
}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    close();
    handle_ = other.handle_;
    failed_ = other.failed_;
    openFailure_ = other.openFailure_;
    writable_ = other.writable_;
    other.handle_ = kNoHandle;
  }
  return *this;
}

MappedFile::~MappedFile() { close(); }

bool listFolder(const std::string& folder, std::vector<FolderItem>& items) {
  if (!detail::listFolderItems(folder, items)) return false;
  std::sort(items.begin(), items.end(),
            [](const FolderItem& a, const FolderItem& b) { return nameLess(a.name, b.name); });
  return true;
}

bool listSubfolders(const std::string& folder, std::vector<std::string>& names) {
  if (!detail::listSubfolderNames(folder, names)) return false;
  std::sort(names.begin(), names.end(), nameLess);
  return true;
}

namespace detail {

void recordFailure(std::uint32_t code, const std::string& path) {
  failureCode = code;
  failurePath = path;
}

InjectedFault injectedFault(FaultOperation operation) {
  if (observed.load(std::memory_order_relaxed)) {
    std::function<void(FaultOperation)> call;
    {
      const std::lock_guard<std::mutex> guard(observerLock);
      call = observer;
    }
    if (call) call(operation);
  }
  sFaultPlan& plan = faultPlan();
  const auto index = static_cast<std::size_t>(operation);
  const std::uint64_t number = plan.counts[index].fetch_add(1, std::memory_order_relaxed) + 1;
  if (plan.armed.load(std::memory_order_relaxed) != static_cast<int>(index)) return InjectedFault::None;
  const std::uint64_t nth = plan.nth.load();
  if (number != nth && !(plan.sticky.load() && number > nth)) return InjectedFault::None;
  return plan.sticky.load() ? InjectedFault::DiskFull : InjectedFault::Failure;
}

}  // namespace detail

sSystemError lastSystemError() {
  return {failurePath, failureCode != 0 ? systemErrorText(failureCode) : std::string()};
}

void disarmFaults() {
  sFaultPlan& plan = faultPlan();
  plan.armed = -1;
  for (auto& count : plan.counts) count = 0;
}

void armFault(FaultOperation operation, std::uint64_t nth, bool sticky) {
  disarmFaults();
  sFaultPlan& plan = faultPlan();
  plan.nth = nth;
  plan.sticky = sticky;
  plan.armed = static_cast<int>(operation);
}

std::uint64_t faultOperationCount(FaultOperation operation) {
  return faultPlan().counts[static_cast<std::size_t>(operation)].load();
}

void observeOperations(std::function<void(FaultOperation)> newObserver) {
  const std::lock_guard<std::mutex> guard(observerLock);
  observer = std::move(newObserver);
  observed = static_cast<bool>(observer);
}

}  // namespace plimsy::platform
