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

// Sets TZ (and tells the C library) for the object's lifetime. Windows keeps
// one time zone for the whole system, which a test cannot change: there the
// object does nothing and tests that need a zone skip (kSupported).
class ScopedTimeZone {
 public:
#ifdef _WIN32
  static constexpr bool kSupported = false;
#else
  static constexpr bool kSupported = true;
#endif

  explicit ScopedTimeZone(const std::string& zone);
  ~ScopedTimeZone();

 private:
  std::optional<ScopedEnv> tz_;
};

// Central European time: UTC+1 in winter, UTC+2 in summer (from the last
// Sunday of March to the last Sunday of October).
inline constexpr const char* kCentralEuropeanTime = "CET-1CEST,M3.5.0,M10.5.0/3";

}  // namespace plimsy::test
