// The start on Windows until the native window exists: no window is shown,
// the run uses the console display (standard error; Ctrl-C, Ctrl-Break and
// closing the console cancel through the console control handler).
#include "ui/window_start.h"

#include "support/ui_hooks.h"

bool TryOpenDisplay() {
  return false;
}

UserInterface& WindowUserInterface() {
  return ConsoleUserInterface();
}

int RunWindow(std::function<void()>) {
  return 1;
}
