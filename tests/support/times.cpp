#include "support/times.h"

#include <ctime>

#include <gtest/gtest.h>

namespace plimsy::test {

FileTime utc(int year, int month, int day, int hour, int minute, int second, int milliseconds) {
  const CalendarTime c{.year = year,
                       .month = month,
                       .day = day,
                       .hour = hour,
                       .minute = minute,
                       .second = second,
                       .milliseconds = milliseconds};
  FileTime time = 0;
  EXPECT_TRUE(calendarToFileTime(c, time)) << year << "-" << month << "-" << day;
  return time;
}

ScopedTimeZone::ScopedTimeZone(const std::string& zone) {
  if (!kSupported) return;
  tz_.emplace("TZ");
  tz_->set(zone);
  tzset();
}

ScopedTimeZone::~ScopedTimeZone() {
  if (!kSupported) return;
  tz_.reset();  // TZ as it was, before the C library reads it again
  tzset();
}

}  // namespace plimsy::test
