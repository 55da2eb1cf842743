#include "app/install/install.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/install_support.h"

namespace {

using Install = InstallFixture;
using Waits = std::vector<std::int64_t>;

const std::string kSorry = "Sorry, \"tvq.exe\" cannot be replaced. Update will abort.";

TEST_F(Install, CopyInUseUntilTheThirdAttemptWaits200Then5500Then9500) {
  WriteFile(W("a.dll"), "new content");
  WriteFile(App("a.dll"), "old");
  auto lock = os::FileLock::Exclusive(App("a.dll"));
  ASSERT_TRUE(lock);
  clock.onSleep = [&](std::int64_t ms) {
    if (ms == 9500) lock.reset();
  };
  EXPECT_TRUE(CopyWithRetries(W("a.dll"), "", false).ok());
  // The 50 ms waits are the second tries inside CopyFileRetry.
  EXPECT_EQ(clock.Sleeps(), (Waits{200, 50, 5500, 50, 9500}));
  EXPECT_TRUE(ui.texts.empty());
  EXPECT_EQ(ReadFile(App("a.dll")), "new content");
}

TEST_F(Install, CopyStillInUseAfterThreeAttemptsFailsWithBox) {
  WriteFile(W("a.dll"), "new content");
  WriteFile(App("a.dll"), "old");
  auto lock = os::FileLock::Exclusive(App("a.dll"));
  ASSERT_TRUE(lock);
  EXPECT_FALSE(CopyWithRetries(W("a.dll"), "a.dll", false).ok());
  EXPECT_EQ(clock.Sleeps(), (Waits{200, 50, 5500, 50, 9500, 50}));
  EXPECT_EQ(ui.texts, std::vector<std::string>{CannotCopy(W("a.dll"), "a.dll")});
  EXPECT_EQ(ReadFile(App("a.dll")), "old");
}

TEST_F(Install, CopySkipsASourceStillMissingAfter500ms) {
  struct Case {
    bool appearsDuringWait;
  } cases[] = {{false}, {true}};
  for (const auto& c : cases) {
    clock.Clear();
    std::filesystem::remove(App("aux.exe"));
    clock.onSleep = [&](std::int64_t ms) {
      if (ms == 500 && c.appearsDuringWait) WriteFile(W("aux.exe"), "aux");
    };
    EXPECT_TRUE(CopyWithRetries(W("aux.exe"), "", true).ok()) << c.appearsDuringWait;
    EXPECT_EQ(clock.Sleeps(), (Waits{200, 500})) << c.appearsDuringWait;
    EXPECT_EQ(PathExists(App("aux.exe")), c.appearsDuringWait);
  }
  EXPECT_TRUE(ui.texts.empty());
}

TEST_F(Install, CopyRefusesALinkOrADirectoryAtOnce) {
  WriteFile(outside + "/secret", "secret");
  std::filesystem::create_symlink(outside + "/secret", W("link.dll"));
  std::filesystem::create_directory(W("dir.dll"));
  for (const std::string name : {"link.dll", "dir.dll"}) {
    clock.Clear();
    ui.texts.clear();
    EXPECT_FALSE(CopyWithRetries(W(name), "", false).ok()) << name;
    EXPECT_EQ(clock.Sleeps(), (Waits{200})) << name;
    EXPECT_EQ(ui.texts, std::vector<std::string>{CannotCopy(W(name), name)});
    EXPECT_FALSE(PathExists(App(name))) << name;
  }
  EXPECT_EQ(ReadFile(outside + "/secret"), "secret");
}

TEST_F(Install, MainAppIsReplacedOnlyOnceItIsFree) {
  struct Case {
    const char* what;
    bool present;
    int lockedForWaits;  // -1: not locked
    int wantWaits;
  } cases[] = {
      {"free", true, -1, 0},
      {"in use for 5 s", true, 5, 5},
      {"in use for 29 s", true, 29, 29},
      // A missing file is looked for only from the third try on.
      {"missing", false, -1, 2},
  };
  for (const auto& c : cases) {
    clock.Clear();
    std::filesystem::remove(App("tvq.exe"));
    WriteFile(W("tvq.exe"), "new tvq");
    if (c.present) WriteFile(App("tvq.exe"), "old tvq");
    std::optional<os::FileLock> lock =
        c.lockedForWaits > 0 ? os::FileLock::Exclusive(App("tvq.exe")) : std::nullopt;
    clock.onSleep = [&](std::int64_t ms) {
      if (ms == 1000 && clock.Count(1000) == c.lockedForWaits) lock.reset();
    };
    EXPECT_TRUE(InstallWorkFiles().ok()) << c.what;
    EXPECT_EQ(clock.Count(1000), c.wantWaits) << c.what;
    EXPECT_EQ(ReadFile(App("tvq.exe")), "new tvq") << c.what;
    EXPECT_FALSE(PathExists(W("tvq.exe"))) << c.what;
  }
  EXPECT_TRUE(ui.texts.empty());
}

TEST_F(Install, MainAppInUseFor30sAbortsWithSorryAtOnce) {
  WriteFile(W("tvq.exe"), "new tvq");
  WriteFile(W("tvq.ini"), "new ini");
  WriteFile(App("tvq.exe"), "old tvq");
  auto lock = os::FileLock::Exclusive(App("tvq.exe"));
  ASSERT_TRUE(lock);
  EXPECT_FALSE(InstallWorkFiles().ok());
  EXPECT_EQ(clock.Count(1000), 30);
  EXPECT_EQ(ui.texts, std::vector<std::string>{kSorry});
  EXPECT_EQ(ReadFile(App("tvq.exe")), "old tvq");
  // No further step, status or progress after the box.
  EXPECT_FALSE(PathExists(App("tvq.ini.newversion")));
  EXPECT_EQ(display.statuses, std::vector<std::string>{"installing..."});
  EXPECT_EQ(display.percents, (std::vector<int>{96, 97}));
}

TEST_F(Install, StatusesAndProgressInTheUsersLanguage) {
  struct Case {
    char language;
    bool fails;
    std::vector<std::string> statuses;
  } cases[] = {
      // "installation completed" is the run's to say, once the update is recorded.
      {'E', false, {"installing..."}},
      {'G', false, {"das Update wird installiert..."}},
      {'F', false, {"installation en cours..."}},
      {'E', true, {"installing...", "ERROR!"}},
      {'G', true, {"das Update wird installiert...", "FEHLER!"}},
      {'F', true, {"installation en cours...", "ERREUR"}},
  };
  WriteFile(W("data.txt"), "data");
  for (const auto& c : cases) {
    RecordingDisplay rows;
    SetLanguage(c.language);
    std::filesystem::remove_all(W("sub"));
    if (c.fails) std::filesystem::create_symlink(W("data.txt"), W("sub"));
    EXPECT_EQ(InstallWorkFiles().ok(), !c.fails) << c.language << c.fails;
    EXPECT_EQ(rows.statuses, c.statuses) << c.language << c.fails;
    EXPECT_EQ(rows.percents, (std::vector<int>{96, 97, 98, 100})) << c.language << c.fails;
  }
}

TEST_F(Install, InstallsInTheFixedOrder) {
  for (const char* name : {"tvqwait.exe", "tvqlzcp.exe", "zezavo3.exe", "tvqlupd.exe", "tvq.exe",
                           "tvq.ini", "data.txt"})
    WriteFile(W(name), std::string("content of ") + name);
  // What has appeared in the application directory at the start of each copy.
  std::vector<std::set<std::string>> appeared;
  std::set<std::string> seen;
  const auto snapshot = [&] {
    std::set<std::string> now = Listing(app), fresh;
    for (const auto& n : now)
      if (!seen.count(n)) fresh.insert(n);
    seen = now;
    appeared.push_back(fresh);
  };
  clock.onSleep = [&](std::int64_t ms) {
    if (ms == 200) snapshot();
  };
  EXPECT_TRUE(InstallWorkFiles().ok());
  snapshot();
  const std::vector<std::set<std::string>> want = {
      {},                           // before tvqwait.exe
      {"tvqwait.exe"},              // before tvqlzcp.exe
      {"tvqlzcp.exe"},              // before zezavo3.exe
      {"zezavo3.exe"},              // before the updater's new version
      {"tvqlupd.exe.newversion"},   // before tvq.exe
      {"tvq.exe"},                  // before tvq.ini
      {"tvq.ini.newversion", "data.txt"},  // the bulk copy
  };
  EXPECT_EQ(appeared, want);
  // Set aside and installed files leave the work directory; the bulk copy
  // brings the auxiliary programs in once more and leaves them there.
  EXPECT_EQ(Listing(work), (std::set<std::string>{"tvqwait.exe", "tvqlzcp.exe", "zezavo3.exe",
                                                  "data.txt"}));
  EXPECT_FALSE(PathExists(App("tvq.ini")));
  EXPECT_FALSE(PathExists(App("tvqlupd.exe")));
}

TEST_F(Install, UpdaterAndSettingsAreSetAsideNotReplaced) {
  WriteFile(W("tvqlupd.exe"), "new updater");
  WriteFile(W("tvq.ini"), "new ini");
  WriteFile(App("tvqlupd"), "running updater");
  WriteFile(App("tvq.ini"), "user's ini");
  EXPECT_TRUE(InstallWorkFiles().ok());
  EXPECT_EQ(ReadFile(App("tvqlupd.exe.newversion")), "new updater");
  EXPECT_EQ(ReadFile(App("tvq.ini.newversion")), "new ini");
  EXPECT_EQ(ReadFile(App("tvqlupd")), "running updater");
  EXPECT_EQ(ReadFile(App("tvq.ini")), "user's ini");
}

TEST_F(Install, AFileTheBulkCopyCannotPlaceFailsTheInstallation) {
  WriteFile(W("data.bin"), "data");
  WriteFile(W("other.txt"), "other");
  std::filesystem::create_directory(App("data.bin"));
  EXPECT_FALSE(InstallWorkFiles().ok());
  EXPECT_EQ(ui.texts, std::vector<std::string>{CannotCopy(W("data.bin"), "data.bin")});
  EXPECT_EQ(ReadFile(App("other.txt")), "other");
}

TEST_F(Install, WithoutMethodFileTheBuiltInInstallationRuns) {
  WriteFile(W("data.txt"), "data");
  for (const std::string method : {"", "!update-missing.exe"}) {
    RunContext context;
    context.methodFile = method;
    context.verifiedFiles = {"data.txt"};
    std::filesystem::remove(App("data.txt"));
    EXPECT_TRUE(InstallOrRunMethod(context).ok()) << method;
    EXPECT_EQ(ReadFile(App("data.txt")), "data") << method;
  }
}

}  // namespace
