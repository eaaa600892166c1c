#pragma once

// One line on standard error that shows how far a long job has come, drawn
// again in place a few times a second, and wiped when the job ends: only for
// a person watching a terminal, and only once the job has run for a while,
// so that quick jobs print nothing more than their report.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "engine/job_progress.h"

namespace plimsy::cli {

// "Unzipping 1,234 of 70,005 files, 12.3 of 56.7 MB"; without totals (a zip
// finds its files as it goes) "Zipping 1,234 files, 12.3 MB".
std::string progressText(std::string_view doing, std::uint64_t files, std::uint64_t totalFiles, std::uint64_t bytes,
                         std::uint64_t totalBytes);

class cProgressLine {
 public:
  // Watches `progress` from a thread of its own; draws the line on `stream`
  // once `delay` has passed, then every `period`, until destroyed.
  cProgressLine(const sJobProgress& progress, std::string doing, std::FILE* stream,
                std::chrono::milliseconds delay = std::chrono::seconds(1),
                std::chrono::milliseconds period = std::chrono::milliseconds(200));
  // Stops drawing and wipes the line, if it was drawn.
  ~cProgressLine();
  cProgressLine(const cProgressLine&) = delete;
  cProgressLine& operator=(const cProgressLine&) = delete;

 private:
  void run(std::chrono::milliseconds delay, std::chrono::milliseconds period);
  void draw(const std::string& text);

  const sJobProgress& progress_;
  const std::string doing_;
  std::FILE* const stream_;
  std::mutex lock_;
  std::condition_variable stopped_;
  bool stop_ = false;
  std::size_t width_ = 0;  // of the line last drawn
  std::thread thread_;
};

}  // namespace plimsy::cli
