#pragma once
// The update run: one complete update from the start-up checks to the
// end-of-run waits. Called once per program start, 2000 ms after the display
// appeared.

#include <string>

#include "platform/os.h"
#include "platform/status.h"
#include "support/command_line_options.h"

// The run of one start, with its site, account and banner from the command line.
void RunLiveUpdate(const CommandLineOptions& options);

// Why a start may not run: another run holds the installation's lock, this
// account cannot open the lock (so it cannot change the installation), or
// the lock could not be taken (with the system's cause).
Status RunLockRefusal(const os::RunLock& lock);
// The whole of a start that may not run: it changes nothing, and says why
// in the status line and the account (accountTarget as in CommandLineOptions);
// an account that cannot change the installation also gets the box of the
// rights test.
void ReportRunRefused(const os::RunLock& lock, const std::string& accountTarget);
// Tells the user why the command line is refused (a switch that would write
// lines of its own into the settings).
void ReportCommandLineRefused(const Status& refusal, const std::string& accountTarget);

// True when the program may write in its own directory: the settings file's
// date can be changed and restored, and a test file can be created, touched
// and deleted.
bool TestDirectoryRights();
// TestDirectoryRights with the cause of a failure.
Status CheckDirectoryRights();

// Creates the work directory, makes it private and empties it of ordinary
// files, of links and other entries that are neither files nor directories,
// and of copy leftovers. When the place in TEMP is not this account's own,
// the run uses the one in the account's cache directory and its account says
// why. Fails (after an error box) when neither can be used safely.
Status PrepareWorkDirectory();
// Removes every entry of dir that is neither an ordinary file nor a
// directory (links, pipes, devices), without following any of them.
void RemoveStrangeEntries(const std::string& dir);

// The maker's web address shown in the title line and the version banner.
inline constexpr const char* kMakerWebAddress = "https://www.example.com/zadovez";
inline constexpr const char* kVersion = "1.0j";
