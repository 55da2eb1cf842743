#pragma once
// Shared by the Windows backend files: UTF-8 <-> UTF-16 at the seam, a
// handle that closes itself, and FILETIME <-> Unix time.

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// os::RemoveDirectory is the program's own; the header's macro would rename it.
#undef RemoveDirectory

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "platform/status.h"

namespace os::win32 {

// The program's UTF-8 text as UTF-16 for the wide API; invalid bytes become
// U+FFFD, so a bad name fails to open rather than opening another file.
std::wstring Wide(std::string_view text);
// UTF-16 from the wide API as the program's UTF-8 text.
std::string Utf8(std::wstring_view text);

// A path for the wide file API: delimiters made '\', and an absolute path
// too long for the classic limit given the "\\?\" prefix, so that no path
// is refused for its length.
std::wstring WidePath(std::string_view path);

// Whether a Win32 call succeeded; GetLastError() holds the cause when it
// did not.
inline bool Succeeded(BOOL rc) {
  return rc != FALSE;
}

// The system's text for an error code ("There is not enough space on the disk.").
std::string ErrorText(DWORD code);
// A failed Status whose message is the system's text for code.
Status Failure(DWORD code);
// The result of a Win32 call for the caller: OK, or GetLastError()'s cause.
inline Status Outcome(BOOL rc) {
  return Succeeded(rc) ? Status() : Failure(::GetLastError());
}

// Whether owner is this process's account: its user, or the owner its token
// gives new objects (an elevated administrator's are the Administrators').
bool IsThisAccount(PSID owner);

// Closes a kernel handle when it goes.
class ScopedHandle {
 public:
  explicit ScopedHandle(HANDLE handle = INVALID_HANDLE_VALUE) : handle_(handle) {}
  ~ScopedHandle() { Close(); }
  ScopedHandle(ScopedHandle&& other) noexcept
      : handle_(std::exchange(other.handle_, INVALID_HANDLE_VALUE)) {}
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  bool IsValid() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
  HANDLE get() const { return handle_; }
  bool Close() {
    if (!IsValid()) return true;
    return Succeeded(::CloseHandle(std::exchange(handle_, INVALID_HANDLE_VALUE)));
  }

 private:
  HANDLE handle_;
};

// FILETIME counts 100-ns intervals since 1601-01-01 (UTC).
inline constexpr std::int64_t kFileTimeTicksPerSecond = 10000000;
inline constexpr std::int64_t kUnixEpochInFileTimeSeconds = 11644473600;

inline std::int64_t UnixSecondsOf(const FILETIME& ft) {
  const std::int64_t ticks =
      static_cast<std::int64_t>((static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime);
  return ticks / kFileTimeTicksPerSecond - kUnixEpochInFileTimeSeconds;
}

inline FILETIME FileTimeOf(std::int64_t unixSeconds) {
  const std::uint64_t ticks =
      static_cast<std::uint64_t>(unixSeconds + kUnixEpochInFileTimeSeconds) * kFileTimeTicksPerSecond;
  FILETIME ft;
  ft.dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFFu);
  ft.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  return ft;
}

}  // namespace os::win32
