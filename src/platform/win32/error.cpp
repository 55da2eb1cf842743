// The system's texts for failures: win32::ErrorText and win32::Failure.
#include "platform/win32/wide.h"

#include <string>

#include "platform/os.h"

namespace os {

std::string win32::ErrorText(DWORD code) {
  wchar_t* text = nullptr;
  const DWORD n = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring message = n > 0 && text ? std::wstring(text, n) : std::wstring();
  if (text) ::LocalFree(text);
  // The system ends its texts with a line break; a console line has its own.
  while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' || message.back() == L' '))
    message.pop_back();
  if (message.empty()) return "system error " + std::to_string(code);
  return Utf8(message);
}

Status win32::Failure(DWORD code) {
  return Status::Error(ErrorText(code));
}

}  // namespace os
