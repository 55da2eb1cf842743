// The transfer paths, one operation per call, for transfer_bench.sh:
//   transfer_bench_cli serve DIR PORTFILE          serve DIR over HTTP until killed
//   transfer_bench_cli fetch URL TARGET SIZE       FetchFile with progress counted
//   transfer_bench_cli download SITE NAME SIZE CHECKSUM [SETTINGS [LIST]]
//                                                  DownloadUpdateFiles of one listed file
//                                                  (with SETTINGS: that settings file, so
//                                                  that its LiveUpdate.publicKey applies;
//                                                  with LIST, the site's list as a file:
//                                                  the site's record of it is read first,
//                                                  so that its digests and patches apply,
//                                                  patches of the copy installed beside
//                                                  this program)
//   transfer_bench_cli checksum FILE               FileChecksum
//   transfer_bench_cli verify FILE PUBKEY          VerifyFileSignature against FILE.minisig
// Each prints one line of key=value figures.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>

#include "app/context/display.h"
#include "app/context/names.h"
#include "app/context/run_context.h"
#include "app/fetch/download.h"
#include "app/fetch/minisign.h"
#include "app/fetch/site_record_check.h"
#include "app/fetch/transfer.h"
#include "app/list/file_entries.h"
#include "platform/os.h"
#include "publish/site_list.h"
#include "settings/config.h"
#include "support/fileutil.h"
#ifndef _WIN32
#include "support/http_test_server.h"  // the server runs on Linux only
#endif
#include "support/nuldev.h"

namespace {

using SteadyClock = std::chrono::steady_clock;

double MsSince(SteadyClock::time_point start) {
  return std::chrono::duration<double, std::milli>(SteadyClock::now() - start).count();
}

// Counts what the portable layer asks of a surface, and how often a surface
// that redraws at most every 100 ms (as the console and window surfaces do)
// would actually draw.
class CountingSurface : public DisplaySurface {
 public:
  void SetStatusText(const std::string&) override {}
  void SetPercent(int) override {
    ++percents;
    dirty_ = true;
  }
  void SetIllustration(char) override {}
  void SetCaption(const std::string&) override {}
  void SetUpdateIdText(const std::string&) override {}
  void Pump() override {
    ++pumps;
    const auto now = SteadyClock::now();
    if (dirty_ && now - lastDraw_ >= std::chrono::milliseconds(100)) {
      ++redraws;
      dirty_ = false;
      lastDraw_ = now;
    }
  }
  long pumps = 0;
  long percents = 0;
  long redraws = 0;

 private:
  bool dirty_ = false;
  SteadyClock::time_point lastDraw_{};
};

void PrintDisplay(const CountingSurface& s, double ms, std::int64_t bytes) {
  const double seconds = ms / 1000.0;
  std::cout << " blocks_min=" << (bytes + 8191) / 8192 << " pumps=" << s.pumps
            << " percent_changes=" << s.percents << " redraws=" << s.redraws
            << " redraws_per_s=" << (seconds > 0 ? s.redraws / seconds : 0);
}

#ifndef _WIN32
int Serve(const std::string& dir, const std::string& portFile) {
  HttpTestServer server(dir);
  std::ofstream(portFile) << server.Port() << "\n";
  for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
}
#endif

int Fetch(const std::string& url, const std::string& target, std::int64_t size) {
  CountingSurface surface;
  SetDisplaySurface(&surface);
  RunProgress progress;
  progress.total = size;
  const auto start = SteadyClock::now();
  const bool ok = FetchFile(url, target, &progress).ok();
  const double ms = MsSince(start);
  std::cout << "ok=" << ok << " ms=" << ms << " bytes=" << progress.downloaded;
  PrintDisplay(surface, ms, progress.downloaded);
  std::cout << "\n";
  return ok ? 0 : 1;
}

int Download(const std::string& site, const FileEntry& entry, const std::string& listPath) {
  os::MakeDirectories(WorkDirectory());
  AssignNullText(StdText());
  CountingSurface surface;
  SetDisplaySurface(&surface);
  RunContext ctx;
  ctx.site = site;
  ctx.updateInfo = MakeBlock("bench", {entry});
  const auto start = SteadyClock::now();
  const Status record = listPath.empty() ? Status() : LoadSiteRecord(ctx, listPath);
  if (!record.ok()) std::cerr << "the site's record: " << record.message() << "\n";
  const bool ok = record.ok() && DownloadUpdateFiles(ctx).ok();
  const double ms = MsSince(start);
  std::cout << "ok=" << ok << " ms=" << ms << " bytes=" << ctx.progress.downloaded;
  PrintDisplay(surface, ms, ctx.progress.downloaded);
  std::cout << "\n";
  return ok ? 0 : 1;
}

int Checksum(const std::string& path) {
  const auto start = SteadyClock::now();
  const std::int32_t sum = FileChecksum(path);
  std::cout << "checksum=" << sum << " ms=" << MsSince(start) << "\n";
  return 0;
}

int Verify(const std::string& path, const std::string& publicKey) {
  const std::string signature = ReadFileBounded(path + ".minisig", 65536).value_or("");
  const auto start = SteadyClock::now();
  const SignatureVerdict verdict = VerifyFileSignature(signature, path, ParsePublicKeys(publicKey));
  std::cout << "ok=" << verdict.Ok() << " ms=" << MsSince(start) << "\n";
  return verdict.Ok() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  SetProgramName("tvqlupd");
#ifndef _WIN32
  if (command == "serve" && argc == 4) return Serve(argv[2], argv[3]);
#endif
  if (command == "fetch" && argc == 5) return Fetch(argv[2], argv[3], std::stoll(argv[4]));
  if (command == "download" && argc >= 6 && argc <= 8) {
    if (argc >= 7) {
      CfgSetOverride(argv[6]);
      CfgInit();
    }
    return Download(argv[2], FileEntry{argv[3], std::stoll(argv[4]), std::stoll(argv[5])}, argc == 8 ? argv[7] : "");
  }
  if (command == "checksum" && argc == 3) return Checksum(argv[2]);
  if (command == "verify" && argc == 4) return Verify(argv[2], argv[3]);
  std::cerr << "usage: transfer_bench_cli serve DIR PORTFILE | fetch URL TARGET SIZE | "
               "download SITE NAME SIZE CHECKSUM [SETTINGS [LIST]] | checksum FILE | verify FILE PUBKEY\n";
  return 2;
}
