#pragma once
// What the end-to-end window tests share, whichever window the built program
// shows (the FLTK window, or the Win32 window under Wine): the program started
// on the test's own Xvfb, its windows found and placed with xwininfo,
// screenshots taken until they show what is awaited, and Cancel pressed during
// a slow download. Screenshots are kept under the build directory in
// window-artefacts/.

#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "support/updater_env.h"
#include "ui/form_layout.h"
#include "window_look.h"
#include "x_server.h"

namespace xtest {

using Clock = std::chrono::steady_clock;

inline const std::string kRunHeader = "<update id=\"TVQ2026-01-10\">";

// Window coordinates of the elements the tests press and read.
constexpr int kBarLeft = layout::kControlsX + layout::kLabelX;
constexpr int kBarRight = kBarLeft + layout::kBarW - 1;
constexpr int kCancelX = layout::kControlsX + layout::kCancelX;
constexpr int kCancelY = layout::kButtonsY + layout::kCancelY;
constexpr int kCaptionY = layout::kSpace + layout::kCaptionH / 2;

inline std::string Sized(std::size_t size) {
  std::string s;
  s.reserve(size);
  while (s.size() < size) s += static_cast<char>('a' + s.size() % 26);
  return s;
}

inline void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// Where a window stands on the screen (xwininfo).
struct Placement {
  int left = -1, top = -1, width = -1, height = -1, border = -1;
  bool viewable = false;
};

inline Placement PlacementOf(unsigned long xid) {
  const std::string info = Capture("xwininfo -id " + std::to_string(xid) + " 2>/dev/null");
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
inline unsigned long FindWindow(const std::string& pattern) {
  return std::strtoul(Capture("xdotool search --name '" + pattern + "' 2>/dev/null | head -n 1").c_str(),
                      nullptr, 10);
}

// The top-level windows from top to bottom (as xwininfo lists them).
inline std::vector<unsigned long> StackingOrder() {
  std::istringstream in(Capture("xwininfo -root -children 2>/dev/null"));
  std::vector<unsigned long> order;
  for (std::string line; std::getline(in, line);) {
    const auto at = line.find("0x");
    if (at == std::string::npos || line.find("children") != std::string::npos ||
        line.find("window id") != std::string::npos) {
      continue;
    }
    order.push_back(std::strtoul(line.c_str() + at, nullptr, 16));
  }
  return order;
}

inline int IndexIn(const std::vector<unsigned long>& order, unsigned long xid) {
  for (std::size_t i = 0; i < order.size(); ++i) {
    if (order[i] == xid) return static_cast<int>(i);
  }
  return -1;
}

inline void Xdotool(const std::string& args) { Run("xdotool " + args + " 2>/dev/null"); }

// The built program in a throw-away installation, its window on the test's
// Xvfb. A test class says how the program is started and what a filled bar
// looks like.
class WindowRunTest : public ::testing::Test {
 protected:
  // The built tvqlupd by default; another build started through a launcher
  // (tvqlupd.exe and Wine) when given.
  explicit WindowRunTest(std::string program = TVQLUPD_BIN, std::vector<std::string> launcher = {})
      : env_(std::move(program), std::move(launcher)) {}

  // The program's command line and environment for these arguments.
  virtual ProcessOptions Options(const std::vector<std::string>& args) = 0;
  // Whether the bar is filled x pixels right of its left edge.
  virtual bool BarFilledAt(const Screenshot& shot, int x) const = 0;
  // Called once the main window was found (left_ and top_ are set).
  virtual void OnMainWindow() {}

  // Skips the test when the X tools are missing.
  bool HaveTools() {
    if (!XServer::Instance().Running()) return false;
    for (const char* tool : {"xdotool", "xwininfo", "xprop", "/usr/bin/import"}) {
      if (!HaveProgram(tool)) return false;
    }
    return true;
  }

  // Starts the program with the test's display; as that user when given.
  void Start(const std::vector<std::string>& args = {}, std::optional<int> asUid = {}) {
    ProcessOptions o = Options(args);
    o.env["DISPLAY"] = XServer::Instance().Display();
    if (asUid) o.asUid = asUid;
    run_ = std::make_unique<RunningProcess>(o);
  }

  // Waits for a window whose name matches; its id, 0 after the time limit
  // or when the program ended.
  unsigned long WaitForWindow(const std::string& pattern) {
    const auto end = Clock::now() + std::chrono::milliseconds(windowTimeoutMs_);
    while (Clock::now() < end) {
      if (const unsigned long xid = FindWindow(pattern); xid != 0 && PlacementOf(xid).viewable) return xid;
      if (run_ && !run_->Running()) return 0;
      SleepMs(100);
    }
    return 0;
  }

  // Waits for the main window; notes where it stands.
  unsigned long WaitForMainWindow() {
    const unsigned long xid = WaitForWindow("^Zadovez$");
    if (xid != 0) {
      const Placement p = PlacementOf(xid);
      left_ = p.left;
      top_ = p.top;
      OnMainWindow();
    }
    return xid;
  }

  // Takes screenshots until one satisfies shows (given the window's
  // top-left corner); that one, or nothing after the time limit. The last
  // screenshot taken is kept as <artefactPrefix_><name>.png.
  std::optional<Screenshot> ShotWhen(const std::string& name,
                                     const std::function<bool(const Screenshot&, int, int)>& shows,
                                     int timeoutMs = 20000) {
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Clock::now() < end) {
      Screenshot shot(artefactPrefix_ + name);
      if (shot.Ok() && shows(shot, left_, top_)) return shot;
      SleepMs(100);
    }
    return std::nullopt;
  }

  // The running test's name, for artefacts every test takes.
  static std::string TestName() { return ::testing::UnitTest::GetInstance()->current_test_info()->name(); }

  std::optional<Screenshot> ShotOfPicture(const std::string& name, char letter) {
    return ShotWhen(name, [letter](const Screenshot& shot, int left, int top) {
      return PictureShown(shot, left, top) == letter;
    });
  }

  // Window coordinates (x, y) in a screenshot.
  Rgb At(const Screenshot& shot, int x, int y) const { return shot.At(left_ + x, top_ + y); }

  // Near-black pixels inside the Cancel button (its label while enabled).
  int DarkPixelsOnCancel(const Screenshot& shot) const {
    int n = 0;
    for (int x = kCancelX + 6; x < kCancelX + layout::kCancelW - 6; ++x) {
      for (int y = kCancelY + 6; y < kCancelY + layout::kCancelH - 6; ++y) {
        const Rgb c = At(shot, x, y);
        if (c.r + c.g + c.b < 150) ++n;
      }
    }
    return n;
  }

  void ClickCancel() {
    Xdotool("mousemove " + std::to_string(left_ + kCancelX + layout::kCancelW / 2) + " " +
            std::to_string(top_ + kCancelY + layout::kCancelH / 2) + " click 1");
  }

  // Waits until the download has moved the bar.
  std::optional<Screenshot> WaitForDownload(const std::string& name) {
    return ShotWhen(name, [this](const Screenshot& shot, int left, int top) {
      return PictureShown(shot, left, top) == 'D' && BarFilledAt(shot, 4);
    });
  }

  // Cancels a slow download with press (given the window): the run goes to
  // its end without waiting and ends with exit code 0, the file not
  // installed and nothing recorded.
  void CancelDuringDownload(const std::string& name, const std::function<void(unsigned long)>& press) {
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
    const ProcessResult result = run_->Wait();
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_FALSE(PathExists(env_.AppFile("big.bin")));
    EXPECT_EQ(env_.Setting("LiveUpdate.lastUpdateInfo"), "");
  }

  // Waits (5 s at most) until the window's top left corner is at (left, top).
  static void AwaitPlacement(unsigned long xid, int left, int top) {
    const auto end = Clock::now() + std::chrono::seconds(5);
    for (Placement p = PlacementOf(xid); (p.left != left || p.top != top) && Clock::now() < end;
         p = PlacementOf(xid))
      SleepMs(50);
  }

  // Drags the caption bar by (dx, dy) with a mouse button: in steps as a
  // hand moves, or press, move and release in one go (so that all three may
  // wait for the same pump). The window must end where the pointer was
  // released and be drawn there.
  void DragCaption(unsigned long xid, int button, int dx, int dy, bool stepwise) {
    const int x = left_ + 150;
    const int y = top_ + kCaptionY;
    const std::string b = std::to_string(button);
    if (stepwise) {
      // Each step waits until the window has followed the pointer there.
      Xdotool("mousemove " + std::to_string(x) + " " + std::to_string(y) + " mousedown " + b);
      for (int step = 1; step <= 4; ++step) {
        Xdotool("mousemove " + std::to_string(x + dx * step / 4) + " " + std::to_string(y + dy * step / 4));
        AwaitPlacement(xid, left_ + dx * step / 4, top_ + dy * step / 4);
      }
      Xdotool("mouseup " + b);
    } else {
      Xdotool("mousemove " + std::to_string(x) + " " + std::to_string(y) + " mousedown " + b + " mousemove " +
              std::to_string(x + dx) + " " + std::to_string(y + dy) + " mouseup " + b);
    }
    left_ += dx;
    top_ += dy;
    AwaitPlacement(xid, left_, top_);
    const Placement p = PlacementOf(xid);
    EXPECT_EQ(p.left, left_) << "button " << button;
    EXPECT_EQ(p.top, top_) << "button " << button;
    EXPECT_TRUE(ShotWhen("drag-" + b, [](const Screenshot& shot, int l, int t) {
      return PictureShown(shot, l, t) == 'D';
    }, 5000)) << "button " << button;
  }

  UpdaterEnv env_;
  std::unique_ptr<RunningProcess> run_;
  int left_ = 0;
  int top_ = 0;
  int windowTimeoutMs_ = 20000;
  std::string artefactPrefix_ = "run-";
};

}  // namespace xtest
