#pragma once
// What an installation records of the updates it received: whether a
// selected update is new to it, the record written once an update is
// installed, and the reset of that history when the main application is
// older than the record.

#include <string>
#include <string_view>

#include "app/context/run_context.h"
#include "platform/status.h"

// Whether a selected update is new to an installation whose record is
// lastRecorded (LiveUpdate.lastUpdateInfo, "<" when absent): it sorts after
// the record, or the record names no update.
bool IsNewUpdate(std::string_view updateInfo, std::string_view lastRecorded);
// What an installation records of an installed update: its text up to its
// first CR (the header line of a list read over the internet, the whole
// block of one read from a directory), control characters replaced.
std::string RecordOfUpdate(std::string_view updateInfo);

// IsNewUpdate for the run's selected update against the settings' record.
bool UpdateIsNew(const RunContext& context);
// Records the run's selected update in the settings, durably.
Status RecordInstalledUpdate(const RunContext& context);
// Clears the record (so every update is received again, one a run) when the
// main application is older than the day recorded at the last reset, or no
// day was ever recorded.
void ResetHistoryIfObsolete();
