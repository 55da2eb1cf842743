#include "app/context/names.h"

#include <string>

#include <gtest/gtest.h>

#include "app/install/install.h"
#include "platform/os.h"
#include "support/fileutil.h"
#include "support/install_support.h"
#include "support/strfn.h"

namespace {

using Names = InstallFixture;

TEST_F(Names, FixedNamesOfTheMainApplication) {
  EXPECT_EQ(MainAppName(), "tvq");
  EXPECT_EQ(MainAppExeName(), "tvq.exe");
  EXPECT_EQ(MainAppPackedName(), "tvq.ex_");
  // The application's own copy, never one that PATH would find.
  EXPECT_EQ(RestartCommandLine(), CommandLineWord(ProgramDir(true) + "tvq.exe") + " /ExitAndLiveUpdate=on");
  const std::string program = os::SplitCommandLine(RestartCommandLine()).front();
  EXPECT_EQ(program, ProgramDir(true) + "tvq.exe");
  EXPECT_TRUE(IsPathDelim(program.front()) || program[1] == ':') << program;
}

TEST_F(Names, WorkDirectoryIsTempPlusLowerProgramNameAndInstallation) {
  struct Case {
    std::string temp, program, want;
  } cases[] = {
      {"/x/tmp", "tvqlupd", "/x/tmp/tvqlupd-"},
      {"/x/tmp/", "tvqlupd", "/x/tmp/tvqlupd-"},
      {"/x/tmp", "TvqLUpd", "/x/tmp/tvqlupd-"},
      {"/", "UPD", "/upd-"},
  };
  for (const auto& c : cases) {
    os::SetEnvVar("TEMP", c.temp);
    SetProgramName(c.program);
    EXPECT_EQ(WorkDirectory(), c.want + InstallationKey()) << c.temp << " / " << c.program;
    EXPECT_EQ(LowerProgramName(), LowStr(c.program)) << c.program;
  }
}

TEST_F(Names, EachInstallationHasItsOwnKey) {
  os::SetExecutablePathForTests("/opt/one/tvqlupd");
  const std::string one = InstallationKey();
  os::SetExecutablePathForTests("/opt/two/tvqlupd");
  const std::string two = InstallationKey();
  EXPECT_EQ(one.size(), 16u);
  EXPECT_NE(one, two);
  os::SetExecutablePathForTests("/opt/one/tvqlupd");
  EXPECT_EQ(InstallationKey(), one);
}

TEST_F(Names, DefaultUpdateSiteEndsInLowerProgramNameOrIsNone) {
  SetProgramName("TvqLUpd");
  const std::string base = DefaultSiteBase();
  if (base.empty()) {
    EXPECT_EQ(DefaultUpdateSite(), "");
    return;
  }
  EXPECT_EQ(base.back(), '/');
  EXPECT_EQ(base.rfind("http", 0), 0u) << base;
  EXPECT_EQ(DefaultUpdateSite(), base + "tvqlupd/");
}

TEST_F(Names, MorePendingConsumesTheFirstMarkerInOrder) {
  struct Case {
    std::vector<std::string> present;
    std::string consumed;
  } cases[] = {
      {{"!more", "!more.flg", "!more.txt"}, "!more"},
      {{"!more.flg", "!more.txt"}, "!more.flg"},
      {{"!more.txt"}, "!more.txt"},
  };
  for (const auto& c : cases) {
    RunContext run;
    for (const auto& name : c.present) WriteFile(W(name), "x");
    EXPECT_TRUE(MorePending(run)) << c.consumed;
    for (const auto& name : c.present) {
      EXPECT_EQ(PathExists(W(name)), name != c.consumed) << name;
      std::filesystem::remove(W(name));
    }
  }
}

TEST_F(Names, MorePendingStaysTrueOnceFound) {
  RunContext run;
  EXPECT_FALSE(MorePending(run));
  WriteFile(W("!more"), "");
  EXPECT_TRUE(MorePending(run));
  EXPECT_FALSE(PathExists(W("!more")));
  EXPECT_TRUE(MorePending(run));
}

TEST_F(Names, ShowDiagnosticOnlyWhileCtrlIsDown) {
  ShowDiagnostic("Cannot download list from host.");
  EXPECT_TRUE(ui.texts.empty());
  ui.ctrlDown = true;
  ShowDiagnostic("Cannot download list from host.");
  ASSERT_EQ(ui.texts.size(), 1u);
  EXPECT_EQ(ui.texts[0], "Cannot download list from host.");
}

}  // namespace
