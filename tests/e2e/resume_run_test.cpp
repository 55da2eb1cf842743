// Downloads that resume, end to end: the built tvqlupd against nginx (real
// Range, ETag and If-Range, each answer's bytes in its log), with the runs'
// designed waits compressed by libfaketime. A run interrupted halfway is
// continued by the next, which fetches only the rest; a file written anew on
// the site, or one that nothing but its size would check, is fetched whole; a run whose installation failed leaves a
// verified file that the next run installs without fetching it again.
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <filesystem>
#include <numeric>
#include <string>
#include <vector>

#include "support/nginx_server.h"
#include "support/temp_dir.h"
#include "support/updater_env.h"

namespace fs = std::filesystem;

namespace {

const std::string kHeader = "<update id=\"TVQ2026-05-01\">";
constexpr std::size_t kSize = std::size_t{4} << 20;
constexpr long kRate = 1 << 20;  // bytes a second: a download lasts about 4 s
constexpr int kTimeRate = 10;

std::string Data() {
  std::string data(kSize, '\0');
  for (std::size_t i = 0; i < kSize; ++i) data[i] = static_cast<char>((i * 7919) >> 5);
  return data;
}

std::uintmax_t BytesOf(const std::vector<NginxServer::Answer>& answers) {
  return std::accumulate(answers.begin(), answers.end(), std::uintmax_t{0},
                         [](std::uintmax_t sum, const auto& a) { return sum + a.bytes; });
}

class ResumeRun : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(nginx.ok()) << nginx.failure();
    ASSERT_EQ(env.Publish("TVQ2026-05-01", {{"data.bin", data}}), 0);
    env.WriteSettings({"LiveUpdate.www=" + nginx.Url()});
    env.timeRate = kTimeRate;
  }

  void ExpectInstalled(const ProcessResult& run) {
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_TRUE(ReadFile(env.AppFile("data.bin")) == data) << "the installed file differs";
    EXPECT_EQ(env.Setting("LiveUpdate.lastUpdateInfo"), kHeader);
    EXPECT_EQ(env.KeptBytes(), 0u) << "what was kept goes once the update is installed";
  }

  const std::string data = Data();
  UpdaterEnv env;
  NginxServer nginx{env.site, kRate};
};

TEST_F(ResumeRun, AnInterruptedRunIsContinuedAndNeverMixedWithAChangedFile) {
  struct Case {
    const char* what;
    int signal;
    bool writtenAnew;  // the site's file gets another date between the runs
    bool unchecked;    // listed without a checksum, and the site has no record
  } cases[] = {{"Ctrl-C", SIGINT, false, false}, {"kill", SIGKILL, false, false},
               {"kill, then the file written anew", SIGKILL, true, false},
               {"kill, a file only its size would check", SIGKILL, false, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDir other;  // every case in an application directory of its own
    env.PlaceApp(other / "app");
    env.WriteSettings({"LiveUpdate.www=" + nginx.Url()});
    if (c.unchecked) {
      const std::string list = env.List();
      const std::size_t at = list.find("data.bin:" + std::to_string(kSize)) + 9 + std::to_string(kSize).size();
      WriteFile(env.site + "/!update-info.txt", list.substr(0, at) + list.substr(list.find('\\', at)));
      fs::remove(env.site + "/!update-record.txt");
    }
    const std::size_t before = nginx.Answers("/data.bin").size();
    {
      RunningProcess run(env.RunOptions({"/Log"}));
      ASSERT_TRUE(env.WaitForKeptBytes(run, kSize / 2)) << "the download did not get halfway";
      run.Signal(c.signal);
      run.Wait();
    }
    EXPECT_FALSE(PathExists(env.AppFile("data.bin")));
    EXPECT_NE(env.Setting("LiveUpdate.lastUpdateInfo"), kHeader);
    const std::uintmax_t kept = env.KeptBytes();
    EXPECT_GE(kept, kSize / 2);
    if (c.writtenAnew) {
      const fs::path path = env.site + "/data.bin";
      fs::last_write_time(path, fs::last_write_time(path) + std::chrono::seconds(5));
    }
    ExpectInstalled(env.Run({"/Log"}));
    const auto all = nginx.Answers("/data.bin", before + 2);
    ASSERT_EQ(all.size(), before + 2);
    const std::vector<NginxServer::Answer> answers(all.begin() + before, all.end());
    if (c.writtenAnew || c.unchecked) {
      EXPECT_EQ(answers[1].status, 200);
      EXPECT_EQ(answers[1].bytes, kSize);
    } else {
      EXPECT_EQ(answers[1].status, 206);
      EXPECT_EQ(answers[1].bytes, kSize - kept);
      // No byte over the wire twice, but what was in flight at the interruption.
      EXPECT_LE(BytesOf(answers), kSize + kSize / 20);
    }
  }
}

TEST_F(ResumeRun, AFailedInstallationIsFollowedByOneThatDoesNotFetchAgain) {
  // A directory where the file is to go: the installation fails after a
  // complete, verified download.
  fs::create_directories(env.AppFile("data.bin") + "/in-the-way");
  const ProcessResult failed = env.Run({"/Log"});
  EXPECT_NE(failed.out.find("installation failed"), std::string::npos) << failed.out;
  EXPECT_NE(env.Setting("LiveUpdate.lastUpdateInfo"), kHeader);
  EXPECT_EQ(env.KeptBytes(), kSize);

  fs::remove_all(env.AppFile("data.bin"));
  const ProcessResult installed = env.Run({"/Log"});
  ExpectInstalled(installed);
  EXPECT_NE(installed.out.find("not fetched again"), std::string::npos) << installed.out;
  const auto answers = nginx.Answers("/data.bin", 1);
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_EQ(answers[0].bytes, kSize);
}

}  // namespace
