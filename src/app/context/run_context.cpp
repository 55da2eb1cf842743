#include "app/context/run_context.h"

#include <atomic>

#include "platform/os.h"

namespace {
// Atomic because a test or a signal-watching thread may press Cancel while
// the run works on the main thread.
std::atomic<bool> cancelRequested{false};
}  // namespace

bool CancelRequested() {
  // Ctrl-C and SIGTERM (once watched) act as the Cancel button, in the window
  // as on the console, so an interrupted run never records a half-done update.
  if (os::InterruptsReceived() > 0) cancelRequested.store(true);
  return cancelRequested.load();
}

void RequestCancel() {
  cancelRequested.store(true);
}

void ResetCancelForTests() {
  cancelRequested.store(false);
}

bool WaitUnlessCancelled(std::int64_t ms) {
  if (CancelRequested()) return false;
  os::SleepMs(ms);
  return !CancelRequested();
}
