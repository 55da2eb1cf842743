#pragma once
// A settings store on a fresh temporary directory: the program "tvqlupd"
// stands in it (so its settings file is tvqlupd.INI there), TEMP points into
// it, and message boxes are recorded and answered instead of shown.

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
#include "recording_user_interface.h"
#include "scoped_env.h"
#include "temp_dir.h"

class ConfigFixture : public ::testing::Test {
 protected:
  ConfigFixture() {
    os::SetExecutablePathForTests(dir / "tvqlupd");
    SetLanguage('E');
    CfgResetForTests();
    SetReorganiseRandomSource(nullptr);
  }
  ~ConfigFixture() override {
    CfgResetForTests();
    SetReorganiseRandomSource(nullptr);
    os::SetExecutablePathForTests("");
  }

  // The settings file of the program, tvqlupd.INI beside it.
  std::string Ini() const { return dir / "tvqlupd.INI"; }

  ScratchDir dir;
  RecordingUserInterface ui;

 private:
  ScopedEnv tempVar_{"TEMP", dir.path()};
  ScopedEnv programFiles_{"PROGRAMFILES", std::nullopt};
};
