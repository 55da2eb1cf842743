#pragma once
// Test helpers for the installation: a user interface that records its
// message boxes, a virtual clock that can act at a given sleep, and a
// fixture with a work directory under its own TEMP and an application
// directory that is the current directory.

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/install.h"
#include "app/names.h"
#include "platform/os.h"
#include "recording_display.h"
#include "support/fileutil.h"
#include "support/lingua.h"
#include "support/ui_hooks.h"
#include "temp_dir.h"
#include "virtual_clock.h"

class RecordingUserInterface : public UserInterface {
 public:
  RecordingUserInterface() { SetUserInterface(this); }
  ~RecordingUserInterface() override { SetUserInterface(nullptr); }

  int MessageBox(const std::string& text, const std::string& caption, unsigned) override {
    texts.push_back(text);
    captions.push_back(caption);
    return kIdOk;
  }
  bool KeyDown(int virtualKey) override { return virtualKey == kVkControl && ctrlDown; }
  bool PumpMessages(int) override { return false; }

  std::vector<std::string> texts;
  std::vector<std::string> captions;
  bool ctrlDown = false;
};

// A virtual clock that calls onSleep after recording each sleep.
class HookedClock : public VirtualClock {
 public:
  void SleepMs(std::int64_t ms) override {
    VirtualClock::SleepMs(ms);
    if (onSleep) onSleep(ms);
  }
  std::int64_t Count(std::int64_t ms) const {
    return std::count(Sleeps().begin(), Sleeps().end(), ms);
  }
  std::function<void(std::int64_t)> onSleep;
};

// TEMP points into a fresh directory, so the work directory W is
// <root>/temp/tvqlupd; the application directory <root>/app is current.
class InstallFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    savedTemp_ = os::GetEnvVar("TEMP");
    savedCwd_ = os::CurrentDirectory();
    SetProgramName("tvqlupd");
    os::SetEnvVar("TEMP", root / "temp");
    work = WorkDirectory() + "/";
    app = root / "app";
    outside = root / "outside";
    ASSERT_TRUE(os::MakeDirectories(work));
    ASSERT_TRUE(os::MakeDirectories(app));
    ASSERT_TRUE(os::MakeDirectories(outside));
    ASSERT_TRUE(os::ChangeDirectory(app));
    SetLanguage('E');
    ResetMorePendingForTests();
    ResetInstallOkForTests();
  }
  void TearDown() override {
    os::ChangeDirectory(savedCwd_);
    if (savedTemp_)
      os::SetEnvVar("TEMP", *savedTemp_);
    else
      os::UnsetEnvVar("TEMP");
    ResetMorePendingForTests();
  }

  std::string W(const std::string& name) const { return work + name; }
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
  std::optional<std::string> savedTemp_;
  std::string savedCwd_;
};
