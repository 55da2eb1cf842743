// UTF-8 <-> UTF-16 conversion at the Windows seam.
#include "platform/win32/wide.h"

namespace os::win32 {

std::wstring Wide(std::string_view text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  const int n = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
  if (n <= 0) return {};
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, text.data(), size, wide.data(), n);
  return wide;
}

std::string Utf8(std::wstring_view text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return {};
  std::string utf8(static_cast<std::size_t>(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), size, utf8.data(), n, nullptr, nullptr);
  return utf8;
}

std::wstring WidePath(std::string_view path) {
  std::wstring wide = Wide(path);
  for (wchar_t& c : wide)
    if (c == L'/') c = L'\\';
  // Below the classic limit (less room for a file name in a directory) the
  // path goes as it is; "\\?\" turns off every rewriting of the name.
  constexpr std::size_t kClassicLimit = MAX_PATH - 12;
  if (wide.size() < kClassicLimit || wide.rfind(L"\\\\?\\", 0) == 0) return wide;
  // The prefix also turns off the handling of "." and ".."; resolve them first.
  const DWORD n = ::GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (n > 0) {
    std::wstring full(n, L'\0');
    const DWORD got = ::GetFullPathNameW(wide.c_str(), n, full.data(), nullptr);
    if (got > 0 && got < n) wide = full.substr(0, got);
  }
  const bool drive = wide.size() >= 3 && wide[1] == L':' && wide[2] == L'\\';
  const bool unc = wide.rfind(L"\\\\", 0) == 0;
  if (drive) return L"\\\\?\\" + wide;
  if (unc) return L"\\\\?\\UNC\\" + wide.substr(2);
  return wide;
}

}  // namespace os::win32
