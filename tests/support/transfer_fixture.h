#pragma once
// A fixture for tests of the list, transfer and download phases: TEMP points
// into a fresh directory (so the work directory is <root>/temp/tvqlupd and
// exists), the program stands in <root>/app with its settings file there,
// no proxy variable is set, the transfer limits are short, the display and
// the console lines are recorded, and Cancel is clear.

#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "app/context/names.h"
#include "app/context/run_context.h"
#include "app/fetch/transfer.h"
#include "http_test_server.h"
#include "platform/os.h"
#include "recording_display.h"
#include "scoped_env.h"
#include "settings/config.h"
#include "site_builder.h"
#include "std_text_capture.h"
#include "support/fileutil.h"
#include "temp_dir.h"

class TransferFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    SetProgramName("tvqlupd");
    // The work directory is named after the installation: set it first.
    os::SetExecutablePathForTests(root / "app/tvqlupd");
    work = WorkDirectory();
    ASSERT_TRUE(os::MakeDirectories(work).ok());
    ASSERT_TRUE(os::MakeDirectories(root / "app").ok());
    CfgResetForTests();
    CfgInit();
    ResetCancelForTests();
    TransferSettings quick;
    quick.connectTimeoutSeconds = 5;
    quick.stallSeconds = 2;
    SetTransferSettings(quick);
  }
  void TearDown() override {
    SetTransferSettings(TransferSettings());
    CfgResetForTests();
    os::SetExecutablePathForTests("");
    ResetCancelForTests();
  }

  // Records an installed update as the run does.
  static void Record(const std::string& lastUpdateInfo) {
    ASSERT_TRUE(CfgPutStr("LiveUpdate.lastUpdateInfo", lastUpdateInfo));
  }
  // A file in the work directory, joined with the platform's delimiter.
  std::string W(const std::string& name) const { return NativePath(work + "/" + name); }

  static std::string Made(const std::string& dir) {
    os::MakeDirectories(dir);
    return dir;
  }

  ScratchDir root;  // "class": fileutil.h has a function ScratchDir
  // Made first: std::filesystem (and so ScratchDir) needs TEMP to exist.
  ScopedEnv temp{"TEMP", Made(root / "temp")};
  ScopedEnv httpProxy{"http_proxy", std::nullopt};
  ScopedEnv allProxy{"all_proxy", std::nullopt};
  ScopedEnv allProxyUpper{"ALL_PROXY", std::nullopt};
  std::string work;
  RunProgress progress;  // the progress counted by the fetches that are given it
  RecordingDisplay display;
  StdTextCapture log;
};

// TransferFixture with an update site in a directory, served over HTTP by
// the in-process test server.
class HttpSiteFixture : public TransferFixture {
 protected:
  // A run context for that site whose update lists these entries.
  RunContext HttpContext(const std::vector<FileEntry>& entries) {
    RunContext ctx;
    ctx.site = server.BaseUrl();
    ctx.updateInfo = MakeBlock("TVQ 2024-04-01", entries);
    return ctx;
  }
  ScratchDir siteDir;
  SiteBuilder site{siteDir.path()};
  HttpTestServer server{siteDir.path()};
};
