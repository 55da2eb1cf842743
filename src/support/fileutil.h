#pragma once
// Robust file, directory, environment, time and process utilities. Every
// operation reports failure by its result (false, 0, empty text) and never
// throws; one whose failure the program explains returns a Status (or a
// StatusOr) whose message is the cause ("No space left on device"), as the
// platform's calls do. Paths are taken whole, never cut.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/status.h"

inline constexpr std::int32_t kNoChecksum = -1000000000;
std::int32_t NoChecksum();
std::int32_t FileSizeOf(const std::string& path);  // 0 on failure
std::int64_t FileSize64(const std::string& path);  // 0 on failure
// 0 when the file cannot be read whole.
std::int32_t FileChecksum(const std::string& path);
// The checksum; fails when the file cannot be opened or a read fails.
StatusOr<std::int32_t> FileChecksumOf(const std::string& path);
// The checksum of bytes in memory (what FileChecksum computes over a file).
std::int32_t ChecksumOfBytes(std::string_view bytes);
// The same checksum fed piece by piece, as bytes go by: the pieces' bytes
// in order give what FileChecksum gives for a file of those bytes.
class StreamChecksum {
 public:
  void Feed(const unsigned char* p, std::size_t n);
  void Feed(const char* p, std::size_t n) { Feed(reinterpret_cast<const unsigned char*>(p), n); }
  std::int32_t Result() const { return Reduced(sum_); }
  static std::int32_t Reduced(std::int64_t s);

 private:
  std::int64_t sum_ = 0;
  std::uint32_t seed_ = 0;
  std::uint32_t count_ = 0;
};

bool FileExists(const std::string& path);
// OK when the file can be opened in the current FileOpenMode; else why not.
Status FileOpenable(const std::string& path);
// Deletes a file that is openable (FileOpenable), not one in use.
Status DeleteFileChecked(const std::string& path);
bool RenameFileChecked(const std::string& oldPath, const std::string& newPath);
std::int64_t FileDate(const std::string& path);  // -1 when missing
// Gives the file the date; OK once it has that date.
Status SetFileDateChecked(const std::string& path, std::int64_t date);
// Gives the file the date of now; a missing file is created with createIfMissing.
Status TouchFile(const std::string& path, bool createIfMissing);
// OK when the file's date can be changed (it is changed and put back).
Status CheckTouchable(const std::string& path);
// Creates the file, or truncates it when it is not in use; tried three times.
Status CreateEmptyFile(const std::string& path);
bool FilesEqual(const std::string& a, const std::string& b);

using CopyAbortCallback = std::function<bool()>;  // true: abort the copy
inline constexpr std::size_t kCopyBufferSize = 524288;
// Copies source over target; the cause with the system's text when it fails
// ("cannot write beside /app/tvq.exe: No space left on device").
Status CopyFileBuffered(const std::string& source, const std::string& target, bool keepDate,
                        std::size_t bufferSize, const CopyAbortCallback& abortCallback);
// CopyFileBuffered that may also replace a target in use: with replaceInUse
// a running program's file is renamed over, never written (Linux allows this;
// where the system refuses, the copy fails and the target stays).
Status CopyFileOver(const std::string& source, const std::string& target, bool keepDate,
                    std::size_t bufferSize, const CopyAbortCallback& abortCallback,
                    bool replaceInUse);
// Copies made durable and put in place together: each Add copies a file
// beside its target; Commit flushes every copy at once, then renames each
// over its target. The targets' directory entries are the caller's to make
// durable. Copies not put in place are removed.
class CopyBatch {
 public:
  CopyBatch() = default;
  CopyBatch(const CopyBatch&) = delete;
  CopyBatch& operator=(const CopyBatch&) = delete;
  ~CopyBatch();
  // Copies source beside target (an existing target in use fails, as in
  // CopyFileBuffered); abortCallback, when given, is asked after every
  // block and stops the copy, leaving nothing behind.
  Status Add(const std::string& source, const std::string& target,
             const CopyAbortCallback& abortCallback = nullptr);
  // OK when every copy took its target's place; else the first cause (the
  // targets not reached yet keep their old content).
  Status Commit();

 private:
  std::vector<std::pair<std::string, std::string>> staged_;  // copy, target
};

// Whether a name is that of a copy's temporary file (".NAME.tvqDIGITS.tmp").
bool IsCopyLeftover(std::string_view name);
// Removes the copy leftovers (and nothing else) that an interrupted copy left
// in dir; returns how many.
int RemoveCopyLeftovers(const std::string& dir);
// CopyFileOver, tried a second time 50 ms later when it fails.
Status CopyFileRetry(const std::string& source, const std::string& target, bool keepDate = false,
                     std::size_t bufferSize = kCopyBufferSize,
                     const CopyAbortCallback& abortCallback = nullptr, bool replaceInUse = false);
bool CopyFileVerified(const std::string& source, const std::string& target, bool keepDate = false);
bool CopyFiles(const std::string& sourceMask, const std::string& targetDir,
               const std::string& namePattern = {}, const CopyAbortCallback& abortCallback = nullptr,
               bool keepDate = false);
bool DeleteFilesOlderThan(const std::string& mask, std::int64_t date);
// Gives a file the permission bits of a new file with its content: executable
// when it starts with "#!" or the ELF magic. True when they were set.
bool SetPermissionsByContent(const std::string& path);
std::string ReadTextFile(const std::string& path, std::string_view separator);
// Whole days since 30 December 1899 of the file's local modification date;
// -1 when the file is missing.
std::int32_t FileDayNumber(const std::string& path);

bool DirExists(const std::string& path);
bool MakeDir(const std::string& path);
bool ForceDirs(const std::string& path);
bool EnsureDir(const std::string& path);
std::string ProgramPath(bool withDir = true, bool withExt = true);
std::string ProgramDir(bool withBackslash = false);
std::string GetEnv(const std::string& name);
std::string TempDir();         // TEMP, else TMPDIR, else /tmp
std::string AppDataDir();      // AppData, else XDG_CONFIG_HOME, else ~/.config
std::string ProgramFilesDir(); // PROGRAMFILES; empty when unset
// LOCALAPPDATA, else XDG_CACHE_HOME, else ~/.cache; empty without a home.
std::string CacheDir();

std::string UpdateIdOf(std::string_view text);
// The program's file name without directory and extension (set by main).
const std::string& ProgramName();
void SetProgramName(std::string name);

// Waits ms milliseconds through the platform clock (no messages handled).
bool Pause(int ms);
// Handles window messages for ms milliseconds (16-bit); true when any was.
bool PumpMessagesFor(int ms);
// ms < 0: only the messages waiting now; else PumpMessagesFor(ms).
bool PumpMessages(int ms);
// How many PumpMessages calls are running now (nested).
int PumpMessagesDepth();
bool KeyDown(int virtualKey);
bool ShiftDown();
bool CtrlDown();
int ShowMessageBox(const std::string& text, const std::string& caption, unsigned flags);

// Starts a command line as a program of its own, detached and never waited
// for (the platform's program start); OK when it started, else why not.
Status StartDetached(const std::string& commandLine);
// A path as one word of a command line: quoted when it holds a blank or tab.
std::string CommandLineWord(const std::string& path);
