#pragma once
// The choice at start (the window or the console) and the window's event
// loop. Each toolkit's ui folder implements TryOpenDisplay and
// WindowUserInterface; RunWindow is the same for every toolkit.

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
// and the window's user interface, and runs the event loop: kStartDelayMs
// after the window was created run is called, and the window closes when it
// returns. Without a display, or when the window cannot be made, run runs
// on the console (RunOnConsole). Returns the exit code, 0.
int RunWindow(std::function<void()> run);
