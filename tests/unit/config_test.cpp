// The settings store's names, chain and start rules.
#include "settings/config.h"

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/temp_dir.h"

#include "support/config_fixture.h"
#include "support/scoped_env.h"

namespace {

using Config = ConfigFixture;

TEST_F(Config, DefaultFileNameIsTheProgramPathWithIni) {
  EXPECT_EQ(CfgDefaultFileName(), dir / "tvqlupd.INI");
  os::SetExecutablePathForTests(dir / "app.exe");
  EXPECT_EQ(CfgDefaultFileName(), dir / "app.INI");
}

TEST_F(Config, ProgramFilesMovesSettingsToAppData) {
  const std::string programFiles = dir / "Program Files";
  const std::string appData = dir / "appdata";
  os::SetEnvVar("PROGRAMFILES", programFiles);  // the fixture puts it back
  ScopedEnv appDataVar("AppData", appData);
  struct Case {
    std::string program;
    std::string want;
  };
  const std::vector<Case> cases = {
      {programFiles + "/Maker/App/app", appData + "/Maker/App/app.INI"},
      {dir / "PROGRAM FILES/Maker/app", appData + "/Maker/app.INI"},  // case aside
      {programFiles + "/Maker/tvqlupd", programFiles + "/Maker/tvqlupd.INI"},  // "upd."
      {programFiles + "/Maker/myupd.x/app", programFiles + "/Maker/myupd.x/app.INI"},
      {dir / "elsewhere/app", dir / "elsewhere/app.INI"},
  };
  for (const auto& c : cases) {
    os::SetExecutablePathForTests(NativePath(c.program));
    EXPECT_EQ(CfgDefaultFileName(), NativePath(c.want)) << c.program;
  }
  EXPECT_TRUE(std::filesystem::is_directory(appData + "/Maker/App"));
}

TEST_F(Config, EmptyProgramFilesMovesNothing) {
  os::SetEnvVar("PROGRAMFILES", "");
  ScopedEnv appDataVar("AppData", dir / "appdata");
  EXPECT_EQ(CfgDefaultFileName(), dir / "tvqlupd.INI");
}

TEST_F(Config, FileNameIsTheOverrideElseTheCommandLinesElseTheDefault) {
  const std::string named = dir / "b.ini";
  EXPECT_EQ(CfgFileName(), dir / "tvqlupd.INI");
  CfgInit(ParseCommandLine({"/ConfigFile=" + named}));
  EXPECT_EQ(CfgChain(), named);
  CfgSetOverride("over.ini");
  EXPECT_EQ(CfgFileName(), "over.ini");
  CfgSetOverride("");
  CfgInit(ParseCommandLine({"/INIFile=later.ini"}));  // a second call does nothing
  EXPECT_EQ(CfgFileName(), named);
  CfgResetForTests();
  EXPECT_EQ(CfgFileName(), dir / "tvqlupd.INI");
}

TEST_F(Config, PushAndPopChangeOnlyTheChain) {
  CfgInit();
  const std::string main = CfgChain();
  // "b" names nothing that exists (the current directory may hold a "b").
  ScratchDir empty;
  const std::string b = empty / "b";
  CfgPushFile("a.ini");
  CfgPushFile(b);
  EXPECT_EQ(CfgChain(), b + ";a.ini;" + main);
  EXPECT_EQ(CfgTopFileName(), b + ".INI");
  CfgPopFile();
  EXPECT_EQ(CfgChain(), "a.ini;" + main);
  CfgPopFile();
  CfgPopFile();  // a single entry stays
  EXPECT_EQ(CfgChain(), main);
}

using ConfigDeathTest = ConfigFixture;

TEST_F(ConfigDeathTest, LookUpBeforeInitStopsWith222) {
  EXPECT_EXIT(CfgGetStr("A=1"), ::testing::ExitedWithCode(222), "before CfgInit");
  EXPECT_EXIT(CfgPutStr("A", "1"), ::testing::ExitedWithCode(222), "before CfgInit");
}

}  // namespace
