#include "window_probe.h"

#include <string>

// GoogleTest before the X11 headers, whose macros (None, Bool) clash with it.
#include <gtest/gtest.h>
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Progress.H>
#include <FL/x.H>

#include "ui/fltk/fltk_window.h"
#include "ui/window_start.h"
#include "x_server.h"

namespace probe {
namespace {

FltkWindow& Fltk(MainWindow& window) { return dynamic_cast<FltkWindow&>(window.Toolkit()); }

std::string LabelOf(const Fl_Widget* widget) { return widget->label() ? widget->label() : ""; }

}  // namespace

std::string WhyNoWindows() {
  if (!xtest::XServer::Instance().Running()) return "Xvfb is not available";
  if (!xtest::HaveProgram("xdotool")) return "xdotool is not available";
  return TryOpenDisplay() ? "" : "the X display cannot be opened";
}

std::string ShownText(MainWindow& window, WindowText which) { return LabelOf(Fltk(window).LabelOf(which)); }

int ShownBar(MainWindow& window) { return static_cast<int>(Fltk(window).progressBar->value()); }

bool CancelButtonEnabled(MainWindow& window) { return Fltk(window).cancelButton->active() != 0; }

bool WindowVisible(MainWindow& window) {
  Fl_Double_Window* shown = Fltk(window).window;
  return shown->shown() && shown->visible();
}

void QueueCancelPress(MainWindow& window) {
  const FltkWindow& fltk = Fltk(window);
  const int x = fltk.window->x() + fltk.cancelButton->x() + fltk.cancelButton->w() / 2;
  const int y = fltk.window->y() + fltk.cancelButton->y() + fltk.cancelButton->h() / 2;
  xtest::Run("xdotool mousemove " + std::to_string(x) + " " + std::to_string(y) + " click 1");
}

}  // namespace probe
