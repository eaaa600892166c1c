#pragma once

// File times for tests: instants written as calendar fields, and the local
// time zone set for the length of a test.

#include <optional>
#include <string>

#include "core/filetime.h"
#include "support/scoped_env.h"

namespace plimsy::test {

// The UTC file time of a calendar date and time; fails the current test when
// the fields do not make a valid date.
FileTime utc(int year, int month, int day, int hour = 0, int minute = 0, int second = 0, int milliseconds = 0);

// Sets TZ (and tells the C library) for the object's lifetime.
class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const std::string& zone);
  ~ScopedTimeZone();

 private:
  std::optional<ScopedEnv> tz_;
};

// Central European time: UTC+1 in winter, UTC+2 in summer (from the last
// Sunday of March to the last Sunday of October).
inline constexpr const char* kCentralEuropeanTime = "CET-1CEST,M3.5.0,M10.5.0/3";

}  // namespace plimsy::test
