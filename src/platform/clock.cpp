// The installed clock, the same on every platform: the system clock of the
// backend unless a test installed another.
#include <atomic>

#include "platform/os.h"

namespace os {
namespace {

std::atomic<Clock*> installedClock{nullptr};

Clock& InstalledClock() {
  Clock* clock = installedClock.load();
  return clock ? *clock : SystemClock();
}

}  // namespace

void SetClock(Clock* clock) {
  installedClock.store(clock);
}

std::int64_t TickMs() {
  return InstalledClock().NowMs();
}

void SleepMs(std::int64_t ms) {
  InstalledClock().SleepMs(ms);
}

}  // namespace os
