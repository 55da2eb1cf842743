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

bool WritePrivateFile(const std::string& path, const std::string& text) {
  auto file = os::File::Open(path, os::OpenFor::CreateTruncate, 0600);
  return file && file->Write(text.data(), text.size()) && file->Close();
}

// The record's text checked against its signature: the bytes are written
// to a private file of the work directory and verified there, so that the
// bytes checked are the bytes read.
bool RecordSignatureHolds(const RunContext& context, const std::string& text) {
  const std::string copy = WithTrailingDelimiter(WorkDirectory()) + "." + kSiteRecordName + ".checked";
  const bool holds = WritePrivateFile(copy, text) && SiteFileSignatureHolds(context, kSiteRecordName, copy);
  DeleteFileChecked(copy);
  return holds;
}

// The record that describes the list at listPath, or why there is none.
std::optional<SiteRecord> ReadRecordFor(const RunContext& context, const std::string& listPath,
                                        std::string& why) {
  const SideFile file = FetchSideFile(context, kSiteRecordName, kMaxSiteRecordBytes);
  if (file.problem == SideFile::Problem::Missing || (file.problem == SideFile::Problem::None && file.text.empty())) {
    why = std::string("the site has no record of its files' digests (") + kSiteRecordName +
          (file.detail.empty() ? "" : ": " + file.detail) + ")";
    return std::nullopt;
  }
  if (file.problem != SideFile::Problem::None) {
    why = RecordProblem("cannot be read: " + file.detail);
    return std::nullopt;
  }
  std::string parseProblem;
  std::optional<SiteRecord> record = ParseSiteRecord(file.text, &parseProblem);
  ContentDigest list;
  if (!record) {
    why = RecordProblem("does not read: " + parseProblem);
  } else if (Status read = DigestOfFile(listPath, list); !read.ok()) {
    why = read.message();
  } else if (list != record->list) {
    why = RecordProblem("describes another list (the site may be changing)");
  } else if (SignaturesRequired() && !RecordSignatureHolds(context, file.text)) {
    why = RecordProblem("is not signed by a trusted key");
  } else {
    return record;
  }
  return std::nullopt;
}

}  // namespace

Status LoadSiteRecord(RunContext& context, const std::string& listPath) {
  context.record.reset();
  std::string why;
  context.record = ReadRecordFor(context, listPath, why);
  if (context.record || why.empty()) return Status();
  if (SignaturesRequired()) return Status::Error(why + kMakerMustSign);
  StdText() << "site record not used: " << why << std::endl;
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
