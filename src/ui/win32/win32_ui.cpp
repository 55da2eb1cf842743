#include "ui/win32/win32_ui.h"

#include <chrono>
#include <string>

#include "platform/win32/wide.h"
#include "ui/pump_pacing.h"
#include "ui/win32/win32_window.h"

namespace {

using Clock = std::chrono::steady_clock;

bool displayOpen = false;
Win32Window* mainWindow = nullptr;

// Takes and dispatches one message; false when none was waiting.
bool DispatchOneMessage() {
  MSG msg;
  if (!PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) return false;
  if (msg.message == WM_QUIT) {
    // Only the main loop ends the program.
    PostQuitMessage(static_cast<int>(msg.wParam));
    return false;
  }
  if (mainWindow != nullptr && mainWindow->PreTranslate(msg)) return true;
  TranslateMessage(&msg);
  DispatchMessageW(&msg);
  return true;
}

}  // namespace

using os::win32::Wide;

bool Win32DisplayOpen() { return displayOpen; }
void SetWin32DisplayOpen(bool open) { displayOpen = open; }
void SetMainWindow(Win32Window* window) { mainWindow = window; }

bool DispatchWaitingMessages() {
  bool handled = false;
  while (DispatchOneMessage()) handled = true;
  return handled;
}

int Win32UserInterface::MessageBox(const std::string& text, const std::string& caption, unsigned flags) {
  if (!displayOpen) return ConsoleUserInterface().MessageBox(text, caption, flags);
  HWND owner = mainWindow != nullptr ? mainWindow->hwnd : nullptr;
  if (owner != nullptr && !IsWindowVisible(owner)) owner = nullptr;
  // A drag in progress holds the mouse; the box needs it.
  if (GetCapture() != nullptr) ReleaseCapture();
  const int answer = MessageBoxW(owner, Wide(text).c_str(), Wide(caption).c_str(), flags);
  // 0: the box could not be shown; count it as confirmed as the console does.
  if (answer == 0) return ConsoleUserInterface().MessageBox(text, caption, flags);
  return answer;
}

bool Win32UserInterface::KeyDown(int virtualKey) {
  if (!displayOpen) return false;
  if (virtualKey != kVkShift && virtualKey != kVkControl) return false;
  return (GetKeyState(virtualKey) & 0x8000) != 0;
}

bool Win32UserInterface::PumpMessages(int ms) {
  if (!displayOpen) return false;
  if (ms < 0) return PumpDue() && DispatchWaitingMessages();
  bool handled = false;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    handled = DispatchWaitingMessages() || handled;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) break;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(left), QS_ALLINPUT);
  }
  return handled;
}

Win32UserInterface& TheWin32UserInterface() {
  static Win32UserInterface ui;
  return ui;
}
