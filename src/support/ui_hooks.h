#pragma once
// What the support library asks of the person in front of the program:
// message boxes, the keyboard state and the handling of pending window
// messages. main() installs the window's implementation; without one (and
// wherever there is no display) the console implementation is used: boxes
// print caption and text to standard error and count as confirmed, a Yes/No
// question is answered Yes, no key is held down, and there are no messages.

#include <string>

// Message box flags and answers, as the message box passes and receives them.
inline constexpr unsigned kMbOk = 0x0;
inline constexpr unsigned kMbYesNo = 0x4;
inline constexpr unsigned kMbIconQuestion = 0x20;
inline constexpr unsigned kMbIconExclamation = 0x30;
inline constexpr unsigned kMbSetForeground = 0x10000;
inline constexpr unsigned kMbTopmost = 0x40000;
inline constexpr int kIdOk = 1;
inline constexpr int kIdYes = 6;
inline constexpr int kIdNo = 7;

// Virtual key codes used by KeyDown.
inline constexpr int kVkShift = 0x10;
inline constexpr int kVkControl = 0x11;

class UserInterface {
 public:
  virtual ~UserInterface() = default;
  // Shows a modal box; returns the button pressed (kIdOk, kIdYes, kIdNo).
  virtual int MessageBox(const std::string& text, const std::string& caption, unsigned flags) = 0;
  virtual bool KeyDown(int virtualKey) = 0;
  // Handles pending window messages; ms < 0: only those waiting now.
  // True when at least one was handled.
  virtual bool PumpMessages(int ms) = 0;
};

// The console implementation described above.
UserInterface& ConsoleUserInterface();
// The installed implementation (the console one until main installs another).
UserInterface& CurrentUserInterface();
void SetUserInterface(UserInterface* ui);  // nullptr: back to the console
