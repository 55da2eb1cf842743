#include "publish/site_record_write.h"

#include "app/context/names.h"
#include "app/list/site_record.h"
#include "app/list/update_list.h"
#include "platform/os.h"
#include "publish/site_deltas.h"
#include "publish/site_edit.h"
#include "publish/site_list.h"
#include "publish/site_signing.h"
#include "support/strfn.h"

namespace {

// The record of listText and of the files it lists as they lie in siteDir,
// with what each packed program expands to. That is taken from earlier
// when given a record that names the same packed bytes.
Status MakeSiteRecord(const std::string& siteDir, const std::string& listText, const SiteRecord* earlier,
                      SiteRecord& record) {
  record.list = DigestOfBytes(listText);
  for (const std::string& name : ListedNames(listText)) {
    ContentDigest digest;
    if (Status read = DigestOfFile(WithTrailingDelimiter(siteDir) + name, digest); !read.ok())
      return Status::Failed("cannot record " + name, read.message());
    record.files[name] = digest;
    if (ExpandedNameOf(name).empty()) continue;
    const ContentDigest* known = earlier && earlier->FileNamed(name) && *earlier->FileNamed(name) == digest
                                     ? earlier->ExpandedNamed(name)
                                     : nullptr;
    if (known) record.expanded[name] = *known;
    else if (Status expanded = ExpandedDigest(siteDir, name, record.expanded[name]); !expanded.ok())
      return expanded;
  }
  return Status();
}

std::optional<SiteRecord> ReadRecord(const std::string& path, std::string* why) {
  const auto text = ReadFileBounded(path, kMaxSiteRecordBytes);
  if (!text) {
    if (why) *why = "cannot be read, or larger than " + std::to_string(kMaxSiteRecordBytes >> 20) + " MiB";
    return std::nullopt;
  }
  return ParseSiteRecord(*text, why);
}

// The current rollouts with the changes made, of updates listText holds.
std::map<std::string, Rollout> RolloutsAfter(const std::string& siteDir, const std::string& listText,
                                             const RolloutChanges& changes) {
  std::map<std::string, Rollout> rollouts = CurrentRollouts(siteDir);
  for (const auto& [id, change] : changes) {
    if (change) rollouts[id] = *change;
    else rollouts.erase(id);
  }
  std::map<std::string, Rollout> held;
  for (const ListBlock& block : ListBlocks(listText))
    if (const auto it = rollouts.find(block.id); it != rollouts.end()) held.insert(*it);
  return held;
}

}  // namespace

std::map<std::string, Rollout> CurrentRollouts(const std::string& siteDir) {
  const auto record = ReadRecord(WithTrailingDelimiter(siteDir) + kSiteRecordName, nullptr);
  return record ? record->rollouts : std::map<std::string, Rollout>{};
}

std::vector<RecordedPatch> CurrentPatches(const std::string& siteDir) {
  const auto record = ReadRecord(WithTrailingDelimiter(siteDir) + kSiteRecordName, nullptr);
  return record ? record->patches : std::vector<RecordedPatch>{};
}

Status WriteSiteRecord(const std::string& siteDir, const std::string& listText, const MinisignSecretKey* key,
                       const RecordChanges& changes) {
  const auto earlier = ReadRecord(WithTrailingDelimiter(siteDir) + kSiteRecordName, nullptr);
  SiteRecord record;
  if (Status made = MakeSiteRecord(siteDir, listText, earlier ? &*earlier : nullptr, record); !made.ok())
    return made;
  record.rollouts = RolloutsAfter(siteDir, listText, changes.rollouts);
  const std::vector<RecordedPatch> before = earlier ? earlier->patches : std::vector<RecordedPatch>{};
  record.patches = PatchesStillMaking(record, before, changes.newPatches);
  const std::string path = WithTrailingDelimiter(siteDir) + kSiteRecordName;
  if (Status written = ReplaceFileText(path, SiteRecordText(record)); !written.ok()) return written;
  if (key)
    if (Status signedRecord = WriteSignature(*key, siteDir, kSiteRecordName); !signedRecord.ok()) return signedRecord;
  RemoveUnusedDeltas(siteDir, before, record.patches);
  return Status();
}

std::vector<std::string> SiteRecordProblems(const std::string& siteDir, bool required) {
  const std::string path = WithTrailingDelimiter(siteDir) + kSiteRecordName;
  if (!os::FileExists(path)) {
    if (!required) return {};
    return {path + ": missing; make it with tvqpublish sign " + siteDir + " --key KEYFILE"};
  }
  std::string why;
  const auto record = ReadRecord(path, &why);
  if (!record) return {path + ": " + why};
  const auto list = ReadFileBounded(WithTrailingDelimiter(siteDir) + kUpdateListName, kMaxSiteRecordBytes * 16);
  SiteRecord actual;
  if (!list || !MakeSiteRecord(siteDir, *list, nullptr, actual).ok()) return {};  // the list's own checks name these
  if (actual.list != record->list) return {path + ": describes another list; rewrite it with tvqpublish sign"};
  std::vector<std::string> problems = DeltaProblems(siteDir, *record);
  for (const auto& [name, digest] : actual.files) {
    const ContentDigest* recorded = record->FileNamed(name);
    const std::string mismatch = recorded ? DigestMismatch(digest, *recorded) : "it is not recorded";
    if (!mismatch.empty()) problems.push_back(path + ": " + name + ": " + mismatch);
  }
  for (const auto& [name, digest] : actual.expanded) {
    const ContentDigest* recorded = record->ExpandedNamed(name);
    const std::string mismatch = recorded ? DigestMismatch(digest, *recorded) : "it is not recorded";
    if (!mismatch.empty()) problems.push_back(path + ": what " + name + " expands to: " + mismatch);
  }
  return problems;
}
