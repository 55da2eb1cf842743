#pragma once
// The user interface of the window on Windows (see support/ui_hooks.h):
// MessageBoxW boxes owned by the main window, the key state from
// GetKeyState, and the handling of pending messages with PeekMessage.
// Without a desktop to show windows on (TryOpenDisplay false) every call
// falls back to the console interface.

#include <windows.h>

#include <string>

#include "support/ui_hooks.h"

class TForm1;

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
void SetMainForm(TForm1* form);

// Notes that the window shows something new: the next PumpWin32Messages
// draws it at once.
void NoteVisibleChange();
// Handles the messages waiting now. Unless a visible change is pending this
// happens at most every kPumpIntervalMs, so that a transfer reporting every
// block is not slowed down; true when messages were waiting. Both the
// window's Pump and PumpMessages(-1) come here.
inline constexpr int kPumpIntervalMs = 50;
bool PumpWin32Messages();
// Takes and dispatches one message; false when none was waiting. A WM_QUIT
// taken here is posted again for the main loop.
bool DispatchOneMessage();
