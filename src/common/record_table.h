// Growable table of variable-length records stored back to back in one data
// buffer, with an index of record offsets that gives the table's order, and
// the keyed counter table built on it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/types.h"

// Search / insertion comparator: comparator(key, record) < 0 when the key
// orders before the record, 0 when equal, > 0 after.
using RecordKeyComparator = int (*)(const void* key, const void* record);
// Sort comparator: comparator(context, a, b), same sign convention.
using RecordSortComparator = int (*)(void* context, const void* a, const void* b);
// Visitor of RecordTableForEach: a non-zero result stops the walk.
using RecordVisitor = int (*)(void* context, void* record);

// Zero-initialise before first use. Read records through the functions below
// (RecordTableCount / RecordTableAt): keyed tables settle their order lazily,
// so the raw index is only meaningful after one of those calls.
struct RecordTable {
  uint32_t indexCapacity;  // entries
  uint32_t count;          // records
  uint32_t* index;         // byte offsets into data, in table order
  uint32_t dataCapacity;   // bytes
  uint32_t dataUsed;       // bytes
  unsigned char* data;
  // Keyed (hash + key) tables: records index[sortedCount..count) were added
  // by key and are not yet merged into the order; lookup finds them by key.
  uint32_t sortedCount;
  uint32_t keyedState;     // 0 unused, 1 keyed fast path, 2 plain order only
  uint32_t keyOffset;      // bytes before the key in every keyed record
  uint64_t* lookup;        // open-addressed: (key hash << 32) | (record offset + 1)
  uint32_t lookupCapacity; // slots, a power of two
  uint32_t lookupCount;
};

// Records are placed on 8-byte boundaries of the data buffer.
constexpr uint32_t kDataSlack = 262144;
constexpr uint32_t kIndexStep = 10000;

// Header shared by every keyed record: the key's hash, a reserved word, then
// the record's own payload, then the NUL-terminated key.
struct KeyedRecordHeader {
  uint32_t hash;
  uint32_t reserved;
};

struct CounterRecord {
  uint32_t hash;      // sum of the key's signed bytes, a-z counted as A-Z
  uint32_t reserved;  // 0
  uint64_t total1;
  uint64_t total2;
  int64_t last;
  char key[1];        // NUL-terminated, 33 + length bytes in all
};

// Finds the position by binary search (no comparator: the end), and places a
// size-byte record there, before an equal record already present. Copies data
// when given; *record (optional) receives the record's address. -14 missing
// table or zero size, -2 when a buffer cannot grow.
ResultCode RecordTableInsert(RecordTable* table, const void* data, uint32_t size,
                             RecordKeyComparator comparator, const void* key, void** record);
// Insertion at the end without comparing; -14 for any missing argument.
ResultCode RecordTableAppend(RecordTable* table, const void* data, uint32_t size);
// The address of an equal record, or nullptr.
void* RecordTableFind(RecordTable* table, RecordKeyComparator comparator, const void* key);
// 0 and the position of an equal record, or -28 and the insertion position.
ResultCode RecordTableSearch(RecordTable* table, RecordKeyComparator comparator, const void* key,
                             uint32_t* position);
// Heap sort of the index: comparator(context, a, b) * direction is never
// positive for a before b. direction is +1 or -1.
ResultCode RecordTableSort(RecordTable* table, RecordSortComparator comparator, void* context,
                           int direction);
// Record filter of RecordTableSelect: true keeps the record.
using RecordFilter = bool (*)(void* context, const void* record);
// The first `limit` records that pass `keep` (every record when keep is
// null) in comparator order, into *out; the table's own order is untouched.
// With a comparator that orders every two distinct records (ties broken by
// key) this is exactly the head of a full sort, found in O(n log limit).
// kErrInvalidArgument for a missing table, comparator or out.
ResultCode RecordTableSelect(RecordTable* table, RecordSortComparator comparator, void* context,
                             RecordFilter keep, void* keepContext, uint32_t limit,
                             std::vector<void*>* out);
// The first non-zero visitor result, walking in index order; 0 otherwise.
int RecordTableForEach(RecordTable* table, RecordVisitor visitor, void* context);
// Empties the table, keeping both buffers.
ResultCode RecordTableClear(RecordTable* table);
// Frees the buffers and zeroes every field.
ResultCode RecordTableFree(RecordTable* table);

// Number of records, and the record at a position in table order (nullptr
// past the end).
uint32_t RecordTableCount(RecordTable* table);
void* RecordTableAt(RecordTable* table, uint32_t position);

// The counter table: adds to the totals of the record with this key (ASCII
// case ignored; the first spelling is kept) or inserts it in (hash, key)
// order. -14 missing table or key, -2 on allocation failure.
ResultCode CounterTableAdd(RecordTable* table, const char* key, uint64_t add1, uint64_t add2,
                           int64_t last);
// As CounterTableAdd for the key text[0, length) (it ends early at a NUL).
ResultCode CounterTableAddView(RecordTable* table, const char* key, size_t length, uint64_t add1,
                               uint64_t add2, int64_t last);
// The counter record of a key, or nullptr.
CounterRecord* CounterTableFind(RecordTable* table, const char* key);

// Insert-or-find for any keyed record laid out as a KeyedRecordHeader,
// payloadSize bytes, then the NUL-terminated key (8 + payloadSize + length + 1
// bytes; CounterRecord has a payload of 24, so does the RBL address record of
// four u32 and one u64). A new record is inserted in (hash, key) order with
// its payload zeroed and its hash and key filled; *inserted tells which
// happened. *record stays valid until the next insertion.
ResultCode KeyedTableFindOrInsert(RecordTable* table, const char* key, uint32_t payloadSize,
                                  void** record, bool* inserted);
// As KeyedTableFindOrInsert for the key text[0, length) (it ends early at a
// NUL).
ResultCode KeyedTableFindOrInsertView(RecordTable* table, const char* key, size_t length,
                                      uint32_t payloadSize, void** record, bool* inserted);
// A key with its lookup hash, computed once for prefetching and for the lookup
// after it. The key text must stay valid while the probe is used.
struct KeyedProbe {
  const char* key;
  uint32_t length;
  uint32_t mixed;  // the lookup's hash
};
// The probe of the key text[0, length) (it ends early at a NUL); false when
// the key is too long to be one.
bool KeyedProbeInit(KeyedProbe* probe, const char* key, size_t length);
// Hints only, for lookups some lines later: start loading the probe's lookup
// slot, or the record its slot names, into the cache. The table is unchanged.
void KeyedTablePrefetchSlot(const RecordTable* table, const KeyedProbe& probe);
void KeyedTablePrefetchRecord(const RecordTable* table, const KeyedProbe& probe);
// KeyedTableFindOrInsertView with a probe.
ResultCode KeyedTableFindOrInsertProbe(RecordTable* table, const KeyedProbe& probe,
                                       uint32_t payloadSize, void** record, bool* inserted);
// CounterTableAddView with a probe.
ResultCode CounterTableAddProbe(RecordTable* table, const KeyedProbe& probe, uint64_t add1,
                                uint64_t add2, int64_t last);
// The keyed record of a key, or nullptr.
void* KeyedTableFind(RecordTable* table, const char* key, uint32_t payloadSize);

// The key text of a keyed record with the given payload size.
inline const char* KeyedRecordKey(const void* record, uint32_t payloadSize) {
  return static_cast<const char*>(record) + sizeof(KeyedRecordHeader) + payloadSize;
}

// Sum of the key's signed bytes with a-z counted as A-Z.
uint32_t KeyHash(const char* key);

// Default top-list order: larger total1 first, then larger total2; a custom
// comparator (context == nullptr) decides instead when given.
int CompareCounterRecords(RecordSortComparator comparator, const CounterRecord* a,
                          const CounterRecord* b);
// A sort comparator using CompareCounterRecords' default order (the context
// is unused), for RecordTableSort.
int CompareCounterRecordsSort(void* context, const void* a, const void* b);
// Byte-wise comparison with a-z folded to A-Z: -1, 0, 1; a prefix orders first.
int CompareKeyNoCase(const char* a, const char* b);
