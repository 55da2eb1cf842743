#include "window/window_probe.h"

#include <windows.h>
#include <commctrl.h>

#include <string>

#include "platform/win32/wide.h"
#include "ui/win32/win32_window.h"
#include "ui/window_start.h"

namespace probe {
namespace {

Win32Window& Win32(MainWindow& window) { return dynamic_cast<Win32Window&>(window.Toolkit()); }

std::string TextOf(HWND hwnd) {
  wchar_t text[1024] = {};
  GetWindowTextW(hwnd, text, 1024);
  return os::win32::Utf8(text);
}

}  // namespace

std::string WhyNoWindows() { return TryOpenDisplay() ? "" : "no desktop to show windows on"; }

std::string ShownText(MainWindow& window, WindowText which) {
  const Win32Window& win32 = Win32(window);
  return which == WindowText::Caption ? win32.Caption() : TextOf(win32.LabelOf(which));
}

int ShownBar(MainWindow& window) {
  return static_cast<int>(SendMessageW(Win32(window).progressBar, PBM_GETPOS, 0, 0));
}

bool CancelButtonEnabled(MainWindow& window) { return IsWindowEnabled(Win32(window).cancelButton) != FALSE; }

bool WindowVisible(MainWindow& window) { return IsWindowVisible(Win32(window).hwnd) != FALSE; }

void QueueCancelPress(MainWindow& window) {
  const Win32Window& win32 = Win32(window);
  PostMessageW(win32.hwnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
               reinterpret_cast<LPARAM>(win32.cancelButton));
}

}  // namespace probe
