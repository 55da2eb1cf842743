// The installed clock, the same on every platform: the system clock of the
// backend unless a test installed another.
#include <atomic>

#include "platform/os.h"

namespace os {
namespace {

std::atomic<Clock*> installedClock{nullptr};

}  // namespace

Clock& CurrentClock() {
  Clock* clock = installedClock.load();
  return clock ? *clock : SystemClock();
}

void SetClock(Clock* clock) {
  installedClock.store(clock);
}

std::int64_t TickMs() {
  return CurrentClock().NowMs();
}

void SleepMs(std::int64_t ms) {
  CurrentClock().SleepMs(ms);
}

}  // namespace os
