#pragma once
// A clock for tests: sleeping returns at once, advances the virtual time and
// records the wait, so "two tries 50 ms apart" is checked without waiting.

#include <algorithm>
#include <cstdint>
#include <functional>
#include <vector>

#include "platform/os.h"

class VirtualClock : public os::Clock {
 public:
  // Virtual time goes on from the clock it replaces, so that a span begun
  // before (the run's transfer time) reads the same across the switch; from
  // a fixed start such a span would depend on how long the machine has been
  // up.
  VirtualClock() : now_(os::TickMs()) { os::SetClock(this); }
  ~VirtualClock() override { os::SetClock(nullptr); }
  VirtualClock(const VirtualClock&) = delete;
  VirtualClock& operator=(const VirtualClock&) = delete;

  std::int64_t NowMs() override { return now_; }
  void SleepMs(std::int64_t ms) override {
    sleeps_.push_back(ms);
    now_ += ms;
  }
  void Advance(std::int64_t ms) { now_ += ms; }
  const std::vector<std::int64_t>& Sleeps() const { return sleeps_; }
  std::int64_t TotalSlept() const {
    std::int64_t t = 0;
    for (auto s : sleeps_) t += s;
    return t;
  }
  void Clear() { sleeps_.clear(); }

 private:
  std::int64_t now_;
  std::vector<std::int64_t> sleeps_;
};

// A virtual clock that calls onSleep after recording each sleep, so a test
// can act at a given wait of the code under test.
class HookedClock : public VirtualClock {
 public:
  void SleepMs(std::int64_t ms) override {
    VirtualClock::SleepMs(ms);
    if (onSleep) onSleep(ms);
  }
  // How many sleeps of exactly ms were recorded.
  std::int64_t Count(std::int64_t ms) const {
    return std::count(Sleeps().begin(), Sleeps().end(), ms);
  }
  std::function<void(std::int64_t)> onSleep;
};
