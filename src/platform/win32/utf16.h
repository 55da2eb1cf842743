#pragma once
// Texts are UTF-8 inside the program and UTF-16 at the wide Win32 API; the
// conversion happens here, at the seam, so non-ASCII paths and addresses work.

#include <string>
#include <string_view>

#include <windows.h>

namespace os::win32 {

// The UTF-16 form of UTF-8 text; empty when text is not valid UTF-8, so that
// a damaged name can never open some other file.
inline std::wstring Widen(std::string_view text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  const int n = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
  if (n <= 0) return {};
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, wide.data(), n);
  return wide;
}

}  // namespace os::win32
