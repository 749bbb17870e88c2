// Open transactions in a dense array of records under an open-addressing
// index of hashed ids (linear probing, deletion by backward shift).
#include "webstat/transaction_table.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

namespace {

constexpr uint32_t kRecordHeaderBytes = 8;

// The whole id mixed with the table's seed (which differs from run to run,
// so that no log can be made to pile its ids into one probe run).
uint64_t HashId(const uint8_t* id, uint64_t seed) {
  uint64_t a = 0;
  uint64_t b = 0;
  uint32_t c = 0;
  std::memcpy(&a, id, 8);
  std::memcpy(&b, id + 8, 8);
  std::memcpy(&c, id + 16, 4);
  uint64_t h = (a ^ seed) * 0xBF58476D1CE4E5B9ULL;
  h = (h ^ (h >> 31) ^ b) * 0x94D049BB133111EBULL;
  h = (h ^ (h >> 29) ^ c) * 0xBF58476D1CE4E5B9ULL;
  return h ^ (h >> 32);
}

struct Record {
  WebTransaction fixed;
  uint64_t sequence;  // insertion number: the oldest go first when full
  uint32_t namesLength;
  uint32_t live;      // 1 while the record is in the table
};

}  // namespace

struct TransactionTable {
  uint32_t recordLimit;
  uint32_t byteLimit;
  uint32_t bytesUsed;
  uint32_t count;
  uint64_t sequence;
  uint64_t seed;
  uint32_t slotMask;
  uint64_t* slots;     // 0 empty, else the hash's low 32 bits << 32 | record index + 1
  Record* records;     // [0, used): live ones and free ones
  uint32_t used;
  uint32_t* freeIndices;  // records given back, taken again first
  uint32_t freeCount;
  char* names;         // kTransactionNamesMax bytes per record index
};

namespace {

// A slot keeps the hash's low half: its home position comes from it, so the
// index is kept in order without looking at records.
uint64_t SlotOf(uint64_t hash, uint32_t index) {
  return (hash << 32) | (uint64_t{index} + 1);
}
uint32_t SlotIndex(uint64_t slot) { return static_cast<uint32_t>(slot) - 1; }
bool SameTag(uint64_t slot, uint64_t hash) {
  return (slot >> 32) == static_cast<uint32_t>(hash);
}

char* NamesOf(TransactionTable* table, uint32_t index) {
  return table->names + size_t{index} * kTransactionNamesMax;
}

// The slot that holds the id, or the empty slot where it would go.
uint32_t FindSlot(const TransactionTable* table, const uint8_t* id, uint64_t hash, bool* found) {
  uint32_t i = static_cast<uint32_t>(hash) & table->slotMask;
  for (;;) {
    const uint64_t slot = table->slots[i];
    if (slot == 0) {
      *found = false;
      return i;
    }
    if (SameTag(slot, hash) &&
        std::memcmp(table->records[SlotIndex(slot)].fixed.id, id, kTransactionIdSize) == 0) {
      *found = true;
      return i;
    }
    i = (i + 1) & table->slotMask;
  }
}

// Empties slot i and moves later slots of the probe run back into the hole.
void EraseSlot(TransactionTable* table, uint32_t hole) {
  uint32_t i = hole;
  for (;;) {
    i = (i + 1) & table->slotMask;
    const uint64_t slot = table->slots[i];
    if (slot == 0) break;
    const uint32_t home = static_cast<uint32_t>(slot >> 32) & table->slotMask;
    // The slot may move to the hole when its home is not within (hole, i].
    const bool between = hole <= i ? (home > hole && home <= i) : (home > hole || home <= i);
    if (!between) {
      table->slots[hole] = slot;
      hole = i;
    }
  }
  table->slots[hole] = 0;
}

uint32_t RecordBytes(uint32_t namesLength) {
  return kRecordHeaderBytes + static_cast<uint32_t>(sizeof(WebTransaction)) + namesLength;
}

// Removes the record of slot i; its index is given back.
void RemoveAt(TransactionTable* table, uint32_t slot) {
  const uint32_t index = SlotIndex(table->slots[slot]);
  EraseSlot(table, slot);
  Record& record = table->records[index];
  table->bytesUsed -= RecordBytes(record.namesLength);
  record.live = 0;
  table->freeIndices[table->freeCount++] = index;
  --table->count;
}

// Drops the oldest fifth of the records (one when there are five or fewer).
void EvictOldest(TransactionTable* table) {
  const uint32_t drop = table->count > 5 ? table->count / 5 : 1;
  if (drop >= table->count) {
    TransactionTableClear(table);
    return;
  }
  std::vector<uint64_t> sequences;
  sequences.reserve(table->count);
  for (uint32_t i = 0; i < table->used; ++i) {
    if (table->records[i].live != 0) sequences.push_back(table->records[i].sequence);
  }
  std::nth_element(sequences.begin(), sequences.begin() + (drop - 1), sequences.end());
  const uint64_t newestDropped = sequences[drop - 1];
  for (uint32_t i = 0; i <= table->slotMask;) {
    const uint64_t slot = table->slots[i];
    // A removal may move a later slot into this one: look at it again.
    if (slot != 0 && table->records[SlotIndex(slot)].sequence <= newestDropped) {
      RemoveAt(table, i);
    } else {
      ++i;
    }
  }
}

bool IdBefore(const Record* a, const Record* b) {
  uint32_t ka = 0;
  uint32_t kb = 0;
  std::memcpy(&ka, a->fixed.id, sizeof ka);
  std::memcpy(&kb, b->fixed.id, sizeof kb);
  if (ka != kb) return ka < kb;
  return std::memcmp(a->fixed.id + 4, b->fixed.id + 4, kTransactionIdSize - 4) < 0;
}

uint32_t SlotCountFor(uint32_t records) {
  uint32_t slots = 16;
  while (slots < records + records / 2 + 1) slots *= 2;
  return slots;
}

}  // namespace

ResultCode TransactionTableCreate(uint32_t recordLimit, uint32_t byteLimit,
                                  TransactionTable** table) {
  if (table == nullptr || recordLimit == 0) return kErrInvalidArgument;
  *table = nullptr;
  auto* created = static_cast<TransactionTable*>(std::calloc(1, sizeof(TransactionTable)));
  if (created == nullptr) return kErrNoMemory;
  const uint32_t slotCount = SlotCountFor(recordLimit);
  created->recordLimit = recordLimit;
  created->byteLimit = byteLimit;
  created->slotMask = slotCount - 1;
  // Where the table lies in memory changes from run to run.
  created->seed = (reinterpret_cast<uintptr_t>(created) * 0x9E3779B97F4A7C15ULL) ^ 0x94D049BB133111EBULL;
  created->slots = static_cast<uint64_t*>(std::calloc(slotCount, sizeof(uint64_t)));
  created->records = static_cast<Record*>(std::malloc(size_t{recordLimit} * sizeof(Record)));
  created->freeIndices = static_cast<uint32_t*>(std::malloc(size_t{recordLimit} * sizeof(uint32_t)));
  created->names = static_cast<char*>(std::malloc(size_t{recordLimit} * kTransactionNamesMax));
  if (created->slots == nullptr || created->records == nullptr || created->names == nullptr ||
      created->freeIndices == nullptr) {
    TransactionTableDestroy(created);
    return kErrNoMemory;
  }
  *table = created;
  return kOk;
}

void TransactionTableDestroy(TransactionTable* table) {
  if (table == nullptr) return;
  std::free(table->slots);
  std::free(table->records);
  std::free(table->freeIndices);
  std::free(table->names);
  std::free(table);
}

void TransactionTableUpsert(TransactionTable* table, const WebTransaction& fixed,
                            const char* names, uint32_t namesLength, uint64_t volume,
                            uint32_t* state) {
  *state = 0;
  const uint64_t hash = HashId(fixed.id, table->seed);
  bool found = false;
  uint32_t slot = FindSlot(table, fixed.id, hash, &found);
  if (found) {
    Record& record = table->records[SlotIndex(table->slots[slot])];
    record.fixed.volume = volume;
    *state = record.fixed.state;
    return;
  }
  if (namesLength > kTransactionNamesMax) namesLength = kTransactionNamesMax;
  const uint32_t bytes = RecordBytes(namesLength);
  if (bytes > table->byteLimit) return;
  if (table->count >= table->recordLimit || table->bytesUsed + bytes > table->byteLimit) {
    EvictOldest(table);
    slot = FindSlot(table, fixed.id, hash, &found);
  }
  const uint32_t index =
      table->freeCount != 0 ? table->freeIndices[--table->freeCount] : table->used++;
  ++table->count;
  Record& record = table->records[index];
  record.fixed = fixed;
  record.fixed.volume = volume;
  record.sequence = table->sequence++;
  record.namesLength = namesLength;
  record.live = 1;
  std::memcpy(NamesOf(table, index), names, namesLength);
  table->bytesUsed += bytes;
  table->slots[slot] = SlotOf(hash, index);
  *state = record.fixed.state;
}

void TransactionTablePrefetch(const TransactionTable* table, const uint8_t* id) {
  const uint64_t hash = HashId(id, table->seed);
  __builtin_prefetch(&table->slots[static_cast<uint32_t>(hash) & table->slotMask]);
}

bool TransactionTableRemove(TransactionTable* table, const uint8_t* id, uint64_t* volume) {
  bool found = false;
  const uint32_t slot = FindSlot(table, id, HashId(id, table->seed), &found);
  if (!found) return false;
  if (volume != nullptr) *volume = table->records[SlotIndex(table->slots[slot])].fixed.volume;
  RemoveAt(table, slot);
  return true;
}

void TransactionTableClear(TransactionTable* table) {
  std::memset(table->slots, 0, (size_t{table->slotMask} + 1) * sizeof(uint64_t));
  table->count = 0;
  table->bytesUsed = 0;
  table->used = 0;
  table->freeCount = 0;
}

uint32_t TransactionTableCount(const TransactionTable* table) { return table->count; }

void TransactionTableForEach(TransactionTable* table, TransactionVisitFn visit, void* context) {
  std::vector<const Record*> order;
  order.reserve(table->count);
  for (uint32_t i = 0; i < table->used; ++i) {
    if (table->records[i].live != 0) order.push_back(&table->records[i]);
  }
  std::sort(order.begin(), order.end(), IdBefore);
  for (const Record* record : order) {
    const uint32_t index = static_cast<uint32_t>(record - table->records);
    visit(context, &record->fixed, NamesOf(table, index));
  }
}
