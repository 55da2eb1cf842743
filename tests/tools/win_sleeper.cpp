// A tiny Windows program for the tests: it runs until the file named by its
// first argument exists (or 60 s have passed), so that a test can hold a
// program open as "in use" and end it when it wants. With a second argument
// it first creates that file, to say it has started.
#include <windows.h>

#include <cstdio>

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 2;
  if (argc >= 3) {
    HANDLE started = ::CreateFileW(argv[2], GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
    if (started != INVALID_HANDLE_VALUE) ::CloseHandle(started);
  }
  for (int waited = 0; waited < 60000; waited += 50) {
    if (::GetFileAttributesW(argv[1]) != INVALID_FILE_ATTRIBUTES) return 0;
    ::Sleep(50);
  }
  return 1;
}
