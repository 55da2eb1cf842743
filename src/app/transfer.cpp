#include "app/transfer.h"

#include <algorithm>
#include <optional>
#include <ostream>
#include <vector>

#include "app/display.h"
#include "app/file_entries.h"
#include "app/names.h"
#include "app/run_context.h"
#include "platform/os.h"
#include "support/fileutil.h"
#include "support/gathered_writer.h"
#include "support/nuldev.h"
#include "support/status.h"
#include "support/strfn.h"

namespace {

TransferSettings transferSettings;
std::optional<std::int64_t> budgetStartMs;  // when the run's transfers began
std::string failureText;

os::HttpRequest RequestFor(const std::string& url, bool direct) {
  os::HttpRequest request;
  request.url = url;
  request.direct = direct;
  request.userAgent = kTransferUserAgent;
  request.connectTimeoutSeconds = transferSettings.connectTimeoutSeconds;
  request.stallSeconds = transferSettings.stallSeconds;
  request.lowSpeedBytesPerSecond = transferSettings.lowSpeedBytesPerSecond;
  request.maxBlock = kTransferBlockSize;
  request.failureText = &failureText;
  return request;
}

std::string BudgetSpentText() {
  return "the update site took more than " + std::to_string(transferSettings.runBudgetSeconds) +
         " s in all";
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

void AttemptFailed() {
  StdText() << "  failed: " << (failureText.empty() ? "unknown cause" : failureText) << std::endl;
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
// 0 created fresh (mend: the target was opened through a link planted in
// its place).
std::optional<os::File> OpenTarget(const std::string& path, std::int64_t offset) {
  if (offset > 0) {
    std::optional<os::File> file = os::File::Open(path, os::OpenFor::ReadWrite);
    if (file && file->Size() == offset && file->Seek(offset)) return file;
    return std::nullopt;
  }
  os::RemoveFile(path);
  return os::File::Open(path, os::OpenFor::CreateNew);
}

// Opens the target to continue it after offset bytes, or, when it cannot be
// continued, fresh (offset becomes 0).
std::optional<os::File> OpenTargetAt(const std::string& path, std::int64_t& offset) {
  std::optional<os::File> file = OpenTarget(path, offset);
  if (!file && offset > 0) {
    offset = 0;
    file = OpenTarget(path, 0);
  }
  if (!file) failureText = "cannot create " + path + ": " + os::LastErrorText();
  return file;
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
  std::optional<os::File> file = os::File::Open(path, os::OpenFor::Read);
  std::vector<char> buffer(kCopyBufferSize);
  std::int64_t seen = 0;
  while (file && seen < size) {
    const std::size_t want =
        static_cast<std::size_t>(std::min<std::int64_t>(size - seen, buffer.size()));
    const std::int64_t n = file->Read(buffer.data(), want);
    if (n <= 0) break;
    observer.Take(buffer.data(), static_cast<std::size_t>(n));
    seen += n;
  }
  if (seen != size) observer.Restart(false);
}

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

const std::string& TransferFailureText() {
  return failureText;
}

bool InternetFetch(int accessType, const std::string& url, const std::string& targetPath,
                   bool countProgress, std::int64_t maxBytes, FetchObserver* observer,
                   TransferResume* resume) {
  try {
    if (TransferBudgetSpent()) {
      failureText = BudgetSpentText();
      return false;
    }
    std::int64_t offset = ContinuableBytes(targetPath, resume);
    std::optional<os::File> file = OpenTargetAt(targetPath, offset);
    if (!file) return false;
    std::string writeError;
    const auto writeFailed = [&] {
      writeError = "cannot write " + targetPath + ": " + os::LastErrorText();
      return false;
    };
    // Progress and Cancel go by the block; the file is written a mebibyte at a time.
    GatheredWriter writer(*file);
    if (observer) observer->Restart(true);
    std::int64_t received = 0;  // bytes of the file in the target, counted against the cap
    const auto sink = [&](const char* data, std::size_t size) {
      if (!writer.Append(data, size)) return writeFailed();
      if (observer) observer->Take(data, size);
      received += static_cast<std::int64_t>(size);
      if (countProgress) AddDownloadedBytes(static_cast<std::int64_t>(size));
      return !CancelRequested() && !(maxBytes >= 0 && received > maxBytes);
    };
    os::HttpRequest request = RequestFor(url, accessType == kInternetOpenTypeDirect);
    request.maxBytes = maxBytes;
    if (resume) {
      request.resumeFrom = offset;
      request.resumeTotal = resume->total;
      request.ifRange = resume->validator;
      // The body continues the kept bytes, or they go: never a mixed file.
      request.onAnswer = [&](const os::HttpAnswer& answer) {
        if (answer.continues) {
          received = offset;
          if (countProgress) AddDownloadedBytes(offset);
          if (observer) ObserveKeptBytes(targetPath, offset, *observer);
        } else if (offset > 0) {
          file->Close();
          offset = 0;
          file = OpenTargetAt(targetPath, offset);
          if (!file) return false;
        }
        return StartedWith(resume, answer.refused ? std::string() : answer.validator);
      };
    }
    bool result = os::HttpGet(request, sink, KeepWaiting);
    if (file && !writer.Flush() && writeError.empty()) writeFailed();
    result = file && file->Close() && result && writeError.empty();
    if (!writeError.empty()) failureText = writeError;
    if (maxBytes >= 0 && received > maxBytes) failureText = "the site sent more than expected";
    if (!result && TransferBudgetSpent()) failureText = BudgetSpentText();
    return result && !CancelRequested();
  } catch (...) {
    return false;
  }
}

bool FetchFile(const std::string& url, const std::string& targetPath, bool countProgress,
               std::int64_t maxBytes, FetchObserver* observer, TransferResume* resume) {
  bool result = false;
  failureText.clear();
  if (CancelRequested()) return result;
  // Opening a device name on Windows reaches the device, whatever the
  // directory: no method is given such a target.
  if (IsDeviceName(FileNameOf(targetPath))) {
    failureText = "the target " + targetPath + " is a device name on Windows";
    return result;
  }
  // Further methods reach the same site: once it sent too much, or the run's
  // transfer time is spent, they are not tried.
  const auto giveUp = [&] {
    return CancelRequested() || TransferBudgetSpent() ||
           (maxBytes >= 0 && FileSize64(targetPath) > maxBytes);
  };
  Attempt("trying PRECONFIGURED internet connection");
  const std::int64_t saved = downloadedBytes;
  result = InternetFetch(kInternetOpenTypePreconfig, url, targetPath, countProgress, maxBytes,
                         observer, resume);
  if (!result) AttemptFailed();
  if (!result && !giveUp()) {
    Attempt("trying DIRECT internet connection");
    downloadedBytes = saved;
    result = InternetFetch(kInternetOpenTypeDirect, url, targetPath, countProgress, maxBytes,
                           observer, resume);
    if (!result) AttemptFailed();
  }
  if (!result && !giveUp()) {
    Attempt("trying using URLDownloadToFile()");
    downloadedBytes = saved;
    if (observer) observer->Restart(false);
    try {
      // This method cannot continue a file: what it writes is never continued.
      if (!StartedWith(resume, {})) return false;
      os::HttpRequest request = RequestFor(url, false);
      request.maxBytes = maxBytes;
      result = os::HttpDownloadToFile(request, targetPath, KeepWaiting);
    } catch (...) {
      result = false;
    }
    if (result && maxBytes >= 0 && FileSize64(targetPath) > maxBytes) {
      result = false;
      failureText = "the site sent more than expected";
    }
    if (!result && TransferBudgetSpent()) failureText = BudgetSpentText();
    if (!result) AttemptFailed();
    if (result && countProgress) AddDownloadedBytes(FileSize64(targetPath));
  }
  return result;
}

std::int64_t CountCurrentSetBytes(std::string_view files) {
  std::int64_t total = 0;
  FileEntry entry;
  for (std::string_view piece : ListPieces(files)) {
    if (ParseFileEntry(piece, entry) && entry.size > 0) total = AddSizes(total, entry.size);
  }
  StdText() << "total bytes to be downloaded (cur set): " << total << std::endl;
  totalBytesCurrentSet = total;
  return total;
}

Status CopyLocalFile(const std::string& source, const std::string& targetPath,
                     std::int64_t listedSize, TransferResume* resume) {
  const auto cannotRead = [&] { return Status::Failed("cannot read " + source, os::LastErrorText()); };
  const os::FileInfo info = os::StatTarget(source);
  std::optional<os::File> in = os::File::Open(source, os::OpenFor::Read);
  if (!in) return cannotRead();
  const std::string validator = LocalValidator(info);
  std::int64_t offset =
      resume && resume->validator == validator ? ContinuableBytes(targetPath, resume) : 0;
  std::optional<os::File> out = OpenTargetAt(targetPath, offset);
  if (!out) return Status::Error(failureText);
  if (!StartedWith(resume, validator)) return Status::Error("the copy was stopped");
  if (!in->Seek(offset)) return cannotRead();
  AddDownloadedBytes(offset);
  std::vector<char> buffer(kCopyBufferSize);
  // Never more than one byte past the listed size, so a file that grows while
  // it is copied fails its check instead of filling the disk.
  for (std::int64_t copied = offset;;) {
    std::size_t want = buffer.size();
    if (listedSize >= 0)
      want = static_cast<std::size_t>(
          std::min<std::int64_t>(static_cast<std::int64_t>(want), listedSize + 1 - copied));
    if (want == 0) break;
    const std::int64_t n = in->Read(buffer.data(), want);
    if (n < 0) return cannotRead();
    if (n == 0) break;
    if (!out->Write(buffer.data(), static_cast<std::size_t>(n)))
      return Status::Failed("cannot write " + targetPath, os::LastErrorText());
    copied += n;
    AddDownloadedBytes(n);
    if (CancelRequested()) return Status::Error("the copy was stopped");
  }
  if (!out->Close()) return Status::Failed("cannot write " + targetPath, os::LastErrorText());
  return Status();
}
