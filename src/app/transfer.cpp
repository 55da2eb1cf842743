#include "app/transfer.h"

#include <optional>
#include <ostream>

#include "app/display.h"
#include "app/file_entries.h"
#include "app/names.h"
#include "app/run_context.h"
#include "platform/os.h"
#include "support/fileutil.h"
#include "support/gathered_writer.h"
#include "support/nuldev.h"
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
                   bool countProgress, std::int64_t maxBytes, FetchObserver* observer) {
  try {
    if (TransferBudgetSpent()) {
      failureText = BudgetSpentText();
      return false;
    }
    // Created fresh, so a link planted in its place is never written through.
    os::RemoveFile(targetPath);
    std::optional<os::File> file = os::File::Open(targetPath, os::OpenFor::CreateNew);
    if (!file) {
      failureText = "cannot create " + targetPath + ": " + os::LastErrorText();
      return false;
    }
    std::string writeError;
    const auto writeFailed = [&] {
      writeError = "cannot write " + targetPath + ": " + os::LastErrorText();
      return false;
    };
    // Progress and Cancel go by the block; the file is written a mebibyte at a time.
    GatheredWriter writer(*file);
    if (observer) observer->Restart(true);
    std::int64_t received = 0;
    const auto sink = [&](const char* data, std::size_t size) {
      if (!writer.Append(data, size)) return writeFailed();
      if (observer) observer->Take(data, size);
      received += static_cast<std::int64_t>(size);
      if (countProgress) AddDownloadedBytes(static_cast<std::int64_t>(size));
      return !CancelRequested() && !(maxBytes >= 0 && received > maxBytes);
    };
    os::HttpRequest request = RequestFor(url, accessType == kInternetOpenTypeDirect);
    request.maxBytes = maxBytes;
    bool result = os::HttpGet(request, sink, KeepWaiting);
    if (!writer.Flush() && writeError.empty()) writeFailed();
    result = file->Close() && result && writeError.empty();
    if (!writeError.empty()) failureText = writeError;
    if (maxBytes >= 0 && received > maxBytes) failureText = "the site sent more than expected";
    if (!result && TransferBudgetSpent()) failureText = BudgetSpentText();
    return result && !CancelRequested();
  } catch (...) {
    return false;
  }
}

bool FetchFile(const std::string& url, const std::string& targetPath, bool countProgress,
               std::int64_t maxBytes, FetchObserver* observer) {
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
                         observer);
  if (!result) AttemptFailed();
  if (!result && !giveUp()) {
    Attempt("trying DIRECT internet connection");
    downloadedBytes = saved;
    result = InternetFetch(kInternetOpenTypeDirect, url, targetPath, countProgress, maxBytes,
                           observer);
    if (!result) AttemptFailed();
  }
  if (!result && !giveUp()) {
    Attempt("trying using URLDownloadToFile()");
    downloadedBytes = saved;
    if (observer) observer->Restart(false);
    try {
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
