#include "app/transfer.h"

#include <optional>
#include <ostream>

#include "app/display.h"
#include "app/file_entries.h"
#include "app/names.h"
#include "app/run_context.h"
#include "platform/os.h"
#include "support/fileutil.h"
#include "support/nuldev.h"

namespace {

TransferSettings transferSettings;

os::HttpRequest RequestFor(const std::string& url, bool direct) {
  os::HttpRequest request;
  request.url = url;
  request.direct = direct;
  request.userAgent = kTransferUserAgent;
  request.connectTimeoutSeconds = transferSettings.connectTimeoutSeconds;
  request.stallSeconds = transferSettings.stallSeconds;
  request.maxBlock = kTransferBlockSize;
  return request;
}

// While no data arrives the window still handles its messages, so that
// Cancel works on a slow or stalled server.
bool KeepWaiting() {
  CurrentDisplaySurface().Pump();
  return !CancelRequested();
}

// Each method tried, and why it failed, goes into the account as well, so
// that a dead proxy or a refused certificate can be told apart afterwards.
void Attempt(const char* method) {
  ShowDiagnostic(method);
  StdText() << method << std::endl;
}

void AttemptFailed(const std::string& cause) {
  StdText() << "  failed: " << (cause.empty() ? "unknown cause" : cause) << std::endl;
}

}  // namespace

const TransferSettings& CurrentTransferSettings() {
  return transferSettings;
}

void SetTransferSettings(const TransferSettings& settings) {
  transferSettings = settings;
}

bool InternetFetch(int accessType, const std::string& url, const std::string& targetPath,
                   bool countProgress, std::string* failure) {
  std::string cause;
  try {
    std::optional<os::File> file = os::File::Open(targetPath, os::OpenFor::CreateTruncate);
    if (!file) {
      if (failure) *failure = "the target file cannot be created";
      return false;
    }
    bool writeFailed = false;
    const auto sink = [&](const char* data, std::size_t size) {
      if (!file->Write(data, size)) {
        writeFailed = true;
        return false;
      }
      if (countProgress) AddDownloadedBytes(static_cast<std::int64_t>(size));
      return !CancelRequested();
    };
    bool result = os::HttpGet(RequestFor(url, accessType == kInternetOpenTypeDirect), sink,
                              KeepWaiting, &cause);
    const bool closed = file->Close();
    if (writeFailed || !closed) cause = "the target file cannot be written";
    else if (CancelRequested()) cause = "cancelled";
    result = closed && result && !writeFailed && !CancelRequested();
    if (!result && failure) *failure = cause;
    return result;
  } catch (...) {
    if (failure) *failure = "unexpected error";
    return false;
  }
}

bool FetchFile(const std::string& url, const std::string& targetPath, bool countProgress) {
  bool result = false;
  if (CancelRequested()) return result;
  std::string cause;
  Attempt("trying PRECONFIGURED internet connection");
  const std::int64_t saved = downloadedBytes;
  result = InternetFetch(kInternetOpenTypePreconfig, url, targetPath, countProgress, &cause);
  if (!result) AttemptFailed(cause);
  if (!result && !CancelRequested()) {
    Attempt("trying DIRECT internet connection");
    downloadedBytes = saved;
    result = InternetFetch(kInternetOpenTypeDirect, url, targetPath, countProgress, &cause);
    if (!result) AttemptFailed(cause);
  }
  if (!result && !CancelRequested()) {
    Attempt("trying using URLDownloadToFile()");
    downloadedBytes = saved;
    try {
      result = os::HttpDownloadToFile(RequestFor(url, false), targetPath, KeepWaiting, &cause);
    } catch (...) {
      result = false;
      cause = "unexpected error";
    }
    if (!result) AttemptFailed(cause);
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
