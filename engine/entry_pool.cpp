#include "engine/entry_pool.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "core/message.h"
#include "engine/entry_writer.h"
#include "engine/job_control.h"

namespace plimsy {

unsigned defaultZipThreads() { return std::clamp(std::thread::hardware_concurrency(), 1u, kMostDefaultZipThreads); }

namespace {

// What a file open for the writer counts against the budget: it bounds the
// number of files held open.
constexpr std::size_t kOpenFileBytes = std::size_t{128} << 10;
// Entries are gathered into writes of this size; bigger ones go alone.
constexpr std::size_t kBatchBytes = std::size_t{1} << 20;
// A task ends after this many files, or once it counts this many bytes (of
// the budget): enough to make handing it over cheap, little enough that the
// workers share a small book evenly.
constexpr std::size_t kFilesPerTask = 64;
constexpr std::size_t kTaskBytes = std::size_t{256} << 10;

// One file of the walk, from the walk to the writer.
struct sEntryFile {
  std::string relativePath;
  platform::FolderItem item;
  std::optional<std::uint32_t> forcedLevel;
  std::string entryName;
  std::size_t counted = 0;  // against the budget, from the size the walk saw

  // Set by the worker that took it.
  bool opened = false;  // openEntry succeeded: the writer's part can begin
  bool whole = false;   // `bytes` is the finished entry; else the writer streams it
  std::string message;  // the failure, when there is one
  sOpenedEntry entry;
  sEntryBytes bytes;
};

// Files that follow each other in the walk, taken by one worker together:
// a few hundred bytes of text cost less than handing them between threads.
struct sEntryTask {
  std::vector<sEntryFile> files;
  std::size_t held = 0;  // counted against the budget
  bool done = false;
};

std::size_t fileOverhead(const sEntryFile& file) {
  return sizeof(sEntryFile) + 2 * file.relativePath.size() + file.entryName.size();
}

// What waits in the queue until the worker is done: room to read the file
// whole and make its entry, or an open file.
std::size_t bytesBeforeWork(const sEntryFile& file, std::uint64_t size, std::uint32_t level, std::size_t wholeLimit) {
  const std::size_t nameLength = file.entryName.empty() ? file.relativePath.size() : file.entryName.size();
  return fileOverhead(file) + (size <= wholeLimit ? wholeEntryBytes(size, level, nameLength) : kOpenFileBytes);
}

std::size_t bytesAfterWork(const sEntryFile& file) {
  if (!file.opened || !file.message.empty()) return fileOverhead(file);
  return fileOverhead(file) + (file.whole ? file.bytes.length : kOpenFileBytes);
}

std::size_t bytesAfterWork(const sEntryTask& task) {
  std::size_t held = sizeof(sEntryTask);
  for (const sEntryFile& file : task.files) held += bytesAfterWork(file);
  return held;
}

// The files in the walk's order, from the walk to the writer, with the
// budget that holds the walk back.
class cEntryQueue {
 public:
  explicit cEntryQueue(std::size_t budget) : budget_(budget) {}

  // The walk's side: waits until the task fits in the budget (or nothing else
  // waits). False once the queue has been stopped.
  bool submit(std::unique_ptr<sEntryTask> task) {
    std::unique_lock<std::mutex> lock(mutex_);
    walkRoom_.wait(lock, [&] { return stopped_ || held_ == 0 || held_ + task->held <= budget_; });
    if (stopped_) return false;
    held_ += task->held;
    peak_ = std::max(peak_, held_);
    tasks_.push_back(std::move(task));
    workReady_.notify_one();
    return true;
  }

  void walkEnded(bool succeeded, std::string message) {
    const std::lock_guard<std::mutex> lock(mutex_);
    walkEnded_ = true;
    walkSucceeded_ = succeeded;
    walkMessage_ = std::move(message);
    workReady_.notify_all();
    frontReady_.notify_all();
  }

  // A worker's side: the next task nobody has taken, or nullptr when there
  // will be none.
  sEntryTask* take() {
    std::unique_lock<std::mutex> lock(mutex_);
    workReady_.wait(lock, [&] { return stopped_ || next_ < tasks_.size() || walkEnded_; });
    if (stopped_ || next_ == tasks_.size()) return nullptr;
    return tasks_[next_++].get();
  }

  void finished(sEntryTask& task) {
    const std::size_t after = bytesAfterWork(task);
    const std::lock_guard<std::mutex> lock(mutex_);
    held_ = held_ - task.held + after;
    peak_ = std::max(peak_, held_);
    task.held = after;
    task.done = true;
    frontReady_.notify_one();
    walkRoom_.notify_one();
  }

  // The writer's side: the first task once it is done, or nullptr when the
  // walk has ended and everything is written (or the queue is stopped).
  sEntryTask* front() {
    std::unique_lock<std::mutex> lock(mutex_);
    frontReady_.wait(
        lock, [&] { return stopped_ || (!tasks_.empty() && tasks_.front()->done) || (walkEnded_ && tasks_.empty()); });
    return stopped_ || tasks_.empty() ? nullptr : tasks_.front().get();
  }

  void popFront() {
    std::unique_ptr<sEntryTask> written;
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      written = std::move(tasks_.front());
      tasks_.pop_front();
      --next_;
      held_ -= written->held;
      walkRoom_.notify_one();
    }
  }

  void stop() {
    const std::lock_guard<std::mutex> lock(mutex_);
    stopped_ = true;
    workReady_.notify_all();
    frontReady_.notify_all();
    walkRoom_.notify_all();
  }

  bool walkSucceeded(std::string* message) const { return walkSucceeded_ ? true : fail(message, walkMessage_); }
  std::size_t peak() const { return peak_; }

 private:
  std::mutex mutex_;
  std::condition_variable workReady_;
  std::condition_variable frontReady_;
  std::condition_variable walkRoom_;
  std::deque<std::unique_ptr<sEntryTask>> tasks_;  // not yet written, in the walk's order
  std::size_t next_ = 0;                           // the first one no worker has taken
  std::size_t held_ = 0;
  std::size_t peak_ = 0;
  const std::size_t budget_;
  bool stopped_ = false;
  bool walkEnded_ = false;
  bool walkSucceeded_ = false;
  std::string walkMessage_;
};

// ---- The workers -------------------------------------------------------------------

// Opens the file and, when it fits in what was counted for it, makes its
// whole entry; a bigger file stays open for the writer to stream.
void prepare(const sZipWriter& writer, sEntryFile& file, std::size_t counted, std::size_t wholeLimit,
             sEntryScratch& scratch) {
  if (jobsAbandoned()) {
    file.message = kJobAbandonedMessage;
    return;
  }
  sOpenedEntry& entry = file.entry;
  if (!openEntry(writer, &file.message, file.relativePath, file.item, writer.filesFolder, file.forcedLevel,
                 file.entryName, entry))
    return;
  file.opened = true;
  if (entry.size > wholeLimit || bytesBeforeWork(file, entry.size, entry.level, wholeLimit) > counted) return;
  file.whole = true;
  encodeWholeEntry(entry, scratch, file.bytes, &file.message);
  entry.source.close();
}

// The task's files in order, up to the first that fails: one by one, no file
// after it would be touched.
void prepare(const sZipWriter& writer, sEntryTask& task, std::size_t wholeLimit, sEntryScratch& scratch) {
  for (sEntryFile& file : task.files) {
    failingOnOutOfMemory(&file.message, [&] {
      prepare(writer, file, file.counted, wholeLimit, scratch);
      return true;
    });
    if (!file.opened || !file.message.empty()) return;
  }
}

void work(const sZipWriter& writer, cEntryQueue& queue, sEntryScratch& scratch, std::size_t wholeLimit) {
  while (sEntryTask* task = queue.take()) {
    prepare(writer, *task, wholeLimit, scratch);
    queue.finished(*task);
  }
}

// ---- The writer --------------------------------------------------------------------

// Finished entries gathered into large writes. A failed write is reported
// with the message of the first entry in it.
class cOutputBatch {
 public:
  cOutputBatch(platform::File& output, const std::string& outputPath)
      : output_(output),
        outputPath_(outputPath),
        buffer_(std::make_unique_for_overwrite<std::uint8_t[]>(kBatchBytes)) {}

  bool add(std::string* message, const sEntryBytes& bytes, std::uint32_t level) {
    if (used_ + bytes.length > kBatchBytes && !flush(message)) return false;
    if (bytes.length >= kBatchBytes)
      return output_.write(bytes.data.get(), bytes.length) ? true : failWriting(message, level);
    if (used_ == 0) firstLevel_ = level;
    std::memcpy(buffer_.get() + used_, bytes.data.get(), bytes.length);
    used_ += bytes.length;
    return true;
  }

  bool flush(std::string* message) {
    if (used_ == 0) return true;
    const bool written = output_.write(buffer_.get(), used_);
    used_ = 0;
    return written ? true : failWriting(message, firstLevel_);
  }

 private:
  // The output's path, the system's reason.
  bool failWriting(std::string* message, std::uint32_t level) const {
    return fail(message, withPathAndSystemReason(dataWriteFailure(level), outputPath_));
  }

  platform::File& output_;
  const std::string& outputPath_;
  std::unique_ptr<std::uint8_t[]> buffer_;
  std::size_t used_ = 0;
  std::uint32_t firstLevel_ = 0;
};

// The writer's part of add_file__def for one file, failures in its order.
// `offset` is where the entry starts (nullopt when it cannot be told).
bool writeFile(sZipWriter& writer, std::string* message, sEntryFile& file, cOutputBatch& batch,
               std::optional<std::uint64_t>& offset) {
  if (jobsAbandoned()) return fail(message, kJobAbandonedMessage);
  if (!file.opened) return fail(message, file.message);
  const std::uint32_t level = file.entry.level;
  if (!offset) return fail(message, withPathAndReason(dataWriteFailure(level), writer.workPath, ""));
  if (!file.message.empty()) return fail(message, file.message);
  if (file.whole) {
    if (!batch.add(message, file.bytes, level)) return false;
    recordEntry(writer, *offset, file.entry.lfh);
    *offset += file.bytes.length;
    return true;
  }
  if (!batch.flush(message) || !writeStreamedEntry(writer, message, file.entry, *offset)) return false;
  recordEntry(writer, *offset, file.entry.lfh);
  offset = writer.output.tell();
  return true;
}

bool writeInOrder(sZipWriter& writer, std::string* message, cEntryQueue& queue) {
  cOutputBatch batch(writer.output, writer.workPath);
  std::optional<std::uint64_t> offset = writer.output.tell();
  while (sEntryTask* task = queue.front()) {
    for (sEntryFile& file : task->files) {
      if (!writeFile(writer, message, file, batch, offset)) return false;
    }
    queue.popFront();
  }
  return batch.flush(message) && queue.walkSucceeded(message);
}

bool addEntriesOneByOne(sZipWriter& writer, std::string* message, const EntryWalk& walk) {
  return walk(
      message, [&writer](std::string* fileMessage, const std::string& relativePath, const platform::FolderItem& item,
                         std::optional<std::uint32_t> forcedLevel, std::string_view entryName) {
        return add_file__def(writer, fileMessage, relativePath, item, writer.filesFolder, forcedLevel, entryName);
      });
}

// The threads of one job: the workers and the walk. Stopped and joined by the
// destructor, on every path.
class cJobThreads {
 public:
  explicit cJobThreads(cEntryQueue& queue) : queue_(queue) {}
  cJobThreads(const cJobThreads&) = delete;
  cJobThreads& operator=(const cJobThreads&) = delete;
  ~cJobThreads() {
    queue_.stop();
    for (std::thread& thread : threads_) thread.join();
  }

  template <typename Body>
  bool start(Body body) {
    try {
      threads_.emplace_back(std::move(body));
    } catch (const std::system_error&) {
      return false;
    }
    return true;
  }

  bool empty() const { return threads_.empty(); }

 private:
  cEntryQueue& queue_;
  std::vector<std::thread> threads_;
};

}  // namespace

bool addEntriesOnThreads(sZipWriter& writer, std::string* message, const EntryWalk& walk) {
  const std::size_t wholeLimit = writer.queueBudget / 4;
  const std::size_t taskBytes = std::min(kTaskBytes, writer.queueBudget / 8);
  cEntryQueue queue(writer.queueBudget);
  auto pending = std::make_unique<sEntryTask>();
  const auto submitPending = [&] {
    if (pending->files.empty()) return true;
    pending->held += sizeof(sEntryTask);
    return queue.submit(std::exchange(pending, std::make_unique<sEntryTask>()));
  };
  const EntrySink sink = [&](std::string*, const std::string& relativePath, const platform::FolderItem& item,
                             std::optional<std::uint32_t> forcedLevel, std::string_view entryName) {
    sEntryFile& file = pending->files.emplace_back();
    file.relativePath = relativePath;
    file.item = item;
    file.forcedLevel = forcedLevel;
    file.entryName = std::string(entryName);
    file.counted = bytesBeforeWork(file, item.size, entryLevel(writer, relativePath, forcedLevel), wholeLimit);
    pending->held += file.counted;
    return (pending->files.size() < kFilesPerTask && pending->held < taskBytes) || submitPending();
  };
  std::vector<std::unique_ptr<sEntryScratch>> scratches;
  bool ok = false;
  {
    cJobThreads threads(queue);
    for (unsigned t = 0; t < writer.threads; ++t) {
      scratches.push_back(std::make_unique<sEntryScratch>());
      if (!threads.start([&writer, &queue, &scratch = *scratches.back(), wholeLimit] {
            work(writer, queue, scratch, wholeLimit);
          }))
        break;
    }
    const bool walking = !threads.empty() && threads.start([&] {
      std::string walkMessage;
      const bool walked = failingOnOutOfMemory(&walkMessage, [&] { return walk(&walkMessage, sink); });
      // The files before a failure of the walk are written before it is reported.
      std::string submitMessage;
      const bool submitted = failingOnOutOfMemory(&submitMessage, submitPending);
      if (walked && !submitted) walkMessage = std::move(submitMessage);
      queue.walkEnded(walked && submitted, std::move(walkMessage));
    });
    if (!walking) return addEntriesOneByOne(writer, message, walk);  // nothing was taken yet
    ok = writeInOrder(writer, message, queue);
  }
  writer.peakQueuedBytes = queue.peak();
  return ok;
}

}  // namespace plimsy
