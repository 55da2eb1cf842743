// The Windows build's window at the monitor scalings people use (100, 125,
// 150 and 200 %): Wine's LogPixels set to 96, 120, 144 and 192 in a prefix
// of this test's own, the program started on a large Xvfb screen, and each
// window checked on a screenshot: its size scales, its texts grow with it
// and none is cut off, the picture strip and the bar stand where the scaled
// layout puts them. The windows are kept as window-artefacts/wine-dpi-N.png.
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

// GoogleTest before the X11 headers, whose macros (None, Bool) clash with it.
#include <gtest/gtest.h>

#include "support/wine.h"
#include "window/window_run.h"

namespace fs = std::filesystem;

namespace {

using namespace xtest;

bool Differs(Rgb a, Rgb b) { return Distance(a, b) > 90; }

// A span of columns [first, last] in which some pixel differs from the
// background; first is -1 when none does.
struct Span {
  int first = -1;
  int last = -1;
  int Width() const { return first < 0 ? 0 : last - first + 1; }
};

class WineDpi : public WindowRunTest {
 protected:
  WineDpi() : WindowRunTest(TVQLUPD_EXE, {WINE64_BIN}) {}

  static void SetUpTestSuite() {
    // A screen that holds the window at 200 %, set before the X server of
    // this process starts.
    setenv("TVQ_TEST_SCREEN", "1600x1200x24", 1);
    // A prefix of this test's own, whose scaling changes here.
    prefix_ = new wine::OwnPrefix(std::string(TVQ_BINARY_DIR) + "/wine-dpi-prefix");
    ASSERT_TRUE(prefix_->ok()) << "no copy of " << WINE_PREFIX_TEMPLATE;
  }

  static void TearDownTestSuite() {
    delete prefix_;
    prefix_ = nullptr;
  }

  void SetUp() override {
    if (!HaveTools()) GTEST_SKIP() << "Xvfb or the X tools are not available";
    windowTimeoutMs_ = 45000;
    artefactPrefix_ = "wine-dpi-";
  }

  static inline wine::OwnPrefix* prefix_ = nullptr;

  static ProcessResult Wine(const std::vector<std::string>& args) {
    ProcessOptions o;
    o.argv = {WINE64_BIN};
    o.argv.insert(o.argv.end(), args.begin(), args.end());
    prefix_->AddEnvironment(o);
    o.env["DISPLAY"] = std::nullopt;
    o.timeoutSeconds = 180;
    return RunProcess(o);
  }

  // The scaling every new Wine program sees: the user's and the machine's value.
  static void SetLogPixels(int dpi) {
    for (const char* key : {"HKCU\\Control Panel\\Desktop", "HKCC\\Software\\Fonts"}) {
      const ProcessResult r =
          Wine({"reg", "add", key, "/v", "LogPixels", "/t", "REG_DWORD", "/d", std::to_string(dpi), "/f"});
      ASSERT_EQ(r.exitCode, 0) << key << ": " << r.err;
    }
    prefix_->WaitForServerEnd();
  }

  ProcessOptions Options(const std::vector<std::string>& args) override {
    ProcessOptions o = env_.RunOptions(args);
    prefix_->AddEnvironment(o);
    o.timeoutSeconds = 120;
    return o;
  }

  // Filled where the bar differs from its own empty right end (the
  // download takes far longer than the test looks at it).
  bool BarFilledAt(const Screenshot& shot, int x) const override {
    const int y = Px(kBarMidY);
    return Differs(At(shot, Px(kBarLeft) + x, y), At(shot, Px(kBarLeft + layout::kBarW) - 3, y));
  }

  // As the program scales: rounded to the nearest pixel.
  int Px(int at96) const { return (at96 * dpi_ + 48) / 96; }

  // The columns of window rectangle (x0, y0)-(x1, y1) at the scaled layout
  // that hold something other than background.
  Span InkIn(const Screenshot& shot, int x0, int y0, int x1, int y1, Rgb background) const {
    Span span;
    for (int x = x0; x < x1; ++x) {
      for (int y = y0; y < y1; ++y) {
        if (Differs(At(shot, x, y), background)) {
          if (span.first < 0) span.first = x;
          span.last = x;
          break;
        }
      }
    }
    return span;
  }

  static constexpr int kBarMidY = layout::kBodyY + layout::kBarY + layout::kBarH / 2;

  int dpi_ = 96;
};

// What the window at one DPI shows, for comparison with 96 dpi.
struct Measured {
  int caption = 0;  // width of the caption text
  int cancel = 0;   // width of the Cancel label
  int status = 0;   // width of the status line
};

TEST_F(WineDpi, WindowScalesItsLayoutTextsAndPicturesWithTheMonitorDpi) {
  ASSERT_EQ(env_.Publish("TVQ2026-01-10", {{"big.bin", Sized(3'000'000)}}), 0);
  env_.WriteSettings({"LiveUpdate.www=" + env_.Serve(200'000)});
  std::map<int, Measured> measured;
  for (int dpi : {96, 120, 144, 192}) {
    SCOPED_TRACE("LogPixels " + std::to_string(dpi));
    dpi_ = dpi;
    SetLogPixels(dpi);
    Start();
    const unsigned long xid = WaitForMainWindow();
    ASSERT_NE(xid, 0u) << "no window named Zadovez";
    const int width = Px(kFormWidth);
    const int height = Px(kFormHeight);
    const Placement p = PlacementOf(xid);
    EXPECT_EQ(p.width, width);
    EXPECT_EQ(p.height, height);

    // The picture is scaled too, so the bar alone tells that the download runs.
    // A shot of the whole window painted: the bar moving and the border
    // drawn at both corners (a window still being repainted at its new
    // scale, on a loaded machine, shows neither yet).
    const auto shot = ShotWhen(std::to_string(dpi), [&](const Screenshot& s, int, int) {
      return BarFilledAt(s, Px(4)) && Same(At(s, 0, 0), (Rgb{0, 0, 0})) &&
             Same(At(s, width - 1, height - 1), (Rgb{0, 0, 0}));
    });
    ASSERT_TRUE(shot) << "no download with a moving bar";
    const std::string crop = std::to_string(width) + "x" + std::to_string(height) + "+" + std::to_string(left_) +
                             "+" + std::to_string(top_);
    EXPECT_EQ(xtest::Run("/usr/bin/convert '" + shot->Path() + "' -crop " + crop + " +repage '" +
                  Screenshot::ArtefactDir() + "/wine-dpi-" + std::to_string(dpi) + ".png'"), 0);

    // The whole window: its border at the scaled corners, the strip's blue
    // right of the scaled picture from top to foot.
    EXPECT_TRUE(Same(At(*shot, 0, 0), (Rgb{0, 0, 0})));
    EXPECT_TRUE(Same(At(*shot, width - 1, height - 1), (Rgb{0, 0, 0})));
    const int stripFreeX = (Px(layout::kSpace) + Px(layout::kPictureW) + Px(layout::kControlsX)) / 2;
    EXPECT_TRUE(Same(At(*shot, stripFreeX, Px(layout::kBodyY) + 2), kPureBlue));
    EXPECT_TRUE(Same(At(*shot, stripFreeX, height - Px(4)), kPureBlue));
    // The picture fills the strip's height at every scaling: no blue below it.
    EXPECT_FALSE(Same(At(*shot, Px(60), height - Px(4)), kPureBlue));

    // Texts: each inside its place, none reaching that place's edge (cut off).
    const Rgb captionBar = At(*shot, Px(layout::kGlyphButtonX) - 3, Px(kCaptionY));
    const Span caption = InkIn(*shot, Px(layout::kSpace) + 1, Px(layout::kSpace) + 2,
                               Px(layout::kGlyphButtonX) - 1, Px(layout::kBodyY) - 1, captionBar);
    const Rgb face = At(*shot, Px(kCancelX) - 3, Px(kCancelY) - 3);
    const Span cancel = InkIn(*shot, Px(kCancelX) + Px(6), Px(kCancelY) + Px(6),
                              Px(kCancelX + layout::kCancelW) - Px(6), Px(kCancelY + layout::kCancelH) - Px(6),
                              At(*shot, Px(kCancelX) + Px(4), Px(kCancelY) + Px(4)));
    const int statusY = layout::kBodyY + layout::kStatusY;
    const Span status = InkIn(*shot, Px(kBarLeft), Px(statusY), Px(layout::kControlsX + layout::kControlsW) - 2,
                              Px(statusY + 17), face);
    EXPECT_GT(caption.Width(), 0);
    EXPECT_GT(cancel.Width(), 0);
    EXPECT_GT(status.Width(), 0);
    EXPECT_LT(caption.last, Px(layout::kGlyphButtonX) - 2);
    EXPECT_LT(status.last, Px(layout::kControlsX + layout::kControlsW) - 3);
    measured[dpi] = {caption.Width(), cancel.Width(), status.Width()};

    Xdotool("key --window " + std::to_string(xid) + " Escape");
    const ProcessResult result = run_->Wait();
    EXPECT_EQ(result.exitCode, 0) << result.err;
    prefix_->WaitForServerEnd();
  }
  SetLogPixels(96);

  // Texts grow with the scaling: fonts are chosen in pixels for each DPI, so
  // their widths follow it to within the rounding of font sizes.
  for (const auto& [dpi, m] : measured) {
    const double f = dpi / 96.0;
    const Measured& base = measured[96];
    EXPECT_NEAR(m.caption, f * base.caption, 0.2 * f * base.caption) << dpi;
    EXPECT_NEAR(m.cancel, f * base.cancel, 0.25 * f * base.cancel) << dpi;
    EXPECT_NEAR(m.status, f * base.status, 0.2 * f * base.status) << dpi;
  }
}

}  // namespace
