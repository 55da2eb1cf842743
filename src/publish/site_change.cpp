#include "publish/site_change.h"

#include <filesystem>

#include "app/signatures.h"
#include "app/update_list.h"
#include "platform/os.h"
#include "publish/site_signing.h"
#include "support/fileutil.h"
#include "support/strfn.h"

namespace {

constexpr std::int64_t kMaxWithdrawnBytes = 16 << 20;

// Writes text beside path and renames it over path, so a reader sees the
// old text or the new one.
Status ReplaceText(const std::string& path, const std::string& text) {
  const std::string temp = path + ".tmp";
  auto file = os::File::Open(temp, os::OpenFor::CreateTruncate);
  if (file && file->Write(text.data(), text.size()) && file->Sync() && file->Close() &&
      os::RenameReplace(temp, path))
    return Status();
  const std::string cause = os::LastErrorText();
  os::RemoveFile(temp);
  return Status::Failed("cannot write " + path, cause);
}

Status CopyIn(const std::string& siteDir, const StagedFile& file) {
  const std::string target = AddBackslash(siteDir) + file.listedName;
  std::error_code ec;
  if (std::filesystem::equivalent(file.path, target, ec)) return Status();
  return CopyFileBuffered(file.path, target, true, kCopyBufferSize, nullptr);
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
                     const std::vector<std::string>& namesToSign, const SiteSigning& signing) {
  if (!os::DirectoryExists(siteDir) && !os::MakeDirectories(siteDir))
    return Status::Failed("cannot create " + siteDir, os::LastErrorText());
  for (const StagedFile& file : files)
    if (Status copied = CopyIn(siteDir, file); !copied.ok()) return copied;
  if (signing.key && !signing.drop)
    for (const std::string& name : namesToSign)
      if (Status signedFile = WriteSignature(*signing.key, siteDir, name); !signedFile.ok()) return signedFile;
  if (Status written = ReplaceText(AddBackslash(siteDir) + kUpdateListName, edit.list); !written.ok())
    return written;
  if (Status listSigned = SignList(siteDir, ListedNames(edit.list), signing); !listSigned.ok()) return listSigned;
  for (const std::string& name : edit.unlistedNames) {
    os::RemoveFile(AddBackslash(siteDir) + name);
    os::RemoveFile(AddBackslash(siteDir) + name + kSignatureSuffix);
  }
  return Status();
}

std::vector<std::string> WithdrawnHeaders(const std::string& siteDir) {
  std::vector<std::string> headers;
  const auto text = ReadFileBounded(AddBackslash(siteDir) + kWithdrawnListName, kMaxWithdrawnBytes);
  if (!text) return headers;
  std::size_t from = 0;
  while (from < text->size()) {
    std::size_t end = text->find('\n', from);
    if (end == std::string::npos) end = text->size();
    const std::string line = text->substr(from, end - from);
    const std::string header = line.substr(0, line.find_first_of("\t\r"));
    if (StartsWith(header, "<update")) headers.push_back(header);
    from = end + 1;
  }
  return headers;
}

Status RecordWithdrawal(const std::string& siteDir, const std::string& header) {
  const std::string path = AddBackslash(siteDir) + kWithdrawnListName;
  std::string text = ReadFileBounded(path, kMaxWithdrawnBytes).value_or("");
  text += header + "\twithdrawn " + UtcTimeText(os::WallTimeSeconds()) + "\r\n";
  return ReplaceText(path, text);
}
