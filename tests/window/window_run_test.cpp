// End-to-end: the built tvqlupd shows its window on the test's own Xvfb and
// is driven with xdotool like a user would; what it shows is checked on
// screenshots (kept under the build directory in window-artefacts/). Each run
// takes 12-20 s because of the program's designed waits.
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

// GoogleTest before the X11 headers, whose macros (None, Bool) clash with it.
#include <gtest/gtest.h>
#include <FL/Enumerations.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Progress.H>
#include <FL/fl_draw.H>

#include "app/display.h"
#include "support/updater_env.h"
#include "ui/fltk/form.h"
#include "ui/window_start.h"
#include "window_look.h"
#include "x_server.h"

namespace fs = std::filesystem;

namespace {

using xtest::kBarFill;
using xtest::kBarY;
using xtest::kFace;
using xtest::kPureBlue;
using xtest::kStripFreeX;
using xtest::Rgb;
using xtest::Same;
using xtest::Screenshot;
using Clock = std::chrono::steady_clock;

const std::string kHeader = "<update id=\"TVQ2026-01-10\">";

std::string Sized(std::size_t size) {
  std::string s;
  s.reserve(size);
  while (s.size() < size) s += static_cast<char>('a' + s.size() % 26);
  return s;
}

void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

double SecondsSince(Clock::time_point t) {
  return std::chrono::duration<double>(Clock::now() - t).count();
}

// Where the window's elements are (window coordinates), taken from a window
// built by the same code but never shown.
struct Layout {
  int barLeft, barRight;
  int cancelX, cancelY, cancelW, cancelH;
  int glyphLeft;
  int captionSize;
  // Text widths in the caption bar's font.
  double CaptionWidth(const std::string& text) const {
    fl_font(FL_HELVETICA_BOLD, captionSize);
    return fl_width(text.c_str());
  }
};

Layout MeasureLayout() {
  TForm1 form(kApplicationTitle, nullptr);
  return {form.ProgressBar1->x(),
          form.ProgressBar1->x() + form.ProgressBar1->w() - 1,
          form.CancelButton->x(),
          form.CancelButton->y(),
          form.CancelButton->w(),
          form.CancelButton->h(),
          form.SpeedButton1->x(),
          form.Panel1->labelsize()};
}

// Where a window stands on the screen (xwininfo).
struct Placement {
  int left = -1, top = -1, width = -1, height = -1, border = -1;
  bool viewable = false;
};

Placement PlacementOf(unsigned long xid) {
  const std::string info = xtest::Capture("xwininfo -id " + std::to_string(xid) + " 2>/dev/null");
  auto number = [&](const std::string& label) {
    const auto at = info.find(label);
    return at == std::string::npos ? -1 : std::atoi(info.c_str() + at + label.size());
  };
  Placement p;
  p.left = number("Absolute upper-left X:");
  p.top = number("Absolute upper-left Y:");
  p.width = number("Width:");
  p.height = number("Height:");
  p.border = number("Border width:");
  p.viewable = info.find("Map State: IsViewable") != std::string::npos;
  return p;
}

// The first window whose name matches the pattern; 0 when none.
unsigned long FindWindow(const std::string& pattern) {
  return std::strtoul(
      xtest::Capture("xdotool search --name '" + pattern + "' 2>/dev/null | head -n 1").c_str(),
      nullptr, 10);
}

void Click(int x, int y) {
  xtest::Run("xdotool mousemove " + std::to_string(x) + " " + std::to_string(y) + " click 1");
}

class WindowRun : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!xtest::XServer::Instance().Running()) GTEST_SKIP() << "Xvfb is not available";
    for (const char* tool : {"xdotool", "xwininfo", "xprop", "/usr/bin/import"}) {
      if (!xtest::HaveProgram(tool)) GTEST_SKIP() << tool << " is not available";
    }
    ASSERT_TRUE(TryOpenDisplay());
    layout_ = MeasureLayout();
  }

  // Starts the program in its application directory with the test's display.
  void Start(const std::vector<std::string>& args = {}, std::optional<int> asUid = {}) {
    ProcessOptions o = env_.RunOptions(args);
    o.env["DISPLAY"] = xtest::XServer::Instance().Display();
    o.timeoutSeconds = 90;
    o.asUid = asUid;
    run_ = std::make_unique<RunningProcess>(o);
  }

  // Waits for a window whose name matches; its id, 0 after the time limit.
  unsigned long WaitForWindow(const std::string& pattern, int timeoutMs = 20000) {
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Clock::now() < end) {
      if (const unsigned long xid = FindWindow(pattern); xid != 0 && PlacementOf(xid).viewable) {
        return xid;
      }
      SleepMs(100);
    }
    return 0;
  }

  // Takes screenshots until one satisfies shows (given the window's
  // top-left corner); that one, or nothing after the time limit. The last
  // screenshot taken is kept as <name>.png.
  std::optional<Screenshot> ShotWhen(const std::string& name,
                                     const std::function<bool(const Screenshot&, int, int)>& shows,
                                     int timeoutMs = 20000) {
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Clock::now() < end) {
      Screenshot shot(name);
      if (shot.Ok() && shows(shot, left_, top_)) return shot;
      SleepMs(100);
    }
    return std::nullopt;
  }

  // Window coordinates (x, y) in a screenshot.
  Rgb At(const Screenshot& shot, int x, int y) const { return shot.At(left_ + x, top_ + y); }

  bool BarFilledAt(const Screenshot& shot, int x) const {
    return Same(At(shot, layout_.barLeft + x, kBarY), kBarFill);
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

  // Near-black pixels inside the Cancel button (its label while enabled).
  int DarkPixelsOnCancel(const Screenshot& shot) const {
    int n = 0;
    for (int x = layout_.cancelX + 6; x < layout_.cancelX + layout_.cancelW - 6; ++x) {
      for (int y = layout_.cancelY + 6; y < layout_.cancelY + layout_.cancelH - 6; ++y) {
        const Rgb c = At(shot, x, y);
        if (c.r + c.g + c.b < 150) ++n;
      }
    }
    return n;
  }

  // Waits for the main window; notes where it stands.
  unsigned long WaitForMainWindow() {
    const unsigned long xid = WaitForWindow("^Zadovez$");
    if (xid != 0) {
      const Placement p = PlacementOf(xid);
      left_ = p.left;
      top_ = p.top;
    }
    return xid;
  }

  // Waits until the download has moved the bar.
  std::optional<Screenshot> WaitForDownload(const std::string& name) {
    return ShotWhen(name, [this](const Screenshot& shot, int left, int top) {
      return xtest::PictureShown(shot, left, top) == 'D' && BarFilledAt(shot, 4);
    });
  }

  // Cancels a slow download with press (given the window), pressing twice
  // when asked; the run must end soon with exit code 0, the file not
  // installed and nothing recorded.
  void CancelDuringDownload(const std::string& name, const std::function<void(unsigned long)>& press,
                            bool pressTwice) {
    // 3 MB at 200 KB/s: the download alone would take 15 s.
    ASSERT_EQ(env_.Publish("TVQ2026-01-10", {{"big.bin", Sized(3'000'000)}}), 0);
    env_.WriteSettings({"LiveUpdate.www=" + env_.Serve(200'000)});
    Start();
    const unsigned long xid = WaitForMainWindow();
    ASSERT_NE(xid, 0u) << "no window named Zadovez";
    const auto downloading = WaitForDownload(name + "-before");
    ASSERT_TRUE(downloading) << "the download did not start";
    EXPECT_GT(DarkPixelsOnCancel(*downloading), 20);

    press(xid);
    const auto pressed = Clock::now();
    // The button is disabled at once; the window stays until the run ends.
    const auto disabled = ShotWhen(name + "-after", [this](const Screenshot& shot, int, int) {
      return DarkPixelsOnCancel(shot) == 0;
    }, 5000);
    EXPECT_TRUE(disabled) << "the Cancel button still looks enabled";
    EXPECT_TRUE(PlacementOf(xid).viewable);
    if (pressTwice) press(xid);

    const ProcessResult result = run_->Wait();
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_FALSE(PathExists(env_.AppFile("big.bin")));
    EXPECT_EQ(env_.Setting("LiveUpdate.lastUpdateInfo"), "");
    // The cancelled run ends after its closing waits (about 6.5 s), long
    // before the download could have finished.
    EXPECT_LT(SecondsSince(pressed), 12.0);
  }

  void ClickCancel() {
    Click(left_ + layout_.cancelX + layout_.cancelW / 2, top_ + layout_.cancelY + layout_.cancelH / 2);
  }

  UpdaterEnv env_;
  Layout layout_{};
  std::unique_ptr<RunningProcess> run_;
  int left_ = 0;
  int top_ = 0;
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
  const int barWidth = layout_.barRight - layout_.barLeft;

  const auto start = ShotWhen("run-start", [](const Screenshot& shot, int left, int top) {
    return xtest::PictureShown(shot, left, top) == '0';
  });
  ASSERT_TRUE(start) << "no start picture";
  const int startCaption = CaptionTextWidth(*start);
  EXPECT_GT(startCaption, 50);
  EXPECT_TRUE(Same(At(*start, kStripFreeX, 150), kPureBlue));
  EXPECT_TRUE(Same(At(*start, kStripFreeX, kFormHeight - 4), kPureBlue));
  EXPECT_TRUE(Same(At(*start, layout_.barLeft + 5, kBarY), kFace));

  // Somewhere past a third of the bar.
  const auto downloading = ShotWhen("run-downloading", [&](const Screenshot& shot, int left, int top) {
    return xtest::PictureShown(shot, left, top) == 'D' && BarFilledAt(shot, barWidth / 3);
  });
  ASSERT_TRUE(downloading) << "no download picture with a moving bar";
  EXPECT_TRUE(Same(At(*downloading, kStripFreeX, 150), kPureBlue));
  EXPECT_TRUE(BarFilledAt(*downloading, 5));
  EXPECT_TRUE(Same(At(*downloading, layout_.barRight - 5, kBarY), kFace));
  // The host once: the text grew by the suffix and the host, no more.
  const double grown = layout_.CaptionWidth(kCaptionText + std::string(kHostSuffix) + HostOfSite(site)) -
                       layout_.CaptionWidth(kCaptionText);
  EXPECT_NEAR(CaptionTextWidth(*downloading) - startCaption, grown, 3.0) << "start " << startCaption;
  xtest::CropWindow(*downloading, left_, top_, Screenshot::ArtefactDir() + "/run-window.png");

  // Completed: recorded, the bar full.
  const auto end = Clock::now() + std::chrono::seconds(30);
  while (env_.Setting("LiveUpdate.lastUpdateInfo") != kHeader && Clock::now() < end) SleepMs(100);
  const auto completed = ShotWhen("run-completed", [&](const Screenshot& shot, int, int) {
    return BarFilledAt(shot, barWidth - 5);
  }, 5000);
  ASSERT_TRUE(completed) << "no full bar";
  EXPECT_TRUE(Same(At(*completed, kStripFreeX, 150), kPureBlue));
  EXPECT_TRUE(BarFilledAt(*completed, 5));

  const ProcessResult result = run_->Wait();
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(ReadFile(env_.AppFile("data.bin")), Sized(1'500'000));
  EXPECT_EQ(env_.Setting("LiveUpdate.lastUpdateInfo"), kHeader);
}

TEST_F(WindowRun, FileSiteShowsTheLocalPicture) {
  ASSERT_EQ(env_.Publish("TVQ2026-01-10", {{"data.bin", Sized(50'000)}}), 0);
  Start({"/P" + env_.site});
  ASSERT_NE(WaitForMainWindow(), 0u) << "no window named Zadovez";
  const auto start = ShotWhen("run-local-start", [](const Screenshot& shot, int left, int top) {
    return xtest::PictureShown(shot, left, top) == '0';
  });
  ASSERT_TRUE(start) << "no start picture";
  const auto local = ShotWhen("run-local", [](const Screenshot& shot, int left, int top) {
    return xtest::PictureShown(shot, left, top) == 'C';
  });
  ASSERT_TRUE(local) << "no local picture";
  EXPECT_TRUE(Same(At(*local, kStripFreeX, 150), kPureBlue));

  const ProcessResult result = run_->Wait();
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(ReadFile(env_.AppFile("data.bin")), Sized(50'000));
}

TEST_F(WindowRun, CancelClickedDuringTheDownloadEndsTheRunAndASecondClickChangesNothing) {
  CancelDuringDownload("run-cancel-click", [this](unsigned long) { ClickCancel(); }, true);
}

TEST_F(WindowRun, EscapeDuringTheDownloadEndsTheRun) {
  CancelDuringDownload("run-cancel-escape", [](unsigned long xid) {
    xtest::Run("xdotool key --window " + std::to_string(xid) + " Escape 2>/dev/null");
  }, true);
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
  const auto drawn = ShotWhen("run-error-box", [&](const Screenshot& shot, int, int) {
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
  xtest::KeysTo(box, "Return");
  const auto answered = Clock::now();
  const ProcessResult result = run_->Wait();
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_LT(SecondsSince(answered), 5.0);
  EXPECT_EQ(env_.Listing(), listing);
  EXPECT_EQ(ReadFile(env_.SettingsPath()), settings);
}

}  // namespace
