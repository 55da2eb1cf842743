// A secret read from the console without echo: os::ReadSecretLine.
#include "platform/win32/wide.h"

#include "platform/os.h"

namespace os {

std::optional<std::string> ReadSecretLine(const std::string& prompt) {
  win32::ScopedHandle in(CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                     nullptr));
  win32::ScopedHandle out(
      CreateFileW(L"CONOUT$", GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!in.IsValid() || !out.IsValid()) return std::nullopt;
  DWORD mode = 0, written = 0;
  GetConsoleMode(in.get(), &mode);
  SetConsoleMode(in.get(), (mode & ~ENABLE_ECHO_INPUT) | ENABLE_LINE_INPUT);
  const std::wstring widePrompt = win32::Wide(prompt);
  WriteConsoleW(out.get(), widePrompt.data(), static_cast<DWORD>(widePrompt.size()), &written, nullptr);
  std::wstring wide;
  wchar_t c = 0;
  DWORD read = 0;
  while (ReadConsoleW(in.get(), &c, 1, &read, nullptr) && read == 1 && c != L'\n') {
    if (c != L'\r') wide += c;
  }
  SetConsoleMode(in.get(), mode);
  WriteConsoleW(out.get(), L"\r\n", 2, &written, nullptr);
  return win32::Utf8(wide);
}

}  // namespace os
