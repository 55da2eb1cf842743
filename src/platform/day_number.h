#pragma once
// The day number of a civil date, shared by the platform backends.

#include <cstdint>

namespace os {

// Whole days since 30 December 1899 of the given date (proleptic Gregorian;
// month 1..12, day 1..31).
inline std::int32_t DayNumberOfDate(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  const std::int64_t daysSinceUnixEpoch = era * 146097 + static_cast<std::int64_t>(doe) - 719468;
  // 1899-12-30 lies 25569 days before 1970-01-01.
  return static_cast<std::int32_t>(daysSinceUnixEpoch + 25569);
}

}  // namespace os
