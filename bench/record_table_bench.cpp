// Counter table throughput: a day's worth of adds over many distinct keys.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "common/record_table.h"

namespace {

constexpr int kDistinctKeys = 200000;
constexpr int kAdds = 1000000;

std::vector<std::string> MakeKeys() {
  std::mt19937 random(42);
  std::vector<std::string> keys;
  keys.reserve(kDistinctKeys);
  for (int i = 0; i < kDistinctKeys; ++i) {
    size_t length = 8 + random() % 33;
    std::string key = std::to_string(i) + "@";
    while (key.size() < length) key.push_back(static_cast<char>('a' + random() % 26));
    keys.push_back(key);
  }
  return keys;
}

// The key of every add, as a parser hands it over: a pointer to its text.
std::vector<const char*> MakeSequence(const std::vector<std::string>& keys) {
  std::mt19937 random(7);
  std::vector<uint32_t> order(kAdds);
  for (int i = 0; i < kAdds; ++i) {
    // Every key appears at least once; the rest are drawn uniformly.
    order[i] = i < kDistinctKeys ? static_cast<uint32_t>(i)
                                    : static_cast<uint32_t>(random() % kDistinctKeys);
  }
  std::shuffle(order.begin(), order.end(), random);
  std::vector<const char*> sequence;
  sequence.reserve(kAdds);
  for (uint32_t k : order) sequence.push_back(keys[k].c_str());
  return sequence;
}

// One million adds, then a walk of the table in order (which settles it).
void BM_CounterTableAdd(benchmark::State& state) {
  static const std::vector<std::string> keys = MakeKeys();
  static const std::vector<const char*> sequence = MakeSequence(keys);
  for (auto _ : state) {
    RecordTable table{};
    for (const char* key : sequence) CounterTableAdd(&table, key, 1, 100, 7);
    uint64_t total = 0;
    RecordTableForEach(
        &table,
        [](void* context, void* record) {
          *static_cast<uint64_t*>(context) += static_cast<CounterRecord*>(record)->total1;
          return 0;
        },
        &total);
    benchmark::DoNotOptimize(total);
    if (RecordTableCount(&table) != kDistinctKeys || total != kAdds) state.SkipWithError("wrong totals");
    RecordTableFree(&table);
  }
  state.SetItemsProcessed(state.iterations() * kAdds);
}
BENCHMARK(BM_CounterTableAdd)->Unit(benchmark::kMillisecond);

}  // namespace
