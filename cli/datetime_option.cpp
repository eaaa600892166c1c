#include "cli/datetime_option.h"

#include <fmt/format.h>

#include "core/filetime.h"
#include "core/text.h"

namespace plimsy::cli {
namespace {

// Outside this range an entry's DOS fields would hold 0 instead of the time,
// and two "reproducible" archives of the same folder would differ.
constexpr const char* kFirstDosTime = "1980-01-01T00:00:00Z";
constexpr const char* kLastDosTime = "2107-12-31T23:59:58Z";

FileTime utcTime(const char* text) {
  FileTime time = 0;
  parseDatetime(text, time);
  return time;
}

// The text with the UTC time it names, when it named a local time.
std::string withUtc(const std::string& text, FileTime time) {
  CalendarTime c;
  if (text.back() == 'Z' || !fileTimeToCalendar(time, c)) return text;
  return fmt::format("{} ({:04}-{:02}-{:02}T{:02}:{:02}:{:02}Z)", text, c.year, c.month, c.day, c.hour, c.minute,
                     c.second);
}

}  // namespace

std::string datetimeOptionProblem(const std::string& text) {
  FileTime time = 0;
  if (!parseDatetime(text, time)) {
    return fmt::format(
        "\"{}\" is not a date: use YYYY-MM-DD, YYYY-MM-DDThh:mm:ss (local time) or either with Z appended (UTC)", text);
  }
  if (time < utcTime(kFirstDosTime) || time > utcTime(kLastDosTime)) {
    return fmt::format("{} is outside the times a ZIP entry can hold ({} to {})", withUtc(text, time), kFirstDosTime,
                       kLastDosTime);
  }
  return {};
}

}  // namespace plimsy::cli
