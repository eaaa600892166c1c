#include "engine/unzip_pool.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <system_error>
#include <thread>

#include "core/message.h"
#include "engine/job_control.h"

namespace plimsy {
namespace {

// Below this many entries one thread does it all.
constexpr std::uint64_t kEntriesPerThread = 16;
constexpr unsigned kMostThreads = 4;

unsigned extractionThreads(std::uint64_t entries) {
  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  const std::uint64_t useful = std::max<std::uint64_t>(1, entries / kEntriesPerThread);
  return static_cast<unsigned>(std::min<std::uint64_t>({cores, kMostThreads, useful}));
}

void addStatistics(sStatistics& total, const sStatistics& part) {
  total.files += part.files;
  total.stored += part.stored;
  total.deflated += part.deflated;
  total.zeroLength += part.zeroLength;
  total.storedBytes += part.storedBytes;
  total.deflatedInputBytes += part.deflatedInputBytes;
  total.deflatedOutputBytes += part.deflatedOutputBytes;
  total.zip64 = total.zip64 || part.zip64;
}

// What the threads share: the next entry to take, and the first entry (in
// central directory order) that failed, with its message.
struct sExtraction {
  explicit sExtraction(const cZipReader& archive) : reader(archive) {}

  const cZipReader& reader;
  std::atomic<std::uint64_t> next{0};
  std::atomic<std::uint64_t> firstFailure{UINT64_MAX};
  std::mutex failureLock;
  std::string failureMessage;

  void recordFailure(std::uint64_t index, std::string message) {
    const std::lock_guard<std::mutex> lock(failureLock);
    if (index >= firstFailure.load()) return;
    firstFailure = index;
    failureMessage = std::move(message);
  }
};

// Takes entries in order until there are none left or an earlier entry has
// failed. Entries before a failed one have all been taken, so the first
// failure is the one a single thread would have met.
void extractEntries(sExtraction& shared, sUnzipContext& worker) {
  for (;;) {
    const std::uint64_t index = shared.next.fetch_add(1);
    if (index >= shared.reader.cdrCount() || index > shared.firstFailure.load()) return;
    std::string message;
    if (jobsAbandoned()) {
      shared.recordFailure(index, kJobAbandonedMessage);
      return;
    }
    if (!failingOnOutOfMemory(
            &message, [&] { return extractEntry(worker, &message, worker.workFolder, shared.reader, index); })) {
      shared.recordFailure(index, std::move(message));
      return;
    }
    noteFileDone(worker.progress);  // its bytes were counted as they were written
  }
}

// One by one, entries after a failed one are never written: take away what
// other threads wrote for them.
void removeFilesAfter(std::uint64_t failedIndex, const std::vector<std::unique_ptr<sUnzipContext>>& workers,
                      const sUnzipContext& context) {
  const auto removeFrom = [failedIndex](const sUnzipContext& worker) {
    for (const auto& [index, path] : worker.writtenFiles) {
      if (index > failedIndex) platform::removeFile(path);
    }
  };
  removeFrom(context);
  for (const auto& worker : workers) removeFrom(*worker);
}

}  // namespace

bool extractAll(sUnzipContext& context, std::string* message, const cZipReader& reader) {
  bool clash = false;
  std::vector<sReplacedEntry> replaced;
  if (!checkEntries(message, reader, &clash, &replaced)) return false;
  reader.adviseWholeRead();
  if (context.progress != nullptr) {
    std::uint64_t bytes = 0;
    for (const sZipEntry& entry : reader.entries()) bytes += entry.cdr.effectiveUncompressedSize();
    context.progress->totalBytes = bytes;
    context.progress->totalFiles = reader.cdrCount();
  }
  sExtraction shared(reader);
  const unsigned threads = clash ? 1 : extractionThreads(reader.cdrCount());
  context.keepWrittenFiles = threads > 1;
  std::vector<std::unique_ptr<sUnzipContext>> workers;
  std::vector<std::thread> pool;
  for (unsigned t = 1; t < threads; ++t) {
    auto worker = std::make_unique<sUnzipContext>();
    worker->workOrder = context.workOrder;
    worker->workFolder = context.workFolder;
    worker->keepWrittenFiles = true;
    worker->progress = context.progress;
    try {
      pool.emplace_back(extractEntries, std::ref(shared), std::ref(*worker));
    } catch (const std::system_error&) {
      break;  // fewer threads, same result
    }
    workers.push_back(std::move(worker));
  }
  extractEntries(shared, context);
  for (std::thread& thread : pool) thread.join();
  for (const auto& worker : workers) addStatistics(context.statistics, worker->statistics);
  const std::uint64_t failed = shared.firstFailure.load();
  if (failed == UINT64_MAX) {
    context.statistics.replacedEntries = std::move(replaced);
    return true;
  }
  removeFilesAfter(failed, workers, context);
  return fail(message, std::move(shared.failureMessage));
}

}  // namespace plimsy
