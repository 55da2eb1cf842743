// The choice at start: the window only where an X display can be opened,
// never FLTK's own "Can't open display" exit.
#include "ui/window_start.h"

#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "platform/os.h"
#include "support/lingua.h"
#include "support/virtual_clock.h"
#include "x_server.h"

namespace {

// Exit codes of the child processes below.
constexpr int kOpened = 3;
constexpr int kNotOpened = 4;

void ExitWithTryOpenDisplay(const char* display) {
  if (display) {
    setenv("DISPLAY", display, 1);
  } else {
    unsetenv("DISPLAY");
  }
  std::exit(TryOpenDisplay() ? kOpened : kNotOpened);
}

TEST(WindowStart, NoDisplayVariableMeansNoWindow) {
  EXPECT_EXIT(ExitWithTryOpenDisplay(nullptr), testing::ExitedWithCode(kNotOpened), "");
  EXPECT_EXIT(ExitWithTryOpenDisplay(""), testing::ExitedWithCode(kNotOpened), "");
}

TEST(WindowStart, DisplayThatCannotBeOpenedMeansNoWindowInsteadOfAnExit) {
  // No server listens there (FLTK would print "Can't open display" and exit 1).
  EXPECT_EXIT(ExitWithTryOpenDisplay(":7391"), testing::ExitedWithCode(kNotOpened), "");
  EXPECT_EXIT(ExitWithTryOpenDisplay("no-such-host.invalid:0"), testing::ExitedWithCode(kNotOpened), "");
}

TEST(WindowStart, RunWindowWithoutDisplayRunsOnTheConsole) {
  EXPECT_EXIT(
      {
        unsetenv("DISPLAY");
        SetLanguage('E');
        VirtualClock clock;  // the console's start delay passes at once
        os::SetClock(&clock);
        bool ran = false;
        const int code = RunWindow([&] { ran = true; });
        std::exit(ran && code == 0 ? kNotOpened : kOpened);
      },
      testing::ExitedWithCode(kNotOpened), "initializing");
}

TEST(WindowStart, RunningServerIsOpened) {
  if (!xtest::XServer::Instance().Running()) GTEST_SKIP() << "Xvfb is not available";
  EXPECT_TRUE(TryOpenDisplay());
  EXPECT_TRUE(TryOpenDisplay());
}

}  // namespace
