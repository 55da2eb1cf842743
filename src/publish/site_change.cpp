#include "publish/site_change.h"

#include <filesystem>

#include "app/fetch/signatures.h"
#include "app/list/update_list.h"
#include "platform/os.h"
#include "publish/site_list.h"
#include "publish/site_record_write.h"
#include "publish/site_signing.h"
#include "support/fileutil.h"
#include "support/strfn.h"

namespace {

constexpr std::int64_t kMaxHistoryBytes = 64 << 20;

Status CopyIn(const std::string& siteDir, const StagedFile& file) {
  const std::string target = WithTrailingDelimiter(siteDir) + file.listedName;
  std::error_code ec;
  if (std::filesystem::equivalent(file.path, target, ec)) return Status();
  return CopyFileBuffered(file.path, target, true, kCopyBufferSize, nullptr);
}

// Makes the site's directory, with its missing parents, unless it exists.
Status MakeSiteDir(const std::string& siteDir) {
  const Status made = os::MakeDirectories(siteDir);
  return made.ok() ? made : Status::Failed("cannot create " + siteDir, made);
}

Status SignList(const std::string& siteDir, const std::vector<std::string>& names, const SiteSigning& signing) {
  if (signing.drop) {
    RemoveSignatures(siteDir, names);
    return Status();
  }
  return signing.key ? WriteSignature(*signing.key, siteDir, kUpdateListName, signing.binding) : Status();
}

}  // namespace

Status ApplyListEdit(const std::string& siteDir, const ListEdit& edit, const std::vector<StagedFile>& files,
                     const std::vector<std::string>& namesToSign, const SiteSigning& signing,
                     const RecordChanges& recordChanges) {
  if (Status made = MakeSiteDir(siteDir); !made.ok()) return made;
  for (const StagedFile& file : files)
    if (Status copied = CopyIn(siteDir, file); !copied.ok()) return copied;
  if (signing.key && !signing.drop)
    for (const std::string& name : namesToSign)
      if (Status signedFile = WriteSignature(*signing.key, siteDir, name); !signedFile.ok()) return signedFile;
  const MinisignSecretKey* recordKey = signing.drop ? nullptr : signing.key;
  if (Status recorded = WriteSiteRecord(siteDir, edit.list, recordKey, recordChanges); !recorded.ok()) return recorded;
  if (Status written = ReplaceFileText(WithTrailingDelimiter(siteDir) + kUpdateListName, edit.list); !written.ok())
    return written;
  if (Status listSigned = SignList(siteDir, ListedNames(edit.list), signing); !listSigned.ok()) return listSigned;
  for (const std::string& name : edit.unlistedNames) {
    os::RemoveFile(WithTrailingDelimiter(siteDir) + name);
    os::RemoveFile(WithTrailingDelimiter(siteDir) + name + kSignatureSuffix);
  }
  return Status();
}

Status SignWholeSite(const MinisignSecretKey& key, const std::string& siteDir, const std::string& listText,
                     const ListBinding& binding) {
  for (const std::string& name : ListedNames(listText))
    if (Status signedFile = WriteSignature(key, siteDir, name); !signedFile.ok()) return signedFile;
  if (Status recorded = WriteSiteRecord(siteDir, listText, &key); !recorded.ok()) return recorded;
  return WriteSignature(key, siteDir, kUpdateListName, binding);
}

bool SiteHistory::WasCarriedInto(const std::string& id, const FileEntry& entry) const {
  return carried.count({id, EntryText(entry)}) > 0;
}

// One line a fact, fields separated by tabs: "withdrawn HEADER TIME" or
// "carried ID ENTRY TIME".
SiteHistory ReadSiteHistory(const std::string& siteDir) {
  SiteHistory history;
  const auto text = ReadFileBounded(WithTrailingDelimiter(siteDir) + kSiteHistoryName, kMaxHistoryBytes);
  if (!text) return history;
  for (std::size_t from = 0; from < text->size();) {
    std::size_t end = text->find('\n', from);
    if (end == std::string::npos) end = text->size();
    std::string line = text->substr(from, end - from);
    from = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::string kind = WordNr(1, line, "\t");
    if (kind == "withdrawn") history.withdrawnHeaders.push_back(WordNr(2, line, "\t"));
    if (kind == "carried") history.carried.insert({WordNr(2, line, "\t"), WordNr(3, line, "\t")});
  }
  return history;
}

std::vector<std::string> HistoryLinesOf(const ListEdit& edit, bool withdrawal) {
  const std::string when = UtcTimeText(os::WallTimeSeconds());
  std::vector<std::string> lines;
  for (const CarriedFile& c : edit.carried)
    lines.push_back("carried\t" + c.toId + "\t" + EntryText(c.entry) + "\t" + when);
  if (withdrawal)
    for (const std::string& id : edit.retiredIds) lines.push_back("withdrawn\t" + BlockHeader(id) + "\t" + when);
  return lines;
}

Status AppendSiteHistory(const std::string& siteDir, const std::vector<std::string>& lines) {
  if (lines.empty()) return Status();
  if (Status made = MakeSiteDir(siteDir); !made.ok()) return made;
  const std::string path = WithTrailingDelimiter(siteDir) + kSiteHistoryName;
  std::string text = ReadFileBounded(path, kMaxHistoryBytes).value_or("");
  for (const std::string& line : lines) text += line + "\r\n";
  return ReplaceFileText(path, text);
}
