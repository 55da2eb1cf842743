#include "app/install.h"

#include <algorithm>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "app/display.h"
#include "app/names.h"
#include "platform/os.h"
#include "support/fileutil.h"
#include "support/lingua.h"
#include "support/lz_file.h"
#include "support/nuldev.h"
#include "support/status.h"
#include "support/strfn.h"

namespace {

bool installOk = true;
std::string installFailure;

constexpr int kMainAppTries = 30;
constexpr int kMainAppWaitMs = 1000;

const char* const kExecName = "TVQEXEC.exe";
const char* const kExecIni = "TVQEXEC.ini";
const char* const kExecCopyName = "TVQEXEC~.exe";
const char* const kExecCopyIni = "TVQEXEC~.ini";
const char* const kExecCopyCommand = "TVQEXEC~ ";
const char* const kMainAppIni = "tvq.ini";
const char* const kNewVersionSuffix = ".newversion";

void WaitMs(int ms) { os::SleepMs(ms); }

// W: the work directory with its delimiter.
std::string WorkDir() { return AddBackslash(WorkDirectory()); }

// A copy or expansion that finally failed: the installation is not OK and
// the user is told which file; the cause goes to the account and the
// console, the box keeps its text.
bool CopyFailed(const std::string& source, const std::string& target, const std::string& cause) {
  installOk = false;
  const std::string text = "cannot copy \"" + source + "\" to \"" + target + "\"";
  installFailure = cause.empty() ? text : text + ": " + cause;
  StdText() << installFailure << std::endl;
  ErrorBox(text);
  return false;
}

// A directory or a symbolic link where a file is expected is never copied
// (mend: a link in the work directory would be followed and a directory
// silently left out).
bool IsDirectoryOrLink(const std::string& path) {
  const os::FileInfo info = os::StatPath(path);
  return info.isDirectory || info.isSymlink;
}

// "In use" is tested without deleting: the main application stays in place
// until its replacement is renamed over it.
bool InUse(const std::string& path) {
  return FileExists(path) && !FileOpenable(path);
}

// CopyWithRetries, with replaceInUse passed on to the copy.
bool CopyWithRetriesOver(const std::string& source, const std::string& target, bool skipIfMissing,
                         bool replaceInUse) {
  WaitMs(200);
  const std::string to = target.empty() ? FileNameOf(source) : target;
  if (IsDirectoryOrLink(source)) return CopyFailed(source, to, "not an ordinary file");
  if (skipIfMissing && !FileExists(source)) {
    WaitMs(500);
    if (!FileExists(source)) return true;
  }
  const auto attempt = [&] {
    return CopyFileRetry(source, to, false, kCopyBufferSize, nullptr, replaceInUse) &&
           FilesEqual(source, to);
  };
  bool ok = attempt();
  if (!ok) {
    WaitMs(5500);
    ok = attempt();
  }
  ok = ok && FilesEqual(source, to);
  if (!ok) {
    WaitMs(9500);
    ok = attempt();
  }
  return ok || CopyFailed(source, to, CopyFailureText());
}

bool Contains(const std::vector<std::string>& names, const std::string& name) {
  return std::any_of(names.begin(), names.end(),
                     [&](const std::string& n) { return SameFileName(n, name); });
}

// The packed programs, expanded in the work directory: (packed, expanded).
std::vector<std::pair<std::string, std::string>> PackedPrograms() {
  const std::string lower = LowerProgramName();
  return {{MainAppPackedName(), MainAppExeName()},
          {lower + ".ex_", lower + ".exe"},
          {"tvqExec.ex_", "tvqExec.exe"}};
}

// The names that the steps before the bulk copy install (or set aside), and
// the markers that are never installed: the bulk copy passes over them, so
// a compressed file whose expansion failed never reaches the application
// directory.
std::vector<std::string> NamesInstalledApart() {
  std::vector<std::string> names = {"tvqwait.exe", "tvquwait.exe", "tvqlzcp.exe",
                                    "zezavo3.exe", kMainAppIni,    MainAppExeName(),
                                    LowerProgramName() + ".exe",
                                    FileNameOf(os::ExecutablePath()),
                                    "!more", "!more.flg", "!more.txt"};
  for (const auto& [packed, expanded] : PackedPrograms()) names.push_back(packed);
  return names;
}

// What the bulk copy installs: the files of this update that were verified
// in this run, and the expanded programs that no step installs apart. Hidden
// names are passed over. Every name once.
std::vector<std::string> BulkCopyNames(const std::vector<std::string>& verified) {
  std::vector<std::string> candidates = verified;
  for (const auto& [packed, expanded] : PackedPrograms())
    if (Contains(verified, packed)) candidates.push_back(expanded);
  const std::vector<std::string> apart = NamesInstalledApart();
  std::vector<std::string> names;
  for (const std::string& name : candidates) {
    if (name.empty() || name.front() == '.' || Contains(apart, name) || Contains(names, name))
      continue;
    names.push_back(name);
  }
  return names;
}

// Copies the files into the current directory as one batch: every copy is
// written and flushed before any of them takes its target's place. A file
// that cannot be copied is tried once more; one that still fails fails the
// installation (the others are still put in place, and the next run
// installs the update again).
bool CopyBulk(const std::string& w, const std::vector<std::string>& names) {
  CopyBatch batch;
  for (const std::string& name : names) {
    if (IsDirectoryOrLink(w + name)) {
      CopyFailed(w + name, name, "not an ordinary file");
    } else if (!batch.Add(w + name, name)) {
      WaitMs(500);
      if (!batch.Add(w + name, name)) CopyFailed(w + name, name, CopyFailureText());
    }
  }
  const Status committed = batch.Commit();
  if (!committed.ok()) {
    installOk = false;
    installFailure = committed.message();
    StdText() << installFailure << std::endl;
  }
  return installOk;
}

// The helper programs; the wait program runs while more updates are pending.
void InstallHelpers(const std::string& w) {
  InstallHelper(w + "tvqwait.exe");
  if (MorePending()) {
    // A new wait program is put in place before it starts: once running it
    // cannot be replaced, and the bulk copy would fail on it at every run.
    if (FileExists(w + "tvquwait.exe")) InstallHelper(w + "tvquwait.exe");
    RunProgram("tvquwait.exe");
  }
  InstallHelper(w + "tvqlzcp.exe");
  InstallHelper(w + "zezavo3.exe");
}

// The updater's own new versions: set aside while the running program's
// file is an ".exe"; the running program's own file under a name without
// ".exe" is renamed over, which a running program allows.
void InstallUpdaterFiles(const std::string& w) {
  const std::string lower = LowerProgramName();
  CopyWithRetries(w + lower + ".exe", lower + ".exe" + kNewVersionSuffix, true);
  DeleteFileChecked(w + lower + ".exe");
  const std::string own = FileNameOf(os::ExecutablePath());
  if (UpStr(own) != UpStr(lower + ".exe") && FileExists(w + own)) {
    CopyWithRetriesOver(w + own, own, false, true);
    DeleteFileChecked(w + own);
  }
}

// The main application is replaced only once it has been closed; its new
// file is renamed over the old one, so it is never missing.
bool InstallMainApplication(const std::string& w) {
  const std::string mainExe = MainAppExeName();
  if (!FileExists(w + mainExe)) return true;
  for (int i = 1; i <= kMainAppTries; ++i) {
    // A missing main application is looked for from the third try on.
    if (!InUse(mainExe) && (FileExists(mainExe) || i >= 3)) break;
    WaitMs(kMainAppWaitMs);
    ShowInstallProgress(30 + i / 4);
  }
  if (InUse(mainExe)) {
    // Why it cannot be opened for writing ("Text file busy").
    installFailure = Status::Failed(mainExe + " is in use", os::LastErrorText()).message();
    ErrorBox("Sorry, \"" + mainExe + "\" cannot be replaced. Update will abort.");
    return false;
  }
  CopyWithRetries(w + mainExe, "", false);
  DeleteFileChecked(w + mainExe);
  return true;
}

// The installation in its order; false when it failed. Nothing of it is
// durable before the application directory is flushed at the end.
bool InstallSteps(const std::string& w, const std::vector<std::string>& verified) {
  ShowStatus(LangText("G:das Update wird installiert;F:installation en cours;*:installing") + "...");
  ShowInstallProgress(0);
  InstallHelpers(w);
  ShowInstallProgress(5);

  // Compressed executables are expanded in the work directory.
  for (const auto& [packed, expanded] : PackedPrograms()) {
    ExpandWithCheck(w + packed, w + expanded, true);
    DeleteFileChecked(w + packed);
  }
  ShowInstallProgress(25);
  InstallUpdaterFiles(w);
  ShowInstallProgress(30);
  if (!InstallMainApplication(w)) return false;

  // The main application's settings file is set aside for it to take up.
  CopyWithRetries(w + kMainAppIni, std::string(kMainAppIni) + kNewVersionSuffix, true);
  DeleteFileChecked(w + kMainAppIni);
  ShowInstallProgress(60);

  const bool more = MorePending();
  CopyBulk(w, BulkCopyNames(verified));
  ShowInstallProgress(90);
  // One flush of the directory makes every rename of the installation durable.
  if (installOk && !os::SyncDirectory(os::CurrentDirectory())) {
    installOk = false;
    installFailure = Status::Failed("cannot flush the application directory",
                                    os::LastErrorText()).message();
  }
  if (more && installOk) RunProgram(RestartCommandLine());
  ShowInstallProgress(93);
  if (!installOk) ShowStatus(LangText("G:FEHLER!;F:ERREUR;*:ERROR!"));
  return installOk;
}

}  // namespace

bool InstallOk() { return installOk; }
const std::string& InstallFailureText() { return installFailure; }
void ResetInstallOkForTests() { installOk = true; }

bool InstallOrRunMethod(RunContext& context) {
  const std::string methodPath = WorkDir() + context.methodFile;
  if (context.methodFile.empty() || !FileExists(methodPath))
    return InstallUpdate(context.verifiedFiles);

  installOk = true;
  installFailure.clear();
  const std::string more = MorePending() ? " +" : "";
  std::string commandLine = CommandLineWord(methodPath) + more;
  if (FileExists(kExecName)) {
    // The program runs from working copies, so an update may replace it.
    CopyFileRetry(kExecName, kExecCopyName);
    CopyFileRetry(kExecIni, kExecCopyIni);
    commandLine = kExecCopyCommand + commandLine;
  }
  // An installation program that does not start has installed nothing.
  if (!RunProgram(commandLine)) {
    installOk = false;
    installFailure = Status::Failed("the update's installation program \"" +
                                        context.methodFile + "\" could not be started",
                                    os::LastErrorText()).message();
    return false;
  }
  context.methodStarted = true;
  ShowInstallProgress(100);
  return true;
}

bool InstallUpdate(const std::vector<std::string>& verifiedFiles) {
  installOk = true;
  installFailure.clear();
  bool result = false;
  try {
    result = InstallSteps(WorkDir(), verifiedFiles);
  } catch (...) {
    result = false;
    ShowStatus(LangText("G:FEHLER!;F:ERREUR!;*:ERROR!"));
  }
  if (result) ShowInstallProgress(100);
  return result;
}

bool CopyWithRetries(const std::string& source, const std::string& target, bool skipIfMissing) {
  return CopyWithRetriesOver(source, target, skipIfMissing, false);
}

bool InstallHelper(const std::string& source) { return CopyWithRetries(source, {}, true); }

bool LzExpand(const std::string& source, const std::string& target) {
  return ExpandLzFile(source, target).ok();
}

bool ExpandWithCheck(const std::string& source, const std::string& target, bool skipIfMissing) {
  if (skipIfMissing && !FileExists(source)) return true;
  const Status expanded = ExpandLzFile(source, target);
  return expanded.ok() || CopyFailed(source, target, expanded.message());
}

bool RunProgram(const std::string& commandLine) {
  return WinExec(commandLine);
}
