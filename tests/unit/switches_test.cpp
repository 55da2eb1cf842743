#include "support/switches.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/os.h"
#include "support/arguments_fixture.h"

namespace {

using Switches = ArgumentsFixture;

TEST_F(Switches, SwitchValueLastMatchWinsAndKeepsCase) {
  struct Case {
    std::vector<std::string> args;
    std::string query, want;
  } cases[] = {
      {{"/inifile=C:\\a.ini", "/INIFILE=D:\\b.ini"}, "INIFile=x.ini", "D:\\b.ini"},
      {{}, "INIFile=x.ini", "x.ini"},
      {{}, "INIFile", ""},
      {{"/QUIET"}, "QUIET", "QUIET"},
      {{"/quiet"}, "QUIET=no", "quiet"},
      {{"/INI*=a"}, "INIFile", "a"},
      {{"/INIFile=a"}, "INI*", "a"},
      {{"/A=b=c"}, "A", "b=c"},
      {{"/A=", "x"}, "A=dflt", ""},
      {{"A=b"}, "A=dflt", "dflt"},            // not a switch
      {{"/AB=1"}, "A=dflt", "dflt"},          // names match whole
      {{"/ConfigFile=/etc/a.cfg", "-v", "/ConfigFile=/etc/b.cfg"}, "configfile", "/etc/b.cfg"},
      {{"/=v"}, "=dflt", "v"},                // empty name: only the '=' prefix rule
  };
  for (const auto& c : cases) {
    os::SetArguments(c.args);
    EXPECT_EQ(SwitchValue(c.query), c.want) << c.query << " with " << c.args.size() << " args";
  }
}

TEST_F(Switches, ParamNrCountsByFirstCharacter) {
  os::SetArguments({"/a", "C:\\x", "", "/b", "plain"});
  EXPECT_EQ(ParamNr(1, '/', false), ":\\x");
  EXPECT_EQ(ParamNr(2, '/', false), "");  // the empty parameter counts, without text
  EXPECT_EQ(ParamNr(3, '/', false), "lain");
  EXPECT_EQ(ParamNr(4, '/', false), "");
  EXPECT_EQ(SwitchNr(1), "a");
  EXPECT_EQ(SwitchNr(2), "b");
  EXPECT_EQ(SwitchNr(3), "");
  EXPECT_EQ(SwitchNr(0), "");
}

TEST_F(Switches, ReadsAtMost255Parameters) {
  std::vector<std::string> args(255, "x");
  args.push_back("/late=1");
  os::SetArguments(args);
  EXPECT_EQ(SwitchValue("late=0"), "0");
  args[0] = "/early=1";
  os::SetArguments(args);
  EXPECT_EQ(SwitchValue("early=0"), "1");
}

}  // namespace
