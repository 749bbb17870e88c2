// CacheTable: insertion order and lookup, forced eviction, gap reuse,
// maintenance merges, clear, and the walk with a temporary order.
#include "common/cache_table.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

// A template: the key, the data length, then a 32-bit value.
struct Item {
  uint32_t key;
  uint32_t length;
  uint32_t value;
  uint32_t padding[11];  // records of 64 bytes in all
};

Item MakeItem(uint32_t key, uint32_t value) {
  Item item{};
  item.key = key;
  item.length = sizeof(Item) - sizeof(CacheRecordHeader);
  item.value = value;
  return item;
}

uint32_t ValueOf(const void* record) {
  uint32_t value = 0;
  std::memcpy(&value, CacheRecordData(record), sizeof value);
  return value;
}

ResultCode CopyValue(void*, void*, unsigned char* data, uint32_t length, const void* templ) {
  std::memset(data, 0, length);
  std::memcpy(data, &static_cast<const Item*>(templ)->value, sizeof(uint32_t));
  return kOk;
}

int RememberRecord(void*, void* argument, void* record) {
  *static_cast<void**>(argument) = record;
  return 0;
}

int CountVisits(void*, void* argument, void*) {
  ++*static_cast<int*>(argument);
  return 0;
}

CacheTableCallbacks ValueCallbacks() {
  CacheTableCallbacks callbacks;
  callbacks.construct = CopyValue;
  return callbacks;
}

TEST(CacheTable, TheRecordAfterTheLimitEvictsAFifthEvenWhenThePredicateRefuses) {
  CacheTable* table = nullptr;
  CacheTableCallbacks callbacks = ValueCallbacks();
  ASSERT_EQ(CacheTableCreate(&table, 10000, 10000 * 64 + 4096, L"open", nullptr, 0, &callbacks), kOk);
  for (uint32_t i = 0; i < 10000; ++i) {
    Item item = MakeItem(i, i);
    ASSERT_EQ(CacheTableInsert(table, &item, nullptr, nullptr), kOk);
  }
  // The maintenance points on the way never removed a record.
  EXPECT_EQ(CacheTableCount(table), 10000u);
  Item extra = MakeItem(20000, 20000);
  EXPECT_EQ(CacheTableInsert(table, &extra, nullptr, nullptr), kOk);
  EXPECT_EQ(CacheTableCount(table), 8001u);
  // The survivors are still found by key.
  void* found = nullptr;
  EXPECT_EQ(CacheTableInsert(table, &extra, RememberRecord, &found), kOk);
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(ValueOf(found), 20000u);
  EXPECT_EQ(CacheTableCount(table), 8001u);
  EXPECT_EQ(CacheTableDestroy(table), kOk);
}

TEST(CacheTable, AnExistingKeyGoesToTheAfterCallbackAndInsertsNothing) {
  CacheTable* table = nullptr;
  CacheTableCallbacks callbacks = ValueCallbacks();
  ASSERT_EQ(CacheTableCreate(&table, 100, 8192, nullptr, nullptr, 0, &callbacks), kOk);
  Item first = MakeItem(7, 1);
  Item second = MakeItem(7, 2);
  void* inserted = nullptr;
  void* existing = nullptr;
  EXPECT_EQ(CacheTableInsert(table, &first, RememberRecord, &inserted), kOk);
  EXPECT_EQ(CacheTableInsert(table, &second, RememberRecord, &existing), kOk);
  EXPECT_EQ(existing, inserted);
  EXPECT_EQ(ValueOf(existing), 1u);
  EXPECT_EQ(CacheTableCount(table), 1u);
  // A non-zero after-callback result undoes a new insert and is returned.
  Item third = MakeItem(8, 3);
  EXPECT_EQ(CacheTableInsert(table, &third, [](void*, void*, void*) { return 5; }, nullptr), 5);
  EXPECT_EQ(CacheTableCount(table), 1u);
  EXPECT_EQ(CacheTableRemove(table, &third, nullptr, nullptr), kErrNotFound);
  EXPECT_EQ(CacheTableRemove(table, &first, nullptr, nullptr), kOk);
  EXPECT_EQ(CacheTableCount(table), 0u);
  CacheTableDestroy(table);
}

// Evicts the records at the highest addresses first.
int ByAddress(void*, void*, const void* a, const void* b) {
  return a < b ? -1 : (a > b ? 1 : 0);
}

TEST(CacheTable, AFreedGapTakesARecordOfItsSize) {
  CacheTable* table = nullptr;
  CacheTableCallbacks callbacks = ValueCallbacks();
  callbacks.eviction = ByAddress;
  ASSERT_EQ(CacheTableCreate(&table, 1000, 4096, nullptr, nullptr, 0, &callbacks), kOk);
  std::vector<void*> records;
  for (uint32_t i = 0; i < 4096 / sizeof(Item); ++i) {
    Item item = MakeItem(i, i);
    void* record = nullptr;
    ASSERT_EQ(CacheTableInsert(table, &item, RememberRecord, &record), kOk);
    records.push_back(record);
  }
  Item second = MakeItem(1, 1);
  ASSERT_EQ(CacheTableRemove(table, &second, nullptr, nullptr), kOk);
  Item late = MakeItem(500, 500);
  void* placed = nullptr;
  ASSERT_EQ(CacheTableInsert(table, &late, RememberRecord, &placed), kOk);
  EXPECT_EQ(placed, records[1]);
  EXPECT_EQ(ValueOf(placed), 500u);
  CacheTableDestroy(table);
}

TEST(CacheTable, ClearStartsAgainAtTheBeginningOfTheArea) {
  CacheTable* table = nullptr;
  CacheTableCallbacks callbacks = ValueCallbacks();
  ASSERT_EQ(CacheTableCreate(&table, 100, 65536, nullptr, nullptr, 0, &callbacks), kOk);
  void* first = nullptr;
  for (uint32_t i = 0; i < 50; ++i) {
    Item item = MakeItem(i, i);
    void* record = nullptr;
    ASSERT_EQ(CacheTableInsert(table, &item, RememberRecord, &record), kOk);
    if (i == 0) first = record;
  }
  EXPECT_EQ(CacheTableClear(table), kOk);
  EXPECT_EQ(CacheTableCount(table), 0u);
  Item item = MakeItem(99, 99);
  void* again = nullptr;
  ASSERT_EQ(CacheTableInsert(table, &item, RememberRecord, &again), kOk);
  EXPECT_EQ(again, first);
  EXPECT_EQ(ValueOf(again), 99u);
  CacheTableDestroy(table);
}

// Records equal by key merge; the lookup tells them apart by value.
int ByValue(void*, void*, const void* a, const void* b) {
  uint32_t va = static_cast<const Item*>(a)->value;
  uint32_t vb = ValueOf(b);
  return va < vb ? -1 : (va > vb ? 1 : 0);
}
int ByKeyOnly(void*, void*, const void* a, const void* b) {
  uint32_t ka = static_cast<const CacheRecordHeader*>(a)->key;
  uint32_t kb = static_cast<const CacheRecordHeader*>(b)->key;
  return ka < kb ? -1 : (ka > kb ? 1 : 0);
}
void AddValues(void* user, void*, void* kept, void* dropped) {
  ++*static_cast<int*>(user);
  uint32_t sum = ValueOf(kept) + ValueOf(dropped);
  std::memcpy(CacheRecordData(kept), &sum, sizeof sum);
}

TEST(CacheTable, MaintenancePointsMergeEqualRecords) {
  CacheTable* table = nullptr;
  CacheTableCallbacks callbacks = ValueCallbacks();
  callbacks.order = ByKeyOnly;
  callbacks.lookup = ByValue;
  callbacks.merge = AddValues;
  int merges = 0;
  // Room for 8 records: every second insert is a maintenance point.
  ASSERT_EQ(CacheTableCreate(&table, 8, 8192, nullptr, &merges, sizeof merges, &callbacks), kOk);
  Item a = MakeItem(3, 10);
  Item b = MakeItem(3, 20);
  Item c = MakeItem(4, 1);
  ASSERT_EQ(CacheTableInsert(table, &a, nullptr, nullptr), kOk);  // counter 2: maintenance
  ASSERT_EQ(CacheTableInsert(table, &b, nullptr, nullptr), kOk);  // counter 3
  EXPECT_EQ(CacheTableCount(table), 2u);
  ASSERT_EQ(CacheTableInsert(table, &c, nullptr, nullptr), kOk);  // counter 4: merges a and b
  EXPECT_EQ(CacheTableCount(table), 2u);
  int visits = 0;
  EXPECT_EQ(CacheTableForEach(table, CountVisits, nullptr, &visits), 0);
  EXPECT_EQ(visits, 2);
  CacheTableDestroy(table);
}

TEST(CacheTable, WalkInATemporaryOrderThenFindByKeyAgain) {
  CacheTable* table = nullptr;
  CacheTableCallbacks callbacks = ValueCallbacks();
  ASSERT_EQ(CacheTableCreate(&table, 100, 8192, nullptr, nullptr, 0, &callbacks), kOk);
  for (uint32_t key : {5u, 1u, 9u, 3u}) {
    Item item = MakeItem(key, 100 - key);
    ASSERT_EQ(CacheTableInsert(table, &item, nullptr, nullptr), kOk);
  }
  std::vector<uint32_t> keys;
  auto collect = [](void*, void* argument, void* record) {
    static_cast<std::vector<uint32_t>*>(argument)->push_back(
        static_cast<CacheRecordHeader*>(record)->key);
    return 0;
  };
  EXPECT_EQ(CacheTableForEach(table, collect, nullptr, &keys), 0);
  EXPECT_EQ(keys, (std::vector<uint32_t>{1, 3, 5, 9}));
  keys.clear();
  auto descending = [](void*, void*, const void* a, const void* b) {
    return -ByKeyOnly(nullptr, nullptr, a, b);
  };
  EXPECT_EQ(CacheTableForEach(table, collect, descending, &keys), 0);
  EXPECT_EQ(keys, (std::vector<uint32_t>{9, 5, 3, 1}));
  Item three = MakeItem(3, 0);
  EXPECT_EQ(CacheTableRemove(table, &three, nullptr, nullptr), kOk);
  EXPECT_EQ(CacheTableForEach(table, nullptr, nullptr, nullptr), kErrInvalidArgument);
  char fake[sizeof(void*) * 4] = {};
  EXPECT_EQ(CacheTableClear(reinterpret_cast<CacheTable*>(fake)), kErrInvalidHandle);
  EXPECT_EQ(CacheTableCreate(nullptr, 10, 10, nullptr, nullptr, 0, nullptr), kErrInvalidArgument);
  CacheTableDestroy(table);
}

}  // namespace
