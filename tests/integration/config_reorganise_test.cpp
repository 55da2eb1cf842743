// Carrying a user's settings into a new version of the settings file, on
// real files: the start-up states, version order, merge rules, self-checks.
#include "settings/config_reorganise.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/config_fixture.h"
#include "settings/config.h"
#include "support/virtual_clock.h"

namespace {

const std::string kOld =
    "CFGFileVersion=1\r\n; the user's file\r\nA=user\r\nB=userB\r\nOnlyOld=x\r\n";
const std::string kNew2 =
    "; new version\r\n[Main]\r\nCFGFileVersion=2\r\nA=newA\r\nB=newB\r\nOnlyNew=y\r\n";
const std::string kMerged2 =
    "; new version\r\n[Main]\r\nCFGFileVersion=2\r\nA=user\r\nB=userB\r\nOnlyNew=y\r\n";

class ConfigReorganise : public ConfigFixture {
 protected:
  ConfigReorganise() {
    // No self-checks unless a test asks for them.
    SetReorganiseRandomSource([] { return 0.5; });
  }
  std::string C() const { return Ini(); }
  std::string FromSetup() const { return Ini() + ".fromsetup"; }
  std::string NewVersion() const { return Ini() + ".newversion"; }
  std::string WorkDir() const { return dir / "tvqlupd.PWD"; }

  // Merges newContent over oldContent with CfgUpdateFromNewVersion.
  std::string Merge(const std::string& oldContent, const std::string& newContent) {
    WriteFile(Ini(), oldContent);
    WriteFile(dir / "n.ini", newContent);
    CfgInit();
    EXPECT_TRUE(CfgUpdateFromNewVersion(dir / "n.ini"));
    EXPECT_FALSE(PathExists(Ini() + ".forceNext"));
    EXPECT_EQ(ReadFile(Ini() + ".oldversion"), oldContent);
    return ReadFile(Ini());
  }
};

std::optional<std::string> Maybe(const std::string& path) {
  if (!PathExists(path)) return std::nullopt;
  return ReadFile(path);
}

TEST_F(ConfigReorganise, StartUpStates) {
  using Opt = std::optional<std::string>;
  const std::string kSetup0 = "CFGFileVersion=0\r\nA=setupA\r\nSetupOnly=s\r\n";
  const std::string kMerged0 = "CFGFileVersion=0\r\nA=user\r\nSetupOnly=s\r\n";
  const std::string kOldNoAuto = kOld + "CFGFileAutoUpdate=f\r\n";
  struct Row {
    const char* name;
    Opt c, fromSetup, newVersion;
    int answer;
    Opt wantC, wantNewVersion;
    bool wantQuestion;
  };
  const std::vector<Row> rows = {
      {"settings, no side files", kOld, {}, {}, kIdYes, kOld, {}, false},
      {"fromsetup only", {}, kNew2, {}, kIdYes, kNew2, kNew2, false},
      {"greater newversion", kOld, {}, kNew2, kIdYes, kMerged2, kNew2, false},
      {"equal newversion", kOld, {}, kOld, kIdYes, kOld, kOld, false},
      {"newversion, auto-update off", kOldNoAuto, {}, kNew2, kIdYes, kOldNoAuto, kNew2, false},
      {"newversion, no settings", {}, {}, kNew2, kIdYes, kNew2, kNew2, false},
      {"fromsetup, answer yes", kOld, kSetup0, {}, kIdYes, kMerged0, kSetup0, true},
      {"fromsetup, answer no", kOld, kSetup0, {}, kIdNo, kSetup0, kSetup0, true},
      {"fromsetup, yes, auto-update off", kOldNoAuto, kSetup0, {}, kIdYes, kOldNoAuto, kSetup0,
       true},
  };
  for (const Row& row : rows) {
    for (const std::string& f : {C(), FromSetup(), NewVersion()}) std::filesystem::remove(f);
    if (row.c) WriteFile(C(), *row.c);
    if (row.fromSetup) WriteFile(FromSetup(), *row.fromSetup);
    if (row.newVersion) WriteFile(NewVersion(), *row.newVersion);
    ui.boxes.clear();
    ui.answer = row.answer;
    CfgResetForTests();

    CfgStartup();

    EXPECT_EQ(Maybe(C()), row.wantC) << row.name;
    EXPECT_EQ(Maybe(NewVersion()), row.wantNewVersion) << row.name;
    EXPECT_FALSE(PathExists(FromSetup())) << row.name;
    ASSERT_EQ(ui.boxes.size(), row.wantQuestion ? 1u : 0u) << row.name;
    if (row.wantQuestion) {
      EXPECT_EQ(ui.boxes[0].flags, 0x24u) << row.name;
    }
  }
}

TEST_F(ConfigReorganise, SettingsElsewhereAreCopiedFromTheProgramsFile) {
  const std::string user = dir / "user.ini";
  WriteFile(C(), kOld);
  CfgInit(ParseCommandLine({"/INIFile=" + user}));
  CfgStartup();
  EXPECT_EQ(ReadFile(user), kOld);
  EXPECT_EQ(ReadFile(C()), kOld);
}

TEST_F(ConfigReorganise, AnswerNoLeavesSettingsElsewhereAlone) {
  const std::string user = dir / "user.ini";
  WriteFile(user, kOld);
  WriteFile(C(), kOld);
  WriteFile(FromSetup(), kNew2);
  ui.answer = kIdNo;
  CfgInit(ParseCommandLine({"/INIFile=" + user}));
  CfgStartup();
  EXPECT_EQ(ReadFile(user), kOld);
  EXPECT_EQ(ReadFile(C()), kNew2);
  EXPECT_EQ(ReadFile(NewVersion()), kNew2);
}

TEST_F(ConfigReorganise, ReinstallQuestionNamesTheProgram) {
  WriteFile(C(), kOld + "ProgramName=Zadovez\r\n");
  WriteFile(FromSetup(), kNew2);
  CfgStartup();
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].text,
            "Zadovez has been reinstalled. A personal configuration has been found. Please "
            "choose\r[Yes] for keeping your personal settings, or\r[No] for discarding your "
            "personal settings and reseting them to their defaults.");
  EXPECT_EQ(ui.boxes[0].flags, kMbYesNo | kMbIconQuestion);
}

TEST_F(ConfigReorganise, VersionsCompareAsText) {
  struct Case {
    const char* current;  // nullptr: no version key
    const char* next;
    bool force;
    bool merged;
  };
  const std::vector<Case> cases = {
      {"9", "10", false, false}, {"10", "2", false, true}, {"1", "1", false, false},
      {"9", "10", true, true},   {nullptr, "1", false, true}, {"2", nullptr, false, false},
      {"1.9", "1.10", false, false}, {"a", "B", false, false}, {"2", nullptr, true, true},
  };
  for (const auto& c : cases) {
    std::string current = "A=user\r\n";
    if (c.current) current = std::string("CFGFileVersion=") + c.current + "\r\n" + current;
    std::string next = "A=new\r\nB=new\r\n";
    if (c.next) next = std::string("CFGFileVersion=") + c.next + "\r\n" + next;
    WriteFile(Ini(), current);
    WriteFile(NewVersion(), next);
    CfgResetForTests();
    CfgInit();
    CfgReorganise(c.force, "");
    const std::string label = std::string(c.current ? c.current : "-") + " -> " +
                              (c.next ? c.next : "-") + (c.force ? " forced" : "");
    if (c.merged) {
      std::string want = "A=user\r\nB=new\r\n";
      if (c.next) want = std::string("CFGFileVersion=") + c.next + "\r\n" + want;
      else want += std::string("CFGFileVersion=") + c.current + "\r\n";
      EXPECT_EQ(ReadFile(Ini()), want) << label;
    } else {
      EXPECT_EQ(ReadFile(Ini()), current) << label;
    }
  }
}

TEST_F(ConfigReorganise, MergeKeepsNewLayoutAndOldValues) {
  EXPECT_EQ(Merge(kOld, kNew2),
            "; new version\r\n[Main]\r\nCFGFileVersion=1\r\nA=user\r\nB=userB\r\nOnlyNew=y\r\n");
}

TEST_F(ConfigReorganise, MergeRules) {
  struct Case {
    const char* name;
    std::string oldFile, newFile, want;
  };
  const std::vector<Case> cases = {
      {"case-only difference is not written", "A=abc\r\n", "A=ABC\r\n", "A=ABC\r\n"},
      {"duplicated old key: the later value wins", "K=1\r\nK=2\r\n", "K=0\r\n", "K=2\r\n"},
      {"duplicated old key: unrefreshed snapshot", "K=1\r\nK=2\r\n", "K=2\r\n", "K=1\r\n"},
      {"note lines merge like keys", "; Note=old\r\n", "; Note=new\r\n", "; Note=old\r\n"},
      {"comments are never merged", "// x=1\r\n ^ y=2\r\n   ^z=3\r\n",
       "// x=0\r\n ^ y=0\r\n   ^z=0\r\n", "// x=0\r\n ^ y=0\r\n   ^z=0\r\n"},
      {"caret without blank, four blanks: key lines", "^ y=2\r\n    ^w=4\r\n",
       "^ y=0\r\n    ^w=0\r\n", "^ y=2\r\n    ^w=4\r\n"},
      {"brackets and leading equals are not candidates", "[a]=1\r\n=x\r\n", "[a]=0\r\n=y\r\n",
       "[a]=0\r\n=y\r\n"},
      {"old key: only the new file's first line", "K=old\r\n", "K=a\r\nK=b\r\n",
       "K=old\r\nK=b\r\n"},
      {"blanks and equals in values", "Opt= a=b \r\n", "Opt=x\r\n", "Opt= a=b \r\n"},
      {"cr-only old file", "A=1\rB=2", "A=0\r\nB=0\r\n", "A=1\r\nB=2\r\n"},
  };
  for (const auto& c : cases) {
    CfgResetForTests();
    EXPECT_EQ(Merge(c.oldFile, c.newFile), c.want) << c.name;
  }
  EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(ConfigReorganise, VersionKeyIsCarriedThenSetToTheNewVersion) {
  WriteFile(Ini(), kOld);
  WriteFile(NewVersion(), kNew2);
  CfgStartup();
  EXPECT_EQ(ReadFile(Ini()), kMerged2);
  // The safe path worked on copies in the work directory and removed them.
  EXPECT_FALSE(PathExists(WorkDir() + "/iniFileUpd-new.ini"));
  EXPECT_FALSE(PathExists(WorkDir() + "/iniFileUpd-cur.ini"));
  EXPECT_EQ(ReadFile(WorkDir() + "/iniFileUpd-cur.ini.oldversion"), kOld);
  EXPECT_FALSE(PathExists(Ini() + ".oldversion"));
  EXPECT_TRUE(ui.boxes.empty());
  // A second start finds nothing newer.
  CfgResetForTests();
  CfgStartup();
  EXPECT_EQ(ReadFile(Ini()), kMerged2);
}

#ifndef _WIN32  // symbolic links need rights a Windows user rarely has
TEST_F(ConfigReorganise, ALinkedSettingsFileIsWrittenWhereTheLinkLeads) {
  const std::string real = dir / "kept-elsewhere.ini";
  const std::string extra = dir / "extra.ini";
  WriteFile(extra, "Extra=1\r\n");
  // The safe path (one settings file), the direct path (a chain of two) and
  // the setup's file answered with No all copy onto the settings file.
  for (const char* way : {"safe", "direct", "setup"}) {
    for (const std::string& f : {Ini(), real, NewVersion(), FromSetup()}) std::filesystem::remove(f);
    WriteFile(real, kOld);
    std::filesystem::create_symlink(real, Ini());
    const std::string way_(way);
    if (way_ == "setup") {
      WriteFile(FromSetup(), kNew2);
      ui.answer = kIdNo;
    } else {
      WriteFile(NewVersion(), kNew2);
    }
    CfgResetForTests();
    CfgInit();
    if (way_ == "direct") CfgPushFile(extra);
    if (way_ == "setup") CfgHandleSetupFile(); else CfgReorganise(false, "");
    if (way_ == "direct") CfgPopFile();
    EXPECT_TRUE(std::filesystem::is_symlink(Ini())) << way;
    EXPECT_EQ(ReadFile(real), way_ == "setup" ? kNew2 : kMerged2) << way;
  }
}
#endif

TEST_F(ConfigReorganise, ChainOfTwoIsReportedAndMergedDirectly) {
  WriteFile(Ini(), kOld);
  WriteFile(NewVersion(), kNew2);
  WriteFile(dir / "extra.ini", "Extra=1\r\n");
  CfgInit();
  CfgPushFile(dir / "extra.ini");
  CfgReorganise(false, "");
  CfgPopFile();
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_NE(ui.boxes[0].text.find("There could be an INI-update related problem [UCFUNVCF]"),
            std::string::npos);
  EXPECT_EQ(ReadFile(Ini()), kMerged2);
  EXPECT_EQ(ReadFile(Ini() + ".oldversion"), kOld);  // the direct path worked on S
  EXPECT_EQ(ReadFile(dir / "extra.ini"), "Extra=1\r\n");
}

TEST_F(ConfigReorganise, FailedStoresLeaveTheSettingsUntouched) {
  WriteFile(Ini(), kOld);
  WriteFile(NewVersion(), kNew2);
  // The rewrite's temporary files cannot be made on either path.
  std::filesystem::create_directories(dir / "tvqlupd.INI.$CF");
  std::filesystem::create_directories(WorkDir() + "/iniFileUpd-cur.ini.$CF");
  CfgStartup();
  EXPECT_EQ(ReadFile(Ini()), kOld);
  EXPECT_FALSE(PathExists(Ini() + ".forceNext"));
}

TEST_F(ConfigReorganise, ForcedSelfChecksReportOnlyDisagreements) {
  int draws = 0;
  SetReorganiseRandomSource([&] {
    ++draws;
    return 0.0;
  });
  EXPECT_EQ(Merge("A=1\r\nB=same\r\nGone=1\r\n", "A=0\r\nB=same\r\n"), "A=1\r\nB=same\r\n");
  EXPECT_TRUE(ui.boxes.empty());
  // Chain and top test of every key, and the skipped store of B.
  EXPECT_EQ(draws, 3 * 2 + 1);

  CfgResetForTests();
  EXPECT_EQ(Merge("Mode=abc\r\n", "Mode=ABC\r\n"), "Mode=ABC\r\n");
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].text,
            "minor problem while reorganizing settings; please report code \"GDI6777O\"");
  EXPECT_EQ(ui.boxes[0].caption, "");
  EXPECT_EQ(ui.boxes[0].flags, kMbOk);
}

#ifndef _WIN32  // the wait program here is a shell script
TEST_F(ConfigReorganise, AnnouncementStartsTheWaitProgram) {
  const std::string out = dir / "announce.txt";
  WriteFile(dir / "tvqlupduwait.exe", "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" + out + ".tmp'\nmv '" +
                                          out + ".tmp' '" + out + "'\n");
  std::filesystem::permissions(dir / "tvqlupduwait.exe", std::filesystem::perms(0755));
  WriteFile(Ini(), kOld);
  WriteFile(NewVersion(), kNew2);
  CfgStartup();
  EXPECT_EQ(AwaitFile(out, 3), "/D240\n/FX-\n/Mtvqlupd: INI-file update...\n");
  EXPECT_EQ(ReadFile(Ini()), kMerged2);
}
#endif

TEST_F(ConfigReorganise, UndeletableSetupFileIsReported) {
  VirtualClock clock;
  WriteFile(C(), kOld);
  WriteFile(FromSetup(), kNew2);
  ui.answer = kIdNo;
  {
    auto lock = os::FileLock::Exclusive(FromSetup());
    ASSERT_TRUE(lock.has_value());
    CfgStartup();
  }
  EXPECT_TRUE(PathExists(FromSetup()));
  EXPECT_EQ(ReadFile(C()), kNew2);
  ASSERT_EQ(ui.boxes.size(), 2u);
  EXPECT_NE(ui.boxes[1].text.find("Cannot delete file \"" + FromSetup() + "\""), std::string::npos);
  bool waitedASecond = false;
  for (auto ms : clock.Sleeps()) waitedASecond = waitedASecond || ms == 1000;
  EXPECT_TRUE(waitedASecond);
}

}  // namespace
