#pragma once
// The user interface of the window (see support/ui_hooks.h): modal message
// boxes above the main window, the real keyboard state, and the handling of
// pending FLTK events. Needs a display opened by TryOpenDisplay; without one
// every call falls back to the console interface.

#include <string>

#include "support/ui_hooks.h"

class FltkUserInterface : public UserInterface {
 public:
  // Exclamation icon for kMbIconExclamation, question mark for
  // kMbIconQuestion, no icon otherwise; Yes and No for kMbYesNo, else OK.
  // Return presses the first button; Escape and closing the box answer OK
  // (an OK box) and are ignored (a Yes/No box).
  int MessageBox(const std::string& text, const std::string& caption, unsigned flags) override;
  // kVkShift and kVkControl, either side; other keys are never reported down.
  bool KeyDown(int virtualKey) override;
  bool PumpMessages(int ms) override;
};

// The one instance main and the window install.
FltkUserInterface& TheFltkUserInterface();

// Handles the FLTK events waiting now (Fl::check); true when there were
// any. PumpMessages(-1) does so at the pace of ui/pump_pacing.h.
bool HandleFltkEventsNow();

// Label text for FLTK, which reads '@' as the start of a symbol.
std::string FltkLabelText(const std::string& text);
