#include "app/fetch/delta_fetch.h"

#include <ostream>

#include "app/context/display.h"
#include "app/context/names.h"
#include "app/fetch/patch_apply.h"
#include "app/fetch/site_record_check.h"
#include "app/fetch/signatures.h"
#include "app/fetch/transfer.h"
#include "app/list/update_list.h"
#include "platform/os.h"
#include "support/fileutil.h"
#include "support/nuldev.h"
#include "support/strfn.h"

namespace {

constexpr const char* kNewVersionSuffix = ".newversion";

// 4734232 -> "4,734,232".
std::string GroupedDigits(std::int64_t n) {
  std::string digits = std::to_string(n);
  for (int at = static_cast<int>(digits.size()) - 3; at > 0; at -= 3) digits.insert(static_cast<std::size_t>(at), ",");
  return digits;
}

// The installation's copy of a listed file: the one set aside to replace
// it when there is one, else the installed file.
std::string InstalledCopyOf(const FileEntry& entry) {
  const std::string installed = ProgramDir(true) + RestoredName(entry.name);
  const std::string waiting = installed + kNewVersionSuffix;
  return os::StatTarget(waiting).isRegular ? waiting : installed;
}

// Whether the installed copy is the listed file: its size, and a listed
// checksum or a recorded digest, the recorded one required where signatures are.
bool IsListedFile(const RunContext& context, const FileEntry& entry, const ContentDigest& installed,
                  const std::string& path) {
  const ContentDigest* recorded = RecordedDigest(context, entry.name);
  if (entry.size >= 0 && installed.size != entry.size) return false;
  if (recorded && DigestMismatch(installed, *recorded).empty()) return true;
  if (recorded || SignaturesRequired() || entry.checksum == kNoChecksum) return false;
  const StatusOr<std::int32_t> checksum = FileChecksumOf(path);
  return checksum && *checksum == static_cast<std::int32_t>(entry.checksum);
}

// Fetches a patch of the site to path, bounded by its recorded size and
// counted as progress, and checks its bytes.
Status FetchPatch(RunContext& context, const RecordedPatch& patch, const std::string& path) {
  Status fetched;
  if (IsLocalSite(context))
    fetched = CopyLocalFile(StripFileScheme(context.site + patch.patchName), path, patch.patch.size, nullptr,
                            context.progress);
  else
    fetched = FetchFile(context.site + UrlPathOfName(patch.patchName), path, &context.progress, patch.patch.size);
  if (!fetched.ok()) return fetched;
  ContentDigest got;
  if (Status read = DigestOfFile(path, got); !read.ok()) return read;
  const std::string mismatch = DigestMismatch(got, patch.patch);
  return mismatch.empty() ? Status() : Status::Error("the patch: " + mismatch);
}

// Applies the patch that fits the installed copy; why not when none does or it fails.
Status Patch(RunContext& context, const FileEntry& entry, const std::string& base, const ContentDigest& installed,
             const std::string& target) {
  const RecordedPatch* fitting = nullptr;
  if (!context.record) return Status::Error("the site has no record of patches");
  for (const RecordedPatch* p : context.record->PatchesOf(entry.name))
    if (p->base == installed && p->result.size == entry.size) fitting = p;
  if (!fitting) return Status::Error("no patch of the site fits the installed copy");
  const std::string patchPath = WithTrailingDelimiter(WorkDirectory()) + "." + fitting->patchName;
  Status made = FetchPatch(context, *fitting, patchPath);
  if (made.ok()) made = ApplyPatch(base, patchPath, target, static_cast<std::uint64_t>(fitting->result.size));
  os::RemoveFile(patchPath);
  ContentDigest result;
  if (made.ok()) made = DigestOfFile(target, result);
  if (made.ok() && !DigestMismatch(result, fitting->result).empty())
    made = Status::Error("the patched file is not the recorded one");
  if (!made.ok()) return made;
  AddDownloadedBytes(context.progress, entry.size - fitting->patch.size);
  StdText() << " patched: " << GroupedDigits(fitting->patch.size) << " bytes instead of "
            << GroupedDigits(entry.size) << std::endl;
  return Status();
}

}  // namespace

Status MakeFromInstalled(RunContext& context, const FileEntry& entry, const std::string& target) {
  const std::string base = InstalledCopyOf(entry);
  if (!os::StatTarget(base).isRegular) return Status::Error("nothing is installed under its name");
  ContentDigest installed;
  Status made = DigestOfFile(base, installed);
  if (made.ok() && IsListedFile(context, entry, installed, base)) {
    made = CopyFileBuffered(base, target, false, kCopyBufferSize, nullptr);
    if (made.ok()) {
      AddDownloadedBytes(context.progress, entry.size);
      StdText() << " the installed copy is this file: not fetched" << std::endl;
      return made;
    }
  } else if (made.ok()) {
    made = Patch(context, entry, base, installed, target);
    if (made.ok()) return made;
  }
  os::RemoveFile(target);
  if (context.record && !context.record->PatchesOf(entry.name).empty())
    StdText() << " patch not used: " << ControlsReplaced(made.message()) << "; the whole file is fetched" << std::endl;
  return made;
}
