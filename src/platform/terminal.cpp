#include "platform/terminal.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace os {

#ifdef _WIN32

std::optional<std::string> ReadSecretLine(const std::string& prompt) {
  HANDLE in = CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                          nullptr, OPEN_EXISTING, 0, nullptr);
  HANDLE out = CreateFileW(L"CONOUT$", GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  if (in == INVALID_HANDLE_VALUE || out == INVALID_HANDLE_VALUE) {
    if (in != INVALID_HANDLE_VALUE) CloseHandle(in);
    if (out != INVALID_HANDLE_VALUE) CloseHandle(out);
    return std::nullopt;
  }
  DWORD mode = 0, written = 0;
  GetConsoleMode(in, &mode);
  SetConsoleMode(in, (mode & ~ENABLE_ECHO_INPUT) | ENABLE_LINE_INPUT);
  WriteConsoleA(out, prompt.data(), static_cast<DWORD>(prompt.size()), &written, nullptr);
  std::wstring wide;
  wchar_t c = 0;
  DWORD read = 0;
  while (ReadConsoleW(in, &c, 1, &read, nullptr) && read == 1 && c != L'\n') {
    if (c != L'\r') wide += c;
  }
  SetConsoleMode(in, mode);
  WriteConsoleA(out, "\r\n", 2, &written, nullptr);
  CloseHandle(in);
  CloseHandle(out);
  std::string line;
  if (!wide.empty()) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                         nullptr, nullptr);
    line.resize(static_cast<std::size_t>(size));
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), line.data(), size, nullptr,
                        nullptr);
  }
  return line;
}

#else

std::optional<std::string> ReadSecretLine(const std::string& prompt) {
  const int fd = open("/dev/tty", O_RDWR | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  termios saved{};
  const bool isTerminal = tcgetattr(fd, &saved) == 0;
  if (isTerminal) {
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    quiet.c_lflag |= ICANON;
    tcsetattr(fd, TCSAFLUSH, &quiet);
  }
  [[maybe_unused]] ssize_t w = write(fd, prompt.data(), prompt.size());
  std::string line;
  char c = 0;
  while (read(fd, &c, 1) == 1 && c != '\n') {
    if (c != '\r') line += c;
  }
  if (isTerminal) tcsetattr(fd, TCSAFLUSH, &saved);
  w = write(fd, "\n", 1);
  close(fd);
  return line;
}

#endif

}  // namespace os
