// An ordered table of variable-size records in reserved memory that is
// committed as it is touched, with forced eviction, gap reuse, compaction and
// merging under the owner's callbacks. Every operation takes the table's lock.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/types.h"

// A reserved range committed page by page when first touched.
struct PagePool {
  size_t pageSize;
  size_t commitStep;     // pages committed together (16)
  unsigned char* base;
  size_t reservedSize;   // the requested size rounded up to whole pages
  size_t committedEnd;   // bytes from base known to be committed
};

// Reserves the range; kErrNoMemory when it cannot be reserved.
ResultCode PagePoolCreate(PagePool* pool, size_t size);
// Makes [0, end) usable, committing from the committed end onwards in steps
// of commitStep pages (fewer at the end of the pool). kErrNoMemory.
ResultCode PagePoolCommit(PagePool* pool, size_t end);
// Decommits every page from the first page boundary at or after usedBytes to
// the end, unless fewer than 10 pages would be freed.
void PagePoolReleaseTail(PagePool* pool, size_t usedBytes);
// Releases the range and zeroes the pool.
void PagePoolDestroy(PagePool* pool);

// Every record and every template begins with this header: the 32-bit key,
// then the record size in bytes (header included) or, in a template, the
// length of the data that follows.
struct CacheRecordHeader {
  uint32_t key;
  uint32_t size;
};

inline unsigned char* CacheRecordData(void* record) {
  return static_cast<unsigned char*>(record) + sizeof(CacheRecordHeader);
}
inline const unsigned char* CacheRecordData(const void* record) {
  return static_cast<const unsigned char*>(record) + sizeof(CacheRecordHeader);
}

// Order, lookup and eviction comparators: (user data, argument, a, b) -> <0, 0, >0.
// The lookup comparator gets the template as a and a record as b.
using CacheCompareFn = int (*)(void* user, void* argument, const void* a, const void* b);
// Eviction predicate: non-zero evicts the record too.
using CachePredicateFn = int (*)(void* user, void* argument, const void* record);
// Fills a new record's data (length bytes) from the template; non-zero cancels the insert.
using CacheConstructFn = ResultCode (*)(void* user, void* argument, unsigned char* data,
                                        uint32_t length, const void* templ);
// Called with the kept and the dropped record of two equal ones.
using CacheMergeFn = void (*)(void* user, void* argument, void* kept, void* dropped);
// Visitor and after-insert callback: non-zero stops a walk / undoes an insert.
using CacheVisitFn = int (*)(void* user, void* argument, void* record);

// The owner's callbacks; a null member takes the default.
struct CacheTableCallbacks {
  CacheCompareFn order = nullptr;
  CacheCompareFn lookup = nullptr;
  CacheCompareFn eviction = nullptr;
  CachePredicateFn evictPredicate = nullptr;
  CacheConstructFn construct = nullptr;
  CacheMergeFn merge = nullptr;
};

struct CacheTable;

// Creates an empty table with room for recordLimit records and byteLimit bytes
// of records; the user data is copied and handed to every callback.
// kErrInvalidArgument (no output or recordLimit 0), kErrNoMemory.
ResultCode CacheTableCreate(CacheTable** out, uint32_t recordLimit, uint32_t byteLimit,
                            const wchar_t* name, const void* userData, uint32_t userDataSize,
                            const CacheTableCallbacks* callbacks);
// Releases the table and all its memory. kErrInvalidHandle for a bad table.
ResultCode CacheTableDestroy(CacheTable* table);
// Finds the template or inserts a record built from it, making room as needed.
// after (optional) gets the existing or the new record; its non-zero result is
// returned (and undoes a new insert). kErrNoRoom (-23) when nothing fits.
ResultCode CacheTableInsert(CacheTable* table, const void* templ, CacheVisitFn after,
                            void* argument);
// Removes the record equal to the template (lookup: the table's when null).
// kErrNotFound when none matches.
ResultCode CacheTableRemove(CacheTable* table, const void* templ, CacheCompareFn lookup,
                            void* argument);
// Empties the table and returns its memory to the system.
ResultCode CacheTableClear(CacheTable* table);
// Calls visitor for each record in index order (sorted by temporary first when
// given) until it returns non-zero; that result, 0 when none or empty.
// kErrInvalidArgument without a visitor.
ResultCode CacheTableForEach(CacheTable* table, CacheVisitFn visitor, CacheCompareFn temporary,
                             void* argument);
// Number of records (0 for a bad table).
uint32_t CacheTableCount(CacheTable* table);

constexpr ResultCode kErrNoRoom = -23;
