#pragma once
// The user interface of the window on Windows (see support/ui_hooks.h):
// MessageBoxW boxes owned by the main window, the key state from
// GetKeyState, and the handling of pending messages with PeekMessage.
// Without a desktop to show windows on (TryOpenDisplay false) every call
// falls back to the console interface.

#include <windows.h>

#include <string>

#include "support/ui_hooks.h"

class Win32Window;

class Win32UserInterface : public UserInterface {
 public:
  // MessageBoxW with the flags as given (they are the Win32 MB_ values),
  // owned by the main window while it exists, so that it stands above it.
  int MessageBox(const std::string& text, const std::string& caption, unsigned flags) override;
  // kVkShift and kVkControl, either side; other keys are never reported down.
  bool KeyDown(int virtualKey) override;
  bool PumpMessages(int ms) override;
};

// The one instance main and the window install.
Win32UserInterface& TheWin32UserInterface();

// Whether windows can be shown (set by TryOpenDisplay).
bool Win32DisplayOpen();
void SetWin32DisplayOpen(bool open);

// The main window that owns the boxes and sees Escape first (nullptr: none).
void SetMainWindow(Win32Window* window);

// Takes and dispatches the messages waiting now; true when there were any.
// A WM_QUIT taken here is posted again for the main loop. PumpMessages(-1)
// does so at the pace of ui/pump_pacing.h.
bool DispatchWaitingMessages();
