#pragma once

// How far a running job has come, for a display on another thread: the
// entries written so far and their bytes (uncompressed), and, when the job
// knows them, how many there are in all. A big entry's bytes are counted as
// its pieces are written, so that the count moves while it is written.

#include <atomic>
#include <cstdint>

namespace plimsy {

struct sJobProgress {
  std::atomic<std::uint64_t> files{0};
  std::atomic<std::uint64_t> bytes{0};
  std::atomic<std::uint64_t> totalFiles{0};  // 0: not known
  std::atomic<std::uint64_t> totalBytes{0};

  void addBytes(std::uint64_t pieceBytes) { bytes.fetch_add(pieceBytes, std::memory_order_relaxed); }
  void addEntry(std::uint64_t entryBytes) {
    addBytes(entryBytes);
    files.fetch_add(1, std::memory_order_relaxed);
  }
};

// Counts an entry when there is a progress to count it in.
inline void noteEntryDone(sJobProgress* progress, std::uint64_t entryBytes) {
  if (progress != nullptr) progress->addEntry(entryBytes);
}

// Counts a piece of an entry as it is written.
inline void noteBytes(sJobProgress* progress, std::uint64_t pieceBytes) {
  if (progress != nullptr) progress->addBytes(pieceBytes);
}

// Counts an entry whose bytes were all counted piece by piece.
inline void noteFileDone(sJobProgress* progress) { noteEntryDone(progress, 0); }

// Counts an entry of `entryBytes` of which `piecesNoted` bytes were counted
// already, piece by piece: the pieces are made up to the entry's size, or
// taken back to it when a part was written twice. (The difference may wrap;
// the sum wraps back, as unsigned sums do.)
inline void noteEntrySettled(sJobProgress* progress, std::uint64_t entryBytes, std::uint64_t piecesNoted) {
  noteEntryDone(progress, entryBytes - piecesNoted);
}

}  // namespace plimsy
