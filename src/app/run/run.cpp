#include "app/run/run.h"

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <memory>
#include <ostream>
#include <string>
#include <utility>

#include "app/context/display.h"
#include "app/context/names.h"
#include "app/context/run_context.h"
#include "app/fetch/download.h"
#include "app/fetch/kept_downloads.h"
#include "app/fetch/signatures.h"
#include "app/fetch/transfer.h"
#include "app/install/install.h"
#include "app/list/rollout_gate.h"
#include "app/list/update_list.h"
#include "app/record/record.h"
#include "app/run/status_texts.h"
#include "app/site/site_choice.h"
#include "platform/os.h"
#include "settings/config.h"
#include "support/command_line_options.h"
#include "support/fileutil.h"
#include "support/lingua.h"
#include "support/nuldev.h"
#include "support/strfn.h"

namespace {

const std::string kDashes(70, '-');

std::string ProgramPathWithoutExt() {
  return ProgramPath(true, false);
}
std::string DisablingFlagFile() {
  return ProgramPathWithoutExt() + ".!donotrun";
}
std::string RightsTestFile() {
  return ProgramPathWithoutExt() + ".~testfilesysrights";
}

// The box that says the program needs to change its own directory.
void ShowFileAccessProblem() {
  ErrorBox(Message{
      "There is a file-access problem. The software-updating program \"%1\" (%2) needs "
      "*modify access* to its own directory (directory \"%3\").\rPlease contact your system "
      "administrator.",
      {ProgramName(), ProgramPath(true, true), ProgramDir(true)}});
}

// The batch file an update may deliver: a ".bat" file on Windows, a shell
// script on Linux.
std::string BatchFileName() {
  return LowerProgramName() + std::string(os::kConventions.batchExtension);
}

std::string BatchCommandLine() {
  return std::string(os::kConventions.batchInterpreter) + BatchFileName();
}

// Binds the run's standard text output to where its account goes: target
// is "" (nowhere), "-" (standard output) or a file to append to.
void BindRunAccount(const std::string& target) {
  static std::unique_ptr<std::ofstream> logFile;
  std::ostream& out = StdText();
  if (target.empty()) {
    AssignNullText(out);
  } else if (target == "-") {
    out.rdbuf(std::cout.rdbuf());
  } else {
    logFile = std::make_unique<std::ofstream>(target, std::ios::app | std::ios::binary);
    if (*logFile) {
      out.rdbuf(logFile->rdbuf());
    } else {
      AssignNullText(out);
    }
  }
  out.clear();
}

// A settings file that is a directory, FIFO or device holds no settings and
// takes none: the run goes on with the defaults and records nothing.
void ReportUnusableSettingsFile(std::ostream& out) {
  const std::string settings = CfgTopFileName();
  if (CfgFileIsUsable(settings)) return;
  out << "Settings file \"" << settings << "\" is not a regular file: settings are neither read "
      << "from it nor stored in it." << std::endl;
}

[[noreturn]] void ShowVersionAndExit() {
  StdText() << ProgramPath(true, true) << "; version " << kVersion
            << ", made by Kestrin (" << kMakerWebAddress << ")" << std::endl;
  StdText() << "This is a \"live update\" program for Kestrin software" << std::endl;
  std::exit(0);
}

// Says why the run failed: a line of the account and the console.
void ReportCause(const std::string& what, const std::string& cause) {
  if (cause.empty()) return;
  StdText() << what << ": " << ControlsReplaced(cause) << std::endl;
  ShowCause(cause);
}

}  // namespace

Status CheckDirectoryRights() {
  // What cannot be tested is not a right the program has.
  try {
    Status result;
    const std::string settings = CfgFileName();
    // A FIFO or device is no settings file: it is neither touched nor a
    // reason to stop (the account says it is not used).
    if (CfgFileIsUsable(settings) && FileExists(settings)) {
      if (Status touchable = CheckTouchable(settings); !touchable.ok())
        result = Status::Failed("cannot change \"" + settings + "\"", touchable);
    }
    const std::string testFile = RightsTestFile();
    // Created, then dated: TouchFile also says why when the file is gone.
    Status written = CreateEmptyFile(testFile);
    if (written.ok()) written = TouchFile(testFile, false);
    if (!written.ok()) {
      DeleteFileChecked(testFile);
      return Status::Failed("cannot write \"" + testFile + "\"", written);
    }
    if (DeleteFileChecked(testFile).ok()) return result;
    const Status deleted = DeleteFileChecked(testFile);
    return deleted.ok() ? result : Status::Failed("cannot delete \"" + testFile + "\"", deleted);
  } catch (...) {
    return Status::Error("the directory's rights could not be tested");
  }
}

bool TestDirectoryRights() { return CheckDirectoryRights().ok(); }

namespace {

// Makes place, with its missing parents, this account's private directory.
Status MakeWorkPlace(const std::string& place) {
  ForceDirs(DirOf(place));
  return os::MakePrivateDirectory(place);
}

// The work directory in TEMP, or in the account's cache directory when the
// one in TEMP cannot be this account's own: under a shared temporary
// directory another account may take the name first or plant a link there.
// Such a place is never used and nothing is deleted through it. The place
// of the last attempt, and OK or why it cannot be used.
std::pair<std::string, Status> MakeWorkDirectory() {
  const std::string inTemp = TempWorkDirectory();
  const Status madeInTemp = MakeWorkPlace(inTemp);
  const std::string inCache = CacheWorkDirectory();
  if (madeInTemp.ok() || inCache.empty()) return {inTemp, madeInTemp};
  StdText() << "work directory not used: " << madeInTemp.message() << std::endl;
  const Status madeInCache = MakeWorkPlace(inCache);
  if (madeInCache.ok()) StdText() << "work directory: \"" << inCache << "\"" << std::endl;
  return {inCache, madeInCache};
}

}  // namespace

Status PrepareWorkDirectory() {
  const auto [work, made] = MakeWorkDirectory();
  ChooseWorkDirectory(work);
  if (!made.ok()) {
    Status unusable = Status::Failed("cannot use the work directory \"" + work + "\"", made.message());
    StdText() << unusable.message() << std::endl;
    ErrorBox(Message{"Cannot run update program: cannot create directory \"%1\" or cannot write "
                     "to this directory. Please create it manually (with the needed rights) and "
                     "try again.",
                     {work}});
    return unusable;  // nothing is deleted through a directory that is not ours
  }
  DeleteFilesOlderThan(WithTrailingDelimiter(work) + "*", 0);
  DeleteFilesOlderThan(WithTrailingDelimiter(work) + "*.*", 0);
  RemoveStrangeEntries(work);
  RemoveCopyLeftovers(work);
  return Status();
}

void RemoveStrangeEntries(const std::string& dir) {
  // A planted link would be written through by downloads. Removing a link
  // removes the link, never its target.
  for (const os::DirEntry& entry : os::ListDirectory(dir)) {
    const std::string path = WithTrailingDelimiter(dir) + entry.name;
    if (!entry.isRegular && !os::StatPath(path).isDirectory) os::RemoveFile(path);
  }
}

namespace {

// Says why the run cannot go on: the account, the cause line and the status.
void ReportFailure(const std::string& status, const std::string& what, const std::string& cause) {
  ShowStatus(status);
  ReportCause(what, cause);
}

// Settings that could not be read would answer defaults: the history would
// look empty and the built-in site would be asked. The run stops instead.
bool SettingsUnreadable() {
  const Status read = CfgReadStatus();
  if (read.ok()) return false;
  ReportFailure(StatusSettingsUnreadable(), "settings file unreadable", read.message());
  return true;
}

// Fetches the list from the chosen site or its alternatives until it reads
// the same twice. False when the run cannot go on (the cause reported).
bool FetchStableList(RunContext& context) {
  if (!PrepareWorkDirectory().ok()) return false;
  StartTransferBudget();
  const Status chosen = FetchFromChosen(context);
  // The first failure is the one to report: the alternatives fall back to
  // the default site, which would hide which site failed and why.
  const std::string chosenSite = context.site;
  const bool fetched = chosen.ok() || FetchFromAlternatives(context);
  ShowHost(fetched ? context.site : chosenSite);
  if (!fetched) {
    ShowDiagnostic("Cannot download list from host.");
    const std::string from = chosenSite.empty() ? "" : " from " + ControlsReplaced(chosenSite);
    ReportCause("no update list" + from, chosen.message());
    return false;
  }
  const Status stable = ListIsStable(context);
  if (stable.ok()) return true;
  ReportCause("no stable update list from " + ControlsReplaced(context.site), stable.message());
  return false;
}

// Records the installed update. Every file of it is in place and durable
// by now; the settings store makes the record durable before it returns.
bool RecordUpdate(const RunContext& context) {
  const Status recorded = RecordInstalledUpdate(context);
  if (recorded.ok()) {
    ForgetKeptDownloads();  // installed: its files are not needed again
    if (!context.methodStarted) ShowStatus(StatusInstallCompleted());
    return true;
  }
  ReportFailure(StatusRecordFailed(), "recording the update failed", recorded.message());
  return false;
}

// Downloads, installs and records the selected update. False when the run
// failed; a cancelled run has not failed, and records nothing, so the same
// update is offered again.
bool InstallSelectedUpdate(RunContext& context) {
  const Status workReady = PrepareWorkDirectory();
  ShowStatus(IsLocalSite(context) ? StatusCopying() : StatusDownloading());
  const Status downloaded = workReady.ok() ? DownloadUpdateFiles(context) : workReady;
  if (CancelRequested()) return true;
  if (!downloaded.ok()) {
    StdText() << "error: could NOT update files" << std::endl;
    ReportFailure(StatusDownloadFailed(), "download failed", downloaded.message());
    return false;
  }
  const Status installed = InstallOrRunMethod(context);
  if (CancelRequested()) {
    // Every file is whole, old or new; without the record the next run
    // installs the update again.
    const std::string why = installed.ok() ? "" : " (installation " + installed.message() + ")";
    StdText() << "cancelled: the update is not recorded" << ControlsReplaced(why) << std::endl;
    return true;
  }
  if (!installed.ok()) {
    ReportFailure(StatusInstallFailed(), "installation failed", installed.message());
    return false;
  }
  return RecordUpdate(context);
}

// The run from the choice of the site to the record; false when it failed.
bool UpdateFromSite(RunContext& context) {
  ChooseSite(context);
  StdText() << CfgOverride() << std::endl;
  if (SettingsUnreadable()) return false;
  if (CancelRequested()) return true;
  if (!SiteConfigured(context)) {
    StdText() << "no update site is configured (give /P or set LiveUpdate.www)" << std::endl;
    ShowStatus(StatusNoSite());
    return false;
  }
  ShowIllustration(IsLocalSite(context) ? 'C' : 'D');
  if (!FetchStableList(context)) return false;
  if (CancelRequested()) return true;
  const bool isNew = UpdateIsNew(context);
  if (SettingsUnreadable()) return false;
  if (!isNew) {
    StdText() << "No new updates found." << std::endl;
    ForgetKeptDownloads();  // nothing kept is offered any more
    ShowStatus(StatusNothingNew());
    os::SleepMs(5000);
    return true;
  }
  if (RolloutHoldsBack(context)) {
    os::SleepMs(5000);  // the status stays readable
    return true;
  }
  return InstallSelectedUpdate(context);
}

// The batch file an update delivered and installed in this run; one left
// by an earlier run is never started.
bool BatchFileDelivered(const RunContext& context) {
  const std::string batch = BatchFileName();
  for (const std::string& name : context.verifiedFiles)
    if (SameFileName(name, batch)) return FileExists(batch);
  return false;
}

}  // namespace

Status RunLockRefusal(const os::RunLock& lock) {
  const std::string dir = "\"" + ProgramDir(false) + "\"";
  switch (lock.state()) {
    case os::RunLock::State::Busy:
      return Status::Error("another update run of this installation is in progress");
    case os::RunLock::State::Denied:
      return Status::Failed("this account cannot change the installation " + dir, lock.cause());
    default:
      return Status::Failed("cannot lock the installation " + dir, lock.cause());
  }
}

namespace {

void ReportRefusedStart(const Status& refusal, const std::string& accountTarget, const std::string& status) {
  BindRunAccount(accountTarget);
  StdText() << refusal.message() << std::endl;
  ShowStatus(status);
  ShowCause(refusal.message());
  os::SleepMs(3000);
}

}  // namespace

void ReportRunRefused(const os::RunLock& lock, const std::string& accountTarget) {
  const Status refusal = RunLockRefusal(lock);
  if (lock.state() != os::RunLock::State::Denied) {
    ReportRefusedStart(refusal, accountTarget, StatusRunInProgress());
    return;
  }
  // An account that cannot open the lock cannot change the installation
  // either: it is told so as the rights test tells it.
  BindRunAccount(accountTarget);
  StdText() << refusal.message() << std::endl;
  ShowCause(refusal.message());
  ShowFileAccessProblem();
}

void ReportCommandLineRefused(const Status& refusal, const std::string& accountTarget) {
  ReportRefusedStart(refusal, accountTarget,
                     LangTextOf("G:Fehler: ungültiger Schalter in der Befehlszeile",
                                "F:erreur : option non valable sur la ligne de commande",
                                "*:error: a switch of the command line is not valid"));
}

void RunLiveUpdate(const CommandLineOptions& options) {
  BindRunAccount(options.accountTarget);
  std::ostream& out = StdText();
  if (options.versionBanner) ShowVersionAndExit();

  ShowProgress(-1);
  out << kDashes << std::endl
      << "This is a live update program for Kestrin software - " << kMakerWebAddress << std::endl
      << kDashes << std::endl;
  ReportUnusableSettingsFile(out);
  out << SignatureCheckingText() << std::endl;

  if (FileExists(DisablingFlagFile())) {
    out << "Live update program has been disabled in this directory. Exiting..." << std::endl;
    os::SleepMs(3000);
    std::exit(0);
  }
  os::SleepMs(500);

  RunContext context;  // site, update and method file all start empty
  context.siteSwitch = options.site;
  os::ChangeDirectory(ProgramDir(false));

  if (const Status rights = CheckDirectoryRights(); !rights.ok()) {
    out << "no modify access to the directory \"" << ProgramDir(false) << "\": " << rights.message()
        << std::endl;
    ShowFileAccessProblem();
    std::exit(0);
  }
  // What an interrupted copy of an earlier run left beside its targets.
  RemoveCopyLeftovers(ProgramDir(false));

  ShowStatus(StatusCheckingInstallation());
  ResetHistoryIfObsolete();
  ShowStatus(StatusChecking());
  Pause(500);

  // A batch file left by an earlier run is never started.
  if (FileExists(BatchFileName())) DeleteFileChecked(BatchFileName());

  const bool runFailed = !UpdateFromSite(context);
  // After Cancel the waits below end at once (the program's clock ends them).
  if (CancelRequested())
    out << "cancelled: the run ends without waiting" << std::endl;
  else
    Pause(1500);
  if (!runFailed && BatchFileDelivered(context)) StartDetached(BatchCommandLine());
  if (runFailed || !MorePending(context)) os::SleepMs(6000 * (1 + (runFailed ? 1 : 0)));
  ShowStatus(StatusExiting());
  Pause(500);
}
