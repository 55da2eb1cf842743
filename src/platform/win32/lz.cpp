// The SZDD decoder on Windows: the system's LZ32, handed the program's open
// files. The container around it (header, length check, the file beside the
// target) is portable: support/lz_file.cpp.
//
// LZ32 is handed handles rather than names (LZOpenFile goes through
// OpenFile: ANSI names of at most 128 characters), so long and non-ASCII
// paths work and the source is the very file checked.
#include <cstdint>

// wide.h brings <windows.h> with the backend's macro settings.
#include "platform/win32/wide.h"
#include <lzexpand.h>

#include "platform/os.h"

namespace os {
namespace {

// LZ32 and the old file routines take a handle as a 32-bit HFILE; kernel
// handles are 32-bit significant, so the narrowing is lossless.
INT AsHfile(HANDLE handle) { return static_cast<INT>(reinterpret_cast<std::intptr_t>(handle)); }

// What a failed LZ32 call leaves: the system's cause of a failed read or
// write, else a stream that does not decode (false).
StatusOr<bool> LzOutcome(DWORD code) {
  if (code == ERROR_SUCCESS) return false;
  return win32::Failure(code);
}

}  // namespace

StatusOr<bool> ExpandSzdd(File& source, File& target) {
  if (Status rewound = source.Seek(0); !rewound.ok()) return rewound;
  // LZClose closes the handle it was given, so LZ32 gets a duplicate.
  HANDLE copy = nullptr;
  if (!DuplicateHandle(GetCurrentProcess(), reinterpret_cast<HANDLE>(source.handle_),
                       GetCurrentProcess(), &copy, 0, FALSE, DUPLICATE_SAME_ACCESS))
    return win32::Failure(::GetLastError());
  // A stream that does not decode leaves no system error behind.
  ::SetLastError(ERROR_SUCCESS);
  const INT in = LZInit(AsHfile(copy));
  if (in < 0) {
    const DWORD code = ::GetLastError();
    CloseHandle(copy);
    return LzOutcome(code);
  }
  const LONG written = LZCopy(in, AsHfile(reinterpret_cast<HANDLE>(target.handle_)));
  const DWORD code = ::GetLastError();
  LZClose(in);
  return written >= 0 ? StatusOr<bool>(true) : LzOutcome(code);
}

}  // namespace os
