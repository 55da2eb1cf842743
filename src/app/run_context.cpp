#include "app/run_context.h"

#include <atomic>

namespace {
// Atomic because a test or a signal-watching thread may press Cancel while
// the run works on the main thread.
std::atomic<bool> cancelRequested{false};
}  // namespace

std::int64_t downloadedBytes = 0;
std::int64_t totalBytesCurrentSet = 0;
std::int64_t totalBytesAllSets = 0;

bool CancelRequested() {
  return cancelRequested.load();
}

void RequestCancel() {
  cancelRequested.store(true);
}

void ResetCancelForTests() {
  cancelRequested.store(false);
}
