// Parsing the settings file: linear in its size, however its keys fall into sections (one
// section of many keys, or many small sections).
#include <benchmark/benchmark.h>

#include <string>

#include "foundation/IniFile.h"

namespace {

std::string ManyKeys(int64_t keys, int64_t perSection) {
  std::string text;
  for (int64_t i = 0; i < keys; ++i) {
    if (i % perSection == 0) text += "[Section " + std::to_string(i / perSection) + "]\n";
    text += "Key" + std::to_string(i) + "=value of key " + std::to_string(i) + "\n";
  }
  return text;
}

void BM_ParseOneSectionOfManyKeys(benchmark::State& state) {
  const std::string text = ManyKeys(state.range(0), state.range(0));
  for (auto _ : state) benchmark::DoNotOptimize(IniFile::Parse(text));
  state.SetComplexityN(state.range(0));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_ParseOneSectionOfManyKeys)->RangeMultiplier(4)->Range(1 << 10, 1 << 16)->Complexity();

void BM_ParseManySectionsOfTwentyKeys(benchmark::State& state) {
  const std::string text = ManyKeys(state.range(0), 20);
  for (auto _ : state) benchmark::DoNotOptimize(IniFile::Parse(text));
  state.SetComplexityN(state.range(0));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_ParseManySectionsOfTwentyKeys)
    ->RangeMultiplier(4)
    ->Range(1 << 10, 1 << 16)
    ->Complexity();

}  // namespace
