// The table of open transactions against an ordered map: random openings,
// closings and resets, reported in id order. (Forced eviction: the end-to-end
// run of 12000 open transactions.)
#include "webstat/transaction_table.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <map>
#include <random>
#include <string>

namespace {

using Key = std::array<uint8_t, kTransactionIdSize>;

// The reporting order: the first four bytes as a little-endian number, then the rest.
struct IdOrder {
  bool operator()(const Key& a, const Key& b) const {
    uint32_t x = 0;
    uint32_t y = 0;
    std::memcpy(&x, a.data(), 4);
    std::memcpy(&y, b.data(), 4);
    return x != y ? x < y : std::memcmp(a.data() + 4, b.data() + 4, kTransactionIdSize - 4) < 0;
  }
};

// "volume/state/names|" of a record.
std::string Text(uint64_t volume, uint32_t state, const std::string& names) {
  std::string text = std::to_string(volume);
  text += '/';
  text += std::to_string(state);
  text += '/';
  text += names;
  text += '|';
  return text;
}

void Visit(void* context, const WebTransaction* record, const char* names) {
  size_t length = 0;
  for (int text = 0; text < 3; ++text) length += std::strlen(names + length) + 1;
  *static_cast<std::string*>(context) += Text(record->volume, record->state, std::string(names, length));
}

TEST(TransactionTable, AgreesWithAnOrderedMap) {
  TransactionTable* table = nullptr;
  ASSERT_EQ(TransactionTableCreate(10000, 800000, &table), kOk);
  struct Model {
    uint64_t volume;
    uint32_t state;
    std::string names;
  };
  std::map<Key, Model, IdOrder> reference;
  std::mt19937 random(7);
  for (int step = 0; step < 200000; ++step) {
    Key id{};  // few ids, sharing their first bytes as the proxy's do
    id[0] = static_cast<uint8_t>(random() % 3);
    id[10] = static_cast<uint8_t>(random() % 7);
    id[19] = static_cast<uint8_t>(random() % 251);
    const uint32_t action = random() % 100;
    uint64_t volume = random() % 1000;
    if (action < 45) {
      WebTransaction fixed{};
      std::memcpy(fixed.id, id.data(), id.size());
      fixed.state = 1 + random() % 2;
      const std::string names = "ip" + std::to_string(step % 9) + '\0' + "u" + '\0' + "h" + '\0';
      uint32_t state = 9;
      TransactionTableUpsert(table, fixed, names.data(), static_cast<uint32_t>(names.size()), volume,
                             &state);
      auto at = reference.try_emplace(id, Model{volume, fixed.state, names}).first;
      at->second.volume = volume;
      ASSERT_EQ(state, at->second.state);
    } else if (action < 95) {
      auto at = reference.find(id);
      ASSERT_EQ(TransactionTableRemove(table, id.data(), &volume), at != reference.end());
      if (at != reference.end()) {
        EXPECT_EQ(volume, at->second.volume);
        reference.erase(at);
      }
    } else if (action == 95) {
      TransactionTableClear(table);
      reference.clear();
    }
    ASSERT_EQ(TransactionTableCount(table), reference.size());
    if (step % 5000 != 0) continue;
    std::string seen;
    std::string expected;
    TransactionTableForEach(table, Visit, &seen);
    for (const auto& [key, model] : reference) expected += Text(model.volume, model.state, model.names);
    ASSERT_EQ(seen, expected);
  }
  TransactionTableDestroy(table);
}

}  // namespace
