#include "app/download.h"

#include <exception>
#include <ostream>
#include <string>
#include <vector>

#include "app/display.h"
#include "app/file_entries.h"
#include "app/names.h"
#include "app/signatures.h"
#include "app/transfer.h"
#include "app/update_list.h"
#include "platform/os.h"
#include "support/fileutil.h"
#include "support/lingua.h"
#include "support/nuldev.h"
#include "support/strfn.h"

namespace {

const std::string kSeparatorLine(70, '-');

void Log(std::string_view line) {
  StdText() << line << std::endl;
}

// Brings one listed file into the work directory and checks it. True when
// it arrived under its restored name with the listed size and checksum.
bool FetchAndVerify(RunContext& context, std::string_view piece) {
  FileEntry entry;
  ParseFileEntry(piece, entry);
  Log("downloading file \"" + entry.name + "\": " + std::to_string(entry.size) + " bytes...");
  if (entry.size < kAssumedBytesPerMinute) {
    StdText() << "please wait (this should take a few seconds)...";
  } else {
    StdText() << "please wait (" << entry.size / kAssumedBytesPerMinute << " min. approximately)...";
  }
  StdText().flush();

  // A name with a path or a device in it would be written outside the work
  // directory: it is neither fetched nor written, and fails its check.
  const bool plain = IsPlainFileName(entry.name);
  const std::string workDir = AddBackslash(WorkDirectory());
  if (plain) {
    const std::string target = workDir + entry.name;
    if (IsLocalSite(context)) {
      CopyFileRetry(StripFileScheme(context.site + entry.name), target, false, kCopyBufferSize,
                    nullptr);
      AddDownloadedBytes(FileSize64(target));
    } else {
      FetchFile(context.site + UrlPathOfName(entry.name), target, true);
    }
  }
  StdText() << '\r' << std::string(69, ' ') << '\r';
  StdText().flush();

  std::string name = entry.name;
  if (plain && EndsWith(name, "~")) {
    name = RestoredName(name);
    // A retried file replaces what an earlier attempt left under the name;
    // the rename alone would fail on it and check the old bytes again.
    if (FileExists(workDir + entry.name)) DeleteFileChecked(workDir + name);
    RenameFileChecked(workDir + entry.name, workDir + name);
  }
  const std::string path = workDir + name;
  const bool ok = plain && FileExists(path) && (entry.size < 0 || FileSize64(path) == entry.size) &&
                  (entry.checksum == kNoChecksum || FileChecksum(path) == entry.checksum) &&
                  SiteFileSignatureHolds(context, entry.name, path);
  if (!ok) {
    Log(" ERROR!");
    return false;
  }
  // A downloaded program or script must be able to run once installed, as a
  // copied one can (the update's own installation program is started from here).
  SetPermissionsByContent(path);
  Log(" OK!");
  if (StartsWith(name, "!update")) {
    context.methodFile = name;
    Log(" (this is the update method)");
  }
  return true;
}

}  // namespace

bool DownloadUpdateFiles(RunContext& context) {
  bool result = true;
  try {
    const std::string files = FilesSectionOf(context.updateInfo);
    if (CtrlDown() && ShiftDown()) InfoBox("downloading: \r" + files);
    Log("will download:");
    Log(" {" + files + "}");
    Log(kSeparatorLine);
    CountCurrentSetBytes(files);
    ShowUpdateId(UpdateIdOf(context.updateInfo));

    const std::vector<std::string_view> pieces = ListPieces(files);
    FileEntry probe;
    for (std::size_t i = 1; i <= pieces.size(); ++i) {
      const std::string_view piece = pieces[i - 1];
      if (!ParseFileEntry(piece, probe)) continue;
      const std::int64_t saved = downloadedBytes;
      for (int attempt = 1;; ++attempt) {
        // A retried file starts its progress anew.
        downloadedBytes = saved;
        bool passed = false;
        try {
          passed = FetchAndVerify(context, piece);
        } catch (const std::exception& e) {
          Log(std::string(" ERROR: ") + e.what());
        } catch (...) {
          Log(" ERROR: unknown exception!");
        }
        if (passed) break;
        if (attempt >= kDownloadAttempts) return false;
        os::SleepMs(kRetryPauseMs);
        if (CancelRequested()) return false;
        if (i > 2) os::SleepMs(kLateEntryExtraPauseMs);
      }
    }
  } catch (...) {
    result = false;
  }
  Log(kSeparatorLine);
  return result;
}
