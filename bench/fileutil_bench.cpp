// Throughput of the file utilities: the checksum core in memory, and the
// checksum, copy, comparison and text reading of a 16 MiB file.
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include <benchmark/benchmark.h>

#include "support/fileutil.h"

namespace {

constexpr std::size_t kFileSize = 16 << 20;

std::string RandomBytes(std::size_t size) {
  std::mt19937_64 random(1);
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i + 8 <= size; i += 8) {
    const auto v = random();
    std::memcpy(&bytes[i], &v, 8);
  }
  return bytes;
}

// A scratch directory with one data file and one text file, made once.
struct Files {
  Files() {
    dir = std::filesystem::temp_directory_path() / ("tvqbench-" + std::to_string(std::random_device()()));
    std::filesystem::create_directories(dir);
    data = (dir / "data.bin").string();
    copy = (dir / "copy.bin").string();
    text = (dir / "text.txt").string();
    std::ofstream(data, std::ios::binary) << RandomBytes(kFileSize);
    std::ofstream(copy, std::ios::binary) << std::ifstream(data, std::ios::binary).rdbuf();
    std::ofstream out(text, std::ios::binary);
    for (std::size_t n = 0; n < kFileSize; n += 40) out << "LiveUpdate.lastUpdateInfo=TVQ2024-05-01\r\n";
  }
  ~Files() {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
  std::filesystem::path dir;
  std::string data, copy, text;
};

Files& TheFiles() {
  static Files files;
  return files;
}

void BM_ChecksumOfBytes(benchmark::State& state) {
  const std::string bytes = RandomBytes(1 << 20);
  for (auto _ : state) benchmark::DoNotOptimize(ChecksumOfBytes(bytes));
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes.size()));
}
BENCHMARK(BM_ChecksumOfBytes);

void BM_FileChecksum(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(FileChecksum(TheFiles().data));
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kFileSize));
}
BENCHMARK(BM_FileChecksum)->Unit(benchmark::kMillisecond);

void BM_CopyFileBuffered(benchmark::State& state) {
  const std::string target = (TheFiles().dir / "target.bin").string();
  for (auto _ : state)
    benchmark::DoNotOptimize(CopyFileBuffered(TheFiles().data, target, false, kCopyBufferSize, nullptr).ok());
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kFileSize));
}
BENCHMARK(BM_CopyFileBuffered)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_FilesEqual(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(FilesEqual(TheFiles().data, TheFiles().copy));
  state.SetBytesProcessed(state.iterations() * 2 * static_cast<std::int64_t>(kFileSize));
}
BENCHMARK(BM_FilesEqual)->Unit(benchmark::kMillisecond);

void BM_ReadTextFile(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(ReadTextFile(TheFiles().text, "\r\n"));
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kFileSize));
}
BENCHMARK(BM_ReadTextFile)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
