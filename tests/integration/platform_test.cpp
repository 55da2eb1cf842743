// The Linux backend against real files, directories and processes.
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/os.h"
#include "support/file_user.h"
#include "support/fs_faults.h"
#include "support/process_runner.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

void WriteScript(const std::string& path, const std::string& body) {
  WriteFile(path, "#!/bin/sh\n" + body);
  ::chmod(path.c_str(), 0755);
}

char ProcessState(int pid) {
  const std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
  const auto close = stat.rfind(')');
  return close == std::string::npos || close + 2 >= stat.size() ? 0 : stat[close + 2];
}

}  // namespace

// ------------------------------------------------------------------- files

TEST(Platform, FileWritesReadsSeeksAndSizes) {
  ScratchDir dir;
  const std::string path = dir / "f.bin";
  {
    auto f = os::File::Open(path, os::OpenFor::CreateTruncate);
    ASSERT_TRUE(f);
    EXPECT_TRUE(f->Write("hello world", 11).ok());
    EXPECT_TRUE(f->Sync().ok());
    EXPECT_EQ(f->Size(), 11);
    EXPECT_TRUE(f->Close().ok());
    EXPECT_FALSE(f->IsOpen());
  }
  auto f = os::File::Open(path, os::OpenFor::Read);
  ASSERT_TRUE(f);
  char buf[16] = {};
  EXPECT_TRUE(f->Seek(6).ok());
  EXPECT_EQ(f->Read(buf, sizeof buf).value_or(-1), 5);
  EXPECT_EQ(std::string(buf, 5), "world");
  EXPECT_EQ(f->Position(), 11);
  EXPECT_EQ(f->Read(buf, sizeof buf).value_or(-1), 0);
  EXPECT_FALSE(f->Write("x", 1).ok());  // read-only
  EXPECT_FALSE(f->Seek(-1).ok());
}

namespace {
// Copies all of source into target with CopyFrom in blocks of size bytes.
std::string CopyAll(os::File& source, os::File& target, std::size_t size) {
  std::vector<char> buffer(size);
  StatusOr<std::int64_t> n = std::int64_t{0};
  while ((n = target.CopyFrom(source, buffer.data(), size)).ok() && *n > 0) {
  }
  return n.ok() ? "ok" : "error";
}
}  // namespace

TEST(Platform, CopyFromCopiesInsideTheKernelOrThroughTheBuffer) {
  ScratchDir dir;
  std::string content(300000, '\0');
  for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 7 + i / 251);
  WriteFile(dir / "src", content);
  WriteFile(dir / "log", "head:");
  {
    auto src = os::File::Open(dir / "src", os::OpenFor::Read);
    auto dst = os::File::Open(dir / "dst", os::OpenFor::CreateNew);
    ASSERT_TRUE(src && dst);
    EXPECT_EQ(CopyAll(*src, *dst, 4096), "ok");
    dst->BeginSync(0, 300000);  // a hint; the content must stay the same
  }
  EXPECT_EQ(ReadFile(dir / "dst"), content);
  {
    // An appending target refuses the kernel copy: the buffer serves.
    auto src = os::File::Open(dir / "src", os::OpenFor::Read);
    auto log = os::File::Open(dir / "log", os::OpenFor::Append);
    ASSERT_TRUE(src && log);
    EXPECT_EQ(CopyAll(*src, *log, 65536), "ok");
  }
  EXPECT_EQ(ReadFile(dir / "log"), "head:" + content);
  {
    // A kernel file that reports size 0 still has content.
    auto status = os::File::Open("/proc/self/status", os::OpenFor::Read);
    auto dst = os::File::Open(dir / "status", os::OpenFor::CreateNew);
    ASSERT_TRUE(status && dst);
    EXPECT_EQ(CopyAll(*status, *dst, 65536), "ok");
  }
  EXPECT_NE(ReadFile(dir / "status").find("Pid:"), std::string::npos);
  os::File closed;
  char b[4];
  EXPECT_FALSE(closed.CopyFrom(closed, b, sizeof b).ok());
}

TEST(Platform, FileAppendCreatesAndAppends) {
  ScratchDir dir;
  const std::string path = dir / "log";
  for (const char* part : {"a", "b"}) {
    auto f = os::File::Open(path, os::OpenFor::Append);
    ASSERT_TRUE(f);
    EXPECT_TRUE(f->Write(part, 1).ok());
  }
  EXPECT_EQ(ReadFile(path), "ab");
}

TEST(Platform, FileOpenRefusesDirectoryAndMissingFile) {
  ScratchDir dir;
  EXPECT_FALSE(os::File::Open(dir.path(), os::OpenFor::Read));
  EXPECT_FALSE(os::File::Open(dir / "missing", os::OpenFor::Read));
  EXPECT_FALSE(os::File::Open(dir / "no/such/dir/f", os::OpenFor::CreateTruncate));
}

TEST(Platform, ReadingOpensOrdinaryFilesOnlyAndNeverBlocks) {
  // A named pipe without a writer would block an open for reading for ever.
  ScratchDir dir;
  ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);
  EXPECT_FALSE(os::File::Open(dir / "pipe", os::OpenFor::Read));
  EXPECT_FALSE(os::File::Open("/dev/zero", os::OpenFor::Read));
  WriteFile(dir / "plain", "plain");
  auto file = os::File::Open(dir / "plain", os::OpenFor::Read);
  ASSERT_TRUE(file);
  char buffer[8];
  EXPECT_EQ(file->Read(buffer, sizeof buffer).value_or(-1), 5);  // blocking reads again
}

TEST(Platform, RunLockIsAPrivateFileThatOneHolderHoldsAndNoReaderOrLinkCanOpen) {
  ScratchDir dir;
  fs::permissions(dir.path(), fs::perms(0755));
  const std::string file = dir / "app.lock";
  WriteFile(file, "");
  ::chmod(file.c_str(), 0644);  // any reader could open it until the first run
  std::optional<os::RunLock> first(os::RunLock::Acquire(file));
  EXPECT_EQ(first->state(), os::RunLock::State::Held) << first->cause();
  EXPECT_EQ(fs::status(file).permissions(), fs::perms(0600));
  EXPECT_EQ(os::RunLock::Acquire(file).state(), os::RunLock::State::Busy);
  first.reset();
  EXPECT_EQ(os::RunLock::Acquire(file).state(), os::RunLock::State::Held);
  fs::create_symlink(file, dir / "link");
  EXPECT_EQ(os::RunLock::Acquire(dir / "link").cause(), "\"" + dir / "link" + "\" is a link");
  AsUnprivileged reader;
  if (!reader.Effective()) GTEST_SKIP() << "permission bits do not apply";
  for (const std::string& lock : {file, dir / "new.lock"})
    EXPECT_EQ(os::RunLock::Acquire(lock).state(), os::RunLock::State::Denied) << lock;
}

TEST(Platform, RunLockOfAKilledHolderNeverBlocks) {
  ScratchDir dir;
  const std::string file = dir / "app.lock";
  ProcessOptions holder;
  // -o: the lock stays with flock itself, not with the command it starts.
  holder.argv = {"/usr/bin/flock", "-o", "-x", file, "sleep", "60"};
  RunningProcess running(holder);
  for (int i = 0; i < 200 && os::RunLock::Acquire(file).state() == os::RunLock::State::Held; ++i)
    os::SleepMs(20);
  EXPECT_EQ(os::RunLock::Acquire(file).state(), os::RunLock::State::Busy);
  running.Signal(SIGKILL);
  running.Wait();
  EXPECT_EQ(os::RunLock::Acquire(file).state(), os::RunLock::State::Held);
}

TEST(Platform, PrivateDirectoryIsThisAccountsOwnOrNamesWhyNot) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to give a directory to another account";
  ScratchDir dir;
  fs::create_directory(dir / "open");
  fs::permissions(dir / "open", fs::perms(0777));
  fs::create_directory(dir / "theirs");
  ASSERT_EQ(::chown((dir / "theirs").c_str(), 4242, 4242), 0);
  fs::create_directory_symlink(dir / "open", dir / "link");
  WriteFile(dir / "file", "");
  const struct {
    std::string name, problem;  // empty: made private
  } cases[] = {
      {"open", ""}, {"theirs", " belongs to another user"}, {"link", " is a link"},
      {"file", " is not a directory"},
  };
  for (const auto& c : cases) {
    const std::string path = dir / c.name;
    EXPECT_EQ(os::MakePrivateDirectory(path).message(), c.problem.empty() ? "" : "\"" + path + "\"" + c.problem);
    if (c.problem.empty()) {
      EXPECT_EQ(fs::status(path).permissions(), fs::perms(0700)) << c.name;
    }
  }
  EXPECT_EQ(fs::status(dir / "theirs").permissions(), fs::perms(0755)) << "left as it was";
}

TEST(Platform, CreateNewRefusesExistingFileAndLink) {
  ScratchDir dir;
  WriteFile(dir / "exists", "keep");
  fs::create_symlink(dir / "elsewhere", dir / "link");
  EXPECT_FALSE(os::File::Open(dir / "exists", os::OpenFor::CreateNew));
  EXPECT_FALSE(os::File::Open(dir / "link", os::OpenFor::CreateNew));
  EXPECT_FALSE(PathExists(dir / "elsewhere"));
  EXPECT_EQ(ReadFile(dir / "exists"), "keep");
  EXPECT_TRUE(os::File::Open(dir / "fresh", os::OpenFor::CreateNew, 0600));
  EXPECT_EQ(os::StatPath(dir / "fresh").permissions & 0077, 0u);
}

TEST(Platform, StatPathReportsKindSizeDateAndLinks) {
  ScratchDir dir;
  WriteFile(dir / "f", "12345");
  fs::create_symlink(dir / "f", dir / "link");
  ASSERT_TRUE(os::SetModifiedSeconds(dir / "f", 1000000000).ok());

  const os::FileInfo file = os::StatPath(dir / "f");
  EXPECT_TRUE(file.exists && file.isRegular && !file.isDirectory && !file.isSymlink);
  EXPECT_EQ(file.size, 5);
  EXPECT_EQ(file.modifiedSeconds, 1000000000);
  const os::FileInfo link = os::StatPath(dir / "link");
  EXPECT_TRUE(link.exists && link.isSymlink && !link.isRegular);
  EXPECT_TRUE(os::StatPath(dir.path()).isDirectory);
  EXPECT_FALSE(os::StatPath(dir / "missing").exists);
  EXPECT_FALSE(os::StatPath("").exists);

  EXPECT_TRUE(os::FileExists(dir / "link"));
  EXPECT_FALSE(os::FileExists(dir.path()));
  EXPECT_TRUE(os::DirectoryExists(dir.path()));
  EXPECT_FALSE(os::DirectoryExists(dir / "f"));
}

TEST(Platform, SetModifiedNowMovesTheDate) {
  ScratchDir dir;
  WriteFile(dir / "f", "");
  ASSERT_TRUE(os::SetModifiedSeconds(dir / "f", 1000).ok());
  ASSERT_TRUE(os::SetModifiedNow(dir / "f").ok());
  EXPECT_GE(os::StatPath(dir / "f").modifiedSeconds, os::WallTimeSeconds() - 5);
  EXPECT_FALSE(os::SetModifiedNow(dir / "missing").ok());
}

TEST(Platform, RenameNoReplaceKeepsAnExistingTarget) {
  ScratchDir dir;
  WriteFile(dir / "a", "A");
  WriteFile(dir / "b", "B");
  EXPECT_FALSE(os::RenameNoReplace(dir / "a", dir / "b").ok());
  EXPECT_EQ(ReadFile(dir / "b"), "B");
  EXPECT_TRUE(os::RenameNoReplace(dir / "a", dir / "c").ok());
  EXPECT_EQ(ReadFile(dir / "c"), "A");
  EXPECT_TRUE(os::RenameReplace(dir / "c", dir / "b").ok());
  EXPECT_EQ(ReadFile(dir / "b"), "A");
  EXPECT_FALSE(PathExists(dir / "c"));
  EXPECT_FALSE(os::RenameReplace(dir / "missing", dir / "b").ok());
}

TEST(Platform, NewFilePermissionsFollowTheContentAndUmask) {
  const mode_t old = ::umask(022);
  struct Row {
    std::string head;
    std::uint32_t want;
  } rows[] = {{"#!/bin/sh", 0755}, {"\x7f" "ELF\x02", 0755}, {"#", 0644},
              {"MZ\x90", 0644},    {"", 0644},              {"\x7f" "EL", 0644}};
  for (const auto& r : rows)
    EXPECT_EQ(os::NewFilePermissions(r.head.data(), r.head.size()), r.want) << r.head;
  ::umask(077);
  EXPECT_EQ(os::NewFilePermissions("#!", 2), 0700u);
  ::umask(old);
}

TEST(Platform, SetPermissionsChangesBits) {
  ScratchDir dir;
  WriteFile(dir / "f", "");
  ASSERT_TRUE(os::SetPermissions(dir / "f", 0751).ok());
  EXPECT_EQ(os::StatPath(dir / "f").permissions, 0751u);
}

// ------------------------------------------------------------------ in use

TEST(Platform, RunningExecutableCannotBeOpenedForWriting) {
  ScratchDir dir;
  const std::string program = dir / "sleeper";
  WriteFile(program, "");
  EXPECT_TRUE(os::CanOpen(program, true).ok());
  {
    FileUser running = FileUser::Running(program);
    EXPECT_FALSE(os::CanOpen(program, true).ok());
    EXPECT_TRUE(os::CanOpen(program, false).ok());
  }
  EXPECT_TRUE(os::CanOpen(program, true).ok());
}

TEST(Platform, FileLockedByAnotherProcessCannotBeOpenedForWriting) {
  ScratchDir dir;
  const std::string path = dir / "settings.cfg";
  WriteFile(path, "x=1\n");
  {
    FileUser locking = FileUser::Locking(path);
    ASSERT_TRUE(locking.Ok());
    EXPECT_FALSE(os::CanOpen(path, true).ok());
    EXPECT_TRUE(os::CanOpen(path, false).ok());
  }
  EXPECT_TRUE(os::CanOpen(path, true).ok());
}

TEST(Platform, FileLockMarksAFileInUseWhileItLives) {
  ScratchDir dir;
  WriteFile(dir / "f", "");
  {
    auto lock = os::FileLock::Exclusive(dir / "f");
    ASSERT_TRUE(lock);
    EXPECT_FALSE(os::CanOpen(dir / "f", true).ok());
    EXPECT_FALSE(os::FileLock::Exclusive(dir / "f"));
  }
  EXPECT_TRUE(os::CanOpen(dir / "f", true).ok());
  EXPECT_FALSE(os::FileLock::Exclusive(dir / "missing"));
}

TEST(Platform, CanOpenRefusesDirectoriesAndMissingFiles) {
  ScratchDir dir;
  EXPECT_FALSE(os::CanOpen(dir.path(), false).ok());
  EXPECT_FALSE(os::CanOpen(dir.path(), true).ok());
  EXPECT_FALSE(os::CanOpen(dir / "missing", false).ok());
}

// -------------------------------------------------------------- directories

TEST(Platform, MakeDirectoriesCreatesEveryMissingParent) {
  ScratchDir dir;
  EXPECT_TRUE(os::MakeDirectories(dir / "a/b/c").ok());
  EXPECT_TRUE(os::DirectoryExists(dir / "a/b/c"));
  EXPECT_TRUE(os::MakeDirectories(dir / "a/b/c").ok());  // already there
  EXPECT_TRUE(os::MakeDirectories(dir / "a/b/d/").ok());
  WriteFile(dir / "file", "");
  EXPECT_FALSE(os::MakeDirectories(dir / "file/sub").ok());
  EXPECT_FALSE(os::MakeDirectories("").ok());
}

TEST(Platform, MakeDirectoryMakesOneLevel) {
  ScratchDir dir;
  EXPECT_FALSE(os::MakeDirectory(dir / "x/y").ok());
  EXPECT_TRUE(os::MakeDirectory(dir / "x").ok());
  EXPECT_FALSE(os::MakeDirectory(dir / "x").ok());
  EXPECT_TRUE(os::RemoveDirectory(dir / "x"));
  EXPECT_FALSE(os::DirectoryExists(dir / "x"));
}

TEST(Platform, ChangeDirectoryAndBack) {
  ScratchDir dir;
  const std::string before = os::CurrentDirectory();
  ASSERT_TRUE(os::ChangeDirectory(dir.path()));
  EXPECT_EQ(fs::canonical(os::CurrentDirectory()), fs::canonical(dir.path()));
  EXPECT_FALSE(os::ChangeDirectory(dir / "missing"));
  EXPECT_TRUE(os::ChangeDirectory(before));
}

TEST(Platform, ListDirectoryTellsOrdinaryAndHiddenFiles) {
  ScratchDir dir;
  WriteFile(dir / "plain.txt", "");
  WriteFile(dir / ".hidden", "");
  fs::create_directory(dir / "sub");
  fs::create_symlink(dir / "plain.txt", dir / "link");
  auto entries = os::ListDirectory(dir.path());
  std::sort(entries.begin(), entries.end(),
            [](const auto& a, const auto& b) { return a.name < b.name; });
  ASSERT_EQ(entries.size(), 4u);
  EXPECT_EQ(entries[0].name, ".hidden");
  EXPECT_TRUE(entries[0].isHidden && entries[0].isRegular);
  EXPECT_EQ(entries[1].name, "link");
  EXPECT_FALSE(entries[1].isRegular);
  EXPECT_EQ(entries[2].name, "plain.txt");
  EXPECT_TRUE(entries[2].isRegular && !entries[2].isHidden);
  EXPECT_EQ(entries[3].name, "sub");
  EXPECT_FALSE(entries[3].isRegular);
  EXPECT_TRUE(os::ListDirectory(dir / "missing").empty());
}

// ---------------------------------------------------------- starting programs

TEST(Platform, StartProgramPassesArgumentsAndLeavesNoZombie) {
  ScratchDir dir;
  const std::string out = dir / "out.txt";
  WriteScript(dir / "record args",
              "for a in \"$@\"; do echo \"[$a]\" >> \"$0.out\"; done\n"
              "echo $$ >> \"$0.out\"\n");
  ASSERT_TRUE(os::StartProgram("\"" + dir / "record args" + "\" one \"two three\" \"\" 4\\\"x").ok());
  const std::string text = AwaitFile(dir / "record args.out", 5);
  const std::size_t pidLine = text.rfind('\n', text.size() - 2) + 1;
  EXPECT_EQ(text.substr(0, pidLine), "[one]\n[two three]\n[]\n[4\"x]\n");

  // The intermediate child is reaped at once; the program belongs to init.
  EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
  const int pid = std::atoi(text.substr(pidLine).c_str());
  ASSERT_GT(pid, 0);
  char state = 'Z';
  for (int i = 0; i < 500 && (state = ProcessState(pid)) != 0 && state == 'Z'; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_NE(state, 'Z');
}

TEST(Platform, StartedProgramIsDetachedWithStreamsOnDevNull) {
  ScratchDir dir;
  WriteScript(dir / "probe",
              "streams=$(readlink /proc/$$/fd/0 /proc/$$/fd/1 /proc/$$/fd/2)\n"
              "sid=$(ps -o sid= -p $$ | tr -d ' ')\n"
              "printf '%s\\n%s\\n' \"$streams\" \"$sid\" > \"$1\"\n");
  ASSERT_TRUE(os::StartProgram(dir / "probe " + dir / "out").ok());
  const std::string text = AwaitFile(dir / "out", 4);
  EXPECT_EQ(text.substr(0, 30), "/dev/null\n/dev/null\n/dev/null\n");
  const int sid = std::atoi(text.substr(30).c_str());
  EXPECT_GT(sid, 0);
  EXPECT_NE(sid, ::getsid(0));
}

TEST(Platform, StartedProgramDoesNotInheritOpenFilesOrLocks) {
  ScratchDir dir;
  WriteFile(dir / "locked", "");
  WriteScript(dir / "sleeper", "echo $$ > \"$1\"\nexec sleep 30\n");
  // A descriptor without close-on-exec, as a library might leave one.
  const int fd = ::open((dir / "locked").c_str(), O_RDONLY);
  ASSERT_EQ(::flock(fd, LOCK_EX), 0);
  ASSERT_TRUE(os::StartProgram(dir / "sleeper " + dir / "pid").ok());
  const int pid = std::atoi(AwaitFile(dir / "pid", 1).c_str());
  ASSERT_GT(pid, 0);
  ::close(fd);
  // Had the program inherited the descriptor, it would hold the lock now.
  EXPECT_TRUE(os::CanOpen(dir / "locked", true).ok());
  ::kill(pid, SIGKILL);
}

TEST(Platform, StartProgramLooksInCurrentDirectoryThenPathAndTriesExe) {
  ScratchDir dir;
  ScratchDir bin;
  WriteScript(dir / "here", "echo here > \"$1\"\n");
  WriteScript(bin / "onpath", "echo onpath > \"$1\"\n");
  WriteScript(dir / "tool.exe", "echo tool > \"$1\"\n");
  WriteScript(bin / "here", "echo wrong > \"$1\"\n");
  const std::string before = os::CurrentDirectory();
  ASSERT_TRUE(os::ChangeDirectory(dir.path()));
  ScopedEnv pathVar("PATH", bin.path() + ":" + os::GetEnvVar("PATH").value_or(""));

  EXPECT_TRUE(os::StartProgram("here " + dir / "1").ok());
  EXPECT_TRUE(os::StartProgram("onpath " + dir / "2").ok());
  EXPECT_TRUE(os::StartProgram("tool " + dir / "3").ok());
  EXPECT_FALSE(os::StartProgram("nosuchprogram").ok());
  EXPECT_FALSE(os::StartProgram("   ").ok());

  os::ChangeDirectory(before);
  EXPECT_EQ(AwaitFile(dir / "1", 1), "here\n");
  EXPECT_EQ(AwaitFile(dir / "2", 1), "onpath\n");
  EXPECT_EQ(AwaitFile(dir / "3", 1), "tool\n");
}

TEST(Platform, StartProgramReportsAFileThatCannotBeExecuted) {
  ScratchDir dir;
  WriteFile(dir / "notexec", "#!/bin/sh\ntrue\n");
  ::chmod((dir / "notexec").c_str(), 0644);
  WriteFile(dir / "garbage.exe", std::string("MZ\x90\0\0", 5));
  ::chmod((dir / "garbage.exe").c_str(), 0755);
  EXPECT_FALSE(os::StartProgram(dir / "notexec").ok());
  EXPECT_FALSE(os::StartProgram(dir / "garbage.exe").ok());
  EXPECT_FALSE(os::StartProgram(dir.path()).ok());
}

TEST(Platform, StartProgramRunsAnElfExecutable) {
  ScratchDir dir;
  fs::copy_file("/bin/touch", dir / "mytouch");
  ::chmod((dir / "mytouch").c_str(), 0755);
  ASSERT_TRUE(os::StartProgram(dir / "mytouch " + dir / "made").ok());
  for (int i = 0; i < 500 && !PathExists(dir / "made"); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_TRUE(PathExists(dir / "made"));
}

// ------------------------------------------------ process, signals, env, clock

TEST(Platform, ExecutablePathIsThisTestAndCanBeReplaced) {
  EXPECT_EQ(fs::path(os::ExecutablePath()).filename(), "integration_platform_test");
  os::SetExecutablePathForTests("/opt/app/tvqlupd");
  EXPECT_EQ(os::ExecutablePath(), "/opt/app/tvqlupd");
  os::SetExecutablePathForTests("");
  EXPECT_EQ(fs::path(os::ExecutablePath()).filename(), "integration_platform_test");
}

TEST(Platform, InterruptsAreCounted) {
  os::WatchInterrupts();
  const int before = os::InterruptsReceived();
  ::raise(SIGINT);
  ::raise(SIGTERM);
  EXPECT_EQ(os::InterruptsReceived(), before + 2);
  ::signal(SIGINT, SIG_DFL);
  ::signal(SIGTERM, SIG_DFL);
}

TEST(Platform, EnvironmentSetGetUnset) {
  ScopedEnv restored("TVQ_TEST_VAR");
  os::SetEnvVar("TVQ_TEST_VAR", "a b");
  EXPECT_EQ(os::GetEnvVar("TVQ_TEST_VAR"), "a b");
  os::SetEnvVar("TVQ_TEST_VAR", "");
  EXPECT_EQ(os::GetEnvVar("TVQ_TEST_VAR"), "");
  os::UnsetEnvVar("TVQ_TEST_VAR");
  EXPECT_FALSE(os::GetEnvVar("TVQ_TEST_VAR"));
}

TEST(Platform, HomeDirFallsBackToTheAccount) {
  ScopedEnv home("HOME", std::nullopt);
  const std::string fromAccount = os::HomeDir();
  EXPECT_FALSE(fromAccount.empty());
  EXPECT_TRUE(os::DirectoryExists(fromAccount)) << fromAccount;
}

TEST(Platform, SystemClockSleepsAndTicks) {
  const auto t0 = os::TickMs();
  os::SleepMs(30);
  EXPECT_GE(os::TickMs() - t0, 30);
  os::SleepMs(0);
  os::SleepMs(-5);
  EXPECT_GT(os::WallTimeSeconds(), 1600000000);
}
