// The installation with real files, real .ex_ files made by mscompress, a
// real running main application and real started programs.
#include "app/install/install.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "support/fs_faults.h"
#include "support/install_support.h"
#include "support/process_runner.h"

namespace {

namespace fs = std::filesystem;
using Install = InstallFixture;

const std::string kSorry = "Sorry, \"tvq.exe\" cannot be replaced. Update will abort.";

int Shell(const std::string& command) { return std::system(command.c_str()); }

// Deterministic program-like content: a 4-byte head, then text and bytes.
std::string Content(std::size_t size, const std::string& head = "\x7f" "ELF") {
  std::string s = head;
  for (unsigned i = 0; s.size() < size; ++i)
    s += "line " + std::to_string(i) + " " + std::string(1, static_cast<char>(i * 37)) + "\n";
  s.resize(size);
  return s;
}

// An .ex_ file made by mscompress (which wants 16 bytes or more and names its
// output by appending '_').
void MakeSzdd(const std::string& content, const std::string& packedPath, const ScratchDir& scratch) {
  const std::string plain = scratch / "plain";
  WriteFile(plain, content);
  fs::remove(plain + "_");
  ASSERT_EQ(Shell("mscompress '" + plain + "' >/dev/null 2>&1"), 0);
  fs::rename(plain + "_", packedPath);
}

// A shell script that records its own name and arguments as
// "tag|name|arguments" in out (written whole, then renamed).
std::string Script(const std::string& tag, const std::string& out) {
  return "#!/bin/sh\necho \"" + tag + "|$(basename \"$0\")|$*\" > '" + out + ".tmp' && mv '" + out +
         ".tmp' '" + out + "'\n";
}

void WriteProgram(const std::string& path, const std::string& content) {
  WriteFile(path, content);
  fs::permissions(path, fs::perms(0755));
}

// Whether the program at path was started: it runs now, or it has written
// the file it writes (looked at in this order, so none slips between).
bool WasStarted(const std::string& path, const std::string& writes) {
  return ProgramRunning(path) || PathExists(writes);
}

// A program started in the background from dir, ended by its process id.
class Running {
 public:
  Running(const std::string& dir, const std::string& command, const ScratchDir& scratch) {
    const std::string pidFile = scratch / "pid";
    Shell("cd '" + dir + "' || exit 1; " + command + " >/dev/null 2>&1 & echo $! > '" + pidFile +
          "'");
    pid_ = std::atol(ReadFile(pidFile).c_str());
  }
  ~Running() {
    if (pid_ > 0) Shell("kill " + std::to_string(pid_) + " 2>/dev/null");
  }
  long pid() const { return pid_; }

 private:
  long pid_ = 0;
};

// Waits until the executable is running (cannot be opened for writing).
bool AwaitInUse(const std::string& path) {
  for (int i = 0; i < 250; ++i) {
    if (!os::CanOpen(path, true).ok()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

// The system clock, counting the sleeps it is asked for.
class CountingClock : public os::Clock {
 public:
  CountingClock() { os::SetClock(this); }
  ~CountingClock() override { os::SetClock(nullptr); }
  std::int64_t NowMs() override { return os::SystemClock().NowMs(); }
  void SleepMs(std::int64_t ms) override {
    if (ms == 1000) ++seconds;
    os::SystemClock().SleepMs(ms);
  }
  int seconds = 0;
};

// Makes a directory unwritable, even for root (immutable attribute) or by its
// permission bits; undone when the object goes.
class ReadOnlyDir {
 public:
  explicit ReadOnlyDir(std::string path) : path_(std::move(path)) {}
  ~ReadOnlyDir() { Undo(); }
  bool Make() {
    made_ = true;
    fs::permissions(path_, fs::perms(0555));
    Shell("chattr +i '" + path_ + "' 2>/dev/null");
    const std::string probe = path_ + "/probe";
    const bool writable = static_cast<bool>(std::ofstream(probe));
    fs::remove(probe);
    return !writable;
  }
  void Undo() {
    if (!made_) return;
    Shell("chattr -i '" + path_ + "' 2>/dev/null");
    fs::permissions(path_, fs::perms(0755));
    made_ = false;
  }

 private:
  std::string path_;
  bool made_ = false;
};

TEST_F(Install, LzExpandRestoresWhatMscompressPacked) {
  ScratchDir scratch;
  for (std::size_t size : {16, 17, 4096, 300000}) {
    const std::string original = Content(size);
    MakeSzdd(original, W("x.ex_"), scratch);
    ASSERT_NE(ReadFile(W("x.ex_")), original) << size;
    fs::remove(W("x.exe"));
    EXPECT_TRUE(LzExpand(W("x.ex_"), W("x.exe"))) << size;
    EXPECT_EQ(ReadFile(W("x.exe")), original) << size;
  }
  // A program stays a program.
  EXPECT_NE(fs::status(W("x.exe")).permissions() & fs::perms::owner_exec, fs::perms::none);
  EXPECT_EQ(Listing(work), (std::set<std::string>{"x.ex_", "x.exe"}));
}

TEST_F(Install, LzExpandRejectsDamagedStreamsAndLeavesNoTarget) {
  ScratchDir scratch;
  MakeSzdd(Content(100000), scratch / "good.ex_", scratch);
  const std::string good = ReadFile(scratch / "good.ex_");
  std::string shorter = good, longer = good + std::string(64, '\xff');
  shorter.resize(good.size() / 2);
  std::string wrongLength = good;
  wrongLength[10] = static_cast<char>(wrongLength[10] + 1);  // length field, low byte
  const struct {
    const char* what;
    std::string packed;
  } cases[] = {{"truncated", shorter}, {"over-long", longer}, {"length off by one", wrongLength}};
  for (const auto& c : cases) {
    WriteFile(W("tvq.ex_"), c.packed);
    EXPECT_FALSE(LzExpand(W("tvq.ex_"), W("tvq.exe"))) << c.what;
    EXPECT_EQ(Listing(work), std::set<std::string>{"tvq.ex_"}) << c.what;
  }
}

TEST_F(Install, LzExpandCopiesAFileThatIsNotSzddUnchanged) {
  const std::string cases[] = {
      "", "abc", "SZDD", std::string("SZDD\x88\xf0\x27", 7) + "X rest of the file",
      std::string("SZ\x88\xf0\x27\x33\xd1", 7) + "QBasic signature", Content(700000)};
  for (const auto& content : cases) {
    WriteFile(W("plain.ex_"), content);
    fs::remove(W("plain.exe"));
    EXPECT_TRUE(LzExpand(W("plain.ex_"), W("plain.exe"))) << content.size();
    EXPECT_EQ(ReadFile(W("plain.exe")), content) << content.size();
  }
}

TEST_F(Install, LzExpandNeverReadsThroughALinkOrAMissingFile) {
  ScratchDir scratch;
  MakeSzdd(Content(1000), outside + "/real.ex_", scratch);
  fs::create_symlink(outside + "/real.ex_", W("link.ex_"));
  for (const std::string name : {"link.ex_", "missing.ex_"}) {
    EXPECT_FALSE(LzExpand(W(name), W("out.exe"))) << name;
    EXPECT_FALSE(PathExists(W("out.exe"))) << name;
  }
}

TEST_F(Install, ExpandsPacksSetsAsideAndCopiesAWholeUpdate) {
  ScratchDir scratch;
  const std::string mainApp = Content(50000), updater = Content(30000), exec = Content(20000);
  MakeSzdd(mainApp, W("tvq.ex_"), scratch);
  MakeSzdd(updater, W("tvqlupd.ex_"), scratch);
  WriteFile(W("tvqExec.ex_"), exec);  // not compressed: copied unchanged
  WriteFile(W("tvq.ini"), "[new]\n");
  WriteFile(W("tvqwait.exe"), Content(1000));
  WriteFile(W("readme.txt"), "read me");
  WriteProgram(App("tvq.exe"), "old main application");
  WriteProgram(App("tvqlupd"), "the running updater");
  WriteFile(App("tvq.ini"), "[user]\n");

  EXPECT_TRUE(InstallWorkFiles().ok());
  EXPECT_TRUE(ui.texts.empty());
  EXPECT_EQ(ReadFile(App("tvq.exe")), mainApp);
  EXPECT_EQ(ReadFile(App("tvqlupd.exe.newversion")), updater);
  EXPECT_EQ(ReadFile(App("tvqExec.exe")), exec);
  EXPECT_EQ(ReadFile(App("tvq.ini.newversion")), "[new]\n");
  EXPECT_EQ(ReadFile(App("tvq.ini")), "[user]\n");
  EXPECT_EQ(ReadFile(App("tvqlupd")), "the running updater");
  EXPECT_EQ(ReadFile(App("readme.txt")), "read me");
  EXPECT_EQ(Listing(app), (std::set<std::string>{"tvq.exe", "tvqlupd", "tvqlupd.exe.newversion",
                                                 "tvqExec.exe", "tvq.ini", "tvq.ini.newversion",
                                                 "tvqwait.exe", "readme.txt"}));
  EXPECT_EQ(Listing(work), (std::set<std::string>{"tvqwait.exe", "tvqExec.exe", "readme.txt"}));
  EXPECT_NE(fs::status(App("tvq.exe")).permissions() & fs::perms::owner_exec, fs::perms::none);
}

TEST_F(Install, ATruncatedPackedMainAppIsNeverInstalled) {
  ScratchDir scratch;
  MakeSzdd(Content(80000), scratch / "tvq.ex_", scratch);
  std::string packed = ReadFile(scratch / "tvq.ex_");
  packed.resize(packed.size() - 100);
  WriteFile(W("tvq.ex_"), packed);
  WriteProgram(App("tvq.exe"), "old main application");

  EXPECT_FALSE(InstallWorkFiles().ok());
  EXPECT_EQ(ui.texts, std::vector<std::string>{CannotCopy(W("tvq.ex_"), W("tvq.exe"))});
  EXPECT_EQ(ReadFile(App("tvq.exe")), "old main application");
  EXPECT_TRUE(Listing(work).empty());
  EXPECT_EQ(display.statuses.back(), "ERROR!");
}

TEST_F(Install, RunningMainAppIsReplacedOnceItEnds) {
  ScratchDir scratch;
  fs::copy_file("/bin/sleep", App("tvq.exe"));
  fs::permissions(App("tvq.exe"), fs::perms(0755));
  WriteFile(W("tvq.exe"), Content(40000));
  os::SetClock(nullptr);
  CountingClock realClock;
  Running running(app, "./tvq.exe 6", scratch);
  ASSERT_TRUE(AwaitInUse(App("tvq.exe")));

  EXPECT_TRUE(InstallWorkFiles().ok());
  EXPECT_GE(realClock.seconds, 2);
  EXPECT_LT(realClock.seconds, 30);
  EXPECT_EQ(ReadFile(App("tvq.exe")), Content(40000));
  EXPECT_TRUE(ui.texts.empty());
}

TEST_F(Install, MainAppRunningPast30sAbortsWithSorry) {
  ScratchDir scratch;
  fs::copy_file("/bin/sleep", App("tvq.exe"));
  fs::permissions(App("tvq.exe"), fs::perms(0755));
  WriteFile(W("tvq.exe"), Content(40000));
  Running running(app, "./tvq.exe 120", scratch);
  ASSERT_TRUE(AwaitInUse(App("tvq.exe")));

  EXPECT_FALSE(InstallWorkFiles().ok());
  EXPECT_EQ(clock.Count(1000), 30);
  EXPECT_EQ(ui.texts, std::vector<std::string>{kSorry});
  EXPECT_TRUE(FilesEqual(App("tvq.exe"), "/bin/sleep"));
}

// Cancel during a wait of the installation stops it there: the copy it
// waited to try again is not tried, no later step begins, no box is shown,
// and every file is whole, old or new. Each case holds one target in use
// and cancels at the n-th wait of the given length.
TEST_F(Install, CancelDuringAWaitStopsTheInstallationBeforeItsNextStep) {
  const struct {
    const char* held;
    std::int64_t waitMs;
    int nth;
    std::set<std::string> installed;
  } cases[] = {
      {"tvqwait.exe", 5500, 1, {}},                      // a helper's second attempt
      {"tvq.exe", 1000, 2, {"tvqwait.exe"}},             // the wait for the main application
      // The bulk copy's second attempt, after four waits for missing helpers.
      {"notes.txt", 500, 5, {"tvqwait.exe", "tvq.exe"}},
  };
  for (const auto& c : cases) {
    const std::vector<std::string> names = {"tvqwait.exe", "tvq.exe", "readme.txt", "notes.txt"};
    for (const std::string& name : names) {
      WriteFile(W(name), "new " + name);
      WriteFile(App(name), "old " + name);
    }
    ResetCancelForTests();
    clock.Clear();
    auto lock = os::FileLock::Exclusive(App(c.held));
    ASSERT_TRUE(lock) << c.held;
    int seen = 0;
    clock.onSleep = [&](std::int64_t ms) {
      if (ms == c.waitMs && ++seen == c.nth) RequestCancel();
    };
    const Status installed = InstallWorkFiles();
    EXPECT_EQ(installed.message(), "stopped by Cancel") << c.held;
    EXPECT_EQ(clock.Sleeps().back(), c.waitMs) << c.held;
    EXPECT_TRUE(ui.texts.empty()) << c.held;
    for (const std::string& name : names)
      EXPECT_EQ(ReadFile(App(name)), (c.installed.count(name) ? "new " : "old ") + name) << c.held;
    EXPECT_EQ(Listing(app), (std::set<std::string>(names.begin(), names.end()))) << c.held;
  }
}

TEST_F(Install, StartsTheWaitProgramAndRestartsTheMainAppWhenMorePending) {
  const struct {
    bool more, fails;
    bool wantWait, wantRestart;
  } cases[] = {
      {true, false, true, true},
      {false, false, false, false},
      {true, true, true, false},  // a failed installation does not restart
  };
  for (const auto& c : cases) {
    ScratchDir obs;
    WriteProgram(App("tvquwait.exe"), Script("wait", obs / "wait.txt"));
    WriteFile(W("tvq.exe"), Script("new", obs / "tvq.txt"));
    fs::remove_all(W("sub"));
    if (c.more) WriteFile(W("!more"), "");
    if (c.fails) fs::create_symlink(W("tvq.exe"), W("sub"));

    EXPECT_EQ(InstallWorkFiles().ok(), !c.fails);
    if (c.wantWait) {
      EXPECT_EQ(AwaitFile(obs / "wait.txt"), "wait|tvquwait.exe|\n");
    }
    if (c.wantRestart) {
      EXPECT_EQ(AwaitFile(obs / "tvq.txt"), "new|tvq.exe|/ExitAndLiveUpdate=on\n");
    }
    // A program is started only once it runs, so one that was started is
    // running now or has written its file; one never started has done neither.
    EXPECT_EQ(WasStarted(App("tvquwait.exe"), obs / "wait.txt"), c.wantWait) << c.more << c.fails;
    EXPECT_EQ(WasStarted(App("tvq.exe"), obs / "tvq.txt"), c.wantRestart) << c.more << c.fails;
  }
}

TEST_F(Install, NewWaitProgramIsInPlaceBeforeItIsStarted) {
  ScratchDir obs;
  WriteProgram(App("tvquwait.exe"), Script("old", obs / "wait.txt"));
  WriteProgram(W("tvquwait.exe"), Script("new", obs / "wait.txt"));
  WriteFile(W("!more"), "");
  EXPECT_TRUE(InstallWorkFiles().ok());
  EXPECT_EQ(AwaitFile(obs / "wait.txt"), "new|tvquwait.exe|\n");
}

TEST_F(Install, MethodFileIsStartedInsteadOfTheBuiltInInstallation) {
  const struct {
    bool withExec, more;
    std::string want;  // "tag|started name|arguments"
  } cases[] = {
      {true, true, "exec|TVQEXEC~.exe|@ +"},
      {true, false, "exec|TVQEXEC~.exe|@"},
      {false, true, "method|!updatesetup.exe|+"},
      {false, false, "method|!updatesetup.exe|"},
  };
  for (const auto& c : cases) {
    ScratchDir obs;
    RecordingDisplay rows;
    for (const char* name : {"TVQEXEC.exe", "TVQEXEC.ini", "TVQEXEC~.exe", "TVQEXEC~.ini"})
      fs::remove(App(name));
    WriteProgram(W("!updatesetup.exe"), Script("method", obs / "started.txt"));
    WriteFile(W("data.txt"), "data");
    if (c.more) WriteFile(W("!more"), "");
    if (c.withExec) {
      WriteProgram(App("TVQEXEC.exe"), Script("exec", obs / "started.txt"));
      WriteFile(App("TVQEXEC.ini"), "exec settings");
    }
    RunContext context;
    context.methodFile = "!updatesetup.exe";

    EXPECT_TRUE(InstallOrRunMethod(context).ok());
    std::string want = c.want;
    if (const auto at = want.find('@'); at != std::string::npos)
      want.replace(at, 1, W("!updatesetup.exe"));
    EXPECT_EQ(AwaitFile(obs / "started.txt"), want + "\n");
    EXPECT_EQ(PathExists(App("TVQEXEC~.exe")), c.withExec);
    if (c.withExec) {
      EXPECT_EQ(ReadFile(App("TVQEXEC~.exe")), ReadFile(App("TVQEXEC.exe")));
      EXPECT_EQ(ReadFile(App("TVQEXEC~.ini")), "exec settings");
    }
    EXPECT_FALSE(PathExists(App("data.txt")));
    EXPECT_EQ(rows.percents, std::vector<int>{100});
    EXPECT_TRUE(rows.statuses.empty());
  }
}

TEST_F(Install, AppDirectoryTurningReadOnlyFailsEveryLaterCopy) {
  ScratchDir scratch;
  {
    ReadOnlyDir probe(scratch.path());
    if (!probe.Make()) GTEST_SKIP() << "no way to make a directory read-only here";
  }
  for (const char* name : {"tvqwait.exe", "tvqlzcp.exe", "tvq.ini", "data.txt"})
    WriteFile(W(name), Content(5000, name));
  ReadOnlyDir readOnly(app);
  int copies = 0;
  clock.onSleep = [&](std::int64_t ms) {
    if (ms == 200 && ++copies == 2) readOnly.Make();
  };
  const auto outsideBefore = Listing(root.path());

  EXPECT_FALSE(InstallWorkFiles().ok());
  readOnly.Undo();
  EXPECT_EQ(Listing(app), std::set<std::string>{"tvqwait.exe"});
  EXPECT_EQ(ReadFile(App("tvqwait.exe")), Content(5000, "tvqwait.exe"));
  const std::set<std::string> boxes(ui.texts.begin(), ui.texts.end());
  EXPECT_EQ(boxes, (std::set<std::string>{CannotCopy(W("tvqlzcp.exe"), "tvqlzcp.exe"),
                                          CannotCopy(W("tvq.ini"), "tvq.ini.newversion"),
                                          CannotCopy(W("data.txt"), "data.txt")}));
  EXPECT_EQ(Listing(root.path()), outsideBefore);
}

TEST_F(Install, ASourceVanishingDuringItsCopyIsAFailedCopy) {
  const std::int64_t size = 64 << 20;
  WriteFile(W("tvq.ini"), Content(size, "[ini]"));
  std::atomic<bool> stop{false};
  std::thread remover([&] {
    while (!stop) {
      if (!Listing(app).empty()) {
        fs::remove(W("tvq.ini"));
        return;
      }
      std::this_thread::yield();
    }
  });
  const bool result = InstallWorkFiles().ok();
  stop = true;
  remover.join();

  EXPECT_FALSE(result);
  EXPECT_EQ(ui.texts, std::vector<std::string>{CannotCopy(W("tvq.ini"), "tvq.ini.newversion")});
  // Whatever stays is the whole copy, never a piece of it, and no temporary file.
  for (const auto& name : Listing(app)) {
    EXPECT_EQ(name, "tvq.ini.newversion");
    EXPECT_EQ(static_cast<std::int64_t>(fs::file_size(App(name))), size);
  }
}

TEST_F(Install, LinksFailAndDirectoriesArePassedOverNeverFollowed) {
  WriteFile(outside + "/secret", "secret");
  fs::create_directory(W("sub"));
  WriteFile(W("sub/inner.txt"), "inner");
  fs::create_symlink(outside + "/secret", W("link.txt"));
  fs::create_symlink(outside, W("linkdir"));
  fs::create_symlink(outside + "/secret", W("tvq.ini"));
  WriteFile(W("good.txt"), "good");
  const auto outsideBefore = Listing(outside);

  EXPECT_FALSE(InstallWorkFiles().ok());
  const std::set<std::string> boxes(ui.texts.begin(), ui.texts.end());
  // The directory is passed over; every link is a failed copy.
  EXPECT_EQ(boxes, (std::set<std::string>{CannotCopy(W("link.txt"), "link.txt"),
                                          CannotCopy(W("linkdir"), "linkdir"),
                                          CannotCopy(W("tvq.ini"), "tvq.ini.newversion")}));
  EXPECT_EQ(Listing(app), std::set<std::string>{"good.txt"});
  EXPECT_EQ(Listing(outside), outsideBefore);
  EXPECT_EQ(ReadFile(outside + "/secret"), "secret");
}

// ------------------------------------------------ nothing deleted before it is replaced

TEST_F(Install, MainAppIsNeverAbsentWhileItIsWaitedForAndReplaced) {
  WriteProgram(App("tvq.exe"), "old main application");
  WriteFile(W("tvq.exe"), Content(40000));
  auto lock = os::FileLock::Exclusive(App("tvq.exe"));
  ASSERT_TRUE(lock);
  // Every wait of the installation looks at the application directory: the
  // lock goes after three seconds, and tvq.exe must be there throughout.
  int absent = 0;
  clock.onSleep = [&](std::int64_t) {
    if (!PathExists(App("tvq.exe"))) ++absent;
    if (clock.Count(1000) == 3) lock.reset();
  };
  EXPECT_TRUE(InstallWorkFiles().ok());
  EXPECT_EQ(absent, 0);
  EXPECT_EQ(clock.Count(1000), 3);
  EXPECT_EQ(ReadFile(App("tvq.exe")), Content(40000));
}

TEST_F(Install, MainAppStaysWholeWhenItsReplacementDoesNotFit) {
  ScratchMount disk(app, "size=64k");
  if (!disk.Mounted()) GTEST_SKIP() << "cannot mount a tmpfs here (needs root)";
  ASSERT_TRUE(os::ChangeDirectory(app));  // into the mounted file system
  WriteProgram(App("tvq.exe"), Content(30000));
  WriteFile(W("tvq.exe"), Content(100000, "#!/bin/sh\n"));
  WriteFile(W("readme.txt"), "small");

  const Status installed = InstallWorkFiles();
  EXPECT_FALSE(installed.ok());
  EXPECT_EQ(ReadFile(App("tvq.exe")), Content(30000));
  EXPECT_NE(fs::status(App("tvq.exe")).permissions() & fs::perms::owner_exec, fs::perms::none);
  EXPECT_EQ(ui.texts.front(), CannotCopy(W("tvq.exe"), "tvq.exe"));
  EXPECT_NE(installed.message().find("No space left on device"), std::string::npos)
      << installed.message();
  // No temporary file is left beside it.
  for (const std::string& name : Listing(app)) EXPECT_FALSE(IsCopyLeftover(name)) << name;
}

TEST_F(Install, OnlyTheVerifiedFilesAreInstalledNeverAPackedOne) {
  // The work directory turns read-only: the packed main application can be
  // neither expanded nor removed there, and a file of some other run lies
  // beside the verified one.
  ScratchMount disk(work, "size=1m");
  if (!disk.Mounted()) GTEST_SKIP() << "cannot mount a tmpfs here (needs root)";
  ScratchDir scratch;
  MakeSzdd(Content(5000), scratch / "tvq.ex_", scratch);
  fs::copy_file(scratch / "tvq.ex_", W("tvq.ex_"));
  WriteFile(W("listed.txt"), "listed");
  WriteFile(W("stray.txt"), "not part of this update");
  WriteProgram(App("tvq.exe"), "old main application");
  ASSERT_TRUE(disk.MakeReadOnly());

  RunContext context;
  context.verifiedFiles = {"tvq.ex_", "listed.txt"};
  const Status installed = InstallUpdate(context);
  EXPECT_FALSE(installed.ok());
  EXPECT_EQ(Listing(app), (std::set<std::string>{"listed.txt", "tvq.exe"}));
  EXPECT_EQ(ReadFile(App("tvq.exe")), "old main application");
  EXPECT_NE(installed.message().find("Read-only file system"), std::string::npos)
      << installed.message();
}

TEST_F(Install, AnExpansionThatDoesNotFitNamesTheFullDisk) {
  ScratchMount disk(work, "size=64k");
  if (!disk.Mounted()) GTEST_SKIP() << "cannot mount a tmpfs here (needs root)";
  ScratchDir scratch;
  MakeSzdd(std::string(300000, 'x'), scratch / "tvq.ex_", scratch);  // packs to a few KiB
  fs::copy_file(scratch / "tvq.ex_", W("tvq.ex_"));
  WriteProgram(App("tvq.exe"), "old main application");

  RunContext context;
  context.verifiedFiles = {"tvq.ex_"};
  const Status installed = InstallUpdate(context);
  EXPECT_FALSE(installed.ok());
  EXPECT_NE(installed.message().find("No space left on device"), std::string::npos)
      << installed.message();
  EXPECT_EQ(ReadFile(App("tvq.exe")), "old main application");
}

TEST_F(Install, RunningUpdaterUnderItsOwnNameIsRenamedOver) {
  ScratchDir scratch;
  fs::copy_file("/bin/sleep", App("tvqlupd"));
  fs::permissions(App("tvqlupd"), fs::perms(0755));
  os::SetExecutablePathForTests(App("tvqlupd"));
  Running running(app, "./tvqlupd 60", scratch);
  ASSERT_TRUE(AwaitInUse(App("tvqlupd")));
  WriteFile(W("tvqlupd"), Content(20000));
  WriteFile(W("readme.txt"), "read me");

  const Status installed = InstallWorkFiles();
  os::SetExecutablePathForTests("");
  EXPECT_TRUE(installed.ok()) << installed.message();
  EXPECT_TRUE(ui.texts.empty());
  EXPECT_EQ(ReadFile(App("tvqlupd")), Content(20000));
  EXPECT_EQ(ReadFile(App("readme.txt")), "read me");
  EXPECT_FALSE(PathExists(W("tvqlupd")));
  EXPECT_NE(fs::status(App("tvqlupd")).permissions() & fs::perms::owner_exec, fs::perms::none);
}

TEST_F(Install, CopyLeftoversAreRecognisedAndOnlyTheyAreRemoved) {
  const std::vector<std::string> leftovers = {".tvq.exe.tvq123456.tmp", ".a.tvq1.tmp"};
  const std::vector<std::string> others = {"a.tvq1.tmp", ".a.tvqx.tmp", ".a.tvq12.tmp.bak",
                                           ".tvq1.tmp", ".user.tmp", "tvq.exe"};
  for (const auto& name : leftovers) WriteFile(App(name), "x");
  for (const auto& name : others) WriteFile(App(name), "x");
  fs::create_directory(App(".d.tvq1.tmp"));
  EXPECT_EQ(RemoveCopyLeftovers(app), 2);
  for (const auto& name : leftovers) EXPECT_FALSE(PathExists(App(name))) << name;
  for (const auto& name : others) EXPECT_TRUE(PathExists(App(name))) << name;
  EXPECT_TRUE(fs::is_directory(App(".d.tvq1.tmp")));
}

}  // namespace
