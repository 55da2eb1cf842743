// Time on Windows: the tick count, sleeps, wall time and local dates.
#include "platform/day_number.h"
#include "platform/os.h"
#include "platform/win32/wide.h"

namespace os {
namespace {

class Win32Clock : public Clock {
 public:
  std::int64_t NowMs() override { return static_cast<std::int64_t>(::GetTickCount64()); }

  void SleepMs(std::int64_t ms) override {
    // Sleep takes 32 bits and INFINITE (0xFFFFFFFF) would never return.
    constexpr std::int64_t kLongestSleep = 0x7FFFFFFF;
    while (ms > 0) {
      const std::int64_t part = ms < kLongestSleep ? ms : kLongestSleep;
      ::Sleep(static_cast<DWORD>(part));
      ms -= part;
    }
  }
};

}  // namespace

Clock& SystemClock() {
  static Win32Clock clock;
  return clock;
}

std::int64_t WallTimeSeconds() {
  FILETIME now;
  ::GetSystemTimeAsFileTime(&now);
  return win32::UnixSecondsOf(now);
}

std::int32_t LocalDayNumber(std::int64_t unixSeconds) {
  const FILETIME utc = win32::FileTimeOf(unixSeconds);
  SYSTEMTIME utcTime;
  SYSTEMTIME local;
  // The time zone's rules of that date apply (daylight saving included).
  if (!win32::Succeeded(::FileTimeToSystemTime(&utc, &utcTime)) ||
      !win32::Succeeded(::SystemTimeToTzSpecificLocalTime(nullptr, &utcTime, &local)))
    return 0;
  return DayNumberOfDate(local.wYear, local.wMonth, local.wDay);
}

}  // namespace os
