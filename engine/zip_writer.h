#pragma once

// The state of one zip job, shared by the job and its entry writer, and the
// list of files the job packs.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/filetime.h"
#include "core/platform.h"
#include "engine/job_control.h"
#include "engine/job_progress.h"
#include "engine/statistics.h"

namespace plimsy {

class cDeflater;

// The buffers and the deflate stream the entry writer reuses from one entry
// to the next, so that nothing is allocated per file or per block.
struct sEntryScratch {
  sEntryScratch();
  ~sEntryScratch();
  sEntryScratch(sEntryScratch&&) noexcept;
  sEntryScratch& operator=(sEntryScratch&&) noexcept;

  std::vector<std::uint8_t> input;
  std::vector<std::uint8_t> output;
  std::unique_ptr<cDeflater> deflater;
};

// Files up to this size are read whole, compressed in memory and written
// with their local header in one write; bigger ones are streamed in blocks
// and their header is rewritten once their sizes are known.
inline constexpr std::size_t kWholeFileLimit = std::size_t{1} << 20;

// With several threads, files are read and compressed ahead of the writer
// until what waits (their input and output buffers) reaches this many bytes;
// files up to a quarter of it are read whole by the worker threads, bigger
// ones streamed by the writer.
inline constexpr std::size_t kQueueBudget = std::size_t{16} << 20;

// The most worker threads a job uses unless told otherwise, and the most the
// command line lets it use: each thread's allocator keeps some memory of its
// own, and with more of them a job would pass 64 MiB.
inline constexpr unsigned kMostDefaultZipThreads = 8;

// The processor's cores, at most kMostDefaultZipThreads; 1 when unknown.
unsigned defaultZipThreads();

// The zip writer: everything one zip job works on.
struct sZipWriter {
  sStatistics statistics;
  std::string backupFolder;            // BackupDir; empty: no backup
  std::string epubPath;                // ZipPath
  std::string filesFolder;             // FilesDir, ending with a separator
  FileTime fixedDatetime = 0;          // tDatetime; 0: none
  std::uint32_t compressionLevel = 9;  // 0 stores every file
  bool realCreationTimes = true;
  bool deflateCompressedFiles = false;
  std::string workPath;          // the file actually written: tempN.zip beside the epub
  std::string centralDirectory;  // every Cdr so far, in entry order
  platform::File output;
  std::unique_ptr<cWorkClaim> workClaim;  // while the work file is the job's alone
  sJobProgress* progress = nullptr;       // told of every entry written, when given
  std::uint64_t progressNoted = 0;        // bytes of the entry being streamed told to it so far

  // Tuning, and a seam for tests that want the streaming path on small files.
  std::size_t wholeFileLimit = kWholeFileLimit;
  // Threads reading and compressing files; 1: the job's own thread does all,
  // one file after the other. Any number gives the same archive.
  unsigned threads = defaultZipThreads();
  std::size_t queueBudget = kQueueBudget;
  std::size_t peakQueuedBytes = 0;  // the most that waited at once (set by the threads, for tests)
  sEntryScratch scratch;
};

// Whether two names are equal when ASCII letters are compared without regard
// to case ("MimeType" and "mimetype", ".JPG" and ".jpg").
inline bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (lower(a[i]) != lower(b[i])) return false;
  return true;
}

}  // namespace plimsy
