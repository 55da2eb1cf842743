// The process on Windows: arguments, executable path, starting programs,
// the console control handler, the console.
#include <atomic>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/os.h"
#include "platform/process_state.h"
#include "platform/win32/wide.h"

namespace os {
namespace {

std::atomic<int> interruptCount{0};

BOOL WINAPI CountInterrupt(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      interruptCount.fetch_add(1, std::memory_order_relaxed);
      return TRUE;
    case CTRL_CLOSE_EVENT:
      // The system ends the process when the handler returns (at the latest
      // after 5 s): give the run the time to see Cancel and finish.
      interruptCount.fetch_add(1, std::memory_order_relaxed);
      ::Sleep(4000);
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

std::vector<std::string> ArgumentsFromMain(int, char**) {
  // The console shows the program's UTF-8 text as such.
  ::SetConsoleOutputCP(CP_UTF8);
  std::vector<std::string> args = SplitCommandLine(win32::Utf8(::GetCommandLineW()));
  if (!args.empty()) args.erase(args.begin());
  return args;
}

std::string ExecutablePath() {
  if (auto path = ExecutablePathForTests()) return *path;
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return {};
    if (n < buffer.size()) {
      buffer.resize(n);
      return win32::Utf8(buffer);
    }
    buffer.resize(buffer.size() * 2);
  }
}

Status StartProgram(const std::string& commandLine) {
  if (SplitCommandLine(commandLine).empty()) return win32::Failure(ERROR_FILE_NOT_FOUND);
  // As StartDetached: the system finds the program (its own directory, the current
  // directory, the system directories, PATH; ".exe" added when the name has
  // no extension, a batch file runs in the command interpreter), the window
  // shown normally, never waited for. No handle of this process is inherited,
  // so the program holds none of the files being installed.
  std::wstring line = win32::Wide(commandLine);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOWNORMAL;
  PROCESS_INFORMATION started{};
  if (!win32::Succeeded(::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE,
                                         CREATE_NEW_PROCESS_GROUP | DETACHED_PROCESS, nullptr,
                                         nullptr, &startup, &started)))
    return win32::Failure(::GetLastError());
  ::CloseHandle(started.hThread);
  ::CloseHandle(started.hProcess);
  return Status();
}

namespace {

// One argument as the C runtime of the started program splits it again:
// quoted, with backslashes doubled where a quote follows them.
std::string QuotedArgument(const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) return arg;
  std::string quoted = "\"";
  std::size_t backslashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, '\\');
  return quoted + "\"";
}

}  // namespace

Status RunAndWait(const std::vector<std::string>& argv, int& exitCode) {
  if (argv.empty()) return Status::Error("no program to run");
  std::string line;
  for (const std::string& a : argv) line += (line.empty() ? "" : " ") + QuotedArgument(a);
  std::wstring wide = win32::Wide(line);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION started{};
  if (!win32::Succeeded(::CreateProcessW(nullptr, wide.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                         &startup, &started)))
    return Status::Failed("cannot run " + argv[0], win32::ErrorText(::GetLastError()));
  ::CloseHandle(started.hThread);
  ::WaitForSingleObject(started.hProcess, INFINITE);
  DWORD code = 0;
  const Status read = win32::Outcome(::GetExitCodeProcess(started.hProcess, &code));
  ::CloseHandle(started.hProcess);
  if (!read.ok()) return Status::Failed("cannot read the exit code of " + argv[0], read);
  exitCode = static_cast<int>(code);
  return Status();
}

void ExitProcess(int code) {
  std::exit(code);
}

void WatchInterrupts() {
  ::SetConsoleCtrlHandler(CountInterrupt, TRUE);
}

int InterruptsReceived() {
  return interruptCount.load(std::memory_order_relaxed);
}

bool StandardErrorIsTerminal() {
  DWORD mode = 0;
  return win32::Succeeded(::GetConsoleMode(::GetStdHandle(STD_ERROR_HANDLE), &mode));
}

}  // namespace os
