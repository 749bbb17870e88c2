// The table of open transactions against a plain ordered map, on random
// openings, traffic, closings and resets; and its forced eviction.
#include "webstat/transaction_table.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <map>
#include <random>
#include <string>

namespace {

using Key = std::array<uint8_t, kTransactionIdSize>;

// The reporting order: the first four bytes as a little-endian number, then
// the rest bytewise.
struct IdOrder {
  bool operator()(const Key& a, const Key& b) const {
    uint32_t x = 0;
    uint32_t y = 0;
    std::memcpy(&x, a.data(), 4);
    std::memcpy(&y, b.data(), 4);
    if (x != y) return x < y;
    return std::memcmp(a.data() + 4, b.data() + 4, kTransactionIdSize - 4) < 0;
  }
};

struct Model {
  uint64_t volume;
  uint32_t state;
  std::string names;
};

using Reference = std::map<Key, Model, IdOrder>;

void Visit(void* context, const WebTransaction* record, const char* names) {
  auto* seen = static_cast<std::vector<std::pair<Key, std::string>>*>(context);
  Key key;
  std::memcpy(key.data(), record->id, key.size());
  const size_t ip = std::strlen(names) + 1;
  const size_t user = std::strlen(names + ip) + 1;
  const size_t host = std::strlen(names + ip + user) + 1;
  seen->push_back({key, std::to_string(record->volume) + "/" + std::to_string(record->state) + "/" +
                            std::string(names, ip + user + host)});
}

TEST(TransactionTable, AgreesWithAnOrderedMap) {
  TransactionTable* table = nullptr;
  ASSERT_EQ(TransactionTableCreate(10000, 800000, &table), kOk);
  Reference reference;
  std::mt19937 random(7);
  for (int step = 0; step < 200000; ++step) {
    // Few distinct ids sharing their first bytes, as the proxy's are.
    Key id{};
    id[0] = static_cast<uint8_t>(random() % 3);
    id[19] = static_cast<uint8_t>(random() % 251);
    id[10] = static_cast<uint8_t>(random() % 7);
    const uint32_t action = random() % 100;
    if (action < 45) {
      WebTransaction fixed{};
      std::memcpy(fixed.id, id.data(), id.size());
      fixed.state = 1 + random() % 2;
      const std::string names = "ip" + std::to_string(step % 9) + '\0' + "u" + '\0' + "h" + '\0';
      const uint64_t volume = random() % 1000;
      uint32_t state = 9;
      TransactionTableUpsert(table, fixed, names.data(), static_cast<uint32_t>(names.size()), volume,
                             &state);
      auto [at, inserted] = reference.try_emplace(id, Model{volume, fixed.state, names});
      if (!inserted) at->second.volume = volume;
      ASSERT_EQ(state, at->second.state);
    } else if (action < 95) {
      uint64_t volume = 0;
      const bool found = TransactionTableRemove(table, id.data(), &volume);
      auto at = reference.find(id);
      ASSERT_EQ(found, at != reference.end());
      if (found) {
        EXPECT_EQ(volume, at->second.volume);
        reference.erase(at);
      }
    } else if (action < 96) {
      TransactionTableClear(table);
      reference.clear();
    }
    ASSERT_EQ(TransactionTableCount(table), reference.size());
    if (step % 5000 != 0) continue;
    std::vector<std::pair<Key, std::string>> seen;
    TransactionTableForEach(table, Visit, &seen);
    ASSERT_EQ(seen.size(), reference.size());
    size_t k = 0;
    for (const auto& [key, model] : reference) {
      EXPECT_EQ(seen[k].first, key);
      EXPECT_EQ(seen[k].second, std::to_string(model.volume) + "/" + std::to_string(model.state) +
                                    "/" + model.names);
      ++k;
    }
  }
  TransactionTableDestroy(table);
}

TEST(TransactionTable, AFullTableDropsItsOldestFifth) {
  // Full by records, then by bytes (each record 8 + fixed part + 3 bytes).
  const uint32_t bytes = 8 + sizeof(WebTransaction) + 3;
  const struct {
    uint32_t records;
    uint32_t byteLimit;
    uint32_t inserts;
    uint32_t left;
  } cases[] = {{100, 1000000, 101, 81}, {1000, 50 * bytes, 51, 41}, {3, 1000000, 4, 3}};
  for (const auto& c : cases) {
    TransactionTable* table = nullptr;
    ASSERT_EQ(TransactionTableCreate(c.records, c.byteLimit, &table), kOk);
    for (uint32_t i = 0; i < c.inserts; ++i) {
      WebTransaction fixed{};
      std::memcpy(fixed.id + 16, &i, sizeof i);
      uint32_t state = 0;
      TransactionTableUpsert(table, fixed, "\0\0\0", 3, i, &state);
    }
    EXPECT_EQ(TransactionTableCount(table), c.left);
    // The newest are kept: the last insert is there, the first is not.
    uint8_t first[kTransactionIdSize] = {};
    uint8_t last[kTransactionIdSize] = {};
    const uint32_t lastIndex = c.inserts - 1;
    std::memcpy(last + 16, &lastIndex, sizeof lastIndex);
    uint64_t volume = 0;
    EXPECT_FALSE(TransactionTableRemove(table, first, &volume));
    EXPECT_TRUE(TransactionTableRemove(table, last, &volume));
    EXPECT_EQ(volume, lastIndex);
    TransactionTableDestroy(table);
  }
}

}  // namespace
