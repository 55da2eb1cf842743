#pragma once
// A settings store on a fresh temporary directory: the program "tvqlupd"
// stands in it (so its settings file is tvqlupd.INI there), TEMP points into
// it, there are no command-line arguments, and message boxes are recorded
// and answered instead of shown.

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/os.h"
#include "settings/config.h"
#include "settings/config_reorganise.h"
#include "support/lingua.h"
#include "support/ui_hooks.h"
#include "temp_dir.h"

// Records every message box and answers questions with a set button.
class RecordingUserInterface : public UserInterface {
 public:
  struct Box {
    std::string text;
    std::string caption;
    unsigned flags;
  };
  RecordingUserInterface() { SetUserInterface(this); }
  ~RecordingUserInterface() override { SetUserInterface(nullptr); }
  RecordingUserInterface(const RecordingUserInterface&) = delete;
  RecordingUserInterface& operator=(const RecordingUserInterface&) = delete;

  int MessageBox(const std::string& text, const std::string& caption, unsigned flags) override {
    boxes.push_back({text, caption, flags});
    return (flags & kMbYesNo) ? answer : kIdOk;
  }
  bool KeyDown(int) override { return false; }
  bool PumpMessages(int) override { return false; }

  std::vector<Box> boxes;
  int answer = kIdYes;
};

class ConfigFixture : public ::testing::Test {
 protected:
  ConfigFixture() {
    savedTemp_ = os::GetEnvVar("TEMP");
    savedProgramFiles_ = os::GetEnvVar("PROGRAMFILES");
    os::SetEnvVar("TEMP", dir.path());
    os::UnsetEnvVar("PROGRAMFILES");
    os::SetExecutablePathForTests(dir / "tvqlupd");
    os::SetArguments({});
    SetLanguage('E');
    CfgResetForTests();
    SetReorganiseRandomSource(nullptr);
  }
  ~ConfigFixture() override {
    CfgResetForTests();
    SetReorganiseRandomSource(nullptr);
    os::SetExecutablePathForTests("");
    os::SetArguments({});
    Restore("TEMP", savedTemp_);
    Restore("PROGRAMFILES", savedProgramFiles_);
  }

  // The settings file of the program, tvqlupd.INI beside it.
  std::string Ini() const { return dir / "tvqlupd.INI"; }

  ScratchDir dir;
  RecordingUserInterface ui;

 private:
  static void Restore(const std::string& name, const std::optional<std::string>& value) {
    if (value)
      os::SetEnvVar(name, *value);
    else
      os::UnsetEnvVar(name);
  }
  std::optional<std::string> savedTemp_;
  std::optional<std::string> savedProgramFiles_;
};
