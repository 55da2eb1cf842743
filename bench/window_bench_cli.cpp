// Times the download phase of an update run from its account: reads the
// account that `tvqlupd /Log` writes to standard output, as it arrives, and
// prints the milliseconds from the arrival of "please wait" (written and
// flushed just before a file's transfer begins) to the arrival of the next
// carriage return (written and flushed as soon as the transfer ends), summed
// over all files of the run. Used by window_bench.sh.
//
//   tvqlupd /P<site> /Log | window_bench_cli
#include <chrono>
#include <cstdio>
#include <string>

int main() {
  using Clock = std::chrono::steady_clock;
  const std::string marker = "please wait";
  std::string seen;  // the account since the last transfer ended
  bool inTransfer = false;
  Clock::time_point began;
  double totalMs = 0;
  int files = 0;
  // Unbuffered, one byte at a time (the account is a few lines): every
  // byte is timed when it arrives.
  std::setvbuf(stdin, nullptr, _IONBF, 0);
  for (int c; (c = std::fgetc(stdin)) != EOF;) {
    const auto now = Clock::now();
    if (inTransfer) {
      if (c != '\r') continue;
      totalMs += std::chrono::duration<double, std::milli>(now - began).count();
      ++files;
      inTransfer = false;
      seen.clear();
      continue;
    }
    seen += static_cast<char>(c);
    if (seen.size() >= marker.size() &&
        seen.compare(seen.size() - marker.size(), marker.size(), marker) == 0) {
      inTransfer = true;
      began = now;
    }
    if (seen.size() > 4096) seen.erase(0, seen.size() - marker.size());
  }
  if (files == 0) {
    std::fputs("window_bench_cli: no transfer found in the account\n", stderr);
    return 1;
  }
  std::printf("%.0f\n", totalMs);
  return 0;
}
