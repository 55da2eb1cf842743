#pragma once
// The transfer layer: copies one file from an internet address to a local
// file, trying the preconfigured connection (proxies from the environment),
// the direct connection (no proxy) and a plain one-call download, in that
// order, until one succeeds. Counts progress, obeys Cancel, and computes the
// byte total of the update being downloaded.

#include <cstdint>
#include <string>
#include <string_view>

inline constexpr int kInternetOpenTypePreconfig = 0;
inline constexpr int kInternetOpenTypeDirect = 1;
inline constexpr const char* kTransferUserAgent = "MARL/TORQUIN TVQ Update";
inline constexpr std::size_t kTransferBlockSize = 8192;

// Limits that make a dead or stalled server fail a method instead of hanging
// the run. Tests shorten them.
struct TransferSettings {
  long connectTimeoutSeconds = 30;  // the connection must be made within this
  long stallSeconds = 60;           // less than 1 byte/s for this long fails
};
const TransferSettings& CurrentTransferSettings();
void SetTransferSettings(const TransferSettings& settings);

// One transfer with the given access type (kInternetOpenTypePreconfig or
// kInternetOpenTypeDirect). The target is created or truncated first; every
// block of at most 8192 bytes is written as it arrives and, with
// countProgress, added to the progress (which also pumps the window). While
// no data arrives the window is pumped about every 100 ms. True when the
// whole body arrived and was written; false on any failure and on Cancel.
// The HTTP status is not examined: an error page is a successful transfer.
bool InternetFetch(int accessType, const std::string& url, const std::string& targetPath,
                   bool countProgress);

// Tries the three methods in order until one succeeds; nothing when Cancel
// was already requested. downloadedBytes is put back before each further
// method, so a failed method's bytes are not counted twice.
bool FetchFile(const std::string& url, const std::string& targetPath, bool countProgress);

// Sums the sizes of the entries of a <files> section (line breaks already
// removed), logs "total bytes to be downloaded (cur set): N" and stores the
// sum in totalBytesCurrentSet. Returns the sum.
std::int64_t CountCurrentSetBytes(std::string_view files);
