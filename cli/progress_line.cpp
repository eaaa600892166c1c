#include "cli/progress_line.h"

#include <algorithm>
#include <system_error>
#include <utility>

#include <fmt/format.h>

#include "core/platform.h"
#include "core/text.h"

namespace plimsy::cli {
namespace {

std::string megabytes(std::uint64_t bytes) { return fmt::format("{:.1f}", static_cast<double>(bytes) / 1e6); }

// A terminal of unknown width is taken for the classic 80 columns.
constexpr std::size_t kAssumedColumns = 80;

struct sCodeRange {
  char32_t first, last;
};

// Marks drawn over the character before them, and characters of no width.
constexpr sCodeRange kZeroWidth[] = {{0x0300, 0x036F}, {0x1AB0, 0x1AFF}, {0x1DC0, 0x1DFF}, {0x200B, 0x200F},
                                     {0x20D0, 0x20FF}, {0xFE00, 0xFE0F}, {0xFE20, 0xFE2F}};
// East Asian wide and full-width characters, and the emoji blocks.
constexpr sCodeRange kWide[] = {{0x1100, 0x115F},   {0x2E80, 0x303E},  {0x3041, 0x33FF}, {0x3400, 0x4DBF},
                                {0x4E00, 0x9FFF},   {0xA000, 0xA4CF},  {0xAC00, 0xD7A3}, {0xF900, 0xFAFF},
                                {0xFE30, 0xFE4F},   {0xFF00, 0xFF60},  {0xFFE0, 0xFFE6}, {0x1F300, 0x1F64F},
                                {0x1F900, 0x1F9FF}, {0x20000, 0x3FFFD}};

template <std::size_t N>
bool inRanges(char32_t c, const sCodeRange (&ranges)[N]) {
  return std::any_of(std::begin(ranges), std::end(ranges),
                     [c](const sCodeRange& r) { return c >= r.first && c <= r.last; });
}

std::size_t columnsOfCodePoint(char32_t c) {
  if (inRanges(c, kZeroWidth)) return 0;
  return inRanges(c, kWide) ? 2 : 1;
}

// The character at `text[at]`: its length in bytes and its columns. A byte
// that starts no valid sequence is one character of one column, as the
// replacement character it is shown as.
std::pair<std::size_t, std::size_t> characterAt(std::string_view text, std::size_t at) {
  const auto lead = static_cast<unsigned char>(text[at]);
  std::size_t length = 0;
  char32_t c = 0;
  if (lead < 0x80) return {1, 1};
  if ((lead & 0xE0) == 0xC0) {
    length = 2;
    c = lead & 0x1F;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3;
    c = lead & 0x0F;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4;
    c = lead & 0x07;
  } else {
    return {1, 1};
  }
  if (text.size() - at < length) return {1, 1};
  for (std::size_t i = 1; i < length; ++i) {
    const auto next = static_cast<unsigned char>(text[at + i]);
    if ((next & 0xC0) != 0x80) return {1, 1};
    c = (c << 6) | (next & 0x3F);
  }
  return {length, columnsOfCodePoint(c)};
}

}  // namespace

std::string progressText(std::string_view doing, std::uint64_t files, std::uint64_t totalFiles, std::uint64_t bytes,
                         std::uint64_t totalBytes) {
  if (totalFiles == 0) return fmt::format("{} {} files, {} MB", doing, groupThousands(files), megabytes(bytes));
  return fmt::format("{} {} of {} files, {} of {} MB", doing, groupThousands(files), groupThousands(totalFiles),
                     megabytes(bytes), megabytes(totalBytes));
}

std::size_t terminalColumnsOf(std::string_view text) {
  std::size_t columns = 0;
  for (std::size_t at = 0; at < text.size();) {
    const auto [length, width] = characterAt(text, at);
    columns += width;
    at += length;
  }
  return columns;
}

std::string_view fitToColumns(std::string_view text, std::size_t columns) {
  std::size_t used = 0;
  std::size_t at = 0;
  while (at < text.size()) {
    const auto [length, width] = characterAt(text, at);
    if (used + width > columns) break;
    used += width;
    at += length;
  }
  return text.substr(0, at);
}

// ---- cProgressDrawing ----------------------------------------------------------------

cProgressDrawing::cProgressDrawing(const sJobProgress& progress, std::string doing, std::FILE* stream,
                                   std::function<std::size_t()> columns, Clock::time_point start,
                                   std::chrono::milliseconds delay, std::chrono::milliseconds period)
    : progress_(progress),
      doing_(std::move(doing)),
      stream_(stream),
      columns_(std::move(columns)),
      due_(start + delay),
      period_(period) {}

// All columns but the last: a terminal that has filled the last column wraps
// (a Windows console at once, others at the next character).
std::size_t cProgressDrawing::usableColumns() {
  std::size_t columns = columns_ ? columns_() : 0;
  if (columns == 0) columns = kAssumedColumns;
  return columns - 1;
}

// Over the last line, padded to its width so that nothing of it stays.
cProgressDrawing::Clock::time_point cProgressDrawing::update(Clock::time_point now) {
  if (now < due_) return due_;
  const std::string text = progressText(doing_, progress_.files.load(), progress_.totalFiles.load(),
                                        progress_.bytes.load(), progress_.totalBytes.load());
  const std::size_t usable = usableColumns();
  const std::string_view shown = fitToColumns(text, usable);
  const std::size_t width = terminalColumnsOf(shown);
  // A line drawn wider than the terminal is now was cut or wrapped by it:
  // only what the terminal still shows can be drawn over.
  drawn_ = std::min(drawn_, usable);
  std::string line(1, '\r');
  line += shown;
  if (width < drawn_) line.append(drawn_ - width, ' ');
  drawn_ = std::max(drawn_, width);
  std::fputs(line.c_str(), stream_);
  std::fflush(stream_);
  due_ = now + period_;
  return due_;
}

void cProgressDrawing::wipe() {
  if (drawn_ == 0) return;
  std::string blank(std::min(drawn_, usableColumns()) + 2, ' ');
  blank.front() = blank.back() = '\r';
  std::fputs(blank.c_str(), stream_);
  std::fflush(stream_);
  drawn_ = 0;
}

// ---- cProgressLine -------------------------------------------------------------------

cProgressLine::cProgressLine(const sJobProgress& progress, std::string doing, std::FILE* stream,
                             std::chrono::milliseconds delay, std::chrono::milliseconds period)
    : drawing_(
          progress, std::move(doing), stream, [] { return platform::terminalColumns(); },
          cProgressDrawing::Clock::now(), delay, period) {
  try {
    thread_ = std::thread(&cProgressLine::run, this);
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
  drawing_.wipe();
}

void cProgressLine::run() {
  std::unique_lock<std::mutex> guard(lock_);
  for (;;) {
    const cProgressDrawing::Clock::time_point next = drawing_.update(cProgressDrawing::Clock::now());
    if (stopped_.wait_until(guard, next, [this] { return stop_; })) return;
  }
}

}  // namespace plimsy::cli
