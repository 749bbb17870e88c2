// Small pieces the metadata handlers share: per-hour counters, number
// reading and formatting, argument checks, top-list orders.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "common/record_table.h"
#include "common/text_match.h"
#include "stat/stat_types.h"

constexpr int kHours = 24;
// Capacity of text keys read from log fields (longer keys are cut).
constexpr size_t kKeyCapacity = 1024;
// Top lists without a practical limit.
constexpr uint32_t kAllLines = 0xFFFFFFFFu;

// Signed decimal number at the start of text (blanks skipped, optional sign);
// 0 when there are no digits; saturates at the 32-bit limits.
int32_t ReadSignedDecimal(const char* text);
// Unsigned decimal number; 0 when there are no digits; saturates.
uint64_t ReadUnsignedDecimal(const char* text);
// Writes value with "%d" into buffer (at least 12 bytes); returns buffer.
char* FormatSigned(int32_t value, char* buffer);
// The same readers on a field view (they stop at its end).
int32_t ReadSignedDecimal(TextView text);
uint64_t ReadUnsignedDecimal(TextView text);

bool IsAsciiLetter(char c);
// Field equals word ignoring ASCII case.
bool EqualsNoCase(const char* field, const char* word);
// Inline: most calls test a field of every line against a word of a few
// letters, and most fields differ in length.
inline bool EqualsNoCase(TextView field, const char* word) {
  const size_t length = std::strlen(word);
  if (field.length != length) return false;
  for (size_t i = 0; i < length; ++i) {
    char a = field.text[i];
    char b = word[i];
    if (a >= 'a' && a <= 'z') a = static_cast<char>(a - 32);
    if (b >= 'a' && b <= 'z') b = static_cast<char>(b - 32);
    if (a != b) return false;
  }
  return true;
}

// Keyed-table updates that wait kLines lines in a queue (short keys copied),
// so that the lookups' memory loads overlap: a key's lookup slot is loaded
// when it comes, its record halfway through the queue, and the update finds
// both in the cache. Updates keep their order; apply(table, probe, payload)
// makes one. Zero-initialise the entries; KeyedQueueFlush before the table
// is read.
template <typename Payload>
struct KeyedQueue {
  static constexpr size_t kLines = 16;
  static constexpr size_t kKeyMax = 128;
  struct Entry {
    KeyedProbe probe;
    Payload payload;
    char text[kKeyMax];
  };
  RecordTable* table;
  void (*apply)(RecordTable* table, const KeyedProbe& probe, const Payload& payload);
  Entry entries[kLines];
  size_t head;
  size_t size;
};

// Applies every queued update, oldest first.
template <typename Payload>
void KeyedQueueFlush(KeyedQueue<Payload>* queue) {
  for (; queue->size != 0; --queue->size, queue->head = (queue->head + 1) % KeyedQueue<Payload>::kLines) {
    const auto& entry = queue->entries[queue->head];
    queue->apply(queue->table, entry.probe, entry.payload);
  }
}

// Queues an update; the oldest is applied when the queue is full, an update
// of a long key at once (after the ones before it).
template <typename Payload>
void KeyedQueueAdd(KeyedQueue<Payload>* queue, const KeyedProbe& probe, const Payload& payload) {
  using Queue = KeyedQueue<Payload>;
  if (probe.length > Queue::kKeyMax) {
    KeyedQueueFlush(queue);
    queue->apply(queue->table, probe, payload);
    return;
  }
  if (queue->size == Queue::kLines) {
    const auto& oldest = queue->entries[queue->head];
    queue->apply(queue->table, oldest.probe, oldest.payload);
    queue->head = (queue->head + 1) % Queue::kLines;
    --queue->size;
  }
  auto& entry = queue->entries[(queue->head + queue->size) % Queue::kLines];
  ++queue->size;
  std::memcpy(entry.text, probe.key, probe.length);
  entry.probe = probe;
  entry.probe.key = entry.text;
  entry.payload = payload;
  KeyedTablePrefetchSlot(queue->table, entry.probe);
  if (queue->size > Queue::kLines / 2) {
    const auto& middle = queue->entries[(queue->head + queue->size - 1 - Queue::kLines / 2) % Queue::kLines];
    KeyedTablePrefetchRecord(queue->table, middle.probe);
  }
}

// Counter-table additions through a KeyedQueue: CounterQueueAdd queues
// CounterTableAddView(table, key, add1, add2, last).
struct CounterAddition {
  uint64_t add1;
  uint64_t add2;
  int64_t last;
};
using CounterQueue = KeyedQueue<CounterAddition>;
void ApplyCounterAddition(RecordTable* table, const KeyedProbe& probe, const CounterAddition& add);
inline CounterQueue MakeCounterQueue(RecordTable* table) { return CounterQueue{table, ApplyCounterAddition, {}, 0, 0}; }
void CounterQueueAdd(CounterQueue* queue, TextView key, uint64_t add1, uint64_t add2, int64_t last);
inline void CounterQueueFlush(CounterQueue* queue) { KeyedQueueFlush(queue); }

// Counts per small non-negative number, added to a counter table under the
// number written with "%d" at the end; other numbers go to the table at once.
// The table's content is the same as with one addition per number.
struct NumberCounts {
  static constexpr int32_t kDirect = 1024;
  uint32_t counts[kDirect];
};
void NumberCountsAdd(NumberCounts* counts, RecordTable* table, int32_t number);
// Moves the counts into the table and zeroes them.
void NumberCountsFlush(NumberCounts* counts, RecordTable* table);

// The handler contract's argument check.
inline bool HandlerArgumentsValid(FILE* primary, FILE* output, uint32_t* lines, uint64_t* lastTime,
                                  const OutputSettings* settings) {
  return primary != nullptr && output != nullptr && lines != nullptr && lastTime != nullptr &&
         settings != nullptr;
}

// The top-list order with a fixed tie order (key, ignoring case), so that
// equal counts always come out the same way.
int CompareCountersThenKey(void* context, const void* a, const void* b);
