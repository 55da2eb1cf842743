// The run sequence in this process: the work directory on real directories,
// and whole update runs against real sites with the virtual clock, so that
// every branch costs milliseconds instead of a 15-second program run.
#include "app/run/run.h"

#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/context/display.h"
#include "app/context/names.h"
#include "app/context/run_context.h"
#include "app/install/install.h"
#include "platform/os.h"
#include "settings/config.h"
#include "support/fileutil.h"
#include "support/fs_faults.h"
#include "support/http_test_server.h"
#include "support/lingua.h"
#include "support/nuldev.h"
#include "support/recording_display.h"
#include "support/recording_user_interface.h"
#include "support/scoped_env.h"
#include "support/site_builder.h"
#include "support/std_text_capture.h"
#include "support/strfn.h"
#include "support/temp_dir.h"
#include "support/virtual_clock.h"

namespace fs = std::filesystem;

namespace {

std::string Made(const std::string& dir) {
  os::MakeDirectories(dir);
  return dir;
}

class WorkDirectoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetProgramName("tvqlupd");
    work = WorkDirectory();
  }

  ScratchDir temp;
  ScopedEnv tempVar{"TEMP", temp.path()};
  ScopedEnv cacheVar{"XDG_CACHE_HOME", temp / "cache"};
  RecordingUserInterface boxes;
  StdTextCapture account;
  std::string work;
};

TEST_F(WorkDirectoryTest, IsCreatedPrivateAndEmptiedOfFilesOnly) {
  fs::create_directories(work + "/keep");
  WriteFile(work + "/old.bin", "left by an earlier run");
  WriteFile(work + "/noext", "x");
  fs::permissions(work, fs::perms(0755));
  EXPECT_TRUE(PrepareWorkDirectory().ok());
  EXPECT_EQ(WorkDirectory(), work);
  EXPECT_EQ(fs::status(work).permissions(), fs::perms(0700));
  EXPECT_FALSE(PathExists(work + "/old.bin"));
  EXPECT_FALSE(PathExists(work + "/noext"));
  EXPECT_TRUE(fs::is_directory(work + "/keep"));
  EXPECT_TRUE(boxes.texts.empty());
}

TEST_F(WorkDirectoryTest, APlantedLinkIsLeftAloneAndTheCachePlaceServesEveryRun) {
  const std::string elsewhere = Made(temp / "elsewhere");
  WriteFile(elsewhere + "/precious", "keep me");
  fs::create_directory_symlink(elsewhere, work);
  for (int run = 1; run <= 2; ++run) {
    EXPECT_TRUE(PrepareWorkDirectory().ok());
    EXPECT_EQ(WorkDirectory(), CacheWorkDirectory());
    // A download kept by the first run is there for the second.
    if (run == 1) WriteFile(Made(WorkDirectory() + "/.kept") + "/partial", "kept");
  }
  EXPECT_EQ(ReadFile(CacheWorkDirectory() + "/.kept/partial"), "kept");
  EXPECT_EQ(fs::status(CacheWorkDirectory()).permissions(), fs::perms(0700));
  EXPECT_TRUE(account.HasLine("work directory not used: \"" + work + "\" is a link")) << account.Text();
  EXPECT_TRUE(boxes.texts.empty());
  EXPECT_EQ(ReadFile(elsewhere + "/precious"), "keep me");
}

// ------------------------------------------------------------ whole runs

// A list block as a file:// site's list is held and recorded: its lines
// joined without separators.
std::string Joined(std::string block) {
  block.erase(std::remove(block.begin(), block.end(), '\r'), block.end());
  block.erase(std::remove(block.begin(), block.end(), '\n'), block.end());
  return block;
}

// One installation in a fresh directory, started in this process as main
// starts the program: the program tvqlupd in <root>/app with its settings
// file there, TEMP in <root>/temp, no proxy, the run's account appended to
// <root>/account.log (/Log=FILE), every wait on the virtual clock, boxes and
// the display recorded. Everything is put back when it goes.
class Installation {
 public:
  Installation() {
    savedCwd_ = os::CurrentDirectory();
    savedText_ = StdText().rdbuf();
    SetLanguage('E');
    SetProgramName("tvqlupd");
    os::SetExecutablePathForTests(AppFile("tvqlupd"));
  }
  ~Installation() {
    StdText().rdbuf(savedText_);
    StdText().clear();
    CfgResetForTests();
    os::SetExecutablePathForTests("");
    os::ChangeDirectory(savedCwd_);
    ResetCancelForTests();
  }
  Installation(const Installation&) = delete;
  Installation& operator=(const Installation&) = delete;

  std::string AppFile(const std::string& name) const { return app + "/" + name; }

  void WriteSettings(const std::vector<std::string>& lines) const {
    std::string text;
    for (const auto& line : lines) text += line + "\r\n";
    WriteFile(AppFile("tvqlupd.INI"), text);
  }
  // A settings value as the next start reads it; "<absent>" when not set.
  static std::string Setting(const std::string& key) {
    CfgResetForTests();
    CfgInit();
    return CfgGetStr(key + "=<absent>");
  }

  // One start: the settings store is read afresh and the run runs to its end.
  void Run(std::vector<std::string> args = {}) {
    args.push_back("/Log=" + log);
    const CommandLineOptions options = ParseCommandLine(args);
    CfgResetForTests();
    CfgInit(options);
    ResetCancelForTests();
    clock.Clear();
    RunLiveUpdate(options);
  }
  std::string Account() const { return ReadFile(log); }

  ScratchDir root;
  const std::string app = Made(root / "app");
  const std::string log = root / "account.log";
  ScopedEnv tempVar{"TEMP", Made(root / "temp")};
  ScopedEnv httpProxy{"http_proxy", std::nullopt};
  ScopedEnv allProxy{"all_proxy", std::nullopt};
  ScopedEnv allProxyUpper{"ALL_PROXY", std::nullopt};
  SiteBuilder site{root / "site"};
  HookedClock clock;
  RecordingDisplay display;
  RecordingUserInterface ui;

 private:
  std::string savedCwd_;
  std::streambuf* savedText_ = nullptr;
};

int Count(const std::string& text, const std::string& part) {
  int n = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++n;
  return n;
}

TEST(RunSequence, NextBlockIsNewOnlyWhenItSortsAfterTheRecordedOne) {
  // The list holds the recorded update C; the block after it sorts before C
  // (an older update served again), equals C (a replayed block) or follows it.
  const struct {
    const char* what;
    const char* id;
    bool installed;
  } rows[] = {{"sorts before", "TVQ2026-02-01", false},
              {"equal", "TVQ2026-03-01", false},
              {"sorts after", "TVQ2026-04-01", true}};
  for (const auto& row : rows) {
    Installation in;
    const auto a = in.site.AddFile("a.txt", "update A\n");
    const auto c = in.site.AddFile("c.txt", "update C\n");
    const auto x = in.site.AddFile("x.txt", std::string("next block ") + row.id + "\n");
    in.site.AddUpdate("TVQ2026-01-01", {a});
    in.site.AddUpdate("TVQ2026-03-01", {c});
    // What the run that installed C recorded: a file:// list's block, joined.
    const std::string recorded = Joined(MakeBlock("TVQ2026-03-01", {c}));
    const std::string next = MakeBlock(row.id, {std::string(row.id) == "TVQ2026-03-01" ? c : x});
    in.site.SetList(in.site.ListText() + next);
    in.WriteSettings({"LiveUpdate.www=" + in.site.FileUrl(), "LiveUpdate.installationInfo=0",
                      "LiveUpdate.lastUpdateInfo=" + recorded});

    in.Run();
    if (row.installed) {
      EXPECT_EQ(ReadFile(in.AppFile("x.txt")), std::string("next block ") + row.id + "\n");
      EXPECT_EQ(Installation::Setting("LiveUpdate.lastUpdateInfo"), Joined(next)) << row.what;
    } else {
      EXPECT_FALSE(PathExists(in.AppFile("x.txt"))) << row.what;
      EXPECT_FALSE(PathExists(in.AppFile("c.txt"))) << row.what;
      EXPECT_EQ(Installation::Setting("LiveUpdate.lastUpdateInfo"), recorded) << row.what;
      EXPECT_EQ(Count(in.Account(), "No new updates found.\n"), 1) << row.what;
      EXPECT_EQ(in.display.statuses.back(), "exiting...") << row.what;
      EXPECT_NE(std::find(in.display.statuses.begin(), in.display.statuses.end(),
                          "exiting (no new updates found)..."),
                in.display.statuses.end())
          << row.what;
    }
  }
}

TEST(RunSequence, HistoryIsResetOnlyWhenTheMainApplicationIsOlderThanRecorded) {
  const std::int64_t made = 1767268800;  // the main application's date
  const std::int32_t day = os::LocalDayNumber(made);
  const struct {
    const char* what;
    bool mainApp;
    std::optional<std::int64_t> stored;  // LiveUpdate.installationInfo
    bool reset;
    std::int64_t storedAfter;
  } rows[] = {
      {"recorded after the main application's day", true, day + 1, true, day},
      {"recorded on its day", true, day, false, day},
      {"recorded before its day", true, day - 1, false, day - 1},
      {"no main application, nothing recorded", false, std::nullopt, true, 0},
      {"no main application, a day recorded", false, 99999, false, 99999},
  };
  for (const auto& row : rows) {
    Installation in;
    const auto file = in.site.AddFile("again.txt", "installed again\n");
    in.site.AddUpdate("TVQ2026-01-10", {file});
    const std::string recorded = Joined(MakeBlock("TVQ2026-01-10", {file}));
    if (row.mainApp) {
      WriteFile(in.AppFile("tvq.exe"), "#!/bin/sh\nexit 0\n");
      ASSERT_TRUE(os::SetModifiedSeconds(in.AppFile("tvq.exe"), made).ok());
    }
    std::vector<std::string> settings = {"LiveUpdate.www=" + in.site.FileUrl(),
                                         "LiveUpdate.lastUpdateInfo=" + recorded};
    if (row.stored) settings.push_back("LiveUpdate.installationInfo=" + std::to_string(*row.stored));
    in.WriteSettings(settings);

    in.Run();
    EXPECT_EQ(Count(in.Account(), "  Clearing obsolete update information...\n"), row.reset ? 1 : 0) << row.what;
    EXPECT_EQ(Installation::Setting("LiveUpdate.installationInfo"), std::to_string(row.storedAfter)) << row.what;
    // After a reset the recorded update is installed again, one per run.
    EXPECT_EQ(PathExists(in.AppFile("again.txt")), row.reset) << row.what;
    EXPECT_EQ(Installation::Setting("LiveUpdate.lastUpdateInfo"), recorded) << row.what;
  }
}

TEST(RunSequence, RecordedUpdateHoldsNoControlCharactersAndStaysRecognised) {
  Installation in;
  const auto file = in.site.AddFile("esc.txt", "installed once\n");
  const std::string block = MakeBlock("TVQ2026-01-10\x1b]0;owned\x07", {file});
  in.site.SetList(block);
  in.WriteSettings({"LiveUpdate.www=" + in.site.FileUrl(), "LiveUpdate.installationInfo=0"});
  in.Run();
  const std::string recorded = Installation::Setting("LiveUpdate.lastUpdateInfo");
  EXPECT_EQ(recorded, ControlsReplaced(Joined(block))) << recorded;
  EXPECT_EQ(recorded.rfind("<update id=\"TVQ2026-01-10?]0;owned?\">", 0), 0u) << recorded;
  // The next run takes the update for the one it recorded.
  fs::remove(in.AppFile("esc.txt"));
  in.Run();
  EXPECT_FALSE(PathExists(in.AppFile("esc.txt")));
  EXPECT_EQ(Count(in.Account(), "No new updates found.\n"), 1) << in.Account();
}

TEST(RunSequence, ListIsAcceptedOnlyWhenTwoReadingsInARowAgree) {
  // The site answers the n-th reading of its list with the n-th text.
  const struct {
    const char* what;
    std::vector<int> readings;  // which list each reading gets: 1, 2 or 3
    const char* installed;      // the file installed; "" when the run fails
  } rows[] = {
      {"same twice", {1, 1}, "one.txt"},
      {"changes once, then the same twice", {1, 2, 2, 2}, "two.txt"},
      {"changes, then changes again", {1, 2, 2, 3}, ""},
  };
  for (const auto& row : rows) {
    Installation in;
    const std::string lists[] = {
        MakeBlock("TVQ2026-01-10", {in.site.AddFile("one.txt", "first list\n")}),
        MakeBlock("TVQ2026-01-11", {in.site.AddFile("two.txt", "second list\n")}),
        MakeBlock("TVQ2026-01-12", {in.site.AddFile("three.txt", "third list\n")})};
    HttpTestServer server(in.site.Dir());
    std::vector<std::string> bodies;
    for (int n : row.readings) bodies.push_back(lists[n - 1]);
    server.SetBodies(kUpdateListName, bodies);
    in.WriteSettings({"LiveUpdate.www=" + server.BaseUrl()});

    in.Run();
    EXPECT_EQ(server.RequestCount(kUpdateListName), static_cast<int>(row.readings.size())) << row.what;
    const std::string installed = row.installed;
    for (const char* name : {"one.txt", "two.txt", "three.txt"})
      EXPECT_EQ(PathExists(in.AppFile(name)), installed == name) << row.what << ": " << name;
    if (installed.empty()) {
      EXPECT_EQ(Installation::Setting("LiveUpdate.lastUpdateInfo"), "") << row.what;
      EXPECT_NE(in.Account().find(": the list changed between readings\n"), std::string::npos) << in.Account();
      EXPECT_EQ(in.clock.Count(12000), 1) << row.what;  // the wait of a failed run
      EXPECT_EQ(std::count(in.display.statuses.begin(), in.display.statuses.end(), "downloading..."), 0)
          << row.what;
    } else {
      const std::string& accepted = lists[row.readings.back() - 1];
      EXPECT_EQ(Installation::Setting("LiveUpdate.lastUpdateInfo"), accepted.substr(0, accepted.find('\r')))
          << row.what;
      EXPECT_EQ(in.clock.Count(6000), 1) << row.what;
    }
    // 700 ms before the second reading; 2000 and 1000 ms before the third and fourth.
    EXPECT_EQ(in.clock.Count(700), 1) << row.what;
    EXPECT_EQ(in.clock.Count(2000), row.readings.size() > 2 ? 1 : 0) << row.what;
  }
}

TEST(RunSequence, AlternativeSitesAreTriedInTurnAfterTheFirstFails) {
  const struct {
    const char* what;
    std::vector<std::string> keys;  // "KEY=bad" or "KEY=good"
  } rows[] = {
      {"www2", {"LiveUpdate.www1=bad", "LiveUpdate.www2=good"}},
      {"www.2 when www2 is not set", {"LiveUpdate.www1=bad", "LiveUpdate.www.2=good"}},
      {"www3 before www.3",
       {"LiveUpdate.www.1=bad", "LiveUpdate.www2=bad", "LiveUpdate.www3=good", "LiveUpdate.www.3=bad"}},
      {"www9, the last",
       {"LiveUpdate.www1=bad", "LiveUpdate.www.2=bad", "LiveUpdate.www3=bad", "LiveUpdate.www.4=bad",
        "LiveUpdate.www5=bad", "LiveUpdate.www.6=bad", "LiveUpdate.www7=bad", "LiveUpdate.www.8=bad",
        "LiveUpdate.www9=good"}},
  };
  for (const auto& row : rows) {
    Installation in;
    const std::string header = in.site.AddUpdate("TVQ2026-01-10", {in.site.AddFile("alt.txt", "from the alternative\n")});
    const std::string good = in.site.FileUrl();
    std::vector<std::string> settings = {"LiveUpdate.www=file://" + in.root / "down/",
                                         "LiveUpdate.installationInfo=0"};
    int bad = 0;
    for (std::string key : row.keys) {
      if (EndsWith(key, "=good")) {
        key.replace(key.size() - 4, 4, good);
      } else {
        key.replace(key.size() - 3, 3, "file://" + in.root / ("down" + std::to_string(++bad)) + "/");
      }
      settings.push_back(key);
    }
    in.WriteSettings(settings);

    in.Run();
    EXPECT_EQ(ReadFile(in.AppFile("alt.txt")), "from the alternative\n") << row.what;
    EXPECT_EQ(Installation::Setting("LiveUpdate.lastUpdateInfo").rfind(header, 0), 0u) << row.what;
  }
}

TEST(RunSequence, BatchFileIsStartedAfterASuccessfulRunAndDeletedAtTheNextStart) {
  Installation in;
  const std::string seen = in.root / "batch.out";
  const std::string batch = "#!/bin/sh\necho \"$0|$(pwd)\" > '" + seen + ".tmp' && mv '" + seen +
                            ".tmp' '" + seen + "'\n";
  in.site.AddUpdate("TVQ2026-01-10", {in.site.AddFile("tvqlupd.sh", batch)});
  in.WriteSettings({"LiveUpdate.www=" + in.site.FileUrl()});

  in.Run();
  EXPECT_EQ(AwaitFile(seen), "tvqlupd.sh|" + in.app + "\n");
  EXPECT_EQ(ReadFile(in.AppFile("tvqlupd.sh")), batch);

  // The next start finds nothing new and removes the batch file before it
  // chooses the site, so it is not started again.
  in.Run();
  EXPECT_FALSE(PathExists(in.AppFile("tvqlupd.sh")));
  EXPECT_EQ(Count(in.Account(), "No new updates found.\n"), 1);
}

TEST(RunSequence, AnInstallationProgramThatDoesNotStartIsAFailedRun) {
  Installation in;
  in.site.AddUpdate("TVQ2026-01-10", {in.site.AddFile("!updatesetup.bin", "no program at all\n")});
  in.WriteSettings({"LiveUpdate.www=" + in.site.FileUrl(), "LiveUpdate.installationInfo=0"});
  in.Run();
  EXPECT_EQ(Installation::Setting("LiveUpdate.lastUpdateInfo"), "<absent>");
  // The cause is the start's own: the file is no program one may run.
  EXPECT_NE(in.Account().find("installation failed: the update's installation program "
                              "\"!updatesetup.bin\" could not be started: Permission denied"),
            std::string::npos)
      << in.Account();
  EXPECT_EQ(std::count(in.display.statuses.begin(), in.display.statuses.end(),
                       "error: cannot install files"), 1);
  EXPECT_EQ(in.clock.Count(12000), 1);  // the wait of a failed run
}

TEST(RunSequence, ARecordThatCannotBeWrittenIsAFailedRunWithItsCause) {
  Installation in;
  ScratchMount disk(in.app, "size=64k");
  if (!disk.Mounted()) GTEST_SKIP() << "cannot mount a tmpfs here (needs root)";
  in.site.AddUpdate("TVQ2026-01-10", {in.site.AddFile("new.txt", "new\n")});
  in.WriteSettings({"LiveUpdate.www=" + in.site.FileUrl(), "LiveUpdate.installationInfo=0",
                    "LiveUpdate.lastUpdateInfo="});
  // One page is left: the installed file takes it, the record finds none.
  struct statvfs fs {};
  ASSERT_EQ(::statvfs(in.app.c_str(), &fs), 0);
  const std::uint64_t free = fs.f_bavail * fs.f_bsize;
  WriteFile(in.root / "app/filler", std::string(free - fs.f_bsize, 'f'));

  in.Run();
  EXPECT_EQ(ReadFile(in.AppFile("new.txt")), "new\n");
  EXPECT_EQ(Installation::Setting("LiveUpdate.lastUpdateInfo"), "");
  EXPECT_NE(in.Account().find("recording the update failed: "), std::string::npos) << in.Account();
  EXPECT_NE(in.Account().find("No space left on device"), std::string::npos) << in.Account();
  EXPECT_EQ(std::count(in.display.statuses.begin(), in.display.statuses.end(),
                       "installation completed"), 0);
  EXPECT_EQ(std::count(in.display.statuses.begin(), in.display.statuses.end(),
                       "error: the update was installed but could not be recorded"), 1);
}

TEST(RunSequence, LogFileCollectsTheAccountOfEveryRun) {
  Installation in;
  WriteFile(in.log, "kept from before\n");
  in.site.AddUpdate("TVQ2026-01-10", {in.site.AddFile("a.txt", "a\n")});
  in.WriteSettings({"LiveUpdate.www=" + in.site.FileUrl()});
  in.Run();
  const std::string first = in.Account();
  in.Run();
  const std::string both = in.Account();

  const std::string title = "This is a live update program for Kestrin software - ";
  EXPECT_EQ(first.rfind("kept from before\n", 0), 0u) << first;
  EXPECT_EQ(Count(first, title), 1);
  EXPECT_NE(first.find("downloading file \"a.txt\": 2 bytes..."), std::string::npos) << first;
  EXPECT_EQ(both.rfind(first, 0), 0u) << "the second run appends";
  const std::string second = both.substr(first.size());
  EXPECT_EQ(Count(second, title), 1);
  EXPECT_EQ(Count(second, "No new updates found.\n"), 1) << second;
}

TEST(RunSequence, PathsOfAnyScriptAreNamedWholeInTheBoxAndTheAccount) {
  // A work directory that cannot be made, below a TEMP whose name needs
  // Cyrillic, CJK and emoji letters (each a different UTF-8 lead byte).
  for (const std::string name : {"Пётр Щукин", "山田太郎の一時", "📦 обновления 🚀"}) {
    Installation in;
    // Files where the work directory belongs, in TEMP and in the cache.
    ScopedEnv tempVar{"TEMP", Made(in.root / name)};
    ScopedEnv cacheVar{"XDG_CACHE_HOME", Made(in.root / name + "/cache")};
    WriteFile(TempWorkDirectory(), "a file where the work directory belongs");
    const std::string work = CacheWorkDirectory();
    WriteFile(work, "a file where the work directory belongs");
    in.WriteSettings({"LiveUpdate.www=" + in.site.FileUrl()});

    in.Run();
    ASSERT_EQ(in.ui.texts.size(), 1u) << name;
    EXPECT_NE(in.ui.texts[0].find("cannot create directory \"" + work + "\" or cannot write"),
              std::string::npos)
        << in.ui.texts[0];
    EXPECT_NE(in.Account().find("work directory not used: \"" + TempWorkDirectory() +
                                "\" is not a directory\ncannot use the work directory \"" + work +
                                "\": \"" + work + "\" is not a directory"),
              std::string::npos)
        << in.Account();
  }
}

TEST(RunSequence, MorePendingSkipsTheFinalWaitAndRestartsTheMainApplication) {
  for (const bool more : {true, false}) {
    Installation in;
    const std::string seen = in.root / "tvq.out";
    WriteFile(in.AppFile("tvq.exe"), "#!/bin/sh\necho \"$(basename \"$0\")|$*\" > '" + seen +
                                         ".tmp' && mv '" + seen + ".tmp' '" + seen + "'\n");
    fs::permissions(in.AppFile("tvq.exe"), fs::perms(0755));
    // Another program named tvq on PATH is never the one restarted.
    const std::string decoyDir = Made(in.root / "bin");
    WriteFile(decoyDir + "/tvq", "#!/bin/sh\necho decoy > '" + seen + "'\n");
    fs::permissions(decoyDir + "/tvq", fs::perms(0755));
    ScopedEnv path{"PATH", decoyDir + ":" + os::GetEnvVar("PATH").value_or("/usr/bin:/bin")};
    std::vector<FileEntry> files = {in.site.AddFile("data.txt", "data\n")};
    if (more) files.push_back(in.site.AddFile("!more", ""));
    in.site.AddUpdate("TVQ2026-01-10", files);
    in.WriteSettings({"LiveUpdate.www=" + in.site.FileUrl()});

    in.Run();
    EXPECT_EQ(ReadFile(in.AppFile("data.txt")), "data\n") << more;
    EXPECT_FALSE(PathExists(in.AppFile("!more"))) << "a marker is consumed, not installed";
    EXPECT_EQ(in.clock.Count(6000), more ? 0 : 1) << more;
    EXPECT_EQ(in.clock.Count(12000), 0) << more;
    EXPECT_EQ(in.display.statuses.back(), "exiting...") << more;
    if (more) {
      EXPECT_EQ(AwaitFile(seen), "tvq.exe|/ExitAndLiveUpdate=on\n");
    }
  }
}

}  // namespace
