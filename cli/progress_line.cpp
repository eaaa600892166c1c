#include "cli/progress_line.h"

#include <algorithm>
#include <system_error>

#include <fmt/format.h>

#include "core/text.h"

namespace plimsy::cli {
namespace {

std::string megabytes(std::uint64_t bytes) { return fmt::format("{:.1f}", static_cast<double>(bytes) / 1e6); }

}  // namespace

std::string progressText(std::string_view doing, std::uint64_t files, std::uint64_t totalFiles, std::uint64_t bytes,
                         std::uint64_t totalBytes) {
  if (totalFiles == 0) return fmt::format("{} {} files, {} MB", doing, groupThousands(files), megabytes(bytes));
  return fmt::format("{} {} of {} files, {} of {} MB", doing, groupThousands(files), groupThousands(totalFiles),
                     megabytes(bytes), megabytes(totalBytes));
}

cProgressLine::cProgressLine(const sJobProgress& progress, std::string doing, std::FILE* stream,
                             std::chrono::milliseconds delay, std::chrono::milliseconds period)
    : progress_(progress), doing_(std::move(doing)), stream_(stream) {
  try {
    thread_ = std::thread(&cProgressLine::run, this, delay, period);
  } catch (const std::system_error&) {
    // No thread, no line: the job runs all the same.
  }
}

cProgressLine::~cProgressLine() {
  {
    const std::lock_guard<std::mutex> guard(lock_);
    stop_ = true;
  }
  stopped_.notify_all();
  if (thread_.joinable()) thread_.join();
  if (width_ == 0) return;
  std::string wipe(width_ + 2, ' ');
  wipe.front() = wipe.back() = '\r';
  std::fputs(wipe.c_str(), stream_);
  std::fflush(stream_);
}

void cProgressLine::run(std::chrono::milliseconds delay, std::chrono::milliseconds period) {
  std::unique_lock<std::mutex> guard(lock_);
  if (stopped_.wait_for(guard, delay, [this] { return stop_; })) return;
  do {
    draw(progressText(doing_, progress_.files.load(), progress_.totalFiles.load(), progress_.bytes.load(),
                      progress_.totalBytes.load()));
  } while (!stopped_.wait_for(guard, period, [this] { return stop_; }));
}

// Over the last line, padded to its width so that nothing of it stays.
void cProgressLine::draw(const std::string& text) {
  std::string line(1, '\r');
  line += text;
  if (text.size() < width_) line.append(width_ - text.size(), ' ');
  width_ = std::max(width_, text.size());
  std::fputs(line.c_str(), stream_);
  std::fflush(stream_);
}

}  // namespace plimsy::cli
