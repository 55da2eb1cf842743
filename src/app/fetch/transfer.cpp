#include "app/fetch/transfer.h"

#include <algorithm>
#include <optional>
#include <ostream>
#include <vector>

#include "app/context/display.h"
#include "app/context/names.h"
#include "app/context/run_context.h"
#include "app/list/file_entries.h"
#include "platform/os.h"
#include "platform/status.h"
#include "support/fileutil.h"
#include "support/gathered_writer.h"
#include "support/nuldev.h"
#include "support/strfn.h"

namespace {

TransferSettings transferSettings;
std::optional<std::int64_t> budgetStartMs;  // when the run's transfers began

os::HttpRequest RequestFor(const std::string& url, bool direct) {
  os::HttpRequest request;
  request.url = url;
  request.direct = direct;
  request.userAgent = kTransferUserAgent;
  request.connectTimeoutSeconds = transferSettings.connectTimeoutSeconds;
  request.stallSeconds = transferSettings.stallSeconds;
  request.lowSpeedBytesPerSecond = transferSettings.lowSpeedBytesPerSecond;
  request.maxBlock = kTransferBlockSize;
  return request;
}

Status BudgetSpent() {
  return Status::Error("the update site took more than " +
                       std::to_string(transferSettings.runBudgetSeconds) + " s in all");
}

Status SentTooMuch() {
  return Status::Error("the site sent more than expected");
}

// A failed method's cause, unless the run's transfer time ran out meanwhile:
// that is then why it failed.
Status MethodOutcome(Status outcome) {
  if (!outcome.ok() && TransferBudgetSpent()) return BudgetSpent();
  return outcome;
}

// While no data arrives the window still handles its messages, so that
// Cancel works on a slow or stalled server; the run's transfer time ends it too.
bool KeepWaiting() {
  CurrentDisplaySurface().Pump();
  return !CancelRequested() && !TransferBudgetSpent();
}

// Each method tried, and why it failed, goes into the account as well, so
// that a dead proxy or a refused certificate can be told apart afterwards.
void Attempt(const char* method) {
  ShowDiagnostic(method);
  StdText() << method << std::endl;
}

void AttemptFailed(const Status& outcome) {
  if (outcome.ok()) return;
  StdText() << "  failed: " << (outcome.message().empty() ? "unknown cause" : outcome.message())
            << std::endl;
}

// The bytes of the file the target holds that a transfer can continue: none
// without a validator, when the target is no ordinary file (a link is never
// written through), or when it holds the whole file or more.
std::int64_t ContinuableBytes(const std::string& path, const TransferResume* resume) {
  if (!resume || resume->validator.empty()) return 0;
  const os::FileInfo info = os::StatPath(path);
  if (!info.isRegular || info.size <= 0) return 0;
  if (resume->total >= 0 && info.size >= resume->total) return 0;
  return info.size;
}

// The target opened for writing after its first `offset` bytes; with offset
// 0 created fresh, so a link planted in its place is removed, never written
// through.
StatusOr<os::File> OpenTarget(const std::string& path, std::int64_t offset) {
  if (offset > 0) {
    StatusOr<os::File> file = os::File::Open(path, os::OpenFor::ReadWrite);
    if (!file) return file;
    if (file->Size() != offset) return Status::Error("its size has changed");
    if (Status at = file->Seek(offset); !at.ok()) return at;
    return file;
  }
  os::RemoveFile(path);
  return os::File::Open(path, os::OpenFor::CreateNew);
}

// Opens the target to continue it after offset bytes, or, when it cannot be
// continued, fresh (offset becomes 0).
Status OpenTargetAt(const std::string& path, std::int64_t& offset, std::optional<os::File>& file) {
  StatusOr<os::File> opened = OpenTarget(path, offset);
  if (!opened && offset > 0) {
    offset = 0;
    opened = OpenTarget(path, 0);
  }
  if (!opened) return Status::Failed("cannot create " + path, opened.status());
  file = std::move(*opened);
  return Status();
}

// Tells the owner of a continued file which bytes the target now receives.
bool StartedWith(TransferResume* resume, const std::string& validator) {
  if (!resume) return true;
  resume->validator = validator;
  return !resume->onStart || resume->onStart(validator);
}

// Hands the first `size` bytes of the file at path to the observer, so that
// its digests cover a continued file from the first byte. When they cannot
// all be read the observer is told its digests will not cover the file, and
// the file is read again when it is checked.
void ObserveKeptBytes(const std::string& path, std::int64_t size, FetchObserver& observer) {
  StatusOr<os::File> file = os::File::Open(path, os::OpenFor::Read);
  std::string piece;
  std::int64_t seen = 0;
  while (file && seen < size) {
    piece.resize(static_cast<std::size_t>(std::min<std::int64_t>(size - seen, kGatherBytes)));
    const StatusOr<std::int64_t> n = file->Read(piece.data(), piece.size());
    if (!n || *n == 0) break;
    piece.resize(static_cast<std::size_t>(*n));
    seen += *n;
    piece = observer.TakePiece(std::move(piece));
  }
  if (seen != size) observer.Restart(false);
}

// The target of one transfer: the file written, how many bytes of the file
// it holds (continued ones included, counted against the cap), and the first
// failure writing it. A continued file's kept bytes stay only when the answer
// continues them: never a mixed file.
class FetchTarget {
 public:
  FetchTarget(const std::string& path, RunProgress* progress, std::int64_t maxBytes,
              FetchObserver* observer)
      : path_(path), progress_(progress), maxBytes_(maxBytes), observer_(observer) {}

  Status Open(const TransferResume* resume) {
    offset_ = ContinuableBytes(path_, resume);
    status_ = OpenTargetAt(path_, offset_, file_);
    if (status_.ok()) writer_.emplace(*file_, kGatherBytes, observer_);
    if (status_.ok() && observer_) observer_->Restart(true);
    return status_;
  }
  std::int64_t offset() const { return offset_; }

  // Before the first byte of the body: the kept bytes are counted and seen,
  // or, when the answer is the whole file, dropped.
  bool Answered(const os::HttpAnswer& answer) {
    if (answer.continues) {
      received_ = offset_;
      if (progress_) AddDownloadedBytes(*progress_, offset_);
      if (observer_) ObserveKeptBytes(path_, offset_, *observer_);
      return true;
    }
    if (offset_ == 0) return true;
    writer_.reset();
    file_->Close();
    offset_ = 0;
    status_ = OpenTargetAt(path_, offset_, file_);
    if (status_.ok()) writer_.emplace(*file_, kGatherBytes, observer_);
    return status_.ok();
  }

  // One block of the body; false stops the transfer. Progress and Cancel go
  // by the block; the file is written, and its bytes observed, a mebibyte
  // at a time.
  bool Take(const char* data, std::size_t size) {
    if (Status appended = writer_->Append(data, size); !appended.ok()) return WriteFailed(appended);
    received_ += static_cast<std::int64_t>(size);
    if (progress_) AddDownloadedBytes(*progress_, static_cast<std::int64_t>(size));
    return !CancelRequested() && !OverCap();
  }

  // The transfer's outcome once the file is complete on disk: a write
  // failure or a body over the cap says more than what the transfer saw.
  Status Finish(Status received) {
    if (file_ && writer_) WriteFailed(writer_->Flush());
    if (file_) WriteFailed(file_->Close());
    if (!status_.ok()) return status_;
    if (OverCap()) return SentTooMuch();
    return received;
  }

 private:
  bool OverCap() const { return maxBytes_ >= 0 && received_ > maxBytes_; }
  // Keeps the first failure writing the file, with its cause; whether
  // written is OK.
  bool WriteFailed(const Status& written) {
    if (status_.ok() && !written.ok()) status_ = Status::Failed("cannot write " + path_, written);
    return written.ok();
  }

  const std::string& path_;
  RunProgress* const progress_;
  const std::int64_t maxBytes_;
  FetchObserver* const observer_;
  std::optional<os::File> file_;
  std::optional<GatheredWriter> writer_;
  std::int64_t offset_ = 0;
  std::int64_t received_ = 0;
  Status status_;
};

std::string LocalValidator(const os::FileInfo& source) {
  return "file " + std::to_string(source.size) + " " + std::to_string(source.modifiedSeconds);
}

}  // namespace

const TransferSettings& CurrentTransferSettings() {
  return transferSettings;
}

void SetTransferSettings(const TransferSettings& settings) {
  transferSettings = settings;
  StartTransferBudget();
}

void StartTransferBudget() {
  budgetStartMs = os::TickMs();
}

bool TransferBudgetSpent() {
  if (!budgetStartMs) StartTransferBudget();
  return os::TickMs() - *budgetStartMs >= transferSettings.runBudgetSeconds * 1000;
}

Status InternetFetch(int accessType, const std::string& url, const std::string& targetPath,
                     RunProgress* progress, std::int64_t maxBytes, FetchObserver* observer,
                     TransferResume* resume) {
  try {
    if (TransferBudgetSpent()) return BudgetSpent();
    FetchTarget target(targetPath, progress, maxBytes, observer);
    if (Status opened = target.Open(resume); !opened.ok()) return opened;
    os::HttpRequest request = RequestFor(url, accessType == kInternetOpenTypeDirect);
    request.maxBytes = maxBytes;
    if (resume) {
      request.resumeFrom = target.offset();
      request.resumeTotal = resume->total;
      request.ifRange = resume->validator;
      request.onAnswer = [&](const os::HttpAnswer& answer) {
        return target.Answered(answer) &&
               StartedWith(resume, answer.refused ? std::string() : answer.validator);
      };
    }
    const auto sink = [&](const char* data, std::size_t size) { return target.Take(data, size); };
    Status outcome = target.Finish(os::HttpGet(request, sink, KeepWaiting));
    if (outcome.ok() && CancelRequested()) return Status::Error("the transfer was stopped");
    return MethodOutcome(std::move(outcome));
  } catch (...) {
    return Status::Error("the transfer failed unexpectedly");
  }
}

namespace {

// The last-resort method: the whole file in one call, never continued, its
// bytes not seen by the observer. Bytes the other methods gathered that can
// be continued are never written over: the whole file arrives beside them
// and takes their place only once it is all there, so a drop here leaves
// them, with their record, for the next attempt to continue.
Status DownloadWhole(const std::string& url, const std::string& targetPath, RunProgress* progress,
                     std::int64_t maxBytes, FetchObserver* observer, TransferResume* resume) {
  const bool keepPartial = resume && !resume->validator.empty() && FileSize64(targetPath) > 0;
  const std::string path = keepPartial ? targetPath + ".whole" : targetPath;
  if (observer && !keepPartial) observer->Restart(false);
  Status outcome;
  try {
    if (!keepPartial && !StartedWith(resume, {})) return Status::Error("the transfer was stopped");
    os::HttpRequest request = RequestFor(url, false);
    request.maxBytes = maxBytes;
    outcome = os::HttpDownloadToFile(request, path, KeepWaiting);
  } catch (...) {
    outcome = Status::Error("the transfer failed unexpectedly");
  }
  if (outcome.ok() && maxBytes >= 0 && FileSize64(path) > maxBytes) outcome = SentTooMuch();
  if (keepPartial) {
    if (outcome.ok() && !StartedWith(resume, {})) outcome = Status::Error("the transfer was stopped");
    if (outcome.ok()) {
      if (Status renamed = os::RenameReplace(path, targetPath); !renamed.ok())
        outcome = Status::Failed("cannot write " + targetPath, renamed);
    }
    if (!outcome.ok()) os::RemoveFile(path);
  }
  if (outcome.ok() && observer && keepPartial) observer->Restart(false);
  if (outcome.ok() && progress) AddDownloadedBytes(*progress, FileSize64(targetPath));
  return MethodOutcome(std::move(outcome));
}

}  // namespace

namespace {

// The three methods in order until one succeeds (FetchFile); with
// emptyFails, a method whose answer was empty failed too.
Status FetchByMethods(const std::string& url, const std::string& targetPath, RunProgress* progress,
                      std::int64_t maxBytes, FetchObserver* observer, TransferResume* resume,
                      bool emptyFails) {
  if (CancelRequested()) return Status::Error("the transfer was stopped");
  // Opening a device name on Windows reaches the device, whatever the
  // directory: no method is given such a target.
  if (IsDeviceName(FileNameOf(targetPath)))
    return Status::Error("the target " + targetPath + " is a device name on Windows");
  // Further methods reach the same site: once it sent too much, or the run's
  // transfer time is spent, they are not tried.
  const auto giveUp = [&] {
    return CancelRequested() || TransferBudgetSpent() ||
           (maxBytes >= 0 && FileSize64(targetPath) > maxBytes);
  };
  const RunProgress saved = progress ? *progress : RunProgress();
  const auto putBack = [&] {
    if (progress) *progress = saved;
  };
  const auto judged = [&](Status outcome) {
    if (outcome.ok() && emptyFails && FileSize64(targetPath) == 0)
      outcome = Status::Error("the site sent an empty answer");
    AttemptFailed(outcome);
    return outcome;
  };
  Attempt("trying PRECONFIGURED internet connection");
  Status outcome = judged(InternetFetch(kInternetOpenTypePreconfig, url, targetPath, progress,
                                        maxBytes, observer, resume));
  if (!outcome.ok() && !giveUp()) {
    Attempt("trying DIRECT internet connection");
    putBack();
    outcome = judged(InternetFetch(kInternetOpenTypeDirect, url, targetPath, progress, maxBytes,
                                   observer, resume));
  }
  if (!outcome.ok() && !giveUp()) {
    Attempt("trying using URLDownloadToFile()");
    putBack();
    outcome = judged(DownloadWhole(url, targetPath, progress, maxBytes, observer, resume));
  }
  return outcome;
}

}  // namespace

Status FetchFile(const std::string& url, const std::string& targetPath, RunProgress* progress,
                 std::int64_t maxBytes, FetchObserver* observer, TransferResume* resume) {
  return FetchByMethods(url, targetPath, progress, maxBytes, observer, resume, false);
}

Status FetchNonEmptyFile(const std::string& url, const std::string& targetPath,
                         std::int64_t maxBytes) {
  return FetchByMethods(url, targetPath, nullptr, maxBytes, nullptr, nullptr, true);
}

std::int64_t CountCurrentSetBytes(std::string_view files) {
  std::int64_t total = 0;
  FileEntry entry;
  for (std::string_view piece : ListPieces(files)) {
    if (ParseFileEntry(piece, entry) && entry.size > 0) total = AddSizes(total, entry.size);
  }
  StdText() << "total bytes to be downloaded (cur set): " << total << std::endl;
  return total;
}

Status CopyLocalFile(const std::string& source, const std::string& targetPath,
                     std::int64_t listedSize, TransferResume* resume, RunProgress& progress) {
  const auto cannotRead = [&](const Status& cause) {
    return Status::Failed("cannot read " + source, cause);
  };
  const os::FileInfo info = os::StatTarget(source);
  StatusOr<os::File> in = os::File::Open(source, os::OpenFor::Read);
  if (!in) return cannotRead(in.status());
  const std::string validator = LocalValidator(info);
  std::int64_t offset =
      resume && resume->validator == validator ? ContinuableBytes(targetPath, resume) : 0;
  std::optional<os::File> out;
  if (Status opened = OpenTargetAt(targetPath, offset, out); !opened.ok()) return opened;
  if (!StartedWith(resume, validator)) return Status::Error("the copy was stopped");
  if (Status at = in->Seek(offset); !at.ok()) return cannotRead(at);
  AddDownloadedBytes(progress, offset);
  std::vector<char> buffer(kCopyBufferSize);
  // Never more than one byte past the listed size, so a file that grows while
  // it is copied fails its check instead of filling the disk.
  for (std::int64_t copied = offset;;) {
    std::size_t want = buffer.size();
    if (listedSize >= 0)
      want = static_cast<std::size_t>(
          std::min<std::int64_t>(static_cast<std::int64_t>(want), listedSize + 1 - copied));
    if (want == 0) break;
    const StatusOr<std::int64_t> n = in->Read(buffer.data(), want);
    if (!n) return cannotRead(n.status());
    if (*n == 0) break;
    if (Status written = out->Write(buffer.data(), static_cast<std::size_t>(*n)); !written.ok())
      return Status::Failed("cannot write " + targetPath, written);
    copied += *n;
    AddDownloadedBytes(progress, *n);
    if (CancelRequested()) return Status::Error("the copy was stopped");
  }
  const Status closed = out->Close();
  return closed.ok() ? closed : Status::Failed("cannot write " + targetPath, closed);
}
