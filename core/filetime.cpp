#include "core/filetime.h"

namespace plimsy {
namespace {

constexpr std::int64_t kSecondsPerDay = 86'400;
constexpr FileTime kTicksPerMillisecond = 10'000;

bool isLeapYear(std::int64_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int daysInMonth(std::int64_t year, int month) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && isLeapYear(year) ? 29 : kDays[month - 1];
}

// Days from 1970-01-01 to the given proleptic Gregorian date (Howard Hinnant's
// days_from_civil); negative before the epoch.
constexpr std::int64_t daysFromCivil(std::int64_t y, int m, int d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t yoe = y - era * 400;
  const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void civilFromDays(std::int64_t z, std::int64_t& y, int& m, int& d) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = yoe + era * 400 + (m <= 2);
}

constexpr std::int64_t kDaysFrom1601To1970 = -daysFromCivil(1601, 1, 1);

}  // namespace

bool fileTimeToCalendar(FileTime time, CalendarTime& calendar) {
  if (time >= 0x8000000000000000ULL) return false;
  const FileTime totalSeconds = time / kFileTimeTicksPerSecond;
  const std::int64_t days = static_cast<std::int64_t>(totalSeconds / kSecondsPerDay);
  const std::int64_t secondOfDay = static_cast<std::int64_t>(totalSeconds % kSecondsPerDay);
  std::int64_t year = 0;
  int month = 0;
  int day = 0;
  civilFromDays(days - kDaysFrom1601To1970, year, month, day);
  calendar.year = static_cast<int>(year);
  calendar.month = month;
  calendar.day = day;
  calendar.dayOfWeek = static_cast<int>((days + 1) % 7);  // 1601-01-01 was a Monday
  calendar.hour = static_cast<int>(secondOfDay / 3600);
  calendar.minute = static_cast<int>(secondOfDay / 60 % 60);
  calendar.second = static_cast<int>(secondOfDay % 60);
  calendar.milliseconds = static_cast<int>(time % kFileTimeTicksPerSecond / kTicksPerMillisecond);
  return true;
}

bool calendarToFileTime(const CalendarTime& c, FileTime& time) {
  if (c.year < 1601 || c.year > 30827 || c.month < 1 || c.month > 12) return false;
  if (c.day < 1 || c.day > daysInMonth(c.year, c.month)) return false;
  if (c.hour < 0 || c.hour > 23 || c.minute < 0 || c.minute > 59 || c.second < 0 || c.second > 59) return false;
  if (c.milliseconds < 0 || c.milliseconds > 999) return false;
  const std::int64_t days = daysFromCivil(c.year, c.month, c.day) + kDaysFrom1601To1970;
  const std::int64_t seconds = days * kSecondsPerDay + c.hour * 3600 + c.minute * 60 + c.second;
  time = static_cast<FileTime>(seconds) * kFileTimeTicksPerSecond +
         static_cast<FileTime>(c.milliseconds) * kTicksPerMillisecond;
  return true;
}

bool fileTimeToDosDateTime(FileTime time, std::uint16_t& dosDate, std::uint16_t& dosTime) {
  CalendarTime c;
  if (!fileTimeToCalendar(time, c) || c.year < 1980 || c.year > 2107) return false;
  dosDate = static_cast<std::uint16_t>((c.year - 1980) * 512 + c.month * 32 + c.day);
  dosTime = static_cast<std::uint16_t>(c.hour * 2048 + c.minute * 32 + c.second / 2);
  return true;
}

bool dosDateTimeToFileTime(std::uint16_t dosDate, std::uint16_t dosTime, FileTime& time) {
  CalendarTime c;
  c.year = 1980 + (dosDate >> 9);
  c.month = (dosDate >> 5) & 0x0F;
  c.day = dosDate & 0x1F;
  c.hour = dosTime >> 11;
  c.minute = (dosTime >> 5) & 0x3F;
  c.second = (dosTime & 0x1F) * 2;
  return calendarToFileTime(c, time);
}

FileTime fileTimeFromUnix(std::int64_t seconds, std::uint32_t nanoseconds) {
  if (seconds < -kUnixEpochInFileTimeSeconds) return 0;
  return static_cast<FileTime>(seconds + kUnixEpochInFileTimeSeconds) * kFileTimeTicksPerSecond + nanoseconds / 100;
}

void fileTimeToUnix(FileTime time, std::int64_t& seconds, std::uint32_t& nanoseconds) {
  seconds = static_cast<std::int64_t>(time / kFileTimeTicksPerSecond) - kUnixEpochInFileTimeSeconds;
  nanoseconds = static_cast<std::uint32_t>(time % kFileTimeTicksPerSecond) * 100;
}

}  // namespace plimsy
