// The main window under a private Xvfb: layout, pictures, caption, Cancel,
// Escape, the close glyph, dragging, the error box, and screenshots.
#include "ui/fltk/form.h"

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

#include "app/display.h"
#include "app/run_context.h"
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

std::string Id(const TForm1& form) { return std::to_string(fl_xid(form.Form)); }

void Pump(TForm1& form) { form.Pump(); }

// Runs the window through RunWindow; body is the run, given the form.
void RunForm(const std::function<void(TForm1&)>& body) {
  const int code = RunWindow([&] {
    auto* form = dynamic_cast<TForm1*>(&CurrentDisplaySurface());
    ASSERT_NE(form, nullptr);
    xtest::Settle();
    body(*form);
  });
  EXPECT_EQ(code, 0);
}

// The letter of the embedded picture that the screen shows in the strip.
char PictureOnScreen(const TForm1& form, const std::string& name) {
  return xtest::PictureShown(Screenshot(name), form.Form->x(), form.Form->y());
}

// Moves the pointer there and clicks (the server handles both in order).
void Click(int x, int y, int button = 1) {
  xtest::Run("xdotool mousemove " + std::to_string(x) + " " + std::to_string(y) + " click " +
      std::to_string(button));
}

class Form : public ::testing::Test {
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

TEST_F(Form, RunsTheRunOnceAfterTwoSecondsAndCloses) {
  int runs = 0;
  bool shownDuringRun = false;
  const auto start = std::chrono::steady_clock::now();
  std::chrono::milliseconds waited{};
  RunForm([&](TForm1& form) {
    ++runs;
    waited = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    shownDuringRun = form.Form->shown() && form.Form->visible();
  });
  EXPECT_EQ(runs, 1);
  EXPECT_TRUE(shownDuringRun);
  EXPECT_GE(waited.count(), kTimer1IntervalMs - 100);
  // Closed: the surface is no longer the window.
  EXPECT_EQ(dynamic_cast<TForm1*>(&CurrentDisplaySurface()), nullptr);
}

TEST_F(Form, IsBorderlessCentredWithClientSizeAndTitle) {
  RunForm([](TForm1& form) {
    const unsigned long xid = fl_xid(form.Form);
    EXPECT_EQ(xtest::WinInfo(xid, "Width:"), kFormWidth);
    EXPECT_EQ(xtest::WinInfo(xid, "Height:"), kFormHeight);
    EXPECT_EQ(xtest::WinInfo(xid, "Absolute upper-left X:"), kLeft);
    EXPECT_EQ(xtest::WinInfo(xid, "Absolute upper-left Y:"), kTop);
    EXPECT_EQ(xtest::WinInfo(xid, "Border width:"), 0);
    EXPECT_NE(Capture("xprop -id " + Id(form) + " WM_NAME").find("\"Zadovez\""), std::string::npos);
    EXPECT_EQ(form.Form->border(), 0);
  });
}

TEST_F(Form, ShowsStartPictureThenTheChosenOne) {
  RunForm([](TForm1& form) {
    for (char letter : {'0', 'C', 'D'}) EXPECT_TRUE(form.IllustrationLoaded(letter)) << letter;
    EXPECT_EQ(form.VisibleIllustration(), '0');
    EXPECT_EQ(PictureOnScreen(form, "picture-start"), '0');

    const struct {
      char letter;
      char shown;
    } cases[] = {{'d', 'D'}, {'C', 'C'}, {'x', '0'}, {'D', 'D'}, {'c', 'C'}};
    for (const auto& c : cases) {
      ShowIllustration(c.letter);
      xtest::Settle();
      EXPECT_EQ(form.VisibleIllustration(), c.shown) << c.letter;
      EXPECT_EQ(PictureOnScreen(form, std::string("picture-") + c.letter), c.shown) << c.letter;
    }
  });
}

TEST_F(Form, CaptionShowsTheHostOnce) {
  RunForm([](TForm1& form) {
    EXPECT_STREQ(form.Panel1->label(), kCaptionText);
    ShowHost("http://updates.example.com/zadovez/");
    ShowHost("file:///srv/mirror/zadovez/");
    ShowHost("http://second.example.org/x/");
    EXPECT_EQ(std::string(form.Panel1->label()),
              std::string(kCaptionText) + kHostSuffix + "second.example.org");
  });
}

TEST_F(Form, ExplanationAndStatusAreFilledAtCreationInTheUsersLanguage) {
  const struct {
    char language;
    const char* status;
    const char* explanation;
  } cases[] = {
      {'E', "initializing...",
       "Kestrin Zadovez is checking for updates. If found, these will be downloaded and "
       "installed. Please wait..."},
      {'G', "am initialisieren...",
       "Kestrin Zadovez überprüft, ob Programmupdates vorhanden sind. Gegebenenfalls werden "
       "diese installiert. Bitte warten..."},
      {'F', "initialisation en cours...",
       "Kestrin Zadovez vérifie, si des mises à jour sont disponibles. Le cas échéant, elles "
       "seront téléchargées puis installées. Patientez SVP..."},
  };
  for (const auto& c : cases) {
    SetLanguage(c.language);
    TForm1 form(kApplicationTitle, nullptr);
    EXPECT_STREQ(form.doingLabel->label(), c.status) << c.language;
    EXPECT_STREQ(form.InfoMemo->label(), c.explanation) << c.language;
    EXPECT_STREQ(form.Panel1->label(), kCaptionText) << c.language;
    EXPECT_EQ(form.UpdateIDLabel->label(), nullptr) << c.language;
    EXPECT_EQ(form.Label1->label(), nullptr) << c.language;
    EXPECT_EQ(form.ProgressBar1->value(), 0) << c.language;
  }
}

TEST_F(Form, CancelClickRequestsCancelAndSecondClickChangesNothing) {
  RunForm([](TForm1& form) {
    const int x = form.Form->x() + form.CancelButton->x() + form.CancelButton->w() / 2;
    const int y = form.Form->y() + form.CancelButton->y() + form.CancelButton->h() / 2;
    Click(x, y);
    // Nothing happens until the run reaches a pumping point.
    EXPECT_FALSE(CancelRequested());
    ASSERT_TRUE(xtest::PumpUntil(CancelRequested, 5000, [&] { Pump(form); }));
    EXPECT_FALSE(form.CancelButton->active());

    Click(x, y);
    xtest::PumpFor(300, [&] { Pump(form); });
    EXPECT_TRUE(CancelRequested());
    EXPECT_FALSE(form.CancelButton->active());
    EXPECT_TRUE(form.Form->shown());
  });
}

TEST_F(Form, EscapePressesCancelWithoutClosing) {
  RunForm([](TForm1& form) {
    xtest::Run("xdotool key --window " + Id(form) + " Escape 2>/dev/null");
    ASSERT_TRUE(xtest::PumpUntil(CancelRequested, 5000, [&] { Pump(form); }));
    EXPECT_FALSE(form.CancelButton->active());
    // A second Escape meets a disabled button and must not close the window.
    xtest::Run("xdotool key --window " + Id(form) + " Escape 2>/dev/null");
    xtest::PumpFor(300, [&] { Pump(form); });
    EXPECT_TRUE(form.Form->shown());
  });
}

TEST_F(Form, CloseGlyphRequestsCancelWithoutClosing) {
  RunForm([](TForm1& form) {
    Click(form.Form->x() + form.SpeedButton1->x() + 8, form.Form->y() + form.SpeedButton1->y() + 8);
    ASSERT_TRUE(xtest::PumpUntil(CancelRequested, 5000, [&] { Pump(form); }));
    EXPECT_FALSE(form.CancelButton->active());
    EXPECT_TRUE(form.Form->shown());
    EXPECT_NE(Capture("xwininfo -id " + Id(form)).find("Map State: IsViewable"), std::string::npos);
  });
}

TEST_F(Form, DraggingTheCaptionBarMovesTheWindowWithAnyButton) {
  RunForm([](TForm1& form) {
    int left = form.Form->x();
    int top = form.Form->y();
    const struct {
      int button, dx, dy;
    } drags[] = {{1, 60, 40}, {3, -100, -25}, {2, 7, 0}};
    for (const auto& d : drags) {
      const int x = left + 150;
      const int y = top + 9;
      xtest::Run("xdotool mousemove " + std::to_string(x) + " " + std::to_string(y) + " mousedown " +
          std::to_string(d.button));
      xtest::PumpFor(100, [&] { Pump(form); });
      // In steps, as a hand moves the mouse.
      for (int step = 1; step <= 4; ++step) {
        xtest::Run("xdotool mousemove " + std::to_string(x + d.dx * step / 4) + " " +
            std::to_string(y + d.dy * step / 4));
        xtest::PumpFor(60, [&] { Pump(form); });
      }
      xtest::Run("xdotool mouseup " + std::to_string(d.button));
      xtest::PumpFor(100, [&] { Pump(form); });
      xtest::Settle();
      left += d.dx;
      top += d.dy;
      EXPECT_EQ(xtest::WinInfo(fl_xid(form.Form), "Absolute upper-left X:"), left) << d.button;
      EXPECT_EQ(xtest::WinInfo(fl_xid(form.Form), "Absolute upper-left Y:"), top) << d.button;
      // Drawn again where it now stands.
      xtest::PumpFor(100, [&] { Pump(form); });
      EXPECT_EQ(xtest::PictureShown(Screenshot("drag-" + std::to_string(d.button)), left, top), '0')
          << d.button;
    }
    // Moving over the caption bar without a button held does nothing.
    xtest::Run("xdotool mousemove " + std::to_string(left + 200) + " " + std::to_string(top + 9));
    xtest::Run("xdotool mousemove " + std::to_string(left + 240) + " " + std::to_string(top + 12));
    xtest::PumpFor(100, [&] { Pump(form); });
    EXPECT_EQ(form.Form->x(), left);
    EXPECT_FALSE(CancelRequested());
  });
}

TEST_F(Form, AFastDragBetweenTwoPumpsStillMovesTheWindow) {
  RunForm([](TForm1& form) {
    const int left = form.Form->x();
    const int top = form.Form->y();
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
    EXPECT_EQ(xtest::WinInfo(fl_xid(form.Form), "Absolute upper-left X:"), left + 90);
    EXPECT_EQ(xtest::WinInfo(fl_xid(form.Form), "Absolute upper-left Y:"), top + 50);
    // The motion handed over after the release moves nothing further.
    xtest::PumpFor(100, [&] { Pump(form); });
    EXPECT_EQ(form.Form->x(), left + 90);
    EXPECT_EQ(form.Form->y(), top + 50);
  });
}

TEST_F(Form, ErrorBoxIsAboveTheWindowAndReturnDismissesIt) {
  RunForm([](TForm1& form) {
    const ::Window formXid = fl_xid(form.Form);
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
    EXPECT_STREQ(form.doingLabel->label(), "installing");
    EXPECT_TRUE(form.Form->shown());
  });
}

// Screen colour at window coordinates (x, y).
Rgb At(const Screenshot& shot, const TForm1& form, int x, int y) {
  return shot.At(form.Form->x() + x, form.Form->y() + y);
}

// The three states of a run, kept as artefacts (window-*.png under the build
// directory) and checked at a few pixels.
TEST_F(Form, ScreenshotsOfStartDownloadingAndCompleted) {
  RunForm([](TForm1& form) {
    const int barLeft = form.ProgressBar1->x();
    const int barRight = barLeft + form.ProgressBar1->w() - 1;
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
      xtest::CropWindow(shot, form.Form->x(), form.Form->y(), Screenshot::ArtefactDir() + "/window.png");
    }
    ShowProgress(100);
    ShowStatus("installation completed");
    xtest::Settle();
    {
      const Screenshot shot("window-completed");
      ASSERT_TRUE(shot.Ok());
      EXPECT_TRUE(Same(At(shot, form, barRight - 5, kBarY), kBarFill));
      EXPECT_STREQ(form.Label1->label(), "100%");
    }
  });
}

// Pumping is throttled, but never for a change the window has to show: a
// new bar value is on screen right after the next pump, by either path.
TEST_F(Form, VisibleChangeIsDrawnAtTheNextPump) {
  RunForm([](TForm1& form) {
    const int barLeft = form.ProgressBar1->x();
    const struct {
      int percent;
      bool byPumpMessages;
    } cases[] = {{30, false}, {60, true}};
    for (const auto& c : cases) {
      form.Pump();
      form.SetPercent(c.percent);
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
