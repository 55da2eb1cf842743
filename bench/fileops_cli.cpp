// Runs one file utility on real files, for whole-process timing against the
// system's tools (see fileutil_compare.sh).
//   fileops_cli checksum FILE      prints FileChecksum
//   fileops_cli copy SOURCE TARGET CopyFileBuffered with the 512 KiB buffer;
//                                  prints ms=, its time inside the process
//   fileops_cli equal A B          FilesEqual: exit 0 when equal, 1 if not
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "support/fileutil.h"

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "checksum") == 0) {
    std::printf("%d\n", FileChecksum(argv[2]));
    return 0;
  }
  if (argc == 4 && std::strcmp(argv[1], "copy") == 0) {
    const auto start = std::chrono::steady_clock::now();
    const bool copied = CopyFileBuffered(argv[2], argv[3], false, kCopyBufferSize, nullptr).ok();
    std::printf("ms=%.3f\n", std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    return copied ? 0 : 1;
  }
  if (argc == 4 && std::strcmp(argv[1], "equal") == 0) return FilesEqual(argv[2], argv[3]) ? 0 : 1;
  std::fprintf(stderr, "usage: fileops_cli checksum FILE | copy SOURCE TARGET | equal A B\n");
  return 2;
}
