// tvqlupd: one start performs one update run of the application directory in
// which the program stands.
#include <functional>
#include <iostream>
#include <string>

#include "app/context/names.h"
#include "app/context/run_context.h"
#include "app/run/build_info.h"
#include "app/run/run.h"
#include "platform/os.h"
#include "platform/status.h"
#include "settings/config.h"
#include "settings/config_reorganise.h"
#include "settings/settings_env.h"
#include "support/command_line_options.h"
#include "support/fileutil.h"
#include "support/lingua.h"
#include "support/strfn.h"
#include "support/ui_hooks.h"
#include "ui/answering_clock.h"
#include "ui/console_display.h"
#include "ui/window_start.h"

namespace {

void PrintHelp() {
  std::cout <<
      "usage: tvqlupd [/P<site>] [/Log[=FILE]] [/ConfigFile=FILE] [/Key=Value...]\n"
      "\n"
      "Performs one update run of the application directory that holds this program:\n"
      "fetches the update list from the update site, downloads the next update, verifies\n"
      "and installs it, and records it in the settings file.\n"
      "\n"
      "  /P<site>          update site: http://host/dir/ or a directory (file://)\n"
      "  /Log              write the run's account to standard output\n"
      "  /Log=FILE         append the run's account to FILE\n"
      "  /ConfigFile=FILE  settings file to use (also /INIFile=, /BasicCFGFile=)\n"
      "  /Key=Value        store Value under an existing settings key\n"
      "  /?                version banner (to the run's account), then exit\n"
      "  --help            print this text and exit\n"
      "  --version         print the version, the default update site, the built-in\n"
      "                    keys and channel, and exit\n";
}

// The program's own name: the executable's file name without extension.
std::string ComputeProgramName() {
  return StripExt(FileNameOf(os::ExecutablePath()));
}

// The installation's run lock. A run that has just restarted the main
// application may still be ending while the application starts the next
// run, so a held lock is waited for a few seconds before giving up (at
// once on Cancel).
os::RunLock AcquireRunLock() {
  constexpr int kTries = 20;
  constexpr int kPauseMs = 250;
  const std::string lockFile = RunLockFile();
  for (int i = 1;; ++i) {
    os::RunLock lock = os::RunLock::Acquire(lockFile);
    if (lock.state() != os::RunLock::State::Busy || i == kTries) return lock;
    if (!WaitUnlessCancelled(kPauseMs)) return lock;
  }
}

}  // namespace

int main(int argc, char** argv) {
  const CommandLineOptions options = ParseCommandLine(os::ArgumentsFromMain(argc, argv));
  if (options.report == CommandLineOptions::Report::Version) {
    std::cout << VersionReport(ComputeProgramName());
    return 0;
  }
  if (options.report == CommandLineOptions::Report::Help) {
    PrintHelp();
    return 0;
  }

  SetLanguage(DetectLanguage());
  // The display is chosen first, so that a question at start-up already
  // appears as a box above the desktop.
  const bool windowed = TryOpenDisplay();
  if (windowed) SetUserInterface(&WindowUserInterface());
  SetProgramName(ComputeProgramName());
  os::WatchInterrupts();
  // From here on every wait of the program ends once Cancel is requested
  // (Ctrl-C, SIGTERM, the window's Cancel): the run then ends within a
  // second, starting nothing new.
  const AnsweringClockScope answeringCancel(nullptr);

  if (const std::string problem = SwitchProblem(options); !problem.empty()) {
    const auto report = [&] { ReportCommandLineRefused(Status::Error(problem), options.accountTarget); };
    return windowed ? RunWindow(report) : RunOnConsole(report);
  }

  // Nothing is read or written before the installation is this run's alone:
  // the settings store already applies /Key=Value switches at its start.
  const os::RunLock lock = AcquireRunLock();
  if (lock.state() != os::RunLock::State::Held) {
    const auto report = [&] { ReportRunRefused(lock, options.accountTarget); };
    return windowed ? RunWindow(report) : RunOnConsole(report);
  }

  CfgInit(options);
  CfgStartup();
  LoadUserColors();

  // A wait marker left in the program directory is removed; errors are ignored.
  DeleteFileChecked(ProgramDir(true) + "TVQUWait.wat");

  // The window where one can be shown, the console everywhere else.
  const auto run = [&] { RunLiveUpdate(options); };
  return windowed ? RunWindow(run) : RunOnConsole(run);
}
