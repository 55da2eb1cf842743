// The window against its toolkit (FLTK under Xvfb; Win32 under Wine, built
// into the Windows build's form test): texts at creation, the display
// operations, Cancel, and a window that keeps answering while the run waits.
#include "ui/window_core.h"

#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "app/context/display.h"
#include "app/context/run_context.h"
#include "platform/os.h"
#include "support/lingua.h"
#include "ui/form_layout.h"
#include "ui/window_start.h"
#include "window_probe.h"

namespace {

using probe::ShownText;

// Runs the window through RunWindow; body is the run, given the window.
void RunWithWindow(const std::function<void(MainWindow&)>& body) {
  const int code = RunWindow([&] {
    auto* window = dynamic_cast<MainWindow*>(&CurrentDisplaySurface());
    ASSERT_NE(window, nullptr);
    body(*window);
  });
  EXPECT_EQ(code, 0);
}

// Handles the window's events until done() or about 10 s have passed.
bool PumpUntil(MainWindow& window, const std::function<bool()>& done) {
  for (int i = 0; i < 1000 && !done(); ++i) {
    window.Pump();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return done();
}

// A clock on which time moves only once Cancel was requested: a wait on it
// ends only after the window took the press queued before it. Each sleep
// also passes 10 ms of real time; after about 20 s it gives up and lets
// time move, so that a window that does not answer fails instead of hanging.
class CancelGatedClock : public os::Clock {
 public:
  std::int64_t NowMs() override { return now_; }
  void SleepMs(std::int64_t ms) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (CancelRequested() || ++idle_ > 2000) now_ += ms;
  }

 private:
  std::int64_t now_ = 0;
  int idle_ = 0;
};

class Window : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const std::string why = probe::WhyNoWindows(); !why.empty()) GTEST_SKIP() << why;
    ResetCancelForTests();
    SetLanguage('E');
  }
};

TEST_F(Window, RunsTheRunOnceWhileShownAndCloses) {
  int runs = 0;
  bool shownDuringRun = false;
  RunWithWindow([&](MainWindow& window) {
    ++runs;
    shownDuringRun = probe::WindowVisible(window);
  });
  EXPECT_EQ(runs, 1);
  EXPECT_TRUE(shownDuringRun);
  // Closed: the surface is no longer the window.
  EXPECT_EQ(dynamic_cast<MainWindow*>(&CurrentDisplaySurface()), nullptr);
}

TEST_F(Window, ExplanationAndStatusAreFilledAtCreationInTheUsersLanguage) {
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
    MainWindow window(kApplicationTitle, nullptr);
    ASSERT_TRUE(window.Created());
    // Through the toolkit and back: the accents arrive unchanged.
    EXPECT_EQ(ShownText(window, WindowText::StatusLine), c.status) << c.language;
    EXPECT_EQ(ShownText(window, WindowText::Explanation), c.explanation) << c.language;
    EXPECT_EQ(ShownText(window, WindowText::Caption), kCaptionText) << c.language;
    EXPECT_EQ(ShownText(window, WindowText::UpdateId), "") << c.language;
    EXPECT_EQ(ShownText(window, WindowText::Percent), "") << c.language;
    EXPECT_EQ(probe::ShownBar(window), 0) << c.language;
  }
}

TEST_F(Window, DisplayOperationsReachTheToolkit) {
  RunWithWindow([](MainWindow& window) {
    for (char letter : {'0', 'C', 'D'}) EXPECT_TRUE(window.IllustrationLoaded(letter)) << letter;
    EXPECT_EQ(window.VisibleIllustration(), '0');
    const struct {
      char letter, shown;
    } pictures[] = {{'d', 'D'}, {'C', 'C'}, {'x', '0'}, {'c', 'C'}};
    for (const auto& p : pictures) {
      ShowIllustration(p.letter);
      EXPECT_EQ(window.VisibleIllustration(), p.shown) << p.letter;
    }

    ShowHost("http://updates.example.com/zadovez/");
    ShowHost("file:///srv/mirror/zadovez/");
    ShowHost("http://second.example.org/x/");
    EXPECT_EQ(ShownText(window, WindowText::Caption), std::string(kCaptionText) + kHostSuffix + "second.example.org");

    ShowProgress(40);
    ShowProgress(150);
    EXPECT_EQ(ShownText(window, WindowText::Percent), "100%");
    EXPECT_EQ(probe::ShownBar(window), 100);
    ShowProgress(30);
    EXPECT_EQ(ShownText(window, WindowText::Percent), "100%");

    ShowUpdateId("TVQ2026-01-10");
    EXPECT_EQ(ShownText(window, WindowText::UpdateId), "update ID: TVQ2026-01-10");
    // '&' is shown as written, not as a mnemonic.
    ShowStatus("Müller & Söhne");
    EXPECT_EQ(ShownText(window, WindowText::StatusLine), "Müller & Söhne");
  });
}

TEST_F(Window, CancelIsTakenOnceAndTheWindowStays) {
  RunWithWindow([](MainWindow& window) {
    probe::QueueCancelPress(window);
    // Nothing happens until the run handles the window's events.
    EXPECT_FALSE(CancelRequested());
    ASSERT_TRUE(PumpUntil(window, CancelRequested));
    EXPECT_FALSE(probe::CancelButtonEnabled(window));

    window.CancelPressed();  // a second press meets the disabled button
    EXPECT_FALSE(probe::CancelButtonEnabled(window));
    EXPECT_TRUE(probe::WindowVisible(window));
    ShowStatus("installing");
    EXPECT_EQ(ShownText(window, WindowText::StatusLine), "exiting...");
  });
}

// During a designed wait of the run the window handles its events: a
// Cancel pressed before the wait is taken during it, and ends the wait.
TEST_F(Window, KeepsAnsweringDuringADesignedWaitWhichCancelEnds) {
  CancelGatedClock clock;
  os::SetClock(&clock);
  bool cancelledInWait = false;
  std::int64_t waited = 0;
  bool shownAfterWait = false;
  RunWithWindow([&](MainWindow& window) {
    probe::QueueCancelPress(window);
    const std::int64_t start = os::TickMs();
    os::SleepMs(5000);
    waited = os::TickMs() - start;
    cancelledInWait = CancelRequested();
    shownAfterWait = probe::WindowVisible(window) && !probe::CancelButtonEnabled(window);
  });
  os::SetClock(nullptr);
  EXPECT_TRUE(cancelledInWait);
  EXPECT_LT(waited, 5000);
  EXPECT_TRUE(shownAfterWait);
}

}  // namespace
