// LZ expansion of MS COMPRESS "SZDD" files with the system's LZ32. The result
// is written to a temporary file beside the target and moved over it only
// when it is complete: LZCopy accepts a truncated stream and ignores the
// length in the header, so the expanded size is checked against that length
// here (mend: a truncated .ex_ would otherwise be installed as a corrupt
// executable).
//
// LZ32 is handed handles opened here with the wide API rather than names
// (LZOpenFile goes through OpenFile: ANSI names of at most 128 characters),
// so long and non-ASCII paths work and the source is the very file checked.
#include <cstdint>
#include <cstring>
#include <string>

// wide.h brings <windows.h> with the backend's macro settings.
#include "platform/win32/wide.h"
#include <lzexpand.h>

#include "platform/os.h"

namespace os {
namespace {

constexpr unsigned char kSzddSignature[8] = {'S', 'Z', 'D', 'D', 0x88, 0xF0, 0x27, 0x33};
constexpr std::size_t kSzddHeaderSize = 14;  // signature, mode, missing char, length
constexpr std::size_t kLengthOffset = 10;
constexpr DWORD kCopyBlock = 1 << 20;
constexpr int kTempAttempts = 100;


// LZ32 and the old file routines take a handle as a 32-bit HFILE; kernel
// handles are 32-bit significant, so the narrowing is lossless.
INT AsHfile(HANDLE handle) { return static_cast<INT>(reinterpret_cast<std::intptr_t>(handle)); }

bool ReadFull(HANDLE file, void* buffer, DWORD size, DWORD& done) {
  done = 0;
  while (done < size) {
    DWORD n = 0;
    if (!ReadFile(file, static_cast<char*>(buffer) + done, size - done, &n, nullptr)) return false;
    if (n == 0) break;
    done += n;
  }
  return true;
}

bool WriteFull(HANDLE file, const void* data, DWORD size) {
  DWORD done = 0;
  while (done < size) {
    DWORD n = 0;
    if (!WriteFile(file, static_cast<const char*>(data) + done, size - done, &n, nullptr) || n == 0)
      return false;
    done += n;
  }
  return true;
}

bool Rewind(HANDLE file) {
  LARGE_INTEGER zero{};
  return SetFilePointerEx(file, zero, nullptr, FILE_BEGIN) != 0;
}

std::int64_t SizeOf(HANDLE file) {
  LARGE_INTEGER size{};
  return GetFileSizeEx(file, &size) ? size.QuadPart : -1;
}

// Opens source for reading: an ordinary file, not a directory or a link.
win32::ScopedHandle OpenSource(const std::wstring& path) {
  win32::ScopedHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  BY_HANDLE_FILE_INFORMATION info{};
  if (!file.IsValid() || !GetFileInformationByHandle(file.get(), &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0)
    return win32::ScopedHandle();
  return file;
}

// Creates a new temporary file beside target; its path goes to tempPath.
win32::ScopedHandle CreateTemp(const std::wstring& target, std::wstring& tempPath) {
  const unsigned long process = GetCurrentProcessId();
  for (int attempt = 0; attempt < kTempAttempts; ++attempt) {
    const unsigned long long stamp = GetTickCount64() + static_cast<unsigned long long>(attempt);
    tempPath = target + L".lz~" + std::to_wstring(process) + L"-" + std::to_wstring(stamp);
    win32::ScopedHandle file(CreateFileW(tempPath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.IsValid()) return file;
    if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) break;
  }
  tempPath.clear();
  return win32::ScopedHandle();
}

// Expands the SZDD stream of in into out; true when LZ32 reports no error and
// out holds exactly the length the header announces.
bool ExpandSzdd(HANDLE in, HANDLE out, std::uint32_t expected) {
  // LZClose closes the handle it was given, so LZ32 gets a duplicate.
  HANDLE copy = nullptr;
  if (!Rewind(in) || !DuplicateHandle(GetCurrentProcess(), in, GetCurrentProcess(), &copy, 0, FALSE,
                                      DUPLICATE_SAME_ACCESS))
    return false;
  const INT source = LZInit(AsHfile(copy));
  if (source < 0) {
    CloseHandle(copy);
    return false;
  }
  const LONG written = LZCopy(source, AsHfile(out));
  LZClose(source);
  return written >= 0 && SizeOf(out) == static_cast<std::int64_t>(expected);
}

bool CopyUnchanged(HANDLE in, HANDLE out) {
  if (!Rewind(in)) return false;
  std::string buffer(kCopyBlock, '\0');
  for (;;) {
    DWORD n = 0;
    if (!ReadFull(in, buffer.data(), kCopyBlock, n)) return false;
    if (n == 0) return true;
    if (!WriteFull(out, buffer.data(), n)) return false;
  }
}

}  // namespace

bool LzExpandFile(const std::string& source, const std::string& target) {
  const std::wstring sourcePath = win32::WidePath(source);
  const std::wstring targetPath = win32::WidePath(target);
  if (sourcePath.empty() || targetPath.empty()) return false;
  // A stream that does not decode leaves no system error behind; one that
  // cannot be written does (LastErrorText tells which).
  ::SetLastError(ERROR_SUCCESS);
  win32::ScopedHandle in = OpenSource(sourcePath);
  if (!in.IsValid()) return false;

  unsigned char header[kSzddHeaderSize] = {};
  DWORD headerBytes = 0;
  if (!ReadFull(in.get(), header, sizeof header, headerBytes)) return false;
  const bool szdd = headerBytes >= sizeof kSzddSignature &&
                    std::memcmp(header, kSzddSignature, sizeof kSzddSignature) == 0;
  const std::uint32_t expected = static_cast<std::uint32_t>(header[kLengthOffset]) |
                                 static_cast<std::uint32_t>(header[kLengthOffset + 1]) << 8 |
                                 static_cast<std::uint32_t>(header[kLengthOffset + 2]) << 16 |
                                 static_cast<std::uint32_t>(header[kLengthOffset + 3]) << 24;

  std::wstring tempPath;
  win32::ScopedHandle out = CreateTemp(targetPath, tempPath);
  if (!out.IsValid()) return false;
  bool ok = szdd ? headerBytes == kSzddHeaderSize && ExpandSzdd(in.get(), out.get(), expected)
                 : CopyUnchanged(in.get(), out.get());
  ok = ok && FlushFileBuffers(out.get()) != 0;
  ok = out.Close() && ok;
  ok = ok && MoveFileExW(tempPath.c_str(), targetPath.c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
  if (!ok) {
    const DWORD code = ::GetLastError();
    DeleteFileW(tempPath.c_str());
    ::SetLastError(code);
  }
  return ok;
}

}  // namespace os
