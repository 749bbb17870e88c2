#include "common/record_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

int CompareInt(const void* key, const void* record) {
  int a = *static_cast<const int*>(key);
  int b = *static_cast<const int*>(record);
  return a < b ? -1 : (a > b ? 1 : 0);
}

int CompareIntSort(void* context, const void* a, const void* b) {
  if (context != nullptr) ++*static_cast<int*>(context);
  return CompareInt(a, b);
}

// A record of a value and a tag, ordered by the value only.
struct Tagged {
  int value;
  int tag;
};

std::vector<int> Values(RecordTable* table) {
  std::vector<int> values;
  for (uint32_t i = 0; i < RecordTableCount(table); ++i) {
    values.push_back(*static_cast<const int*>(RecordTableAt(table, i)));
  }
  return values;
}

TEST(RecordTable, InsertKeepsOrderAndPlacesEqualRecordsBefore) {
  RecordTable table{};
  void* record = nullptr;
  int first = 5;
  ASSERT_EQ(RecordTableInsert(&table, &first, sizeof first, CompareInt, &first, &record), kOk);
  EXPECT_EQ(*static_cast<int*>(record), 5);
  for (int v : {3, 9, 1, 7}) {
    ASSERT_EQ(RecordTableInsert(&table, &v, sizeof v, CompareInt, &v, nullptr), kOk);
  }
  EXPECT_EQ(Values(&table), (std::vector<int>{1, 3, 5, 7, 9}));

  Tagged equal{7, 1};
  ASSERT_EQ(RecordTableInsert(&table, &equal, sizeof equal, CompareInt, &equal, &record), kOk);
  uint32_t position = 99;
  ASSERT_EQ(RecordTableSearch(&table, CompareInt, &equal.value, &position), kOk);
  EXPECT_EQ(position, 3u);
  EXPECT_EQ(static_cast<Tagged*>(RecordTableAt(&table, 3))->tag, 1);

  int missing = 8;
  EXPECT_EQ(RecordTableSearch(&table, nullptr, &missing, &position), kErrNotFound);
  EXPECT_EQ(position, 6u);
  EXPECT_EQ(RecordTableFind(&table, CompareInt, &missing), nullptr);
  int three = 3;
  EXPECT_EQ(*static_cast<int*>(RecordTableFind(&table, CompareInt, &three)), 3);
  RecordTableFree(&table);
  EXPECT_EQ(table.data, nullptr);
  EXPECT_EQ(table.count, 0u);
}

TEST(RecordTable, BinarySearchMatchesLowerBoundOnSortedTables) {
  for (int size = 0; size < 70; ++size) {
    RecordTable table{};
    std::vector<int> sorted;
    for (int i = 0; i < size; ++i) sorted.push_back(2 * i);
    for (int v : sorted) RecordTableAppend(&table, &v, sizeof v);
    for (int key = -1; key <= 2 * size; ++key) {
      uint32_t position = 0;
      ResultCode result = RecordTableSearch(&table, CompareInt, &key, &position);
      uint32_t expected = static_cast<uint32_t>((key + 1) / 2);
      EXPECT_EQ(position, expected) << size << " " << key;
      EXPECT_EQ(result, key % 2 == 0 && key >= 0 && key < 2 * size ? kOk : kErrNotFound);
    }
    RecordTableFree(&table);
  }
}

TEST(RecordTable, ArgumentsAndEmptyTable) {
  RecordTable table{};
  int v = 1;
  uint32_t position = 7;
  EXPECT_EQ(RecordTableSearch(&table, CompareInt, &v, &position), kErrNotFound);
  EXPECT_EQ(position, 0u);
  EXPECT_EQ(RecordTableInsert(nullptr, &v, 4, CompareInt, &v, nullptr), kErrInvalidArgument);
  EXPECT_EQ(RecordTableInsert(&table, &v, 0, CompareInt, &v, nullptr), kErrInvalidArgument);
  EXPECT_EQ(RecordTableAppend(&table, nullptr, 4), kErrInvalidArgument);
  EXPECT_EQ(RecordTableForEach(&table, nullptr, nullptr), kErrInvalidArgument);
  EXPECT_EQ(RecordTableClear(nullptr), kErrInvalidArgument);
  EXPECT_EQ(RecordTableFree(nullptr), kErrInvalidArgument);
  EXPECT_EQ(CounterTableAdd(&table, nullptr, 1, 1, 1), kErrInvalidArgument);
  EXPECT_EQ(CounterTableAdd(nullptr, "k", 1, 1, 1), kErrInvalidArgument);
  // Insertion without data leaves the bytes to the caller.
  void* record = nullptr;
  ASSERT_EQ(RecordTableInsert(&table, nullptr, 4, nullptr, nullptr, &record), kOk);
  std::memcpy(record, &v, 4);
  EXPECT_EQ(Values(&table), std::vector<int>{1});
  RecordTableFree(&table);
}

TEST(RecordTable, SortBothDirectionsAndForEachStops) {
  RecordTable table{};
  std::mt19937 random(3);
  for (int i = 0; i < 500; ++i) {
    int v = static_cast<int>(random() % 100);
    RecordTableAppend(&table, &v, sizeof v);
  }
  int calls = 0;
  ASSERT_EQ(RecordTableSort(&table, CompareIntSort, &calls, 1), kOk);
  EXPECT_GT(calls, 0);
  std::vector<int> up = Values(&table);
  EXPECT_TRUE(std::is_sorted(up.begin(), up.end()));
  ASSERT_EQ(RecordTableSort(&table, CompareIntSort, nullptr, -1), kOk);
  std::vector<int> down = Values(&table);
  EXPECT_TRUE(std::is_sorted(down.rbegin(), down.rend()));

  struct Walk {
    int seen = 0;
  } walk;
  auto visitor = [](void* context, void* record) {
    Walk* w = static_cast<Walk*>(context);
    ++w->seen;
    return w->seen == 3 ? -77 + 0 * *static_cast<int*>(record) : 0;
  };
  EXPECT_EQ(RecordTableForEach(&table, visitor, &walk), -77);
  EXPECT_EQ(walk.seen, 3);
  RecordTableFree(&table);
  EXPECT_EQ(RecordTableForEach(&table, visitor, &walk), 0);
}

std::vector<std::string> Keys(RecordTable* table) {
  std::vector<std::string> keys;
  RecordTableForEach(
      table,
      [](void* context, void* record) {
        static_cast<std::vector<std::string>*>(context)->push_back(
            static_cast<CounterRecord*>(record)->key);
        return 0;
      },
      &keys);
  return keys;
}

TEST(CounterTable, AddsAfterAResortStillFindTheirRecords) {
  RecordTable table{};
  CounterTableAdd(&table, "x", 5, 0, 0);
  CounterTableAdd(&table, "y", 9, 0, 0);
  ASSERT_EQ(RecordTableSort(&table, CompareCounterRecordsSort, nullptr, 1), kOk);
  EXPECT_EQ(Keys(&table), (std::vector<std::string>{"y", "x"}));
  CounterTableAdd(&table, "y", 1, 0, 0);
  EXPECT_EQ(RecordTableCount(&table), 2u);
  RecordTableFree(&table);
}

TEST(CounterTable, CompareRecordsDefaultOrder) {
  alignas(8) unsigned char bytesA[40] = {};
  alignas(8) unsigned char bytesB[40] = {};
  CounterRecord* a = reinterpret_cast<CounterRecord*>(bytesA);
  CounterRecord* b = reinterpret_cast<CounterRecord*>(bytesB);
  a->total1 = 5;
  b->total1 = 3;
  EXPECT_LT(CompareCounterRecords(nullptr, a, b), 0);
  b->total1 = 5;
  a->total2 = 1;
  b->total2 = 2;
  EXPECT_GT(CompareCounterRecords(nullptr, a, b), 0);
  b->total2 = 1;
  EXPECT_EQ(CompareCounterRecords(nullptr, a, b), 0);
  auto reversed = [](void*, const void* x, const void* y) {
    return -CompareCounterRecordsSort(nullptr, x, y);
  };
  b->total1 = 1;
  EXPECT_GT(CompareCounterRecords(reversed, a, b), 0);
  EXPECT_EQ(CompareKeyNoCase("abc", "ABC"), 0);
  EXPECT_EQ(CompareKeyNoCase("ab", "abc"), -1);
  EXPECT_EQ(CompareKeyNoCase("b", "A"), 1);
  EXPECT_EQ(CompareKeyNoCase("[", "a"), 1);  // 'a' folds to 'A' (0x41) below '[' (0x5B)
}

uint32_t ReferenceHash(const std::string& key) {
  uint32_t hash = 0;
  for (char c : key) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    hash += static_cast<uint32_t>(static_cast<int32_t>(static_cast<signed char>(c)));
  }
  return hash;
}

std::string Folded(const std::string& key) {
  std::string folded = key;
  for (char& c : folded) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  }
  return folded;
}

struct Expected {
  std::string spelling;  // the first one added
  uint64_t total1 = 0;
  uint64_t total2 = 0;
  int64_t last = 0;
};

// The table holds the reference's records, in the order of a sort by
// (byte-sum hash, folded key).
void ExpectSameAsReference(RecordTable* table, const std::map<std::string, Expected>& reference) {
  ASSERT_EQ(RecordTableCount(table), reference.size());
  std::vector<std::pair<uint32_t, std::string>> order;
  for (const auto& [folded, expected] : reference) {
    const CounterRecord* record = CounterTableFind(table, folded.c_str());
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(std::string(record->key), expected.spelling);
    EXPECT_EQ(record->total1, expected.total1);
    EXPECT_EQ(record->total2, expected.total2);
    EXPECT_EQ(record->last, expected.last);
    order.emplace_back(ReferenceHash(folded), folded);
  }
  std::sort(order.begin(), order.end());
  for (uint32_t i = 0; i < RecordTableCount(table); ++i) {
    const auto* record = static_cast<const CounterRecord*>(RecordTableAt(table, i));
    EXPECT_EQ(record->hash, order[i].first);
    EXPECT_EQ(Folded(record->key), order[i].second);
  }
}

// Differential: keys added as views (case variants, high bytes, every length
// around the eight-byte words) against a plain map of folded keys; the
// table's order against a sort by (byte-sum hash, folded key), observed
// midway too, so later additions land beside an order already settled.
TEST(KeyedTableDifferential, ViewsMatchAPlainMap) {
  const char letters[] = {'a', 'A', 'b', 'B', 'z', '{', '`', '@', '\x80', '\xe1', '\xc1', '0'};
  std::mt19937 random(99);
  RecordTable table{};
  std::map<std::string, Expected> reference;
  for (int i = 0; i < 20000; ++i) {
    std::string key(random() % 19, 'x');
    for (char& c : key) c = letters[random() % (i % 3 == 0 ? 3 : sizeof letters)];
    std::string line(1, '<');  // the view lies inside a longer text
    line.append(key);
    line.push_back('>');
    const uint64_t add = random() % 5;
    ASSERT_EQ(CounterTableAddView(&table, line.data() + 1, key.size(), add, 1, i), kOk);
    Expected& expected = reference[Folded(key)];
    if (expected.total2 == 0) expected.spelling = key;
    expected.total1 += add;
    expected.total2 += 1;
    expected.last = i;
    ASSERT_EQ(KeyHash(key.c_str()), ReferenceHash(key));
    if (i % 4000 == 0) ExpectSameAsReference(&table, reference);
  }
  ExpectSameAsReference(&table, reference);
  RecordTableFree(&table);
}

// Differential: the hash of long keys (past the word sums' flush every 1 024
// bytes), all bytes high or low, against the byte-at-a-time sum.
TEST(KeyedTableDifferential, LongKeyHashes) {
  std::mt19937 random(13);
  for (const size_t length : {1023u, 1024u, 1025u, 2047u, 2048u, 2049u, 5000u, 32767u}) {
    for (const int fill : {0, 1, 2}) {
      std::string key(length, 'x');
      for (char& c : key) {
        c = fill == 0 ? '\xff' : fill == 1 ? 'z' : static_cast<char>(1 + random() % 255);
      }
      EXPECT_EQ(KeyHash(key.c_str()), ReferenceHash(key)) << length << " " << fill;
    }
  }
}

int ByTotalThenKey(void*, const void* left, const void* right) {
  const auto* a = static_cast<const CounterRecord*>(left);
  const auto* b = static_cast<const CounterRecord*>(right);
  if (a->total1 != b->total1) return a->total1 > b->total1 ? -1 : 1;
  return CompareKeyNoCase(a->key, b->key);
}

bool Odd(void*, const void* record) { return static_cast<const CounterRecord*>(record)->total1 % 2; }

// Differential: selecting the first k records against a full heap sort.
TEST(RecordTableSelectDifferential, HeadOfAFullSort) {
  std::mt19937 random(7);
  for (int round = 0; round < 40; ++round) {
    RecordTable table{};
    const int keys = 1 + static_cast<int>(random() % 400);
    for (int i = 0; i < keys; ++i) {
      const std::string key = std::to_string(random() % 1000);
      CounterTableAdd(&table, key.c_str(), random() % 9, 0, 0);
    }
    const uint32_t limit = static_cast<uint32_t>(random() % 30);
    const bool filtered = round % 2 == 1;
    std::vector<void*> top;
    ASSERT_EQ(RecordTableSelect(&table, ByTotalThenKey, nullptr, filtered ? Odd : nullptr, nullptr,
                                limit, &top),
              kOk);
    ASSERT_EQ(RecordTableSort(&table, ByTotalThenKey, nullptr, 1), kOk);
    std::vector<void*> expected;
    for (uint32_t i = 0; i < RecordTableCount(&table) && expected.size() < limit; ++i) {
      void* record = RecordTableAt(&table, i);
      if (!filtered || Odd(nullptr, record)) expected.push_back(record);
    }
    EXPECT_EQ(top, expected) << "round " << round;
    RecordTableFree(&table);
  }
}

}  // namespace
