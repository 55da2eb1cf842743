#pragma once
// Fixed names and paths that the phases of the run share.

#include <string>
#include <utility>
#include <vector>

#include "app/context/run_context.h"

std::string MainAppName();        // "tvq"
std::string MainAppExeName();     // "tvq.exe"
std::string MainAppPackedName();  // "tvq.ex_"
std::string RestartCommandLine(); // "<application directory>/tvq.exe /ExitAndLiveUpdate=on", quoted as needed
std::string LowerProgramName();
// The packed programs that an installation expands from the work directory,
// as (listed packed name, installed name): tvq.ex_ -> tvq.exe, and the
// updater's own and the helper's.
std::vector<std::pair<std::string, std::string>> PackedPrograms();
// The installed name of the packed program listed as listedName; empty
// when the name is not one of them.
std::string ExpandedNameOf(const std::string& listedName);
// 16 hexadecimal digits naming the installation in appDir (links resolved,
// case folded where the system ignores case).
std::string InstallationKeyOf(const std::string& appDir);
// 16 hexadecimal digits naming the installation in appDir for one account
// (as os::CurrentAccount names it), so that two accounts never meet.
std::string WorkKeyOf(const std::string& appDir, const std::string& account);
// Where the installation's work directory is made first, the place where a
// run receives the update list and the update's files: TEMP + delimiter +
// lower-case program name + "-" + WorkKeyOf(application directory, this
// account). Not the settings-file update's directory (SettingsUpdateDir).
std::string TempWorkDirectory();
// Where it is made when that place cannot be this account's own (another
// account or a link took it first): the same name in the account's cache
// directory (CacheDir). Empty when the account has none.
std::string CacheWorkDirectory();
// The work directory of this run: the place chosen last for the current
// TempWorkDirectory(), else TempWorkDirectory() itself.
std::string WorkDirectory();
void ChooseWorkDirectory(const std::string& place);
// The file whose lock marks a run of the installation: "." + lower-case
// program name + ".lock" in the application directory. A listed name never
// starts with a dot, so no update installs, replaces or removes it.
std::string RunLockFile();
// The maker's site + lower-case program name + "/"; empty when the build
// has none, and then only /P and the settings name a site.
std::string DefaultUpdateSite();
std::string DefaultSiteBase();  // the maker's site as configured at build time; may be empty
