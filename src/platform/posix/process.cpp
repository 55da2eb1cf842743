// The process on Linux: arguments, executable path, starting programs,
// interrupts, the terminal.
#include <fcntl.h>
#include <spawn.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/os.h"
#include "platform/posix/error.h"
#include "platform/posix/retrying.h"
#include "platform/process_state.h"

namespace os {
namespace {

// Turns the outcome of a system call into the result: true when it
// succeeded, after running it again while a signal interrupts it.
template <class Call>
bool SucceededRetrying(Call call) {
  return posix::Retrying(call) != -1;
}

std::atomic<int> interruptCount{0};

extern "C" void CountInterrupt(int) {
  interruptCount.fetch_add(1, std::memory_order_relaxed);
}

bool IsRegularFile(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool HasExtension(const std::string& name) {
  const std::size_t slash = name.rfind('/');
  const std::size_t start = slash == std::string::npos ? 0 : slash + 1;
  const std::size_t dot = name.rfind('.');
  return dot != std::string::npos && dot > start;
}

// A name with a directory stands for itself; a bare name is looked for in
// the current directory, then in every PATH entry (an empty entry is the
// current directory).
std::string Locate(const std::string& name) {
  if (name.find('/') != std::string::npos) return IsRegularFile(name) ? name : std::string();
  std::vector<std::string> dirs{"."};
  const char* pathVar = ::getenv("PATH");
  std::string path = pathVar ? pathVar : "";
  for (std::size_t start = 0; pathVar;) {
    const std::size_t colon = path.find(':', start);
    const std::string dir = path.substr(start, colon == std::string::npos ? colon : colon - start);
    dirs.push_back(dir.empty() ? "." : dir);
    if (colon == std::string::npos) break;
    start = colon + 1;
  }
  for (const auto& dir : dirs) {
    const std::string candidate = dir + "/" + name;
    if (IsRegularFile(candidate)) return candidate;
  }
  return {};
}

std::string ResolveProgram(const std::string& name) {
  if (name.empty()) return {};
  std::string found = Locate(name);
  if (found.empty() && !HasExtension(name)) found = Locate(name + ".exe");
  return found;
}

// Runs in the grandchild after fork: only async-signal-safe calls. Reports
// the errno of a failed start through the pipe and ends.
[[noreturn]] void ExecDetached(const char* path, char* const argv[], int errorPipe) {
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  for (int sig : {SIGINT, SIGTERM, SIGPIPE, SIGCHLD, SIGHUP}) ::signal(sig, SIG_DFL);
  const int devNull = ::open("/dev/null", O_RDWR);
  if (devNull >= 0) {
    ::dup2(devNull, 0);
    ::dup2(devNull, 1);
    ::dup2(devNull, 2);
    if (devNull > 2) ::close(devNull);
  }
  // Descriptors the program holds (locks, files being written) stay behind.
  if (::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC) != 0) {
    for (int fd = 3; fd < 1024; ++fd)
      if (fd != errorPipe) ::fcntl(fd, F_SETFD, FD_CLOEXEC);
  }
  ::execv(path, argv);
  const int error = errno;
  [[maybe_unused]] auto n = ::write(errorPipe, &error, sizeof error);
  ::_exit(127);
}

}  // namespace

std::vector<std::string> ArgumentsFromMain(int argc, char** argv) {
  if (argc < 1 || argv == nullptr) return {};
  return std::vector<std::string>(argv + 1, argv + argc);
}

namespace {

// Where /proc/self/exe leads now; empty when it cannot be read.
std::string ReadOwnExecutableLink() {
  std::vector<char> buffer(4096);
  for (;;) {
    const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0) return {};
    if (static_cast<std::size_t>(n) < buffer.size()) return std::string(buffer.data(), n);
    buffer.resize(buffer.size() * 2);
  }
}

// The path the program was started from. Read once: after an update renames
// a new file over the program's own, the link names the replaced file as
// "PATH (deleted)", while the program's name, directory and settings file
// stay those of PATH.
const std::string& StartPath() {
  static const std::string path = ReadOwnExecutableLink();
  return path;
}

// Read while the program loads, before anything can replace its file.
[[maybe_unused]] const std::string& startPathAtLoad = StartPath();

}  // namespace

std::string ExecutablePath() {
  if (auto path = ExecutablePathForTests()) return *path;
  return StartPath();
}

Status StartProgram(const std::string& commandLine) {
  std::vector<std::string> args = SplitCommandLine(commandLine);
  if (args.empty()) return posix::Failure(ENOENT);
  const std::string path = ResolveProgram(args[0]);
  if (path.empty()) return posix::Failure(ENOENT);

  // Everything the children need is made before fork: a forked child of a
  // threaded process may not allocate.
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  int errorPipe[2];
  if (::pipe2(errorPipe, O_CLOEXEC) != 0) return posix::Failure(errno);

  const pid_t child = ::fork();
  if (child < 0) {
    const int code = errno;
    ::close(errorPipe[0]);
    ::close(errorPipe[1]);
    return posix::Failure(code);
  }
  if (child == 0) {
    // The child starts a new session and forks the program; it ends at once,
    // so the program belongs to init, which reaps it: no zombie stays.
    ::close(errorPipe[0]);
    ::setsid();
    const pid_t grandchild = ::fork();
    if (grandchild == 0) ExecDetached(path.c_str(), argv.data(), errorPipe[1]);
    if (grandchild < 0) {
      const int error = errno;
      [[maybe_unused]] auto n = ::write(errorPipe[1], &error, sizeof error);
    }
    ::_exit(0);
  }
  ::close(errorPipe[1]);
  int status = 0;
  SucceededRetrying([&] { return ::waitpid(child, &status, 0); });
  // The pipe closes without data when the program was executed.
  int error = 0;
  const long got = posix::Retrying([&] { return ::read(errorPipe[0], &error, sizeof error); });
  const int readError = errno;
  ::close(errorPipe[0]);
  if (got == 0) return Status();
  return posix::Failure(got == sizeof error ? error : got < 0 ? readError : EIO);
}

Status RunAndWait(const std::vector<std::string>& argv, int& exitCode) {
  if (argv.empty()) return Status::Error("no program to run");
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t child = -1;
  const int spawned = ::posix_spawnp(&child, args[0], nullptr, nullptr, args.data(), environ);
  if (spawned != 0) return Status::Failed("cannot run " + argv[0], posix::ErrorText(spawned));
  int status = 0;
  if (posix::Retrying([&] { return ::waitpid(child, &status, 0); }) == -1)
    return Status::Failed("cannot wait for " + argv[0], posix::ErrorText(errno));
  if (!WIFEXITED(status)) return Status::Error(argv[0] + " ended on a signal");
  exitCode = WEXITSTATUS(status);
  return Status();
}

void ExitProcess(int code) {
  std::exit(code);
}

void WatchInterrupts() {
  struct sigaction action {};
  action.sa_handler = CountInterrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
}

int InterruptsReceived() {
  return interruptCount.load(std::memory_order_relaxed);
}

bool StandardErrorIsTerminal() {
  return ::isatty(2) == 1;
}

}  // namespace os
