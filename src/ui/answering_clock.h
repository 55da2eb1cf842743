#pragma once
// A clock that keeps the program answering while the run waits: a sleep
// lasts as long as on the clock beneath it unless Cancel is requested, which
// ends it within kPumpIntervalMs, and the window's pending events (repaint,
// drag, Cancel, close) are handled every kPumpIntervalMs meanwhile. After
// Cancel every wait ends at once, so the run goes to its end without delay.

#include <cstdint>
#include <functional>
#include <thread>

#include "platform/os.h"

class AnsweringClock : public os::Clock {
 public:
  // base measures and sleeps; handleEvents (may be empty) is called between
  // the slices of a sleep on the thread that made this clock (other threads
  // just sleep).
  AnsweringClock(os::Clock& base, std::function<void()> handleEvents);

  std::int64_t NowMs() override { return base_.NowMs(); }
  void SleepMs(std::int64_t ms) override;

 private:
  os::Clock& base_;
  std::function<void()> handleEvents_;
  std::thread::id owner_;
  // Set while a sleep handles events, so that a sleep inside an event
  // handler does not handle events again.
  bool sleeping_ = false;
};

// Installs an AnsweringClock over the installed clock for its lifetime.
class AnsweringClockScope {
 public:
  explicit AnsweringClockScope(std::function<void()> handleEvents);
  ~AnsweringClockScope();
  AnsweringClockScope(const AnsweringClockScope&) = delete;
  AnsweringClockScope& operator=(const AnsweringClockScope&) = delete;

 private:
  os::Clock& previous_;
  AnsweringClock clock_;
};
