#pragma once
// The installation phase: puts the verified files of an update from the work
// directory into the application directory, which is the current directory
// while it runs. Every copy into the application directory is compared with
// its source and retried; files in use are set aside or waited for.

#include <string>
#include <vector>

#include "app/context/run_context.h"
#include "platform/status.h"

// More updates pending: a marker file "!more", "!more.flg" or "!more.txt" in
// the work directory (consumed when found; the run context keeps the answer).
bool MorePending(RunContext& context);

// The phase called by the run: starts the update's own installation program
// when one arrived (context.methodFile in the work directory, then
// context.methodStarted is set), else runs InstallUpdate on the files
// verified in this run. The cause when the installation failed or the
// program could not be started.
Status InstallOrRunMethod(RunContext& context);

// The built-in installation of the files verified in this run (names in the
// work directory); nothing else there is installed. Fails, with the first
// cause, when any copy or expansion finally failed or tvq.exe stayed in use. Every file of the
// application directory, tvq.exe included, is replaced by renaming its new
// version over it, so it holds the old or the new file, whole, whatever
// happens; the files of the bulk copy are all flushed before the first of
// them is renamed, and the directory is flushed once at the end, so that on
// success every file is in place and durable. The running program's own
// file, where its name has no ".exe", is renamed over too.
Status InstallUpdate(RunContext& context);

// Copies source to target (empty: the source's file name in the current
// directory) and compares the copy, in up to 3 attempts 5500 and 9500 ms
// apart. A missing source with skipIfMissing counts as done. Finally failed:
// the "cannot copy" error box, and the cause ("cannot copy ...: No space
// left on device"). Only an ordinary file is copied: a directory or a
// symbolic link is a failed copy.
Status CopyWithRetries(const std::string& source, const std::string& target, bool skipIfMissing);
// CopyWithRetries of source into the current directory, skipIfMissing set.
Status InstallHelper(const std::string& source);

// Expands an LZ-compressed (.ex_) file; a file that is not compressed is
// copied unchanged. False leaves no target behind.
bool LzExpand(const std::string& source, const std::string& target);
// LzExpand without retries; a failure names the system's cause and shows the
// "cannot copy" error box. A missing source with skipIfMissing counts as done.
Status ExpandWithCheck(const std::string& source, const std::string& target, bool skipIfMissing);

// Starts a command line without waiting; OK when the program started, else
// why not.
Status RunProgram(const std::string& commandLine);
