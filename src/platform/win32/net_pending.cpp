// Placeholder until the WinInet/URLMON transfers and the LZ32 expansion land.
#include "platform/os.h"

namespace os {

bool HttpGet(const HttpRequest&, const HttpBlockSink&, const HttpIdle&) {
  return false;
}

bool HttpDownloadToFile(const HttpRequest&, const std::string&, const HttpIdle&) {
  return false;
}

bool LzExpandFile(const std::string&, const std::string&) {
  return false;
}

}  // namespace os
