#include "app/fetch/download.h"

#include <algorithm>
#include <exception>
#include <ostream>
#include <string>
#include <vector>

#include "app/context/display.h"
#include "app/context/names.h"
#include "app/fetch/delta_fetch.h"
#include "app/fetch/kept_downloads.h"
#include "app/fetch/kept_fetch.h"
#include "app/fetch/signatures.h"
#include "app/fetch/site_record_check.h"
#include "app/fetch/transfer.h"
#include "app/fetch/written_digests.h"
#include "app/list/file_entries.h"
#include "app/list/update_list.h"
#include "platform/os.h"
#include "platform/status.h"
#include "support/fileutil.h"
#include "support/lingua.h"
#include "support/nuldev.h"
#include "support/strfn.h"

namespace {

const std::string kSeparatorLine(70, '-');

void Log(std::string_view line) {
  StdText() << line << std::endl;
}

// Whether the file at path passes its listed size and checksum, and why
// not. The checksum is the one computed as the file was written where that
// covers it.
Status VerifyListed(const std::string& path, const FileEntry& entry, bool covered,
                    const WrittenDigests& digests) {
  if (!FileExists(path)) return Status::Error("the file did not arrive");
  if (entry.size >= 0 && FileSize64(path) != entry.size)
    return Status::Error("the file's size is " + std::to_string(FileSize64(path)) +
                         " bytes, listed " + std::to_string(entry.size));
  if (entry.checksum == kNoChecksum) return Status();
  const StatusOr<std::int32_t> checksum =
      covered ? StatusOr<std::int32_t>(digests.Checksum()) : FileChecksumOf(path);
  if (!checksum) return Status::Failed("the file cannot be read", checksum.status());
  if (*checksum != entry.checksum)
    return Status::Error("the file's checksum differs from the listed one");
  return Status();
}

// Gives the kept bytes their listed name in the work directory: a second
// name for the same file where the volume allows it, else a copy.
void PlaceKept(const std::string& data, const std::string& target) {
  os::RemoveFile(target);
  if (!os::FileExists(data) || os::LinkFile(data, target)) return;
  CopyFileRetry(data, target, false, kCopyBufferSize, nullptr);
}

// Says which file is fetched, and about how long it takes.
void AnnounceFile(const FileEntry& entry, const std::string& shownName) {
  Log("downloading file \"" + shownName + "\": " + std::to_string(entry.size) + " bytes...");
  if (entry.size < kAssumedBytesPerMinute) {
    StdText() << "please wait (this should take a few seconds)...";
  } else {
    StdText() << "please wait (" << entry.size / kAssumedBytesPerMinute << " min. approximately)...";
  }
  StdText().flush();
}

// Gives a fetched file whose listed name ends in '~' its restored name.
// False when the rename failed.
bool RestoreName(const std::string& workDir, const std::string& listed,
                 const std::string& restored) {
  // A retried file replaces what an earlier attempt left under the name;
  // the rename alone would fail on it and check the old bytes again.
  if (FileExists(workDir + listed)) DeleteFileChecked(workDir + restored);
  return RenameFileChecked(workDir + listed, workDir + restored);
}

// Whether the file at path has the bytes the site's record gives for it.
Status CheckRecorded(const RunContext& context, const FileEntry& entry, const std::string& path,
                     bool covered, WrittenDigests& digests) {
  ContentDigest actual;
  if (!RecordedDigest(context, entry.name)) return CheckRecordedDigest(context, entry.name, actual);
  if (covered) actual = digests.RecordDigest();
  else if (Status read = DigestOfFile(path, actual); !read.ok()) return read;
  return CheckRecordedDigest(context, entry.name, actual);
}

// Whether the file at path passes its listed size and checksum, its
// signature and its recorded digest. The digests computed as it was written
// are used when they cover it: the work file is private to this run, so
// those are its bytes.
Status Check(const RunContext& context, const FileEntry& entry, const std::string& path,
             bool covered, WrittenDigests& digests) {
  if (Status listed = VerifyListed(path, entry, covered, digests); !listed.ok()) return listed;
  const std::string prehash = covered ? digests.Prehash() : std::string();
  if (!SiteFileSignatureHolds(context, entry.name, path, prehash.empty() ? nullptr : &prehash))
    return Status::Error("its signature does not hold");
  return CheckRecorded(context, entry, path, covered, digests);
}

// A verified file: kept as verified for a later run, runnable when it is a
// program, and recorded among this run's verified files.
void AcceptVerified(RunContext& context, KeptRecord& record, const std::string& path,
                    const std::string& name) {
  record.verified = true;
  WriteKeptRecord(record);
  // A downloaded program or script must be able to run once installed, as a
  // copied one can (the update's own installation program is started from here).
  SetPermissionsByContent(path);
  Log(" OK!");
  context.verifiedFiles.push_back(name);
  if (StartsWith(name, "!update")) {
    context.methodFile = name;
    Log(" (this is the update method)");
  }
}

// A packed program made as the program it expands to: it is installed as
// it is, and has nothing kept to record.
void AcceptMadeProgram(RunContext& context, const std::string& path, const std::string& listedName) {
  SetPermissionsByContent(path);
  Log(" OK!");
  context.verifiedFiles.push_back(listedName);
}

// Brings a listed file with a plain name into the work directory: made from
// what the installation already has (then `made` says what), else fetched
// whole into its kept place and given its listed name there.
Status BringIntoWorkDir(RunContext& context, const FileEntry& entry, const std::string& workDir,
                        KeptRecord& record, WrittenDigests& digests, std::optional<MadeFile>& made) {
  if (StatusOr<MadeFile> fromInstalled = MakeFromInstalled(context, entry, workDir, digests); fromInstalled) {
    made = *fromInstalled;
    return Status();
  }
  // Bytes that only their size would check are never continued or reused.
  const bool continuable = entry.checksum != kNoChecksum || RecordedDigest(context, entry.name);
  Status fetched = FetchKept(context, entry, continuable, record, &digests);
  // Bytes that did not all arrive stay kept, to be continued; they are not
  // checked, and nothing of them goes into the work directory.
  if (fetched.ok()) PlaceKept(KeptDataPath(entry.name), workDir + entry.name);
  return fetched;
}

// Brings one listed file into the work directory and checks it. OK when it
// arrived under its restored name with the listed size and checksum; else
// the file's name and why it failed.
Status FetchAndVerify(RunContext& context, std::string_view piece) {
  FileEntry entry;
  ParseFileEntry(piece, entry);
  const std::string shownName = ControlsReplaced(entry.name);
  AnnounceFile(entry, shownName);
  // A name with a path or a device in it would be written outside the work
  // directory: it is neither fetched nor written, and fails its check.
  // An entry longer than a short string would lose its size and checksum
  // when cut, so it is never fetched.
  const std::string nameProblem = FileNameProblem(entry.name);
  const bool plain = entry.whole && nameProblem.empty();
  const std::string workDir = WithTrailingDelimiter(WorkDirectory());
  Status fetched;
  KeptRecord record{KeptIdentityOf(context, entry), {}, false};
  WrittenDigests digests(entry.checksum != kNoChecksum, RecordedDigest(context, entry.name) != nullptr,
                         SignaturesRequired());
  std::optional<MadeFile> made;
  if (plain) fetched = BringIntoWorkDir(context, entry, workDir, record, digests, made);
  StdText() << '\r' << std::string(69, ' ') << '\r';
  StdText().flush();
  if (made && made->expandedProgram) {
    AcceptMadeProgram(context, made->path, entry.name);
    return Status();
  }

  const bool restore = plain && EndsWith(entry.name, "~");
  const std::string name = restore ? RestoredName(entry.name) : entry.name;
  const bool atPath = !restore || RestoreName(workDir, entry.name, name);
  const std::string path = workDir + name;
  const bool covered = atPath && digests.Cover(FileSize64(path));
  const Status outcome = !entry.whole ? Status::Error("the entry is longer than 255 characters")
                        : !plain ? Status::Error("not a plain file name: " + nameProblem)
                        : !fetched.ok() ? fetched
                                        : Check(context, entry, path, covered, digests);
  if (outcome.ok()) {
    AcceptVerified(context, record, path, name);
    return outcome;
  }
  // A file that does not verify is removed at once, so a failed run leaves
  // no full disk behind; the next attempt starts it from its first byte.
  if (plain) {
    os::RemoveFile(path);
    os::RemoveFile(workDir + entry.name);
    if (fetched.ok()) DiscardKept(entry.name);
  }
  Status failure = Status::Error(shownName + ": " + outcome.message());
  Log(" ERROR!");
  Log("  (" + failure.message() + ")");
  return failure;
}

// What is kept for files the list no longer names, or names otherwise, goes;
// so do patches the record no longer names for them.
void KeepOnlyListed(const RunContext& context, const std::vector<std::string_view>& pieces) {
  std::vector<KeptIdentity> listed;
  FileEntry entry;
  for (std::string_view piece : pieces) {
    if (!ParseFileEntry(piece, entry) || !entry.whole || !IsPlainFileName(entry.name)) continue;
    listed.push_back(KeptIdentityOf(context, entry));
    if (context.record)
      for (const RecordedPatch* patch : context.record->PatchesOf(entry.name))
        listed.push_back(KeptIdentityOf(context, PatchFileEntry(*patch)));
  }
  KeepOnly(listed);
}

}  // namespace

namespace {

// One listed file, with up to five attempts; the last attempt's failure when
// none passed, or "cancelled" when Cancel ended the attempts. The file is
// the `number`th listed: from the third on a retry waits longer.
Status DownloadWithRetries(RunContext& context, std::string_view piece, std::size_t number) {
  const std::int64_t saved = context.progress.downloaded;
  for (int attempt = 1;; ++attempt) {
    // A retried file starts its progress anew.
    context.progress.downloaded = saved;
    Status outcome;
    try {
      outcome = FetchAndVerify(context, piece);
    } catch (const std::exception& e) {
      outcome = Status::Error(e.what());
      Log(std::string(" ERROR: ") + e.what());
    } catch (...) {
      outcome = Status::Error("unknown exception");
      Log(" ERROR: unknown exception!");
    }
    if (outcome.ok() || attempt >= kDownloadAttempts) return outcome;
    os::SleepMs(kRetryPauseMs);
    if (number > 2 && !CancelRequested()) os::SleepMs(kLateEntryExtraPauseMs);
    if (CancelRequested()) return Status::Error("cancelled");
  }
}

}  // namespace

Status DownloadUpdateFiles(RunContext& context) {
  try {
    const std::string files = FilesSectionOf(context.updateInfo);
    context.verifiedFiles.clear();
    if (CtrlDown() && ShiftDown()) InfoBox("downloading: \r" + ControlsReplaced(files));
    Log("will download:");
    Log(" {" + ControlsReplaced(files) + "}");
    Log(kSeparatorLine);
    context.progress.total = CountCurrentSetBytes(files);
    ShowUpdateId(UpdateIdOf(context.updateInfo));

    const std::vector<std::string_view> pieces = ListPieces(files);
    KeepOnlyListed(context, pieces);
    FileEntry probe;
    for (std::size_t i = 1; i <= pieces.size(); ++i) {
      if (!ParseFileEntry(pieces[i - 1], probe)) continue;
      if (Status file = DownloadWithRetries(context, pieces[i - 1], i); !file.ok()) return file;
    }
  } catch (const std::exception& e) {
    Log(kSeparatorLine);
    return Status::Error(e.what());
  } catch (...) {
    Log(kSeparatorLine);
    return Status::Error("unknown exception");
  }
  Log(kSeparatorLine);
  return Status();
}
