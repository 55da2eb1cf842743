// The settings store's speed: look-ups and stores in a 10,000-line settings
// file, and merges of 100, 1,000 and 5,000 keys with every value changed or
// none. After the runs a summary gives the merge times, their growth and
// whether 1,000 keys stay under one second.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <utility>

#include "platform/os.h"
#include "settings/config.h"
#include "settings/config_reorganise.h"
#include "support/strfn.h"

namespace {

// A scratch directory for the run, with the program "tvqlupd" standing in it.
class Scratch {
 public:
  Scratch() {
    std::random_device rd;
    path_ = (std::filesystem::temp_directory_path() / ("tvqbench-" + std::to_string(rd()))).string();
    std::filesystem::create_directories(path_);
    os::SetEnvVar("TEMP", path_);
    os::UnsetEnvVar("PROGRAMFILES");
    os::SetExecutablePathForTests(path_ + "/tvqlupd");
    SetReorganiseRandomSource([] { return 0.5; });
  }
  ~Scratch() {
    CfgResetForTests();
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

Scratch& Dir() {
  static Scratch scratch;
  return scratch;
}

void Write(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

std::string KeyName(int i) { return "Section" + IntStr(i / 100) + ".Key" + IntStr(i); }

std::string SettingsText(int keys, const std::string& tag) {
  std::string text = "; settings\r\nCFGFileVersion=1\r\n";
  for (int i = 0; i < keys; ++i) {
    if (i % 100 == 0) text += "\r\n[Section" + IntStr(i / 100) + "]\r\n";
    text += KeyName(i) + "=" + tag + "-" + IntStr(i) + " some value text\r\n";
  }
  return text;
}

void StartStore(const std::string& content) {
  CfgResetForTests();
  Write(Dir() / "tvqlupd.INI", content);
  CfgInit();
}

void BM_LookUpIn10000Lines(benchmark::State& state) {
  StartStore(SettingsText(10000, "v"));
  // A key in the middle of the file and one behind its last line.
  const std::string keySpec = state.range(0) == 0 ? KeyName(5000) + "=d" : "Absent.Key=d";
  for (auto _ : state) benchmark::DoNotOptimize(CfgGetStr(keySpec));
  state.SetItemsProcessed(state.iterations());
  state.SetLabel(state.range(0) == 0 ? "key in the middle" : "absent key");
}
BENCHMARK(BM_LookUpIn10000Lines)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

void BM_StoreIn10000Lines(benchmark::State& state) {
  StartStore(SettingsText(10000, "v"));
  const std::string key = KeyName(5000);
  int n = 0;
  for (auto _ : state) benchmark::DoNotOptimize(CfgPutInt(key, ++n));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_StoreIn10000Lines)->Unit(benchmark::kMillisecond);

// Best wall time of each merge, by (keys, changed).
std::map<std::pair<int, bool>, double>& MergeSeconds() {
  static std::map<std::pair<int, bool>, double> seconds;
  return seconds;
}

void BM_Merge(benchmark::State& state) {
  const int keys = static_cast<int>(state.range(0));
  const bool changed = state.range(1) != 0;
  const std::string oldText = SettingsText(keys, changed ? "user" : "same");
  const std::string newText = SettingsText(keys, "same");
  const std::string n = Dir() / "new.ini";
  Write(n, newText);
  double best = 1e9;
  for (auto _ : state) {
    state.PauseTiming();
    StartStore(oldText);
    state.ResumeTiming();
    const auto start = std::chrono::steady_clock::now();
    benchmark::DoNotOptimize(CfgUpdateFromNewVersion(n));
    best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  MergeSeconds()[{keys, changed}] = best;
  state.SetItemsProcessed(state.iterations() * keys);
  state.SetLabel(changed ? "every value changed" : "no value changed");
}
BENCHMARK(BM_Merge)
    ->ArgsProduct({{100, 1000, 5000}, {1, 0}})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2)
    ->UseRealTime();

void PrintSummary() {
  const auto& s = MergeSeconds();
  std::printf("\nmerge summary (best wall time)\n");
  for (bool changed : {true, false}) {
    std::printf("  %-20s", changed ? "every value changed" : "no value changed");
    for (int keys : {100, 1000, 5000}) {
      auto it = s.find({keys, changed});
      if (it != s.end()) std::printf("  %5d keys %9.2f ms", keys, it->second * 1e3);
    }
    std::printf("\n");
    auto a = s.find({100, changed}), b = s.find({1000, changed}), c = s.find({5000, changed});
    if (a != s.end() && b != s.end() && c != s.end())
      std::printf("  %-20s  x%.1f for 10x keys, x%.1f for 5x keys\n", "growth", b->second / a->second,
                  c->second / b->second);
  }
  auto k = s.find({1000, true});
  if (k != s.end())
    std::printf("  1,000 keys, every value changed, under 1 s: %s\n", k->second < 1.0 ? "yes" : "NO");
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  Dir();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  PrintSummary();
  return 0;
}
