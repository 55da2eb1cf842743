#pragma once
// A fixture for tests of the installation: a work directory under its own
// TEMP and an application directory that is the current directory, with the
// recording user interface and display and a virtual clock that can act at a
// given sleep.

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/context/names.h"
#include "app/context/run_context.h"
#include "app/install/install.h"
#include "platform/os.h"
#include "recording_display.h"
#include "recording_user_interface.h"
#include "scoped_env.h"
#include "support/fileutil.h"
#include "support/lingua.h"
#include "support/ui_hooks.h"
#include "temp_dir.h"
#include "virtual_clock.h"

// TEMP points into a fresh directory, so the work directory W is
// <root>/temp/tvqlupd; the application directory <root>/app is current.
class InstallFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    savedCwd_ = os::CurrentDirectory();
    SetProgramName("tvqlupd");
    tempVar_.Set(root / "temp");
    app = root / "app";
    // The program lives in the application directory, as installed; the
    // work directory is named after that installation.
    os::SetExecutablePathForTests(app + "/tvqlupd");
    work = WorkDirectory() + "/";
    outside = root / "outside";
    ASSERT_TRUE(os::MakeDirectories(work).ok());
    ASSERT_TRUE(os::MakeDirectories(app).ok());
    ASSERT_TRUE(os::MakeDirectories(outside).ok());
    ASSERT_TRUE(os::ChangeDirectory(app));
    SetLanguage('E');
    ResetCancelForTests();
  }
  void TearDown() override {
    ResetCancelForTests();
    os::SetExecutablePathForTests("");
    os::ChangeDirectory(savedCwd_);
  }

  std::string W(const std::string& name) const { return work + name; }
  // The installation of every entry of the work directory but its
  // directories, as if each had been verified in this run.
  Status InstallWorkFiles() const {
    RunContext context;
    for (const os::DirEntry& e : os::ListDirectory(work))
      if (!os::StatPath(W(e.name)).isDirectory) context.verifiedFiles.push_back(e.name);
    return InstallUpdate(context);
  }
  std::string App(const std::string& name) const { return app + "/" + name; }

  // Names in a directory (sorted).
  static std::set<std::string> Listing(const std::string& dir) {
    std::set<std::string> names;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(dir, ec))
      names.insert(e.path().filename().string());
    return names;
  }
  // The error box text for a failed copy.
  static std::string CannotCopy(const std::string& source, const std::string& target) {
    return "cannot copy \"" + source + "\" to \"" + target + "\"";
  }

  ScratchDir root;
  std::string work, app, outside;
  HookedClock clock;
  RecordingDisplay display;
  RecordingUserInterface ui;

 private:
  ScopedEnv tempVar_{"TEMP"};
  std::string savedCwd_;
};
