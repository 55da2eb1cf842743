#include "app/fetch/site_record_check.h"

#include <ostream>

#include "app/context/names.h"
#include "app/fetch/side_files.h"
#include "app/fetch/signatures.h"
#include "platform/os.h"
#include "support/fileutil.h"
#include "support/nuldev.h"
#include "support/strfn.h"

namespace {

constexpr const char* kMakerMustSign = "; its maker must run tvqpublish sign";

std::string RecordProblem(const std::string& what) {
  return std::string("the site's record ") + kSiteRecordName + " " + what;
}

Status WritePrivateFile(const std::string& path, const std::string& text) {
  StatusOr<os::File> file = os::File::Open(path, os::OpenFor::CreateTruncate, 0600);
  if (!file) return file.status();
  if (Status written = file->Write(text.data(), text.size()); !written.ok()) return written;
  return file->Close();
}

// The record's text checked against its signature: the bytes are written
// to a private file of the work directory and verified there, so that the
// bytes checked are the bytes read.
bool RecordSignatureHolds(const RunContext& context, const std::string& text) {
  const std::string copy = WithTrailingDelimiter(WorkDirectory()) + "." + kSiteRecordName + ".checked";
  const Status written = WritePrivateFile(copy, text);
  if (!written.ok()) StdText() << "cannot write " << copy << ": " << written.message() << std::endl;
  const bool holds = written.ok() && SiteFileSignatureHolds(context, kSiteRecordName, copy);
  DeleteFileChecked(copy);
  return holds;
}

// The site's record as read, and how far it may be used.
struct RecordRead {
  std::optional<SiteRecord> record;  // a record that reads
  std::string why;                   // why it is not there, does not read, or may not be used whole
  bool describesList = false;        // it names the list's exact bytes
  bool fatal = false;                // the list may not be used
};

// Reads the record; why there is none when the site has none.
RecordRead FetchRecord(const RunContext& context, std::string& text) {
  const SideFile file = FetchSideFile(context, kSiteRecordName, kMaxSiteRecordBytes);
  RecordRead read;
  if (file.problem == SideFile::Problem::Missing || (file.problem == SideFile::Problem::None && file.text.empty())) {
    read.why = std::string("the site has no record of its files' digests (") + kSiteRecordName +
               (file.detail.empty() ? "" : ": " + file.detail) + ")";
    read.fatal = SignaturesRequired();
    return read;
  }
  // A record that is there but cannot be read may hold back updates: the
  // list is not used without it.
  read.fatal = true;
  std::string parseProblem;
  if (file.problem != SideFile::Problem::None) read.why = RecordProblem("cannot be read: " + file.detail);
  else if (!(read.record = ParseSiteRecord(file.text, &parseProblem))) read.why = RecordProblem("does not read: " + parseProblem);
  else read.fatal = false;
  text = file.text;
  return read;
}

// The record checked against the list at listPath and, with signatures, its signature.
RecordRead ReadRecordFor(const RunContext& context, const std::string& listPath) {
  std::string text;
  RecordRead read = FetchRecord(context, text);
  if (!read.record) return read;
  ContentDigest list;
  if (Status listRead = DigestOfFile(listPath, list); !listRead.ok()) {
    read = {std::nullopt, listRead.message(), false, true};
  } else if (list != read.record->list) {
    read.why = RecordProblem("describes another list (the site may be changing)");
    read.fatal = SignaturesRequired();
  } else if (SignaturesRequired() && !RecordSignatureHolds(context, text)) {
    read = {std::nullopt, RecordProblem("is not signed by a trusted key"), false, true};
  } else {
    read.describesList = true;
  }
  return read;
}

// Says which rollouts of the record name no update of the list.
void NoteUnknownRollouts(const SiteRecord& record, const std::string& listText) {
  for (const auto& [id, rollout] : record.rollouts)
    if (listText.find("<update id=\"" + id + "\">") == std::string::npos)
      StdText() << "the site's record names a rollout of update " << ControlsReplaced(id)
                << ", which the list does not hold; passed over" << std::endl;
}

}  // namespace

Status LoadSiteRecord(RunContext& context, const std::string& listPath) {
  context.record.reset();
  RecordRead read = ReadRecordFor(context, listPath);
  if (read.fatal) return Status::Error(read.why + (SignaturesRequired() ? kMakerMustSign : ""));
  if (!read.why.empty()) StdText() << "site record: " << read.why << std::endl;
  if (!read.record) return Status();
  // A record of another list still holds back what it rolls out; its
  // digests describe other files.
  if (!read.describesList) read.record->files.clear();
  NoteUnknownRollouts(*read.record, context.updateInfo);
  context.record = std::move(read.record);
  return Status();
}

const ContentDigest* RecordedDigest(const RunContext& context, const std::string& listedName) {
  return context.record ? context.record->FileNamed(listedName) : nullptr;
}

Status CheckRecordedDigest(const RunContext& context, const std::string& listedName, const ContentDigest& actual) {
  const ContentDigest* recorded = RecordedDigest(context, listedName);
  if (!recorded) {
    if (context.record && SignaturesRequired()) return Status::Error("the signed record has no digest for it");
    return Status();
  }
  const std::string mismatch = DigestMismatch(actual, *recorded);
  return mismatch.empty() ? Status() : Status::Error(mismatch + " in the site's record");
}
