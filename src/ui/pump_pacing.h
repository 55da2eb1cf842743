#pragma once
// The pace of the window's event handling, the same for every toolkit:
// pending events are handled at once after a visible change, otherwise at
// most every kPumpIntervalMs, so that a transfer reporting every block is
// not slowed down by handling events after each one.

inline constexpr int kPumpIntervalMs = 50;

// Notes that the window shows something new: the next pump draws it at once.
void NoteVisibleChange();
// True when pending events are to be handled now (a visible change is
// waiting, or kPumpIntervalMs passed since the last time); the answer
// counts as handling them.
bool PumpDue();
