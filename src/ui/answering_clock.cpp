#include "ui/answering_clock.h"

#include <algorithm>
#include <utility>

#include "app/context/run_context.h"
#include "ui/pump_pacing.h"

AnsweringClock::AnsweringClock(os::Clock& base, std::function<void()> handleEvents)
    : base_(base), handleEvents_(std::move(handleEvents)), owner_(std::this_thread::get_id()) {}

void AnsweringClock::SleepMs(std::int64_t ms) {
  if (sleeping_ || std::this_thread::get_id() != owner_) {
    base_.SleepMs(ms);
    return;
  }
  sleeping_ = true;
  // The end is fixed at the start: time spent handling events counts. The
  // events handled may be the Cancel that ends the wait.
  const std::int64_t end = base_.NowMs() + ms;
  for (std::int64_t left = ms; left > 0; left = end - base_.NowMs()) {
    if (handleEvents_) handleEvents_();
    if (CancelRequested()) break;
    base_.SleepMs(std::min<std::int64_t>(left, kPumpIntervalMs));
  }
  sleeping_ = false;
}

AnsweringClockScope::AnsweringClockScope(std::function<void()> handleEvents)
    : previous_(os::CurrentClock()), clock_(previous_, std::move(handleEvents)) {
  os::SetClock(&clock_);
}

AnsweringClockScope::~AnsweringClockScope() { os::SetClock(&previous_); }
