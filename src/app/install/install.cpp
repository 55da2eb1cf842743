#include "app/install/install.h"

#include <algorithm>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "app/context/display.h"
#include "app/context/names.h"
#include "app/context/run_context.h"
#include "platform/os.h"
#include "platform/status.h"
#include "support/fileutil.h"
#include "support/lingua.h"
#include "support/lz_file.h"
#include "support/nuldev.h"
#include "support/strfn.h"

namespace {

constexpr int kMainAppTries = 30;
constexpr int kMainAppWaitMs = 1000;

const char* const kExecName = "TVQEXEC.exe";
const char* const kExecIni = "TVQEXEC.ini";
const char* const kExecCopyName = "TVQEXEC~.exe";
const char* const kExecCopyIni = "TVQEXEC~.ini";
const char* const kExecCopyCommand = "TVQEXEC~ ";
const char* const kMainAppIni = "tvq.ini";
const char* const kNewVersionSuffix = ".newversion";
constexpr const char* kMoreMarkers[] = {"!more", "!more.flg", "!more.txt"};

// Cancel stops an installation between its steps: a file's copy that has
// begun is finished (or, while it is still written beside its target,
// dropped), the next step is not begun, and no box is shown.
Status StoppedByCancel() { return Status::Error("stopped by Cancel"); }

// The work directory with its delimiter.
std::string WorkDir() { return WithTrailingDelimiter(WorkDirectory()); }

// A copy or expansion that finally failed: the user is told which file; the
// cause goes to the account and the console, the box keeps its text.
Status CopyFailed(const std::string& source, const std::string& target, const std::string& cause) {
  const std::string text = "cannot copy \"" + source + "\" to \"" + target + "\"";
  const Status failed = Status::Failed(text, cause);
  StdText() << failed.message() << std::endl;
  ErrorBox(text);
  return failed;
}

// The first failure of an installation. The steps after it still run, so
// that what can be put in place is; the run then reports the first cause.
class FirstFailure {
 public:
  void Note(const Status& status) {
    if (status_.ok() && !status.ok()) status_ = status;
  }
  bool ok() const { return status_.ok(); }
  const Status& status() const { return status_; }

 private:
  Status status_;
};

// A directory or a symbolic link where a file is expected is never copied;
// its copy fails as "not an ordinary file", so a link in the work directory
// is never followed and a directory never silently left out.
bool IsDirectoryOrLink(const std::string& path) {
  const os::FileInfo info = os::StatPath(path);
  return info.isDirectory || info.isSymlink;
}

// OK when the file at path is missing or not in use; else why it is in use
// ("Text file busy"). Tested without deleting: the main application stays
// in place until its replacement is renamed over it.
Status Replaceable(const std::string& path) {
  return FileExists(path) ? FileOpenable(path) : Status();
}

// CopyWithRetries, with replaceInUse passed on to the copy.
Status CopyWithRetriesOver(const std::string& source, const std::string& target,
                           bool skipIfMissing, bool replaceInUse) {
  if (!WaitUnlessCancelled(200)) return StoppedByCancel();
  const std::string to = target.empty() ? FileNameOf(source) : target;
  if (IsDirectoryOrLink(source)) return CopyFailed(source, to, "not an ordinary file");
  if (skipIfMissing && !FileExists(source)) {
    if (!WaitUnlessCancelled(500)) return StoppedByCancel();
    if (!FileExists(source)) return Status();
  }
  Status copied;
  const auto attempt = [&] {
    copied = CopyFileRetry(source, to, false, kCopyBufferSize, CancelRequested, replaceInUse);
    if (copied.ok() && !FilesEqual(source, to))
      copied = Status::Error("the copy differs from its source");
    return copied.ok();
  };
  bool ok = attempt();
  if (!ok && WaitUnlessCancelled(5500)) ok = attempt();
  ok = ok && FilesEqual(source, to);
  if (!ok && WaitUnlessCancelled(9500)) ok = attempt();
  if (!ok && CancelRequested()) return StoppedByCancel();
  return ok ? Status() : CopyFailed(source, to, copied.message());
}

bool Contains(const std::vector<std::string>& names, const std::string& name) {
  return std::any_of(names.begin(), names.end(),
                     [&](const std::string& n) { return SameFileName(n, name); });
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

// Copies source beside target into the batch, a second time 500 ms later
// when that fails; Cancel stops it.
Status AddToBatch(CopyBatch& batch, const std::string& source, const std::string& target) {
  Status added = batch.Add(source, target, CancelRequested);
  if (!added.ok() && WaitUnlessCancelled(500)) added = batch.Add(source, target, CancelRequested);
  return CancelRequested() ? StoppedByCancel() : added;
}

// Copies the files into the current directory as one batch: every copy is
// written and flushed before any of them takes its target's place. A file
// that cannot be copied is tried once more; one that still fails fails the
// installation (the others are still put in place, and the next run
// installs the update again). Cancel before the commit drops the whole
// batch: no target changes.
void CopyBulk(const std::string& w, const std::vector<std::string>& names, FirstFailure& failure) {
  CopyBatch batch;
  for (const std::string& name : names) {
    if (IsDirectoryOrLink(w + name)) {
      failure.Note(CopyFailed(w + name, name, "not an ordinary file"));
      continue;
    }
    const Status added = AddToBatch(batch, w + name, name);
    if (CancelRequested()) {
      failure.Note(added);
      return;
    }
    if (!added.ok()) failure.Note(CopyFailed(w + name, name, added.message()));
  }
  const Status committed = batch.Commit();
  if (!committed.ok()) StdText() << committed.message() << std::endl;
  failure.Note(committed);
}

// The helper programs; the wait program runs while more updates are pending.
void InstallHelpers(const std::string& w, bool morePending, FirstFailure& failure) {
  failure.Note(InstallHelper(w + "tvqwait.exe"));
  if (morePending && !CancelRequested()) {
    // A new wait program is put in place before it starts: once running it
    // cannot be replaced, and the bulk copy would fail on it at every run.
    if (FileExists(w + "tvquwait.exe")) failure.Note(InstallHelper(w + "tvquwait.exe"));
    RunProgram("tvquwait.exe");
  }
  failure.Note(InstallHelper(w + "tvqlzcp.exe"));
  failure.Note(InstallHelper(w + "zezavo3.exe"));
}

// The updater's own new versions: set aside while the running program's
// file is an ".exe"; the running program's own file under a name without
// ".exe" is renamed over, which a running program allows.
void InstallUpdaterFiles(const std::string& w, FirstFailure& failure) {
  const std::string lower = LowerProgramName();
  failure.Note(CopyWithRetries(w + lower + ".exe", lower + ".exe" + kNewVersionSuffix, true));
  DeleteFileChecked(w + lower + ".exe");
  const std::string own = FileNameOf(os::ExecutablePath());
  if (UpStr(own) != UpStr(lower + ".exe") && FileExists(w + own)) {
    failure.Note(CopyWithRetriesOver(w + own, own, false, true));
    DeleteFileChecked(w + own);
  }
}

// The main application is replaced only once it has been closed; its new
// file is renamed over the old one, so it is never missing.
Status InstallMainApplication(const std::string& w) {
  const std::string mainExe = MainAppExeName();
  if (!FileExists(w + mainExe)) return Status();
  for (int i = 1; i <= kMainAppTries; ++i) {
    // A missing main application is looked for from the third try on.
    const bool inUse = !Replaceable(mainExe).ok();
    if (!inUse && (FileExists(mainExe) || i >= 3)) break;
    if (inUse && i == 1)
      StdText() << "\"" << mainExe << "\" is in use: waiting for it to end" << std::endl;
    if (!WaitUnlessCancelled(kMainAppWaitMs)) return StoppedByCancel();
    ShowInstallProgress(30 + i / 4);
  }
  if (const Status replaceable = Replaceable(mainExe); !replaceable.ok()) {
    const Status inUse = Status::Failed(mainExe + " is in use", replaceable);
    ErrorBox("Sorry, \"" + mainExe + "\" cannot be replaced. Update will abort.");
    return inUse;
  }
  const Status copied = CopyWithRetries(w + mainExe, "", false);
  DeleteFileChecked(w + mainExe);
  return copied;
}

// The installation in its order; the first failure, if any. Nothing of it
// is durable before the application directory is flushed at the end.
Status InstallSteps(const std::string& w, const std::vector<std::string>& verified,
                    bool morePending) {
  ShowStatus(LangText("G:das Update wird installiert;F:installation en cours;*:installing") + "...");
  ShowInstallProgress(0);
  FirstFailure failure;
  InstallHelpers(w, morePending, failure);
  ShowInstallProgress(5);

  // Compressed executables are expanded in the work directory. After
  // Cancel each later step returns at once, leaving the application
  // directory as it is.
  for (const auto& [packed, expanded] : PackedPrograms()) {
    if (CancelRequested()) return StoppedByCancel();
    failure.Note(ExpandWithCheck(w + packed, w + expanded, true));
    DeleteFileChecked(w + packed);
  }
  ShowInstallProgress(25);
  InstallUpdaterFiles(w, failure);
  ShowInstallProgress(30);
  const Status mainApp = InstallMainApplication(w);
  if (!mainApp.ok()) return mainApp;

  // The main application's settings file is set aside for it to take up.
  failure.Note(CopyWithRetries(w + kMainAppIni, std::string(kMainAppIni) + kNewVersionSuffix, true));
  DeleteFileChecked(w + kMainAppIni);
  ShowInstallProgress(60);

  CopyBulk(w, BulkCopyNames(verified), failure);
  ShowInstallProgress(90);
  // One flush of the directory makes every rename of the installation durable.
  if (failure.ok()) {
    if (Status flushed = os::SyncDirectory(os::CurrentDirectory()); !flushed.ok())
      failure.Note(Status::Failed("cannot flush the application directory", flushed));
  }
  if (morePending && failure.ok()) RunProgram(RestartCommandLine());
  ShowInstallProgress(93);
  if (!failure.ok()) ShowStatus(LangText("G:FEHLER!;F:ERREUR;*:ERROR!"));
  return failure.status();
}

}  // namespace

bool MorePending(RunContext& context) {
  if (context.morePending) return true;
  const std::string dir = WorkDirectory() + kPathDelim;
  for (const char* marker : kMoreMarkers) {
    if (FileExists(dir + marker)) {
      context.morePending = true;
      DeleteFileChecked(dir + marker);
      break;
    }
  }
  return context.morePending;
}

Status InstallOrRunMethod(RunContext& context) {
  const std::string methodPath = WorkDir() + context.methodFile;
  if (context.methodFile.empty() || !FileExists(methodPath))
    return InstallUpdate(context);

  const std::string more = MorePending(context) ? " +" : "";
  std::string commandLine = CommandLineWord(methodPath) + more;
  if (FileExists(kExecName)) {
    // The program runs from working copies, so an update may replace it.
    CopyFileRetry(kExecName, kExecCopyName);
    CopyFileRetry(kExecIni, kExecCopyIni);
    commandLine = kExecCopyCommand + commandLine;
  }
  // An installation program that does not start has installed nothing.
  if (Status started = RunProgram(commandLine); !started.ok())
    return Status::Failed("the update's installation program \"" + context.methodFile +
                              "\" could not be started",
                          started);
  context.methodStarted = true;
  ShowInstallProgress(100);
  return Status();
}

Status InstallUpdate(RunContext& context) {
  Status result;
  try {
    result = InstallSteps(WorkDir(), context.verifiedFiles, MorePending(context));
  } catch (...) {
    result = Status::Error("the installation stopped on an unexpected error");
    ShowStatus(LangText("G:FEHLER!;F:ERREUR!;*:ERROR!"));
  }
  if (result.ok()) ShowInstallProgress(100);
  return result;
}

Status CopyWithRetries(const std::string& source, const std::string& target, bool skipIfMissing) {
  return CopyWithRetriesOver(source, target, skipIfMissing, false);
}

Status InstallHelper(const std::string& source) { return CopyWithRetries(source, {}, true); }

bool LzExpand(const std::string& source, const std::string& target) {
  return ExpandLzFile(source, target).ok();
}

Status ExpandWithCheck(const std::string& source, const std::string& target, bool skipIfMissing) {
  if (skipIfMissing && !FileExists(source)) return Status();
  const Status expanded = ExpandLzFile(source, target);
  return expanded.ok() ? expanded : CopyFailed(source, target, expanded.message());
}

Status RunProgram(const std::string& commandLine) {
  return StartDetached(commandLine);
}
