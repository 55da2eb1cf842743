// Files and directories on Windows, with the wide-character API: paths are
// UTF-8 inside the program and converted here.
#include <string>
#include <utility>
#include <vector>

#include "platform/os.h"
#include "platform/win32/wide.h"

#include <aclapi.h>
#include <sddl.h>

namespace os {
namespace {

using win32::Failure;
using win32::Outcome;
using win32::ScopedHandle;
using win32::Succeeded;
using win32::WidePath;

HANDLE Handle(std::intptr_t handle) {
  return reinterpret_cast<HANDLE>(handle);
}

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

bool IsLink(DWORD attributes) {
  return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// Whether an open file is a reparse point (a link); true when unknown.
bool IsReparsePoint(HANDLE file) {
  BY_HANDLE_FILE_INFORMATION info{};
  return !::GetFileInformationByHandle(file, &info) || IsLink(info.dwFileAttributes);
}

// Permission bits as far as Windows has them: the read-only attribute takes
// away every write bit.
std::uint32_t PermissionsOf(DWORD attributes) {
  std::uint32_t bits = (attributes & FILE_ATTRIBUTE_DIRECTORY) ? 0777 : 0666;
  if (attributes & FILE_ATTRIBUTE_READONLY) bits &= ~0222u;
  return bits;
}

FileInfo InfoFrom(DWORD attributes, DWORD sizeHigh, DWORD sizeLow, const FILETIME& written) {
  FileInfo info;
  info.exists = true;
  info.isDirectory = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  info.isSymlink = IsLink(attributes);
  info.isRegular = !info.isDirectory && !info.isSymlink && !(attributes & FILE_ATTRIBUTE_DEVICE);
  info.size = static_cast<std::int64_t>((static_cast<std::uint64_t>(sizeHigh) << 32) | sizeLow);
  info.modifiedSeconds = win32::UnixSecondsOf(written);
  info.permissions = PermissionsOf(attributes);
  return info;
}

// Opens what path leads to for reading its attributes only; directories too.
ScopedHandle OpenForAttributes(const std::string& path, DWORD access) {
  return ScopedHandle(::CreateFileW(WidePath(path).c_str(), access, kShareAll, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

Status SetWriteTime(const std::string& path, const FILETIME& written) {
  ScopedHandle h = OpenForAttributes(path, FILE_WRITE_ATTRIBUTES);
  if (!h.IsValid()) return Failure(::GetLastError());
  return Outcome(::SetFileTime(h.get(), nullptr, nullptr, &written));
}

DWORD AttributesOf(const std::string& path) {
  if (path.empty()) return INVALID_FILE_ATTRIBUTES;
  return ::GetFileAttributesW(WidePath(path).c_str());
}

std::string Quoted(const std::string& path) {
  return "\"" + path + "\"";
}

// Whether an open file or directory belongs to this account, else why not.
Status CheckOwner(HANDLE h, const std::string& path) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const DWORD code = ::GetSecurityInfo(h, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner,
                                       nullptr, nullptr, nullptr, &descriptor);
  if (code != ERROR_SUCCESS) return Status::Failed("cannot examine " + Quoted(path), win32::ErrorText(code));
  const bool ours = win32::IsThisAccount(owner);
  ::LocalFree(descriptor);
  return ours ? Status() : Status::Error(Quoted(path) + " belongs to another user");
}

// An access list that admits this account, SYSTEM and the Administrators
// only, inheriting nothing: for a file nobody else may open. Without a known
// account the file gets the list it inherits.
class PrivateFileSecurity {
 public:
  PrivateFileSecurity() {
    const std::string account = CurrentAccount();
    if (account.empty()) return;
    const std::wstring text = win32::Wide("D:P(A;;FA;;;" + account + ")(A;;FA;;;SY)(A;;FA;;;BA)");
    if (!win32::Succeeded(::ConvertStringSecurityDescriptorToSecurityDescriptorW(
            text.c_str(), SDDL_REVISION_1, &descriptor_, nullptr)))
      descriptor_ = nullptr;
    attributes_ = SECURITY_ATTRIBUTES{sizeof attributes_, descriptor_, FALSE};
  }
  ~PrivateFileSecurity() {
    if (descriptor_) ::LocalFree(descriptor_);
  }
  PrivateFileSecurity(const PrivateFileSecurity&) = delete;
  PrivateFileSecurity& operator=(const PrivateFileSecurity&) = delete;
  SECURITY_ATTRIBUTES* attributes() { return descriptor_ ? &attributes_ : nullptr; }

 private:
  PSECURITY_DESCRIPTOR descriptor_ = nullptr;
  SECURITY_ATTRIBUTES attributes_{};
};

// Drops the "\\?\" (or "\\?\UNC\") prefix that the system puts before a
// resolved path.
std::string WithoutLongPrefix(std::wstring path) {
  if (path.rfind(L"\\\\?\\UNC\\", 0) == 0) return win32::Utf8(L"\\\\" + path.substr(8));
  if (path.rfind(L"\\\\?\\", 0) == 0) return win32::Utf8(path.substr(4));
  return win32::Utf8(path);
}

}  // namespace

FileInfo StatPath(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (path.empty() ||
      !Succeeded(::GetFileAttributesExW(WidePath(path).c_str(), GetFileExInfoStandard, &data)))
    return FileInfo{};
  return InfoFrom(data.dwFileAttributes, data.nFileSizeHigh, data.nFileSizeLow,
                  data.ftLastWriteTime);
}

FileInfo StatTarget(const std::string& path) {
  if (path.empty()) return FileInfo{};
  const DWORD attributes = AttributesOf(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return FileInfo{};
  if (!IsLink(attributes)) return StatPath(path);
  ScopedHandle h = OpenForAttributes(path, FILE_READ_ATTRIBUTES);
  BY_HANDLE_FILE_INFORMATION data;
  if (!h.IsValid() || !Succeeded(::GetFileInformationByHandle(h.get(), &data))) return FileInfo{};
  return InfoFrom(data.dwFileAttributes, data.nFileSizeHigh, data.nFileSizeLow,
                  data.ftLastWriteTime);
}

std::string ResolveLinks(const std::string& path) {
  ScopedHandle h = OpenForAttributes(path, FILE_READ_ATTRIBUTES);
  if (!h.IsValid()) return path;
  std::wstring resolved(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = ::GetFinalPathNameByHandleW(h.get(), resolved.data(),
                                                static_cast<DWORD>(resolved.size()), 0);
    if (n == 0) return path;
    if (n < resolved.size()) {
      resolved.resize(n);
      return WithoutLongPrefix(std::move(resolved));
    }
    resolved.resize(n);
  }
}

bool FileExists(const std::string& path) {
  const DWORD attributes = AttributesOf(path);
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool DirectoryExists(const std::string& path) {
  const DWORD attributes = AttributesOf(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

StatusOr<File> File::Open(const std::string& path, OpenFor mode,
                          std::optional<std::uint32_t> newPermissions) {
  // Readers let others read, write and rename; a writer lets others read
  // only, so that nobody changes a file while it is being written.
  DWORD access = GENERIC_READ;
  DWORD share = kShareAll;
  DWORD disposition = OPEN_EXISTING;
  switch (mode) {
    case OpenFor::Read: break;
    case OpenFor::ReadNoLink: break;
    case OpenFor::ReadWrite: access = GENERIC_READ | GENERIC_WRITE; share = FILE_SHARE_READ; break;
    case OpenFor::CreateTruncate: access = GENERIC_WRITE; share = FILE_SHARE_READ; disposition = CREATE_ALWAYS; break;
    case OpenFor::Append: access = GENERIC_WRITE; share = FILE_SHARE_READ; disposition = OPEN_ALWAYS; break;
    case OpenFor::CreateNew: access = GENERIC_WRITE; share = FILE_SHARE_READ; disposition = CREATE_NEW; break;
  }
  // Without the write bits a new file is read-only, as a 0444 file is.
  const bool readOnly = newPermissions && (*newPermissions & 0222) == 0;
  const DWORD attributes = readOnly ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_NORMAL;
  // A reparse point opened as itself is recognised below instead of followed.
  const DWORD noFollow = mode == OpenFor::ReadNoLink ? FILE_FLAG_OPEN_REPARSE_POINT : 0;
  HANDLE h = ::CreateFileW(WidePath(path).c_str(), access, share, nullptr, disposition,
                           attributes | noFollow, nullptr);
  // A directory does not open either.
  if (h == INVALID_HANDLE_VALUE) return Failure(::GetLastError());
  File file(reinterpret_cast<std::intptr_t>(h));
  // A device or a pipe is no file.
  if (::GetFileType(h) != FILE_TYPE_DISK) return Failure(ERROR_INVALID_FUNCTION);
  if (noFollow != 0 && IsReparsePoint(h)) return Failure(ERROR_CANT_ACCESS_FILE);
  if (mode == OpenFor::Append) {
    LARGE_INTEGER zero{};
    if (Status atEnd = Outcome(::SetFilePointerEx(h, zero, nullptr, FILE_END)); !atEnd.ok())
      return atEnd;
  }
  return file;
}

StatusOr<std::int64_t> File::Read(void* buffer, std::size_t size) {
  if (!IsOpen()) return Failure(ERROR_INVALID_HANDLE);
  // ReadFile counts in 32 bits.
  const DWORD want = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
  DWORD got = 0;
  if (Status read = Outcome(::ReadFile(Handle(handle_), buffer, want, &got, nullptr)); !read.ok())
    return read;
  return std::int64_t{got};
}

Status File::Write(const void* data, std::size_t size) {
  if (!IsOpen()) return Failure(ERROR_INVALID_HANDLE);
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const DWORD want = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
    DWORD done = 0;
    if (Status written = Outcome(::WriteFile(Handle(handle_), p, want, &done, nullptr)); !written.ok())
      return written;
    if (done == 0) return Status::Error("the system wrote nothing");
    p += done;
    size -= done;
  }
  return Status();
}

Status File::Seek(std::int64_t position) {
  if (!IsOpen()) return Failure(ERROR_INVALID_HANDLE);
  if (position < 0) return Failure(ERROR_NEGATIVE_SEEK);
  LARGE_INTEGER to;
  to.QuadPart = position;
  return Outcome(::SetFilePointerEx(Handle(handle_), to, nullptr, FILE_BEGIN));
}

std::int64_t File::Position() {
  LARGE_INTEGER zero{};
  LARGE_INTEGER at{};
  if (!IsOpen() || !Succeeded(::SetFilePointerEx(Handle(handle_), zero, &at, FILE_CURRENT)))
    return -1;
  return at.QuadPart;
}

std::int64_t File::Size() {
  LARGE_INTEGER size{};
  if (!IsOpen() || !Succeeded(::GetFileSizeEx(Handle(handle_), &size))) return -1;
  return size.QuadPart;
}

Status File::Sync() {
  if (!IsOpen()) return Failure(ERROR_INVALID_HANDLE);
  return Outcome(::FlushFileBuffers(Handle(handle_)));
}

void File::BeginSync(std::int64_t, std::int64_t) {
  // Windows has no call that starts writing a range without waiting.
}

StatusOr<std::int64_t> File::CopyFrom(File& source, void* buffer, std::size_t size) {
  if (!IsOpen() || !source.IsOpen()) return Failure(ERROR_INVALID_HANDLE);
  StatusOr<std::int64_t> n = source.Read(buffer, size);
  if (n.ok() && *n > 0) {
    if (Status written = Write(buffer, static_cast<std::size_t>(*n)); !written.ok()) return written;
  }
  return n;
}

Status File::Close() {
  if (!IsOpen()) return Status();
  return Outcome(::CloseHandle(Handle(std::exchange(handle_, -1))));
}

Status CanOpen(const std::string& path, bool write) {
  // Everything is shared, so only what another process holds refuses the
  // open: a file open elsewhere without write sharing, or a running program,
  // gives a sharing violation when opened for writing.
  const DWORD access = write ? (GENERIC_READ | GENERIC_WRITE) : GENERIC_READ;
  ScopedHandle h(::CreateFileW(WidePath(path).c_str(), access, kShareAll, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!h.IsValid()) return Failure(::GetLastError());
  return ::GetFileType(h.get()) == FILE_TYPE_DISK ? Status() : Failure(ERROR_INVALID_FUNCTION);
}

std::optional<FileLock> FileLock::Exclusive(const std::string& path) {
  // Open without write or delete sharing: others may read the file, nobody
  // may write, replace or delete it while the lock lives.
  HANDLE h = ::CreateFileW(WidePath(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return std::nullopt;
  return FileLock(reinterpret_cast<std::intptr_t>(h));
}

FileLock::~FileLock() {
  if (handle_ != -1) ::CloseHandle(Handle(handle_));
}

RunLock RunLock::Acquire(const std::string& lockFile) {
  PrivateFileSecurity security;
  // Open for writing and shared for reading only: a second run's open meets
  // a sharing violation, nobody deletes the file while it is open, and an
  // account the access list leaves out cannot open it at all. A link is
  // opened as itself and refused. The system closes the handle when the
  // process ends, however it ends.
  HANDLE h = ::CreateFileW(WidePath(lockFile).c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                           security.attributes(), OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD code = ::GetLastError();
    if (code == ERROR_SHARING_VIOLATION) return RunLock(State::Busy, {});
    const bool denied = (code == ERROR_ACCESS_DENIED && !DirectoryExists(lockFile)) ||
                        code == ERROR_WRITE_PROTECT;
    return RunLock(denied ? State::Denied : State::Failed,
                   "cannot open " + Quoted(lockFile) + ": " + win32::ErrorText(code));
  }
  RunLock lock(State::Held, {});
  lock.handle_ = reinterpret_cast<std::intptr_t>(h);
  if (IsReparsePoint(h)) return RunLock(State::Failed, Quoted(lockFile) + " is a link");
  if (::GetFileType(h) != FILE_TYPE_DISK) return RunLock(State::Failed, Quoted(lockFile) + " is not a file");
  return lock;
}

RunLock::~RunLock() {
  if (handle_ != -1) ::CloseHandle(Handle(handle_));
}

Status SyncDirectory(const std::string& /*path*/) {
  return Status();  // NTFS journals directory changes; MoveFileEx writes through
}

Status SyncFiles(const std::vector<std::string>& paths) {
  for (const std::string& path : paths) {
    ScopedHandle h(::CreateFileW(WidePath(path).c_str(), GENERIC_WRITE, kShareAll, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!h.IsValid()) return Failure(::GetLastError());
    if (Status flushed = Outcome(::FlushFileBuffers(h.get())); !flushed.ok()) return flushed;
  }
  return Status();
}

Status RemoveFile(const std::string& path) {
  if (path.empty()) return Failure(ERROR_PATH_NOT_FOUND);
  return Outcome(::DeleteFileW(WidePath(path).c_str()));
}

bool LinkFile(const std::string& existing, const std::string& newPath) {
  return Succeeded(
      ::CreateHardLinkW(WidePath(newPath).c_str(), WidePath(existing).c_str(), nullptr));
}

Status RenameNoReplace(const std::string& oldPath, const std::string& newPath) {
  return Outcome(::MoveFileExW(WidePath(oldPath).c_str(), WidePath(newPath).c_str(),
                               MOVEFILE_WRITE_THROUGH));
}

Status RenameReplace(const std::string& oldPath, const std::string& newPath) {
  return Outcome(::MoveFileExW(WidePath(oldPath).c_str(), WidePath(newPath).c_str(),
                               MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH));
}

Status SetModifiedSeconds(const std::string& path, std::int64_t unixSeconds) {
  return SetWriteTime(path, win32::FileTimeOf(unixSeconds));
}

Status SetModifiedNow(const std::string& path) {
  FILETIME now;
  ::GetSystemTimeAsFileTime(&now);
  return SetWriteTime(path, now);
}

Status SetPermissions(const std::string& path, std::uint32_t permissions) {
  // Only the owner's write bit has a Windows counterpart: the read-only attribute.
  const std::wstring wide = WidePath(path);
  const DWORD attributes = ::GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return Failure(::GetLastError());
  DWORD wanted = (permissions & 0200) ? (attributes & ~FILE_ATTRIBUTE_READONLY)
                                      : (attributes | FILE_ATTRIBUTE_READONLY);
  if (wanted == attributes) return Status();
  if (wanted == 0) wanted = FILE_ATTRIBUTE_NORMAL;
  return Outcome(::SetFileAttributesW(wide.c_str(), wanted));
}

std::uint32_t NewFilePermissions(const void*, std::size_t) {
  // Windows runs a program by its name, not by a bit; every new file is writable.
  return 0666;
}

Status MakePrivateDirectory(const std::string& path) {
  // A directory made under the user's profile (TEMP, LOCALAPPDATA) inherits
  // an access list that admits the user and the administrators only.
  if (!Succeeded(::CreateDirectoryW(WidePath(path).c_str(), nullptr))) {
    const DWORD code = ::GetLastError();
    if (code != ERROR_ALREADY_EXISTS)
      return Status::Failed("cannot create " + Quoted(path), win32::ErrorText(code));
  }
  // Opened as itself: a link is never followed, and what is checked is what
  // stands there now.
  ScopedHandle h(::CreateFileW(WidePath(path).c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES, kShareAll,
                               nullptr, OPEN_EXISTING,
                               FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!h.IsValid()) return Status::Failed("cannot open " + Quoted(path), win32::ErrorText(::GetLastError()));
  BY_HANDLE_FILE_INFORMATION info{};
  if (!Succeeded(::GetFileInformationByHandle(h.get(), &info)))
    return Status::Failed("cannot examine " + Quoted(path), win32::ErrorText(::GetLastError()));
  if (IsLink(info.dwFileAttributes)) return Status::Error(Quoted(path) + " is a link");
  if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
    return Status::Error(Quoted(path) + " is not a directory");
  return CheckOwner(h.get(), path);
}

Status MakeDirectory(const std::string& path) {
  if (path.empty()) return Failure(ERROR_PATH_NOT_FOUND);
  return Outcome(::CreateDirectoryW(WidePath(path).c_str(), nullptr));
}

bool RemoveDirectory(const std::string& path) {
  return !path.empty() && Succeeded(::RemoveDirectoryW(WidePath(path).c_str()));
}

bool ChangeDirectory(const std::string& path) {
  return !path.empty() && Succeeded(::SetCurrentDirectoryW(WidePath(path).c_str()));
}

std::string CurrentDirectory() {
  const DWORD n = ::GetCurrentDirectoryW(0, nullptr);
  if (n == 0) return {};
  std::wstring buffer(n, L'\0');
  const DWORD got = ::GetCurrentDirectoryW(n, buffer.data());
  if (got == 0 || got >= n) return {};
  buffer.resize(got);
  return WithoutLongPrefix(std::move(buffer));
}

std::vector<DirEntry> ListDirectory(const std::string& path) {
  std::vector<DirEntry> entries;
  std::string pattern = path.empty() ? std::string(".") : path;
  if (pattern.back() != '\\' && pattern.back() != '/' && pattern.back() != ':') pattern += '\\';
  pattern += '*';
  WIN32_FIND_DATAW found;
  HANDLE search = ::FindFirstFileExW(WidePath(pattern).c_str(), FindExInfoBasic, &found,
                                     FindExSearchNameMatch, nullptr, 0);
  if (search == INVALID_HANDLE_VALUE) return entries;
  do {
    const std::string name = win32::Utf8(found.cFileName);
    if (name == "." || name == "..") continue;
    DirEntry entry;
    entry.name = name;
    entry.isHidden = name[0] == '.';
    const DWORD a = found.dwFileAttributes;
    entry.isRegular = !(a & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT |
                             FILE_ATTRIBUTE_DEVICE));
    entries.push_back(std::move(entry));
  } while (Succeeded(::FindNextFileW(search, &found)));
  ::FindClose(search);
  return entries;
}

}  // namespace os
