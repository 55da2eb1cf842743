#pragma once
// The choice at start (the window or the console) and the window's event loop.

#include <functional>

// Opens the X display named by DISPLAY for FLTK. False when DISPLAY is unset
// or the display cannot be opened; FLTK's own attempt would print "Can't open
// display" and end the process instead. True at once when already open.
bool TryOpenDisplay();

// Creates the main window titled "Zadovez", installs it as the display surface
// and the FLTK user interface, and runs the event loop: 2000 ms after the
// window was created run is called, and the window closes when it returns.
// Returns the exit code: 0; 1 without a display (run is not called).
int RunWindow(std::function<void()> run);
