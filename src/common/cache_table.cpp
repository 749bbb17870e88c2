// The cache table: a sorted index of 32-bit record offsets over a record area,
// both in reserved page pools.
#include "common/cache_table.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "platform/reserved_memory.h"

namespace {

constexpr char kTableMagic[4] = {'v', 'c', 'h', 'h'};
constexpr char kLockMagic[4] = {'v', 'c', 'h', 'l'};
constexpr size_t kCommitPages = 16;
constexpr size_t kReleaseMinPages = 10;

}  // namespace

struct CacheTable {
  char magic[4];
  char lockMagic[4];
  PlatformMutex* lock;
  uint32_t maintenanceInterval;
  uint32_t operationCounter;
  uint32_t recordLimit;
  uint32_t recordCount;
  uint32_t byteLimit;
  uint32_t bytesUsed;
  uint32_t* index;         // record offsets in table order
  unsigned char* records;  // the record area
  wchar_t* name;
  PagePool indexPool;
  PagePool recordPool;
  CacheTableCallbacks callbacks;
  // The index is in order-comparator order (the lookup order when both are
  // one function), so a merge pass need not sort it first.
  bool orderIsLookup;
  bool inOrder;
  // Record offsets in address order, each with its index position in the low
  // half, for the gap search and the compaction, which leave the index order
  // alone.
  uint64_t* byAddress;
  uint32_t userDataSize;
  unsigned char* userData;
};

ResultCode PagePoolCreate(PagePool* pool, size_t size) {
  std::memset(pool, 0, sizeof *pool);
  pool->pageSize = MemoryPageSize();
  pool->commitStep = kCommitPages;
  size_t rounded = (size + pool->pageSize - 1) / pool->pageSize * pool->pageSize;
  if (rounded == 0) rounded = pool->pageSize;
  void* base = nullptr;
  ResultCode result = ReserveMemory(rounded, &base);
  if (result != kOk) return result;
  pool->base = static_cast<unsigned char*>(base);
  pool->reservedSize = rounded;
  return kOk;
}

ResultCode PagePoolCommit(PagePool* pool, size_t end) {
  if (end <= pool->committedEnd) return kOk;
  if (end > pool->reservedSize) return kErrNoMemory;
  const size_t step = pool->pageSize * pool->commitStep;
  size_t target = pool->committedEnd + step;
  while (target < end) target += step;
  if (target > pool->reservedSize) target = pool->reservedSize;
  ResultCode result = CommitMemory(pool->base + pool->committedEnd, target - pool->committedEnd);
  if (result == kOk) pool->committedEnd = target;
  return result;
}

void PagePoolReleaseTail(PagePool* pool, size_t usedBytes) {
  if (pool->base == nullptr) return;
  size_t start = (usedBytes + pool->pageSize - 1) / pool->pageSize * pool->pageSize;
  if (start >= pool->reservedSize) return;
  if ((pool->reservedSize - start) / pool->pageSize < kReleaseMinPages) return;
  DecommitMemory(pool->base + start, pool->reservedSize - start);
  if (pool->committedEnd > start) pool->committedEnd = start;
}

void PagePoolDestroy(PagePool* pool) {
  ReleaseMemory(pool->base, pool->reservedSize);
  std::memset(pool, 0, sizeof *pool);
}

namespace {

// ---- Default callbacks --------------------------------------------------------

int DefaultOrder(void*, void*, const void* a, const void* b) {
  const auto* ha = static_cast<const CacheRecordHeader*>(a);
  const auto* hb = static_cast<const CacheRecordHeader*>(b);
  if (ha->key != hb->key) return ha->key < hb->key ? -1 : 1;
  uint32_t la = ha->size >= sizeof(CacheRecordHeader) ? ha->size - 8 : 0;
  uint32_t lb = hb->size >= sizeof(CacheRecordHeader) ? hb->size - 8 : 0;
  int order = std::memcmp(CacheRecordData(a), CacheRecordData(b), la < lb ? la : lb);
  if (order != 0) return order;
  return la < lb ? -1 : (la > lb ? 1 : 0);
}

int DefaultLookup(void*, void*, const void* a, const void* b) {
  uint32_t ka = static_cast<const CacheRecordHeader*>(a)->key;
  uint32_t kb = static_cast<const CacheRecordHeader*>(b)->key;
  return ka < kb ? -1 : (ka > kb ? 1 : 0);
}

int AllEqual(void*, void*, const void*, const void*) { return 0; }
int NeverEvict(void*, void*, const void*) { return 0; }

ResultCode ZeroFill(void*, void*, unsigned char* data, uint32_t length, const void*) {
  std::memset(data, 0, length);
  return kOk;
}

void NoMerge(void*, void*, void*, void*) {}

// ---- Helpers ------------------------------------------------------------------

bool Valid(const CacheTable* table) {
  return table != nullptr && std::memcmp(table->magic, kTableMagic, 4) == 0;
}

struct Guard {
  CacheTable* table;
  explicit Guard(CacheTable* t) : table(t) {
    if (std::memcmp(table->lockMagic, kLockMagic, 4) == 0) MutexLock(table->lock);
  }
  ~Guard() {
    if (std::memcmp(table->lockMagic, kLockMagic, 4) == 0) MutexUnlock(table->lock);
  }
};

CacheRecordHeader* RecordAt(CacheTable* table, uint32_t offset) {
  return reinterpret_cast<CacheRecordHeader*>(table->records + offset);
}

int CompareAt(CacheTable* table, CacheCompareFn compare, void* argument, uint32_t a, uint32_t b) {
  return compare(table->userData, argument, RecordAt(table, a), RecordAt(table, b));
}

// The index order: key first (unsigned), then the comparator.
int CompareKeyed(CacheTable* table, CacheCompareFn compare, void* argument, const void* a,
                 const void* b) {
  uint32_t ka = static_cast<const CacheRecordHeader*>(a)->key;
  uint32_t kb = static_cast<const CacheRecordHeader*>(b)->key;
  if (ka != kb) return ka < kb ? -1 : 1;
  return compare(table->userData, argument, a, b);
}

// What the in-place heap sort of the index compares with.
struct SortOrder {
  CacheTable* table;
  CacheCompareFn compare;
  void* argument;
};

int SortCompare(const SortOrder& order, uint32_t a, uint32_t b) {
  return CompareAt(order.table, order.compare, order.argument, a, b);
}

void SiftDown(const SortOrder& order, uint32_t* items, size_t start, size_t end) {
  size_t root = start;
  while (2 * root + 1 < end) {
    size_t child = 2 * root + 1;
    if (child + 1 < end && SortCompare(order, items[child], items[child + 1]) < 0) ++child;
    if (SortCompare(order, items[root], items[child]) >= 0) return;
    uint32_t swap = items[root];
    items[root] = items[child];
    items[child] = swap;
    root = child;
  }
}

void HeapSort(const SortOrder& order, uint32_t* items, size_t count) {
  if (count < 2) return;
  for (size_t start = count / 2; start-- > 0;) SiftDown(order, items, start, count);
  for (size_t end = count - 1; end > 0; --end) {
    uint32_t swap = items[0];
    items[0] = items[end];
    items[end] = swap;
    SiftDown(order, items, 0, end);
  }
}

void SortIndex(CacheTable* table, CacheCompareFn compare, void* argument) {
  HeapSort({table, compare, argument}, table->index, table->recordCount);
  table->inOrder = compare == table->callbacks.order;
}

// Sorts by the order comparator; it orders by key first, as the index must be.
void SortIndexByOrder(CacheTable* table, void* argument) {
  SortIndex(table, table->callbacks.order, argument);
}

// Binary search: true and the position of an equal record, or false and the
// insertion position.
bool Find(CacheTable* table, const void* templ, CacheCompareFn lookup, void* argument,
          uint32_t* position) {
  uint32_t low = 0;
  uint32_t high = table->recordCount;
  while (low < high) {
    uint32_t middle = low + (high - low) / 2;
    int order = CompareKeyed(table, lookup, argument, templ, RecordAt(table, table->index[middle]));
    if (order == 0) {
      *position = middle;
      return true;
    }
    if (order < 0) {
      high = middle;
    } else {
      low = middle + 1;
    }
  }
  *position = low;
  return false;
}

void RemoveAt(CacheTable* table, uint32_t position) {
  std::memmove(table->index + position, table->index + position + 1,
               (table->recordCount - position - 1) * sizeof(uint32_t));
  --table->recordCount;
}

uint32_t Evict(CacheTable* table, uint32_t wanted, void* argument) {
  uint32_t before = table->recordCount;
  if (before <= wanted) {
    table->recordCount = 0;
  } else {
    SortIndex(table, table->callbacks.eviction, argument);
    table->recordCount -= wanted;
    while (table->recordCount > 0 &&
           table->callbacks.evictPredicate(table->userData, argument,
                                           RecordAt(table, table->index[table->recordCount - 1])) != 0) {
      --table->recordCount;
    }
  }
  if (table->recordCount != before) {
    PagePoolReleaseTail(&table->indexPool, table->recordCount * sizeof(uint32_t));
  }
  return before - table->recordCount;
}

// Merges neighbours equal under the order comparator; *reordered tells
// whether the index had to be sorted first.
uint32_t Merge(CacheTable* table, void* argument, bool* reordered) {
  *reordered = !table->inOrder;
  if (!table->inOrder) SortIndexByOrder(table, argument);
  uint32_t kept = 0;
  uint32_t removed = 0;
  for (uint32_t i = 0; i < table->recordCount; ++i) {
    if (kept > 0 && CompareAt(table, table->callbacks.order, argument, table->index[kept - 1],
                              table->index[i]) == 0) {
      table->callbacks.merge(table->userData, argument, RecordAt(table, table->index[kept - 1]),
                             RecordAt(table, table->index[i]));
      ++removed;
      continue;
    }
    table->index[kept++] = table->index[i];
  }
  table->recordCount = kept;
  return removed;
}

// Fills byAddress with the record offsets (and index positions) in ascending order.
void SortByAddress(CacheTable* table) {
  for (uint32_t i = 0; i < table->recordCount; ++i) {
    table->byAddress[i] = static_cast<uint64_t>(table->index[i]) << 32 | i;
  }
  std::sort(table->byAddress, table->byAddress + table->recordCount);
}

uint32_t AddressAt(const CacheTable* table, uint32_t rank) {
  return static_cast<uint32_t>(table->byAddress[rank] >> 32);
}

// Moves every record down behind the previous one in address order (byAddress
// must be filled), updates the index entries in place and releases the
// record area's tail.
void Compact(CacheTable* table) {
  const uint32_t count = table->recordCount;
  uint32_t end = 0;
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t offset = AddressAt(table, i);
    uint32_t size = RecordAt(table, offset)->size;
    if (offset != end) std::memmove(table->records + end, table->records + offset, size);
    table->index[static_cast<uint32_t>(table->byAddress[i])] = end;
    end += size;
  }
  table->bytesUsed = end;
  PagePoolReleaseTail(&table->recordPool, end);
}

bool FitsAtEnd(const CacheTable* table, uint32_t wanted) {
  return static_cast<uint64_t>(table->bytesUsed) + wanted <= table->byteLimit;
}

// Finds space for wanted bytes: *offset gets the place. When a merge or an
// eviction changed the index, *position becomes its end and *resort true.
ResultCode MakeRoom(CacheTable* table, uint32_t wanted, void* argument, uint32_t* offset,
                    uint32_t* position, bool* resort) {
  const bool maintenance = table->operationCounter % table->maintenanceInterval == 0;
  bool merged = false;
  auto mergePass = [&]() {
    bool reordered = false;
    uint32_t removed = Merge(table, argument, &reordered);
    if (removed > 0 || reordered) {
      *resort = true;
      *position = table->recordCount;
    }
    return removed;
  };
  for (;;) {
    // 1. The end of the used area.
    if (!maintenance && table->recordCount < table->recordLimit && FitsAtEnd(table, wanted)) {
      *offset = table->bytesUsed;
      return kOk;
    }
    // 2. One merge pass at a maintenance point.
    if (maintenance && !merged) {
      merged = true;
      if (mergePass() > 0) continue;
    }
    // 3-4. Forced eviction when the table is full.
    uint32_t evict = 0;
    if (table->recordCount >= table->recordLimit ||
        static_cast<uint64_t>(table->bytesUsed) + wanted >= table->byteLimit) {
      evict = table->recordCount > 5 ? table->recordCount / 5 : 1;
    }
    if (evict > 0) {
      Evict(table, evict, argument);
      *resort = true;
      *position = table->recordCount;
    }
    // 5. The end again.
    if (!maintenance && table->recordCount < table->recordLimit && FitsAtEnd(table, wanted)) {
      *offset = table->bytesUsed;
      return kOk;
    }
    // 6. A gap between records, in address order.
    SortByAddress(table);
    uint64_t looked = 0;
    if (!maintenance && table->recordCount < table->recordLimit) {
      uint32_t previousEnd = 0;
      for (uint32_t i = 0; i < table->recordCount; ++i) {
        uint32_t start = AddressAt(table, i);
        if (start >= previousEnd && start - previousEnd >= wanted) {
          *offset = previousEnd;
          return kOk;
        }
        uint32_t size = RecordAt(table, start)->size;
        previousEnd = start + size;
        if (i + 1 < table->recordCount) looked += size;
      }
    }
    // 7. Compaction, unless the records alone leave no room.
    if (looked + wanted <= table->byteLimit) {
      Compact(table);
      if (table->recordCount < table->recordLimit && FitsAtEnd(table, wanted)) {
        *offset = table->bytesUsed;
        return kOk;
      }
    }
    // 8. A last merge pass.
    if (merged) return kErrNoRoom;
    merged = true;
    if (mergePass() == 0) return kErrNoRoom;
  }
}

}  // namespace

ResultCode CacheTableCreate(CacheTable** out, uint32_t recordLimit, uint32_t byteLimit,
                            const wchar_t* name, const void* userData, uint32_t userDataSize,
                            const CacheTableCallbacks* callbacks) {
  if (out == nullptr || recordLimit == 0) return kErrInvalidArgument;
  *out = nullptr;
  auto* table = static_cast<CacheTable*>(std::calloc(1, sizeof(CacheTable)));
  if (table == nullptr) return kErrNoMemory;
  std::memcpy(table->magic, kTableMagic, 4);
  ResultCode result = kOk;
  table->lock = MutexCreate();
  if (table->lock == nullptr) result = kErrNoMemory;
  if (result == kOk) std::memcpy(table->lockMagic, kLockMagic, 4);
  table->recordLimit = recordLimit;
  table->maintenanceInterval = recordLimit / 4 != 0 ? recordLimit / 4 : 1;
  table->operationCounter = 1;
  if (result == kOk) result = PagePoolCreate(&table->indexPool, recordLimit * sizeof(uint32_t));
  if (result == kOk) {
    table->byAddress = static_cast<uint64_t*>(std::malloc(recordLimit * sizeof(uint64_t)));
    if (table->byAddress == nullptr) result = kErrNoMemory;
  }
  if (result == kOk) result = PagePoolCreate(&table->recordPool, byteLimit != 0 ? byteLimit : 1);
  if (result == kOk) {
    table->index = reinterpret_cast<uint32_t*>(table->indexPool.base);
    table->records = table->recordPool.base;
    table->byteLimit = static_cast<uint32_t>(table->recordPool.reservedSize);
  }
  if (result == kOk && name != nullptr) {
    size_t length = std::wcslen(name);
    table->name = static_cast<wchar_t*>(std::malloc((length + 1) * sizeof(wchar_t)));
    if (table->name == nullptr) {
      result = kErrNoMemory;
    } else {
      std::wmemcpy(table->name, name, length + 1);
    }
  }
  if (result == kOk && userDataSize > 0) {
    table->userData = static_cast<unsigned char*>(std::malloc(userDataSize));
    if (table->userData == nullptr) {
      result = kErrNoMemory;
    } else {
      std::memcpy(table->userData, userData, userDataSize);
      table->userDataSize = userDataSize;
    }
  }
  CacheTableCallbacks given = callbacks != nullptr ? *callbacks : CacheTableCallbacks{};
  table->callbacks.order = given.order != nullptr ? given.order : DefaultOrder;
  table->callbacks.lookup = given.lookup != nullptr ? given.lookup : DefaultLookup;
  table->callbacks.eviction = given.eviction != nullptr ? given.eviction : AllEqual;
  table->callbacks.evictPredicate = given.evictPredicate != nullptr ? given.evictPredicate : NeverEvict;
  table->callbacks.construct = given.construct != nullptr ? given.construct : ZeroFill;
  table->callbacks.merge = given.merge != nullptr ? given.merge : NoMerge;
  table->orderIsLookup = table->callbacks.order == table->callbacks.lookup;
  table->inOrder = table->orderIsLookup;
  if (result != kOk) {
    CacheTableDestroy(table);
    return result;
  }
  *out = table;
  return kOk;
}

ResultCode CacheTableDestroy(CacheTable* table) {
  if (!Valid(table)) return kErrInvalidHandle;
  if (std::memcmp(table->lockMagic, kLockMagic, 4) == 0) MutexDestroy(table->lock);
  std::free(table->name);
  std::free(table->userData);
  std::free(table->byAddress);
  PagePoolDestroy(&table->indexPool);
  PagePoolDestroy(&table->recordPool);
  std::memset(static_cast<void*>(table), 0, sizeof *table);
  std::free(table);
  return kOk;
}

ResultCode CacheTableInsert(CacheTable* table, const void* templ, CacheVisitFn after,
                            void* argument) {
  if (!Valid(table)) return kErrInvalidHandle;
  if (templ == nullptr) return kErrInvalidArgument;
  Guard guard(table);
  if (table->indexPool.base == nullptr || table->recordPool.base == nullptr) return kErrNoMemory;
  ++table->operationCounter;
  const auto* header = static_cast<const CacheRecordHeader*>(templ);
  // Records stay 8-byte aligned for the owner's 64-bit fields.
  uint64_t wanted64 = (static_cast<uint64_t>(header->size) + sizeof(CacheRecordHeader) + 7) & ~7ULL;
  if (wanted64 > table->byteLimit) return kErrNoRoom;
  const uint32_t wanted = static_cast<uint32_t>(wanted64);
  uint32_t position = 0;
  if (Find(table, templ, table->callbacks.lookup, argument, &position)) {
    return after != nullptr
               ? after(table->userData, argument, RecordAt(table, table->index[position]))
               : kOk;
  }
  uint32_t offset = 0;
  bool resort = false;
  ResultCode result = MakeRoom(table, wanted, argument, &offset, &position, &resort);
  if (result == kOk) result = PagePoolCommit(&table->recordPool, offset + wanted);
  if (result == kOk) {
    result = PagePoolCommit(&table->indexPool, (table->recordCount + 1) * sizeof(uint32_t));
  }
  if (result == kOk) {
    CacheRecordHeader* record = RecordAt(table, offset);
    record->key = header->key;
    record->size = wanted;
    result = table->callbacks.construct(table->userData, argument, CacheRecordData(record),
                                        wanted - sizeof(CacheRecordHeader), templ);
  }
  if (result == kOk) {
    std::memmove(table->index + position + 1, table->index + position,
                 (table->recordCount - position) * sizeof(uint32_t));
    table->index[position] = offset;
    ++table->recordCount;
    // The index follows the lookup order; that is the order comparator's only
    // when both are one function.
    if (!table->orderIsLookup) table->inOrder = false;
    if (after != nullptr) result = after(table->userData, argument, RecordAt(table, offset));
    if (result != kOk) {
      RemoveAt(table, position);
    } else if (offset + wanted > table->bytesUsed) {
      table->bytesUsed = offset + wanted;
    }
  }
  if (resort) SortIndexByOrder(table, argument);
  return result;
}

ResultCode CacheTableRemove(CacheTable* table, const void* templ, CacheCompareFn lookup,
                            void* argument) {
  if (!Valid(table)) return kErrInvalidHandle;
  if (templ == nullptr) return kErrInvalidArgument;
  Guard guard(table);
  uint32_t position = 0;
  if (!Find(table, templ, lookup != nullptr ? lookup : table->callbacks.lookup, argument,
            &position)) {
    return kErrNotFound;
  }
  RemoveAt(table, position);
  return kOk;
}

ResultCode CacheTableClear(CacheTable* table) {
  if (!Valid(table)) return kErrInvalidHandle;
  Guard guard(table);
  table->recordCount = 0;
  table->bytesUsed = 0;
  table->inOrder = true;
  PagePoolReleaseTail(&table->indexPool, 0);
  PagePoolReleaseTail(&table->recordPool, 0);
  table->operationCounter = 1;
  return kOk;
}

ResultCode CacheTableForEach(CacheTable* table, CacheVisitFn visitor, CacheCompareFn temporary,
                             void* argument) {
  if (!Valid(table)) return kErrInvalidHandle;
  if (visitor == nullptr) return kErrInvalidArgument;
  Guard guard(table);
  if (temporary != nullptr) SortIndex(table, temporary, argument);
  int result = 0;
  for (uint32_t i = 0; i < table->recordCount; ++i) {
    result = visitor(table->userData, argument, RecordAt(table, table->index[i]));
    if (result != 0) break;
  }
  if (temporary != nullptr) SortIndexByOrder(table, argument);
  return result;
}

uint32_t CacheTableCount(CacheTable* table) {
  if (!Valid(table)) return 0;
  Guard guard(table);
  return table->recordCount;
}
