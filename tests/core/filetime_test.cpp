#include <gtest/gtest.h>

#include "core/filetime.h"
#include "support/times.h"

namespace plimsy {
namespace {

using test::utc;

TEST(Calendar, KnownInstantsAndRoundTrips) {
  EXPECT_EQ(utc(1601, 1, 1), 0u);
  EXPECT_EQ(utc(1970, 1, 1), 116444736000000000ULL);  // the Unix epoch
  EXPECT_EQ(utc(2000, 2, 29, 12, 0, 0, 500),
            125911584000000000ULL + 59 * 864000000000ULL + 432000000000ULL + 5000000ULL);
  for (FileTime t : {FileTime{0}, utc(1980, 1, 1), utc(2024, 2, 29, 23, 59, 59, 999)}) {
    CalendarTime c;
    ASSERT_TRUE(fileTimeToCalendar(t, c));
    FileTime back = 0;
    ASSERT_TRUE(calendarToFileTime(c, back));
    EXPECT_EQ(back, t - t % 10'000);  // sub-millisecond ticks are not kept
  }
  CalendarTime c;
  ASSERT_TRUE(fileTimeToCalendar(0x7FFFFFFFFFFFFFFFULL, c));
  EXPECT_EQ(c.year, 30828);  // beyond what a calendar time may be converted from
  ASSERT_TRUE(fileTimeToCalendar(utc(2022, 3, 4), c));
  EXPECT_EQ(c.dayOfWeek, 5);  // a Friday
  EXPECT_FALSE(fileTimeToCalendar(0x8000000000000000ULL, c));
}

TEST(Calendar, RefusesImpossibleDates) {
  const CalendarTime impossible[] = {
      {.year = 2023, .month = 2, .day = 29},
      {.year = 1900, .month = 2, .day = 29},  // not a leap year
      {.year = 1600},
      {.month = 0},
      {.hour = 24},
  };
  for (const CalendarTime& c : impossible) {
    FileTime t = 0;
    EXPECT_FALSE(calendarToFileTime(c, t)) << c.year << "-" << c.month << "-" << c.day << " " << c.hour << "h";
  }
}

TEST(DosDateTime, CoversExactly1980To2107InTwoSecondSteps) {
  std::uint16_t date = 0xAAAA, time = 0xBBBB;
  EXPECT_FALSE(fileTimeToDosDateTime(utc(1979, 12, 31, 23, 59, 59), date, time));
  EXPECT_EQ(date, 0xAAAA);  // left alone on failure
  EXPECT_FALSE(fileTimeToDosDateTime(utc(2108, 1, 1), date, time));

  ASSERT_TRUE(fileTimeToDosDateTime(utc(1980, 1, 1), date, time));
  EXPECT_EQ(date, 0x0021);
  EXPECT_EQ(time, 0x0000);
  ASSERT_TRUE(fileTimeToDosDateTime(utc(2107, 12, 31, 23, 59, 59), date, time));
  EXPECT_EQ(date, (127 << 9) | (12 << 5) | 31);
  EXPECT_EQ(time, (23 << 11) | (59 << 5) | 29);  // 59 seconds truncate to 58
  ASSERT_TRUE(fileTimeToDosDateTime(utc(2022, 3, 4, 10, 20, 31), date, time));
  EXPECT_EQ(date, (42 << 9) | (3 << 5) | 4);
  EXPECT_EQ(time, (10 << 11) | (20 << 5) | 15);

  FileTime back = 0;
  ASSERT_TRUE(dosDateTimeToFileTime(date, time, back));
  EXPECT_EQ(back, utc(2022, 3, 4, 10, 20, 30));
  EXPECT_FALSE(dosDateTimeToFileTime(0, 0, back));              // month 0
  EXPECT_FALSE(dosDateTimeToFileTime((3 << 5) | 4, 30, back));  // 60 seconds
  EXPECT_FALSE(dosDateTimeToFileTime((2 << 5) | 30, 0, back));  // 30 February
}

TEST(UnixTime, ConvertsBothWays) {
  EXPECT_EQ(fileTimeFromUnix(0, 0), utc(1970, 1, 1));
  EXPECT_EQ(fileTimeFromUnix(-11'644'473'601, 0), 0u);  // before 1601 clamps
  std::int64_t s = 0;
  std::uint32_t ns = 0;
  fileTimeToUnix(utc(1970, 1, 1) + 15, s, ns);
  EXPECT_EQ(s, 0);
  EXPECT_EQ(ns, 1500u);
}

}  // namespace
}  // namespace plimsy
