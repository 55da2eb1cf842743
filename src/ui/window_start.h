#pragma once
// The choice at start (the window or the console) and the window's event
// loop, the same for every toolkit; each platform's ui folder implements it.

#include <functional>

class UserInterface;

// Makes the window system ready for the program's window. False when there
// is none to show a window on (then the console display is used); true at
// once when already ready.
bool TryOpenDisplay();

// The window's message boxes, key state and message handling; main installs
// it after TryOpenDisplay succeeded.
UserInterface& WindowUserInterface();

// Creates the main window titled "Zadovez", installs it as the display surface
// and the window's user interface, and runs the event loop: 2000 ms after the
// window was created run is called, and the window closes when it returns.
// Returns the exit code: 0; 1 without a display (run is not called).
int RunWindow(std::function<void()> run);
