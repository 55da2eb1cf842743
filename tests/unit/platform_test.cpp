// Pure parts of the platform interface: command-line splitting, day numbers,
// the language setting, the installable clock.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/os.h"
#include "support/virtual_clock.h"

namespace {

std::string Joined(const std::vector<std::string>& parts) {
  std::string s;
  for (const auto& p : parts) s += "<" + p + ">";
  return s;
}

}  // namespace

TEST(Platform, SplitCommandLineFollowsWindowsRules) {
  struct Row {
    const char* line;
    const char* want;
  } rows[] = {
      {"", ""},
      {"   ", ""},
      {"prog", "<prog>"},
      {"  prog  a   b ", "<prog><a><b>"},
      {"prog\ta\tb", "<prog><a><b>"},
      {"\"C:\\Program Files\\x.exe\" /ExitAndLiveUpdate=on",
       "<C:\\Program Files\\x.exe></ExitAndLiveUpdate=on>"},
      {"prog \"two words\" x", "<prog><two words><x>"},
      {"prog a\"b c\"d", "<prog><ab cd>"},
      {"prog \"\"", "<prog><>"},
      {"prog \\\"x", "<prog><\"x>"},
      {"prog \\\\\"a b\"", "<prog><\\a b>"},
      {"prog a\\b\\\\c", "<prog><a\\b\\\\c>"},
      {"prog \"a\"\"b\"", "<prog><a\"b>"},
      {"prog \"unterminated arg", "<prog><unterminated arg>"},
      {"dir\\prog.exe x", "<dir\\prog.exe><x>"},
      {"\"my prog\"x y", "<my progx><y>"},
  };
  for (const auto& r : rows) EXPECT_EQ(Joined(os::SplitCommandLine(r.line)), r.want) << r.line;
}

TEST(Platform, LocalDayNumberCountsFrom30December1899) {
  // Noon UTC falls on the same local date in every time zone from -11 to +11.
  EXPECT_EQ(os::LocalDayNumber(43200), 25569);            // 1970-01-01
  EXPECT_EQ(os::LocalDayNumber(946728000), 36526);        // 2000-01-01
  EXPECT_EQ(os::LocalDayNumber(951825600), 36585);        // 2000-02-29
  EXPECT_EQ(os::LocalDayNumber(4102488000), 73051);       // 2100-01-01
  EXPECT_EQ(os::LocalDayNumber(-2209032000), 1);          // 1899-12-31
}

#ifndef _WIN32  // Windows asks the system for the user's language instead
TEST(Platform, UserLanguageSettingTakesFirstNonEmpty) {
  const char* names[] = {"LC_ALL", "LC_MESSAGES", "LANG"};
  std::optional<std::string> saved[3];
  for (int i = 0; i < 3; ++i) saved[i] = os::GetEnvVar(names[i]);

  struct Row {
    const char* lcAll;
    const char* lcMessages;
    const char* lang;
    const char* want;
  } rows[] = {
      {"de_DE.UTF-8", "fr_FR", "it_IT", "de_DE.UTF-8"},
      {"", "fr_FR", "it_IT", "fr_FR"},
      {nullptr, "", "it_IT", "it_IT"},
      {nullptr, nullptr, "C", "C"},
      {nullptr, nullptr, nullptr, ""},
      {"", "", "", ""},
  };
  for (const auto& r : rows) {
    const char* values[] = {r.lcAll, r.lcMessages, r.lang};
    for (int i = 0; i < 3; ++i) {
      if (values[i])
        os::SetEnvVar(names[i], values[i]);
      else
        os::UnsetEnvVar(names[i]);
    }
    EXPECT_EQ(os::UserLanguageSetting(), r.want) << r.want;
  }
  for (int i = 0; i < 3; ++i) {
    if (saved[i])
      os::SetEnvVar(names[i], *saved[i]);
    else
      os::UnsetEnvVar(names[i]);
  }
}
#endif

TEST(Platform, InstalledClockServesTicksAndSleeps) {
  {
    VirtualClock clock;
    const auto t0 = os::TickMs();
    os::SleepMs(3500);
    os::SleepMs(100);
    EXPECT_EQ(os::TickMs() - t0, 3600);
    EXPECT_EQ(clock.Sleeps(), (std::vector<std::int64_t>{3500, 100}));
  }
  // Back on the system clock: monotonic milliseconds, never the virtual time.
  EXPECT_EQ(&os::SystemClock(), &os::SystemClock());
  EXPECT_NE(os::TickMs(), 1000000 + 3600);
}
