#pragma once
// Writing a file beside its target: a new file in the same directory, so
// that renaming it over the target is one atomic step and a failure or a
// kill never leaves a half-written target.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/os.h"

// Temporary files are named ".NAME.tvqDIGITS.tmp" for the target NAME.
inline constexpr std::string_view kTempMark = ".tvq";
inline constexpr std::string_view kTempExt = ".tmp";

// The permission bits the new file for a target gets: those of the ordinary
// file it replaces, else by its first bytes (a program stays executable).
std::uint32_t PermissionsForTarget(const os::FileInfo& replaced, const char* head,
                                   std::size_t size);
// The same for the new file written for target: judged by written's first bytes.
std::uint32_t PermissionsForWritten(const std::string& target, const std::string& written);

// A new file beside target (readable and writable by its owner only);
// removed again when the object goes, unless it was released.
class TempBeside {
 public:
  explicit TempBeside(const std::string& target);
  ~TempBeside();
  TempBeside(const TempBeside&) = delete;
  TempBeside& operator=(const TempBeside&) = delete;

  // The open file; nullptr when none could be created.
  os::File* file() { return file_.IsOpen() ? &file_ : nullptr; }
  // Why no file could be created (OK when one was).
  const Status& failure() const { return failure_; }
  const std::string& path() const { return path_; }
  // Flushes to the disk and closes; the file stays until it is renamed.
  Status Finish();
  // Closes without flushing; the file stays until it is renamed.
  Status Close() { return file_.Close(); }
  // Gives the finished file up: it is no longer removed here.
  std::string Release();

 private:
  std::string path_;
  os::File file_;
  bool made_ = false;  // the file at path_ is this object's
  Status failure_;
};

// Reads until size bytes are in or the file ends: how many came.
StatusOr<std::int64_t> ReadFull(os::File& file, char* buffer, std::size_t size);
