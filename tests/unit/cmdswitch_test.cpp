#include "support/cmdswitch.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/os.h"
#include "support/arguments_fixture.h"

namespace {

using namespace std::string_literals;

using CmdSwitch = ArgumentsFixture;

TEST_F(CmdSwitch, SplitSwitchTextSeparatesSwitches) {
  struct Case {
    std::string text, want;
  } cases[] = {
      {"/Pd:\\x /X", "\0/Pd:\\x \0/X"s},
      {"a//b", "a/b"},
      {"//", "/"},
      {"///", "/\0/"s},
      {"", ""},
      {"/P/srv/upd/", "\0/P\0/srv\0/upd\0/"s},  // inner '/' split here: unchanged rule
  };
  for (const auto& c : cases) EXPECT_EQ(SplitSwitchText(c.text), c.want) << c.text;
  EXPECT_EQ(SplitSwitchText(std::string(300, 'a')).size(), 255u);
}

TEST_F(CmdSwitch, CmdSwitchLineBuildsSwitchText) {
  struct Case {
    std::vector<std::string> args;
    std::string want;
  } cases[] = {
      {{}, ""},
      {{"/Pd:\\updates", "/X"}, "\0/Pd:\\updates\0\0/X\0"s},
      {{"plain", "/X"}, "\0/X\0"s},
      {{"/Pd:\\my", "//dir"}, "\0/Pd:\\my /dir\0"s},  // "//" continues the previous value
      {{"/P/srv/upd/"}, "\0/P/srv/upd/\0"s},         // inner '/' are literal
      {{"/Phttp://host/upd/"}, "\0/Phttp://host/upd/\0"s},
      {{"/P/srv", "//more/x"}, "\0/P/srv /more/x\0"s},
  };
  for (const auto& c : cases) {
    os::SetArguments(c.args);
    EXPECT_EQ(CmdSwitchLine(), c.want) << (c.args.empty() ? "" : c.args[0]);
  }
}

TEST_F(CmdSwitch, CmdSwitchLineCutsAt255) {
  os::SetArguments({"/" + std::string(260, 'a'), "/" + std::string(20, 'b')});
  EXPECT_EQ(CmdSwitchLine().size(), 255u);
  EXPECT_FALSE(CmdSwitchPresent("B", kRealCommandLine));
  os::SetArguments({"/P" + std::string(120, '/')});  // doubled inner '/' do not count
  EXPECT_EQ(CmdSwitchText("P", kRealCommandLine), std::string(120, '/'));
}

TEST_F(CmdSwitch, SwitchesOfTheRealCommandLine) {
  struct Case {
    std::vector<std::string> args;
    std::string name;
    bool present;
    std::string text;
  } cases[] = {
      {{}, "P", false, ""},
      {{"Px", "-P"}, "P", false, ""},
      {{"/pD:\\x"}, "P", true, "D:\\x"},
      {{"/pD:\\x"}, "/P", true, "D:\\x"},
      {{"/Pa", "/Pb"}, "P", true, "a"},         // the first occurrence wins
      {{"/P=x"}, "P", true, "=x"},              // nothing is stripped
      {{"/PATH=x"}, "P", true, "ATH=x"},        // a prefix match
      {{"/P/srv/upd/"}, "P", true, "/srv/upd/"},
      {{"/Phttp://host/upd/"}, "P", true, "http://host/upd/"},
      {{"/X", "/Q"}, "Q", true, ""},
  };
  for (const auto& c : cases) {
    os::SetArguments(c.args);
    const std::string label = c.name + " in " + (c.args.empty() ? "" : c.args[0]);
    EXPECT_EQ(CmdSwitchPresent(c.name, kRealCommandLine), c.present) << label;
    EXPECT_EQ(CmdSwitchText(c.name, kRealCommandLine), c.text) << label;
  }
}

TEST_F(CmdSwitch, GivenTextsAndSwitchTexts) {
  os::SetArguments({"/Preal"});
  EXPECT_EQ(CmdSwitchText("P", "/Pgiven /X"), "given ");
  EXPECT_EQ(CmdSwitchText("P", ""), "");
  EXPECT_FALSE(CmdSwitchPresent("P", "Pgiven"));
  EXPECT_TRUE(CmdSwitchPresent("x", "/a /x"));
  // The switch-text readers take an already split text or the sentinel.
  const std::string switchText = "\0/Ka=1\0/Kb=2"s;
  EXPECT_TRUE(FindCmdSwitch("/KB", switchText));
  EXPECT_FALSE(FindCmdSwitch("/KC", switchText));
  EXPECT_EQ(CmdSwitchTail("/Kb", switchText), "=2");
  EXPECT_EQ(CmdSwitchTail("/Ka", switchText), "=1");
  EXPECT_EQ(CmdSwitchTail("/P", kRealCommandLine), "real");
  EXPECT_TRUE(FindCmdSwitch("/P", kRealCommandLine));
}

}  // namespace
