#pragma once
// What the toolkit shows, read back from the toolkit itself, and input
// queued for the window as a user gives it: the part of the window tests
// that differs between toolkits. window_probe_fltk.cpp and
// ../win32/window_probe_win32.cpp implement it.

#include <string>

#include "ui/window_core.h"

namespace probe {

// Empty when windows can be shown here; else why not (the test skips).
std::string WhyNoWindows();
std::string ShownText(MainWindow& window, WindowText which);
int ShownBar(MainWindow& window);
bool CancelButtonEnabled(MainWindow& window);
bool WindowVisible(MainWindow& window);
// Queues a press of the Cancel button; the window sees it when it next
// handles its events.
void QueueCancelPress(MainWindow& window);

}  // namespace probe
