#pragma once
// Another process that uses a file, for tests of files in use: a running
// copy of /bin/sleep (a running executable) or a child holding an exclusive
// flock. The process is killed and reaped when the object goes.

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <utility>

class FileUser {
 public:
  // Copies /bin/sleep to path and runs it; returns once it runs.
  static FileUser Running(const std::string& path) {
    std::filesystem::copy_file("/bin/sleep", path,
                               std::filesystem::copy_options::overwrite_existing);
    ::chmod(path.c_str(), 0755);
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::execl(path.c_str(), path.c_str(), "30", static_cast<char*>(nullptr));
      ::_exit(127);
    }
    // Until exec is done the child is still the test binary.
    for (int i = 0; i < 500; ++i) {
      std::error_code ec;
      if (std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/exe", ec) == path) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return FileUser(pid, true);
  }

  // A child that holds an exclusive flock on path; Ok() tells whether it got it.
  static FileUser Locking(const std::string& path) {
    int ready[2];
    if (::pipe(ready) != 0) return FileUser(-1, false);
    const pid_t pid = ::fork();
    if (pid == 0) {
      const int fd = ::open(path.c_str(), O_RDONLY);
      const char ok = fd >= 0 && ::flock(fd, LOCK_EX) == 0;
      [[maybe_unused]] auto n = ::write(ready[1], &ok, 1);
      for (;;) ::pause();
    }
    ::close(ready[1]);
    char ok = 0;
    [[maybe_unused]] auto n = ::read(ready[0], &ok, 1);
    ::close(ready[0]);
    return FileUser(pid, ok != 0);
  }

  FileUser(FileUser&& other) noexcept
      : pid_(std::exchange(other.pid_, -1)), ok_(other.ok_) {}
  ~FileUser() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  bool Ok() const { return pid_ > 0 && ok_; }

 private:
  FileUser(pid_t pid, bool ok) : pid_(pid), ok_(ok) {}
  pid_t pid_;
  bool ok_;
};
