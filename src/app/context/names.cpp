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

std::vector<std::pair<std::string, std::string>> PackedPrograms() {
  const std::string lower = LowerProgramName();
  return {{MainAppPackedName(), MainAppExeName()}, {lower + ".ex_", lower + ".exe"}, {"tvqExec.ex_", "tvqExec.exe"}};
}

std::string ExpandedNameOf(const std::string& listedName) {
  for (const auto& [packed, expanded] : PackedPrograms())
    if (SameFileName(packed, listedName)) return expanded;
  return {};
}
// The full path: a program of the same name elsewhere (on PATH) is never started.
std::string RestartCommandLine() {
  return CommandLineWord(ProgramDir(true) + MainAppExeName()) + " /ExitAndLiveUpdate=on";
}

std::string LowerProgramName() { return LowStr(ProgramName()); }

std::string InstallationKeyOf(const std::string& appDir) {
  std::string dir = os::ResolveLinks(appDir);
  if (os::kConventions.namesIgnoreCase) dir = UpStr(dir);
  // Wide enough that two installations of one user never share a name.
  return HashHex(dir);
}

std::string WorkKeyOf(const std::string& appDir, const std::string& account) {
  return HashHex(account + ":" + InstallationKeyOf(appDir));
}

namespace {

std::string WorkDirectoryIn(std::string dir) {
  if (dir.empty() || !IsPathDelim(dir.back())) dir += kPathDelim;
  return dir + LowerProgramName() + "-" + WorkKeyOf(ProgramDir(false), os::CurrentAccount());
}

// The work directory chosen for a TEMP place; one run per process, so one
// choice at a time.
struct WorkChoice {
  std::string tempPlace;
  std::string chosen;
};
WorkChoice& CurrentWorkChoice() {
  static WorkChoice choice;
  return choice;
}

}  // namespace

std::string TempWorkDirectory() { return WorkDirectoryIn(TempDir()); }

std::string CacheWorkDirectory() {
  const std::string cache = CacheDir();
  return cache.empty() ? std::string() : WorkDirectoryIn(cache);
}

std::string WorkDirectory() {
  const std::string inTemp = TempWorkDirectory();
  const WorkChoice& choice = CurrentWorkChoice();
  return choice.tempPlace == inTemp ? choice.chosen : inTemp;
}

void ChooseWorkDirectory(const std::string& place) {
  CurrentWorkChoice() = WorkChoice{TempWorkDirectory(), place};
}

std::string RunLockFile() { return ProgramDir(true) + "." + LowerProgramName() + ".lock"; }

std::string DefaultSiteBase() { return TVQ_DEFAULT_SITE; }

std::string DefaultUpdateSite() {
  const std::string base = DefaultSiteBase();
  return base.empty() ? base : base + LowerProgramName() + "/";
}
