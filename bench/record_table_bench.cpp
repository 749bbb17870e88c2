// Counter table throughput: a day's worth of adds over many distinct keys.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "common/record_table.h"
#include "common/text_match.h"

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

// Reading every field of a typical log line, one after another.
void BM_GetFieldWalk(benchmark::State& state) {
  const char* line =
      "13:05:10;192.168.1.10;mail.example.com;<sender@example.com>;<rcpt@example.org>;"
      "250 2.0.0 Ok: queued as 1A2B3C;12345;0;SPAM;  trailing text with blanks  \n";
  char buffer[256];
  size_t length = 0;
  for (auto _ : state) {
    const char* cursor = line;
    size_t total = 0;
    while (GetField(&cursor, 0, ';', nullptr, buffer, sizeof buffer, &length) && *cursor != 0) {
      total += length;
    }
    benchmark::DoNotOptimize(total);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(std::strlen(line)));
}
BENCHMARK(BM_GetFieldWalk);

}  // namespace
