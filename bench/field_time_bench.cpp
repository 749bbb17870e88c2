// Per-line cost of the metadata handlers' front end: the time field and a few
// following fields of a typical 200-byte SMTP line.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>

#include "common/text_match.h"
#include "common/time.h"

namespace {

const char kLine[] =
    "mx1-0001DA;13:45:47;0;billing.dvorak@betper.info;jana.pospisil@firma.example,"
    "petr.svoboda@firma.example;154.73.22.77;A----;D6F5717BBCA7CD6D1BC433B62557DCAC382267DA;"
    "1000;smtp.danwesyor.co.uk;ESMTPS;153";

void BM_GetFieldAndTimeOfDay(benchmark::State& state) {
  char field[512];
  uint64_t lines = 0;
  for (auto _ : state) {
    const char* cursor = kLine;
    size_t length = 0;
    GetField(&cursor, 1, ';', nullptr, field, sizeof field, &length);
    uint64_t ticks = 0;
    uint16_t hour = 0;
    ParseTimeOfDay(field, &ticks, &hour, nullptr, nullptr);
    GetField(&cursor, 0, ';', nullptr, field, sizeof field, &length);  // status
    GetField(&cursor, 2, ';', nullptr, field, sizeof field, &length);  // client address
    benchmark::DoNotOptimize(ticks);
    benchmark::DoNotOptimize(field[0]);
    ++lines;
  }
  state.SetItemsProcessed(static_cast<int64_t>(lines));
  state.SetBytesProcessed(static_cast<int64_t>(lines * strlen(kLine)));
}
BENCHMARK(BM_GetFieldAndTimeOfDay);

}  // namespace
