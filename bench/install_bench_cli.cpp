// Runs the installation or the LZ expansion once, for timing by
// install_bench.sh:
//   install_bench_cli install <application dir> [--waits]
//       InstallUpdate from $TEMP/tvqlupd into the application directory;
//       without --waits the fixed waits of the installation are skipped, so
//       only the copying and comparing is timed.
//   install_bench_cli lzexpand <source> <target>
// Exit code 0 on success, 1 on failure, 2 on bad usage.
#include <cstdint>
#include <cstdio>
#include <string>

#include "app/install.h"
#include "platform/os.h"
#include "support/fileutil.h"

namespace {

// A clock whose sleeps return at once.
class NoWaitClock : public os::Clock {
 public:
  std::int64_t NowMs() override { return os::SystemClock().NowMs(); }
  void SleepMs(std::int64_t) override {}
};

int Usage() {
  std::fputs("usage: install_bench_cli install <appdir> [--waits] | lzexpand <source> <target>\n",
             stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return Usage();
  const std::string command = argv[1];
  if (command == "lzexpand" && argc == 4) return LzExpand(argv[2], argv[3]) ? 0 : 1;
  if (command != "install") return Usage();

  NoWaitClock noWait;
  if (!(argc == 4 && std::string(argv[3]) == "--waits")) os::SetClock(&noWait);
  SetProgramName("tvqlupd");
  if (!os::ChangeDirectory(argv[2])) return 1;
  const bool ok = InstallUpdate();
  os::SetClock(nullptr);
  return ok ? 0 : 1;
}
