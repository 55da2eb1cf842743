#include "ui/window_start.h"

#include <windows.h>

#include <cstdio>

#include "ui/win32/win32_ui.h"

namespace {

bool ValidHandle(DWORD which) {
  HANDLE h = GetStdHandle(which);
  return h != nullptr && h != INVALID_HANDLE_VALUE;
}

// A GUI program gets no console of its own. Started from a console, its
// standard output and error go to that console (the run's account with /Log,
// the console display); handles it was given (a file, a pipe) are kept, and
// started from the desktop it writes nowhere. Runs before main.
struct ParentConsole {
  ParentConsole() {
    const bool out = ValidHandle(STD_OUTPUT_HANDLE);
    const bool err = ValidHandle(STD_ERROR_HANDLE);
    if ((out && err) || !AttachConsole(ATTACH_PARENT_PROCESS)) return;
    if (!out) std::freopen("CONOUT$", "w", stdout);
    if (!err) std::freopen("CONOUT$", "w", stderr);
  }
};
const ParentConsole parentConsole;

}  // namespace

bool TryOpenDisplay() {
  if (Win32DisplayOpen()) return true;
  // A service runs in a window station without a visible desktop: a box
  // there would wait for an answer nobody can give.
  USEROBJECTFLAGS flags{};
  HWINSTA station = GetProcessWindowStation();
  if (station == nullptr ||
      !GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, nullptr) ||
      (flags.dwFlags & WSF_VISIBLE) == 0) {
    return false;
  }
  // Without a display driver (Wine without an X display) no window can be
  // created at all.
  HWND probe = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                               GetModuleHandleW(nullptr), nullptr);
  if (probe == nullptr) return false;
  DestroyWindow(probe);
  SetWin32DisplayOpen(true);
  return true;
}

UserInterface& WindowUserInterface() { return TheWin32UserInterface(); }
