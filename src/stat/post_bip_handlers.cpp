#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "common/key_words.h"
#include "common/metadata_output.h"
#include "common/record_table.h"
#include "common/text_match.h"
#include "stat/handler_support.h"
#include "stat/line_loop.h"
#include "stat/stat_handlers.h"

namespace {

// Marked and unmarked lines per client for both lists, with the latest
// line's time: one record per client, so that a line costs one lookup.
struct ClientRecord {
  uint32_t hash;
  uint32_t reserved;
  uint64_t spam;
  uint64_t notSpam;
  uint64_t virus;
  uint64_t notVirus;
  int64_t last;
  char key[1];
};
static_assert(offsetof(ClientRecord, key) == 48, "ClientRecord header must be 48 bytes");
constexpr uint32_t kClientPayload = 40;

struct ClientLine {
  bool spam;
  bool virus;
  int64_t last;
};

void AddClientLine(RecordTable* table, const KeyedProbe& probe, const ClientLine& line) {
  void* slot = nullptr;
  bool inserted = false;
  // A new record comes with its counters zeroed.
  if (KeyedTableFindOrInsertProbe(table, probe, kClientPayload, &slot, &inserted) != kOk) return;
  ClientRecord* record = static_cast<ClientRecord*>(slot);
  record->spam += line.spam ? 1 : 0;
  record->notSpam += line.spam ? 0 : 1;
  record->virus += line.virus ? 1 : 0;
  record->notVirus += line.virus ? 0 : 1;
  record->last = line.last;
}

// A client as the lists show it: its key and the counts of both lists.
struct ClientEntry {
  const char* key;
  uint64_t spam;
  uint64_t notSpam;
  uint64_t virus;
  uint64_t notVirus;
  int64_t last;
};

// One list's line of a client: its marked and unmarked counts.
struct ListLine {
  uint64_t marked;
  uint64_t unmarked;
  const ClientEntry* client;
};

// Every client with a marked line, more marked lines first, then fewer
// unmarked, then key: "label;client;marked;unmarked;HH:MM:SS".
template <bool Virus>
void WriteMarkedList(const std::vector<ClientEntry>& clients, FILE* out, const char* label) {
  std::vector<ListLine> lines;
  for (const ClientEntry& client : clients) {
    const ListLine line = Virus ? ListLine{client.virus, client.notVirus, &client}
                                : ListLine{client.spam, client.notSpam, &client};
    if (line.marked != 0) lines.push_back(line);
  }
  std::sort(lines.begin(), lines.end(), [](const ListLine& a, const ListLine& b) {
    if (a.marked != b.marked) return a.marked > b.marked;
    if (a.unmarked != b.unmarked) return a.unmarked < b.unmarked;
    return CompareKeyNoCase(a.client->key, b.client->key) < 0;
  });
  for (const ListLine& line : lines) {
    WriteTopListLine(out, label, line.client->key, line.marked, line.unmarked, line.client->last, 0, true, true);
  }
}

// A client key of at most sixteen bytes without ASCII letters (an IPv4
// address, mostly), as two words of its bytes padded with zeros (a key has no
// NUL). Such a text is the only spelling of its key, so counting these
// clients by their exact text counts them as the keyed table would.
struct ShortKey {
  uint64_t low;
  uint64_t high;
  bool operator==(const ShortKey&) const = default;
};

bool ShortKeyOf(TextView key, ShortKey* out) {
  const size_t length = key.length;
  if (length == 0 || length > 16) return false;
  const uint64_t low = length >= 8 ? LoadWord(key.text) : TailWord(key.text, length, length);
  const uint64_t high = length > 8 ? TailWord(key.text, length, length - 8) : 0;
  if (HasAsciiLetter(low) || HasAsciiLetter(high)) return false;
  *out = ShortKey{low, high};
  return true;
}

// The key's text into text (17 bytes); its length.
size_t ShortKeyText(const ShortKey& key, char* text) {
  size_t length = 0;
  for (const uint64_t word : {key.low, key.high}) {
    for (int shift = 0; shift < 64; shift += 8) {
      const char c = static_cast<char>(word >> shift);
      if (c == '\0') break;
      text[length++] = c;
    }
    if (length < 8) break;
  }
  text[length] = '\0';
  return length;
}

// Clients with a short key, counted in an open addressed table whose slots
// hold the counts (a free slot has no line): a line costs one slot load,
// which a queue of lines starts early. The unmarked counts are the lines
// less the marked ones, and the last line's time is kept in whole seconds,
// all that the lists show.
struct ShortKeyCounts {
  ShortKey key;
  uint32_t lines;
  uint32_t spam;
  uint32_t virus;
  uint32_t lastSecond;
};
constexpr int64_t kTicksPerSecond = 10000000;

struct ShortKeyTable {
  static constexpr size_t kQueueLines = 8;
  ShortKeyCounts* slots = nullptr;
  uint32_t capacity = 0;  // a power of two
  uint32_t used = 0;
  bool failed = false;    // the table could not grow: the generic table takes over
  struct Pending {
    ShortKey key;
    ClientLine line;
  };
  Pending queue[kQueueLines];
  size_t queueHead = 0;
  size_t queueSize = 0;

  static uint32_t Home(const ShortKey& key, uint32_t capacity) {
    const uint64_t mixed = (key.low ^ key.high * 0xC2B2AE3D27D4EB4Full) * 0x9E3779B97F4A7C15ull;
    return static_cast<uint32_t>(mixed >> 32) & (capacity - 1);
  }
  static bool Free(const ShortKeyCounts& slot) { return slot.lines == 0; }

  ShortKeyCounts* SlotOf(const ShortKey& key) {
    for (uint32_t i = Home(key, capacity);; i = (i + 1) & (capacity - 1)) {
      if (Free(slots[i]) || slots[i].key == key) return &slots[i];
    }
  }

  // Room for one more key at a load of at most one half.
  bool Reserve() {
    if (capacity != 0 && (used + 1) * 2 <= capacity) return true;
    const uint32_t grown = capacity == 0 ? 4096 : capacity * 2;
    if (grown == 0) return false;
    auto* fresh = static_cast<ShortKeyCounts*>(std::calloc(grown, sizeof(ShortKeyCounts)));
    if (fresh == nullptr) return false;
    ShortKeyCounts* old = slots;
    const uint32_t oldCapacity = capacity;
    slots = fresh;
    capacity = grown;
    for (uint32_t i = 0; i < oldCapacity; ++i) {
      if (!Free(old[i])) *SlotOf(old[i].key) = old[i];
    }
    std::free(old);
    return true;
  }

  // False when the key could not be counted here (no memory).
  bool Apply(const ShortKey& key, const ClientLine& line) {
    if (!Reserve()) return false;
    ShortKeyCounts* slot = SlotOf(key);
    if (Free(*slot)) {
      slot->key = key;
      ++used;
    }
    ++slot->lines;
    slot->spam += line.spam ? 1 : 0;
    slot->virus += line.virus ? 1 : 0;
    slot->lastSecond = static_cast<uint32_t>(line.last / kTicksPerSecond);
    return true;
  }

  ~ShortKeyTable() { std::free(slots); }
};

// "SIP" and "VIP": per client (field 8) the spam and virus lines.
struct BipCounts {
  RecordTable clients{};
  KeyedQueue<ClientLine> queue{&clients, AddClientLine, {}, 0, 0};
  ShortKeyTable shortKeys;

  static constexpr uint32_t kFields = 9;

  void operator()(const LoopLine& line) { Count(line, RblMarksOf(line)); }

  void Count(const LoopLine& line, RblMarks marks) {
    const TextView key = line.Trimmed(8, 32);
    if (key.length == 0) return;
    const ClientLine add{marks.spam, marks.virus, static_cast<int64_t>(line.ticks)};
    ShortKey shortKey;
    if (!shortKeys.failed && ShortKeyOf(key, &shortKey)) {
      QueueShortKey(shortKey, add);
      return;
    }
    KeyedProbe probe;
    if (!KeyedProbeInit(&probe, key.text, key.length)) return;
    KeyedQueueAdd(&queue, probe, add);
  }

  void QueueShortKey(const ShortKey& key, const ClientLine& add) {
    ShortKeyTable& table = shortKeys;
    if (table.queueSize == ShortKeyTable::kQueueLines) {
      ApplyShortKey(table.queue[table.queueHead]);
      table.queueHead = (table.queueHead + 1) % ShortKeyTable::kQueueLines;
      --table.queueSize;
    }
    table.queue[(table.queueHead + table.queueSize++) % ShortKeyTable::kQueueLines] = {key, add};
    if (table.capacity != 0) __builtin_prefetch(&table.slots[ShortKeyTable::Home(key, table.capacity)]);
  }

  void ApplyShortKey(const ShortKeyTable::Pending& pending) {
    if (shortKeys.failed || shortKeys.Apply(pending.key, pending.line)) {
      if (shortKeys.failed) AddShortKeyLine(pending.key, pending.line);
      return;
    }
    // Out of memory: this line and the queued ones go to the keyed table, in
    // order, and so do the short keys of the lines to come.
    shortKeys.failed = true;
    AddShortKeyLine(pending.key, pending.line);
    DrainShortKeys();
  }

  void DrainShortKeys() {
    ShortKeyTable& table = shortKeys;
    while (table.queueSize != 0) {
      const ShortKeyTable::Pending pending = table.queue[table.queueHead];
      table.queueHead = (table.queueHead + 1) % ShortKeyTable::kQueueLines;
      --table.queueSize;
      ApplyShortKey(pending);
    }
  }

  // A short-key line counted in the keyed table, under its text.
  void AddShortKeyLine(const ShortKey& key, const ClientLine& line) {
    char text[17];
    KeyedProbe probe;
    if (KeyedProbeInit(&probe, text, ShortKeyText(key, text))) AddClientLine(&clients, probe, line);
  }

  // Moves the short-key table's clients into the keyed table, which has
  // lines of the same keys once the short-key table ran out of memory.
  void MoveShortKeys() {
    ShortKeyTable& table = shortKeys;
    for (uint32_t i = 0; i < table.capacity; ++i) {
      const ShortKeyCounts& slot = table.slots[i];
      if (ShortKeyTable::Free(slot)) continue;
      char text[17];
      void* placed = nullptr;
      bool inserted = false;
      if (KeyedTableFindOrInsertView(&clients, text, ShortKeyText(slot.key, text), kClientPayload, &placed,
                                     &inserted) != kOk) {
        continue;
      }
      auto* record = static_cast<ClientRecord*>(placed);
      record->spam += slot.spam;
      record->notSpam += slot.lines - slot.spam;
      record->virus += slot.virus;
      record->notVirus += slot.lines - slot.virus;
      // A record already there has the lines after the table ran out of memory.
      if (inserted) record->last = static_cast<int64_t>(slot.lastSecond) * kTicksPerSecond;
    }
    std::free(table.slots);
    table.slots = nullptr;
    table.capacity = 0;
    table.used = 0;
  }

  // Every client of both tables (no key is in both, see MoveShortKeys); the
  // short keys' texts go to `texts`.
  void GatherClients(std::vector<ClientEntry>* entries, std::vector<char>* texts) {
    DrainShortKeys();
    KeyedQueueFlush(&queue);
    if (shortKeys.failed) MoveShortKeys();
    const uint32_t records = RecordTableCount(&clients);
    entries->reserve(records + shortKeys.used);
    for (uint32_t i = 0; i < records; ++i) {
      const auto* record = static_cast<const ClientRecord*>(RecordTableAt(&clients, i));
      entries->push_back({record->key, record->spam, record->notSpam, record->virus, record->notVirus, record->last});
    }
    texts->resize(static_cast<size_t>(shortKeys.used) * 17);
    char* text = texts->data();
    for (uint32_t i = 0; i < shortKeys.capacity; ++i) {
      const ShortKeyCounts& slot = shortKeys.slots[i];
      if (ShortKeyTable::Free(slot)) continue;
      ShortKeyText(slot.key, text);
      entries->push_back({text, slot.spam, slot.lines - slot.spam, slot.virus, slot.lines - slot.virus,
                          static_cast<int64_t>(slot.lastSecond) * kTicksPerSecond});
      text += 17;
    }
  }

  void Write(FILE* out, const OutputSettings& /*settings*/) {
    std::vector<ClientEntry> entries;
    std::vector<char> texts;
    GatherClients(&entries, &texts);
    WriteMarkedList<false>(entries, out, "SIP");
    WriteMarkedList<true>(entries, out, "VIP");
  }

  ~BipCounts() { RecordTableFree(&clients); }
};

}  // namespace

ResultCode BipHandler(FILE* primary, FILE* /*secondary*/, FILE* output, TimeValue day,
                      uint32_t* linesProcessed, uint64_t* lastTime, const OutputSettings* settings,
                      ProgressFile* progress, JobEvent* event) {
  if (!HandlerArgumentsValid(primary, output, linesProcessed, lastTime, settings)) {
    return kErrInvalidArgument;
  }
  BipCounts counts;
  const ResultCode result = 
      RunLineLoop(primary, LogMayGrow(day), linesProcessed, lastTime, progress, event, counts);
  if (result == kOk) counts.Write(output, *settings);
  return result;
}

void CountBipLine(void* counts, const LoopLine& line, RblMarks marks) {
  static_cast<BipCounts*>(counts)->Count(line, marks);
}

const HandlerKind kBipKind = WithJoint(KindOf<BipCounts>::Make(), &kRblJoint);
