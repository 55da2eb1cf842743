#include "app/context/names.h"

#include <cstdint>
#include <string>

#include "platform/os.h"
#include "support/fileutil.h"
#include "support/lingua.h"
#include "support/strfn.h"

#ifndef TVQ_DEFAULT_SITE
#define TVQ_DEFAULT_SITE ""
#endif

namespace {

}  // namespace

std::string MainAppName() { return "tvq"; }
std::string MainAppExeName() { return MainAppName() + ".exe"; }
std::string MainAppPackedName() { return MainAppName() + ".ex_"; }
// The full path: a program of the same name elsewhere (on PATH) is never started.
std::string RestartCommandLine() {
  return CommandLineWord(ProgramDir(true) + MainAppExeName()) + " /ExitAndLiveUpdate=on";
}

std::string LowerProgramName() { return LowStr(ProgramName()); }

std::string InstallationKey() { return InstallationKeyOf(ProgramDir(false)); }

std::string InstallationKeyOf(const std::string& appDir) {
  std::string dir = os::ResolveLinks(appDir);
  if (os::kConventions.namesIgnoreCase) dir = UpStr(dir);
  // Wide enough that two installations of one user never share a name.
  return HashHex(dir);
}

std::string WorkDirectory() {
  std::string dir = TempDir();
  if (dir.empty() || !IsPathDelim(dir.back())) dir += kPathDelim;
  return dir + LowerProgramName() + "-" + InstallationKey();
}

std::string DefaultSiteBase() { return TVQ_DEFAULT_SITE; }

std::string DefaultUpdateSite() {
  const std::string base = DefaultSiteBase();
  return base.empty() ? base : base + LowerProgramName() + "/";
}
