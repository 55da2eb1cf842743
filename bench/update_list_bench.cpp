// The selection of the next update in large lists: one old block with many
// entries, then the new block; the old block recorded (cut away unread) or
// nothing recorded (the old block is selected and every pending entry is
// counted and logged). Time per byte should stay flat from 1 to 16 MiB (the
// selection is linear in the list's length); the _BigO lines give the fit.
#include <benchmark/benchmark.h>

#include <string>

#include "app/list/update_list.h"
#include "support/nuldev.h"

namespace {

const std::string kNewBlock =
    "<update id=\"TVQ 2024-02-20\">\r\n<files>\r\nc.txt:30:3\\\r\nd.txt:12:4\\\r\n</files>\r\n</update>";

std::string ListOf(std::size_t bytes) {
  std::string list = "<update id=\"1\"><files>";
  while (list.size() < bytes) list += "file-with-a-long-name.bin:12345:678\\";
  return list + "</files></update>\r\n" + kNewBlock;
}

// Selects from a list of state.range(0) MiB with `recorded` as the stored
// LiveUpdate.lastUpdateInfo; the selected block must be want(list).
void Select(benchmark::State& state, const std::string& recorded,
            std::size_t (*wantSize)(const std::string& list)) {
  const std::string list = ListOf(static_cast<std::size_t>(state.range(0)) << 20);
  AssignNullText(StdText());  // the selection logs every entry
  const SettingLookup lookup = [&](std::string_view keySpec) {
    return keySpec.substr(0, 25) == "LiveUpdate.lastUpdateInfo"
               ? recorded
               : std::string(keySpec.substr(keySpec.find('=') + 1));
  };
  for (auto _ : state) {
    const std::string selected = SelectUpdate(list, lookup);
    if (selected.size() != wantSize(list)) {
      state.SkipWithError("the wrong block was selected");
      break;
    }
    benchmark::DoNotOptimize(selected);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(list.size()));
  state.SetComplexityN(state.range(0));
}

void BM_SelectAfterTheRecordedBlock(benchmark::State& state) {
  Select(state, "<update id=\"1\">", [](const std::string&) { return kNewBlock.size(); });
}
void BM_SelectTheFirstBlockCountingEveryEntry(benchmark::State& state) {
  Select(state, "", [](const std::string& list) { return list.find("</update>") + 9; });
}
BENCHMARK(BM_SelectAfterTheRecordedBlock)
    ->RangeMultiplier(4)
    ->Range(1, 16)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);
BENCHMARK(BM_SelectTheFirstBlockCountingEveryEntry)
    ->RangeMultiplier(4)
    ->Range(1, 16)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

}  // namespace

BENCHMARK_MAIN();
