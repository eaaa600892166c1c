#include <gtest/gtest.h>

#include "core/filetime.h"

namespace plimsy {
namespace {

FileTime at(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
  CalendarTime c;
  c.year = y;
  c.month = mo;
  c.day = d;
  c.hour = h;
  c.minute = mi;
  c.second = s;
  c.milliseconds = ms;
  FileTime t = 0;
  EXPECT_TRUE(calendarToFileTime(c, t)) << y << "-" << mo << "-" << d;
  return t;
}

TEST(Calendar, KnownInstantsAndRoundTrips) {
  EXPECT_EQ(at(1601, 1, 1), 0u);
  EXPECT_EQ(at(1970, 1, 1), 116444736000000000ULL);  // the Unix epoch
  EXPECT_EQ(at(2000, 2, 29, 12, 0, 0, 500), 125911584000000000ULL + 59 * 864000000000ULL + 432000000000ULL + 5000000ULL);
  for (FileTime t : {FileTime{0}, at(1980, 1, 1), at(2024, 2, 29, 23, 59, 59, 999)}) {
    CalendarTime c;
    ASSERT_TRUE(fileTimeToCalendar(t, c));
    FileTime back = 0;
    ASSERT_TRUE(calendarToFileTime(c, back));
    EXPECT_EQ(back, t - t % 10'000);  // sub-millisecond ticks are not kept
  }
  CalendarTime c;
  ASSERT_TRUE(fileTimeToCalendar(0x7FFFFFFFFFFFFFFFULL, c));
  EXPECT_EQ(c.year, 30828);  // beyond what a calendar time may be converted from
  ASSERT_TRUE(fileTimeToCalendar(at(2022, 3, 4), c));
  EXPECT_EQ(c.dayOfWeek, 5);  // a Friday
  EXPECT_FALSE(fileTimeToCalendar(0x8000000000000000ULL, c));
}

TEST(Calendar, RefusesImpossibleDates) {
  CalendarTime c;
  FileTime t = 0;
  c.year = 2023, c.month = 2, c.day = 29;
  EXPECT_FALSE(calendarToFileTime(c, t));
  c.year = 1900, c.month = 2, c.day = 29;  // not a leap year
  EXPECT_FALSE(calendarToFileTime(c, t));
  c.year = 1600, c.month = 1, c.day = 1;
  EXPECT_FALSE(calendarToFileTime(c, t));
  c = CalendarTime{};
  c.month = 0;
  EXPECT_FALSE(calendarToFileTime(c, t));
  c = CalendarTime{};
  c.hour = 24;
  EXPECT_FALSE(calendarToFileTime(c, t));
}

TEST(DosDateTime, CoversExactly1980To2107InTwoSecondSteps) {
  std::uint16_t date = 0xAAAA, time = 0xBBBB;
  EXPECT_FALSE(fileTimeToDosDateTime(at(1979, 12, 31, 23, 59, 59), date, time));
  EXPECT_EQ(date, 0xAAAA);  // left alone on failure
  EXPECT_FALSE(fileTimeToDosDateTime(at(2108, 1, 1), date, time));

  ASSERT_TRUE(fileTimeToDosDateTime(at(1980, 1, 1), date, time));
  EXPECT_EQ(date, 0x0021);
  EXPECT_EQ(time, 0x0000);
  ASSERT_TRUE(fileTimeToDosDateTime(at(2107, 12, 31, 23, 59, 59), date, time));
  EXPECT_EQ(date, (127 << 9) | (12 << 5) | 31);
  EXPECT_EQ(time, (23 << 11) | (59 << 5) | 29);  // 59 seconds truncate to 58
  ASSERT_TRUE(fileTimeToDosDateTime(at(2022, 3, 4, 10, 20, 31), date, time));
  EXPECT_EQ(date, (42 << 9) | (3 << 5) | 4);
  EXPECT_EQ(time, (10 << 11) | (20 << 5) | 15);

  FileTime back = 0;
  ASSERT_TRUE(dosDateTimeToFileTime(date, time, back));
  EXPECT_EQ(back, at(2022, 3, 4, 10, 20, 30));
  EXPECT_FALSE(dosDateTimeToFileTime(0, 0, back));                     // month 0
  EXPECT_FALSE(dosDateTimeToFileTime((3 << 5) | 4, 30, back));         // 60 seconds
  EXPECT_FALSE(dosDateTimeToFileTime((2 << 5) | 30, 0, back));         // 30 February
}

TEST(UnixTime, ConvertsBothWays) {
  EXPECT_EQ(fileTimeFromUnix(0, 0), at(1970, 1, 1));
  EXPECT_EQ(fileTimeFromUnix(-11'644'473'601, 0), 0u);  // before 1601 clamps
  std::int64_t s = 0;
  std::uint32_t ns = 0;
  fileTimeToUnix(at(1970, 1, 1) + 15, s, ns);
  EXPECT_EQ(s, 0);
  EXPECT_EQ(ns, 1500u);
}

}  // namespace
}  // namespace plimsy
