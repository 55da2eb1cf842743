#include "support/command_line_options.h"

#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

using Args = std::vector<std::string>;

std::string Shown(const std::optional<std::string>& value) { return value.value_or("<none>"); }

TEST(CommandLineOptions, SiteIsTheFirstPSwitch) {
  struct Case {
    Args args;
    std::string want;
  } cases[] = {
      {{}, "<none>"},
      {{"Px", "-P"}, "<none>"},
      {{"/P"}, ""},
      {{"/pD:\\x"}, "D:\\x"},
      {{"plain", "/X", "/Pq"}, "q"},
      {{"/Pa", "/Pb"}, "a"},                   // the first occurrence wins
      {{"/Pd:\\x", "/Pd:\\xyz"}, "d:\\x"},      // also over a longer one that extends it
      {{"/P=x"}, "=x"},                        // nothing is stripped
      {{"/PATH=x"}, "ATH=x"},                  // a prefix match
      {{"/P/srv/upd/"}, "/srv/upd/"},          // inner '/' are literal
      {{"/Phttp://host/upd/"}, "http://host/upd/"},
      {{"/Pd:\\my", "//dir"}, "d:\\my /dir"},  // "//" continues the previous value
      {{"/P/srv", "//more/x"}, "/srv /more/x"},
      {{"//Pq"}, "<none>"},                    // a continuation of nothing is no switch
      {{"/P" + std::string(120, '/')}, std::string(120, '/')},
      {{"/X", "/P" + std::string(300, 'a')}, std::string(300, 'a')},  // found in 255, read whole
      {{"/" + std::string(260, 'a'), "/Pb"}, "<none>"},              // beyond the first 255
  };
  for (const auto& c : cases)
    EXPECT_EQ(Shown(ParseCommandLine(c.args).site), c.want) << (c.args.empty() ? "" : c.args.back());
}

TEST(CommandLineOptions, AccountTargetIsTheLastLogSwitch) {
  struct Case {
    Args args;
    std::string want;
  } cases[] = {
      {{}, ""},
      {{"/Log"}, "-"},
      {{"/log=a.txt"}, "a.txt"},
      {{"/Log=a", "/LOG"}, "-"},
      {{"/Log", "/LOG=b"}, "b"},
      {{"/Log=a", "/Log="}, "a"},  // without a file the switch is ignored
      {{"/LogFile=x", "Log=y"}, ""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ParseCommandLine(c.args).accountTarget, c.want) << c.args.back();
}

TEST(CommandLineOptions, SettingsFileSwitchesLastMatchWinsAndKeepsCase) {
  struct Case {
    Args args;
    std::string want;
  } cases[] = {
      {{}, "<none>"},
      {{"/inifile=C:\\a.ini", "/INIFILE=D:\\b.ini"}, "D:\\b.ini"},
      {{"/INIFile=a.ini", "/ConfigFile=b.ini"}, "b.ini"},
      {{"/ConfigFile=b.ini", "/INIFile=a.ini"}, "b.ini"},
      {{"/INIFile=a.ini", "/BasicCFGFile=c.ini"}, "a.ini"},
      {{"/basiccfgfile=c.ini"}, "c.ini"},
      {{"/ConfigFile=/etc/a.cfg", "-v", "/ConfigFile=/etc/b.cfg"}, "/etc/b.cfg"},
      {{"/INIFILE"}, "INIFILE"},   // a switch without '=' is its own value
      {{"/INI*=a"}, "a"},          // wildcards in the switch's name
      {{"/INIFile=b=c"}, "b=c"},
      {{"/INIFile=", "x"}, ""},
      {{"INIFile=b"}, "<none>"},   // not a switch
      {{"/INIFileX=1"}, "<none>"}, // names match whole
      {{"/=v"}, "<none>"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Shown(ParseCommandLine(c.args).settingsFile), c.want) << c.args.size() << " args";
}

TEST(CommandLineOptions, SwitchesAreReadFromTheFirst255Parameters) {
  EXPECT_EQ(ParseCommandLine({"/a", "C:\\x", "", "/b=1", "/"}).switches, (Args{"a", "b=1", ""}));
  Args args(255, "x");
  args.push_back("/INIFile=late");
  EXPECT_TRUE(ParseCommandLine(args).switches.empty());
  EXPECT_FALSE(ParseCommandLine(args).settingsFile);
  args[0] = "/INIFile=early";
  EXPECT_EQ(Shown(ParseCommandLine(args).settingsFile), "early");
}

TEST(CommandLineOptions, ReportsAndTheVersionBanner) {
  using Report = CommandLineOptions::Report;
  EXPECT_EQ(ParseCommandLine({"/X", "--version", "--help"}).report, Report::Version);
  EXPECT_EQ(ParseCommandLine({"--help", "--version"}).report, Report::Help);
  EXPECT_EQ(ParseCommandLine({"-help", "/?"}).report, Report::None);
  EXPECT_TRUE(ParseCommandLine({"/?", "/Log"}).versionBanner);
  EXPECT_FALSE(ParseCommandLine({"/Log", "/?"}).versionBanner);  // the first argument only
  EXPECT_FALSE(ParseCommandLine({"/?x"}).versionBanner);
}

TEST(CommandLineOptions, SwitchesWithControlCharactersAreRefused) {
  struct Case {
    std::vector<std::string> args;
    const char* problem;  // empty: none
  } cases[] = {
      {{"/LiveUpdate.www=http://h/", "/Log", "plain\r\n"}, ""},
      {{"/Key=a\tb"}, ""},
      {{"/LiveUpdate.www=x\r\nLiveUpdate.channel=evil"}, "(CR)"},
      {{"/Log", "/K=x\ny"}, "(LF)"},
      {{std::string("/K=x\0y", 6)}, "(NUL)"},
      {{"/K=\x1b[2J"}, "(0x1B)"},
  };
  for (const auto& c : cases) {
    const std::string problem = SwitchProblem(ParseCommandLine(c.args));
    if (*c.problem == '\0') {
      EXPECT_EQ(problem, "") << c.args.back();
    } else {
      EXPECT_NE(problem.find(c.problem), std::string::npos) << problem;
      EXPECT_NE(problem.find("no setting was changed"), std::string::npos) << problem;
    }
  }
}

}  // namespace
