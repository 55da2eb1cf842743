#include "app/fetch/side_files.h"

#include "app/context/names.h"
#include "app/fetch/minisign.h"
#include "app/fetch/transfer.h"
#include "app/list/file_entries.h"
#include "app/list/update_list.h"
#include "platform/os.h"
#include "support/fileutil.h"
#include "support/strfn.h"

namespace {

SideFile ReadSideFile(const std::string& path, std::int64_t maxBytes) {
  const os::FileInfo info = os::StatTarget(path);
  if (!info.exists) return {};
  const std::string limit = "more than " + std::to_string(maxBytes) + " bytes";
  if (info.isRegular && info.size > maxBytes) return {{}, SideFile::Problem::TooLarge, limit};
  auto text = ReadFileBounded(path, maxBytes);
  if (!text) {
    // It may have grown while being read.
    if (os::StatTarget(path).size > maxBytes) return {{}, SideFile::Problem::TooLarge, limit};
    return {{}, SideFile::Problem::Unreadable, Status::Failed("cannot be read", text.status()).message()};
  }
  return {*text, SideFile::Problem::None, {}};
}

}  // namespace

SideFile FetchSideFile(const RunContext& context, const std::string& name, std::int64_t maxBytes) {
  if (IsLocalSite(context)) return ReadSideFile(StripFileScheme(context.site + name), maxBytes);
  const std::string target = WithTrailingDelimiter(WorkDirectory()) + "." + name;
  // The clean-up of the work directory passes over hidden names: whatever an
  // interrupted run left here goes before the fetch.
  DeleteFileChecked(target);
  const Status fetched = FetchFile(context.site + UrlPathOfName(name), target, nullptr, maxBytes);
  SideFile file = ReadSideFile(target, maxBytes);
  if (!fetched.ok() && file.problem == SideFile::Problem::None)
    file = {{}, SideFile::Problem::Missing, "could not be fetched: " + fetched.message()};
  DeleteFileChecked(target);
  return file;
}
