#pragma once
// Running the Windows build's programs under Wine from a Linux test: the
// prefix the test run gives (WINEPREFIX, booted by a CTest fixture), its
// Wine server, and the Windows path of a Linux file.

#include <filesystem>
#include <string>

#include "support/process_runner.h"

namespace wine {

// The environment a Wine run needs besides the program's own.
inline void AddEnvironment(ProcessOptions& o) {
  o.env["WINEDEBUG"] = "-all";
  // Wine names Linux files in the locale's character set: UTF-8, for
  // non-ASCII names.
  o.env["LANG"] = "C.UTF-8";
}

// Waits until the prefix's Wine server has ended (a few seconds after its
// last program), so that the next program starts a server, and a desktop,
// of its own display.
inline void WaitForServerEnd() {
  ProcessOptions o;
  o.argv = {std::filesystem::path(WINE64_BIN).replace_filename("wineserver").string(), "-w"};
  AddEnvironment(o);
  o.timeoutSeconds = 60;
  RunProcess(o);
}

// The Windows path under which Wine sees a Linux path (drive Z:).
inline std::string OnDriveZ(std::string path) {
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return "Z:" + path;
}

}  // namespace wine
