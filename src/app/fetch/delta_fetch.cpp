#include "app/fetch/delta_fetch.h"

#include <ostream>
#include <vector>

#include "app/context/display.h"
#include "app/context/names.h"
#include "app/fetch/kept_fetch.h"
#include "app/fetch/patch_apply.h"
#include "app/fetch/signatures.h"
#include "app/fetch/site_record_check.h"
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

// One content the installation's copy of a name may be turned into: the
// listed file, or the program a packed listed file expands to.
struct Goal {
  std::string installedName;
  std::string target;                      // where it is made
  const ContentDigest* result = nullptr;   // its recorded digest, if any
  bool expanded = false;
};

std::vector<Goal> GoalsOf(const RunContext& context, const FileEntry& entry, const std::string& workDir) {
  std::vector<Goal> goals = {{RestoredName(entry.name), workDir + entry.name, RecordedDigest(context, entry.name)}};
  const std::string expanded = ExpandedNameOf(entry.name);
  const ContentDigest* unpacked = context.record ? context.record->ExpandedNamed(entry.name) : nullptr;
  if (!expanded.empty() && unpacked) goals.push_back({expanded, workDir + expanded, unpacked, true});
  return goals;
}

// The installation's copy of a name: the one set aside to replace it when
// there is one, else the installed file; empty when there is neither.
std::string InstalledCopyOf(const std::string& installedName) {
  const std::string installed = ProgramDir(true) + installedName;
  const std::string waiting = installed + kNewVersionSuffix;
  if (os::StatTarget(waiting).isRegular) return waiting;
  return os::StatTarget(installed).isRegular ? installed : std::string();
}

// Whether the installed copy already has the goal's bytes: its size, and a
// recorded digest or (for the listed file) a listed checksum, the recorded
// one required where signatures are.
bool IsGoal(const FileEntry& entry, const Goal& goal, const ContentDigest& installed, const std::string& path) {
  if (goal.result) return DigestMismatch(installed, *goal.result).empty();
  if (goal.expanded || SignaturesRequired() || entry.checksum == kNoChecksum) return false;
  if (entry.size >= 0 && installed.size != entry.size) return false;
  const StatusOr<std::int32_t> checksum = FileChecksumOf(path);
  return checksum && *checksum == static_cast<std::int32_t>(entry.checksum);
}

// Brings a patch of the site into its kept place, bounded by its recorded
// size, counted as progress and continued where an earlier attempt or run
// stopped, and checks its bytes. Its path, or why not.
StatusOr<std::string> FetchPatch(RunContext& context, const RecordedPatch& patch) {
  const FileEntry file = PatchFileEntry(patch);
  KeptRecord record{KeptIdentityOf(context, file), {}, false};
  if (Status fetched = FetchKept(context, file, true, record, nullptr); !fetched.ok()) return fetched;
  const std::string path = KeptDataPath(file.name);
  ContentDigest got;
  Status checked = DigestOfFile(path, got);
  if (checked.ok() && !DigestMismatch(got, patch.patch).empty())
    checked = Status::Error("the patch: " + DigestMismatch(got, patch.patch));
  if (!checked.ok()) {
    DiscardKept(file.name);
    return checked;
  }
  return path;
}

// Applies the patch that turns the installed copy into the goal; why not
// when none does or it fails. The patch's bytes are the recorded ones and
// the patch names the digest of its result, which the applier checks, so
// the result is the recorded content.
Status Patch(RunContext& context, const FileEntry& entry, const Goal& goal, const std::string& base,
             const ContentDigest& installed, WrittenDigests* written) {
  const RecordedPatch* fitting = nullptr;
  if (!context.record || !goal.result) return Status::Error("the site has no record of patches");
  for (const RecordedPatch* p : context.record->PatchesOf(entry.name))
    if (p->base == installed && p->result == *goal.result) fitting = p;
  if (!fitting) return Status::Error("no patch of the site fits the installed copy");
  const StatusOr<std::string> patchPath = FetchPatch(context, *fitting);
  if (!patchPath) return patchPath.status();
  // A listed file's result is checked by the digest computed as it is
  // written, which its own checks use after; a program's by the applier.
  Status made = ApplyPatch(base, *patchPath, goal.target, static_cast<std::uint64_t>(fitting->result.size),
                           {written, true, written != nullptr});
  DiscardKept(fitting->patchName);
  if (made.ok() && written && !DigestMismatch(written->RecordDigest(), *goal.result).empty())
    made = Status::Error("the patched file is not the recorded one");
  if (!made.ok()) return made;
  AddDownloadedBytes(context.progress, entry.size - fitting->patch.size);
  StdText() << " patched: " << GroupedDigits(fitting->patch.size) << " bytes instead of "
            << GroupedDigits(entry.size) << std::endl;
  return Status();
}

// Makes one goal from the installed copy: by copying it when it already
// has the goal's bytes, else by patching it.
Status MakeGoal(RunContext& context, const FileEntry& entry, const Goal& goal, WrittenDigests& written) {
  const std::string base = InstalledCopyOf(goal.installedName);
  if (base.empty()) return Status::Error("nothing is installed under its name");
  ContentDigest installed;
  if (Status read = DigestOfFile(base, installed); !read.ok()) return read;
  if (!IsGoal(entry, goal, installed, base))
    return Patch(context, entry, goal, base, installed, goal.expanded ? nullptr : &written);
  if (Status copied = CopyFileBuffered(base, goal.target, false, kCopyBufferSize, nullptr); !copied.ok())
    return copied;
  AddDownloadedBytes(context.progress, entry.size);
  StdText() << " the installed copy is this file: not fetched" << std::endl;
  return Status();
}

}  // namespace

FileEntry PatchFileEntry(const RecordedPatch& patch) {
  return {patch.patchName, patch.patch.size, kNoChecksum};
}

StatusOr<MadeFile> MakeFromInstalled(RunContext& context, const FileEntry& entry, const std::string& workDir,
                                     WrittenDigests& written) {
  Status made;
  for (const Goal& goal : GoalsOf(context, entry, workDir)) {
    // Only bytes a patch writes pass the observer; a copy is read again.
    written.Restart(false);
    made = MakeGoal(context, entry, goal, written);
    if (made.ok()) return MadeFile{goal.target, goal.expanded};
    os::RemoveFile(goal.target);
    written.Restart(false);
  }
  if (context.record && !context.record->PatchesOf(entry.name).empty())
    StdText() << " patch not used: " << ControlsReplaced(made.message()) << "; the whole file is fetched" << std::endl;
  return made;
}
