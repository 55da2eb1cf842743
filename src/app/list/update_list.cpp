#include "app/list/update_list.h"

#include <exception>
#include <memory>
#include <ostream>

#include "app/context/names.h"
#include "app/fetch/signatures.h"
#include "app/fetch/site_record_check.h"
#include "app/fetch/transfer.h"
#include "app/list/file_entries.h"
#include "platform/os.h"
#include "settings/config.h"
#include "support/contexts.h"
#include "support/fileutil.h"
#include "support/nuldev.h"
#include "support/strfn.h"
#include "support/textfile.h"

namespace {

constexpr std::string_view kUpdateEnd = "</update>";
// Pauses for obsolete updates: the first few only (a long list would
// otherwise take hours).
constexpr int kObsoletePauses = 5;
constexpr std::int64_t kObsoletePauseMs = 400;

void Log(std::string_view line) {
  StdText() << line << std::endl;
}

// Takes the list read from path with the site's record that describes it.
// A list that its site's signature does not cover, that is bound to another
// channel or a past time, or that has no signed record is no list: it is
// cleared.
Status AcceptListRead(RunContext& context, const std::string& path) {
  std::string problem = ListSignatureProblem(context, path);
  Status accepted = problem.empty() ? LoadSiteRecord(context, path) : Status::Error(std::move(problem));
  if (!accepted.ok()) context.updateInfo.clear();
  return accepted;
}

}  // namespace

namespace {

// Whether text begins with prefix, the case of ASCII letters ignored.
bool BeginsWithScheme(std::string_view text, std::string_view scheme) {
  return text.size() >= scheme.size() && UpStr(text.substr(0, scheme.size())) == UpStr(scheme);
}

}  // namespace

bool IsLocalSite(const RunContext& context) {
  return BeginsWithScheme(context.site, "file://");
}

std::string StripFileScheme(std::string_view path) {
  // Where paths have drive letters "file:///C:/upd/" gives "C:/upd/" and
  // "file://\\server\share\" gives "\\server\share\"; elsewhere only "file://"
  // goes: the rest is a native path, "/srv/upd/" keeps its root.
  if (os::kConventions.driveLetters && BeginsWithScheme(path, "file:///")) path.remove_prefix(8);
  if (BeginsWithScheme(path, "file://")) path.remove_prefix(7);
  return std::string(path);
}

std::string TrimmedList(std::string_view text) {
  std::size_t from = 0;
  std::size_t to = text.size();
  while (from < to && static_cast<unsigned char>(text[from]) <= 32) ++from;
  while (to > from && static_cast<unsigned char>(text[to - 1]) <= 32) --to;
  return std::string(text.substr(from, to - from));
}

void TrimList(RunContext& context) {
  context.updateInfo = TrimmedList(context.updateInfo);
}

std::int64_t CountAllSetsBytes(std::string_view list) {
  std::int64_t total = 0;
  for (std::string_view piece : ListPieces(list)) {
    std::string entry = ShortStr(piece);
    const std::size_t colon = entry.find(':');
    if (colon == std::string::npos || colon == 0) continue;
    // What stands behind the last tag or line end is the entry itself.
    const std::size_t cut = entry.find_last_of(">\n\r");
    if (cut != std::string::npos) entry.erase(0, cut + 1);
    const std::int64_t size = FirstNumberOf(WordNr(2, entry, ":"), -1);
    Log(ControlsReplaced(entry));
    if (size > 0) total = AddSizes(total, size);
  }
  StdText() << "total bytes to be downloaded (all sets): " << total << std::endl;
  return total;
}

Status ReadLocalList(const std::string& path, std::string& list) {
  list.clear();
  // Only an ordinary file within the cap is read: a device or an endless
  // file would fill the memory.
  const os::FileInfo info = os::StatTarget(path);
  if (info.exists && info.isRegular && info.size > kMaxUpdateListBytes)
    return Status::Error(ListTooLargeText());
  TextFile file;
  if (info.exists && !info.isRegular) return Status::Error("cannot read " + path);
  if (const Status opened = file.OpenRead(path); !opened.ok())
    return Status::Failed("cannot read " + path, info.exists ? std::string() : opened.message());
  // Where the first "</update>" ends, once the text has one; it never moves.
  std::size_t firstEnd = std::string::npos;
  std::string line;
  while (file.ReadLine(line)) {
    if (!list.empty() && list.size() == firstEnd) list += "\r\n";
    const std::size_t searchFrom = list.size() < kUpdateEnd.size() ? 0 : list.size() - kUpdateEnd.size() + 1;
    list += line;
    if (list.size() > kMaxUpdateListBytes) {  // grew while being read
      list.clear();
      return Status::Error(ListTooLargeText());
    }
    if (firstEnd == std::string::npos) {
      const std::size_t at = list.find(kUpdateEnd, searchFrom);
      if (at != std::string::npos) firstEnd = at + kUpdateEnd.size();
    }
  }
  const Status read =
      file.IoError() ? Status::Failed("cannot read " + path, file.Failure()) : Status();
  file.Close();
  return read;
}

bool ValidateUpdateList(std::string& list) {
  if (list.find("<update") == std::string::npos || list.find(kUpdateEnd) == std::string::npos)
    list.clear();
  if (list.find("<files>") == std::string::npos || list.find("</files>") == std::string::npos)
    list.clear();
  list = TrimmedList(list);
  return !list.empty();
}

std::string SelectUpdate(std::string_view list, const SettingLookup& lookup) {
  // Worked on as a view into the list, so that dropping blocks copies nothing.
  std::string_view rest = list;
  const auto trim = [](std::string_view s) {
    while (!s.empty() && static_cast<unsigned char>(s.front()) <= 32) s.remove_prefix(1);
    while (!s.empty() && static_cast<unsigned char>(s.back()) <= 32) s.remove_suffix(1);
    return s;
  };
  const auto dropFirstBlock = [](std::string_view s) {
    const std::size_t end = s.find(kUpdateEnd);
    return end == std::string_view::npos ? std::string_view() : s.substr(end + kUpdateEnd.size());
  };

  const std::string recorded = lookup("LiveUpdate.lastUpdateInfo=<noupdate id=\"noupdate\">");
  const std::size_t at = recorded.empty() ? std::string_view::npos : rest.find(recorded);
  if (at != std::string_view::npos) {
    rest = dropFirstBlock(rest.substr(at));
  } else {
    rest = trim(rest);
    int dropped = 0;
    while (!rest.empty()) {
      const std::string marker = lookup("LiveUpdate.lastUpdateInfo=<");
      if (rest > std::string_view(marker)) break;
      if (rest.find(kUpdateEnd) == std::string_view::npos) break;
      Log("ignoring an obsolete update from update-list");
      rest = dropFirstBlock(rest);
      if (++dropped <= kObsoletePauses) os::SleepMs(kObsoletePauseMs);
      rest = trim(rest);
    }
  }
  CountAllSetsBytes(rest);
  const std::size_t end = rest.find(kUpdateEnd);
  if (end == std::string_view::npos) return {};
  return TrimmedList(rest.substr(0, end + kUpdateEnd.size()));
}

std::string ListTooLargeText() {
  return "the list is larger than " + std::to_string(kMaxUpdateListBytes >> 20) + " MiB";
}

namespace {

// Reads the list of a directory site into context.updateInfo.
Status ReadDirectoryList(RunContext& context) {
  std::shared_ptr<IContext> readOnly = FileModeContext(0);
  Log("Will update through local file system.");
  const std::string sitePath = StripFileScheme(context.site + kUpdateListName);
  const std::string listPath = LocalListToRead(sitePath);
  Status read = ReadLocalList(listPath, context.updateInfo);
  if (!read.ok()) {
    Log("Cannot connect to the update site!");
    context.updateInfo.clear();
  }
  if (!context.updateInfo.empty()) read = AcceptListRead(context, listPath);
  if (listPath != sitePath) DeleteFileChecked(listPath);
  return read;
}

// Fetches the list of an internet site into context.updateInfo. A transfer's
// own failure says more than the broken text it may have left.
Status FetchInternetList(RunContext& context) {
  const std::string workFile = WithTrailingDelimiter(WorkDirectory()) + kUpdateListName;
  // The list is capped, so an endless one fills neither the disk nor the
  // memory; an empty answer is no list, and the next method is tried.
  Status read = FetchNonEmptyFile(context.site + kUpdateListName, workFile, kMaxUpdateListBytes);
  if (FileSize64(workFile) > kMaxUpdateListBytes)
    read = Status::Error(ListTooLargeText());
  else
    context.updateInfo = ReadTextFile(workFile, "\r\n");
  if (!context.updateInfo.empty()) {
    if (Status accepted = AcceptListRead(context, workFile); !accepted.ok()) read = accepted;
  }
  // Gone before the next reading, so that a failed fetch cannot reuse it.
  DeleteFileChecked(workFile);
  return read;
}

}  // namespace

Status GetUpdateList(RunContext& context) {
  context.updateInfo.clear();
  context.record.reset();
  Status read;
  try {
    read = IsLocalSite(context) ? ReadDirectoryList(context) : FetchInternetList(context);
  } catch (const std::exception&) {
    Log("Cannot connect to the update site!");
    context.updateInfo.clear();
  } catch (...) {
    Log("Unknown error");
    context.updateInfo.clear();
  }
  const bool received = !context.updateInfo.empty();
  Status outcome;
  if (!ValidateUpdateList(context.updateInfo)) {
    outcome = !read.ok() ? read
              : Status::Error(received ? "the list is not a valid update list"
                                       : "no list was received");
    Log("the update list from " + ControlsReplaced(context.site) +
        " is unusable: " + outcome.message());
  }
  context.updateInfo = SelectUpdate(context.updateInfo, [](std::string_view keySpec) {
    return CfgGetStr(keySpec);
  });
  return outcome;
}
