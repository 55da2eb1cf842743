// The settings file survives a process killed at any instant: a child
// process merges a new version into realistic settings (or rewrites a key
// again and again) and is killed after a random delay; the settings file must
// then be byte for byte one of the complete states, never missing or partial.
#include "settings/config.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <random>
#include <set>
#include <string>
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

class ConfigKill : public ConfigFixture {
 protected:
  ConfigKill() { SetReorganiseRandomSource([] { return 0.5; }); }

  // Runs body in a child process; kills it after delay (or lets it finish
  // when delay is negative). True when the child was killed.
  static bool RunChild(const std::function<void()>& body, std::chrono::microseconds delay) {
    const pid_t pid = fork();
    if (pid == 0) {
      body();
      _exit(0);
    }
    if (pid < 0) return false;
    if (delay.count() >= 0) {
      const auto until = Clock::now() + delay;
      while (Clock::now() < until) {
      }
      kill(pid, SIGKILL);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFSIGNALED(status);
  }

  // Removes everything from the directory but the given files.
  void KeepOnly(const std::set<std::string>& names) {
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
      if (!names.count(entry.path().filename().string())) std::filesystem::remove_all(entry.path());
    }
  }
};

TEST_F(ConfigKill, MergeKilledAnywhereLeavesOldOrMergedSettings) {
  const std::string oldText = SettingsText("1", "user", 12, 25, false);
  const std::string newText = SettingsText("2", "dflt", 12, 25, true);
  const auto prepare = [&] {
    KeepOnly({});
    WriteFile(Ini(), oldText);
    WriteFile(Ini() + ".newversion", newText);
  };
  const auto merge = [] {
    CfgResetForTests();
    CfgStartup();
  };

  prepare();
  const auto start = Clock::now();
  ASSERT_FALSE(RunChild(merge, std::chrono::microseconds(-1)));
  const auto duration = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start);
  const std::string merged = ReadFile(Ini());
  ASSERT_NE(merged, oldText);
  ASSERT_NE(merged.find("CFGFileVersion=2\r\nSection0.Key0=user0\r\n"), std::string::npos);

  std::mt19937 random(20240607);
  std::uniform_int_distribution<std::int64_t> delay(0, duration.count() * 11 / 10);
  int killed = 0, sawOld = 0, sawMerged = 0;
  const auto deadline = Clock::now() + std::chrono::seconds(25);
  for (int run = 0; run < 200 && Clock::now() < deadline; ++run) {
    prepare();
    killed += RunChild(merge, std::chrono::microseconds(delay(random)));
    ASSERT_TRUE(PathExists(Ini())) << "run " << run;
    const std::string now = ReadFile(Ini());
    ASSERT_TRUE(now == oldText || now == merged) << "run " << run << ": partial settings file";
    (now == oldText ? sawOld : sawMerged)++;
  }
  EXPECT_GT(killed, 100);
  EXPECT_GT(sawOld, 0);
  EXPECT_GT(sawMerged, 0);
}

TEST_F(ConfigKill, RewriteKilledAnywhereLeavesAWholeFile) {
  const std::string head = SettingsText("1", "v", 10, 50, false);
  const auto withCounter = [&](int i) { return head + "Counter=" + IntStr(i) + "\r\nTail=t\r\n"; };
  constexpr int kStores = 100;
  const auto prepare = [&] {
    KeepOnly({});
    WriteFile(Ini(), withCounter(0));
  };
  const auto stores = [] {
    CfgResetForTests();
    CfgInit();
    for (int i = 1; i <= kStores; ++i) CfgPutInt("Counter", i);
  };

  prepare();
  const auto start = Clock::now();
  ASSERT_FALSE(RunChild(stores, std::chrono::microseconds(-1)));
  const auto duration = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start);
  ASSERT_EQ(ReadFile(Ini()), withCounter(kStores));

  std::mt19937 random(7);
  std::uniform_int_distribution<std::int64_t> delay(0, duration.count());
  int killed = 0;
  std::set<int> seen;
  const auto deadline = Clock::now() + std::chrono::seconds(10);
  for (int run = 0; run < 100 && Clock::now() < deadline; ++run) {
    prepare();
    killed += RunChild(stores, std::chrono::microseconds(delay(random)));
    const std::string now = ReadFile(Ini());
    const std::size_t digits = head.size() + 8;  // behind "Counter="
    ASSERT_GT(now.size(), digits) << "run " << run;
    const int counter = static_cast<int>(IntValDef(now.substr(digits, now.find('\r', digits) - digits), -1));
    ASSERT_EQ(now, withCounter(counter)) << "run " << run << ": partial settings file";
    seen.insert(counter);
  }
  EXPECT_GT(killed, 50);
  EXPECT_GT(seen.size(), 10u);
}

}  // namespace
#endif
