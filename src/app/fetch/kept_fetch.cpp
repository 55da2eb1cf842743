#include "app/fetch/kept_fetch.h"

#include <ostream>

#include "app/context/display.h"
#include "app/list/update_list.h"
#include "platform/os.h"
#include "support/nuldev.h"

KeptIdentity KeptIdentityOf(const RunContext& context, const FileEntry& file) {
  return {context.site, file.name, file.size, file.checksum};
}

Status FetchKept(RunContext& context, const FileEntry& file, bool continuable, KeptRecord& record,
                 FetchObserver* written) {
  const std::string data = KeptDataPath(file.name);
  if (!continuable) DiscardKept(file.name);
  const KeptState kept = KeptStateOf(record.identity);
  record.validator = kept.validator;
  if (kept.verified || kept.whole) {
    if (kept.verified) StdText() << " (verified in an earlier run, not fetched again)" << std::endl;
    AddDownloadedBytes(context.progress, file.size);
    return {};
  }
  // Made when a file is first fetched.
  if (Status made = os::MakeDirectory(KeptFolder()); !made.ok()) {
    if (!os::StatPath(KeptFolder()).isDirectory)
      return Status::Failed("cannot create " + KeptFolder(), made);
  }
  TransferResume resume;
  resume.total = file.size;
  resume.validator = kept.validator;
  // Recorded before the first byte is written, so a kill keeps bytes that
  // say which file they belong to.
  resume.onStart = [&](const std::string& validator) {
    record.validator = validator;
    WriteKeptRecord(record);
    return true;
  };
  if (IsLocalSite(context)) {
    const std::string source = StripFileScheme(context.site + file.name);
    // A file of another size than listed is not copied: it could not pass.
    if (file.size >= 0 && os::StatTarget(source).size != file.size)
      return Status::Error("the file's size on the site differs from the listed one");
    return CopyLocalFile(source, data, file.size, &resume, context.progress);
  }
  // The transfer stops one byte past the listed size.
  const std::string url = context.site + UrlPathOfName(file.name);
  return FetchFile(url, data, &context.progress, file.size, written, &resume);
}
