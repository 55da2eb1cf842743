#include "ui/window_start.h"

#include <windows.h>

#include <cstdio>
#include <utility>

#include "app/display.h"
#include "support/ui_hooks.h"
#include "ui/form_layout.h"
#include "ui/win32/form.h"
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

int RunWindow(std::function<void()> run) {
  if (!TryOpenDisplay()) return 1;
  TForm1 form(kApplicationTitle, std::move(run));
  if (form.Form == nullptr) return 1;
  SetDisplaySurface(&form);
  ResetDisplayState();
  SetMainForm(&form);
  SetUserInterface(&WindowUserInterface());
  form.Show();
  // Timer1 fires inside this loop; the run's own pumping happens inside
  // its handler. The closed window posts WM_QUIT.
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (form.PreTranslate(msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  SetUserInterface(nullptr);
  SetMainForm(nullptr);
  SetDisplaySurface(nullptr);
  return 0;
}
