#include "ui/pump_pacing.h"

#include <chrono>

namespace {

using Clock = std::chrono::steady_clock;

// Set by NoteVisibleChange, cleared by the next PumpDue that says yes.
bool visibleChange = false;
Clock::time_point lastPump{};

}  // namespace

void NoteVisibleChange() { visibleChange = true; }

bool PumpDue() {
  const Clock::time_point now = Clock::now();
  if (!visibleChange && now - lastPump < std::chrono::milliseconds(kPumpIntervalMs)) return false;
  lastPump = now;
  visibleChange = false;
  return true;
}
