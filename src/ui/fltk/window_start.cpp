#include "ui/window_start.h"

#include <cstdlib>
#include <utility>

#include <FL/Fl.H>
#include <FL/x.H>

#include "app/display.h"
#include "support/ui_hooks.h"
#include "ui/fltk/fltk_ui.h"
#include "ui/fltk/form.h"

bool TryOpenDisplay() {
  if (fl_display != nullptr) return true;
  const char* name = std::getenv("DISPLAY");
  if (name == nullptr || *name == '\0') return false;
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) return false;
  fl_open_display(display);
  return true;
}

UserInterface& WindowUserInterface() {
  return TheFltkUserInterface();
}

int RunWindow(std::function<void()> run) {
  if (!TryOpenDisplay()) return 1;
  TForm1 form(kApplicationTitle, std::move(run));
  SetDisplaySurface(&form);
  ResetDisplayState();
  SetUserInterface(&TheFltkUserInterface());
  form.Show();
  Fl::run();
  SetUserInterface(nullptr);
  SetDisplaySurface(nullptr);
  return 0;
}
