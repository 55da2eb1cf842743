#include "app/run.h"

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <memory>
#include <ostream>

#include "app/display.h"
#include "app/download.h"
#include "app/install.h"
#include "app/names.h"
#include "app/run_context.h"
#include "app/transfer.h"
#include "app/update_list.h"
#include "platform/os.h"
#include "settings/config.h"
#include "support/cmdswitch.h"
#include "support/fileutil.h"
#include "support/lingua.h"
#include "support/nuldev.h"
#include "support/strfn.h"

namespace {

const std::string kDashes(70, '-');

// Status texts of the run, in the current language.
std::string StatusCheckingInstallation() {
  return LangText("G:Überprüfen von installierten Updates;F:Contrôle des mises à jour installées;"
                  "*:Checking current installation information") +
         "...";
}
std::string StatusChecking() {
  return LangText("G:Überprüfen von neuen Updates;F:recherche des nouvelles mises à jour;"
                  "*:checking for updates") +
         "...";
}
std::string StatusCopying() {
  return LangText("G:Dateien werden kopiert;F:copie en cours;*:copying") + "...";
}
std::string StatusDownloading() {
  return LangText("G:downloading;F:téléchargement en cours;*:downloading") + "...";
}
std::string StatusNothingNew() {
  return LangTextOf("G:Es wurde kein neues Update gefunden",
                    "F:Pas de nouvelle mise à jour disponible",
                    "*:exiting (no new updates found)") +
         "...";
}
std::string StatusInstallFailed() {
  return LangTextOf("G:Fehler: das Update kann nicht installiert werden",
                    "F:erreur: la mise à jour ne peut pas être installée",
                    "*:error: cannot install files");
}
std::string StatusDownloadFailed() {
  return LangTextOf("G:Das Update konnte nicht installiert werden",
                    "F:la mise à jour n'a pas pu être installée", "*:aborting (error found)");
}
std::string StatusExiting() {
  return LangTextOf("G:Das Updateprogramm wird beendet", "F:fermeture du programme de mise à jour",
                    "*:exiting") +
         "...";
}

std::string ProgramPathWithoutExt() {
  return ProgramPath(true, false);
}
std::string DisablingFlagFile() {
  return ProgramPathWithoutExt() + ".!donotrun";
}
std::string RightsTestFile() {
  return ProgramPathWithoutExt() + ".~testfilesysrights";
}
// The batch file an update may deliver: a ".bat" file on Windows, a shell
// script on Linux.
std::string BatchFileName() {
  return LowerProgramName() + std::string(os::kConventions.batchExtension);
}

std::string BatchCommandLine() {
  return std::string(os::kConventions.batchInterpreter) + BatchFileName();
}

// Binds the run's standard text output to where its account goes.
void BindRunAccount() {
  static std::unique_ptr<std::ofstream> logFile;
  std::ostream& out = StdText();
  const std::string target = RunAccountTarget();
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

// Fetches the list until two readings in a row agree. False when the list
// could not be fetched or kept changing.
bool ListIsStable(RunContext& context) {
  std::string copy = context.updateInfo;
  os::SleepMs(700);
  if (!GetUpdateList(context)) return false;
  if (context.updateInfo == copy) return true;
  os::SleepMs(2000);
  bool failed = !GetUpdateList(context);
  copy = context.updateInfo;
  os::SleepMs(1000);
  if (!GetUpdateList(context)) return false;
  return !failed && context.updateInfo == copy;
}

bool UpdateIsNew(const RunContext& context) {
  if (context.updateInfo.empty()) return false;
  const std::string last = CfgGetStr("LiveUpdate.lastUpdateInfo=<");
  if (context.updateInfo > last) return true;
  return !Contains(last, "<update");
}

std::string FirstLine(const std::string& text) {
  const auto cr = text.find('\r');
  return cr == std::string::npos ? text : text.substr(0, cr);
}

void ResetHistoryIfObsolete() {
  const std::int64_t stored = CfgGetInt("LiveUpdate.installationInfo=-1");
  const std::string mainApp = ProgramDir(true) + MainAppExeName();
  const bool mainAppExists = FileExists(mainApp);
  const std::int64_t day = mainAppExists ? FileDayNumber(mainApp) : 0;
  if ((mainAppExists && stored > day) || stored == -1) {
    CfgPutStr("LiveUpdate.lastUpdateInfo", "");
    CfgPutInt("LiveUpdate.installationInfo", mainAppExists ? static_cast<std::int32_t>(day) : 0);
    StdText() << "  Clearing obsolete update information..." << std::endl;
  }
}

// The site given with /P. The switch text holds 255 characters; a longer
// site is taken whole from its argument (mend: a cut directory named
// another directory).
std::string SiteSwitchText() {
  const std::string site = CmdSwitchText("P", kRealCommandLine);
  for (const std::string& arg : os::Arguments()) {
    if (arg.size() > site.size() + 2 && UpStr(arg.substr(0, 2)) == "/P" &&
        StartsWith(std::string_view(arg).substr(2), site))
      return arg.substr(2);
  }
  return site;
}

void ChooseSite(RunContext& context) {
  if (CmdSwitchPresent("P", kRealCommandLine)) {
    context.site = SiteSwitchText();
    if (!context.site.empty() && DirExists(context.site)) {
      // File names are appended to the site directly, so a directory needs its
      // delimiter (without it the list would be looked for beside it).
      context.site = "file://" + AddBackslash(context.site);
    }
  } else {
    context.site = CfgGetStr("LiveUpdate.www=" + DefaultUpdateSite());
  }
  if (context.site.empty()) context.site = DefaultUpdateSite();
}

// Says why the run failed: a line of the account and the console.
void ReportCause(const std::string& what, const std::string& cause) {
  if (cause.empty()) return;
  StdText() << what << ": " << ControlsReplaced(cause) << std::endl;
  ShowCause(cause);
}

// Tries the numbered alternative sites after the chosen one failed.
bool FetchFromAlternatives(RunContext& context) {
  bool fetched = false;
  for (int n = 1; n <= 9 && !fetched; ++n) {
    context.site = CfgGetStr("LiveUpdate.www" + IntStr(n));
    if (context.site.empty())
      context.site = CfgGetStr("LiveUpdate.www." + IntStr(n) + "=" + DefaultUpdateSite());
    if (!context.site.empty()) fetched = GetUpdateList(context);
  }
  return fetched;
}

}  // namespace

std::string RunAccountTarget() {
  std::string target;
  for (const std::string& arg : os::Arguments()) {
    const std::string up = UpStr(arg);
    if (up == "/LOG") target = "-";
    else if (StartsWith(up, "/LOG=") && arg.size() > 5) target = arg.substr(5);
  }
  return target;
}

bool TestDirectoryRights() {
  bool result = true;
  try {
    const std::string settings = CfgFileName();
    // A FIFO or device is no settings file: it is neither touched nor a
    // reason to stop (the account says it is not used).
    if (CfgFileIsUsable(settings) && FileExists(settings) && !CheckTouchable(settings))
      result = false;
    const std::string testFile = RightsTestFile();
    if (!CreateEmptyFile(testFile) || !FileExists(testFile) || !TouchFile(testFile, false)) {
      DeleteFileChecked(testFile);
      return false;
    }
    if (!DeleteFileChecked(testFile) && !DeleteFileChecked(testFile)) return false;
  } catch (...) {
  }
  return result;
}

bool PrepareWorkDirectory() {
  const std::string work = WorkDirectory();
  ForceDirs(work);
  // Mend: under a shared temporary directory another account could own the
  // work directory or plant links in it; downloads then go nowhere but here.
  const bool usable = EnsureDir(work) && os::MakeDirectoryPrivate(work);
  if (!usable) {
    ErrorBox("Cannot run update program: cannot create directory \"%1\" or cannot write to this "
             "directory. Please create it manually (with the needed rights) and try again." +
             kArg1 + work);
    return false;  // nothing is deleted through a directory that is not ours
  }
  DeleteFilesOlderThan(AddBackslash(work) + "*", 0);
  DeleteFilesOlderThan(AddBackslash(work) + "*.*", 0);
  RemoveStrangeEntries(work);
  RemoveCopyLeftovers(work);
  return true;
}

void RemoveStrangeEntries(const std::string& dir) {
  // Mend: a planted link was written through by downloads and blocked every
  // later installation. Removing a link removes the link, never its target.
  for (const os::DirEntry& entry : os::ListDirectory(dir)) {
    const std::string path = AddBackslash(dir) + entry.name;
    if (!entry.isRegular && !os::StatPath(path).isDirectory) os::RemoveFile(path);
  }
}

void RunLiveUpdate() {
  BindRunAccount();
  std::ostream& out = StdText();
  const auto& args = os::Arguments();
  if (!args.empty() && args.front() == "/?") ShowVersionAndExit();

  ShowProgress(-1);
  out << kDashes << std::endl
      << "This is a live update program for Kestrin software - " << kMakerWebAddress << std::endl
      << kDashes << std::endl;
  ReportUnusableSettingsFile(out);

  if (FileExists(DisablingFlagFile())) {
    out << "Live update program has been disabled in this directory. Exiting..." << std::endl;
    os::SleepMs(3000);
    std::exit(0);
  }
  os::SleepMs(500);

  RunContext context;  // site, update and method file all start empty
  bool runFailed = false;
  os::ChangeDirectory(ProgramDir(false));
  downloadedBytes = 0;

  if (!TestDirectoryRights()) {
    ErrorBox("There is a file-access problem. The software-updating program \"%1\" (%2) needs "
             "*modify access* to its own directory (directory \"%3\").\rPlease contact your system "
             "administrator." +
             kArg1 + ProgramName() + ArgN(2, ProgramPath(true, true)) + ArgN(3, ProgramDir(true)));
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

  ChooseSite(context);
  out << CfgOverride() << std::endl;

  if (!CancelRequested()) {
    ShowIllustration(IsLocalSite(context) ? 'C' : 'D');
    const bool workReady = PrepareWorkDirectory();

    StartTransferBudget();
    bool fetched = workReady && GetUpdateList(context);
    // The first failure is the one to report: the alternatives fall back to
    // the default site, which would hide which site failed and why.
    const std::string chosenSite = context.site;
    const std::string chosenFailure = ListFailureText();
    if (workReady && !fetched) fetched = FetchFromAlternatives(context);
    ShowHost(fetched ? context.site : chosenSite);

    if (!workReady) {
      runFailed = true;
    } else if (fetched) {
      if (!ListIsStable(context)) {
        runFailed = true;
        const std::string unstable = ListFailureText().empty() ? "the list changed between readings" : ListFailureText();
        ReportCause("no stable update list from " + ControlsReplaced(context.site), unstable);
      }
    } else {
      runFailed = true;
      ShowDiagnostic("Cannot download list from host.");
      ReportCause("no update list from " + ControlsReplaced(chosenSite), chosenFailure);
    }

    if (!runFailed && !CancelRequested()) {
      if (!UpdateIsNew(context)) {
        out << "No new updates found." << std::endl;
        ShowStatus(StatusNothingNew());
        os::SleepMs(5000);
      } else {
        const bool workStillReady = PrepareWorkDirectory();
        ShowStatus(IsLocalSite(context) ? StatusCopying() : StatusDownloading());
        const bool downloaded = workStillReady && DownloadUpdateFiles(context);
        if (downloaded && !CancelRequested()) {
          if (!InstallOrRunMethod(context)) {
            runFailed = true;
            ShowStatus(StatusInstallFailed());
            ReportCause("installation failed", InstallFailureText());
          }
        } else if (!downloaded && !CancelRequested()) {
          runFailed = true;
          out << "error: could NOT update files" << std::endl;
          ShowStatus(StatusDownloadFailed());
          ReportCause("download failed", DownloadFailureText());
        }
        // A cancelled run records nothing, so the same update is offered again.
        if (!runFailed && !CancelRequested())
          CfgPutStr("LiveUpdate.lastUpdateInfo", ControlsReplaced(FirstLine(context.updateInfo)));
      }
    }
  }

  if (!CancelRequested()) Pause(1500);
  if (!runFailed && FileExists(BatchFileName())) WinExec(BatchCommandLine());
  if (runFailed || !MorePending()) os::SleepMs(6000 * (1 + (runFailed ? 1 : 0)));
  ShowStatus(StatusExiting());
  Pause(500);
}
