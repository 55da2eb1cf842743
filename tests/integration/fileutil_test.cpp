// The file utilities against real files, directories and processes.
#include "support/fileutil.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/os.h"
#include "support/contexts.h"
#include "support/file_user.h"
#include "support/fs_faults.h"
#include "support/temp_dir.h"
#include "support/virtual_clock.h"

namespace {

namespace fs = std::filesystem;

std::string RandomBytes(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (auto& b : bytes) b = static_cast<char>(random());
  return bytes;
}

// Every name in a directory, hidden ones included, sorted.
std::vector<std::string> Names(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

std::uint32_t Mode(const std::string& path) {
  struct stat st {};
  ::lstat(path.c_str(), &st);
  return st.st_mode & 07777;
}

class Umask {
 public:
  explicit Umask(mode_t mask) : old_(::umask(mask)) {}
  ~Umask() { ::umask(old_); }

 private:
  mode_t old_;
};

}  // namespace

// ------------------------------------------------------------ size and checksum

TEST(FileUtil, FileChecksumEqualsChecksumOfTheBytes) {
  ScratchDir dir;
  for (const std::string& content :
       {std::string(), std::string("a"), std::string("abc"), RandomBytes(32768, 1),
        RandomBytes(100001, 2), std::string("nul\0inside", 10)}) {
    WriteFile(dir / "f", content);
    EXPECT_EQ(FileChecksum(dir / "f"), ChecksumOfBytes(content)) << content.size();
  }
  WriteFile(dir / "abc", "abc");
  EXPECT_EQ(FileChecksum(dir / "abc"), 12526584);
  EXPECT_EQ(FileChecksum(dir / "missing"), 0);
  EXPECT_EQ(FileChecksum(dir.path()), 0);
}

TEST(FileUtil, FileSizesAre64BitWithA32BitCap) {
  ScratchDir dir;
  WriteFile(dir / "small", "12345");
  EXPECT_EQ(FileSizeOf(dir / "small"), 5);
  EXPECT_EQ(FileSize64(dir / "small"), 5);
  EXPECT_EQ(FileSizeOf(dir / "missing"), 0);
  EXPECT_EQ(FileSize64(dir / "missing"), 0);
  EXPECT_EQ(FileSize64(dir.path()), 0);

  // A sparse file of 5 GiB takes no space.
  const std::int64_t big = std::int64_t{5} << 30;
  WriteFile(dir / "big", "");
  fs::resize_file(dir / "big", big);
  EXPECT_EQ(FileSize64(dir / "big"), big);
  EXPECT_EQ(FileSizeOf(dir / "big"), INT32_MAX);
}

// ----------------------------------------------------------- in use, deleting

TEST(FileUtil, FileOpenableFollowsTheFileOpenMode) {
  ScratchDir dir;
  const std::string exe = dir / "tvq.exe";
  FileUser running = FileUser::Running(exe);
  EXPECT_FALSE(FileOpenable(exe).ok());  // read/write at start
  {
    TFileModeContext readOnly(0);
    EXPECT_TRUE(FileOpenable(exe).ok());
  }
  EXPECT_FALSE(FileOpenable(dir / "missing").ok());
  EXPECT_FALSE(FileOpenable(dir.path()).ok());
}

TEST(FileUtil, DeleteFileCheckedLeavesFilesInUse) {
  ScratchDir dir;
  WriteFile(dir / "plain", "x");
  WriteFile(dir / "locked", "x");
  {
    FileUser running = FileUser::Running(dir / "tvq.exe");
    FileUser locking = FileUser::Locking(dir / "locked");
    ASSERT_TRUE(locking.Ok());
    EXPECT_FALSE(DeleteFileChecked(dir / "tvq.exe").ok());
    EXPECT_FALSE(DeleteFileChecked(dir / "locked").ok());
    EXPECT_TRUE(DeleteFileChecked(dir / "plain").ok());
  }
  EXPECT_TRUE(PathExists(dir / "tvq.exe"));
  EXPECT_TRUE(PathExists(dir / "locked"));
  EXPECT_FALSE(PathExists(dir / "plain"));
  EXPECT_FALSE(DeleteFileChecked(dir / "missing").ok());
  fs::create_directory(dir / "sub");
  EXPECT_FALSE(DeleteFileChecked(dir / "sub").ok());
  EXPECT_TRUE(DeleteFileChecked(dir / "locked").ok());  // free again
}

TEST(FileUtil, RenameFileCheckedNeverReplaces) {
  ScratchDir dir;
  WriteFile(dir / "a", "A");
  WriteFile(dir / "b", "B");
  EXPECT_FALSE(RenameFileChecked(dir / "a", dir / "b"));
  EXPECT_EQ(ReadFile(dir / "b"), "B");
  EXPECT_TRUE(RenameFileChecked(dir / "a", dir / "c"));
  EXPECT_FALSE(RenameFileChecked(dir / "a", dir / "d"));
}

// ---------------------------------------------------------------- file dates

TEST(FileUtil, FileDateAndSetFileDateChecked) {
  ScratchDir dir;
  WriteFile(dir / "f", "");
  EXPECT_TRUE(SetFileDateChecked(dir / "f", 1234567890).ok());
  EXPECT_EQ(FileDate(dir / "f"), 1234567890);
  EXPECT_TRUE(SetFileDateChecked(dir / "f", 1234567890).ok());  // already so
  EXPECT_EQ(FileDate(dir / "missing"), -1);
  EXPECT_EQ(FileDate(dir.path()), -1);
  EXPECT_FALSE(SetFileDateChecked(dir / "missing", 1).ok());
  EXPECT_FALSE(PathExists(dir / "missing"));
}

TEST(FileUtil, FileDayNumberIsTheLocalDate) {
  ScratchDir dir;
  WriteFile(dir / "f", "");
  ASSERT_TRUE(SetFileDateChecked(dir / "f", 946728000).ok());  // 2000-01-01 12:00 UTC
  EXPECT_EQ(FileDayNumber(dir / "f"), 36526);
  EXPECT_EQ(FileDayNumber(dir / "missing"), -1);
}

TEST(FileUtil, TouchFileSetsNowOrCreates) {
  ScratchDir dir;
  WriteFile(dir / "f", "keep");
  ASSERT_TRUE(SetFileDateChecked(dir / "f", 1000).ok());
  EXPECT_TRUE(TouchFile(dir / "f", false).ok());
  EXPECT_GE(FileDate(dir / "f"), os::WallTimeSeconds() - 5);
  EXPECT_EQ(ReadFile(dir / "f"), "keep");
  EXPECT_FALSE(TouchFile(dir / "new", false).ok());
  EXPECT_FALSE(PathExists(dir / "new"));
  EXPECT_TRUE(TouchFile(dir / "new", true).ok());
  EXPECT_TRUE(PathExists(dir / "new"));
}

TEST(FileUtil, CheckTouchableChangesAndRestoresTheDate) {
  ScratchDir dir;
  WriteFile(dir / "settings.cfg", "a=1");
  ASSERT_TRUE(SetFileDateChecked(dir / "settings.cfg", 1500000000).ok());
  EXPECT_TRUE(CheckTouchable(dir / "settings.cfg").ok());
  EXPECT_EQ(FileDate(dir / "settings.cfg"), 1500000000);
  EXPECT_FALSE(CheckTouchable(dir / "missing").ok());
  {
    FileUser locking = FileUser::Locking(dir / "settings.cfg");
    ASSERT_TRUE(locking.Ok());
    EXPECT_FALSE(CheckTouchable(dir / "settings.cfg").ok());
  }
  EXPECT_EQ(FileDate(dir / "settings.cfg"), 1500000000);
}

TEST(FileUtil, CheckTouchableFailsOnAReadOnlyFileSystem) {
  ScratchDir dir;
  ScratchMount disk(dir.path(), "size=64k");
  if (!disk.Mounted()) GTEST_SKIP() << "cannot mount a tmpfs here";
  WriteFile(dir / "settings.cfg", "a=1");
  ASSERT_TRUE(SetFileDateChecked(dir / "settings.cfg", 1500000000).ok());
  ASSERT_TRUE(disk.MakeReadOnly());
  EXPECT_FALSE(CheckTouchable(dir / "settings.cfg").ok());
  EXPECT_EQ(FileDate(dir / "settings.cfg"), 1500000000);
}

// A failed helper names its own cause, whatever an earlier failure left
// behind: also where the system reports no error of its own.
TEST(FileUtil, FailuresNameTheirOwnCause) {
  ScratchDir dir;
  const std::string sub = dir / "sub";
  fs::create_directory(sub);
  WriteFile(dir / "notes.sh", "no program\n");  // not executable
  const struct {
    const char* what;
    std::function<Status()> call;
    std::string message;
  } cases[] = {
      {"dating a directory", [&] { return SetFileDateChecked(sub, 1000); }, "Is a directory"},
      {"touching a directory", [&] { return CheckTouchable(sub); }, "Is a directory"},
      {"touching a missing file", [&] { return TouchFile(dir / "missing", false); },
       "No such file or directory"},
      {"copying a directory",
       [&] { return CopyFileBuffered(sub, dir / "copy", false, kCopyBufferSize, nullptr); },
       "cannot read " + sub + ": Is a directory"},
      {"starting a file that is no program", [&] { return StartDetached(dir / "notes.sh"); },
       "Permission denied"},
  };
  for (const auto& c : cases) {
    errno = EXDEV;  // an earlier failure's cause, never this one's
    EXPECT_EQ(c.call().message(), c.message) << c.what;
  }
}

TEST(FileUtil, CreateEmptyFileTruncatesOrTriesThreeTimes) {
  ScratchDir dir;
  VirtualClock clock;
  WriteFile(dir / "f", "old content");
  EXPECT_TRUE(CreateEmptyFile(dir / "f").ok());
  EXPECT_EQ(ReadFile(dir / "f"), "");
  EXPECT_TRUE(clock.Sleeps().empty());

  EXPECT_FALSE(CreateEmptyFile(dir / "no/such/dir/f").ok());
  EXPECT_EQ(clock.Sleeps(), (std::vector<std::int64_t>{100, 100}));

  clock.Clear();
  WriteFile(dir / "locked", "in use");
  {
    FileUser locking = FileUser::Locking(dir / "locked");
    ASSERT_TRUE(locking.Ok());
    EXPECT_FALSE(CreateEmptyFile(dir / "locked").ok());
  }
  EXPECT_EQ(ReadFile(dir / "locked"), "in use");
  EXPECT_EQ(clock.Sleeps(), (std::vector<std::int64_t>{100, 100}));
}

// ----------------------------------------------------------------- comparing

TEST(FileUtil, FilesEqualComparesSizeAndEveryBlock) {
  ScratchDir dir;
  const std::string content = RandomBytes(524288 * 2 + 10, 3);
  std::string lastDiffers = content;
  lastDiffers.back() ^= 1;
  std::string secondBlockDiffers = content;
  secondBlockDiffers[524288] ^= 1;
  WriteFile(dir / "a", content);
  WriteFile(dir / "same", content);
  WriteFile(dir / "last", lastDiffers);
  WriteFile(dir / "second", secondBlockDiffers);
  WriteFile(dir / "shorter", content.substr(0, content.size() - 1));
  WriteFile(dir / "empty1", "");
  WriteFile(dir / "empty2", "");

  EXPECT_TRUE(FilesEqual(dir / "a", dir / "same"));
  EXPECT_TRUE(FilesEqual(dir / "a", dir / "a"));
  EXPECT_TRUE(FilesEqual(dir / "empty1", dir / "empty2"));
  EXPECT_FALSE(FilesEqual(dir / "a", dir / "last"));
  EXPECT_FALSE(FilesEqual(dir / "a", dir / "second"));
  EXPECT_FALSE(FilesEqual(dir / "a", dir / "shorter"));
  EXPECT_FALSE(FilesEqual(dir / "a", dir / "missing"));
  EXPECT_FALSE(FilesEqual(dir / "missing", dir / "missing"));
  EXPECT_FALSE(FilesEqual(dir.path(), dir.path()));
}

// ------------------------------------------------------------------- copying

TEST(FileUtil, CopyFileBufferedCopiesEveryByteWithAnyBuffer) {
  ScratchDir dir;
  const std::string content = RandomBytes(100000, 4);
  WriteFile(dir / "src", content);
  for (std::size_t buffer : {std::size_t{2}, std::size_t{7}, std::size_t{4096}, kCopyBufferSize,
                             std::size_t{100000}}) {
    EXPECT_TRUE(CopyFileBuffered(dir / "src", dir / "dst", false, buffer, nullptr).ok()) << buffer;
    EXPECT_EQ(ReadFile(dir / "dst"), content) << buffer;
  }
  WriteFile(dir / "empty", "");
  EXPECT_TRUE(CopyFileBuffered(dir / "empty", dir / "dst", false, kCopyBufferSize, nullptr).ok());
  EXPECT_EQ(ReadFile(dir / "dst"), "");
  EXPECT_FALSE(CopyFileBuffered(dir / "src", dir / "dst2", false, 1, nullptr).ok());
  EXPECT_FALSE(CopyFileBuffered(dir / "src", dir / "dst2", false, 0, nullptr).ok());
  EXPECT_EQ(Names(dir.path()), (std::vector<std::string>{"dst", "empty", "src"}));
}

TEST(FileUtil, CopyFileBufferedKeepsTheDateWhenAsked) {
  ScratchDir dir;
  WriteFile(dir / "src", "x");
  ASSERT_TRUE(SetFileDateChecked(dir / "src", 1000000000).ok());
  EXPECT_TRUE(CopyFileBuffered(dir / "src", dir / "kept", true, kCopyBufferSize, nullptr).ok());
  EXPECT_EQ(FileDate(dir / "kept"), 1000000000);
  EXPECT_TRUE(CopyFileBuffered(dir / "src", dir / "now", false, kCopyBufferSize, nullptr).ok());
  EXPECT_GE(FileDate(dir / "now"), os::WallTimeSeconds() - 5);
}

TEST(FileUtil, CopyFileBufferedSetsPermissionsFromTargetOrContent) {
  ScratchDir dir;
  Umask mask(022);
  WriteFile(dir / "script", "#!/bin/sh\necho hi\n");
  WriteFile(dir / "elf", "\x7f" "ELF rest");
  WriteFile(dir / "data", "plain");
  WriteFile(dir / "existing", "old");
  ::chmod((dir / "existing").c_str(), 0600);
  ::chmod((dir / "data").c_str(), 0777);

  EXPECT_TRUE(CopyFileBuffered(dir / "script", dir / "new_script", false, kCopyBufferSize, nullptr).ok());
  EXPECT_TRUE(CopyFileBuffered(dir / "elf", dir / "new_elf", false, kCopyBufferSize, nullptr).ok());
  EXPECT_TRUE(CopyFileBuffered(dir / "data", dir / "new_data", false, kCopyBufferSize, nullptr).ok());
  EXPECT_TRUE(CopyFileBuffered(dir / "script", dir / "existing", false, kCopyBufferSize, nullptr).ok());
  EXPECT_EQ(Mode(dir / "new_script"), 0755u);
  EXPECT_EQ(Mode(dir / "new_elf"), 0755u);
  EXPECT_EQ(Mode(dir / "new_data"), 0644u);
  EXPECT_EQ(Mode(dir / "existing"), 0600u);
  EXPECT_EQ(ReadFile(dir / "existing"), "#!/bin/sh\necho hi\n");
  // Only the permission bits carry over, never set-user-ID on new content.
  ::chmod((dir / "existing").c_str(), 04755);
  EXPECT_TRUE(CopyFileBuffered(dir / "data", dir / "existing", false, kCopyBufferSize, nullptr).ok());
  EXPECT_EQ(Mode(dir / "existing"), 0755u);
}

TEST(FileUtil, CopyFileBufferedRefusesDirectoriesAndMissingSourcesButFollowsALinkToAFile) {
  ScratchDir dir;
  WriteFile(dir / "src", "x");
  fs::create_symlink(dir / "src", dir / "link");
  fs::create_symlink(dir / "sub", dir / "dirlink");
  fs::create_directory(dir / "sub");
  EXPECT_TRUE(CopyFileBuffered(dir / "link", dir / "t1", false, kCopyBufferSize, nullptr).ok());
  EXPECT_EQ(ReadFile(dir / "t1"), "x");
  EXPECT_FALSE(fs::is_symlink(dir / "t1"));
  fs::remove(dir / "t1");
  EXPECT_FALSE(CopyFileBuffered(dir / "dirlink", dir / "t1", false, kCopyBufferSize, nullptr).ok());
  EXPECT_FALSE(CopyFileBuffered(dir / "sub", dir / "t2", false, kCopyBufferSize, nullptr).ok());
  EXPECT_FALSE(CopyFileBuffered(dir / "missing", dir / "t3", false, kCopyBufferSize, nullptr).ok());
  EXPECT_FALSE(CopyFileBuffered(dir / "src", dir / "sub", false, kCopyBufferSize, nullptr).ok());
  EXPECT_FALSE(CopyFileBuffered(dir / "src", dir / "no/dir/t", false, kCopyBufferSize, nullptr).ok());
  EXPECT_EQ(Names(dir.path()), (std::vector<std::string>{"dirlink", "link", "src", "sub"}));
  EXPECT_TRUE(fs::is_empty(dir / "sub"));
}

TEST(FileUtil, CopyFileBufferedReplacesALinkInsteadOfWritingThroughIt) {
  ScratchDir dir;
  WriteFile(dir / "src", "new");
  WriteFile(dir / "elsewhere", "precious");
  fs::create_symlink(dir / "elsewhere", dir / "target");
  EXPECT_TRUE(CopyFileBuffered(dir / "src", dir / "target", false, kCopyBufferSize, nullptr).ok());
  EXPECT_FALSE(fs::is_symlink(dir / "target"));
  EXPECT_EQ(ReadFile(dir / "target"), "new");
  EXPECT_EQ(ReadFile(dir / "elsewhere"), "precious");
}

TEST(FileUtil, CopyFileBufferedOntoItselfKeepsTheContent) {
  ScratchDir dir;
  const std::string content = RandomBytes(600000, 5);
  WriteFile(dir / "f", content);
  EXPECT_TRUE(CopyFileBuffered(dir / "f", dir / "f", false, kCopyBufferSize, nullptr).ok());
  EXPECT_EQ(ReadFile(dir / "f"), content);
  EXPECT_EQ(Names(dir.path()), std::vector<std::string>{"f"});
}

TEST(FileUtil, CopyFileBufferedLeavesATargetInUse) {
  ScratchDir dir;
  WriteFile(dir / "src", "new version");
  WriteFile(dir / "settings.cfg", "user settings");
  FileUser running = FileUser::Running(dir / "tvq.exe");
  FileUser locking = FileUser::Locking(dir / "settings.cfg");
    ASSERT_TRUE(locking.Ok());
  const std::string exeBefore = ReadFile(dir / "tvq.exe");
  EXPECT_FALSE(CopyFileBuffered(dir / "src", dir / "tvq.exe", false, kCopyBufferSize, nullptr).ok());
  EXPECT_FALSE(CopyFileBuffered(dir / "src", dir / "settings.cfg", false, kCopyBufferSize, nullptr).ok());
  EXPECT_EQ(ReadFile(dir / "tvq.exe"), exeBefore);
  EXPECT_EQ(ReadFile(dir / "settings.cfg"), "user settings");
  EXPECT_EQ(Names(dir.path()), (std::vector<std::string>{"settings.cfg", "src", "tvq.exe"}));
}

TEST(FileUtil, AbortedCopyLeavesTheOldTargetAndNoTemporaryFile) {
  ScratchDir dir;
  WriteFile(dir / "src", RandomBytes(100000, 6));
  WriteFile(dir / "dst", "old");
  int blocks = 0;
  auto abortAtSecond = [&] { return ++blocks == 2; };
  EXPECT_FALSE(CopyFileBuffered(dir / "src", dir / "dst", false, 4096, abortAtSecond).ok());
  EXPECT_EQ(blocks, 2);
  EXPECT_EQ(ReadFile(dir / "dst"), "old");
  EXPECT_EQ(Names(dir.path()), (std::vector<std::string>{"dst", "src"}));
}

TEST(FileUtil, CopyFinishesASourceDeletedWhileRead) {
  ScratchDir dir;
  const std::string content = RandomBytes(50000, 7);
  WriteFile(dir / "src", content);
  bool removed = false;
  auto removeOnce = [&] {
    if (!removed) removed = fs::remove(dir / "src");
    return false;
  };
  EXPECT_TRUE(CopyFileBuffered(dir / "src", dir / "dst", false, 4096, removeOnce).ok());
  EXPECT_TRUE(removed);
  EXPECT_EQ(ReadFile(dir / "dst"), content);
}

TEST(FileUtil, CopyFailsOnAnUnreadableSourceOrReadOnlyDirectory) {
  ScratchDir dir;
  ::chmod(dir.path().c_str(), 0755);
  fs::create_directory(dir / "ro");
  WriteFile(dir / "ro/dst", "old");
  WriteFile(dir / "secret", "s");
  WriteFile(dir / "src", "new");
  ::chmod((dir / "secret").c_str(), 0);
  ::chmod((dir / "ro/dst").c_str(), 0666);
  ::chmod((dir / "ro").c_str(), 0555);
  AsUnprivileged nobody;
  if (!nobody.Effective()) GTEST_SKIP() << "permission bits do not apply";
  EXPECT_FALSE(CopyFileBuffered(dir / "secret", dir / "x", false, kCopyBufferSize, nullptr).ok());
  EXPECT_FALSE(CopyFileBuffered(dir / "src", dir / "ro/dst", false, kCopyBufferSize, nullptr).ok());
  EXPECT_EQ(ReadFile(dir / "ro/dst"), "old");
  EXPECT_EQ(Names(dir / "ro"), std::vector<std::string>{"dst"});
}

TEST(FileUtil, CopyOntoAReadOnlyFileSystemFails) {
  ScratchDir dir;
  fs::create_directory(dir / "mnt");
  ScratchMount disk(dir / "mnt", "size=64k");
  if (!disk.Mounted()) GTEST_SKIP() << "cannot mount a tmpfs here";
  WriteFile(dir / "mnt/dst", "old");
  WriteFile(dir / "src", "new");
  ASSERT_TRUE(disk.MakeReadOnly());
  EXPECT_FALSE(CopyFileBuffered(dir / "src", dir / "mnt/dst", false, kCopyBufferSize, nullptr).ok());
  EXPECT_EQ(ReadFile(dir / "mnt/dst"), "old");
}

TEST(FileUtil, CopyOntoAFullDiskKeepsTheOldTarget) {
  ScratchDir dir;
  fs::create_directory(dir / "mnt");
  ScratchMount disk(dir / "mnt", "size=256k");
  if (!disk.Mounted()) GTEST_SKIP() << "cannot mount a tmpfs here";
  WriteFile(dir / "mnt/dst", "old");
  WriteFile(dir / "src", RandomBytes(1 << 20, 8));
  EXPECT_FALSE(CopyFileBuffered(dir / "src", dir / "mnt/dst", false, kCopyBufferSize, nullptr).ok());
  EXPECT_EQ(ReadFile(dir / "mnt/dst"), "old");
  EXPECT_EQ(Names(dir / "mnt"), std::vector<std::string>{"dst"});
}

TEST(FileUtil, CopyFileRetryOfAMissingSourceTriesTwice50MsApart) {
  ScratchDir dir;
  VirtualClock clock;
  EXPECT_FALSE(CopyFileRetry(dir / "missing", dir / "dst").ok());
  EXPECT_EQ(clock.Sleeps(), std::vector<std::int64_t>{50});
  clock.Clear();
  EXPECT_FALSE(CopyFileRetry(dir / "missing", dir / "dst", false, kCopyBufferSize, [] { return true; }).ok());
  EXPECT_TRUE(clock.Sleeps().empty());  // the callback asked to abort: no second try
  WriteFile(dir / "src", "x");
  clock.Clear();
  EXPECT_TRUE(CopyFileRetry(dir / "src", dir / "dst").ok());
  EXPECT_TRUE(clock.Sleeps().empty());
}

TEST(FileUtil, CopyFileVerifiedCopiesAndCompares) {
  ScratchDir dir;
  VirtualClock clock;
  WriteFile(dir / "src", RandomBytes(700000, 9));
  EXPECT_TRUE(CopyFileVerified(dir / "src", dir / "dst"));
  EXPECT_TRUE(FilesEqual(dir / "src", dir / "dst"));
  EXPECT_TRUE(clock.Sleeps().empty());
  EXPECT_FALSE(CopyFileVerified(dir / "missing", dir / "dst2"));
  EXPECT_EQ(clock.Sleeps(), (std::vector<std::int64_t>{50, 50, 50}));
}

// ---------------------------------------------------------- many files at once

TEST(FileUtil, CopyFilesCopiesOrdinaryFilesMatchingTheMask) {
  ScratchDir src;
  ScratchDir dst;
  WriteFile(src / "a.txt", "A");
  WriteFile(src / "B.TXT", "B");
  WriteFile(src / "noext", "N");
  WriteFile(src / ".hidden", "H");
  fs::create_directory(src / "sub.txt");
  fs::create_symlink(src / "a.txt", src / "link.txt");

  for (const char* mask : {"*", "*.*"}) {
    ScratchDir out;
    EXPECT_TRUE(CopyFiles(src / mask, out.path())) << mask;
    EXPECT_EQ(Names(out.path()), (std::vector<std::string>{"B.TXT", "a.txt", "noext"})) << mask;
  }
  EXPECT_TRUE(CopyFiles(src / "*.Txt", dst.path() + "/"));
  EXPECT_EQ(Names(dst.path()), (std::vector<std::string>{"B.TXT", "a.txt"}));
  EXPECT_EQ(ReadFile(dst / "B.TXT"), "B");
}

TEST(FileUtil, CopyFilesIntoTheSameDirectoryDoesNothing) {
  ScratchDir dir;
  WriteFile(dir / "a", "A");
  EXPECT_TRUE(CopyFiles(dir / "*", dir.path() + "/"));
  EXPECT_EQ(Names(dir.path()), std::vector<std::string>{"a"});
}

TEST(FileUtil, CopyFilesIntoTheCurrentDirectoryAndWithANamePattern) {
  ScratchDir src;
  ScratchDir dst;
  WriteFile(src / "x.dat", "X");
  const std::string before = os::CurrentDirectory();
  ASSERT_TRUE(os::ChangeDirectory(dst.path()));
  EXPECT_TRUE(CopyFiles(src / "*", ""));
  EXPECT_TRUE(CopyFiles(src / "*", "", "renamed"));
  os::ChangeDirectory(before);
  EXPECT_EQ(Names(dst.path()), (std::vector<std::string>{"renamed.dat", "x.dat"}));
}

TEST(FileUtil, CopyFilesReportsFailuresAndStopsOnAbort) {
  ScratchDir src;
  ScratchDir dst;
  WriteFile(src / "a", "A");
  WriteFile(src / "b", "B");
  WriteFile(src / "c", "C");
  WriteFile(dst / "b", "in use");
  {
    VirtualClock clock;
    FileUser locking = FileUser::Locking(dst / "b");
    ASSERT_TRUE(locking.Ok());
    EXPECT_FALSE(CopyFiles(src / "*", dst.path()));
  }
  EXPECT_EQ(ReadFile(dst / "a"), "A");
  EXPECT_EQ(ReadFile(dst / "b"), "in use");
  EXPECT_EQ(ReadFile(dst / "c"), "C");

  ScratchDir out;
  int copies = 0;
  EXPECT_FALSE(CopyFiles(src / "*", out.path(), "", [&] { return ++copies >= 1; }));
  EXPECT_TRUE(Names(out.path()).empty());  // aborted inside the first copy
}

TEST(FileUtil, DeleteFilesOlderThanDeletesOrdinaryMatchingFiles) {
  ScratchDir dir;
  for (const char* name : {"old.tmp", "new.tmp", "old.keep", ".hidden.tmp"}) WriteFile(dir / name, "");
  fs::create_directory(dir / "sub.tmp");
  SetFileDateChecked(dir / "old.tmp", 1000);
  SetFileDateChecked(dir / "old.keep", 1000);
  SetFileDateChecked(dir / "new.tmp", 3000);
  EXPECT_TRUE(DeleteFilesOlderThan(dir / "*.TMP", 2000));
  EXPECT_EQ(Names(dir.path()),
            (std::vector<std::string>{".hidden.tmp", "new.tmp", "old.keep", "sub.tmp"}));
  EXPECT_TRUE(DeleteFilesOlderThan(dir / "*", 0));
  EXPECT_EQ(Names(dir.path()), (std::vector<std::string>{".hidden.tmp", "sub.tmp"}));
}

TEST(FileUtil, DeleteFilesOlderThanReportsAFileInUse) {
  ScratchDir dir;
  WriteFile(dir / "a", "");
  WriteFile(dir / "b", "");
  FileUser locking = FileUser::Locking(dir / "a");
    ASSERT_TRUE(locking.Ok());
  EXPECT_FALSE(DeleteFilesOlderThan(dir / "*.*", 0));
  EXPECT_EQ(Names(dir.path()), std::vector<std::string>{"a"});
}

// ---------------------------------------------------------------- text files

TEST(FileUtil, ReadTextFileJoinsLinesWithTheSeparator) {
  ScratchDir dir;
  struct Row {
    std::string content;
    std::string separator;
    std::string want;
  } rows[] = {
      {"a\r\nb\r\n", "\r\n", "a\r\nb"},
      {"a\nb", "\r\n", "a\r\nb"},
      {"\n\n\nfirst\n\nlast\n", "|", "first||last"},
      {"x", "|", "x"},                       // under 10 bytes: one pass
      {"", "|", ""},
      {"\r\n\r\n", "|", ""},
      {"one\rtwo\rthree", "", "onetwothree"},
      {std::string("a\0b\nc", 5), ";", std::string("a\0b;c", 5)},
      {"k1=v1\nk2=v2\n", "\r\n", "k1=v1\r\nk2=v2"},
  };
  for (const auto& r : rows) {
    WriteFile(dir / "t.txt", r.content);
    EXPECT_EQ(ReadTextFile(dir / "t.txt", r.separator), r.want) << r.content;
  }
  EXPECT_EQ(ReadTextFile(dir / "missing", "\r\n"), "");
  EXPECT_EQ(ReadTextFile(dir.path(), "\r\n"), "");
}

TEST(FileUtil, ReadTextFileReadsLongLinesWhole) {
  ScratchDir dir;
  const std::string line(1 << 20, 'm');
  WriteFile(dir / "t.txt", line + "\r\n" + line);
  EXPECT_EQ(ReadTextFile(dir / "t.txt", "\n"), line + "\n" + line);
}

// ---------------------------------------------------------------- directories

TEST(FileUtil, DirectoriesAreTestedAndMade) {
  ScratchDir dir;
  WriteFile(dir / "file", "");
  EXPECT_TRUE(DirExists(dir.path()));
  EXPECT_FALSE(DirExists(dir / "file"));
  EXPECT_FALSE(DirExists(""));
  EXPECT_FALSE(MakeDir(dir / "a/b"));
  EXPECT_TRUE(ForceDirs(dir / "a/b"));
  EXPECT_TRUE(DirExists(dir / "a/b"));
  EXPECT_TRUE(EnsureDir(dir / "a/b"));
  EXPECT_TRUE(EnsureDir(dir / "a/c"));
  EXPECT_FALSE(EnsureDir(dir / "x/y"));
  EXPECT_FALSE(ForceDirs(dir / "file/sub"));
  EXPECT_TRUE(FileExists(dir / "file"));
  EXPECT_FALSE(FileExists(dir / "a"));
}

TEST(FileUtil, StartDetachedStartsAProgram) {
  ScratchDir dir;
  WriteFile(dir / "run.sh", "#!/bin/sh\necho \"$1\" > \"$2\"\n");
  ::chmod((dir / "run.sh").c_str(), 0755);
  ASSERT_TRUE(StartDetached(dir / "run.sh started " + dir / "out").ok());
  EXPECT_EQ(AwaitFile(dir / "out"), "started\n");
  EXPECT_FALSE(StartDetached(dir / "missing.exe").ok());
}
