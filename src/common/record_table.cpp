// Record tables: records back to back in one buffer, an offset index in
// table order. Keyed tables (hash + key records) find their records through a
// hash lookup and keep new ones at the index's tail until the order is next
// observed; they are then sorted and merged in. Because keys are unique and
// the (hash, key) order is total, the result is the order that inserting each
// record at its binary-search position gives.
#include "common/record_table.h"

#include "common/key_words.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

constexpr uint32_t kKeyedUnused = 0;
constexpr uint32_t kKeyedFast = 1;
constexpr uint32_t kPlainOrder = 2;
constexpr uint32_t kCounterPayload = 24;
constexpr uint32_t kMinLookup = 1024;
constexpr size_t kMaxKeyLength = 0x7FFFFFFF;

inline unsigned char FoldUpper(unsigned char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - 32) : c;
}

inline unsigned char* RecordAt(const RecordTable* table, uint32_t position) {
  return table->data + table->index[position];
}

// Key of a search inside a keyed table (length bytes, no NUL among them).
struct KeyProbe {
  uint32_t hash;
  uint32_t keyOffset;
  const char* key;
  size_t length;
};

int CompareKeyedOrder(uint32_t hashA, const char* keyA, uint32_t hashB, const char* keyB) {
  if (hashA != hashB) return hashA < hashB ? -1 : 1;
  return CompareKeyNoCase(keyA, keyB);
}

// CompareKeyNoCase of a key of known length against a stored key.
int CompareViewNoCase(const char* key, size_t length, const char* stored) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(key);
  const unsigned char* q = reinterpret_cast<const unsigned char*>(stored);
  for (size_t i = 0; i < length; ++i) {
    unsigned char x = FoldUpper(p[i]);
    unsigned char y = FoldUpper(q[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  return q[length] == 0 ? 0 : -1;
}

int CompareProbe(const void* key, const void* record) {
  const KeyProbe* probe = static_cast<const KeyProbe*>(key);
  const KeyedRecordHeader* header = static_cast<const KeyedRecordHeader*>(record);
  if (probe->hash != header->hash) return probe->hash < header->hash ? -1 : 1;
  return CompareViewNoCase(probe->key, probe->length,
                           static_cast<const char*>(record) + probe->keyOffset);
}

// Sorts record offsets by (hash, key): first by the hash alone, packed with
// the offset into one integer, then each run of equal hashes by key.
// False when the scratch array cannot be had (the caller sorts directly).
bool SortPending(const unsigned char* data, uint32_t keyOffset, uint32_t* first, uint32_t* last) {
  size_t count = static_cast<size_t>(last - first);
  uint64_t* packed = static_cast<uint64_t*>(std::malloc(count * sizeof(uint64_t)));
  if (packed == nullptr) return false;
  for (size_t i = 0; i < count; ++i) {
    uint32_t hash = reinterpret_cast<const KeyedRecordHeader*>(data + first[i])->hash;
    packed[i] = (static_cast<uint64_t>(hash) << 32) | first[i];
  }
  std::sort(packed, packed + count);
  auto keyLess = [data, keyOffset](uint64_t a, uint64_t b) {
    return CompareKeyNoCase(reinterpret_cast<const char*>(data + static_cast<uint32_t>(a) + keyOffset),
                            reinterpret_cast<const char*>(data + static_cast<uint32_t>(b) + keyOffset)) < 0;
  };
  for (size_t run = 0; run < count;) {
    size_t runEnd = run + 1;
    while (runEnd < count && (packed[runEnd] >> 32) == (packed[run] >> 32)) ++runEnd;
    if (runEnd - run > 1) std::sort(packed + run, packed + runEnd, keyLess);
    run = runEnd;
  }
  for (size_t i = 0; i < count; ++i) first[i] = static_cast<uint32_t>(packed[i]);
  std::free(packed);
  return true;
}

// Brings the pending tail of a keyed table into order.
void Settle(RecordTable* table) {
  if (table->keyedState != kKeyedFast || table->sortedCount >= table->count) return;
  const unsigned char* data = table->data;
  uint32_t keyOffset = table->keyOffset;
  auto less = [data, keyOffset](uint32_t a, uint32_t b) {
    const unsigned char* ra = data + a;
    const unsigned char* rb = data + b;
    return CompareKeyedOrder(reinterpret_cast<const KeyedRecordHeader*>(ra)->hash,
                             reinterpret_cast<const char*>(ra + keyOffset),
                             reinterpret_cast<const KeyedRecordHeader*>(rb)->hash,
                             reinterpret_cast<const char*>(rb + keyOffset)) < 0;
  };
  uint32_t* begin = table->index;
  uint32_t* middle = begin + table->sortedCount;
  uint32_t* end = begin + table->count;
  if (!SortPending(data, keyOffset, middle, end)) std::sort(middle, end, less);
  std::inplace_merge(begin, middle, end, less);
  table->sortedCount = table->count;
}

void DropLookup(RecordTable* table) {
  std::free(table->lookup);
  table->lookup = nullptr;
  table->lookupCapacity = 0;
  table->lookupCount = 0;
}

// The table's order from now on is whatever the plain operations make it.
void LeaveKeyedMode(RecordTable* table) {
  Settle(table);
  if (table->keyedState == kKeyedFast) {
    table->keyedState = kPlainOrder;
    DropLookup(table);
  }
  table->sortedCount = table->count;
}

ResultCode ReserveData(RecordTable* table, uint32_t size) {
  if (static_cast<uint64_t>(table->dataUsed) + size <= table->dataCapacity) return kOk;
  uint64_t capacity = static_cast<uint64_t>(table->dataUsed) + size + kDataSlack;
  if (capacity > 0xFFFFFFFFull) return kErrNoMemory;
  void* grown = std::realloc(table->data, capacity);
  if (grown == nullptr) return kErrNoMemory;
  table->data = static_cast<unsigned char*>(grown);
  table->dataCapacity = static_cast<uint32_t>(capacity);
  return kOk;
}

ResultCode ReserveIndex(RecordTable* table) {
  if (table->count + 1 <= table->indexCapacity && table->index != nullptr) return kOk;
  uint64_t capacity = static_cast<uint64_t>(table->count) + kIndexStep;
  if (capacity > 0xFFFFFFFFull / sizeof(uint32_t)) return kErrNoMemory;
  void* grown = std::realloc(table->index, capacity * sizeof(uint32_t));
  if (grown == nullptr) return kErrNoMemory;
  table->index = static_cast<uint32_t*>(grown);
  table->indexCapacity = static_cast<uint32_t>(capacity);
  return kOk;
}

// Places a record at `position` of the index; the bytes go to the data end.
// Records start on 8-byte boundaries so that their 64-bit fields are aligned.
ResultCode PlaceRecord(RecordTable* table, uint32_t position, const void* data, uint32_t size,
                       void** record) {
  uint64_t padded = (static_cast<uint64_t>(size) + 7) & ~uint64_t{7};
  if (padded > 0xFFFFFFFFull) return kErrNoMemory;
  ResultCode result = ReserveData(table, static_cast<uint32_t>(padded));
  if (result == kOk) result = ReserveIndex(table);
  if (result != kOk) return result;
  uint32_t offset = table->dataUsed;
  if (data != nullptr) std::memcpy(table->data + offset, data, size);
  table->dataUsed += static_cast<uint32_t>(padded);
  uint32_t* slot = table->index + position;
  std::memmove(slot + 1, slot, (table->count - position) * sizeof(uint32_t));
  *slot = offset;
  ++table->count;
  if (record != nullptr) *record = table->data + offset;
  return kOk;
}

// The described binary search with its linear scan of the last range.
ResultCode SearchPosition(const RecordTable* table, RecordKeyComparator comparator,
                          const void* key, uint32_t* position) {
  if (comparator == nullptr) {
    *position = table->count;
    return kErrNotFound;
  }
  if (table->count == 0 || table->index == nullptr || table->data == nullptr) {
    *position = 0;
    return kErrNotFound;
  }
  uint32_t lo = 0;
  uint32_t hi = table->count - 1;
  uint32_t mid = hi / 2;
  uint32_t step = mid;
  while (step != 0) {
    int order = comparator(key, RecordAt(table, mid));
    if (order == 0) {
      *position = mid;
      return kOk;
    }
    if (order < 0) {
      step = (mid - lo) / 2;
      hi = mid;
      mid = lo + step;
    } else {
      step = (hi - mid) / 2;
      lo = mid;
      mid += step;
    }
  }
  for (uint32_t i = lo; i <= hi; ++i) {
    int order = comparator(key, RecordAt(table, i));
    if (order == 0) {
      *position = i;
      return kOk;
    }
    if (order < 0) {
      *position = i;
      return kErrNotFound;
    }
  }
  *position = hi + 1;
  return kErrNotFound;
}

// A key's mixing hash for the lookup (eight bytes at a time, letters of
// either case alike) with its length. The records' own hash is only needed when a record
// is placed: SumKey.
struct KeyDigest {
  uint32_t mixed;
  uint32_t length;
};

constexpr uint64_t kOnes = 0x0101010101010101ull;
constexpr uint64_t kHighBits = 0x8080808080808080ull;

// a-z become A-Z in each byte of the word; other bytes stay.
inline uint64_t FoldWord(uint64_t word) {
  const uint64_t low7 = word & ~kHighBits;
  const uint64_t fromA = low7 + (0x80 - 'a') * kOnes;      // high bit: byte >= 'a'
  const uint64_t pastZ = low7 + (0x80 - 'z' - 1) * kOnes;  // high bit: byte > 'z'
  const uint64_t lower = fromA & ~pastZ & ~word & kHighBits;
  return word - (lower >> 2);
}

// Byte sums in four 16-bit lanes: each byte of the word, read as a signed
// char, counts as its value + 128 (the XOR with the high bits), so that a
// lane grows by at most 510 per word and holds 128 words.
constexpr uint64_t kPairLanes = 0x00FF00FF00FF00FFull;
constexpr size_t kWordsPerLaneSum = 128;

inline uint64_t AddBiasedBytes(uint64_t lanes, uint64_t word) {
  const uint64_t biased = word ^ kHighBits;
  return lanes + (biased & kPairLanes) + ((biased >> 8) & kPairLanes);
}

inline uint32_t LaneTotal(uint64_t lanes) {
  const uint64_t halves = (lanes & 0x0000FFFF0000FFFFull) + ((lanes >> 16) & 0x0000FFFF0000FFFFull);
  return static_cast<uint32_t>(halves) + static_cast<uint32_t>(halves >> 32);
}

inline uint64_t MixWord(uint64_t state, uint64_t word) {
  state ^= word;
  state *= 0x9E3779B97F4A7C15ull;
  return state ^ (state >> 29);
}

// Bit 5 set in every byte: a-z and A-Z hash alike (so do a few pairs of
// other bytes, which only the key compare tells apart).
constexpr uint64_t kCaseBits = 0x2020202020202020ull;

KeyDigest DigestKey(const char* key, size_t length) {
  uint64_t state = 0x243F6A8885A308D3ull ^ length;
  const size_t words = length / 8;
  for (size_t i = 0; i < words; ++i) state = MixWord(state, LoadWord(key + 8 * i) | kCaseBits);
  if (length % 8 != 0) state = MixWord(state, TailWord(key, length, length % 8) | kCaseBits);
  state *= 0xD6E8FEB86659FD93ull;
  return KeyDigest{static_cast<uint32_t>(state >> 32) ^ static_cast<uint32_t>(state),
                   static_cast<uint32_t>(length)};
}

// The records' own hash: the sum of the key's signed bytes with a-z counted
// as A-Z, eight bytes at a time.
uint32_t SumKey(const char* key, size_t length) {
  const size_t words = length / 8;
  // Each word adds 8 x 128 too many to the biased sums; a zero-padded tail
  // word's padding adds exactly the 128 per byte that is taken off for it.
  uint32_t sum = static_cast<uint32_t>(0u - (words + (length % 8 != 0 ? 1 : 0)) * 1024);
  size_t i = 0;
  while (i < words) {
    const size_t stop = std::min(words, i + kWordsPerLaneSum);
    uint64_t lanes = 0;
    for (; i < stop; ++i) lanes = AddBiasedBytes(lanes, FoldWord(LoadWord(key + 8 * i)));
    sum += LaneTotal(lanes);
  }
  if (length % 8 != 0) sum += LaneTotal(AddBiasedBytes(0, FoldWord(TailWord(key, length, length % 8))));
  return sum;
}

// Length of a key view up to its first NUL (a stored key ends there).
size_t KeyLength(const char* key, size_t length) {
  const void* nul = std::memchr(key, 0, length);
  return nul == nullptr ? length : static_cast<size_t>(static_cast<const char*>(nul) - key);
}

// Exact equality of two byte ranges, a word at a time (no library call).
inline bool SameBytes(const char* a, const char* b, size_t length) {
  size_t i = 0;
  for (; i + 8 <= length; i += 8) {
    if (LoadWord(a + i) != LoadWord(b + i)) return false;
  }
  const size_t rest = length - i;
  return rest == 0 || TailWord(a, length, rest) == TailWord(b, length, rest);
}

// Equal ignoring ASCII case; the usual exact spelling is tested first.
// SameKeyInline is the copy for finding a key already there, where the inline
// word compare pays; the walk that places a key keeps the library compare.
[[gnu::always_inline]] inline bool SameKeyInline(const char* stored, const char* key,
                                                 size_t length) {
  if (stored[length] != '\0') return false;
  if (SameBytes(stored, key, length)) return true;
  return CompareViewNoCase(key, length, stored) == 0;
}

bool SameKey(const char* stored, const char* key, size_t length) {
  if (stored[length] != '\0') return false;
  if (std::memcmp(stored, key, length) == 0) return true;
  return CompareViewNoCase(key, length, stored) == 0;
}

// The record of the probe's key in a table on its keyed fast path for
// records of keyOffset, found with the inline compare: most lookups meet a key
// already there. Null when the key is not there or the table is on no such
// path (*onPath tells which).
[[gnu::always_inline]] inline unsigned char* FindOnFastPath(const RecordTable* table, const KeyedProbe& probe,
                                                            uint32_t keyOffset, bool* onPath) {
  *onPath = table != nullptr && table->lookup != nullptr && probe.key != nullptr &&
            table->keyedState == kKeyedFast && table->keyOffset == keyOffset;
  if (!*onPath) return nullptr;
  const uint32_t mask = table->lookupCapacity - 1;
  for (uint32_t i = probe.mixed & mask;; i = (i + 1) & mask) {
    const uint64_t slot = table->lookup[i];
    if (slot == 0) return nullptr;
    if (static_cast<uint32_t>(slot >> 32) != probe.mixed) continue;
    unsigned char* candidate = table->data + (static_cast<uint32_t>(slot) - 1);
    if (SameKeyInline(reinterpret_cast<const char*>(candidate + keyOffset), probe.key, probe.length)) {
      return candidate;
    }
  }
}

// The lookup slot holding the key, or the empty slot where it belongs. A slot
// is (mixed hash << 32) | (record offset + 1): most probes end on the tag.
uint64_t* LookupSlot(RecordTable* table, const KeyDigest& digest, const char* key) {
  uint32_t mask = table->lookupCapacity - 1;
  uint32_t i = digest.mixed & mask;
  for (;;) {
    uint64_t* slot = table->lookup + i;
    if (*slot == 0) return slot;
    if (static_cast<uint32_t>(*slot >> 32) == digest.mixed) {
      const unsigned char* record = table->data + (static_cast<uint32_t>(*slot) - 1);
      if (SameKey(reinterpret_cast<const char*>(record + table->keyOffset), key, digest.length)) {
        return slot;
      }
    }
    i = (i + 1) & mask;
  }
}

// Doubles the lookup (or makes its first), rehashing every slot.
ResultCode GrowLookup(RecordTable* table) {
  uint32_t capacity = table->lookupCapacity == 0 ? kMinLookup : table->lookupCapacity * 2;
  if (capacity == 0) return kErrNoMemory;
  uint64_t* grown = static_cast<uint64_t*>(std::calloc(capacity, sizeof(uint64_t)));
  if (grown == nullptr) return kErrNoMemory;
  uint32_t mask = capacity - 1;
  for (uint32_t i = 0; i < table->lookupCapacity; ++i) {
    uint64_t entry = table->lookup[i];
    if (entry == 0) continue;
    uint32_t j = static_cast<uint32_t>(entry >> 32) & mask;
    while (grown[j] != 0) j = (j + 1) & mask;
    grown[j] = entry;
  }
  std::free(table->lookup);
  table->lookup = grown;
  table->lookupCapacity = capacity;
  return kOk;
}

// Room in the lookup for one more key at a load of at most 3/4.
inline ResultCode ReserveLookup(RecordTable* table) {
  if (table->lookup != nullptr && (table->lookupCount + 1) * 4 <= table->lookupCapacity * 3) {
    return kOk;
  }
  return GrowLookup(table);
}

void FillKeyedRecord(void* record, uint32_t keyOffset, const KeyDigest& digest, const char* key) {
  std::memset(record, 0, keyOffset);
  static_cast<KeyedRecordHeader*>(record)->hash = SumKey(key, digest.length);
  char* stored = static_cast<char*>(record) + keyOffset;
  std::memcpy(stored, key, digest.length);
  stored[digest.length] = '\0';
}

// Adds a record for a key not yet in a keyed table on its fast path.
ResultCode FastInsert(RecordTable* table, const KeyDigest& digest, const char* key, void** record,
                      bool* inserted) {
  ResultCode result = ReserveLookup(table);
  if (result != kOk) return result;
  uint32_t size = table->keyOffset + digest.length + 1;
  void* placed = nullptr;
  result = PlaceRecord(table, table->count, nullptr, size, &placed);
  if (result != kOk) return result;
  FillKeyedRecord(placed, table->keyOffset, digest, key);
  uint64_t* slot = LookupSlot(table, digest, key);
  *slot = (static_cast<uint64_t>(digest.mixed) << 32) |
          (static_cast<uint64_t>(static_cast<unsigned char*>(placed) - table->data) + 1);
  ++table->lookupCount;
  *record = placed;
  *inserted = true;
  return kOk;
}

ResultCode FastFindOrInsert(RecordTable* table, const KeyDigest& digest, const char* key,
                            void** record, bool* inserted) {
  if (table->lookup != nullptr) {
    uint64_t* slot = LookupSlot(table, digest, key);
    if (*slot != 0) {
      *record = table->data + (static_cast<uint32_t>(*slot) - 1);
      *inserted = false;
      return kOk;
    }
  }
  return FastInsert(table, digest, key, record, inserted);
}

ResultCode OrderedFindOrInsert(RecordTable* table, const KeyDigest& digest, const char* key,
                               uint32_t keyOffset, void** record, bool* inserted) {
  KeyProbe probe{SumKey(key, digest.length), keyOffset, key, digest.length};
  uint32_t position = 0;
  if (SearchPosition(table, CompareProbe, &probe, &position) == kOk) {
    *record = RecordAt(table, position);
    *inserted = false;
    return kOk;
  }
  void* placed = nullptr;
  ResultCode result = PlaceRecord(table, position, nullptr, keyOffset + digest.length + 1, &placed);
  if (result != kOk) return result;
  FillKeyedRecord(placed, keyOffset, digest, key);
  *record = placed;
  *inserted = true;
  return kOk;
}

void HeapSift(RecordTable* table, RecordSortComparator comparator, void* context, int direction,
              uint32_t root, uint32_t count) {
  uint32_t* index = table->index;
  auto order = [&](uint32_t a, uint32_t b) {
    int r = comparator(context, table->data + index[a], table->data + index[b]);
    return direction < 0 ? (r > 0 ? -1 : (r < 0 ? 1 : 0)) : r;
  };
  for (;;) {
    uint32_t largest = root;
    uint32_t left = 2 * root + 1;
    uint32_t right = left + 1;
    if (left < count && order(left, largest) > 0) largest = left;
    if (right < count && order(right, largest) > 0) largest = right;
    if (largest == root) return;
    std::swap(index[root], index[largest]);
    root = largest;
  }
}

}  // namespace

ResultCode RecordTableInsert(RecordTable* table, const void* data, uint32_t size,
                             RecordKeyComparator comparator, const void* key, void** record) {
  if (table == nullptr || size == 0) return kErrInvalidArgument;
  LeaveKeyedMode(table);
  uint32_t position = 0;
  SearchPosition(table, comparator, key, &position);
  return PlaceRecord(table, position, data, size, record);
}

ResultCode RecordTableAppend(RecordTable* table, const void* data, uint32_t size) {
  if (table == nullptr || data == nullptr || size == 0) return kErrInvalidArgument;
  LeaveKeyedMode(table);
  return PlaceRecord(table, table->count, data, size, nullptr);
}

void* RecordTableFind(RecordTable* table, RecordKeyComparator comparator, const void* key) {
  if (table == nullptr || comparator == nullptr) return nullptr;
  Settle(table);
  uint32_t position = 0;
  if (SearchPosition(table, comparator, key, &position) != kOk) return nullptr;
  return RecordAt(table, position);
}

ResultCode RecordTableSearch(RecordTable* table, RecordKeyComparator comparator, const void* key,
                             uint32_t* position) {
  if (table == nullptr || position == nullptr) return kErrInvalidArgument;
  Settle(table);
  return SearchPosition(table, comparator, key, position);
}

ResultCode RecordTableSort(RecordTable* table, RecordSortComparator comparator, void* context,
                           int direction) {
  if (table == nullptr || comparator == nullptr) return kErrInvalidArgument;
  LeaveKeyedMode(table);
  uint32_t count = table->count;
  if (count < 2) return kOk;
  for (uint32_t root = count / 2; root-- > 0;) HeapSift(table, comparator, context, direction, root, count);
  for (uint32_t end = count - 1; end > 0; --end) {
    std::swap(table->index[0], table->index[end]);
    HeapSift(table, comparator, context, direction, 0, end);
  }
  return kOk;
}

ResultCode RecordTableSelect(RecordTable* table, RecordSortComparator comparator, void* context,
                             RecordFilter keep, void* keepContext, uint32_t limit,
                             std::vector<void*>* out) {
  if (table == nullptr || comparator == nullptr || out == nullptr) return kErrInvalidArgument;
  out->clear();
  out->reserve(table->count);
  for (uint32_t i = 0; i < table->count; ++i) {
    void* record = RecordAt(table, i);
    if (keep == nullptr || keep(keepContext, record)) out->push_back(record);
  }
  auto before = [comparator, context](const void* a, const void* b) {
    return comparator(context, a, b) < 0;
  };
  if (limit < out->size()) {
    std::partial_sort(out->begin(), out->begin() + limit, out->end(), before);
    out->resize(limit);
  } else {
    std::sort(out->begin(), out->end(), before);
  }
  return kOk;
}

int RecordTableForEach(RecordTable* table, RecordVisitor visitor, void* context) {
  if (table == nullptr || visitor == nullptr) return kErrInvalidArgument;
  Settle(table);
  for (uint32_t i = 0; i < table->count; ++i) {
    int result = visitor(context, RecordAt(table, i));
    if (result != 0) return result;
  }
  return 0;
}

ResultCode RecordTableClear(RecordTable* table) {
  if (table == nullptr) return kErrInvalidArgument;
  table->count = 0;
  table->dataUsed = 0;
  table->sortedCount = 0;
  table->keyedState = kKeyedUnused;
  if (table->lookup != nullptr) std::memset(table->lookup, 0, table->lookupCapacity * sizeof(uint64_t));
  table->lookupCount = 0;
  return kOk;
}

ResultCode RecordTableFree(RecordTable* table) {
  if (table == nullptr) return kErrInvalidArgument;
  std::free(table->index);
  std::free(table->data);
  std::free(table->lookup);
  std::memset(table, 0, sizeof(RecordTable));
  return kOk;
}

uint32_t RecordTableCount(RecordTable* table) { return table == nullptr ? 0 : table->count; }

void* RecordTableAt(RecordTable* table, uint32_t position) {
  if (table == nullptr || position >= table->count) return nullptr;
  Settle(table);
  return RecordAt(table, position);
}

bool KeyedProbeInit(KeyedProbe* probe, const char* key, size_t length) {
  if (probe == nullptr || (key == nullptr && length != 0)) return false;
  if (key == nullptr) key = "";
  length = KeyLength(key, length);
  if (length > kMaxKeyLength) return false;
  const KeyDigest digest = DigestKey(key, length);
  *probe = KeyedProbe{key, digest.length, digest.mixed};
  return true;
}

void KeyedTablePrefetchSlot(const RecordTable* table, const KeyedProbe& probe) {
  if (table == nullptr || table->lookup == nullptr) return;
  __builtin_prefetch(table->lookup + (probe.mixed & (table->lookupCapacity - 1)));
}

void KeyedTablePrefetchRecord(const RecordTable* table, const KeyedProbe& probe) {
  if (table == nullptr || table->lookup == nullptr || table->keyedState != kKeyedFast) return;
  const uint32_t mask = table->lookupCapacity - 1;
  for (uint32_t i = probe.mixed & mask;; i = (i + 1) & mask) {
    const uint64_t slot = table->lookup[i];
    if (slot == 0) return;
    if (static_cast<uint32_t>(slot >> 32) == probe.mixed) {
      __builtin_prefetch(table->data + (static_cast<uint32_t>(slot) - 1));
      return;
    }
  }
}

ResultCode KeyedTableFindOrInsertProbe(RecordTable* table, const KeyedProbe& probe,
                                       uint32_t payloadSize, void** record, bool* inserted) {
  if (table == nullptr || probe.key == nullptr || record == nullptr) return kErrInvalidArgument;
  bool dummy = false;
  if (inserted == nullptr) inserted = &dummy;
  uint32_t keyOffset = static_cast<uint32_t>(sizeof(KeyedRecordHeader)) + payloadSize;
  bool onPath = false;
  if (unsigned char* found = FindOnFastPath(table, probe, keyOffset, &onPath)) {
    *record = found;
    *inserted = false;
    return kOk;
  }
  // A new key on the fast path: placed without walking the lookup again.
  if (onPath) return FastInsert(table, KeyDigest{probe.mixed, probe.length}, probe.key, record, inserted);
  if (table->keyedState == kKeyedUnused) {
    if (table->count == 0) {
      table->keyedState = kKeyedFast;
      table->keyOffset = keyOffset;
      table->sortedCount = 0;
    } else {
      table->keyedState = kPlainOrder;
    }
  }
  if (table->keyedState == kKeyedFast && table->keyOffset != keyOffset) LeaveKeyedMode(table);
  const KeyDigest digest{probe.mixed, probe.length};
  if (table->keyedState == kKeyedFast) {
    return FastFindOrInsert(table, digest, probe.key, record, inserted);
  }
  return OrderedFindOrInsert(table, digest, probe.key, keyOffset, record, inserted);
}

ResultCode KeyedTableFindOrInsertView(RecordTable* table, const char* key, size_t length,
                                      uint32_t payloadSize, void** record, bool* inserted) {
  if (table == nullptr || record == nullptr) return kErrInvalidArgument;
  KeyedProbe probe;
  if (!KeyedProbeInit(&probe, key, length)) return kErrInvalidArgument;
  return KeyedTableFindOrInsertProbe(table, probe, payloadSize, record, inserted);
}

ResultCode KeyedTableFindOrInsert(RecordTable* table, const char* key, uint32_t payloadSize,
                                  void** record, bool* inserted) {
  if (key == nullptr) return kErrInvalidArgument;
  return KeyedTableFindOrInsertView(table, key, std::strlen(key), payloadSize, record, inserted);
}

void* KeyedTableFind(RecordTable* table, const char* key, uint32_t payloadSize) {
  if (table == nullptr || key == nullptr) return nullptr;
  size_t length = std::strlen(key);
  if (length > kMaxKeyLength) return nullptr;
  uint32_t keyOffset = static_cast<uint32_t>(sizeof(KeyedRecordHeader)) + payloadSize;
  KeyDigest digest = DigestKey(key, length);
  if (table->keyedState == kKeyedFast && table->keyOffset == keyOffset) {
    if (table->lookup == nullptr) return nullptr;
    uint64_t* slot = LookupSlot(table, digest, key);
    return *slot == 0 ? nullptr : table->data + (static_cast<uint32_t>(*slot) - 1);
  }
  Settle(table);
  KeyProbe probe{SumKey(key, length), keyOffset, key, length};
  uint32_t position = 0;
  if (SearchPosition(table, CompareProbe, &probe, &position) != kOk) return nullptr;
  return RecordAt(table, position);
}

// A counter add on the keyed fast path: to the record found, or to a new one
// placed without a second lookup walk. False when the table is on no such path.
static bool AddCounterFast(RecordTable* table, const KeyedProbe& probe, uint64_t add1,
                           uint64_t add2, int64_t last, ResultCode* result) {
  bool onPath = false;
  auto* counter = reinterpret_cast<CounterRecord*>(
      FindOnFastPath(table, probe, sizeof(KeyedRecordHeader) + kCounterPayload, &onPath));
  if (!onPath) return false;
  if (counter == nullptr) {
    void* placed = nullptr;
    bool inserted = false;
    *result = FastInsert(table, KeyDigest{probe.mixed, probe.length}, probe.key,
                         &placed, &inserted);
    if (*result != kOk) return true;
    counter = static_cast<CounterRecord*>(placed);  // totals zeroed
  }
  counter->total1 += add1;
  counter->total2 += add2;
  counter->last = last;
  *result = kOk;
  return true;
}

ResultCode CounterTableAddProbe(RecordTable* table, const KeyedProbe& probe, uint64_t add1,
                                uint64_t add2, int64_t last) {
  ResultCode fast = kOk;
  if (AddCounterFast(table, probe, add1, add2, last, &fast)) return fast;
  void* record = nullptr;
  bool inserted = false;
  ResultCode result =
      KeyedTableFindOrInsertProbe(table, probe, kCounterPayload, &record, &inserted);
  if (result != kOk) return result;
  // A new record comes with its totals zeroed.
  CounterRecord* counter = static_cast<CounterRecord*>(record);
  counter->total1 += add1;
  counter->total2 += add2;
  counter->last = last;
  return kOk;
}

ResultCode CounterTableAddView(RecordTable* table, const char* key, size_t length, uint64_t add1,
                               uint64_t add2, int64_t last) {
  if (table == nullptr) return kErrInvalidArgument;
  KeyedProbe probe;
  if (!KeyedProbeInit(&probe, key, length)) return kErrInvalidArgument;
  return CounterTableAddProbe(table, probe, add1, add2, last);
}

ResultCode CounterTableAdd(RecordTable* table, const char* key, uint64_t add1, uint64_t add2,
                           int64_t last) {
  if (table == nullptr || key == nullptr) return kErrInvalidArgument;
  return CounterTableAddView(table, key, std::strlen(key), add1, add2, last);
}

CounterRecord* CounterTableFind(RecordTable* table, const char* key) {
  return static_cast<CounterRecord*>(KeyedTableFind(table, key, kCounterPayload));
}

uint32_t KeyHash(const char* key) {
  return key == nullptr ? 0 : SumKey(key, std::strlen(key));
}

int CompareCounterRecords(RecordSortComparator comparator, const CounterRecord* a,
                          const CounterRecord* b) {
  if (comparator != nullptr) return comparator(nullptr, a, b);
  if (a->total1 != b->total1) return a->total1 > b->total1 ? -1 : 1;
  if (a->total2 != b->total2) return a->total2 > b->total2 ? -1 : 1;
  return 0;
}

int CompareCounterRecordsSort(void* /*context*/, const void* a, const void* b) {
  return CompareCounterRecords(nullptr, static_cast<const CounterRecord*>(a),
                               static_cast<const CounterRecord*>(b));
}

int CompareKeyNoCase(const char* a, const char* b) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(a);
  const unsigned char* q = reinterpret_cast<const unsigned char*>(b);
  for (;; ++p, ++q) {
    unsigned char x = FoldUpper(*p);
    unsigned char y = FoldUpper(*q);
    if (x != y) return x < y ? -1 : 1;
    if (x == 0) return 0;
  }
}
