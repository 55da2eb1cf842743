// End-to-end: ten successive versions of the main application and of a data
// file published with tvqpublish, one of them withdrawn, and installations
// that follow every release, fall behind or start late, over HTTP and
// file://: every one reaches the newest version by its ordinary runs.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "support/process_runner.h"
#include "support/updater_env.h"

namespace {

constexpr int kVersions = 10;
constexpr int kWithdrawn = 7;

std::string MainApp(int v) { return "#!/bin/sh\necho main application, version " + std::to_string(v) + "\n"; }
std::string Data(int v) { return "data of release " + std::to_string(v) + "\r\n"; }
std::string Id(int v) { return "TVQ2027-" + std::string(v < 10 ? "0" : "") + std::to_string(v); }

struct Installation {
  std::string dir;
  std::string site;  // what the run is pointed at: /P plus a directory, or the settings' address
  bool http = false;
};

class ProductLife : public ::testing::Test {
 protected:
  void SetUp() override { env.timeRate = 10; }

  void Place(Installation& inst) {
    env.PlaceApp(inst.dir);
    if (inst.http) env.WriteSettings({"LiveUpdate.www=" + address});
  }

  // One ordinary run of an installation; whether it installed an update.
  bool RunOnce(Installation& inst) {
    env.app = inst.dir;
    const ProcessResult run = inst.http ? env.Run() : env.Run({"/P" + env.site});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err.find("error"), std::string::npos) << inst.dir << ":\n" << run.err;
    return run.err.find("installation completed") != std::string::npos;
  }

  void RunToTheEnd(Installation& inst) {
    for (int runs = 0; RunOnce(inst); ++runs) ASSERT_LT(runs, kVersions) << inst.dir << " never comes to rest";
  }

  // The files of release v; the notes came with release 3 only.
  void ExpectVersion(const Installation& inst, int v) {
    EXPECT_EQ(ReadFile(inst.dir + "/tvq.exe"), MainApp(v)) << inst.dir;
    EXPECT_EQ(ReadFile(inst.dir + "/data.txt"), Data(v)) << inst.dir;
    if (v >= 3) {
      EXPECT_EQ(ReadFile(inst.dir + "/notes.txt"), "notes of release 3\r\n") << inst.dir;
    }
  }

  int Tool(const std::vector<std::string>& args) {
    ProcessOptions o;
    o.argv = {TVQPUBLISH_BIN};
    o.argv.insert(o.argv.end(), args.begin(), args.end());
    const ProcessResult r = RunProcess(o);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return r.exitCode;
  }

  UpdaterEnv env;
  std::string address;
};

TEST_F(ProductLife, TenReleasesAndAWithdrawalReachEveryInstallation) {
  address = env.Serve();
  Installation follower{env.Root() + "/follower", "", true};
  Installation directory{env.Root() + "/directory", "", false};
  Installation late{env.Root() + "/late", "", true};
  Place(follower);
  Place(directory);
  for (int v = 1; v <= kVersions; ++v) {
    std::map<std::string, std::string> files = {{"tvq.exe", MainApp(v)}, {"data.txt", Data(v)}};
    if (v == 3) files["notes.txt"] = "notes of release 3\r\n";
    ASSERT_EQ(env.Publish(Id(v), files), 0) << v;
    ASSERT_TRUE(RunOnce(follower)) << v;
    ExpectVersion(follower, v);
    if (v % 3 == 2) RunOnce(directory);
    if (v == kWithdrawn) {
      // The follower has it and keeps it; nobody else receives it.
      ASSERT_EQ(Tool({"withdraw", env.site, "--id", Id(v)}), 0);
      ASSERT_EQ(RunOnce(follower), false);
    }
  }
  ASSERT_EQ(Tool({"verify", env.site}), 0);
  Place(late);
  for (Installation* inst : {&follower, &directory, &late}) {
    RunToTheEnd(*inst);
    ExpectVersion(*inst, kVersions);
  }
}

}  // namespace
