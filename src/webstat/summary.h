// The web statistics summary: accumulators of matching transactions (top
// lists, counters, a time series of quantum buckets) and the writers of the
// result file, which the merge of results reuses.
#pragma once

#include <cstdint>
#include <cstdio>

#include "common/output_settings.h"
#include "common/record_table.h"
#include "platform/types.h"

constexpr uint32_t kReasonCount = 8;  // VIRUS ... WF, the bits 0x01 to 0x80

// The payload of a top-list record (behind its KeyedRecordHeader, before the name).
struct TopEntryCounters {
  uint64_t volume;
  uint64_t hits;
  uint64_t blocked;
  uint64_t wfHits;
  uint64_t wfAllHits;
  uint64_t reasons[kReasonCount];
};

// Top-list metrics.
constexpr uint32_t kMetricVolume = 0;
constexpr uint32_t kMetricHits = 1;
constexpr uint32_t kMetricBlocked = 2;
constexpr uint32_t kMetricVirus = 3;
constexpr uint32_t kMetricWfHits = 4;
constexpr uint32_t kMetricWfAllHits = 5;

struct QuantumBucket {
  TimeValue time;  // start of the bucket
  uint64_t volume;
  uint64_t count;
  uint64_t wfHits;
  uint64_t wfAllHits;
  uint64_t blocked;
  uint64_t reasons[kReasonCount];
};

struct TimeSeries {
  TimeValue start;   // 0 = open
  uint32_t unit;     // TimeUnit
  uint64_t count;    // quantum length in units, 0 = no buckets
  RecordTable buckets;  // QuantumBuckets by time
  // The bucket of the last time added, valid until the next new bucket: lines
  // come in time order, and every time of one alignment step shares a bucket.
  uint64_t cacheStep;
  QuantumBucket* cacheBucket;
};

// Zero-initialise; WebSummaryFree releases the tables.
struct WebSummary {
  uint32_t transactionCount;
  uint64_t totalVolume;
  RecordTable users;
  RecordTable ips;
  RecordTable hosts;
  RecordTable categories;     // counter table keyed "0x%08lx"
  RecordTable allCategories;
  RecordTable viruses;
  RecordTable codes;
  TimeSeries series;
  // Transactions per category bit, added to the two counter tables when the
  // summary is written: a bit's key never changes its spelling.
  uint64_t categoryBits[32];
  uint64_t allCategoryBits[32];
  // Transactions per status code as spelled, in the order first seen, added
  // to `codes` when full or when the summary is written: a line's code is
  // one of a few.
  struct CodeCount {
    uint64_t text;  // up to 8 bytes, zero-padded
    uint64_t count;
  } codeCounts[16];
  uint32_t codeCountUsed;
};

void WebSummaryFree(WebSummary* summary);

// Zeroes the series and stores its quantum; with a count, inserts the empty
// buckets of the interval's start and end (when set).
void InitTimeSeries(TimeSeries* series, TimeValue start, TimeValue end, uint32_t unit,
                    uint64_t count);
// Adds one matching transaction. Names may be null (not added). Allocation
// failures drop that contribution. kErrInvalidArgument without a summary.
ResultCode AddSummaryRecord(WebSummary* summary, const char* user, const char* host,
                            const char* ip, const char* code, uint64_t volume, uint32_t reason,
                            uint32_t categories1, uint32_t categories2, const char* detail);
// Adds one contribution to the entry of name (letter case ignored, first
// spelling kept). fromResult: a contribution read back from a result file.
ResultCode TopListAdd(RecordTable* list, const char* name, uint64_t hits, uint64_t volume,
                      uint64_t blocked, uint64_t wfHits, uint64_t wfAllHits, uint32_t reason,
                      bool fromResult);
// Adds to the bucket of time (created when missing).
ResultCode AddToTimeSeries(TimeSeries* series, uint32_t reason, TimeValue time, uint64_t count,
                           uint64_t volume, uint32_t categories1, uint32_t categories2);

// Adds every counter of a whole bucket (a series line read back from a result)
// to the bucket of its time aligned to the series' quantum.
ResultCode AddBucketToSeries(TimeSeries* series, const QuantumBucket* add);

// The two header lines "params;start=...;end=...\nformat;units=..." into
// buffer, cut to size and terminated. kErrInvalidArgument without a buffer.
ResultCode FormatResultHeader(TimeValue start, TimeValue end, uint32_t units, char* buffer,
                              size_t size);
// Writes the result file after the header. kErrInvalidArgument when an
// argument is missing (nothing is written then).
ResultCode WriteSummary(FILE* output, const char* header, WebSummary* summary,
                        const OutputSettings* settings);
// One top list by metric: lines "key;name;value" while the metric reaches
// minimum, at most top lines (0 = all). Lines written, or -1.
int WriteTopSection(FILE* output, const char* key, RecordTable* list, uint32_t metric,
                    uint32_t top, uint64_t minimum, uint32_t units);
// The totals line over all buckets. Lines written (1), or -1.
int WriteTotalsLine(FILE* output, const char* key, TimeSeries* series, uint32_t units,
                    uint64_t totalVolume);
// The bucket lines in time order with gap lines between them. Lines, or -1.
int WriteSeriesLines(FILE* output, const char* key, TimeSeries* series, uint32_t units);
