// End-to-end: the built tvqlupd in a throw-away application directory against
// update sites made with tvqpublish, over HTTP and file://. Each run takes
// 12-20 s because of the program's designed waits.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <thread>
#include <vector>

#include "app/context/names.h"
#include "platform/os.h"
#include "support/new_updater.h"
#include "support/updater_env.h"

namespace fs = std::filesystem;

namespace {

const std::string kHeader1 = "<update id=\"TVQ2026-01-10\">";
const std::string kHeader2 = "<update id=\"TVQ2026-02-20\">";

std::string Sized(const std::string& text, std::size_t size) {
  std::string s = text;
  while (s.size() < size) s += static_cast<char>('a' + s.size() % 26);
  return s;
}


TEST(UpdateRun, InstallsOneUpdatePerRunAndRecordsIt) {
  UpdaterEnv env;
  ASSERT_EQ(env.Publish("TVQ2026-01-10", {{"readme.txt", "first update\r\n"}}), 0);
  ASSERT_EQ(env.Publish("TVQ2026-02-20", {{"help.txt", "second update, with help\r\n"}}), 0);
  const std::string site = env.Serve();
  env.WriteSettings({"LiveUpdate.www=" + site});

  auto first = env.Run();
  EXPECT_EQ(first.exitCode, 0) << first.err;
  EXPECT_EQ(ReadFile(env.AppFile("readme.txt")), "first update\r\n");
  EXPECT_FALSE(PathExists(env.AppFile("help.txt")));
  EXPECT_EQ(env.Setting("LiveUpdate.lastUpdateInfo"), kHeader1);
  EXPECT_EQ(env.Setting("LiveUpdate.installationInfo"), "0");
  EXPECT_NE(first.err.find("installation completed"), std::string::npos) << first.err;

  auto second = env.Run();
  EXPECT_EQ(second.exitCode, 0);
  EXPECT_EQ(ReadFile(env.AppFile("help.txt")), "second update, with help\r\n");
  EXPECT_EQ(env.Setting("LiveUpdate.lastUpdateInfo"), kHeader2);

  const std::string listing = env.Listing();
  const std::string settings = env.Settings();
  auto third = env.Run();
  EXPECT_EQ(third.exitCode, 0);
  EXPECT_NE(third.err.find("exiting (no new updates found)..."), std::string::npos) << third.err;
  EXPECT_EQ(env.Listing(), listing);
  EXPECT_EQ(env.Settings(), settings);
}

TEST(UpdateRun, FileSiteGivenWithPInstallsAndRecordsTheWholeBlock) {
  UpdaterEnv env;
  ASSERT_EQ(env.Publish("TVQ2026-01-10", {{"data.bin", Sized("local copy ", 5000)}}), 0);
  auto run = env.Run({"/P" + env.site});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(ReadFile(env.AppFile("data.bin")), Sized("local copy ", 5000));
  // A list read from a directory is held as joined lines: the whole block is
  // what the settings record.
  const std::string recorded = env.Setting("LiveUpdate.lastUpdateInfo");
  EXPECT_EQ(recorded.rfind(kHeader1, 0), 0u) << recorded;
  EXPECT_NE(recorded.find("</update>"), std::string::npos) << recorded;
  EXPECT_NE(run.err.find("copying..."), std::string::npos) << run.err;
}

TEST(UpdateRun, SiteAddressGivenWithPIsUsedAsItStands) {
  UpdaterEnv env;
  ASSERT_EQ(env.Publish("TVQ2026-01-10", {{"a.txt", "over http\n"}}), 0);
  const std::string site = env.Serve();
  auto run = env.Run({"/P" + site});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(ReadFile(env.AppFile("a.txt")), "over http\n");
  EXPECT_NE(run.err.find("host: 127.0.0.1"), std::string::npos) << run.err;
}

TEST(UpdateRun, CorruptFileFailsTheRunAndRecordsNothing) {
  UpdaterEnv env;
  ASSERT_EQ(env.Publish("TVQ2026-01-10", {{"tool.bin", Sized("good bytes ", 3000)}}), 0);
  // Same size, other bytes: only the checksum can tell.
  WriteFile(env.site + "/tool.bin", Sized("BAD! bytes ", 3000));
  const std::string site = env.Serve();
  env.WriteSettings({"LiveUpdate.www=" + site});
  auto run = env.Run();
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_FALSE(PathExists(env.AppFile("tool.bin")));
  EXPECT_EQ(env.Setting("LiveUpdate.lastUpdateInfo"), "");
  EXPECT_NE(run.err.find("aborting (error found)"), std::string::npos) << run.err;
}

// A directory below base whose path is exactly length bytes long.
std::string DirOfLength(const std::string& base, std::size_t length) {
  std::string dir = base;
  while (dir.size() + 60 < length) dir += "/" + std::string(50, 'd');
  dir += "/" + std::string(length - dir.size() - 1, 'e');
  fs::create_directories(dir);
  return dir;
}

// Every file below root with the size and a hash of its content, except
// those below the skipped directories.
std::map<std::string, std::string> FilesBelow(const std::string& root,
                                              const std::vector<std::string>& skipped) {
  std::map<std::string, std::string> files;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    const std::string path = e.path().string();
    bool skip = false;
    for (const std::string& s : skipped) skip = skip || path.rfind(s + "/", 0) == 0;
    if (skip || !e.is_regular_file()) continue;
    const std::string content = ReadFile(path);
    files[path] = std::to_string(content.size()) + " bytes, hash " +
                  std::to_string(std::hash<std::string>{}(content));
  }
  return files;
}

TEST(UpdateRun, PathsLongerThan255BytesAreUsedWhole) {
  UpdaterEnv env;
  ASSERT_EQ(env.Publish("TVQ2026-01-10", {{"readme.txt", "installed where it belongs\n"}}), 0);
  const std::string root = fs::path(env.app).parent_path().string();
  // Cut at 255 bytes, such an application directory named one two levels
  // up, and the work directory below such a TEMP named TEMP itself.
  const std::string app = DirOfLength(root + "/longapp", 268);
  const std::string temp = DirOfLength(root + "/longtemp", 254);
  // The site, given with /P, is deep too: the switch text holds 255 characters.
  const std::string site = DirOfLength(root + "/longsite", 300);
  for (const auto& e : fs::directory_iterator(env.site)) fs::copy(e.path(), site);
  fs::copy_file(env.AppFile("tvqlupd"), app + "/tvqlupd");
  fs::permissions(app + "/tvqlupd", fs::perms(0755));
  WriteFile(temp + "/keep.txt", "not the updater's");
  WriteFile(fs::path(app).parent_path().string() + "/keep.txt", "not the updater's either");
  const std::string work = temp + "/tvqlupd-" + WorkKeyOf(app, os::CurrentAccount());
  const auto before = FilesBelow(root, {app, work});

  ProcessOptions o = env.RunOptions({"/P" + site});
  o.argv[0] = app + "/tvqlupd";
  o.env["TEMP"] = temp;
  o.workDir = temp;
  const auto run = RunProcess(o);
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(ReadFile(app + "/readme.txt"), "installed where it belongs\n");
  EXPECT_NE(ReadFile(app + "/tvqlupd.INI").find("LiveUpdate.lastUpdateInfo=" + kHeader1),
            std::string::npos);
  EXPECT_EQ(FilesBelow(root, {app, work}), before);
}

TEST(UpdateRun, ASettingsFileThatIsNoRegularFileIsReportedAndLeftAlone) {
  UpdaterEnv env;
  ASSERT_EQ(env.Publish("TVQ2026-01-10", {{"a.txt", "installed anyway\n"}}), 0);
  const std::string fifo = env.temp + "/settings.ini";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  ProcessOptions o = env.RunOptions({"/ConfigFile=" + fifo, "/Log", "/P" + env.site});
  o.timeoutSeconds = 60;  // a FIFO once blocked the program for ever
  const auto run = RunProcess(o);
  EXPECT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_NE(run.out.find("Settings file \"" + fifo + "\" is not a regular file"), std::string::npos)
      << run.out;
  EXPECT_TRUE(fs::is_fifo(fifo));
  EXPECT_FALSE(PathExists(fifo + ".INI"));
  EXPECT_EQ(ReadFile(env.AppFile("a.txt")), "installed anyway\n");
}

TEST(UpdateRun, DisablingFlagFileStopsTheRunWithoutTouchingAnything) {
  UpdaterEnv env;
  WriteFile(env.AppFile("tvqlupd.!donotrun"), "");
  const std::string listing = env.Listing();
  auto run = env.Run({"/Log"});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_NE(run.out.find("Live update program has been disabled in this directory. Exiting..."),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("signatures: not checked (no public key is configured)"), std::string::npos) << run.out;
  EXPECT_EQ(env.Listing(), listing);
  EXPECT_LT(run.seconds, 10.0);
}

TEST(UpdateRun, DirectoryWithoutWriteRightsShowsTheErrorAndChangesNothing) {
  UpdaterEnv env;
  ASSERT_EQ(env.Publish("TVQ2026-01-10", {{"a.txt", "x\n"}}), 0);
  env.WriteSettings({"LiveUpdate.www=" + env.Serve()});
  const std::string listing = env.Listing();
  const std::string settings = ReadFile(env.SettingsPath());
  ProcessOptions o = env.RunOptions();
  if (RunningAsRoot()) {
    // Root writes everywhere; the run takes the rights of "nobody" instead.
    o.asUid = 65534;
  } else {
    fs::permissions(env.app, fs::perms(0555));
  }
  auto run = RunProcess(o);
  fs::permissions(env.app, fs::perms(0755));
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_NE(run.err.find("There is a file-access problem."), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("needs *modify access* to its own directory"), std::string::npos);
  // The real program file is named, and the box's line break is a line break.
  EXPECT_NE(run.err.find("(" + env.AppFile("tvqlupd") + ")"), std::string::npos) << run.err;
  EXPECT_EQ(run.err.find("tvqlupd.exe"), std::string::npos) << run.err;
  EXPECT_EQ(run.err.find('\r'), std::string::npos) << run.err;
  EXPECT_EQ(env.Listing(), listing);
  EXPECT_EQ(ReadFile(env.SettingsPath()), settings);
}

TEST(UpdateRun, RightsFailureNamesItsCauseInTheAccountAndThePathWholeInTheBox) {
  UpdaterEnv env;
  for (const std::string name : {"Пётр", "山田太郎", "📦 обновления"}) {
    env.PlaceApp(env.Root() + "/" + name + "/app");
    const std::string account = env.temp + "/" + name + ".log";
    ProcessOptions o = env.RunOptions({"/Log=" + account});
    if (RunningAsRoot()) {
      o.asUid = 65534;  // root writes everywhere
    } else {
      fs::permissions(env.app, fs::perms(0555));
    }
    const auto run = RunProcess(o);
    fs::permissions(env.app, fs::perms(0755));
    EXPECT_EQ(run.exitCode, 0) << run.err;
    // The box (on the console without a display) names the directory whole.
    EXPECT_NE(run.err.find("(directory \"" + env.app + "/\")"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("(" + env.ProgramPath() + ")"), std::string::npos) << run.err;
    // The account says which directory and why: the run lock's file, the
    // first thing a run writes, cannot be made.
    const std::string text = ReadFile(account);
    EXPECT_NE(text.find("this account cannot change the installation \"" + env.app +
                        "\": cannot open \"" + env.AppFile(".tvqlupd.lock") + "\": "),
              std::string::npos)
        << text;
  }
}

TEST(UpdateRun, ExpandsPackedFilesAndSetsInUseFilesAside) {
  UpdaterEnv env;
  const std::string mainApp = "#!/bin/sh\n# main application 2.0\nexit 0\n";
  const std::string updater = Sized("new updater build ", 4000);
  const std::string work = env.temp + "/pack";
  fs::create_directories(work);
  WriteFile(work + "/tvq.ex_", Compressed(work, "tvq.exe", mainApp));
  WriteFile(work + "/tvqlupd.ex_", Compressed(work, "tvqlupd.exe", updater));
  WriteFile(work + "/tvq.ini", "[Main]\r\nStartPage=news\r\n");
  ASSERT_EQ(env.PublishPaths("TVQ2026-01-10",
                             {work + "/tvq.ex_", work + "/tvqlupd.ex_", work + "/tvq.ini"}),
            0);
  WriteFile(env.AppFile("tvq.ini"), "[Main]\r\nStartPage=mine\r\n");
  const std::string ownBinary = ReadFile(env.AppFile("tvqlupd"));
  auto run = env.Run({"/P" + env.site});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(ReadFile(env.AppFile("tvq.exe")), mainApp);
  EXPECT_TRUE(fs::status(env.AppFile("tvq.exe")).permissions() == fs::perms(0755) ||
              (fs::status(env.AppFile("tvq.exe")).permissions() & fs::perms::owner_exec) !=
                  fs::perms::none);
  EXPECT_EQ(ReadFile(env.AppFile("tvqlupd.exe.newversion")), updater);
  EXPECT_EQ(ReadFile(env.AppFile("tvqlupd")), ownBinary);
  EXPECT_EQ(ReadFile(env.AppFile("tvq.ini")), "[Main]\r\nStartPage=mine\r\n");
  EXPECT_EQ(ReadFile(env.AppFile("tvq.ini.newversion")), "[Main]\r\nStartPage=news\r\n");
  EXPECT_FALSE(PathExists(env.AppFile("tvq.ex_")));
}

// The updater's own new version, packed and set aside, plain and set aside,
// and under the running program's own name, which it is renamed over.
class NewUpdaterRun : public ::testing::TestWithParam<NewUpdaterListing> {};

TEST_P(NewUpdaterRun, IsInstalledWithTheUpdateAndRecorded) {
  UpdaterEnv env;
  env.timeRate = 10;
  const std::string newUpdater = PublishNewUpdater(env, GetParam());
  env.WriteSettings({"LiveUpdate.www=" + env.Serve()});
  const std::string oldProgram = ReadFile(env.ProgramPath());
  ExpectNewUpdaterInstalled(env, GetParam(), oldProgram, newUpdater, env.Run());
}

INSTANTIATE_TEST_SUITE_P(Listings, NewUpdaterRun,
                         ::testing::Values(NewUpdaterListing{"tvqlupd.ex_", "tvqlupd.exe.newversion"},
                                           NewUpdaterListing{"tvqlupd.exe", "tvqlupd.exe.newversion"},
                                           NewUpdaterListing{"tvqlupd", "tvqlupd"}),
                         [](const auto& info) { return ListingTestName(info.param); });

TEST(UpdateRun, CtrlCDuringTheDownloadCancelsAndRecordsNothing) {
  UpdaterEnv env;
  ASSERT_EQ(env.Publish("TVQ2026-01-10", {{"big.bin", Sized("slow ", 3'000'000)}}), 0);
  // 300 KB/s: the download would take about 10 s.
  const std::string site = env.Serve(300'000);
  env.WriteSettings({"LiveUpdate.www=" + site});
  RunningProcess run(env.RunOptions({"/Log"}));
  // Ctrl-C once the first bytes of the file have arrived: a cancel during
  // the download, never one before it.
  ASSERT_TRUE(env.WaitForKeptBytes(run)) << "the download did not start";
  run.Signal(SIGINT);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  run.Signal(SIGINT);  // a second Ctrl-C still lets the run end cleanly
  auto result = run.Wait();
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_FALSE(PathExists(env.AppFile("big.bin")));
  EXPECT_EQ(env.Setting("LiveUpdate.lastUpdateInfo"), "");
  EXPECT_NE(result.err.find("exiting..."), std::string::npos) << result.err;
  // The file never passed its checks: the cancel ended the transfer itself.
  EXPECT_EQ(result.err.find(" OK!"), std::string::npos) << result.err;
}

TEST(UpdateRun, VersionAndHelpPrintAndExit) {
  UpdaterEnv env;
  auto version = env.Run({"--version"});
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_NE(version.out.find("1.0j"), std::string::npos);
  auto help = env.Run({"--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.out.find("/P<site>"), std::string::npos);
  auto banner = env.Run({"/?", "/Log"});
  EXPECT_EQ(banner.exitCode, 0);
  EXPECT_NE(banner.out.find("This is a \"live update\" program for Kestrin software"),
            std::string::npos)
      << banner.out;
  EXPECT_FALSE(PathExists(env.SettingsPath()));
}

}  // namespace
