// Pure parts of the platform interface: command-line splitting, day numbers,
// the language setting, the installable clock.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/os.h"
#include "support/scoped_env.h"
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
  ScopedEnv vars[] = {ScopedEnv("LC_ALL"), ScopedEnv("LC_MESSAGES"), ScopedEnv("LANG")};
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
    for (int i = 0; i < 3; ++i)
      vars[i].Set(values[i] ? std::optional<std::string>(values[i]) : std::nullopt);
    EXPECT_EQ(os::UserLanguageSetting(), r.want) << r.want;
  }
}
#endif

TEST(Platform, VirtualClockGoesOnFromTheSystemClock) {
  const auto before = os::SystemClock().NowMs();
  VirtualClock clock;
  const auto start = os::TickMs();
  EXPECT_LE(before, start);
  EXPECT_LE(start, os::SystemClock().NowMs());
}

TEST(Platform, InstalledClockServesTicksAndSleeps) {
  {
    VirtualClock clock;
    const auto t0 = os::TickMs();
    os::SleepMs(3500);
    os::SleepMs(100);
    EXPECT_EQ(os::TickMs() - t0, 3600);
    EXPECT_EQ(clock.Sleeps(), (std::vector<std::int64_t>{3500, 100}));
  }
  // Back on the system clock: the tick count is the monotonic clock's, read
  // between two readings of it, never the virtual time.
  const auto before = os::SystemClock().NowMs();
  const auto tick = os::TickMs();
  const auto after = os::SystemClock().NowMs();
  EXPECT_LE(before, tick);
  EXPECT_LE(tick, after);
  EXPECT_NE(tick, 1000000 + 3600);
}
