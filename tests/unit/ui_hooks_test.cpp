#include "support/ui_hooks.h"

#include <iostream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "support/recording_user_interface.h"

namespace {

TEST(UiHooks, ConsoleBoxesPrintAndConfirm) {
  std::ostringstream captured;
  auto* old = std::cerr.rdbuf(captured.rdbuf());
  UserInterface& console = CurrentUserInterface();
  const int ok = console.MessageBox("text one", "Error", 0x50030);
  const int yes = console.MessageBox("keep?", "", kMbYesNo | kMbIconQuestion);
  std::cerr.rdbuf(old);
  EXPECT_EQ(&console, &ConsoleUserInterface());
  EXPECT_EQ(ok, kIdOk);
  EXPECT_EQ(yes, kIdYes);
  EXPECT_EQ(captured.str(), "Error: text one\nkeep?\n");
  EXPECT_FALSE(console.KeyDown(kVkControl));
  EXPECT_FALSE(console.PumpMessages(-1));
}

TEST(UiHooks, InstalledInterfaceServesUntilReset) {
  RecordingUserInterface ui;  // installs itself
  ui.answer = kIdNo;
  SetUserInterface(&ui);
  EXPECT_EQ(&CurrentUserInterface(), &ui);
  EXPECT_EQ(CurrentUserInterface().MessageBox("q", "", kMbYesNo), kIdNo);
  SetUserInterface(nullptr);
  EXPECT_EQ(&CurrentUserInterface(), &ConsoleUserInterface());
}

}  // namespace
