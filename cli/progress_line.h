#pragma once

// One line on standard error that shows how far a long job has come, drawn
// again in place a few times a second, and wiped when the job ends: only for
// a person watching a terminal, and only once the job has run for a while,
// so that quick jobs print nothing more than their report. The line never
// reaches the terminal's last column: a line that wrapped could not be drawn
// over nor wiped, and each redraw would leave one more behind.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "engine/job_progress.h"

namespace plimsy::cli {

// "Unzipping 1,234 of 70,005 files, 12.3 of 56.7 MB"; without totals (a zip
// learns them once it has found every file) "Zipping 1,234 files, 12.3 MB".
std::string progressText(std::string_view doing, std::uint64_t files, std::uint64_t totalFiles, std::uint64_t bytes,
                         std::uint64_t totalBytes);

// The columns a terminal gives `text` (UTF-8): two for a wide (East Asian)
// character, none for a combining mark, one for anything else.
std::size_t terminalColumnsOf(std::string_view text);

// The longest start of `text` that takes at most `columns` columns, cut
// between two characters.
std::string_view fitToColumns(std::string_view text, std::size_t columns);

// What the line shows, and when: drawn first once `delay` has passed since
// `start`, then at most every `period`, over the last one; wiped on request.
// It keeps no time of its own: it is told the time, by cProgressLine's thread
// or by a test.
class cProgressDrawing {
 public:
  using Clock = std::chrono::steady_clock;
  // `columns` measures the terminal again at every drawing (it may be
  // resized); 0 means not known.
  cProgressDrawing(const sJobProgress& progress, std::string doing, std::FILE* stream,
                   std::function<std::size_t()> columns, Clock::time_point start, std::chrono::milliseconds delay,
                   std::chrono::milliseconds period);

  // Draws the line when one is due at `now`; returns when the next one is.
  Clock::time_point update(Clock::time_point now);
  // Blanks the line drawn last, if any, and leaves the cursor at its start.
  void wipe();

 private:
  std::size_t usableColumns();

  const sJobProgress& progress_;
  const std::string doing_;
  std::FILE* const stream_;
  const std::function<std::size_t()> columns_;
  Clock::time_point due_;
  const std::chrono::milliseconds period_;
  std::size_t drawn_ = 0;  // the columns of the widest line drawn
};

class cProgressLine {
 public:
  // Watches `progress` from a thread of its own; draws the line on `stream`
  // (standard error, measured by platform::terminalColumns) once `delay` has
  // passed, then every `period`, until destroyed.
  cProgressLine(const sJobProgress& progress, std::string doing, std::FILE* stream,
                std::chrono::milliseconds delay = std::chrono::seconds(1),
                std::chrono::milliseconds period = std::chrono::milliseconds(200));
  // Stops drawing and wipes the line, if it was drawn.
  ~cProgressLine();
  cProgressLine(const cProgressLine&) = delete;
  cProgressLine& operator=(const cProgressLine&) = delete;

 private:
  void run();

  cProgressDrawing drawing_;
  std::mutex lock_;
  std::condition_variable stopped_;
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace plimsy::cli
