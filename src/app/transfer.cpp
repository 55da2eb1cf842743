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

}  // namespace

const TransferSettings& CurrentTransferSettings() {
  return transferSettings;
}

void SetTransferSettings(const TransferSettings& settings) {
  transferSettings = settings;
}

bool InternetFetch(int accessType, const std::string& url, const std::string& targetPath,
                   bool countProgress) {
  try {
    std::optional<os::File> file = os::File::Open(targetPath, os::OpenFor::CreateTruncate);
    if (!file) return false;
    bool writeFailed = false;
    const auto sink = [&](const char* data, std::size_t size) {
      if (!file->Write(data, size)) {
        writeFailed = true;
        return false;
      }
      if (countProgress) AddDownloadedBytes(static_cast<std::int64_t>(size));
      return !CancelRequested();
    };
    bool result =
        os::HttpGet(RequestFor(url, accessType == kInternetOpenTypeDirect), sink, KeepWaiting);
    result = file->Close() && result && !writeFailed;
    return result && !CancelRequested();
  } catch (...) {
    return false;
  }
}

bool FetchFile(const std::string& url, const std::string& targetPath, bool countProgress) {
  bool result = false;
  if (CancelRequested()) return result;
  ShowDiagnostic("trying PRECONFIGURED internet connection");
  const std::int64_t saved = downloadedBytes;
  result = InternetFetch(kInternetOpenTypePreconfig, url, targetPath, countProgress);
  if (!result && !CancelRequested()) {
    ShowDiagnostic("trying DIRECT internet connection");
    downloadedBytes = saved;
    result = InternetFetch(kInternetOpenTypeDirect, url, targetPath, countProgress);
  }
  if (!result && !CancelRequested()) {
    ShowDiagnostic("trying using URLDownloadToFile()");
    downloadedBytes = saved;
    try {
      result = os::HttpDownloadToFile(RequestFor(url, false), targetPath, KeepWaiting);
    } catch (...) {
      result = false;
    }
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
