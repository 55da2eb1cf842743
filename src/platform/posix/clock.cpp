// Time on Linux: the monotonic clock, sleeps, wall time and local dates.
#include <time.h>

#include <atomic>
#include <cerrno>

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

std::atomic<Clock*> installedClock{nullptr};

// Whole days from 1970-01-01 to the given civil date (proleptic Gregorian).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

// 1899-12-30 lies 25569 days before 1970-01-01.
constexpr std::int64_t kDayNumberOfUnixEpoch = 25569;

}  // namespace

Clock& SystemClock() {
  static PosixClock clock;
  return clock;
}

void SetClock(Clock* clock) {
  installedClock.store(clock);
}

std::int64_t TickMs() {
  Clock* clock = installedClock.load();
  return (clock ? *clock : SystemClock()).NowMs();
}

void SleepMs(std::int64_t ms) {
  Clock* clock = installedClock.load();
  (clock ? *clock : SystemClock()).SleepMs(ms);
}

std::int64_t WallTimeSeconds() {
  return static_cast<std::int64_t>(::time(nullptr));
}

std::int32_t LocalDayNumber(std::int64_t unixSeconds) {
  const time_t t = static_cast<time_t>(unixSeconds);
  tm local{};
  if (::localtime_r(&t, &local) == nullptr) return 0;
  const std::int64_t days = DaysFromCivil(std::int64_t{local.tm_year} + 1900,
                                          static_cast<unsigned>(local.tm_mon + 1),
                                          static_cast<unsigned>(local.tm_mday));
  return static_cast<std::int32_t>(days + kDayNumberOfUnixEpoch);
}

}  // namespace os
