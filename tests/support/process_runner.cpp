#include "support/process_runner.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

namespace {

void ChildExec(const ProcessOptions& options, int outFd, int errFd) {
  dup2(outFd, 1);
  dup2(errFd, 2);
  int nullFd = open("/dev/null", O_RDONLY);
  if (nullFd >= 0) dup2(nullFd, 0);
  setpgid(0, 0);
  for (const auto& [name, value] : options.env) {
    if (value) setenv(name.c_str(), value->c_str(), 1);
    else unsetenv(name.c_str());
  }
  if (!options.workDir.empty() && chdir(options.workDir.c_str()) != 0) _exit(126);
  if (options.asUid) {
    // Without root's supplementary groups: the account has only its own.
    if (setgroups(0, nullptr) != 0 || setgid(*options.asUid) != 0 || setuid(*options.asUid) != 0)
      _exit(125);
  }
  std::vector<char*> argv;
  for (const auto& a : options.argv) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  execv(argv[0], argv.data());
  _exit(127);
}

void Drain(int fd, std::string& into) {
  char buf[65536];
  for (;;) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n > 0) into.append(buf, static_cast<std::size_t>(n));
    else if (n < 0 && errno == EINTR) continue;
    else break;
  }
}

}  // namespace

RunningProcess::RunningProcess(const ProcessOptions& options)
    : timeoutSeconds_(options.timeoutSeconds), start_(std::chrono::steady_clock::now()) {
  int outPipe[2], errPipe[2];
  if (pipe(outPipe) != 0 || pipe(errPipe) != 0) return;
  pid_ = fork();
  if (pid_ == 0) {
    close(outPipe[0]);
    close(errPipe[0]);
    ChildExec(options, outPipe[1], errPipe[1]);
  }
  close(outPipe[1]);
  close(errPipe[1]);
  outFd_ = outPipe[0];
  errFd_ = errPipe[0];
  fcntl(outFd_, F_SETFL, O_NONBLOCK);
  fcntl(errFd_, F_SETFL, O_NONBLOCK);
}

RunningProcess::~RunningProcess() {
  if (!done_ && pid_ > 0) {
    kill(-pid_, SIGKILL);
    kill(pid_, SIGKILL);
    Wait();
  }
  if (outFd_ >= 0) close(outFd_);
  if (errFd_ >= 0) close(errFd_);
}

void RunningProcess::Signal(int sig) {
  if (pid_ > 0 && !done_) kill(pid_, sig);
}

bool RunningProcess::Running() {
  if (done_ || pid_ <= 0) return false;
  siginfo_t info{};
  if (waitid(P_PID, pid_, &info, WEXITED | WNOHANG | WNOWAIT) != 0) return false;
  return info.si_pid == 0;
}

ProcessResult RunningProcess::Wait() {
  if (done_) return *done_;
  ProcessResult result;
  if (pid_ <= 0) {
    done_ = result;
    return result;
  }
  const auto deadline = start_ + std::chrono::seconds(timeoutSeconds_);
  int status = 0;
  for (;;) {
    pollfd fds[2] = {{outFd_, POLLIN, 0}, {errFd_, POLLIN, 0}};
    poll(fds, 2, 50);
    Drain(outFd_, result.out);
    Drain(errFd_, result.err);
    pid_t r = waitpid(pid_, &status, WNOHANG);
    if (r == pid_) break;
    if (std::chrono::steady_clock::now() > deadline) {
      result.timedOut = true;
      kill(-pid_, SIGKILL);
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
      break;
    }
  }
  // Collect what is still in the pipes (a detached grandchild may hold them:
  // do not wait for their end).
  Drain(outFd_, result.out);
  Drain(errFd_, result.err);
  if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  result.seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  done_ = result;
  return result;
}

ProcessResult RunProcess(const ProcessOptions& options) {
  RunningProcess p(options);
  return p.Wait();
}

bool ProgramRunning(const std::string& path) {
  namespace fs = std::filesystem;
  const fs::path wanted = fs::absolute(path).lexically_normal();
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator("/proc", ec)) {
    const std::string pid = entry.path().filename().string();
    if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream in(entry.path() / "cmdline", std::ios::binary);
    const std::string cmdline((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::error_code cwdError;
    const fs::path cwd = fs::read_symlink(entry.path() / "cwd", cwdError);
    for (std::size_t at = 0; at < cmdline.size();) {
      std::size_t end = cmdline.find('\0', at);
      if (end == std::string::npos) end = cmdline.size();
      const fs::path arg(cmdline.substr(at, end - at));
      at = end + 1;
      if (arg.empty() || (arg.is_relative() && cwdError)) continue;
      if ((arg.is_absolute() ? arg : cwd / arg).lexically_normal() == wanted) return true;
    }
  }
  return false;
}
