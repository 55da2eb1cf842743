// End-to-end: runs that meet. Two starts on one installation (the second
// while the first checks, downloads or installs), two installations of
// one user updated at the same moment with one TEMP, and another account
// that takes the work directory's place or locks what it can read.
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "support/updater_env.h"

namespace {

const std::string kHeader = "<update id=\"TVQ2026-03-01\">";
constexpr const char* kInProgress = "another update run";
constexpr const char* kNothingNew = "no new updates found";

// An update of a dozen files and a packed main application; the
// installation's tvq.exe and every listed file start out old.
std::map<std::string, std::string> PublishDozen(UpdaterEnv& env, const std::string& tag) {
  std::map<std::string, std::string> files;
  for (int i = 1; i <= 12; ++i)
    files["file" + std::to_string(i) + ".txt"] = tag + " new content of file " + std::to_string(i);
  std::map<std::string, std::string> published = files;
  published["tvq.ex_"] = Compressed(env.Root(), "tvq.exe", tag + " new main application, packed");
  EXPECT_EQ(env.Publish("TVQ2026-03-01", published), 0);
  files["tvq.exe"] = tag + " new main application, packed";
  WriteFile(env.AppFile("tvq.exe"), "old main application");
  for (int i = 1; i <= 12; ++i) WriteFile(env.AppFile("file" + std::to_string(i) + ".txt"), "old");
  env.WriteSettings({"LiveUpdate.www=file://" + env.site + "/"});
  return files;
}

// Every file is new, nothing stray stands beside them, and the update is
// recorded exactly once.
void ExpectInstalledOnce(const UpdaterEnv& env, const std::map<std::string, std::string>& files,
                         const std::string& context) {
  for (const auto& [name, content] : files)
    EXPECT_EQ(ReadFile(env.AppFile(name)), content) << context << ": " << name;
  EXPECT_FALSE(PathExists(env.AppFile("tvq.ex_"))) << context << "\n" << env.Listing();
  const std::string settings = env.Settings();
  std::size_t count = 0;
  for (std::size_t at = 0; (at = settings.find("LiveUpdate.lastUpdateInfo=", at)) != std::string::npos; ++at)
    ++count;
  EXPECT_EQ(count, 1u) << context << "\n" << settings;
  EXPECT_EQ(env.Setting("LiveUpdate.lastUpdateInfo").rfind(kHeader, 0), 0u) << context;
}

TEST(ConcurrentRuns, ASecondStartOnOneInstallationChangesNothing) {
  // The second start comes at once, while the first checks the site, and
  // while the first downloads and installs. All pairs run at the same time,
  // each on its own installation.
  const int offsetsMs[] = {0, 3000, 6000};
  std::vector<std::unique_ptr<UpdaterEnv>> envs;
  std::vector<std::map<std::string, std::string>> files;
  std::vector<std::unique_ptr<RunningProcess>> first, second;
  for (int i = 0; i < 3; ++i) {
    envs.push_back(std::make_unique<UpdaterEnv>());
    files.push_back(PublishDozen(*envs.back(), "pair" + std::to_string(i)));
  }
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 3; ++i) first.push_back(std::make_unique<RunningProcess>(envs[i]->RunOptions()));
  for (int i = 0; i < 3; ++i) {
    std::this_thread::sleep_until(start + std::chrono::milliseconds(offsetsMs[i]));
    second.push_back(std::make_unique<RunningProcess>(envs[i]->RunOptions()));
  }
  for (int i = 0; i < 3; ++i) {
    const ProcessResult a = first[i]->Wait(), b = second[i]->Wait();
    const std::string context = "offset " + std::to_string(offsetsMs[i]) + " ms";
    EXPECT_EQ(a.exitCode, 0) << context << a.err;
    EXPECT_EQ(b.exitCode, 0) << context << b.err;
    ExpectInstalledOnce(*envs[i], files[i], context + "\nfirst:\n" + a.err + "\nsecond:\n" + b.err);
    // The other one found the first at work and said so, or came after it
    // had ended and found nothing new.
    const auto says = [](const ProcessResult& r, const char* text) {
      return r.err.find(text) != std::string::npos;
    };
    const bool said = says(a, kInProgress) || says(b, kInProgress) || says(a, kNothingNew) ||
                      says(b, kNothingNew);
    EXPECT_TRUE(said) << context << "\nfirst:\n" << a.err << "\nsecond:\n" << b.err;
  }
}

TEST(ConcurrentRuns, TwoInstallationsOfOneUserNeverMeet) {
  // Both use the first one's TEMP; each gets its own files only.
  UpdaterEnv one, two;
  const auto filesOne = PublishDozen(one, "one");
  const auto filesTwo = PublishDozen(two, "two");
  ProcessOptions optionsTwo = two.RunOptions();
  optionsTwo.env["TEMP"] = one.temp;
  RunningProcess runOne(one.RunOptions()), runTwo(optionsTwo);
  const ProcessResult a = runOne.Wait(), b = runTwo.Wait();
  ExpectInstalledOnce(one, filesOne, "first installation\n" + a.err);
  ExpectInstalledOnce(two, filesTwo, "second installation\n" + b.err);
}

// Runs a shell command as an account of its own (no user entry needed,
// none of root's groups) and waits for it; its exit code.
int AsAnotherAccount(const std::string& command) {
  ProcessOptions o;
  o.argv = {"/bin/sh", "-c", command};
  o.asUid = 4242;
  return RunProcess(o).exitCode;
}

TEST(ConcurrentRuns, AnotherAccountStopsNoRunOfTheInstallation) {
  if (!RunningAsRoot()) GTEST_SKIP() << "needs root to act as another account";
  // Another account takes the work directory's name (a directory, a link),
  // or holds a lock on the application directory, which it can read, and
  // tries the lock file, which it cannot open. Each on an installation of
  // its own, all runs at the same time.
  const std::string causes[] = {"belongs to another user", "is a link", ""};
  UpdaterEnv envs[3];
  std::unique_ptr<RunningProcess> runs[3], reader;
  for (int i = 0; i < 3; ++i) {
    UpdaterEnv& env = envs[i];
    env.timeRate = 10;
    ASSERT_EQ(env.Publish("TVQ2026-03-01", {{"news.txt", "installed\n"}}), 0);
    env.WriteSettings({"LiveUpdate.www=file://" + env.site + "/"});
    const std::string theirs = i == 0 ? env.WorkDir() : env.temp + "/theirs";
    const std::string link = i == 1 ? " && ln -s '" + theirs + "' '" + env.WorkDir() + "'" : "";
    ASSERT_EQ(AsAnotherAccount("mkdir '" + theirs + "' && echo mine > '" + theirs + "/keep'" + link), 0);
    if (i == 2) {
      ProcessOptions hold;
      hold.argv = {"/usr/bin/flock", "-x", env.app, "/bin/sh", "-c", "touch '" + theirs + "/held'; exec sleep 600"};
      hold.asUid = 4242;
      reader = std::make_unique<RunningProcess>(hold);
      ASSERT_TRUE(WaitWhileRunning(*reader, [&] { return PathExists(theirs + "/held"); }));
      EXPECT_NE(AsAnotherAccount("flock -n '" + env.AppFile(".tvqlupd.lock") + "' true"), 0);
    }
    runs[i] = std::make_unique<RunningProcess>(env.RunOptions({"/Log"}));
  }
  for (int i = 0; i < 3; ++i) {
    const ProcessResult run = runs[i]->Wait();
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(ReadFile(envs[i].AppFile("news.txt")), "installed\n") << run.out;
    if (i < 2) {
      EXPECT_EQ(ReadFile(envs[i].WorkDir() + "/keep"), "mine\n") << "left alone";
      EXPECT_NE(run.out.find("work directory not used: \"" + envs[i].WorkDir() + "\" " + causes[i]),
                std::string::npos)
          << run.out;
    }
  }
}

}  // namespace
