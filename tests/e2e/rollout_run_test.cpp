// Staged rollouts end to end: tvqpublish releases an update to a share of
// installations, halts it and phases it over days; the built tvqlupd holds
// back or installs it by its own place, with the clock moved by libfaketime.
// A held-back installation says so and is never told it is up to date.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/list/rollout.h"
#include "support/updater_env.h"

namespace {

const std::string kId = "TVQ2027-01-05";
constexpr long kDay = 86400;

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

ProcessResult Tool(const std::vector<std::string>& argv) {
  ProcessOptions o;
  o.argv = argv;
  return RunProcess(o);
}

// An installation number whose place in the rollout of kId lies between 20
// and 80, so that a phased release over ten days reaches it on a known day.
std::string NumberWithMiddlePlace(double& place) {
  for (int i = 0;; ++i) {
    std::string number = std::string(31, '0') + std::to_string(i % 10);
    number = number.substr(number.size() - 32);
    number[0] = static_cast<char>('a' + i / 10);
    place = PlaceOf(number, kId);
    if (place > 20 && place < 80) return number;
  }
}

TEST(RolloutRun, HeldBackHaltedAndPhasedReleasesAreTheInstallationsOwn) {
  UpdaterEnv env;
  env.timeRate = 10;
  ASSERT_EQ(env.Publish("TVQ2026-12-01", {{"readme.txt", "first\r\n"}}), 0);
  WriteFile(env.temp + "/notes.txt", "second\r\n");
  const ProcessResult added =
      Tool({TVQPUBLISH_BIN, "add", env.site, "--id", kId, "--percent", "0", env.temp + "/notes.txt"});
  ASSERT_EQ(added.exitCode, 0) << added.err;
  EXPECT_TRUE(Has(added.out, "rollout of update \"" + kId + "\": 0 %")) << added.out;
  double place = 0;
  const std::string number = NumberWithMiddlePlace(place);
  env.WriteSettings({"LiveUpdate.www=" + env.Serve(), "LiveUpdate.installationInfo=0",
                     "LiveUpdate.lastUpdateInfo=<update id=\"TVQ2026-12-01\">",
                     "LiveUpdate.rolloutNumber=" + number});
  // A record that does not read may hold updates back: nothing is installed.
  const std::string record = ReadFile(env.site + "/!update-record.txt");
  WriteFile(env.site + "/!update-record.txt", record.substr(0, record.size() - 1));
  const ProcessResult torn = env.Run({"/Log"});
  EXPECT_TRUE(Has(torn.out, "the site's record !update-record.txt does not read: it is torn")) << torn.out;
  EXPECT_FALSE(PathExists(env.AppFile("notes.txt")));
  WriteFile(env.site + "/!update-record.txt", record);

  const struct {
    std::vector<std::string> rollout;  // the maker's command; empty: none
    long clockDays;                    // the installation's clock, in days from now
    std::string said;                  // in the account and the status; empty: installed
  } steps[] = {
      {{}, 0, "update " + kId + " is being released gradually; this installation receives it later"},
      {{"--halt"}, 0, "update " + kId + " is halted by its maker; this installation does not receive it for now"},
      {{"--days", "10"}, -30, "the clock (" },  // before the start: nothing yet
      {{}, static_cast<long>(place / 10) - 1, "is being released gradually"},
      {{}, static_cast<long>(place / 10) + 1, ""},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(step.said);
    if (!step.rollout.empty()) {
      std::vector<std::string> argv = {TVQPUBLISH_BIN, "rollout", env.site, "--id", kId};
      argv.insert(argv.end(), step.rollout.begin(), step.rollout.end());
      ASSERT_EQ(Tool(argv).exitCode, 0);
    }
    env.clockOffsetSeconds = step.clockDays * kDay;
    const ProcessResult run = env.Run({"/Log"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_FALSE(Has(run.out, "No new updates found")) << run.out;
    EXPECT_EQ(env.Setting("LiveUpdate.rolloutNumber"), number);
    if (step.said.empty()) {
      EXPECT_EQ(ReadFile(env.AppFile("notes.txt")), "second\r\n") << run.out;
      EXPECT_EQ(env.Setting("LiveUpdate.lastUpdateInfo"), "<update id=\"" + kId + "\">");
    } else {
      EXPECT_TRUE(Has(run.out, step.said)) << run.out;
      EXPECT_FALSE(PathExists(env.AppFile("notes.txt")));
    }
  }
  const ProcessResult verify = Tool({TVQPUBLISH_BIN, "verify", env.site});
  EXPECT_TRUE(Has(verify.out, "update \"" + kId + "\": rollout phased over 10 days from ")) << verify.out;
}

}  // namespace
