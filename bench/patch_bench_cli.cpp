// Makes or applies one patch, for timing by patch_bench.sh:
//   patch_bench_cli make <base> <result> <patch>
//   patch_bench_cli apply <base> <patch> <result>
// Prints "ms=N bytes=N" (the time inside the process, the patch's or the
// result's size). Exit code 0 on success, 1 on failure, 2 on bad usage.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "app/fetch/minisign.h"
#include "app/fetch/patch_apply.h"
#include "publish/patch_make.h"
#include "publish/site_signing.h"

namespace {

std::int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

int Fail(const std::string& why) {
  std::fprintf(stderr, "patch_bench_cli: %s\n", why.c_str());
  return 1;
}

int Make(const std::string& basePath, const std::string& resultPath, const std::string& patchPath) {
  const std::int64_t start = NowMs();
  const StatusOr<std::string> base = ReadFileBounded(basePath, kMaxPatchBase);
  const StatusOr<std::string> result = ReadFileBounded(resultPath, kMaxPatchBase);
  if (!base || !result) return Fail("cannot read " + basePath + " or " + resultPath);
  std::string patch;
  Status status = MakePatch(*base, *result, patch);
  if (status.ok()) status = ReplaceFileText(patchPath, patch);
  if (!status.ok()) return Fail(status.message());
  std::printf("ms=%lld bytes=%zu\n", static_cast<long long>(NowMs() - start), patch.size());
  return 0;
}

int Apply(const std::string& basePath, const std::string& patchPath, const std::string& resultPath) {
  const std::int64_t start = NowMs();
  patch::Header header;
  Status status = ReadPatchHeader(patchPath, header);
  if (status.ok()) status = ApplyPatch(basePath, patchPath, resultPath, header.resultSize);
  if (!status.ok()) return Fail(status.message());
  std::printf("ms=%lld bytes=%llu\n", static_cast<long long>(NowMs() - start),
              static_cast<unsigned long long>(header.resultSize));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc == 5 ? argv[1] : "";
  if (command == "make") return Make(argv[2], argv[3], argv[4]);
  if (command == "apply") return Apply(argv[2], argv[3], argv[4]);
  std::fputs("usage: patch_bench_cli make <base> <result> <patch> | apply <base> <patch> <result>\n", stderr);
  return 2;
}
