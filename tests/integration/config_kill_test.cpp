// The settings file survives a process killed at any instant: a child
// process merges a new version into realistic settings (or rewrites a key
// again and again) and is killed after a random delay; the settings file must
// then be byte for byte one of the complete states, never missing or partial.
#include "settings/config.h"

#include <chrono>
#include <cstdio>
#include <cstdint>
#include <functional>
#include <filesystem>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "support/config_fixture.h"
#include "settings/config_reorganise.h"
#include "support/strfn.h"

#ifndef _WIN32
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// A settings file of sections, comments and key lines.
std::string SettingsText(const std::string& version, const std::string& valueTag, int sections,
                         int keysPerSection, bool newLayout) {
  std::string text = "; settings of the application\r\nCFGFileVersion=" + version + "\r\n";
  for (int s = 0; s < sections; ++s) {
    text += "\r\n[Section" + IntStr(s) + "]\r\n";
    if (newLayout) text += "; section " + IntStr(s) + " of the new version\r\n";
    for (int k = 0; k < keysPerSection; ++k) {
      text += "Section" + IntStr(s) + ".Key" + IntStr(k) + "=" + valueTag + IntStr(s * 100 + k) +
              "\r\n";
    }
    if (newLayout) text += "Section" + IntStr(s) + ".Added=new\r\n";
  }
  return text;
}

using Micros = std::chrono::microseconds;

// Runs body in a child process and kills it once delay has passed, unless it
// ends before. Returns whether it was killed; ran receives how long it ran.
bool RunChild(const std::function<void()>& body, Micros delay, Micros& ran) {
  const auto start = Clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    body();
    _exit(0);
  }
  if (pid < 0) return false;
  int status = 0;
  for (;;) {
    ran = std::chrono::duration_cast<Micros>(Clock::now() - start);
    if (waitpid(pid, &status, WNOHANG) == pid) return WIFSIGNALED(status);
    if (ran >= delay) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return WIFSIGNALED(status);
    }
    std::this_thread::sleep_for(Micros(100));
  }
}

struct KillStats {
  int runs = 0;
  int killed = 0;
};

// Runs body again and again, each time killed after a random delay up to a
// little more than a whole run takes (first the time given, then learnt from
// the runs that end); prepare sets the files up before each run, check looks
// at them after.
KillStats KillRepeatedly(const std::function<void()>& prepare, const std::function<void()>& body,
                         const std::function<void(int)>& check, Micros whole, int maxRuns,
                         std::chrono::seconds budget, unsigned seed) {
  KillStats stats;
  std::mt19937 random(seed);
  const auto deadline = Clock::now() + budget;
  while (stats.runs < maxRuns && Clock::now() < deadline) {
    prepare();
    Micros ran(0);
    const Micros delay(
        std::uniform_int_distribution<std::int64_t>(0, whole.count() * 6 / 5)(random));
    if (RunChild(body, delay, ran))
      ++stats.killed;
    else
      whole = ran;
    check(stats.runs++);
    if (::testing::Test::HasFatalFailure()) break;
  }
  return stats;
}

class ConfigKill : public ConfigFixture {
 protected:
  ConfigKill() { SetReorganiseRandomSource([] { return 0.5; }); }

  // Removes everything from the directory.
  void Clear() {
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
      std::filesystem::remove_all(entry.path());
  }
};

TEST_F(ConfigKill, MergeKilledAnywhereLeavesOldOrMergedSettings) {
  const std::string oldText = SettingsText("1", "user", 8, 25, false);
  const std::string newText = SettingsText("2", "dflt", 8, 25, true);
  std::string merged;
  int sawOld = 0, sawMerged = 0;
  const auto prepare = [&] {
    Clear();
    WriteFile(Ini(), oldText);
    WriteFile(Ini() + ".newversion", newText);
  };
  const auto merge = [] {
    CfgResetForTests();
    CfgStartup();
  };
  const auto check = [&](int run) {
    ASSERT_TRUE(PathExists(Ini())) << "run " << run;
    const std::string now = ReadFile(Ini());
    ASSERT_TRUE(now == oldText || now == merged) << "run " << run << ": partial settings file";
    (now == oldText ? sawOld : sawMerged)++;
  };
  // What the merge makes when it is left alone.
  prepare();
  Micros ran(0);
  ASSERT_FALSE(RunChild(merge, std::chrono::hours(1), ran));
  merged = ReadFile(Ini());
  ASSERT_NE(merged.find("CFGFileVersion=2\r\n"), std::string::npos);
  ASSERT_NE(merged.find("Section0.Key0=user0\r\nSection0.Key1=user1\r\n"), std::string::npos);

  const KillStats stats =
      KillRepeatedly(prepare, merge, check, ran, 200, std::chrono::seconds(20), 2024);
  std::printf("%d runs, %d killed; settings found old %d times, merged %d times\n", stats.runs,
              stats.killed, sawOld, sawMerged);
  EXPECT_GT(stats.killed, stats.runs / 3);
  EXPECT_GT(sawOld, 0);
  EXPECT_GT(sawMerged, 0);
}

TEST_F(ConfigKill, RewriteKilledAnywhereLeavesAWholeFile) {
  const std::string head = SettingsText("1", "v", 10, 50, false);
  const auto withCounter = [&](int i) { return head + "Counter=" + IntStr(i) + "\r\nTail=t\r\n"; };
  constexpr int kStores = 25;
  std::set<int> seen;
  const auto prepare = [&] {
    Clear();
    WriteFile(Ini(), withCounter(0));
  };
  const auto stores = [] {
    CfgResetForTests();
    CfgInit();
    for (int i = 1; i <= kStores; ++i) CfgPutInt("Counter", i);
  };
  const auto check = [&](int run) {
    const std::string now = ReadFile(Ini());
    const std::size_t digits = head.size() + 8;  // behind "Counter="
    ASSERT_GT(now.size(), digits) << "run " << run;
    const int counter =
        static_cast<int>(IntValDef(now.substr(digits, now.find('\r', digits) - digits), -1));
    ASSERT_EQ(now, withCounter(counter)) << "run " << run << ": partial settings file";
    seen.insert(counter);
  };

  prepare();
  Micros ran(0);
  ASSERT_FALSE(RunChild(stores, std::chrono::hours(1), ran));
  ASSERT_EQ(ReadFile(Ini()), withCounter(kStores));

  const KillStats stats =
      KillRepeatedly(prepare, stores, check, ran, 100, std::chrono::seconds(8), 7);
  std::printf("%d runs, %d killed; %zu different counters found\n", stats.runs, stats.killed,
              seen.size());
  EXPECT_GT(stats.killed, stats.runs / 3);
  EXPECT_GT(seen.size(), 3u);
}

}  // namespace
#endif
