// Runs the installation or the LZ expansion once, for timing by
// install_bench.sh:
//   install_bench_cli workdir
//       prints the work directory that install takes its files from
//   install_bench_cli install <application dir> [--waits]
//       InstallUpdate of every file of the work directory into the
//       application directory; without --waits the fixed waits of the
//       installation are skipped, so only the copying and flushing is timed.
//   install_bench_cli lzexpand <source> <target>
// Exit code 0 on success, 1 on failure, 2 on bad usage.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "app/context/names.h"
#include "app/install/install.h"
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
  std::fputs("usage: install_bench_cli workdir | install <appdir> [--waits] | lzexpand <source> <target>\n",
             stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  SetProgramName("tvqlupd");
  if (argc == 2 && std::string(argv[1]) == "workdir") {
    std::printf("%s\n", WorkDirectory().c_str());
    return 0;
  }
  if (argc < 3) return Usage();
  const std::string command = argv[1];
  if (command == "lzexpand" && argc == 4) return LzExpand(argv[2], argv[3]) ? 0 : 1;
  if (command != "install") return Usage();

  NoWaitClock noWait;
  if (!(argc == 4 && std::string(argv[3]) == "--waits")) os::SetClock(&noWait);
  RunContext context;
  for (const os::DirEntry& entry : os::ListDirectory(WorkDirectory()))
    context.verifiedFiles.push_back(entry.name);
  if (!os::ChangeDirectory(argv[2])) return 1;
  const bool ok = InstallUpdate(context).ok();
  os::SetClock(nullptr);
  return ok ? 0 : 1;
}
