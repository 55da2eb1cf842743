#include "app/install.h"

#include <ostream>
#include <string>
#include <vector>

#include "app/display.h"
#include "app/names.h"
#include "platform/os.h"
#include "support/fileutil.h"
#include "support/lingua.h"
#include "support/nuldev.h"
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

// Names of the entries of the mask's directory that match the mask (hidden
// ones excepted, as the bulk copy passes over them) and are not installed:
// every link or other non-ordinary entry, and, with compare, every file whose
// copy in the current directory differs from it. Directories are passed over
// like the bulk copy does: a listed file has been verified as a file, so a
// directory here is never part of the update, and a stray one must not fail
// every later installation.
std::vector<std::string> EntriesNotInstalled(const std::string& mask, bool compare) {
  const std::string dir = DirOf(mask);
  const std::string pattern = FileNameOf(mask);
  std::vector<std::string> names;
  for (const os::DirEntry& entry : os::ListDirectory(dir)) {
    if (entry.isHidden || !WildMatch(entry.name, pattern)) continue;
    const std::string path = AddBackslash(dir) + entry.name;
    if (!entry.isRegular) {
      if (!os::StatPath(path).isDirectory) names.push_back(entry.name);
    } else if (compare && !FilesEqual(path, entry.name)) {
      names.push_back(entry.name);
    }
  }
  return names;
}

// Steps 2 to 17 of the installation; false when it failed.
bool InstallSteps(const std::string& w) {
  const std::string lower = LowerProgramName();
  const std::string mainExe = MainAppExeName();

  ShowStatus(LangText("G:das Update wird installiert;F:installation en cours;*:installing") + "...");
  ShowInstallProgress(0);

  // Auxiliary programs first; the wait program runs while more are pending.
  InstallHelper(w + "tvqwait.exe");
  if (MorePending()) {
    // A new wait program is put in place before it starts: once running it
    // cannot be replaced, and the bulk copy would fail on it at every run.
    if (FileExists(w + "tvquwait.exe")) InstallHelper(w + "tvquwait.exe");
    RunProgram("tvquwait.exe");
  }
  InstallHelper(w + "tvqlzcp.exe");
  InstallHelper(w + "zezavo3.exe");
  ShowInstallProgress(5);

  // Compressed executables are expanded in the work directory.
  const std::string packed[][2] = {{MainAppPackedName(), mainExe},
                                   {lower + ".ex_", lower + ".exe"},
                                   {"tvqExec.ex_", "tvqExec.exe"}};
  for (const auto& [from, to] : packed) {
    ExpandWithCheck(w + from, w + to, true);
    DeleteFileChecked(w + from);
  }
  ShowInstallProgress(25);

  // The running updater is never overwritten: its new version is set aside.
  CopyWithRetries(w + lower + ".exe", lower + ".exe" + kNewVersionSuffix, true);
  DeleteFileChecked(w + lower + ".exe");
  ShowInstallProgress(30);

  // The running program's own file under a name without ".exe" (this
  // platform's) is renamed over, which a running program allows.
  // Mend: copying over it failed every installation, at every run.
  const std::string own = FileNameOf(os::ExecutablePath());
  if (UpStr(own) != UpStr(lower + ".exe") && FileExists(w + own)) {
    CopyWithRetriesOver(w + own, own, false, true);
    DeleteFileChecked(w + own);
  }

  // The main application is replaced only once it has been closed.
  // Mend: it was deleted first and copied after, so a failed copy or a kill
  // in between left no main application at all; now the new file is renamed
  // over the old one.
  if (FileExists(w + mainExe)) {
    for (int i = 1; i <= kMainAppTries; ++i) {
      // Where deleting used to succeed the file is free now; a missing one
      // is looked for from the third try on, as before.
      if (!InUse(mainExe) && (FileExists(mainExe) || i >= 3)) break;
      WaitMs(kMainAppWaitMs);
      ShowInstallProgress(30 + i / 4);
    }
    if (InUse(mainExe)) {
      ErrorBox("Sorry, \"" + mainExe + "\" cannot be replaced. Update will abort.");
      installFailure = mainExe + " is in use";
      return false;
    }
    CopyWithRetries(w + mainExe, "", false);
    DeleteFileChecked(w + mainExe);
  }

  // The main application's settings file is set aside for it to take up.
  CopyWithRetries(w + kMainAppIni, std::string(kMainAppIni) + kNewVersionSuffix, true);
  DeleteFileChecked(w + kMainAppIni);
  ShowInstallProgress(60);

  const bool more = MorePending();
  CopyAllFiles(w + "*.*");
  // Mend: a file the last pass could not copy fails the installation, so the
  // update is not recorded and the next run installs it again.
  if (!CopyAllFiles(w + "*")) {
    for (const std::string& name : EntriesNotInstalled(w + "*", true))
      CopyFailed(w + name, name, CopyFailureText());
  }
  ShowInstallProgress(90);

  const bool result = installOk;
  if (more && result) RunProgram(RestartCommandLine());
  ShowInstallProgress(93);
  if (result)
    ShowStatus(LangText("G:Installation beendet;F:installation terminée;*:installation completed"));
  else
    ShowStatus(LangText("G:FEHLER!;F:ERREUR;*:ERROR!"));
  return result;
}

}  // namespace

bool InstallOk() { return installOk; }
const std::string& InstallFailureText() { return installFailure; }
void ResetInstallOkForTests() { installOk = true; }

bool InstallOrRunMethod(RunContext& context) {
  const std::string methodPath = WorkDir() + context.methodFile;
  if (context.methodFile.empty() || !FileExists(methodPath)) return InstallUpdate();

  const std::string more = MorePending() ? " +" : "";
  if (FileExists(kExecName)) {
    // The program runs from working copies, so an update may replace it.
    CopyFileRetry(kExecName, kExecCopyName);
    CopyFileRetry(kExecIni, kExecCopyIni);
    RunProgram(kExecCopyCommand + CommandLineWord(methodPath) + more);
  } else {
    RunProgram(CommandLineWord(methodPath) + more);
  }
  ShowInstallProgress(100);
  return true;
}

bool InstallUpdate() {
  installOk = true;
  installFailure.clear();
  bool result = false;
  try {
    result = InstallSteps(WorkDir());
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
  return os::LzExpandFile(source, target);
}

bool ExpandWithCheck(const std::string& source, const std::string& target, bool skipIfMissing) {
  if (skipIfMissing && !FileExists(source)) return true;
  return LzExpand(source, target) ||
         CopyFailed(source, target, "not a whole compressed file, or it cannot be written");
}

bool CopyAllFiles(const std::string& mask) {
  const bool copied = CopyFiles(mask, {});
  return EntriesNotInstalled(mask, false).empty() && copied;
}

bool RunProgram(const std::string& commandLine) {
  WinExec(commandLine);
  return true;
}
