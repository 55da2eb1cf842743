// The Windows backend against the real system (under Wine in CI): UTF-8 paths
// through the wide API, sharing violations as "in use", atomic replacement,
// directories from a drive root, programs started as StartDetached does.
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "platform/os.h"
#include "support/temp_dir.h"

namespace {

// The Linux path of a file of the build as Windows reaches it.
std::string OnDriveZ(std::string path) {
  for (char& c : path)
    if (c == '/') c = '\\';
  return "Z:" + path;
}

bool Put(const std::string& path, const std::string& content) {
  auto f = os::File::Open(path, os::OpenFor::CreateTruncate);
  return f && f->Write(content.data(), content.size()).ok() && f->Close().ok();
}

std::string Get(const std::string& path) {
  auto f = os::File::Open(path, os::OpenFor::Read);
  if (!f) return "<unopenable>";
  std::string text(static_cast<std::size_t>(f->Size()), '\0');
  return f->Read(text.data(), text.size()).value_or(-1) == static_cast<std::int64_t>(text.size())
             ? text
             : "<short>";
}

// Waits up to 30 s for a file to appear (a started program's sign of life).
bool AppearsWithin30s(const std::string& path) {
  for (int i = 0; i < 600; ++i) {
    if (os::FileExists(path)) return true;
    os::SleepMs(50);
  }
  return false;
}

bool DisappearsWithin30s(const std::string& path, bool write) {
  for (int i = 0; i < 600; ++i) {
    if (os::CanOpen(path, write).ok()) return true;
    os::SleepMs(50);
  }
  return false;
}

TEST(Win32Files, NonAsciiNamesRoundTripAsUtf8) {
  ScratchDir dir;
  const std::string users = dir / "Users";
  const std::string deep = users + "\\J\xC3\xBCrgen\\AppData\\Roaming\\Gr\xC3\xB6\xC3\x9F" "e";
  ASSERT_TRUE(os::MakeDirectories(deep).ok()) << deep;
  EXPECT_TRUE(os::DirectoryExists(users + "\\J\xC3\xBCrgen"));
  const std::string file = deep + "\\\xE6\x97\xA5\xE6\x9C\xAC-\xC3\xA9t\xC3\xA9.INI";
  ASSERT_TRUE(Put(file, "Key=V\xC3\xA4lue\r\n"));
  EXPECT_EQ(Get(file), "Key=V\xC3\xA4lue\r\n");
  EXPECT_EQ(os::StatPath(file).size, 12);
  EXPECT_TRUE(os::StatPath(file).isRegular);
  const auto entries = os::ListDirectory(deep);
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].name, "\xE6\x97\xA5\xE6\x9C\xAC-\xC3\xA9t\xC3\xA9.INI");
  EXPECT_TRUE(entries[0].isRegular);
  // The current directory comes back as it was given.
  const std::string before = os::CurrentDirectory();
  ASSERT_TRUE(os::ChangeDirectory(deep));
  EXPECT_EQ(os::CurrentDirectory(), deep) << before;
  EXPECT_TRUE(os::FileExists("\xE6\x97\xA5\xE6\x9C\xAC-\xC3\xA9t\xC3\xA9.INI"));
  os::ChangeDirectory(before);
  EXPECT_TRUE(os::RemoveFile(file).ok());
  EXPECT_FALSE(os::FileExists(file));
}

TEST(Win32Files, MakeDirectoriesStartsBelowTheRootAndFailsOnAFile) {
  ScratchDir dir;
  // Forward and back slashes both delimit; the drive root is never made.
  const std::string mixed = dir / "a/b\\c";
  EXPECT_TRUE(os::MakeDirectories(mixed).ok());
  EXPECT_TRUE(os::DirectoryExists(dir / "a\\b\\c"));
  EXPECT_TRUE(os::MakeDirectories(mixed).ok());  // already there
  ASSERT_TRUE(Put(dir / "file", "x"));
  EXPECT_FALSE(os::MakeDirectories(dir / "file\\sub").ok());
  EXPECT_FALSE(os::MakeDirectories("").ok());
  // A path longer than the classic 260-character limit still works.
  std::string longPath = dir.path();
  while (longPath.size() < 300) longPath += "\\segment-of-a-long-path";
  EXPECT_TRUE(os::MakeDirectories(longPath).ok());
  EXPECT_TRUE(Put(longPath + "\\f.txt", "long"));
  EXPECT_EQ(Get(longPath + "\\f.txt"), "long");
  // Taken down through the backend: the C++ library's own clean-up of the
  // scratch directory does not reach beyond the classic limit under Wine
  // and can spin there.
  EXPECT_TRUE(os::RemoveFile(longPath + "\\f.txt").ok());
  for (std::string p = longPath; p.size() > dir.path().size(); p.resize(p.rfind('\\')))
    EXPECT_TRUE(os::RemoveDirectory(p)) << p;
}

TEST(Win32Files, RenamesReplaceOnlyWhenAsked) {
  ScratchDir dir;
  ASSERT_TRUE(Put(dir / "new", "new content"));
  ASSERT_TRUE(Put(dir / "old", "old"));
  EXPECT_FALSE(os::RenameNoReplace(dir / "new", dir / "old").ok());
  EXPECT_EQ(Get(dir / "old"), "old");
  EXPECT_TRUE(os::RenameReplace(dir / "new", dir / "old").ok());
  EXPECT_EQ(Get(dir / "old"), "new content");
  EXPECT_FALSE(os::FileExists(dir / "new"));
  EXPECT_TRUE(os::RenameNoReplace(dir / "old", dir / "free").ok());
  EXPECT_EQ(Get(dir / "free"), "new content");
}

TEST(Win32Files, SharingViolationIsInUse) {
  ScratchDir dir;
  const std::string path = dir / "tvq.ini";
  ASSERT_TRUE(Put(path, "held"));
  EXPECT_TRUE(os::CanOpen(path, true).ok());
  {
    auto lock = os::FileLock::Exclusive(path);
    ASSERT_TRUE(lock.has_value());
    // Held without write sharing: readable, not writable, not replaceable.
    EXPECT_TRUE(os::CanOpen(path, false).ok());
    EXPECT_FALSE(os::CanOpen(path, true).ok());
    EXPECT_FALSE(os::File::Open(path, os::OpenFor::ReadWrite).ok());
    ASSERT_TRUE(Put(dir / "tvq.ini.new", "replacement"));
    EXPECT_FALSE(os::RenameReplace(dir / "tvq.ini.new", path).ok());
    EXPECT_EQ(Get(path), "held");
  }
  EXPECT_TRUE(os::CanOpen(path, true).ok());
  EXPECT_TRUE(os::RenameReplace(dir / "tvq.ini.new", path).ok());
  EXPECT_EQ(Get(path), "replacement");
  // A directory and a missing file are never openable.
  EXPECT_FALSE(os::CanOpen(dir.path(), false).ok());
  EXPECT_FALSE(os::CanOpen(dir / "missing", false).ok());
  EXPECT_FALSE(os::File::Open(dir.path(), os::OpenFor::Read).ok());
}

TEST(Win32Files, ReadOnlyAttributeIsTheWriteBit) {
  ScratchDir dir;
  const std::string path = dir / "settings.INI";
  ASSERT_TRUE(Put(path, "a=1\r\n"));
  EXPECT_EQ(os::StatPath(path).permissions, 0666u);
  ASSERT_TRUE(os::SetPermissions(path, 0444).ok());
  EXPECT_EQ(os::StatPath(path).permissions, 0444u);
  // (The system refuses writing then, except to an administrator: Wine as root.)
  ASSERT_TRUE(os::SetPermissions(path, 0644).ok());
  EXPECT_EQ(os::StatPath(path).permissions, 0666u);
  EXPECT_TRUE(os::CanOpen(path, true).ok());
  auto readOnlyNew = os::File::Open(dir / "ro", os::OpenFor::CreateNew, 0444u);
  ASSERT_TRUE(readOnlyNew.ok());
  readOnlyNew->Close();
  EXPECT_EQ(os::StatPath(dir / "ro").permissions, 0444u);
  EXPECT_FALSE(os::File::Open(dir / "ro", os::OpenFor::CreateNew).ok());
}

TEST(Win32Files, AppendAddsAtTheEndAndDatesAreUnixSeconds) {
  ScratchDir dir;
  const std::string path = dir / "log.txt";
  for (const char* line : {"one\r\n", "two\r\n"}) {
    auto f = os::File::Open(path, os::OpenFor::Append);
    ASSERT_TRUE(f.ok());
    EXPECT_TRUE(f->Write(line, 5).ok());
    EXPECT_TRUE(f->Sync().ok());
  }
  EXPECT_EQ(Get(path), "one\r\ntwo\r\n");
  ASSERT_TRUE(os::SetModifiedSeconds(path, 1700000000).ok());
  EXPECT_EQ(os::StatPath(path).modifiedSeconds, 1700000000);
  ASSERT_TRUE(os::SetModifiedNow(path).ok());
  EXPECT_LE(os::WallTimeSeconds() - os::StatPath(path).modifiedSeconds, 60);
}

TEST(Win32Files, RunLockIsAFileHeldOpenByOneHolderThatStays) {
  ScratchDir dir;
  const std::string file = dir / "app.lock";
  std::optional<os::RunLock> first(os::RunLock::Acquire(file));
  EXPECT_EQ(first->state(), os::RunLock::State::Held) << first->cause();
  EXPECT_EQ(os::RunLock::Acquire(file).state(), os::RunLock::State::Busy);
  EXPECT_FALSE(os::RemoveFile(file).ok()) << "nobody removes it while it is held";
  EXPECT_EQ(os::RunLock::Acquire(dir / "other.lock").state(), os::RunLock::State::Held);
  first.reset();
  EXPECT_EQ(os::RunLock::Acquire(file).state(), os::RunLock::State::Held);
}

TEST(Win32Files, PrivateDirectoryIsThisAccountsOwnOrNamesWhyNot) {
  ScratchDir dir;
  ASSERT_TRUE(Put(dir / "file", "x"));
  EXPECT_TRUE(os::MakePrivateDirectory(dir / "new").ok());
  EXPECT_TRUE(os::MakePrivateDirectory(dir / "new").ok()) << "an existing one of its own";
  EXPECT_EQ(os::MakePrivateDirectory(dir / "file").message(), "\"" + dir / "file" + "\" is not a directory");
}

TEST(Win32Process, RunningProgramIsInUseUntilItEnds) {
  ScratchDir dir;
  const std::string exe = dir / "tvq.exe";
  ASSERT_TRUE(Put(exe, Get(OnDriveZ(WIN_SLEEPER_EXE))));
  const std::string stop = dir / "stop";
  const std::string started = dir / "started";
  ASSERT_TRUE(os::StartProgram("\"" + exe + "\" \"" + stop + "\" \"" + started + "\"").ok());
  ASSERT_TRUE(AppearsWithin30s(started));
  EXPECT_TRUE(os::CanOpen(exe, false).ok());
  EXPECT_FALSE(os::CanOpen(exe, true).ok());
  ASSERT_TRUE(Put(dir / "tvq.new", "new main application"));
  EXPECT_FALSE(os::RenameReplace(dir / "tvq.new", exe).ok());
  ASSERT_TRUE(Put(stop, ""));
  EXPECT_TRUE(DisappearsWithin30s(exe, true));
  EXPECT_TRUE(os::RenameReplace(dir / "tvq.new", exe).ok());
  EXPECT_EQ(Get(exe), "new main application");
}

TEST(Win32Process, StartsBatchFilesAndBareNamesAsWinExecDoes) {
  ScratchDir dir;
  const std::string before = os::CurrentDirectory();
  ASSERT_TRUE(os::ChangeDirectory(dir.path()));
  // The batch file of a run: started by its bare name from the current directory.
  ASSERT_TRUE(Put("tvqlupd.bat", "@echo off\r\necho ran %1> batch-ran.txt\r\n"));
  EXPECT_TRUE(os::StartProgram("tvqlupd.bat first").ok());
  EXPECT_TRUE(AppearsWithin30s(dir / "batch-ran.txt"));
  // A bare name without extension finds name.exe in the current directory.
  ASSERT_TRUE(Put("helper.exe", Get(OnDriveZ(WIN_SLEEPER_EXE))));
  EXPECT_TRUE(os::StartProgram("helper \"" + (dir / "go") + "\" \"" + (dir / "helper-ran") + "\"").ok());
  EXPECT_TRUE(AppearsWithin30s(dir / "helper-ran"));
  Put(dir / "go", "");
  EXPECT_TRUE(DisappearsWithin30s(dir / "helper.exe", true));  // it has ended
  EXPECT_FALSE(os::StartProgram("no-such-program.exe").ok());
  EXPECT_FALSE(os::StartProgram("   ").ok());
  os::ChangeDirectory(before);
}

TEST(Win32Environment, VariablesAreWideAndUnsetDiffersFromEmpty) {
  os::SetEnvVar("TVQ_TEST_VAR", "C:\\Users\\J\xC3\xBCrgen\\AppData");
  EXPECT_EQ(os::GetEnvVar("TVQ_TEST_VAR"), "C:\\Users\\J\xC3\xBCrgen\\AppData");
  EXPECT_EQ(os::GetEnvVar("tvq_test_var"), "C:\\Users\\J\xC3\xBCrgen\\AppData");  // any case
  os::SetEnvVar("TVQ_TEST_VAR", "");
  EXPECT_EQ(os::GetEnvVar("TVQ_TEST_VAR"), "");
  os::UnsetEnvVar("TVQ_TEST_VAR");
  EXPECT_FALSE(os::GetEnvVar("TVQ_TEST_VAR").has_value());
  EXPECT_FALSE(os::HomeDir().empty());
  EXPECT_NE(os::ExecutablePath().find(".exe"), std::string::npos);
}

}  // namespace
