// End-to-end: the built tvqlupd killed at every rename of an installation,
// and against an endless update list under a memory limit.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/list/update_list.h"
#include "support/fileutil.h"
#include "support/http_test_server.h"
#include "support/updater_env.h"

namespace fs = std::filesystem;

namespace {

std::string Sized(const std::string& text, std::size_t size) {
  std::string s = text;
  while (s.size() < size) s += static_cast<char>('a' + s.size() % 26);
  return s;
}

std::vector<std::string> Leftovers(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir))
    if (IsCopyLeftover(e.path().filename().string())) names.push_back(e.path().filename().string());
  return names;
}

TEST(SafetyRun, KillAtEveryRenameLeavesTheMainApplicationWhole) {
  UpdaterEnv env;
  const std::string oldApp = Sized("old main application ", 6000);
  const std::string newApp = Sized("new main application ", 9000);
  ASSERT_EQ(env.Publish("TVQ2026-01-10", {{"tvq.exe", newApp}, {"readme.txt", "read me\n"}}), 0);
  env.WriteSettings({"LiveUpdate.www=" + env.Serve()});
  const std::string settings = ReadFile(env.SettingsPath());

  // The K-th rename of run K is its last moment: every point of the
  // installation is hit, up to a run that no longer reaches a K-th rename.
  bool completed = false;
  bool leftBehind = false;
  int k = 1;
  for (; k <= 30 && !completed; ++k) {
    WriteFile(env.AppFile("tvq.exe"), oldApp);
    WriteFile(env.SettingsPath(), settings);
    fs::remove(env.AppFile("readme.txt"));
    ProcessOptions o = env.RunOptions();
    o.argv.insert(o.argv.begin(),
                  {"/usr/bin/strace", "-f", "-o", "/dev/null", "-e", "trace=rename,renameat,renameat2",
                   "-e", "inject=rename,renameat,renameat2:signal=KILL:when=" + std::to_string(k)});
    const ProcessResult run = RunProcess(o);
    completed = run.exitCode == 0;
    const std::string now = PathExists(env.AppFile("tvq.exe")) ? ReadFile(env.AppFile("tvq.exe")) : "<absent>";
    EXPECT_TRUE(now == oldApp || now == newApp)
        << "killed at rename " << k << ": tvq.exe is " << now.substr(0, 40) << " (" << now.size() << " bytes)";
    if (!completed && !Leftovers(env.app).empty()) leftBehind = true;
  }
  EXPECT_TRUE(completed);
  EXPECT_GT(k, 3);
  // A kill between writing the new tvq.exe and renaming it left its
  // temporary file; the next run removed it before anything else.
  EXPECT_TRUE(leftBehind);
  EXPECT_EQ(ReadFile(env.AppFile("tvq.exe")), newApp);
  EXPECT_EQ(Leftovers(env.app), std::vector<std::string>{});
  EXPECT_EQ(env.Setting("LiveUpdate.lastUpdateInfo"), "<update id=\"TVQ2026-01-10\">");
}

TEST(SafetyRun, EndlessListEndsTheRunWithItsCauseUnderAMemoryLimit) {
  UpdaterEnv env;
  HttpTestServer server(env.site);
  server.Endless(kUpdateListName);
  // The alternatives lead nowhere (not to the maker's default site).
  const std::string dead = "http://127.0.0.1:" + std::to_string(HttpTestServer::DeadPort()) + "/";
  std::vector<std::string> settings = {"LiveUpdate.www=" + server.BaseUrl()};
  for (int n = 1; n <= 9; ++n) settings.push_back("LiveUpdate.www" + std::to_string(n) + "=" + dead);
  env.WriteSettings(settings);

  ProcessOptions o = env.RunOptions({"/Log"});
  // Far less than what an endless list needs in memory, far more than a run uses.
  o.argv.insert(o.argv.begin(), {"/usr/bin/prlimit", "--as=" + std::to_string(400 << 20)});
  const ProcessResult run = RunProcess(o);
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_NE(run.out.find("is unusable: the list is larger than 16 MiB"), std::string::npos) << run.out;
  EXPECT_NE(run.err.find("because: the list is larger than 16 MiB"), std::string::npos) << run.err;
  // The host line names the site that failed, not the last alternative.
  EXPECT_NE(run.err.find("host: 127.0.0.1:" + std::to_string(server.Port())), std::string::npos)
      << run.err;
  EXPECT_LT(server.EndlessBytesSent(), std::size_t{64} << 20);
  for (const auto& e : fs::recursive_directory_iterator(env.temp)) {
    if (e.is_regular_file()) {
      EXPECT_LT(e.file_size(), 1u << 20) << e.path();
    }
  }
}

// A switch is one value of one key: with a line break it would write keys
// of its own (another channel, another key) into the settings.
TEST(SafetyRun, SwitchWithALineBreakIsRefusedAndWritesNothing) {
  UpdaterEnv env;
  env.WriteSettings({"LiveUpdate.www=http://127.0.0.1:9/", "LiveUpdate.channel=stable"});
  const std::string settings = ReadFile(env.SettingsPath());
  env.timeRate = 10;
  const ProcessResult run = env.Run({"/Log", "/LiveUpdate.www=x\r\nLiveUpdate.channel=evil"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_NE(run.out.find("holds a control character (CR); no setting was changed"), std::string::npos) << run.out;
  EXPECT_NE(run.err.find("a switch of the command line is not valid"), std::string::npos) << run.err;
  EXPECT_EQ(ReadFile(env.SettingsPath()), settings);
}

}  // namespace
