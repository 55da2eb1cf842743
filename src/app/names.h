#pragma once
// Fixed names and paths that the phases of the run share.

#include <string>

std::string MainAppName();        // "tvq"
std::string MainAppExeName();     // "tvq.exe"
std::string MainAppPackedName();  // "tvq.ex_"
std::string RestartCommandLine(); // "<application directory>/tvq.exe /ExitAndLiveUpdate=on", quoted as needed
std::string LowerProgramName();
std::string WorkDirectory();      // TEMP + delimiter + lower-case program name
std::string DefaultUpdateSite();  // the maker's site + lower-case program name + "/"
std::string DefaultSiteBase();    // the maker's site as configured at build time

// More updates pending: a marker file "!more", "!more.flg" or "!more.txt" in
// the work directory (consumed when found; the answer stays true afterwards).
bool MorePending();
void ResetMorePendingForTests();

// Shows text in a plain box, only while the Ctrl key is held down.
void ShowDiagnostic(const std::string& text);
