// The FLTK window under a private Xvfb, driven as a user would with
// xdotool: layout, pictures on screen, Escape, the close glyph, dragging,
// the error box, and screenshots. What every toolkit shares is tested in
// window_core_test.cpp.
#include "ui/fltk/fltk_window.h"

#include <chrono>
#include <string>

// GoogleTest before the X11 headers, whose macros (None, Bool) clash with it.
#include <gtest/gtest.h>
#include <FL/Fl.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Progress.H>
#include <FL/x.H>

#include "app/context/display.h"
#include "app/context/run_context.h"
#include "support/lingua.h"
#include "support/ui_hooks.h"
#include "ui/fltk/fltk_ui.h"
#include "ui/window_start.h"
#include "window_look.h"
#include "x_server.h"

namespace {

using xtest::Capture;
using xtest::Rgb;
using xtest::Screenshot;
using xtest::kBarFill;
using xtest::kBarY;
using xtest::kFace;
using xtest::kLeft;
using xtest::kPureBlue;
using xtest::kStripFreeX;
using xtest::kTop;
using xtest::Same;

// The window and its FLTK widgets.
struct Form {
  MainWindow& core;
  FltkWindow& fltk;
  Fl_Double_Window* window() const { return fltk.window; }
  void Pump() const { core.Pump(); }
};

std::string Id(const Form& form) { return std::to_string(fl_xid(form.window())); }

// Runs the window through RunWindow; body is the run, given the window.
void RunForm(const std::function<void(Form&)>& body) {
  const int code = RunWindow([&] {
    auto* core = dynamic_cast<MainWindow*>(&CurrentDisplaySurface());
    ASSERT_NE(core, nullptr);
    Form form{*core, dynamic_cast<FltkWindow&>(core->Toolkit())};
    xtest::Settle();
    body(form);
  });
  EXPECT_EQ(code, 0);
}

// The letter of the embedded picture that the screen shows in the strip.
char PictureOnScreen(const Form& form, const std::string& name) {
  return xtest::PictureShown(Screenshot(name), form.window()->x(), form.window()->y());
}

// Moves the pointer there and clicks (the server handles both in order).
void Click(int x, int y, int button = 1) {
  xtest::Run("xdotool mousemove " + std::to_string(x) + " " + std::to_string(y) + " click " +
      std::to_string(button));
}

class FltkForm : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!xtest::XServer::Instance().Running()) GTEST_SKIP() << "Xvfb is not available";
    if (!xtest::HaveProgram("xdotool") || !xtest::HaveProgram("xwininfo")) {
      GTEST_SKIP() << "xdotool or xwininfo is not available";
    }
    ASSERT_TRUE(TryOpenDisplay());
    ResetCancelForTests();
    SetLanguage('E');
  }
};

TEST_F(FltkForm, IsBorderlessCentredWithClientSizeAndTitle) {
  RunForm([](Form& form) {
    const unsigned long xid = fl_xid(form.window());
    EXPECT_EQ(xtest::WinInfo(xid, "Width:"), kFormWidth);
    EXPECT_EQ(xtest::WinInfo(xid, "Height:"), kFormHeight);
    EXPECT_EQ(xtest::WinInfo(xid, "Absolute upper-left X:"), kLeft);
    EXPECT_EQ(xtest::WinInfo(xid, "Absolute upper-left Y:"), kTop);
    EXPECT_EQ(xtest::WinInfo(xid, "Border width:"), 0);
    EXPECT_NE(Capture("xprop -id " + Id(form) + " WM_NAME").find("\"Zadovez\""), std::string::npos);
    EXPECT_EQ(form.window()->border(), 0);
  });
}

TEST_F(FltkForm, ShowsStartPictureThenTheChosenOne) {
  RunForm([](Form& form) {
    for (char letter : {'0', 'C', 'D'}) EXPECT_TRUE(form.core.IllustrationLoaded(letter)) << letter;
    EXPECT_EQ(form.core.VisibleIllustration(), '0');
    EXPECT_EQ(PictureOnScreen(form, "picture-start"), '0');

    const struct {
      char letter;
      char shown;
    } cases[] = {{'d', 'D'}, {'C', 'C'}, {'x', '0'}, {'D', 'D'}, {'c', 'C'}};
    for (const auto& c : cases) {
      ShowIllustration(c.letter);
      xtest::Settle();
      EXPECT_EQ(form.core.VisibleIllustration(), c.shown) << c.letter;
      EXPECT_EQ(PictureOnScreen(form, std::string("picture-") + c.letter), c.shown) << c.letter;
    }
  });
}

TEST_F(FltkForm, EscapePressesCancelWithoutClosing) {
  RunForm([](Form& form) {
    xtest::Run("xdotool key --window " + Id(form) + " Escape 2>/dev/null");
    ASSERT_TRUE(xtest::PumpUntil(CancelRequested, 5000, [&] { form.Pump(); }));
    EXPECT_FALSE(form.fltk.cancelButton->active());
    // A second Escape meets a disabled button and must not close the window.
    xtest::Run("xdotool key --window " + Id(form) + " Escape 2>/dev/null");
    xtest::PumpFor(300, [&] { form.Pump(); });
    EXPECT_TRUE(form.window()->shown());
  });
}

TEST_F(FltkForm, CloseGlyphRequestsCancelWithoutClosing) {
  RunForm([](Form& form) {
    Click(form.window()->x() + form.fltk.closeButton->x() + 8, form.window()->y() + form.fltk.closeButton->y() + 8);
    ASSERT_TRUE(xtest::PumpUntil(CancelRequested, 5000, [&] { form.Pump(); }));
    EXPECT_FALSE(form.fltk.cancelButton->active());
    EXPECT_TRUE(form.window()->shown());
    EXPECT_NE(Capture("xwininfo -id " + Id(form)).find("Map State: IsViewable"), std::string::npos);
  });
}

TEST_F(FltkForm, DraggingTheCaptionBarMovesTheWindowWithAnyButton) {
  RunForm([](Form& form) {
    int left = form.window()->x();
    int top = form.window()->y();
    const struct {
      int button, dx, dy;
    } drags[] = {{1, 60, 40}, {3, -100, -25}, {2, 7, 0}};
    for (const auto& d : drags) {
      const int x = left + 150;
      const int y = top + 9;
      xtest::Run("xdotool mousemove " + std::to_string(x) + " " + std::to_string(y) + " mousedown " +
          std::to_string(d.button));
      xtest::PumpFor(100, [&] { form.Pump(); });
      // In steps, as a hand moves the mouse.
      for (int step = 1; step <= 4; ++step) {
        xtest::Run("xdotool mousemove " + std::to_string(x + d.dx * step / 4) + " " +
            std::to_string(y + d.dy * step / 4));
        xtest::PumpFor(60, [&] { form.Pump(); });
      }
      xtest::Run("xdotool mouseup " + std::to_string(d.button));
      xtest::PumpFor(100, [&] { form.Pump(); });
      xtest::Settle();
      left += d.dx;
      top += d.dy;
      EXPECT_EQ(xtest::WinInfo(fl_xid(form.window()), "Absolute upper-left X:"), left) << d.button;
      EXPECT_EQ(xtest::WinInfo(fl_xid(form.window()), "Absolute upper-left Y:"), top) << d.button;
      // Drawn again where it now stands.
      xtest::PumpFor(100, [&] { form.Pump(); });
      EXPECT_EQ(xtest::PictureShown(Screenshot("drag-" + std::to_string(d.button)), left, top), '0')
          << d.button;
    }
    // Moving over the caption bar without a button held does nothing.
    xtest::Run("xdotool mousemove " + std::to_string(left + 200) + " " + std::to_string(top + 9));
    xtest::Run("xdotool mousemove " + std::to_string(left + 240) + " " + std::to_string(top + 12));
    xtest::PumpFor(100, [&] { form.Pump(); });
    EXPECT_EQ(form.window()->x(), left);
    EXPECT_FALSE(CancelRequested());
  });
}

TEST_F(FltkForm, AFastDragBetweenTwoPumpsStillMovesTheWindow) {
  RunForm([](Form& form) {
    const int left = form.window()->x();
    const int top = form.window()->y();
    const int x = left + 150;
    const int y = top + 9;
    // Press, motion and release all reach the server before the next pump,
    // as in a busy run or a quick flick.
    xtest::Run("xdotool mousemove " + std::to_string(x) + " " + std::to_string(y) +
               " mousedown 1 mousemove " + std::to_string(x + 70) + " " + std::to_string(y + 45) +
               " mousemove " + std::to_string(x + 90) + " " + std::to_string(y + 50) + " mouseup 1");
    XSync(fl_display, False);  // every event is queued for this process now
    Fl::check();                // one pump handles them all
    xtest::Settle();
    EXPECT_EQ(xtest::WinInfo(fl_xid(form.window()), "Absolute upper-left X:"), left + 90);
    EXPECT_EQ(xtest::WinInfo(fl_xid(form.window()), "Absolute upper-left Y:"), top + 50);
    // The motion handed over after the release moves nothing further.
    xtest::PumpFor(100, [&] { form.Pump(); });
    EXPECT_EQ(form.window()->x(), left + 90);
    EXPECT_EQ(form.window()->y(), top + 50);
  });
}

TEST_F(FltkForm, ErrorBoxIsAboveTheWindowAndReturnDismissesIt) {
  RunForm([](Form& form) {
    const ::Window formXid = fl_xid(form.window());
    int formIndex = -1;
    int boxIndex = -1;
    const xtest::BoxRun box = xtest::DriveBox(
        [] { return ErrorBox("cannot copy \"a\" to \"b\"") ? 1 : 0; },
        [&](Fl_Window& shown) {
          // The root's children, bottom to top.
          ::Window root, parent, *children = nullptr;
          unsigned count = 0;
          XQueryTree(fl_display, RootWindow(fl_display, fl_screen), &root, &parent, &children, &count);
          for (unsigned i = 0; i < count; ++i) {
            if (children[i] == fl_xid(&shown)) boxIndex = static_cast<int>(i);
            if (children[i] == formXid) formIndex = static_cast<int>(i);
          }
          if (children) XFree(children);
          xtest::KeysTo(fl_xid(&shown), "Return");
        });
    EXPECT_FALSE(box.timedOut);
    EXPECT_EQ(box.title, "Error");
    EXPECT_EQ(box.labels, (std::vector<std::string>{"!", "cannot copy \"a\" to \"b\"", "OK"}));
    ASSERT_GE(formIndex, 0);
    EXPECT_GT(boxIndex, formIndex);
    // The run goes on with the window.
    ShowStatus("installing");
    EXPECT_STREQ(form.fltk.statusLine->label(), "installing");
    EXPECT_TRUE(form.window()->shown());
  });
}

// Screen colour at window coordinates (x, y).
Rgb At(const Screenshot& shot, const Form& form, int x, int y) {
  return shot.At(form.window()->x() + x, form.window()->y() + y);
}

// The three states of a run, kept as artefacts (window-*.png under the build
// directory) and checked at a few pixels.
TEST_F(FltkForm, ScreenshotsOfStartDownloadingAndCompleted) {
  RunForm([](Form& form) {
    const int barLeft = form.fltk.progressBar->x();
    const int barRight = barLeft + form.fltk.progressBar->w() - 1;
    {
      const Screenshot shot("window-start");
      ASSERT_TRUE(shot.Ok());
      EXPECT_TRUE(Same(At(shot, form, kStripFreeX, 150), kPureBlue));
      EXPECT_TRUE(Same(At(shot, form, kStripFreeX, kFormHeight - 4), kPureBlue));
      EXPECT_TRUE(Same(At(shot, form, barLeft + 5, kBarY), kFace));
    }
    ShowIllustration('D');
    ShowHost("http://updates.example.com/zadovez/");
    ShowUpdateId("2024-05-a");
    ShowStatus("downloading");
    ShowProgress(48);
    xtest::Settle();
    {
      const Screenshot shot("window-downloading");
      ASSERT_TRUE(shot.Ok());
      EXPECT_TRUE(Same(At(shot, form, kStripFreeX, 150), kPureBlue));
      EXPECT_TRUE(Same(At(shot, form, barLeft + 5, kBarY), kBarFill));
      EXPECT_TRUE(Same(At(shot, form, barLeft + 180, kBarY), kBarFill));
      EXPECT_TRUE(Same(At(shot, form, barLeft + 200, kBarY), kFace));
      EXPECT_TRUE(Same(At(shot, form, barRight - 5, kBarY), kFace));
      EXPECT_EQ(PictureOnScreen(form, "window-downloading-picture"), 'D');
      xtest::CropWindow(shot, form.window()->x(), form.window()->y(), Screenshot::ArtefactDir() + "/window.png");
    }
    ShowProgress(100);
    ShowStatus("installation completed");
    xtest::Settle();
    {
      const Screenshot shot("window-completed");
      ASSERT_TRUE(shot.Ok());
      EXPECT_TRUE(Same(At(shot, form, barRight - 5, kBarY), kBarFill));
      EXPECT_STREQ(form.fltk.percentLabel->label(), "100%");
    }
  });
}

// Pumping is throttled, but never for a change the window has to show: a
// new bar value is on screen right after the next pump, by either path.
TEST_F(FltkForm, VisibleChangeIsDrawnAtTheNextPump) {
  RunForm([](Form& form) {
    const int barLeft = form.fltk.progressBar->x();
    const struct {
      int percent;
      bool byPumpMessages;
    } cases[] = {{30, false}, {60, true}};
    for (const auto& c : cases) {
      form.Pump();
      form.core.SetPercent(c.percent);
      if (c.byPumpMessages) {
        TheFltkUserInterface().PumpMessages(-1);
      } else {
        form.Pump();
      }
      XSync(fl_display, False);
      const Screenshot shot("pump-" + std::to_string(c.percent));
      ASSERT_TRUE(shot.Ok());
      const int filledEnd = barLeft + 1 + 385 * c.percent / 100;
      EXPECT_TRUE(Same(At(shot, form, filledEnd - 3, kBarY), kBarFill)) << c.percent;
      EXPECT_TRUE(Same(At(shot, form, filledEnd + 3, kBarY), kFace)) << c.percent;
    }
  });
}

}  // namespace
