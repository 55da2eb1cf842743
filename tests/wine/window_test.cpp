// End-to-end under Wine: the Windows build's tvqlupd.exe shows its native
// window on the test's own Xvfb and is driven with xdotool like a user
// would; what it shows is checked on screenshots (kept under the build
// directory as window-artefacts/wine-*.png). The window's colours are the
// system's, so filled and empty are told apart by difference, not by value.
// Built when the Windows build exists. Each run takes 15-25 s: Wine's start
// and the program's designed waits. Each test has a Wine prefix, and so a
// Wine server and desktop, of its own.
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

// GoogleTest before the X11 headers, whose macros (None, Bool) clash with it.
#include <gtest/gtest.h>

#include "app/context/display.h"
#include "support/wine.h"
#include "window/window_run.h"

namespace fs = std::filesystem;

namespace {

using namespace xtest;

constexpr int kBarMidY = layout::kBodyY + layout::kBarY + layout::kBarH / 2;
// Right of the caption text, left of the close button.
constexpr int kCaptionFreeX = layout::kGlyphButtonX - 3;

bool Differs(Rgb a, Rgb b) { return Distance(a, b) > 90; }

class WineWindow : public WindowRunTest {
 protected:
  WineWindow() : WindowRunTest(TVQLUPD_EXE, {WINE64_BIN}) {}

  void SetUp() override {
    if (!HaveTools()) GTEST_SKIP() << "Xvfb or the X tools are not available";
    ASSERT_TRUE(prefix_.ok()) << "no copy of " << WINE_PREFIX_TEMPLATE;
    windowTimeoutMs_ = 45000;
    artefactPrefix_ = "wine-";
  }

  ProcessOptions Options(const std::vector<std::string>& args) override {
    ProcessOptions o = env_.RunOptions(args);
    prefix_.AddEnvironment(o);
    o.timeoutSeconds = 120;
    return o;
  }

  // Once the window is drawn: the colours of its caption bar and empty bar.
  // Under load Wine may show the start picture before it has painted the
  // bar: the bar's colour counts once two shots a moment apart agree (its
  // right end stays empty until the download nears its end).
  void OnMainWindow() override {
    const auto drawn = ShotOfPicture(TestName() + "-first", '0');
    ASSERT_TRUE(drawn) << "the window shows no start picture";
    captionColour_ = At(*drawn, kCaptionFreeX, kCaptionY);
    barColour_ = At(*drawn, kBarRight - 3, kBarMidY);
    for (int shot = 0; shot < 8; ++shot) {
      SleepMs(300);
      const auto again = ShotWhen(TestName() + "-first", [](const Screenshot&, int, int) { return true; });
      if (!again) return;
      const Rgb now = At(*again, kBarRight - 3, kBarMidY);
      if (!Differs(now, barColour_)) return;
      barColour_ = now;
    }
  }

  bool BarFilledAt(const Screenshot& shot, int x) const override {
    return Differs(At(shot, kBarLeft + x, kBarMidY), barColour_);
  }

  // Width of the caption text: from its first to its last pixel that is
  // not the caption bar's colour.
  int CaptionTextWidth(const Screenshot& shot) const {
    int first = -1;
    int last = -1;
    for (int x = layout::kSpace + 1; x < kCaptionFreeX; ++x) {
      for (int y = layout::kSpace + 2; y < layout::kBodyY - 1; ++y) {
        if (Differs(At(shot, x, y), captionColour_)) {
          if (first < 0) first = x;
          last = x;
          break;
        }
      }
    }
    return first < 0 ? 0 : last - first + 1;
  }

  // After the base's installation: it goes first, with its server.
  wine::OwnPrefix prefix_{env_.Root() + "/wineprefix"};
  Rgb captionColour_{-1, -1, -1};
  Rgb barColour_{-1, -1, -1};
};

TEST_F(WineWindow, AppearsCentredWithTitleAndStartPictureThenTheDownloadPicture) {
  ASSERT_EQ(env_.Publish("TVQ2026-01-10", {{"data.bin", Sized(600'000)}}), 0);
  const std::string site = env_.Serve(200'000);
  // The first site is down: the caption names the host actually used, once.
  env_.WriteSettings({"LiveUpdate.www=http://127.0.0.1:1/", "LiveUpdate.www1=" + site});
  Start();
  const unsigned long xid = WaitForMainWindow();
  ASSERT_NE(xid, 0u) << "no window named Zadovez";

  const Placement p = PlacementOf(xid);
  EXPECT_EQ(p.width, kFormWidth);
  EXPECT_EQ(p.height, kFormHeight);
  EXPECT_EQ(p.left, kLeft);
  EXPECT_EQ(p.top, kTop);
  EXPECT_EQ(p.border, 0);
  EXPECT_NE(Capture("xprop -id " + std::to_string(xid) + " WM_NAME").find("\"Zadovez\""), std::string::npos);

  const auto start = ShotOfPicture("appears-start", '0');
  ASSERT_TRUE(start) << "no start picture";
  const int startCaption = CaptionTextWidth(*start);
  EXPECT_GT(startCaption, 50);

  const auto downloading = WaitForDownload("appears-download");
  ASSERT_TRUE(downloading) << "no download picture with a moving bar";
  EXPECT_TRUE(Same(At(*downloading, kStripFreeX, 150), kPureBlue));
  // The host once: the caption grew by about the suffix and the host in
  // the caption's own mean character width, not by twice that.
  const double grownChars = std::string(kHostSuffix).size() + HostOfSite(site).size();
  const double perChar = static_cast<double>(startCaption) / std::string(kCaptionText).size();
  const double growth = CaptionTextWidth(*downloading) - startCaption;
  EXPECT_GT(growth, 0.6 * perChar * grownChars) << "start " << startCaption;
  EXPECT_LT(growth, 1.4 * perChar * grownChars) << "start " << startCaption;

  const ProcessResult result = run_->Wait();
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_TRUE(ReadFile(env_.AppFile("data.bin")) == Sized(600'000)) << "data.bin not installed";
  EXPECT_EQ(env_.Setting("LiveUpdate.lastUpdateInfo"), kRunHeader);
}

TEST_F(WineWindow, FileSiteShowsTheLocalPicture) {
  ASSERT_EQ(env_.Publish("TVQ2026-01-10", {{"data.bin", Sized(50'000)}}), 0);
  Start({"/P" + wine::OnDriveZ(env_.site) + "\\"});
  ASSERT_NE(WaitForMainWindow(), 0u) << "no window named Zadovez";
  const auto local = ShotOfPicture("local", 'C');
  ASSERT_TRUE(local) << "no local picture";
  EXPECT_TRUE(Same(At(*local, kStripFreeX, 150), kPureBlue));

  const ProcessResult result = run_->Wait();
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_TRUE(ReadFile(env_.AppFile("data.bin")) == Sized(50'000)) << "data.bin not installed";
}

TEST_F(WineWindow, CancelClickedDuringTheDownloadEndsTheRun) {
  CancelDuringDownload("cancel-click", [this](unsigned long) { ClickCancel(); });
}

TEST_F(WineWindow, EscapeDuringTheDownloadEndsTheRun) {
  CancelDuringDownload("cancel-escape", [](unsigned long xid) {
    Xdotool("key --window " + std::to_string(xid) + " Escape");
  });
}

TEST_F(WineWindow, DraggingTheCaptionBarMovesTheWindowWhereThePointerIsReleased) {
  ASSERT_EQ(env_.Publish("TVQ2026-01-10", {{"data.bin", Sized(1'200'000)}}), 0);
  env_.WriteSettings({"LiveUpdate.www=" + env_.Serve(200'000)});
  Start();
  const unsigned long xid = WaitForMainWindow();
  ASSERT_NE(xid, 0u) << "no window named Zadovez";
  ASSERT_TRUE(WaitForDownload("drag-before"));

  DragCaption(xid, 1, 60, 40, true);
  DragCaption(xid, 3, -110, -30, false);

  // Dragging is no cancel: the update is installed.
  const ProcessResult result = run_->Wait();
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_TRUE(ReadFile(env_.AppFile("data.bin")) == Sized(1'200'000)) << "data.bin not installed";
  EXPECT_EQ(env_.Setting("LiveUpdate.lastUpdateInfo"), kRunHeader);
}

TEST_F(WineWindow, RightsErrorBoxIsAboveTheWindowAndReturnEndsTheRun) {
  ASSERT_EQ(env_.Publish("TVQ2026-01-10", {{"a.txt", "x\n"}}), 0);
  env_.WriteSettings({"LiveUpdate.www=" + env_.Serve()});
  // The rights test cannot create its file where a directory of that name
  // stands (permissions would not stop a run as root).
  fs::create_directory(env_.AppFile("tvqlupd.~testfilesysrights"));
  const std::string listing = env_.Listing();
  const std::string settings = ReadFile(env_.SettingsPath());
  Start();
  const unsigned long form = WaitForMainWindow();
  ASSERT_NE(form, 0u) << "no window named Zadovez";
  const unsigned long box = WaitForWindow("^Error$");
  ASSERT_NE(box, 0u) << "no error box";

  const std::vector<unsigned long> order = StackingOrder();
  ASSERT_GE(IndexIn(order, form), 0);
  EXPECT_LT(IndexIn(order, box), IndexIn(order, form));
  // Centred over the window. Without a window manager the box's X window
  // is its client area: Wine leaves the caption to the manager.
  const Placement b = PlacementOf(box);
  EXPECT_NEAR(b.left + b.width / 2, left_ + kFormWidth / 2, 2);
  EXPECT_NEAR(b.top + b.height / 2, top_ + kFormHeight / 2, 15);
  EXPECT_TRUE(Screenshot("wine-error-box").Ok());

  // The box waits for its answer: shown, and the run not ended under it.
  EXPECT_TRUE(PlacementOf(box).viewable);
  EXPECT_TRUE(run_->Running());
  KeysTo(box, "Return");
  const ProcessResult result = run_->Wait();
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(env_.Listing(), listing);
  EXPECT_EQ(ReadFile(env_.SettingsPath()), settings);
}

// The three states of a real run, kept as artefacts (wine-start.png,
// wine-downloading.png, wine-completed.png and the window alone in
// wine-window.png) and checked at a few pixels.
TEST_F(WineWindow, ScreenshotsOfStartDownloadingAndCompleted) {
  ASSERT_EQ(env_.Publish("TVQ2026-01-10", {{"data.bin", Sized(1'500'000)}}), 0);
  env_.WriteSettings({"LiveUpdate.www=" + env_.Serve(200'000)});
  Start();
  ASSERT_NE(WaitForMainWindow(), 0u) << "no window named Zadovez";
  const int barWidth = kBarRight - kBarLeft;

  const auto start = ShotOfPicture("start", '0');
  ASSERT_TRUE(start);
  EXPECT_TRUE(Same(At(*start, kStripFreeX, 150), kPureBlue));
  EXPECT_TRUE(Same(At(*start, kStripFreeX, kFormHeight - 4), kPureBlue));
  EXPECT_FALSE(BarFilledAt(*start, 5));
  // The 1-pixel border inside the window.
  EXPECT_TRUE(Same(At(*start, 0, 0), (Rgb{0, 0, 0})));
  EXPECT_TRUE(Same(At(*start, kFormWidth - 1, kFormHeight - 1), (Rgb{0, 0, 0})));

  const auto downloading = ShotWhen("downloading", [&](const Screenshot& shot, int left, int top) {
    return PictureShown(shot, left, top) == 'D' && BarFilledAt(shot, barWidth / 3);
  });
  ASSERT_TRUE(downloading);
  EXPECT_TRUE(BarFilledAt(*downloading, 5));
  EXPECT_FALSE(BarFilledAt(*downloading, barWidth - 5));
  CropWindow(*downloading, left_, top_, Screenshot::ArtefactDir() + "/wine-window.png");

  const auto end = Clock::now() + std::chrono::seconds(30);
  while (env_.Setting("LiveUpdate.lastUpdateInfo") != kRunHeader && Clock::now() < end) SleepMs(100);
  const auto completed = ShotWhen("completed", [&](const Screenshot& shot, int, int) {
    return BarFilledAt(shot, barWidth - 5);
  }, 5000);
  ASSERT_TRUE(completed);
  EXPECT_TRUE(BarFilledAt(*completed, 5));

  const ProcessResult result = run_->Wait();
  EXPECT_EQ(result.exitCode, 0) << result.err;
}

// Without a display Wine can create no window: the run goes on with the
// console display on standard error and never waits for a box.
TEST_F(WineWindow, WithoutADisplayTheRunUsesTheConsole) {
  ASSERT_EQ(env_.Publish("TVQ2026-01-10", {{"data.bin", Sized(20'000)}}), 0);
  const std::string site = "/P" + wine::OnDriveZ(env_.site) + "\\";
  // A rights problem would show an error box in the window.
  fs::create_directory(env_.AppFile("tvqlupd.~testfilesysrights"));
  const ProcessResult refused = RunProcess(Options({site}));
  EXPECT_EQ(refused.exitCode, 0) << refused.err;
  EXPECT_FALSE(refused.timedOut);
  EXPECT_NE(refused.err.find("Error: "), std::string::npos) << refused.err;

  fs::remove(env_.AppFile("tvqlupd.~testfilesysrights"));
  const ProcessResult result = RunProcess(Options({site, "/Log"}));
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_TRUE(ReadFile(env_.AppFile("data.bin")) == Sized(20'000)) << "data.bin not installed";
  EXPECT_NE(result.err.find("installation completed"), std::string::npos) << result.err;
  // /Log with standard output given to the program: the run's account is there.
  EXPECT_NE(result.out.find("data.bin:20000:"), std::string::npos) << result.out;
}

// The in-process tests of the Win32 window (tests/win32/form_test.cpp) need
// a desktop, which the Windows build's own headless test run lacks: here they
// run on the test's Xvfb.
TEST_F(WineWindow, FormTestsOfTheWindowsBuildPassOnADisplay) {
  if (!fs::exists(WIN_FORM_TEST_EXE)) GTEST_SKIP() << "no " << WIN_FORM_TEST_EXE;
  ProcessOptions o;
  o.argv = {WINE64_BIN, WIN_FORM_TEST_EXE};
  prefix_.AddEnvironment(o);
  o.env["DISPLAY"] = XServer::Instance().Display();
  o.timeoutSeconds = 240;
  const ProcessResult result = RunProcess(o);
  EXPECT_EQ(result.exitCode, 0) << result.out << result.err;
  // Run, not skipped for want of a desktop.
  EXPECT_EQ(result.out.find("no desktop to show windows on"), std::string::npos) << result.out;
  EXPECT_NE(result.out.find("[  PASSED  ]"), std::string::npos) << result.out;
}

// Started from the desktop, the program opens no console window: it is
// built for the GUI subsystem.
TEST(WineProgram, IsAGuiSubsystemProgram) {
  std::ifstream in(TVQLUPD_EXE, std::ios::binary);
  std::string head(4096, '\0');
  in.read(head.data(), static_cast<std::streamsize>(head.size()));
  ASSERT_EQ(head.substr(0, 2), "MZ");
  const std::size_t peAt = static_cast<unsigned char>(head[0x3C]) | static_cast<unsigned char>(head[0x3D]) << 8;
  ASSERT_EQ(head.substr(peAt, 4), std::string("PE\0\0", 4));
  // The optional header follows the 20-byte file header; its subsystem
  // field is at offset 68: 2 is the GUI subsystem, 3 the console.
  EXPECT_EQ(static_cast<unsigned char>(head[peAt + 4 + 20 + 68]), 2);
}

}  // namespace
