#include <cstddef>
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

// "SIP" and "VIP": per client (field 8) the spam and virus lines.
struct BipCounts {
  RecordTable clients{};
  KeyedQueue<ClientLine> queue{&clients, AddClientLine, {}, 0, 0};

  static constexpr uint32_t kFields = 9;

  void operator()(const LoopLine& line) {
    const TextView key = line.Trimmed(8, 32);
    if (key.length == 0) return;
    KeyedProbe probe;
    if (!KeyedProbeInit(&probe, key.text, key.length)) return;
    const ClientLine add{EqualsNoCase(line.Trimmed(5, 16), "SPAM"), EqualsNoCase(line.Trimmed(4, 16), "VIRUS"),
                         static_cast<int64_t>(line.ticks)};
    KeyedQueueAdd(&queue, probe, add);
  }

  void Write(FILE* out, const OutputSettings& /*settings*/) {
    KeyedQueueFlush(&queue);
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
