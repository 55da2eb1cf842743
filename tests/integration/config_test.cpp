// The settings store on real files: look-ups, stores, the chain, bad input.
#include "settings/config.h"

#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/config_fixture.h"
#ifndef _WIN32
#include "support/fs_faults.h"
#endif
#include "settings/settings_env.h"
#include "support/strfn.h"

namespace {

class Config : public ConfigFixture {
 protected:
  // Writes the settings file and starts the store on it.
  void Start(const std::string& content) {
    WriteFile(Ini(), content);
    CfgInit();
  }
  std::string Content() const { return ReadFile(Ini()); }
  bool NoTempFileLeft() const { return !PathExists(dir / "tvqlupd.$CF"); }
};

TEST_F(Config, LookUpTable) {
  struct Case {
    std::string file;
    std::string keySpec;
    std::string want;
  };
  const std::vector<Case> cases = {
      {"a=2\r\n", "A=1", "2"},                            // keys without regard to case
      {"A = 2\r\n", "A=1", "1"},                          // blanks are part of the key
      {"  A=2\r\n", "A=1", "1"},                          // leading blanks: no key
      {"A:=x\r\n", "A=d", "x"},                           // the ":=" form
      {"Opt= a=b \r\n", "Opt", " a=b "},                  // value verbatim
      {"K=1\r\nK=2\r\n", "K", "1"},                       // first line wins
      {"LIVEUPDATE.*=w\r\n", "LiveUpdate.www=d", "w"},    // line key as pattern
      {"LiveUpdate.www=w\r\n", "LIVEUPDATE.*=d", "w"},    // asked key as pattern
      {"x=1\r\nLIVEUPDATE.*=w\r\nLiveUpdate.www=v\r\n", "LiveUpdate.www", "w"},
      {"LiveUpdate.www=v\r\nLIVEUPDATE.*=w\r\n", "LiveUpdate.www", "v"},
      {"[Section]\r\nKey=v\r\n", "Key", "v"},              // sections are not interpreted
      {"Key=v\r\n", "Ke=d", "d"},                         // a prefix is no match
      {"Key\r\n", "Key=d", "d"},                          // a line without "=" is no key line
      {"Spec=1\r\n", "Other=a=b", "a=b"},                 // default keeps its "="
      {"X=\r\n", "X=5", ""},                              // present and empty
      {"", "X=", ""},
      {"a=1\rb=2\rc=3", "B", "2"},                        // CR-only line ends
      {"a=1\nb=2\n", "b", "2"},                           // LF-only line ends
      {"a=1\r\nlast=9", "last", "9"},                     // no final line end
  };
  for (const auto& c : cases) {
    WriteFile(Ini(), c.file);
    CfgInit();
    EXPECT_EQ(CfgGetStr(c.keySpec), c.want) << "file: " << c.file << " keySpec: " << c.keySpec;
  }
}

TEST_F(Config, FoundFlagFollowsTheLastSearch) {
  Start("A=1\r\nEmpty=\r\n");
  CfgGetStr("A");
  EXPECT_TRUE(CfgFound());
  CfgGetStr("B=x");
  EXPECT_FALSE(CfgFound());
  EXPECT_TRUE(CfgKeyExists("Empty=zz"));
  EXPECT_FALSE(CfgKeyExists("Missing"));
}

TEST_F(Config, GetStrDefReplacesAnEmptyValue) {
  Start("E=\r\n");
  EXPECT_EQ(CfgGetStr("E=d"), "");
  EXPECT_EQ(CfgGetStrDef("E=d"), "d");
  EXPECT_EQ(CfgGetStr("Absent="), "");
  EXPECT_EQ(CfgGetStrDef("Absent=d"), "d");
}

TEST_F(Config, GetIntTakesDefaultOnlyForAnAbsentKey) {
  Start("Empty=\r\nX=42\r\nNeg=-7\r\nBad=12a\r\n");
  EXPECT_EQ(CfgGetInt("Absent=-1"), -1);
  EXPECT_EQ(CfgGetInt("Empty=-1"), 0);
  EXPECT_EQ(CfgGetInt("X=-1"), 42);
  EXPECT_EQ(CfgGetInt("Neg"), -7);
  std::int32_t n = 5;
  EXPECT_FALSE(CfgReadInt("Bad", n));
  EXPECT_FALSE(CfgReadInt("Empty", n));
  EXPECT_EQ(n, 5);
}

TEST_F(Config, ReadNumbersAsTheRuntimeConverts) {
  Start("Hex=$1F\r\nHex2=0x10\r\nBlank= 12\r\nTrail=12 \r\nBig=4294967295\r\nMinus=-1\r\n"
        "Over=2147483648\r\n");
  struct Case {
    const char* key;
    bool ok;
    std::int32_t want;
  };
  for (const Case& c : {Case{"Hex", true, 31}, Case{"Hex2", true, 16}, Case{"Blank", true, 12},
                        Case{"Trail", false, 0}, Case{"Over", false, 0}, Case{"Minus", true, -1}}) {
    std::int32_t n = 0;
    EXPECT_EQ(CfgReadInt(c.key, n), c.ok) << c.key;
    if (c.ok) {
      EXPECT_EQ(n, c.want) << c.key;
    }
  }
  std::uint32_t u = 0;
  EXPECT_TRUE(CfgReadUInt("Big", u));
  EXPECT_EQ(u, 4294967295u);
  EXPECT_TRUE(CfgReadUInt("Minus", u));
  EXPECT_EQ(u, 0xFFFFFFFFu);
}

TEST_F(Config, ReadBoolSucceedsForEveryNonEmptyText) {
  Start("Maybe=maybe\r\nEmpty=\r\nYes=Ja\r\nNo=non\r\n");
  bool b = true;
  EXPECT_TRUE(CfgReadBool("Maybe", b));
  EXPECT_FALSE(b);
  EXPECT_TRUE(CfgReadBool("Empty=t", b));
  EXPECT_TRUE(b);
  EXPECT_TRUE(CfgReadBool("Yes", b));
  EXPECT_TRUE(b);
  EXPECT_TRUE(CfgReadBool("No=t", b));
  EXPECT_FALSE(b);
  b = true;
  EXPECT_FALSE(CfgReadBool("Absent", b));
  EXPECT_TRUE(b);
  EXPECT_TRUE(CfgIsTrue("Absent=on"));
  EXPECT_FALSE(CfgIsTrue("Maybe"));
  EXPECT_TRUE(CfgIsValue("No", false));
  EXPECT_FALSE(CfgIsValue("Absent", false));
}

TEST_F(Config, StoreRewritesTheFirstLineOnly) {
  Start("K=1\r\nK=2\r\n");
  EXPECT_TRUE(CfgPutStr("K", "3"));
  EXPECT_EQ(Content(), "K=3\r\nK=2\r\n");
  EXPECT_EQ(CfgGetStr("K"), "3");
  EXPECT_TRUE(NoTempFileLeft());
}

#ifndef _WIN32  // symbolic links need rights a Windows user rarely has
TEST_F(Config, StoreThroughALinkKeepsTheLink) {
  const std::string real = dir / "kept-elsewhere.ini";
  WriteFile(real, "K=1\r\nL=2\r\n");
  std::filesystem::create_symlink(real, Ini());
  CfgInit();
  EXPECT_TRUE(CfgPutStr("K", "3"));
  EXPECT_TRUE(std::filesystem::is_symlink(Ini()));
  EXPECT_EQ(ReadFile(real), "K=3\r\nL=2\r\n");
  EXPECT_FALSE(PathExists(dir / "kept-elsewhere.$CF"));
}
#endif

TEST_F(Config, StoreKeepsTheWrittenKeyPart) {
  Start("a:=x\r\nlive.*=w\r\n");
  EXPECT_TRUE(CfgPutStr("A", "y"));
  EXPECT_TRUE(CfgPutStr("LIVE.www", "v"));
  EXPECT_EQ(Content(), "a:=y\r\nlive.*=v\r\n");
}

TEST_F(Config, StoreOfACaseOnlyChangeRewrites) {
  Start("Mode=abc\r\n");
  EXPECT_TRUE(CfgPutStr("mode", "ABC"));
  EXPECT_EQ(Content(), "Mode=ABC\r\n");
}

TEST_F(Config, StoreOfTheSameValueWritesNothing) {
  Start("# comment\rMode=abc");  // a rewrite would normalise the line ends
  EXPECT_TRUE(CfgPutStr("Mode", "abc"));
  EXPECT_EQ(Content(), "# comment\rMode=abc");
}

TEST_F(Config, StoreOfANewKeyAppendsEvenTheDefault) {
  Start("A=1\r\n");
  EXPECT_TRUE(CfgPutStr("B", ""));
  EXPECT_TRUE(CfgPutInt("LiveUpdate.installationInfo", -1));
  // On the disk at once, before any further operation of the store.
  EXPECT_EQ(Content(), "A=1\r\nB=\r\nLiveUpdate.installationInfo=-1\r\n");
}

TEST_F(Config, AppendCreatesAMissingTopFile) {
  CfgInit();
  ASSERT_FALSE(PathExists(Ini()));
  EXPECT_TRUE(CfgPutStr("New", "v"));
  EXPECT_EQ(Content(), "New=v\r\n");
}

TEST_F(Config, AppendAfterALastLineWithoutEndStartsANewLine) {
  Start("A=1");
  EXPECT_TRUE(CfgPutStr("B", "2"));
  EXPECT_EQ(Content(), "A=1\r\nB=2\r\n");
  EXPECT_EQ(CfgGetStr("A"), "1");
}

TEST_F(Config, RewriteNormalisesLineEndsAndKeepsTheRest) {
  Start("x=1\ra=1\n\nb=2");
  EXPECT_TRUE(CfgPutStr("b", "3"));
  EXPECT_EQ(Content(), "x=1\r\na=1\r\n\r\nb=3\r\n");
}

#ifndef _WIN32  // permission bits beyond read-only are Linux's
TEST_F(Config, RewriteKeepsThePermissions) {
  Start("A=1\r\n");
  std::filesystem::permissions(Ini(), std::filesystem::perms(0600));
  EXPECT_TRUE(CfgPutStr("A", "2"));
  EXPECT_EQ(std::filesystem::status(Ini()).permissions() & std::filesystem::perms::all,
            std::filesystem::perms(0600));
}
#endif

TEST_F(Config, PutAssignmentSplitsAtTheFirstEquals) {
  Start("A=1\r\nFlag=on\r\n");
  EXPECT_TRUE(CfgPutAssignment("a=b=c"));
  EXPECT_TRUE(CfgPutAssignment("Flag"));
  EXPECT_EQ(Content(), "A=b=c\r\nFlag=\r\n");
}

TEST_F(Config, NulBytesAndLongLinesSurviveARewrite) {
  const std::string nul("v\0w", 3);
  const std::string longValue(1 << 20, 'x');
  Start("Nul=" + nul + "\r\nLong=" + longValue + "\r\nK=1\r\n");
  EXPECT_EQ(CfgGetStr("Nul"), nul);
  EXPECT_EQ(CfgGetStr("Long"), longValue);
  EXPECT_TRUE(CfgPutStr("K", "2"));
  EXPECT_EQ(Content(), "Nul=" + nul + "\r\nLong=" + longValue + "\r\nK=2\r\n");
  EXPECT_TRUE(CfgPutStr("Long", "short"));
  EXPECT_EQ(Content(), "Nul=" + nul + "\r\nLong=short\r\nK=2\r\n");
}

TEST_F(Config, ASettingsPathThatIsADirectoryHoldsNothing) {
  std::filesystem::create_directory(Ini());
  CfgInit();
  EXPECT_EQ(CfgGetStr("A=d"), "d");
  EXPECT_FALSE(CfgPutStr("A", "1"));
  EXPECT_TRUE(std::filesystem::is_directory(Ini()));
}

TEST_F(Config, AFailedRewriteLeavesTheFileAsItWas) {
  Start("A=1\r\n");
  std::filesystem::create_directory(dir / "tvqlupd.$CF");  // the temporary file cannot be made
  EXPECT_FALSE(CfgPutStr("A", "2"));
  EXPECT_EQ(Content(), "A=1\r\n");
}

#ifndef _WIN32  // permission bits for another user, FIFOs and /dev are Linux's
TEST_F(Config, AnUnreadableFileIsNeverLost) {
  Start("A=1\r\n");
  // The directory stays writable for whoever runs the store: only the file
  // cannot be read, so a rewrite would replace it with what it could see.
  std::filesystem::permissions(dir.path(), std::filesystem::perms::all);
  std::filesystem::permissions(Ini(), std::filesystem::perms::none);
  bool stored = true;
  std::string value;
  {
    AsUnprivileged nobody;
    if (!nobody.Effective()) GTEST_SKIP() << "permission bits do not apply to this user";
    value = CfgGetStr("A=d");
    stored = CfgPutStr("A", "2");
  }
  std::filesystem::permissions(Ini(), std::filesystem::perms::owner_all);
  EXPECT_EQ(value, "d");
  EXPECT_FALSE(stored);
  EXPECT_EQ(Content(), "A=1\r\n");
  EXPECT_TRUE(NoTempFileLeft());
}

#endif

TEST_F(Config, LinesWithoutEqualsAnswerNoKeyAndSurviveStores) {
  // Separator and comment lines with wildcard characters stand above the keys.
  Start("*****\r\n; ** note **\r\n?\r\nLiveUpdate.www=site\r\n");
  EXPECT_EQ(CfgGetStr("LiveUpdate.www=d"), "site");
  EXPECT_EQ(CfgGetStr("LiveUpdate.lastUpdateInfo=<none>"), "<none>");
  EXPECT_FALSE(CfgKeyExists("Other"));
  EXPECT_TRUE(CfgPutStr("LiveUpdate.lastUpdateInfo", "<update id=\"A1\">"));
  EXPECT_TRUE(CfgPutStr("LiveUpdate.www", "other"));
  EXPECT_EQ(Content(), "*****\r\n; ** note **\r\n?\r\nLiveUpdate.www=other\r\n"
                       "LiveUpdate.lastUpdateInfo=<update id=\"A1\">\r\n");
  EXPECT_EQ(CfgGetStr("Unrelated=u"), "u");
}

#ifndef _WIN32
TEST_F(Config, AWriteProtectedFileStaysUnchanged) {
  Start("A=1\r\n");
  // The directory is open to all, the file to its owner only: a rename
  // could replace it, a write may not.
  std::filesystem::permissions(dir.path(), std::filesystem::perms::all);
  std::filesystem::permissions(Ini(), std::filesystem::perms(0644));
  AsUnprivileged nobody;
  if (!nobody.Effective()) GTEST_SKIP() << "permission bits do not apply";
  EXPECT_EQ(CfgGetStr("A=d"), "1");
  EXPECT_FALSE(CfgPutStr("A", "2"));
  EXPECT_FALSE(CfgPutStr("New", "x"));
  EXPECT_EQ(Content(), "A=1\r\n");
  EXPECT_TRUE(NoTempFileLeft());
}

TEST_F(Config, SettingsFilesThatAreNoRegularFilesHoldNothing) {
  const std::string fifo = dir / "pipe";
  const std::string folder = dir / "folder";
  const std::string device = dir / "device";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  std::filesystem::create_directory(folder);
  std::filesystem::create_symlink("/dev/zero", device);
  ASSERT_EQ(::mkfifo((dir / "pipe.ini").c_str(), 0644), 0);
  // Given with and without extension, and as the program's own file by link.
  for (const std::string& name : {fifo, fifo + ".ini", folder, device, std::string()}) {
    CfgResetForTests();
    std::filesystem::remove(Ini());
    if (name.empty()) std::filesystem::create_symlink("/dev/zero", Ini());
    // A FIFO would block here, a device exhaust the memory.
    CfgInit(name.empty() ? CommandLineOptions{} : ParseCommandLine({"/ConfigFile=" + name}));
    EXPECT_FALSE(CfgFileIsUsable(CfgTopFileName())) << name;
    EXPECT_EQ(CfgGetStr("A=d"), "d") << name;
    EXPECT_FALSE(CfgPutStr("A", "1")) << name;
  }
  // Nothing was made beside them.
  for (const std::string& stray : {fifo + ".INI", folder + ".INI", device + ".INI"})
    EXPECT_FALSE(PathExists(stray)) << stray;
  EXPECT_TRUE(std::filesystem::is_fifo(fifo + ".ini"));
  EXPECT_TRUE(std::filesystem::is_directory(folder));
}

#endif

TEST_F(Config, TwoFileChainStoresWhereTheKeyIs) {
  const std::string top = dir / "top.ini";
  Start("Lower=1\r\nBoth=lower\r\n");
  WriteFile(top, "Both=top\r\n");
  CfgPushFile(top);
  EXPECT_EQ(CfgGetStr("Both"), "top");
  EXPECT_EQ(CfgGetStr("Lower"), "1");
  EXPECT_TRUE(CfgKeyExists("Lower"));
  EXPECT_FALSE(CfgKeyExistsInTop("Lower"));
  EXPECT_TRUE(CfgPutStr("Lower", "2"));
  EXPECT_TRUE(CfgPutStr("New", "n"));
  EXPECT_EQ(Content(), "Lower=2\r\nBoth=lower\r\n");
  EXPECT_EQ(ReadFile(top), "Both=top\r\nNew=n\r\n");
  CfgPopFile();
  EXPECT_EQ(CfgGetStr("Both"), "lower");
}

TEST_F(Config, ChainEntryWithoutExtensionGetsIni) {
  WriteFile(dir / "extra.INI", "Extra=1\r\n");
  Start("");
  CfgPushFile(dir / "extra");
  EXPECT_EQ(CfgGetStr("Extra"), "1");
}

TEST_F(Config, MissingFilesOfTheChainHoldNoKeys) {
  Start("A=1\r\n");
  CfgPushFile(dir / "missing.ini");
  EXPECT_EQ(CfgGetStr("A"), "1");
  EXPECT_FALSE(CfgKeyExistsInTop("A"));
  EXPECT_TRUE(CfgPutStr("B", "2"));  // a new key goes to the (new) top file
  EXPECT_EQ(ReadFile(dir / "missing.ini"), "B=2\r\n");
}

TEST_F(Config, SwitchesOverrideExistingKeysOnly) {
  WriteFile(Ini(), "LiveUpdate.www=old\r\nFlag=on\r\n");
  CfgInit(ParseCommandLine({"/LiveUpdate.www=http://h/a=b", "/Absent=1", "/FLAG", "plain"}));
  EXPECT_EQ(Content(), "LiveUpdate.www=http://h/a=b\r\nFlag=\r\n");
}

// A value is one line: a line break would add keys of its own.
TEST_F(Config, StoreRefusesLineBreaksAndNul) {
  Start("LiveUpdate.www=old\r\n");
  for (const std::string& value : {std::string("x\r\nLiveUpdate.channel=evil"), std::string("x\nK=1"), std::string("x\0y", 3)}) {
    const Status stored = CfgStore("LiveUpdate.www", value);
    EXPECT_FALSE(stored.ok());
    EXPECT_NE(stored.message().find("line break"), std::string::npos) << stored.message();
    EXPECT_FALSE(CfgPutStr("New", value));
  }
  EXPECT_EQ(Content(), "LiveUpdate.www=old\r\n");
}

TEST_F(Config, SettingsUpdateDirCreatesTheDefaultDirectory) {
  Start("");
  EXPECT_EQ(SettingsUpdateDir(false), dir / "tvqlupd.PWD");
  EXPECT_EQ(SettingsUpdateDir(true), NativePath(dir / "tvqlupd.PWD/"));
  EXPECT_TRUE(std::filesystem::is_directory(dir / "tvqlupd.PWD"));
  EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(Config, SettingsUpdateDirTakesTheSettingAndReportsFailure) {
  WriteFile(dir / "file", "x");
  Start("WorkDir=" + dir / "a/b" + "\r\n");
  EXPECT_EQ(SettingsUpdateDir(false), dir / "a/b");
  EXPECT_TRUE(std::filesystem::is_directory(dir / "a/b"));
  CfgPutStr("WorkDir", dir / "file/sub");
  EXPECT_EQ(SettingsUpdateDir(false), dir / "file/sub");
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_NE(ui.boxes[0].text.find("cannot create work directory (" + dir / "file/sub" + ")"),
            std::string::npos);
}

TEST_F(Config, LoadUserColorsReadsSixteenEntries) {
  Start("UserCustomColor.0.RGBValue=255\r\nUserCustomColor.15.RGBValue=4294967295\r\n");
  LoadUserColors();
  EXPECT_EQ(UserColors()[0], 255u);
  EXPECT_EQ(UserColors()[15], 4294967295u);
  EXPECT_EQ(UserColors()[7], 0u);
}

}  // namespace
