// End-to-end: Ctrl-C or SIGTERM during a stalled transfer or during the
// installation's wait for a running tvq.exe ends the run at once. Either
// would hold the run for minutes; the run's time limit is a fraction of
// that. The account says where the run stopped, and nothing is installed or
// recorded.
#include <gtest/gtest.h>

#include <signal.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "support/file_user.h"
#include "support/updater_env.h"

namespace {

// Whether text holds each of the pieces, in this order.
bool HoldsInOrder(const std::string& text, const std::vector<std::string>& pieces) {
  std::size_t at = 0;
  for (const std::string& piece : pieces) {
    at = text.find(piece, at);
    if (at == std::string::npos) return false;
    at += piece.size();
  }
  return true;
}

// The application directory's files and sizes but the settings file's.
std::string FilesBesideTheSettings(const UpdaterEnv& env) {
  std::string listing = env.Listing();
  const std::size_t at = listing.find("tvqlupd.INI ");
  if (at != std::string::npos) listing.erase(at, listing.find('\n', at) + 1 - at);
  return listing;
}

TEST(CancelRun, ASignalDuringAStalledTransferOrAWaitEndsTheRunAndChangesNothing) {
  const struct {
    const char* moment;
    int signal;
    const char* file;          // the update's one file
    bool mainAppRunning;       // tvq.exe is a running program
    const char* stalled;       // the site answers this file with nothing
    std::vector<std::string> reached;  // the account once the run is there
    const char* stopped;       // what the account says of the stop
  } cases[] = {
      {"stalled download", SIGINT, "big.bin", false, "big.bin",
       {"downloading file \"big.bin\"", "trying PRECONFIGURED"},
       "failed: the transfer was stopped"},
      {"wait for the running tvq.exe", SIGTERM, "tvq.exe", true, "",
       {"\"tvq.exe\" is in use: waiting for it to end"},
       "cancelled: the update is not recorded (installation stopped by Cancel)"},
  };
  for (const auto& c : cases) {
    UpdaterEnv env;
    ASSERT_EQ(env.Publish("TVQ2026-01-10", {{c.file, std::string(100'000, 'n')}}), 0) << c.moment;
    std::optional<FileUser> mainApp;
    if (c.mainAppRunning) mainApp.emplace(FileUser::Running(env.AppFile("tvq.exe")));
    env.WriteSettings({"LiveUpdate.www=" + env.Serve(0, c.stalled)});
    const std::string before = FilesBesideTheSettings(env);
    const std::string account = env.Root() + "/account.txt";
    ProcessOptions options = env.RunOptions({"/Log=" + account});
    // Far less than the stalled site (30 s a method, five attempts) or the
    // wait for tvq.exe (30 s) would hold the run, and its pauses after.
    options.timeoutSeconds = 25;
    RunningProcess run(options);
    ASSERT_TRUE(WaitWhileRunning(run, [&] { return HoldsInOrder(ReadFile(account), c.reached); }))
        << c.moment << "\n" << ReadFile(account);
    run.Signal(c.signal);
    const ProcessResult result = run.Wait();
    const std::string said = ReadFile(account);
    EXPECT_FALSE(result.timedOut) << c.moment;
    EXPECT_EQ(result.exitCode, 0) << c.moment << result.err;
    EXPECT_NE(said.find(c.stopped), std::string::npos) << c.moment << "\n" << said;
    EXPECT_NE(said.find("cancelled: the run ends without waiting"), std::string::npos) << c.moment;
    EXPECT_EQ(FilesBesideTheSettings(env), before) << c.moment;
    EXPECT_EQ(env.Setting("LiveUpdate.lastUpdateInfo"), "") << c.moment;
  }
}

}  // namespace
