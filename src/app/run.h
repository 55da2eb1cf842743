#pragma once
// The update run: one complete update from the start-up checks to the
// end-of-run waits. Called once per program start, 2000 ms after the display
// appeared.

#include <string>

#include "platform/os.h"
#include "platform/status.h"

void RunLiveUpdate();

// Why a start may not run: another run holds the installation's lock, or
// the lock could not be taken (with the system's cause).
Status RunLockRefusal(const os::RunLock& lock);
// The whole of a start that may not run: it changes nothing, and says why
// in the status line and the account.
void ReportRunRefused(const Status& refusal);

// True when the program may write in its own directory: the settings file's
// date can be changed and restored, and a test file can be created, touched
// and deleted.
bool TestDirectoryRights();
// TestDirectoryRights with the cause of a failure.
Status CheckDirectoryRights();

// Creates the work directory, makes it private and empties it of ordinary
// files, of links and other entries that are neither files nor directories,
// and of copy leftovers. Fails (after an error box) when it cannot be used
// safely.
Status PrepareWorkDirectory();
// Removes every entry of dir that is neither an ordinary file nor a
// directory (links, pipes, devices), without following any of them.
void RemoveStrangeEntries(const std::string& dir);

// Where the run's account goes: "" (nowhere), "-" (standard output) or a file
// to append to -- from the switches /Log and /Log=FILE.
std::string RunAccountTarget();

// The maker's web address shown in the title line and the version banner.
inline constexpr const char* kMakerWebAddress = "https://www.example.com/zadovez";
inline constexpr const char* kVersion = "1.0j";
