#include "ui/window_start.h"

#include <cstdlib>

#include <FL/Fl.H>
#include <FL/x.H>

#include "ui/fltk/fltk_ui.h"

bool TryOpenDisplay() {
  if (fl_display != nullptr) return true;
  const char* name = std::getenv("DISPLAY");
  if (name == nullptr || *name == '\0') return false;
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) return false;
  fl_open_display(display);
  return true;
}

UserInterface& WindowUserInterface() { return TheFltkUserInterface(); }
