// End-to-end: the built tvqlupd shows its window on the test's own Xvfb and
// is driven with xdotool like a user would; what it shows is checked on
// screenshots (kept under the build directory in window-artefacts/). Each run
// takes 12-20 s because of the program's designed waits.
#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

// GoogleTest and the program's headers before the X11 headers, whose macros
// (None, Bool, Status) clash with them.
#include <gtest/gtest.h>

#include "app/context/display.h"
#include "support/updater_env.h"

#include <FL/Enumerations.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/fl_draw.H>

#include "ui/fltk/fltk_window.h"
#include "ui/window_start.h"
#include "window_run.h"

namespace fs = std::filesystem;

namespace {

using namespace xtest;

// The caption bar's text size and where its close button starts, taken from
// a window built by the same code but never shown.
struct Layout {
  int glyphLeft;
  int captionSize;
  // Text widths in the caption bar's font.
  double CaptionWidth(const std::string& text) const {
    fl_font(FL_HELVETICA_BOLD, captionSize);
    return fl_width(text.c_str());
  }
};

Layout MeasureLayout() {
  MainWindow window(kApplicationTitle, nullptr);
  const auto& fltk = dynamic_cast<const FltkWindow&>(window.Toolkit());
  return {fltk.closeButton->x(), fltk.captionBar->labelsize()};
}

// The FLTK window of the built tvqlupd.
class WindowRun : public WindowRunTest {
 protected:
  void SetUp() override {
    if (!HaveTools()) GTEST_SKIP() << "Xvfb or the X tools are not available";
    ASSERT_TRUE(TryOpenDisplay());
    layout_ = MeasureLayout();
  }

  ProcessOptions Options(const std::vector<std::string>& args) override {
    ProcessOptions o = env_.RunOptions(args);
    o.timeoutSeconds = 90;
    return o;
  }

  bool BarFilledAt(const Screenshot& shot, int x) const override {
    return Same(At(shot, kBarLeft + x, kBarY), kBarFill);
  }

  // Width of the caption bar's text: from its first to its last light pixel.
  int CaptionTextWidth(const Screenshot& shot) const {
    int first = -1;
    int last = -1;
    for (int x = 3; x < layout_.glyphLeft - 1; ++x) {
      for (int y = 3; y < 19; ++y) {
        const Rgb c = At(shot, x, y);
        if (c.r > 160 && c.g > 160 && c.b > 160) {
          if (first < 0) first = x;
          last = x;
          break;
        }
      }
    }
    return first < 0 ? 0 : last - first + 1;
  }

  Layout layout_{};
};

// A whole run as the user sees it: the start picture, then the download
// picture with the bar moving and the host in the caption once, then the
// full bar. The three states are kept as artefacts (run-start.png,
// run-downloading.png, run-completed.png and the window alone in
// run-window.png). Where the window stands and its title are the Form
// tests' part.
TEST_F(WindowRun, ShowsTheStartPictureThenTheDownloadWithTheHostOnceThenTheFullBar) {
  ASSERT_EQ(env_.Publish("TVQ2026-01-10", {{"data.bin", Sized(1'500'000)}}), 0);
  const std::string site = env_.Serve(200'000);
  // The first site is down: the caption names the host actually used.
  env_.WriteSettings({"LiveUpdate.www=http://127.0.0.1:1/", "LiveUpdate.www1=" + site});
  Start();
  ASSERT_NE(WaitForMainWindow(), 0u) << "no window named Zadovez";
  const int barWidth = kBarRight - kBarLeft;

  const auto start = ShotWhen("start", [](const Screenshot& shot, int left, int top) {
    return PictureShown(shot, left, top) == '0';
  });
  ASSERT_TRUE(start) << "no start picture";
  const int startCaption = CaptionTextWidth(*start);
  EXPECT_GT(startCaption, 50);
  EXPECT_TRUE(Same(At(*start, kStripFreeX, 150), kPureBlue));
  EXPECT_TRUE(Same(At(*start, kStripFreeX, kFormHeight - 4), kPureBlue));
  EXPECT_TRUE(Same(At(*start, kBarLeft + 5, kBarY), kFace));

  // Somewhere past a third of the bar.
  const auto downloading = ShotWhen("downloading", [&](const Screenshot& shot, int left, int top) {
    return PictureShown(shot, left, top) == 'D' && BarFilledAt(shot, barWidth / 3);
  });
  ASSERT_TRUE(downloading) << "no download picture with a moving bar";
  EXPECT_TRUE(Same(At(*downloading, kStripFreeX, 150), kPureBlue));
  EXPECT_TRUE(BarFilledAt(*downloading, 5));
  EXPECT_TRUE(Same(At(*downloading, kBarRight - 5, kBarY), kFace));
  // The host once: the text grew by the suffix and the host, no more.
  const double grown = layout_.CaptionWidth(kCaptionText + std::string(kHostSuffix) + HostOfSite(site)) -
                       layout_.CaptionWidth(kCaptionText);
  EXPECT_NEAR(CaptionTextWidth(*downloading) - startCaption, grown, 3.0) << "start " << startCaption;
  CropWindow(*downloading, left_, top_, Screenshot::ArtefactDir() + "/run-window.png");

  // Completed: recorded, the bar full.
  const auto end = Clock::now() + std::chrono::seconds(30);
  while (env_.Setting("LiveUpdate.lastUpdateInfo") != kRunHeader && Clock::now() < end) SleepMs(100);
  const auto completed = ShotWhen("completed", [&](const Screenshot& shot, int, int) {
    return BarFilledAt(shot, barWidth - 5);
  }, 5000);
  ASSERT_TRUE(completed) << "no full bar";
  EXPECT_TRUE(Same(At(*completed, kStripFreeX, 150), kPureBlue));
  EXPECT_TRUE(BarFilledAt(*completed, 5));

  const ProcessResult result = run_->Wait();
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(ReadFile(env_.AppFile("data.bin")), Sized(1'500'000));
  EXPECT_EQ(env_.Setting("LiveUpdate.lastUpdateInfo"), kRunHeader);
}

TEST_F(WindowRun, FileSiteShowsTheLocalPicture) {
  ASSERT_EQ(env_.Publish("TVQ2026-01-10", {{"data.bin", Sized(50'000)}}), 0);
  Start({"/P" + env_.site});
  ASSERT_NE(WaitForMainWindow(), 0u) << "no window named Zadovez";
  const auto start = ShotWhen("local-start", [](const Screenshot& shot, int left, int top) {
    return PictureShown(shot, left, top) == '0';
  });
  ASSERT_TRUE(start) << "no start picture";
  const auto local = ShotWhen("local", [](const Screenshot& shot, int left, int top) {
    return PictureShown(shot, left, top) == 'C';
  });
  ASSERT_TRUE(local) << "no local picture";
  EXPECT_TRUE(Same(At(*local, kStripFreeX, 150), kPureBlue));

  const ProcessResult result = run_->Wait();
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(ReadFile(env_.AppFile("data.bin")), Sized(50'000));
}

TEST_F(WindowRun, CancelClickedDuringTheDownloadEndsTheRun) {
  CancelDuringDownload("cancel-click", [this](unsigned long) { ClickCancel(); });
}

TEST_F(WindowRun, EscapeDuringTheDownloadEndsTheRun) {
  CancelDuringDownload("cancel-escape", [](unsigned long xid) {
    Xdotool("key --window " + std::to_string(xid) + " Escape");
  });
}

// How the error box looks and that it stands above the window is the Form
// tests' part; here the real rights check brings it up over the real run.
TEST_F(WindowRun, RightsErrorBoxIsCentredOverTheWindowAndReturnEndsTheRun) {
  ASSERT_EQ(env_.Publish("TVQ2026-01-10", {{"a.txt", "x\n"}}), 0);
  env_.WriteSettings({"LiveUpdate.www=" + env_.Serve()});
  const std::string listing = env_.Listing();
  const std::string settings = ReadFile(env_.SettingsPath());
  std::optional<int> asUid;
  if (RunningAsRoot()) {
    // Root writes everywhere; the run takes the rights of "nobody" instead.
    asUid = 65534;
  } else {
    fs::permissions(env_.app, fs::perms(0555));
  }
  Start({}, asUid);
  const unsigned long form = WaitForMainWindow();
  ASSERT_NE(form, 0u) << "no window named Zadovez";
  const unsigned long box = WaitForWindow("^Error$");
  fs::permissions(env_.app, fs::perms(0755));
  ASSERT_NE(box, 0u) << "no error box";

  // Centred over the window.
  const Placement b = PlacementOf(box);
  EXPECT_NEAR(b.left + b.width / 2, left_ + kFormWidth / 2, 2);
  EXPECT_NEAR(b.top + b.height / 2, top_ + kFormHeight / 2, 2);
  // Drawn there: its text is on the screen, and it hides the window's blue
  // strip where it covers it.
  const auto drawn = ShotWhen("error-box", [&](const Screenshot& shot, int, int) {
    int dark = 0;
    for (int x = b.left; x < b.left + b.width; ++x) {
      for (int y = b.top; y < b.top + b.height; ++y) {
        const Rgb c = shot.At(x, y);
        if (c.r + c.g + c.b < 150) ++dark;
      }
    }
    return dark > 40;
  }, 10000);
  ASSERT_TRUE(drawn) << "the box shows no text";
  ASSERT_LT(b.left, left_ + kStripFreeX) << "the box does not cover the strip";
  EXPECT_FALSE(Same(drawn->At(left_ + kStripFreeX, b.top + b.height / 2), kPureBlue));
  if (b.top - 3 > top_ + 25) {
    EXPECT_TRUE(Same(drawn->At(left_ + kStripFreeX, b.top - 3), kPureBlue));
  }

  // The box waits for its answer: after all of the above, the run is still
  // there with the box up.
  EXPECT_TRUE(run_->Running());
  EXPECT_TRUE(PlacementOf(box).viewable);
  KeysTo(box, "Return");
  const ProcessResult result = run_->Wait();
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(env_.Listing(), listing);
  EXPECT_EQ(ReadFile(env_.SettingsPath()), settings);
}

}  // namespace
