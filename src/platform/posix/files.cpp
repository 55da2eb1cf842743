// Files and directories on Linux.
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "platform/os.h"
#include "platform/posix/error.h"
#include "platform/posix/retrying.h"

namespace os {
namespace {

// Whether a system call succeeded; errno holds the cause when it did not.
bool Succeeded(long rc) {
  return rc != -1;
}

// The result of a system call for the caller: OK, or errno's cause.
Status Outcome(long rc) {
  return Succeeded(rc) ? Status() : posix::Failure(errno);
}

using posix::ErrorText;
using posix::Failure;
using posix::Retrying;

int Fd(std::intptr_t handle) {
  return static_cast<int>(handle);
}

std::string Quoted(const std::string& path) {
  return "\"" + path + "\"";
}

// Why path could not be opened without following a link, from the open's
// error code: a link is named as such.
std::string OpenFailure(const std::string& path, int code) {
  struct stat st;
  if (Succeeded(::lstat(path.c_str(), &st)) && S_ISLNK(st.st_mode))
    return Quoted(path) + " is a link";
  return "cannot open " + Quoted(path) + ": " + ErrorText(code);
}

// Opens the run lock's file for writing, creating it (0600) when missing,
// never through a link and never blocking on a FIFO. Narrows a wider mode
// of this account's own file, so that no reader opens it from now on.
// The descriptor, or -1 with the state and cause of the failure.
int OpenRunLockFile(const std::string& path, RunLock::State& state, std::string& cause) {
  const int fd = static_cast<int>(Retrying([&] {
    return ::open(path.c_str(),
                  O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0600);
  }));
  if (fd < 0) {
    const int code = errno;
    const bool denied = code == EACCES || code == EPERM || code == EROFS;
    state = denied ? RunLock::State::Denied : RunLock::State::Failed;
    cause = OpenFailure(path, code);
    return -1;
  }
  struct stat st;
  if (!Succeeded(::fstat(fd, &st)) || !S_ISREG(st.st_mode)) {
    ::close(fd);
    state = RunLock::State::Failed;
    cause = Quoted(path) + " is not a file";
    return -1;
  }
  if (st.st_uid == ::geteuid() && (st.st_mode & 07777) != 0600) ::fchmod(fd, 0600);
  return fd;
}

std::uint32_t CurrentUmask() {
  // The kernel reports the umask without changing it; setting it to read it
  // would race with other threads creating files.
  if (FILE* status = std::fopen("/proc/self/status", "re")) {
    char line[256];
    unsigned mask = 0;
    bool found = false;
    while (!found && std::fgets(line, sizeof line, status))
      found = std::sscanf(line, "Umask: %o", &mask) == 1;
    std::fclose(status);
    if (found) return mask & 0777;
  }
  const mode_t old = ::umask(022);
  ::umask(old);
  return static_cast<std::uint32_t>(old);
}

FileInfo InfoFrom(const struct stat& st) {
  FileInfo info;
  info.exists = true;
  info.isRegular = S_ISREG(st.st_mode);
  info.isDirectory = S_ISDIR(st.st_mode);
  info.isSymlink = S_ISLNK(st.st_mode);
  info.size = static_cast<std::int64_t>(st.st_size);
  info.modifiedSeconds = static_cast<std::int64_t>(st.st_mtim.tv_sec);
  info.permissions = static_cast<std::uint32_t>(st.st_mode) & 0777;
  return info;
}

bool IsDirectoryFollowing(const std::string& path, bool& exists) {
  struct stat st;
  exists = Succeeded(::stat(path.c_str(), &st));
  return exists && S_ISDIR(st.st_mode);
}

// Fails when another open file description holds an exclusive lock on fd's
// file.
Status CheckNotLocked(int fd) {
  if (Succeeded(Retrying([&] { return ::flock(fd, LOCK_EX | LOCK_NB); }))) {
    ::flock(fd, LOCK_UN);
    return Status();
  }
  return errno == EWOULDBLOCK ? Failure(EWOULDBLOCK) : Status();
}

// Makes fd's changes durable with sync (fsync, syncfs), then closes fd; the
// first failure's cause.
template <class SyncCall>
Status SyncAndClose(int fd, SyncCall sync) {
  const Status synced = Outcome(Retrying([&] { return sync(fd); }));
  ::close(fd);
  return synced;
}

}  // namespace

FileInfo StatPath(const std::string& path) {
  struct stat st;
  if (path.empty() || !Succeeded(::lstat(path.c_str(), &st))) return FileInfo{};
  return InfoFrom(st);
}

FileInfo StatTarget(const std::string& path) {
  struct stat st;
  if (path.empty() || !Succeeded(::stat(path.c_str(), &st))) return FileInfo{};
  return InfoFrom(st);
}

std::string ResolveLinks(const std::string& path) {
  char* resolved = ::realpath(path.c_str(), nullptr);
  if (!resolved) return path;
  std::string result(resolved);
  std::free(resolved);
  return result;
}

bool FileExists(const std::string& path) {
  bool exists = false;
  bool isDir = IsDirectoryFollowing(path, exists);
  return exists && !isDir;
}

bool DirectoryExists(const std::string& path) {
  bool exists = false;
  return IsDirectoryFollowing(path, exists);
}

StatusOr<File> File::Open(const std::string& path, OpenFor mode,
                          std::optional<std::uint32_t> newPermissions) {
  int flags = O_CLOEXEC;
  switch (mode) {
    // A named pipe must not block the open; what is read is an ordinary file.
    case OpenFor::Read: flags |= O_RDONLY | O_NONBLOCK | O_NOCTTY; break;
    case OpenFor::ReadNoLink: flags |= O_RDONLY | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW; break;
    case OpenFor::ReadWrite: flags |= O_RDWR; break;
    case OpenFor::CreateTruncate: flags |= O_WRONLY | O_CREAT | O_TRUNC; break;
    case OpenFor::Append: flags |= O_WRONLY | O_CREAT | O_APPEND; break;
    case OpenFor::CreateNew: flags |= O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW; break;
  }
  const mode_t perms = static_cast<mode_t>(newPermissions.value_or(0666));
  const int fd = static_cast<int>(Retrying([&] { return ::open(path.c_str(), flags, perms); }));
  if (fd < 0) return Failure(errno);
  File file(fd);
  // A directory opens read-only on Linux; here it is not a file.
  struct stat st;
  if (!Succeeded(::fstat(fd, &st))) return Failure(errno);
  if (S_ISDIR(st.st_mode)) return Failure(EISDIR);
  if (mode == OpenFor::Read || mode == OpenFor::ReadNoLink) {
    // Pipes, sockets and devices are no files to read: they could block or
    // never end.
    if (!S_ISREG(st.st_mode)) return Failure(EINVAL);
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  }
  return file;
}

StatusOr<std::int64_t> File::Read(void* buffer, std::size_t size) {
  if (!IsOpen()) return Failure(EBADF);
  const long n = Retrying([&] { return ::read(Fd(handle_), buffer, size); });
  if (n < 0) return Failure(errno);
  return std::int64_t{n};
}

Status File::Write(const void* data, std::size_t size) {
  if (!IsOpen()) return Failure(EBADF);
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const long n = Retrying([&] { return ::write(Fd(handle_), p, size); });
    if (n < 0) return Failure(errno);
    if (n == 0) return Status::Error("the system wrote nothing");
    p += n;
    size -= static_cast<std::size_t>(n);
  }
  return Status();
}

Status File::Seek(std::int64_t position) {
  if (!IsOpen()) return Failure(EBADF);
  if (position < 0) return Failure(EINVAL);
  const off_t at = ::lseek(Fd(handle_), static_cast<off_t>(position), SEEK_SET);
  if (at < 0) return Failure(errno);
  return at == position ? Status() : Failure(EINVAL);
}

std::int64_t File::Position() {
  if (!IsOpen()) return -1;
  return ::lseek(Fd(handle_), 0, SEEK_CUR);
}

std::int64_t File::Size() {
  struct stat st;
  if (!IsOpen() || !Succeeded(::fstat(Fd(handle_), &st))) return -1;
  return static_cast<std::int64_t>(st.st_size);
}

Status File::Sync() {
  if (!IsOpen()) return Failure(EBADF);
  return Outcome(Retrying([&] { return ::fsync(Fd(handle_)); }));
}

void File::BeginSync(std::int64_t offset, std::int64_t length) {
  if (IsOpen() && offset >= 0 && length > 0)
    ::sync_file_range(Fd(handle_), static_cast<off_t>(offset), static_cast<off_t>(length),
                      SYNC_FILE_RANGE_WRITE);
}

StatusOr<std::int64_t> File::CopyFrom(File& source, void* buffer, std::size_t size) {
  if (!IsOpen() || !source.IsOpen()) return Failure(EBADF);
  const long copied = Retrying([&] {
    return ::copy_file_range(Fd(source.handle_), nullptr, Fd(handle_), nullptr, size, 0);
  });
  // 0 may also mean a file whose size the kernel does not know (procfs):
  // reading tells. Some file systems, kernels and appending targets refuse:
  // read and write.
  if (copied > 0) return std::int64_t{copied};
  if (copied < 0 && errno != EXDEV && errno != EINVAL && errno != ENOSYS &&
      errno != EOPNOTSUPP && errno != EBADF)
    return Failure(errno);
  StatusOr<std::int64_t> n = source.Read(buffer, size);
  if (n.ok() && *n > 0) {
    if (Status written = Write(buffer, static_cast<std::size_t>(*n)); !written.ok()) return written;
  }
  return n;
}

Status File::Close() {
  if (!IsOpen()) return Status();
  const int fd = Fd(std::exchange(handle_, -1));
  // Linux releases the descriptor even when close reports EINTR: never retry.
  if (Succeeded(::close(fd)) || errno == EINTR) return Status();
  return Failure(errno);
}

Status CanOpen(const std::string& path, bool write) {
  // O_NONBLOCK: a named pipe must not block the question.
  const int flags = (write ? O_RDWR : O_RDONLY) | O_CLOEXEC | O_NONBLOCK | O_NOCTTY;
  const int fd = static_cast<int>(Retrying([&] { return ::open(path.c_str(), flags); }));
  if (fd < 0) return Failure(errno);  // ETXTBSY for a running executable, EACCES, ...
  struct stat st;
  Status status = Outcome(::fstat(fd, &st));
  if (status.ok() && S_ISDIR(st.st_mode)) status = Failure(EISDIR);
  if (status.ok() && write) status = CheckNotLocked(fd);
  ::close(fd);
  return status;
}

std::optional<FileLock> FileLock::Exclusive(const std::string& path) {
  const int fd = static_cast<int>(
      Retrying([&] { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY); }));
  if (fd < 0) return std::nullopt;
  if (!Succeeded(Retrying([&] { return ::flock(fd, LOCK_EX | LOCK_NB); }))) {
    ::close(fd);
    return std::nullopt;
  }
  return FileLock(fd);
}

FileLock::~FileLock() {
  if (handle_ >= 0) ::close(Fd(handle_));  // closing releases the lock
}

RunLock RunLock::Acquire(const std::string& lockFile) {
  State state = State::Failed;
  std::string cause;
  const int fd = OpenRunLockFile(lockFile, state, cause);
  if (fd < 0) return RunLock(state, cause);
  // The lock belongs to this open file: the system drops it when the
  // process ends, however it ends. The file itself stays.
  if (Succeeded(Retrying([&] { return ::flock(fd, LOCK_EX | LOCK_NB); }))) {
    RunLock lock(State::Held, {});
    lock.handle_ = fd;
    return lock;
  }
  const int code = errno;
  ::close(fd);
  if (code == EWOULDBLOCK) return RunLock(State::Busy, {});
  return RunLock(State::Failed, "cannot lock " + Quoted(lockFile) + ": " + ErrorText(code));
}

RunLock::~RunLock() {
  if (handle_ >= 0) ::close(Fd(handle_));
}

Status SyncDirectory(const std::string& path) {
  const int fd = static_cast<int>(Retrying([&] {
    return ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOCTTY);
  }));
  if (fd < 0) return Failure(errno);
  return SyncAndClose(fd, ::fsync);
}

Status SyncFiles(const std::vector<std::string>& paths) {
  if (paths.empty()) return Status();
  // One flush of the file system writes every file at once; the disk then
  // orders the work instead of waiting file by file.
  const int fd = static_cast<int>(
      Retrying([&] { return ::open(paths.front().c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY); }));
  if (fd < 0) return Failure(errno);
  return SyncAndClose(fd, ::syncfs);
}

Status RemoveFile(const std::string& path) {
  return Outcome(::unlink(path.c_str()));
}

bool LinkFile(const std::string& existing, const std::string& newPath) {
  return Succeeded(::link(existing.c_str(), newPath.c_str()));
}

Status RenameNoReplace(const std::string& oldPath, const std::string& newPath) {
  if (Succeeded(::renameat2(AT_FDCWD, oldPath.c_str(), AT_FDCWD, newPath.c_str(),
                            RENAME_NOREPLACE)))
    return Status();
  if (errno != EINVAL && errno != ENOSYS) return Failure(errno);
  // File systems without the atomic flag: check, then rename.
  struct stat st;
  if (Succeeded(::lstat(newPath.c_str(), &st))) return Failure(EEXIST);
  if (errno != ENOENT) return Failure(errno);
  return Outcome(::rename(oldPath.c_str(), newPath.c_str()));
}

Status RenameReplace(const std::string& oldPath, const std::string& newPath) {
  return Outcome(::rename(oldPath.c_str(), newPath.c_str()));
}

Status SetModifiedSeconds(const std::string& path, std::int64_t unixSeconds) {
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_sec = static_cast<time_t>(unixSeconds);
  times[1].tv_nsec = 0;
  return Outcome(::utimensat(AT_FDCWD, path.c_str(), times, 0));
}

Status SetModifiedNow(const std::string& path) {
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_sec = 0;
  times[1].tv_nsec = UTIME_NOW;
  return Outcome(::utimensat(AT_FDCWD, path.c_str(), times, 0));
}

Status SetPermissions(const std::string& path, std::uint32_t permissions) {
  return Outcome(::chmod(path.c_str(), static_cast<mode_t>(permissions & 07777)));
}

std::uint32_t NewFilePermissions(const void* head, std::size_t size) {
  const auto* b = static_cast<const unsigned char*>(head);
  const bool script = size >= 2 && b[0] == '#' && b[1] == '!';
  const bool elf = size >= 4 && b[0] == 0x7f && b[1] == 'E' && b[2] == 'L' && b[3] == 'F';
  const std::uint32_t base = (script || elf) ? 0777 : 0666;
  return base & ~CurrentUmask();
}

Status MakePrivateDirectory(const std::string& path) {
  if (!Succeeded(::mkdir(path.c_str(), 0700)) && errno != EEXIST)
    return Status::Failed("cannot create " + Quoted(path), ErrorText(errno));
  // Opened as itself: a link is never followed, and what is checked and
  // changed below is the directory that stands there now.
  const int fd = static_cast<int>(Retrying([&] {
    return ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY);
  }));
  if (fd < 0) {
    const int code = errno;
    struct stat st;
    if (code == ENOTDIR && Succeeded(::lstat(path.c_str(), &st)) && !S_ISLNK(st.st_mode))
      return Status::Error(Quoted(path) + " is not a directory");
    return Status::Error(OpenFailure(path, code));
  }
  struct stat st;
  Status result;
  if (!Succeeded(::fstat(fd, &st)))
    result = Status::Failed("cannot examine " + Quoted(path), ErrorText(errno));
  else if (st.st_uid != ::geteuid())
    result = Status::Error(Quoted(path) + " belongs to another user");
  else if ((st.st_mode & 07777) != 0700 && !Succeeded(::fchmod(fd, 0700)))
    result = Status::Failed("cannot make " + Quoted(path) + " private", ErrorText(errno));
  ::close(fd);
  return result;
}

Status MakeDirectory(const std::string& path) {
  if (path.empty()) return Failure(ENOENT);
  return Outcome(::mkdir(path.c_str(), 0777));
}

bool RemoveDirectory(const std::string& path) {
  return Succeeded(::rmdir(path.c_str()));
}

bool ChangeDirectory(const std::string& path) {
  return !path.empty() && Succeeded(::chdir(path.c_str()));
}

std::string CurrentDirectory() {
  std::vector<char> buffer(4096);
  while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (errno != ERANGE) return {};
    buffer.resize(buffer.size() * 2);
  }
  return buffer.data();
}

std::vector<DirEntry> ListDirectory(const std::string& path) {
  std::vector<DirEntry> entries;
  DIR* dir = ::opendir(path.empty() ? "." : path.c_str());
  if (dir == nullptr) return entries;
  while (const dirent* e = ::readdir(dir)) {
    const std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    DirEntry entry;
    entry.name = name;
    entry.isHidden = name[0] == '.';
    if (e->d_type != DT_UNKNOWN) {
      entry.isRegular = e->d_type == DT_REG;
    } else {
      struct stat st;
      entry.isRegular = Succeeded(::fstatat(::dirfd(dir), e->d_name, &st, AT_SYMLINK_NOFOLLOW)) &&
                        S_ISREG(st.st_mode);
    }
    entries.push_back(std::move(entry));
  }
  ::closedir(dir);
  return entries;
}

}  // namespace os
