// The console display off a terminal (as in a log or a pipe): one line per
// status, host and update ID, and the bar as a line per quarter.
#include "ui/console_display.h"

#include <iostream>
#include <sstream>

#include <gtest/gtest.h>

#include "app/context/display.h"

namespace {

class ConsoleDisplayTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved = std::cerr.rdbuf(captured.rdbuf());
    SetDisplaySurface(&console);
    ResetDisplayState();
  }
  void TearDown() override {
    SetDisplaySurface(nullptr);
    std::cerr.rdbuf(saved);
  }
  std::ostringstream captured;
  std::streambuf* saved = nullptr;
  ConsoleDisplay console;
};

TEST_F(ConsoleDisplayTest, StatusHostAndUpdateIdAreLinesOfTheirOwn) {
  ShowStatus("checking for updates...");
  ShowStatus("checking for updates...");  // the same status again prints nothing
  ShowHost("http://updates.example.com/tvqlupd/");
  ShowHost("http://updates.example.com/tvqlupd/");
  ShowUpdateId("2026-12-07");
  EXPECT_EQ(captured.str(),
            "checking for updates...\n"
            "host: updates.example.com\n"
            "update ID: 2026-12-07\n");
}

TEST_F(ConsoleDisplayTest, BarPrintsAQuarterAtATimeAndItsLastValueBeforeTheNextLine) {
  ShowStatus("downloading...");
  for (int p = 1; p <= 60; ++p) ShowProgress(p);
  ShowStatus("installing...");
  ShowProgress(100);
  const std::string out = captured.str();
  const std::string bar25 = "[##########..............................] 25%\n";
  const std::string bar60 = "[########################................] 60%\n";
  const std::string bar100 = "[########################################] 100%\n";
  EXPECT_EQ(out, "downloading...\n" + bar25 + "[####################....................] 50%\n" +
                     bar60 + "installing...\n" + bar100);
}

}  // namespace
