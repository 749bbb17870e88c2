#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <vector>

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

// One list's view of a client record: its marked and unmarked counts.
struct ListCounts {
  uint64_t marked;
  uint64_t unmarked;
};
template <bool Virus>
ListCounts CountsOf(const void* record) {
  const auto* r = static_cast<const ClientRecord*>(record);
  return Virus ? ListCounts{r->virus, r->notVirus} : ListCounts{r->spam, r->notSpam};
}

// More marked lines first, then fewer unmarked, then key (as the marked top
// lists order).
template <bool Virus>
int CompareMarked(void* /*context*/, const void* left, const void* right) {
  const ListCounts a = CountsOf<Virus>(left);
  const ListCounts b = CountsOf<Virus>(right);
  if (a.marked != b.marked) return a.marked > b.marked ? -1 : 1;
  if (a.unmarked != b.unmarked) return a.unmarked < b.unmarked ? -1 : 1;
  return CompareKeyNoCase(static_cast<const ClientRecord*>(left)->key,
                          static_cast<const ClientRecord*>(right)->key);
}

template <bool Virus>
bool HasMarked(void* /*context*/, const void* record) {
  return CountsOf<Virus>(record).marked != 0;
}

// Every client with a marked line: "label;client;marked;unmarked;HH:MM:SS".
template <bool Virus>
void WriteMarkedList(RecordTable* table, FILE* out, const char* label) {
  std::vector<void*> lines;
  if (RecordTableSelect(table, CompareMarked<Virus>, nullptr, HasMarked<Virus>, nullptr, kAllLines,
                        &lines) != kOk) {
    return;
  }
  for (const void* item : lines) {
    const auto* record = static_cast<const ClientRecord*>(item);
    const ListCounts counts = CountsOf<Virus>(record);
    WriteTopListLine(out, label, record->key, counts.marked, counts.unmarked, record->last, 0, true, true);
  }
}

// Whether `key` is an IPv4 address in dotted decimals without leading zeros,
// and its value: such a text is the only one of its value, so counting these
// clients by value counts them as their texts would be.
bool CanonicalIPv4(TextView key, uint32_t* address) {
  if (key.length < 7 || key.length > 15) return false;
  uint32_t value = 0;
  uint32_t octet = 0;
  uint32_t digits = 0;
  uint32_t dots = 0;
  for (size_t i = 0; i < key.length; ++i) {
    const uint32_t digit = static_cast<uint32_t>(static_cast<unsigned char>(key.text[i])) - '0';
    if (digit <= 9) {
      if (digits == 1 && octet == 0) return false;  // a leading zero
      octet = octet * 10 + digit;
      ++digits;
    } else if (key.text[i] == '.' && digits != 0 && octet <= 255 && dots < 3) {
      value = value << 8 | octet;
      octet = 0;
      digits = 0;
      ++dots;
    } else {
      return false;
    }
  }
  if (dots != 3 || digits == 0 || octet > 255) return false;
  *address = value << 8 | octet;
  return true;
}

// The dotted text of an address into text (16 bytes); its length.
size_t AddressText(uint32_t address, char* text) {
  const int length = std::snprintf(text, 16, "%u.%u.%u.%u", address >> 24, address >> 16 & 255,
                                   address >> 8 & 255, address & 255);
  return length > 0 ? static_cast<size_t>(length) : 0;
}

// Clients with an IPv4 address for a key, counted by value in an open
// addressed table whose slots hold the counts (a free slot has no line): a
// line costs one slot load, which a queue of lines starts early. A slot has
// twenty bytes: the unmarked counts are the lines less the marked ones, and
// the last line's time is kept in whole seconds, all that the lists show.
struct AddressCounts {
  uint32_t address;
  uint32_t lines;
  uint32_t spam;
  uint32_t virus;
  uint32_t lastSecond;
};
constexpr int64_t kTicksPerSecond = 10000000;

struct AddressTable {
  static constexpr size_t kQueueLines = 8;
  AddressCounts* slots = nullptr;
  uint32_t capacity = 0;  // a power of two
  uint32_t used = 0;
  bool failed = false;    // the table could not grow: the generic table takes over
  struct Pending {
    uint32_t address;
    ClientLine line;
  };
  Pending queue[kQueueLines];
  size_t queueHead = 0;
  size_t queueSize = 0;

  static uint32_t Home(uint32_t address, uint32_t capacity) {
    return static_cast<uint32_t>((address * 0x9E3779B97F4A7C15ull) >> 32) & (capacity - 1);
  }
  static bool Free(const AddressCounts& slot) { return slot.lines == 0; }

  AddressCounts* SlotOf(uint32_t address) {
    for (uint32_t i = Home(address, capacity);; i = (i + 1) & (capacity - 1)) {
      if (Free(slots[i]) || slots[i].address == address) return &slots[i];
    }
  }

  // Room for one more address at a load of at most one half.
  bool Reserve() {
    if (capacity != 0 && (used + 1) * 2 <= capacity) return true;
    const uint32_t grown = capacity == 0 ? 4096 : capacity * 2;
    if (grown == 0) return false;
    auto* fresh = static_cast<AddressCounts*>(std::calloc(grown, sizeof(AddressCounts)));
    if (fresh == nullptr) return false;
    AddressCounts* old = slots;
    const uint32_t oldCapacity = capacity;
    slots = fresh;
    capacity = grown;
    for (uint32_t i = 0; i < oldCapacity; ++i) {
      if (!Free(old[i])) *SlotOf(old[i].address) = old[i];
    }
    std::free(old);
    return true;
  }

  // False when the address could not be counted here (no memory).
  bool Apply(uint32_t address, const ClientLine& line) {
    if (!Reserve()) return false;
    AddressCounts* slot = SlotOf(address);
    if (Free(*slot)) {
      slot->address = address;
      ++used;
    }
    ++slot->lines;
    slot->spam += line.spam ? 1 : 0;
    slot->virus += line.virus ? 1 : 0;
    slot->lastSecond = static_cast<uint32_t>(line.last / kTicksPerSecond);
    return true;
  }

  ~AddressTable() { std::free(slots); }
};

// "SIP" and "VIP": per client (field 8) the spam and virus lines.
struct BipCounts {
  RecordTable clients{};
  KeyedQueue<ClientLine> queue{&clients, AddClientLine, {}, 0, 0};
  AddressTable addresses;

  static constexpr uint32_t kFields = 9;

  void operator()(const LoopLine& line) {
    const TextView key = line.Trimmed(8, 32);
    if (key.length == 0) return;
    const ClientLine add{EqualsNoCase(line.Trimmed(5, 16), "SPAM"), EqualsNoCase(line.Trimmed(4, 16), "VIRUS"),
                         static_cast<int64_t>(line.ticks)};
    uint32_t address = 0;
    if (!addresses.failed && CanonicalIPv4(key, &address)) {
      QueueAddress(address, add);
      return;
    }
    KeyedProbe probe;
    if (!KeyedProbeInit(&probe, key.text, key.length)) return;
    KeyedQueueAdd(&queue, probe, add);
  }

  void QueueAddress(uint32_t address, const ClientLine& add) {
    AddressTable& table = addresses;
    if (table.queueSize == AddressTable::kQueueLines) {
      ApplyAddress(table.queue[table.queueHead]);
      table.queueHead = (table.queueHead + 1) % AddressTable::kQueueLines;
      --table.queueSize;
    }
    table.queue[(table.queueHead + table.queueSize++) % AddressTable::kQueueLines] = {address, add};
    if (table.capacity != 0) __builtin_prefetch(&table.slots[AddressTable::Home(address, table.capacity)]);
  }

  void ApplyAddress(const AddressTable::Pending& pending) {
    if (addresses.failed || addresses.Apply(pending.address, pending.line)) {
      if (addresses.failed) AddressKey(pending.address, pending.line);
      return;
    }
    // Out of memory: this line and the queued ones go to the keyed table, in
    // order, and so do the addresses of the lines to come.
    addresses.failed = true;
    AddressKey(pending.address, pending.line);
    DrainAddresses();
  }

  void DrainAddresses() {
    AddressTable& table = addresses;
    while (table.queueSize != 0) {
      const AddressTable::Pending pending = table.queue[table.queueHead];
      table.queueHead = (table.queueHead + 1) % AddressTable::kQueueLines;
      --table.queueSize;
      ApplyAddress(pending);
    }
  }

  // An address line counted in the keyed table, under its text.
  void AddressKey(uint32_t address, const ClientLine& line) {
    char text[16];
    KeyedProbe probe;
    if (KeyedProbeInit(&probe, text, AddressText(address, text))) AddClientLine(&clients, probe, line);
  }

  // Moves the address table's clients into the keyed table.
  void Settle() {
    DrainAddresses();
    KeyedQueueFlush(&queue);
    const AddressTable& table = addresses;
    for (uint32_t i = 0; i < table.capacity; ++i) {
      const AddressCounts& slot = table.slots[i];
      if (AddressTable::Free(slot)) continue;
      char text[16];
      void* placed = nullptr;
      bool inserted = false;
      if (KeyedTableFindOrInsertView(&clients, text, AddressText(slot.address, text), kClientPayload, &placed,
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
  }

  void Write(FILE* out, const OutputSettings& /*settings*/) {
    Settle();
    WriteMarkedList<false>(&clients, out, "SIP");
    WriteMarkedList<true>(&clients, out, "VIP");
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

const HandlerKind kBipKind = KindOf<BipCounts>::Make();
