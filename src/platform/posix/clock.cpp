// Time on Linux: the monotonic clock, sleeps, wall time and local dates.
#include <time.h>

#include <cerrno>

#include "platform/day_number.h"
#include "platform/os.h"

namespace os {
namespace {

class PosixClock : public Clock {
 public:
  std::int64_t NowMs() override {
    timespec now{};
    if (::clock_gettime(CLOCK_MONOTONIC, &now) != 0) return 0;
    return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
  }

  void SleepMs(std::int64_t ms) override {
    if (ms <= 0) return;
    timespec left{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000};
    // A signal (Ctrl-C) interrupts the sleep; finish the rest of it.
    while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
  }
};

}  // namespace

Clock& SystemClock() {
  static PosixClock clock;
  return clock;
}

std::int64_t WallTimeSeconds() {
  return static_cast<std::int64_t>(::time(nullptr));
}

std::int32_t LocalDayNumber(std::int64_t unixSeconds) {
  const time_t t = static_cast<time_t>(unixSeconds);
  tm local{};
  if (::localtime_r(&t, &local) == nullptr) return 0;
  return DayNumberOfDate(std::int64_t{local.tm_year} + 1900, static_cast<unsigned>(local.tm_mon + 1),
                         static_cast<unsigned>(local.tm_mday));
}

}  // namespace os
