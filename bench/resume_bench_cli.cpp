// Bytes over the wire when a download is interrupted and when an
// installation fails, against the file's size (goal: at most 1.05 x each):
//   resume_bench_cli [MiB]      (default 64)
// 1. A download cancelled at half, then the next run's download.
// 2. A download whose connection drops at half (the next method continues).
// 3. A complete, verified download, an installation that fails, then the
//    next run's download.
// Counted by the test HTTP server (body bytes it sent), which honours Range
// and If-Range as a real server does.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <string>

#include "app/context/display.h"
#include "app/context/names.h"
#include "app/context/run_context.h"
#include "app/fetch/download.h"
#include "app/fetch/kept_downloads.h"
#include "app/list/file_entries.h"
#include "app/run/run.h"
#include "platform/os.h"
#include "settings/config.h"
#include "support/fileutil.h"
#include "support/http_test_server.h"
#include "support/nuldev.h"
#include "support/recording_display.h"

namespace {

const std::string kName = "big.bin";

// Presses Cancel once the download has passed cancelAt bytes.
class CancellingSurface : public RecordingDisplay {
 public:
  void Pump() override {
    if (watched && cancelAt > 0 && watched->downloaded >= cancelAt) RequestCancel();
  }
  const RunProgress* watched = nullptr;  // the progress of the download under way
  std::int64_t cancelAt = 0;
};

std::string Block(std::int64_t size, std::int32_t checksum) {
  return "<update id=\"TVQ 2026-01-01\">\r\n<files>" + kName + ":" + std::to_string(size) + ":" +
         std::to_string(checksum) + "</files>\r\n</update>\r\n";
}

bool Download(const std::string& site, const std::string& list, CancellingSurface& surface) {
  RunContext context;
  context.site = site;
  context.updateInfo = list;
  PrepareWorkDirectory();
  surface.watched = &context.progress;
  const bool ok = DownloadUpdateFiles(context).ok();
  surface.watched = nullptr;
  return ok;
}

void Report(const char* what, std::size_t sent, std::int64_t size, bool ok) {
  std::printf("%-52s %12zu bytes  x%.3f of the size%s\n", what, sent,
              static_cast<double>(sent) / static_cast<double>(size), ok ? "" : "  (FAILED)");
}

}  // namespace

int main(int argc, char** argv) {
  const std::int64_t mib = argc > 1 ? std::atoll(argv[1]) : 64;
  const auto root = std::filesystem::temp_directory_path() / ("resume_bench." + std::to_string(std::random_device{}()));
  std::filesystem::create_directories(root / "site");
  std::filesystem::create_directories(root / "temp");
  setenv("TEMP", (root / "temp").c_str(), 1);
  unsetenv("http_proxy");
  SetProgramName("tvqlupd");
  AssignNullText(StdText());
  CancellingSurface surface;  // installs itself
  {
    std::mt19937_64 random(42);
    std::ofstream out(root / "site" / kName, std::ios::binary);
    for (std::int64_t i = 0; i < mib * 131072; ++i) {
      const std::uint64_t word = random();
      out.write(reinterpret_cast<const char*>(&word), sizeof word);
    }
  }
  const std::int64_t size = mib << 20;
  const std::string list = Block(size, FileChecksum((root / "site" / kName).string()));
  HttpTestServer server((root / "site").string());
  const std::string site = server.BaseUrl();

  surface.cancelAt = size / 2;
  // Paced like a line slower than the disk, so the socket buffers hold little
  // when Cancel lands near half.
  server.Slow(kName, 65536, 1);
  Download(site, list, surface);
  ResetCancelForTests();
  surface.cancelAt = 0;
  server.ClearFaults();
  const bool ok1 = Download(site, list, surface);
  Report("cancelled at 50 %, then the next run", server.BytesSent(kName), size, ok1);

  ForgetKeptDownloads();
  std::size_t before = server.BytesSent(kName);
  server.DropAfter(kName, static_cast<std::size_t>(size / 2));
  const bool ok2 = Download(site, list, surface);
  Report("connection dropped at 50 %, continued", server.BytesSent(kName) - before, size, ok2);

  ForgetKeptDownloads();
  before = server.BytesSent(kName);
  const bool ok3 = Download(site, list, surface) && Download(site, list, surface);  // installation failed between
  Report("verified, installation failed, then the next run", server.BytesSent(kName) - before, size,
         ok3);
  std::filesystem::remove_all(root);
  return ok1 && ok2 && ok3 ? 0 : 1;
}
