#pragma once
// Runs a program as a child process for end-to-end tests: arguments, extra
// environment, working directory, a time limit, and its output captured.

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

struct ProcessResult {
  int exitCode = -1;     // -1 when killed by a signal or timed out
  int signal = 0;        // the signal that ended it, if any
  bool timedOut = false;
  std::string out;       // standard output
  std::string err;       // standard error
  double seconds = 0;    // wall time
};

struct ProcessOptions {
  std::vector<std::string> argv;                  // argv[0] is the program path
  std::map<std::string, std::optional<std::string>> env;  // nullopt: unset
  std::string workDir;
  int timeoutSeconds = 120;
  // Run as this user and group id (when the test runs as root).
  std::optional<int> asUid;
};

// Runs the program and waits for it.
ProcessResult RunProcess(const ProcessOptions& options);

// A child started without waiting; Wait() collects it.
class RunningProcess {
 public:
  explicit RunningProcess(const ProcessOptions& options);
  ~RunningProcess();
  RunningProcess(const RunningProcess&) = delete;
  RunningProcess& operator=(const RunningProcess&) = delete;
  void Signal(int sig);
  bool Running();
  ProcessResult Wait();
  int pid() const { return pid_; }

 private:
  int pid_ = -1;
  int outFd_ = -1;
  int errFd_ = -1;
  int timeoutSeconds_ = 120;
  std::chrono::steady_clock::time_point start_;
  std::optional<ProcessResult> done_;
};

// Whether a process is running the program at path now: its command line
// names path (a relative name counts from the process's current directory),
// as it does for an executable and for a "#!" script.
bool ProgramRunning(const std::string& path);
