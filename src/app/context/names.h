#pragma once
// Fixed names and paths that the phases of the run share.

#include <string>

#include "app/context/run_context.h"

std::string MainAppName();        // "tvq"
std::string MainAppExeName();     // "tvq.exe"
std::string MainAppPackedName();  // "tvq.ex_"
std::string RestartCommandLine(); // "<application directory>/tvq.exe /ExitAndLiveUpdate=on", quoted as needed
std::string LowerProgramName();
// 16 hexadecimal digits naming the installation (the application directory,
// links resolved, case folded where the system ignores case).
std::string InstallationKey();
// The key of the installation in appDir.
std::string InstallationKeyOf(const std::string& appDir);
// The installation's own work directory, where a run receives the update
// list and the update's files: TEMP + delimiter + lower-case program name +
// "-" + InstallationKey(), so two installations never meet. Not the
// settings-file update's directory (SettingsUpdateDir).
std::string WorkDirectory();
// The maker's site + lower-case program name + "/"; empty when the build
// has none, and then only /P and the settings name a site.
std::string DefaultUpdateSite();
std::string DefaultSiteBase();  // the maker's site as configured at build time; may be empty
