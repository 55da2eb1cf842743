// Fuzzes the applier's reading of steps and runs. The input holds a
// patch's five streams before compression: its first four bytes are the
// lengths of the first four streams, the rest is theirs in order and the
// fifth's. They are packed for a fixed base and result, so every input
// passes the header's checks and reaches the steps.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "app/fetch/patch_apply.h"
#include "platform/os.h"
#include "publish/patch_make.h"

namespace {

std::string ScratchPath(const std::string& name) {
  const auto tmp = os::GetEnvVar("TMPDIR");
  return (tmp && !tmp->empty() ? *tmp : std::string("/tmp")) + "/tvq-fuzz-patch-" +
         std::to_string(reinterpret_cast<std::uintptr_t>(&ScratchPath) % 100000) + "-" + name;
}

std::string Bytes(std::size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131 + i / 7) ^ seed);
  return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string base = Bytes(3000, 1);
  static const std::string result = Bytes(2000, 2);
  static const std::string basePath = ScratchPath("base");
  static const std::string patchPath = ScratchPath("patch");
  static const bool written = [] {
    auto file = os::File::Open(basePath, os::OpenFor::CreateTruncate);
    return file && file->Write(base.data(), base.size()) && file->Close();
  }();
  if (!written || size < 4) return 0;
  PatchStreams streams;
  std::size_t at = 4;
  for (std::size_t i = 0; i < streams.size(); ++i) {
    const std::size_t length = i + 1 < streams.size() ? std::min<std::size_t>(data[i], size - at) : size - at;
    streams[i].assign(reinterpret_cast<const char*>(data) + at, length);
    at += length;
  }
  std::string patch;
  if (!PackPatch(base, result, streams, patch).ok()) return 0;
  auto file = os::File::Open(patchPath, os::OpenFor::CreateTruncate);
  if (!file || !file->Write(patch.data(), patch.size()) || !file->Close()) return 0;
  ApplyPatch(basePath, patchPath, ScratchPath("result"), result.size());
  return 0;
}
