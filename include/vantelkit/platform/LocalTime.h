// Calendar dates and times of day as the local clock shows them, without a time zone (the
// form of a trash information file's deletion date), and the local clock's time now.
// Thread safety: values; localDateTimeNow() is safe to call from any thread.
#pragma once

#include <cstdint>

namespace vantelkit::platform {

struct LocalDateTime {
  int year = 1970;
  int month = 1;  // 1 to 12
  int day = 1;    // 1 to the month's length
  int hour = 0;
  int minute = 0;
  int second = 0;

  // Days from 1970-01-01 to the date in the proleptic Gregorian calendar (negative before).
  std::int64_t dayNumber() const;
  bool operator==(const LocalDateTime&) const = default;
};

// The days of month in year (29 for February of a leap year); 0 for a month outside 1 to 12.
int daysInMonth(int year, int month);

// The local clock's date and time now.
LocalDateTime localDateTimeNow();

}  // namespace vantelkit::platform
