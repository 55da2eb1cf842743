#include "app/context/names.h"

#include <string>

#include <gtest/gtest.h>

#include "app/install/install.h"
#include "app/list/file_entries.h"
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

TEST_F(Names, WorkDirectoryIsTempPlusLowerProgramNameAndInstallationOfThisAccount) {
  struct Case {
    std::string temp, program, want;
  } cases[] = {
      {"/x/tmp", "tvqlupd", "/x/tmp/tvqlupd-"},
      {"/x/tmp/", "tvqlupd", "/x/tmp/tvqlupd-"},
      {"/x/tmp", "TvqLUpd", "/x/tmp/tvqlupd-"},
      {"/", "UPD", "/upd-"},
  };
  const std::string key = WorkKeyOf(ProgramDir(false), os::CurrentAccount());
  for (const auto& c : cases) {
    os::SetEnvVar("TEMP", c.temp);
    SetProgramName(c.program);
    EXPECT_EQ(WorkDirectory(), c.want + key) << c.temp << " / " << c.program;
    EXPECT_EQ(LowerProgramName(), LowStr(c.program)) << c.program;
  }
  // The same installation, another account: another key of the same width.
  EXPECT_EQ(key.size(), 16u);
  EXPECT_NE(WorkKeyOf(ProgramDir(false), os::CurrentAccount() + "1"), key);
}

TEST_F(Names, TheRunLockFileIsNeverAListedFile) {
  SetProgramName("TvqLUpd");
  EXPECT_EQ(RunLockFile(), ProgramDir(true) + ".tvqlupd.lock");
  EXPECT_FALSE(IsPlainFileName(FileNameOf(RunLockFile())));
}

TEST_F(Names, EachInstallationHasItsOwnKey) {
  const std::string one = InstallationKeyOf("/opt/one");
  EXPECT_EQ(one.size(), 16u);
  EXPECT_NE(InstallationKeyOf("/opt/two"), one);
  EXPECT_EQ(InstallationKeyOf("/opt/one"), one);
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
