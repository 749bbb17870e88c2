// Summary accumulators and the result file writers.
#include "webstat/summary.h"

#include <cinttypes>
#include <cstring>

#include "common/metadata_output.h"
#include "common/time.h"
#include "frame/console.h"

namespace {

constexpr uint32_t kTopPayload = sizeof(TopEntryCounters);

TopEntryCounters* TopCounters(void* record) {
  return reinterpret_cast<TopEntryCounters*>(static_cast<unsigned char*>(record) +
                                             sizeof(KeyedRecordHeader));
}

int CompareBucketTime(const void* key, const void* record) {
  TimeValue a = *static_cast<const TimeValue*>(key);
  TimeValue b = static_cast<const QuantumBucket*>(record)->time;
  return a < b ? -1 : (a > b ? 1 : 0);
}

// Ticks below which AlignToQuantum of a unit does not look.
uint64_t AlignmentGrain(uint32_t unit) {
  switch (unit) {
    case kUnitSecond: return kTicksPerSecond;
    case kUnitMinute: return kTicksPerMinute;
    case kUnitHour: return kTicksPerHour;
    default: return kTicksPerDay;
  }
}

int CompareBucketTime(const void* key, const void* record);

// A new empty bucket; earlier bucket addresses may move.
QuantumBucket* InsertBucket(TimeSeries* series, TimeValue bucketTime) {
  QuantumBucket empty{};
  empty.time = bucketTime;
  void* record = nullptr;
  series->cacheBucket = nullptr;
  if (RecordTableInsert(&series->buckets, &empty, sizeof empty, CompareBucketTime, &bucketTime,
                        &record) != kOk) {
    return nullptr;
  }
  return static_cast<QuantumBucket*>(record);
}

// The counter key of a category bit: "0x%08lx" of its value, spelled out
// here because it is built for every set bit of every finished line.
void CategoryKey(uint32_t bit, char key[11]) {
  static const char kHex[] = "0123456789abcdef";
  const uint32_t value = 1u << bit;
  key[0] = '0';
  key[1] = 'x';
  for (uint32_t i = 0; i < 8; ++i) key[2 + i] = kHex[(value >> (28 - 4 * i)) & 15];
  key[10] = '\0';
}

void CountCategoryBits(uint64_t* counts, uint32_t bits) {
  for (uint32_t rest = bits; rest != 0; rest &= rest - 1) ++counts[__builtin_ctz(rest)];
}

// Moves the counts per bit into the counter table (bits in ascending order).
void FlushCategoryBits(RecordTable* table, uint64_t* counts) {
  for (uint32_t bit = 0; bit < 32; ++bit) {
    if (counts[bit] == 0) continue;
    char key[11];
    CategoryKey(bit, key);
    CounterTableAdd(table, key, counts[bit], 0, 0);
    counts[bit] = 0;
  }
}

// Moves the counts per code into the counter table, in the order first seen.
void FlushCodeCounts(WebSummary* summary) {
  for (uint32_t i = 0; i < summary->codeCountUsed; ++i) {
    char key[9] = {};
    std::memcpy(key, &summary->codeCounts[i].text, 8);
    CounterTableAdd(&summary->codes, key, summary->codeCounts[i].count, 0, 0);
  }
  summary->codeCountUsed = 0;
}

void CountCode(WebSummary* summary, const char* code) {
  const size_t length = std::strlen(code);
  if (length > 8) {
    FlushCodeCounts(summary);
    CounterTableAdd(&summary->codes, code, 1, 0, 0);
    return;
  }
  uint64_t text = 0;
  std::memcpy(&text, code, length);
  for (uint32_t i = 0; i < summary->codeCountUsed; ++i) {
    if (summary->codeCounts[i].text == text) {
      ++summary->codeCounts[i].count;
      return;
    }
  }
  const uint32_t room = sizeof summary->codeCounts / sizeof summary->codeCounts[0];
  if (summary->codeCountUsed == room) FlushCodeCounts(summary);
  summary->codeCounts[summary->codeCountUsed++] = {text, 1};
}

uint64_t MetricValue(const TopEntryCounters* counters, uint32_t metric) {
  switch (metric) {
    case kMetricVolume: return counters->volume;
    case kMetricHits: return counters->hits;
    case kMetricBlocked: return counters->blocked;
    case kMetricVirus: return counters->reasons[0];
    case kMetricWfHits: return counters->wfHits;
    default: return counters->wfAllHits;
  }
}

int CompareDescending(uint64_t a, uint64_t b) { return a > b ? -1 : (a < b ? 1 : 0); }

int CompareTopEntries(void* context, const void* a, const void* b) {
  uint32_t metric = *static_cast<const uint32_t*>(context);
  const TopEntryCounters* x = TopCounters(const_cast<void*>(a));
  const TopEntryCounters* y = TopCounters(const_cast<void*>(b));
  int order = CompareDescending(MetricValue(x, metric), MetricValue(y, metric));
  if (order == 0) order = CompareDescending(x->hits, y->hits);
  if (order == 0) order = CompareDescending(x->blocked, y->blocked);
  if (order == 0) order = CompareDescending(x->wfHits, y->wfHits);
  if (order == 0) order = CompareDescending(x->wfAllHits, y->wfAllHits);
  if (order == 0) order = CompareDescending(x->volume, y->volume);
  return order;
}

void WriteReasons(FILE* output, const uint64_t* reasons) {
  for (uint32_t i = 0; i < kReasonCount; ++i) {
    std::fprintf(output, ";%" PRIu64, reasons[i]);
  }
}

struct TopSectionSpec {
  const char* key;
  uint32_t metric;
  uint64_t minimum;
};

void WriteTopBlock(FILE* output, RecordTable* list, const TopSectionSpec (&sections)[6],
                   const OutputSettings* settings) {
  for (const TopSectionSpec& section : sections) {
    if (WriteTopSection(output, section.key, list, section.metric, settings->topCount,
                        section.minimum, settings->unitDivisor) > 0) {
      std::fputc('\n', output);
    }
  }
  std::fputc('\n', output);
}

void WriteCounterBlock(FILE* output, RecordTable* table, const char* key) {
  if (WriteTopList(table, nullptr, output, key, 0xFFFFFFFFu, 0, 1, false, false) > 0) {
    std::fputc('\n', output);
  }
}

void Announce(const wchar_t* text) {
  if (GetVerbosity() >= 10) PrintErr(L"%s\n", text);
}

}  // namespace

void WebSummaryFree(WebSummary* summary) {
  if (summary == nullptr) return;
  RecordTableFree(&summary->users);
  RecordTableFree(&summary->ips);
  RecordTableFree(&summary->hosts);
  RecordTableFree(&summary->categories);
  RecordTableFree(&summary->allCategories);
  RecordTableFree(&summary->viruses);
  RecordTableFree(&summary->codes);
  RecordTableFree(&summary->series.buckets);
  std::memset(summary, 0, sizeof *summary);
}

void InitTimeSeries(TimeSeries* series, TimeValue start, TimeValue end, uint32_t unit,
                    uint64_t count) {
  RecordTableFree(&series->buckets);
  std::memset(series, 0, sizeof *series);
  series->start = start;
  series->unit = unit;
  series->count = count;
  if (count == 0) return;
  TimeValue first = 0;
  if (start != 0) {
    first = AlignToQuantum(start, unit, static_cast<int64_t>(count));
    AddToTimeSeries(series, 0, first, 0, 0, 0, 0);
  }
  if (end != 0) {
    TimeValue last = AlignToQuantum(end, unit, static_cast<int64_t>(count));
    if (start == 0 || last != first) AddToTimeSeries(series, 0, last, 0, 0, 0, 0);
  }
}

ResultCode AddSummaryRecord(WebSummary* summary, const char* user, const char* host,
                            const char* ip, const char* code, uint64_t volume, uint32_t reason,
                            uint32_t categories1, uint32_t categories2, const char* detail) {
  if (summary == nullptr) return kErrInvalidArgument;
  ++summary->transactionCount;
  summary->totalVolume += volume;
  reason &= ~0x10000000u;
  uint64_t blocked = reason != 0 ? 1 : 0;
  uint64_t wfHits = categories1 != 0 ? 1 : 0;
  uint64_t wfAllHits = categories2 != 0 ? 1 : 0;
  if (ip != nullptr) TopListAdd(&summary->ips, ip, 1, volume, blocked, wfHits, wfAllHits, reason, false);
  if (user != nullptr) {
    TopListAdd(&summary->users, user, 1, volume, blocked, wfHits, wfAllHits, reason, false);
  }
  if (host != nullptr) {
    TopListAdd(&summary->hosts, host, 1, volume, blocked, wfHits, wfAllHits, reason, false);
  }
  if (code != nullptr) CountCode(summary, code);
  CountCategoryBits(summary->categoryBits, categories1);
  CountCategoryBits(summary->allCategoryBits, categories2);
  if ((reason & 0x01) != 0) {
    CounterTableAdd(&summary->viruses, detail != nullptr ? detail : "", 1, 0, 0);
  }
  return kOk;
}

ResultCode TopListAdd(RecordTable* list, const char* name, uint64_t hits, uint64_t volume,
                      uint64_t blocked, uint64_t wfHits, uint64_t wfAllHits, uint32_t reason,
                      bool fromResult) {
  if (list == nullptr || name == nullptr) return kErrInvalidArgument;
  if (blocked == 0) {
    reason = 0;
  } else {
    reason &= ~0x10000000u;
  }
  if (fromResult && reason == 0) blocked = 0;
  TopEntryCounters add{};
  add.volume = volume;
  add.hits = hits;
  if (!fromResult) {
    add.blocked = blocked;
    add.wfHits = wfHits;
    add.wfAllHits = wfAllHits;
  }
  for (uint32_t i = 0; i < kReasonCount; ++i) {
    if ((reason & (1u << i)) != 0) add.reasons[i] = blocked;
  }
  void* record = nullptr;
  bool inserted = false;
  ResultCode result = KeyedTableFindOrInsert(list, name, kTopPayload, &record, &inserted);
  if (result != kOk) return result;
  TopEntryCounters* counters = TopCounters(record);
  counters->volume += add.volume;
  counters->hits += add.hits;
  counters->blocked += add.blocked;
  counters->wfHits += add.wfHits;
  counters->wfAllHits += add.wfAllHits;
  for (uint32_t i = 0; i < kReasonCount; ++i) counters->reasons[i] += add.reasons[i];
  return kOk;
}

ResultCode AddToTimeSeries(TimeSeries* series, uint32_t reason, TimeValue time, uint64_t count,
                           uint64_t volume, uint32_t categories1, uint32_t categories2) {
  if (series == nullptr) return kErrInvalidArgument;
  reason &= ~0x10000000u;
  // Alignment only looks at the time down to its unit, so equal steps share a bucket.
  const uint64_t step = series->count != 0 ? time / AlignmentGrain(series->unit) : time;
  QuantumBucket* bucket = nullptr;
  if (series->cacheBucket != nullptr && series->cacheStep == step) {
    bucket = series->cacheBucket;
  } else {
    TimeValue bucketTime =
        series->count != 0 ? AlignToQuantum(time, series->unit, static_cast<int64_t>(series->count))
                           : time;
    bucket = static_cast<QuantumBucket*>(
        RecordTableFind(&series->buckets, CompareBucketTime, &bucketTime));
    if (bucket == nullptr) bucket = InsertBucket(series, bucketTime);
    if (bucket == nullptr) return kErrNoMemory;
    series->cacheStep = step;
    series->cacheBucket = bucket;
  }
  bucket->volume += volume;
  bucket->count += count;
  if (reason != 0) {
    ++bucket->blocked;
    for (uint32_t i = 0; i < kReasonCount; ++i) {
      if ((reason & (1u << i)) != 0) ++bucket->reasons[i];
    }
  }
  if (categories1 != 0) ++bucket->wfHits;
  if (categories2 != 0) ++bucket->wfAllHits;
  return kOk;
}

ResultCode AddBucketToSeries(TimeSeries* series, const QuantumBucket* add) {
  if (series == nullptr || add == nullptr) return kErrInvalidArgument;
  TimeValue bucketTime = series->count != 0 ? AlignToQuantum(add->time, series->unit,
                                                             static_cast<int64_t>(series->count))
                                            : add->time;
  auto* bucket = static_cast<QuantumBucket*>(
      RecordTableFind(&series->buckets, CompareBucketTime, &bucketTime));
  if (bucket == nullptr) bucket = InsertBucket(series, bucketTime);
  if (bucket == nullptr) return kErrNoMemory;
  bucket->volume += add->volume;
  bucket->count += add->count;
  bucket->wfHits += add->wfHits;
  bucket->wfAllHits += add->wfAllHits;
  bucket->blocked += add->blocked;
  for (uint32_t i = 0; i < kReasonCount; ++i) bucket->reasons[i] += add->reasons[i];
  return kOk;
}

ResultCode FormatResultHeader(TimeValue start, TimeValue end, uint32_t units, char* buffer,
                              size_t size) {
  if (buffer == nullptr || size == 0) return kErrInvalidArgument;
  CalendarTime from{1601, 1, 1, 0, 0, 0, 0};
  CalendarTime to{1601, 1, 1, 0, 0, 0, 0};
  if (start != 0) SplitTime(start, &from);
  if (end != 0) SplitTime(end, &to);
  const char* word = "?";
  switch (units) {
    case 0: word = "B"; break;
    case 1024: word = "KiB"; break;
    case 1048576: word = "MiB"; break;
    case 1073741824: word = "GiB"; break;
    default: break;
  }
  std::snprintf(buffer, size,
                "params;start=%04u/%02u/%02u %02u:%02u:%02u;end=%04u/%02u/%02u %02u:%02u:%02u\n"
                "format;units=%s",
                from.year, from.month, from.day, from.hour, from.minute, from.second, to.year,
                to.month, to.day, to.hour, to.minute, to.second, word);
  return kOk;
}

int WriteTopSection(FILE* output, const char* key, RecordTable* list, uint32_t metric,
                    uint32_t top, uint64_t minimum, uint32_t units) {
  if (output == nullptr || key == nullptr || list == nullptr) return -1;
  RecordTableSort(list, CompareTopEntries, &metric, 1);
  uint32_t count = RecordTableCount(list);
  int written = 0;
  for (uint32_t i = 0; i < count; ++i) {
    void* record = RecordTableAt(list, i);
    const TopEntryCounters* counters = TopCounters(record);
    uint64_t value = MetricValue(counters, metric);
    if (value < minimum) break;
    const char* name = KeyedRecordKey(record, kTopPayload);
    if (metric == kMetricVolume) {
      char size[64];
      std::fprintf(output, "%s;%s;%s\n", key, name, FormatSize(value, units, size, sizeof size));
    } else {
      std::fprintf(output, "%s;%s;%" PRIu64 "\n", key, name, value);
    }
    ++written;
    if (top != 0 && static_cast<uint32_t>(written) >= top) break;
  }
  return written;
}

int WriteTotalsLine(FILE* output, const char* key, TimeSeries* series, uint32_t units,
                    uint64_t totalVolume) {
  if (output == nullptr || key == nullptr || series == nullptr) return -1;
  QuantumBucket sum{};
  uint32_t count = RecordTableCount(&series->buckets);
  for (uint32_t i = 0; i < count; ++i) {
    const auto* bucket = static_cast<const QuantumBucket*>(RecordTableAt(&series->buckets, i));
    sum.count += bucket->count;
    sum.wfHits += bucket->wfHits;
    sum.blocked += bucket->blocked;
    for (uint32_t r = 0; r < kReasonCount; ++r) sum.reasons[r] += bucket->reasons[r];
  }
  char size[64];
  std::fprintf(output, "%s;%s;%" PRIu64 ";%" PRIu64 ";%" PRIu64, key,
               FormatSize(totalVolume, units, size, sizeof size), sum.count, sum.wfHits,
               sum.blocked);
  WriteReasons(output, sum.reasons);
  std::fputc('\n', output);
  return 1;
}

int WriteSeriesLines(FILE* output, const char* key, TimeSeries* series, uint32_t units) {
  if (output == nullptr || key == nullptr || series == nullptr) return -1;
  uint32_t count = RecordTableCount(&series->buckets);
  int written = 0;
  bool havePrevious = false;
  TimeValue previous = 0;
  char size[64];
  for (uint32_t i = 0; i < count; ++i) {
    const auto* bucket = static_cast<const QuantumBucket*>(RecordTableAt(&series->buckets, i));
    if (series->count != 0 && havePrevious) {
      for (TimeValue t = AddTimeUnits(previous, series->unit, static_cast<int64_t>(series->count));
           t < bucket->time && t > previous;
           t = AddTimeUnits(t, series->unit, static_cast<int64_t>(series->count))) {
        CalendarTime at{};
        SplitTime(t, &at);
        std::fprintf(output, "%s;%04u/%02u/%02u;%02u:%02u;%s;0;0;0", key, at.year, at.month,
                     at.day, at.hour, at.minute, FormatSize(0, units, size, sizeof size));
        for (uint32_t r = 0; r < kReasonCount; ++r) std::fputs(";0", output);
        std::fputc('\n', output);
        ++written;
        previous = t;
      }
    }
    CalendarTime at{};
    SplitTime(bucket->time, &at);
    std::fprintf(output, "%s;%04u/%02u/%02u;%02u:%02u;%s;%" PRIu64 ";%" PRIu64 ";%" PRIu64, key,
                 at.year, at.month, at.day, at.hour, at.minute,
                 FormatSize(bucket->volume, units, size, sizeof size), bucket->count,
                 bucket->wfHits, bucket->blocked);
    WriteReasons(output, bucket->reasons);
    std::fputc('\n', output);
    ++written;
    havePrevious = true;
    previous = bucket->time;
  }
  return written;
}

ResultCode WriteSummary(FILE* output, const char* header, WebSummary* summary,
                        const OutputSettings* settings) {
  if (output == nullptr || summary == nullptr || settings == nullptr) return kErrInvalidArgument;
  if (header != nullptr && header[0] != '\0') std::fprintf(output, "%s\n\n", header);
  static const TopSectionSpec kUser[6] = {{"TUH", kMetricHits, 1},   {"TUV", kMetricVolume, 0},
                                          {"TUB", kMetricBlocked, 1}, {"TUVIR", kMetricVirus, 1},
                                          {"TUWF", kMetricWfHits, 1}, {"TUWFA", kMetricWfAllHits, 1}};
  static const TopSectionSpec kIp[6] = {{"TIH", kMetricHits, 1},   {"TIV", kMetricVolume, 0},
                                        {"TIB", kMetricBlocked, 1}, {"TIVIR", kMetricVirus, 1},
                                        {"TIWF", kMetricWfHits, 1}, {"TIWFA", kMetricWfAllHits, 1}};
  static const TopSectionSpec kHost[6] = {{"THH", kMetricHits, 1},   {"THV", kMetricVolume, 0},
                                          {"THB", kMetricBlocked, 1}, {"THVIR", kMetricVirus, 1},
                                          {"THWF", kMetricWfHits, 1}, {"THWFA", kMetricWfAllHits, 1}};
  Announce(L"summary: user");
  WriteTopBlock(output, &summary->users, kUser, settings);
  Announce(L"summary: IP");
  WriteTopBlock(output, &summary->ips, kIp, settings);
  Announce(L"summary: host");
  WriteTopBlock(output, &summary->hosts, kHost, settings);
  FlushCodeCounts(summary);
  FlushCategoryBits(&summary->categories, summary->categoryBits);
  FlushCategoryBits(&summary->allCategories, summary->allCategoryBits);
  WriteCounterBlock(output, &summary->codes, "HTTP");
  WriteCounterBlock(output, &summary->viruses, "VIR");
  WriteCounterBlock(output, &summary->categories, "WFC");
  WriteCounterBlock(output, &summary->allCategories, "WFCA");
  WriteTotalsLine(output, "S", &summary->series, settings->unitDivisor, summary->totalVolume);
  std::fputc('\n', output);
  if (WriteSeriesLines(output, "H", &summary->series, settings->unitDivisor) > 0) {
    std::fputc('\n', output);
  }
  return kOk;
}
