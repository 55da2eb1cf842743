#pragma once
// The download of an update: every file of the selected block's <files>
// section is brought into the work directory (fetched from an internet site,
// copied from a file:// site), its trailing '~' removed, and verified by
// size and checksum, with up to five attempts per file.

#include <cstdint>
#include <string>

#include "app/run_context.h"

inline constexpr int kDownloadAttempts = 5;
inline constexpr std::int64_t kRetryPauseMs = 500;
inline constexpr std::int64_t kLateEntryExtraPauseMs = 3000;  // from the third entry on
inline constexpr std::int64_t kAssumedBytesPerMinute = 307200;

// True when every file arrived and passed its checks (also when the block
// lists none); false at the first file that fails five times, on Cancel, or
// on an unexpected error. Sets context.methodFile to the last file whose
// name begins with "!update". A name that is not a plain file name is never
// fetched or written; it fails like a file that does not verify, and so does
// an entry longer than 255 characters. A listed size caps the transfer (one
// byte more fails it); a file that fails its checks is deleted at once.
bool DownloadUpdateFiles(RunContext& context);
// Why the last failed file failed: its name and the cause (the transfer's
// reason, "the file's size is ...", ...). Empty when nothing failed.
const std::string& DownloadFailureText();
