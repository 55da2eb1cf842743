#include "publish/site_record_write.h"

#include "app/list/site_record.h"
#include "app/list/update_list.h"
#include "platform/os.h"
#include "publish/site_edit.h"
#include "publish/site_list.h"
#include "publish/site_signing.h"
#include "support/strfn.h"

namespace {

// The record of listText and of the files it lists as they lie in siteDir.
Status MakeSiteRecord(const std::string& siteDir, const std::string& listText, SiteRecord& record) {
  record.list = DigestOfBytes(listText);
  for (const std::string& name : ListedNames(listText)) {
    ContentDigest digest;
    if (Status read = DigestOfFile(WithTrailingDelimiter(siteDir) + name, digest); !read.ok())
      return Status::Failed("cannot record " + name, read.message());
    record.files[name] = digest;
  }
  return Status();
}

}  // namespace

Status WriteSiteRecord(const std::string& siteDir, const std::string& listText, const MinisignSecretKey* key) {
  SiteRecord record;
  if (Status made = MakeSiteRecord(siteDir, listText, record); !made.ok()) return made;
  const std::string path = WithTrailingDelimiter(siteDir) + kSiteRecordName;
  if (Status written = ReplaceFileText(path, SiteRecordText(record)); !written.ok()) return written;
  return key ? WriteSignature(*key, siteDir, kSiteRecordName) : Status();
}

std::vector<std::string> SiteRecordProblems(const std::string& siteDir, bool required) {
  const std::string path = WithTrailingDelimiter(siteDir) + kSiteRecordName;
  if (!os::FileExists(path)) {
    if (!required) return {};
    return {path + ": missing; make it with tvqpublish sign " + siteDir + " --key KEYFILE"};
  }
  const auto text = ReadFileBounded(path, kMaxSiteRecordBytes);
  std::string why = "cannot be read, or larger than " + std::to_string(kMaxSiteRecordBytes >> 20) + " MiB";
  const auto record = text ? ParseSiteRecord(*text, &why) : std::nullopt;
  if (!record) return {path + ": " + why};
  const auto list = ReadFileBounded(WithTrailingDelimiter(siteDir) + kUpdateListName, kMaxSiteRecordBytes * 16);
  SiteRecord actual;
  if (!list || !MakeSiteRecord(siteDir, *list, actual).ok()) return {};  // the list's own checks name these
  if (actual.list != record->list) return {path + ": describes another list; rewrite it with tvqpublish sign"};
  std::vector<std::string> problems;
  for (const auto& [name, digest] : actual.files) {
    const ContentDigest* recorded = record->FileNamed(name);
    const std::string mismatch = recorded ? DigestMismatch(digest, *recorded) : "it is not recorded";
    if (!mismatch.empty()) problems.push_back(path + ": " + name + ": " + mismatch);
  }
  return problems;
}
