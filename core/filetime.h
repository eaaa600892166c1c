#pragma once

#include <cstdint>

namespace plimsy {

// A file time: 100-nanosecond intervals since 1601-01-01 00:00:00 UTC.
using FileTime = std::uint64_t;

inline constexpr FileTime kFileTimeTicksPerSecond = 10'000'000;
// Seconds from 1601-01-01 to the Unix epoch 1970-01-01.
inline constexpr std::int64_t kUnixEpochInFileTimeSeconds = 11'644'473'600;

// A broken-down UTC calendar time.
struct CalendarTime {
  int year = 1601;
  int month = 1;      // 1..12
  int dayOfWeek = 0;  // 0 = Sunday; ignored when converting to a file time
  int day = 1;        // 1..31
  int hour = 0;
  int minute = 0;
  int second = 0;
  int milliseconds = 0;
};

// File time -> calendar. Fails for times from 0x8000000000000000 up.
bool fileTimeToCalendar(FileTime time, CalendarTime& calendar);

// Calendar -> file time. Fails for a year outside 1601..30827, a month outside
// 1..12, a day the month lacks, an hour above 23, a minute or second above 59
// or milliseconds above 999. The day of the week is not examined.
bool calendarToFileTime(const CalendarTime& calendar, FileTime& time);

// File time -> DOS date and time (no time-zone change). The time has
// two-second steps (seconds are truncated). Fails for a year before 1980 or
// after 2107 and leaves both outputs alone then.
bool fileTimeToDosDateTime(FileTime time, std::uint16_t& dosDate, std::uint16_t& dosTime);

// DOS date and time -> file time (no time-zone change). Fails when the fields
// do not form a valid date and time (a date of 0 has month 0 and fails).
bool dosDateTimeToFileTime(std::uint16_t dosDate, std::uint16_t dosTime, FileTime& time);

// Unix seconds and nanoseconds <-> file time. Times before 1601 clamp to 0.
FileTime fileTimeFromUnix(std::int64_t seconds, std::uint32_t nanoseconds);
void fileTimeToUnix(FileTime time, std::int64_t& seconds, std::uint32_t& nanoseconds);

}  // namespace plimsy
