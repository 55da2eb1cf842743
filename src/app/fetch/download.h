#pragma once
// The download of an update: every file of the selected block's <files>
// section is brought into the work directory (fetched from an internet site,
// copied from a file:// site), its trailing '~' removed, and verified by
// size and checksum, with up to five attempts per file.

#include <cstdint>
#include <string>

#include "app/context/run_context.h"
#include "platform/status.h"

inline constexpr int kDownloadAttempts = 5;
inline constexpr std::int64_t kRetryPauseMs = 500;
inline constexpr std::int64_t kLateEntryExtraPauseMs = 3000;  // from the third entry on
inline constexpr std::int64_t kAssumedBytesPerMinute = 307200;

// OK when every file arrived and passed its checks (also when the block
// lists none); otherwise, at the first file that fails five times, that
// file's name and why it failed (the transfer's cause, "the file's size is
// ..."), also on Cancel and on an unexpected error. Sets context.methodFile to the last file whose
// name begins with "!update". A name that is not a plain file name is never
// fetched or written; it fails like a file that does not verify, and so does
// an entry longer than 255 characters. A listed size caps the transfer (one
// byte more fails it); a file that fails its checks is deleted at once.
Status DownloadUpdateFiles(RunContext& context);
