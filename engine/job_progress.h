#pragma once

// How far a running job has come, for a display on another thread: the
// entries written so far and their bytes (uncompressed), and, when the job
// knows them, how many there are in all.

#include <atomic>
#include <cstdint>

namespace plimsy {

struct sJobProgress {
  std::atomic<std::uint64_t> files{0};
  std::atomic<std::uint64_t> bytes{0};
  std::atomic<std::uint64_t> totalFiles{0};  // 0: not known
  std::atomic<std::uint64_t> totalBytes{0};

  void addEntry(std::uint64_t entryBytes) {
    bytes.fetch_add(entryBytes, std::memory_order_relaxed);
    files.fetch_add(1, std::memory_order_relaxed);
  }
};

// Counts an entry when there is a progress to count it in.
inline void noteEntryDone(sJobProgress* progress, std::uint64_t entryBytes) {
  if (progress != nullptr) progress->addEntry(entryBytes);
}

}  // namespace plimsy
