#include <cinttypes>
#include <cstddef>
#include <cstring>
#include <new>
#include <vector>

#include "common/metadata_output.h"
#include "common/record_table.h"
#include "common/text_match.h"
#include "stat/handler_support.h"
#include "stat/line_loop.h"
#include "stat/stat_handlers.h"

namespace {

// Per-key counters of the RBL traffic address lists; the same hash/key layout
// as CounterRecord, so the keyed table operations order and find it alike.
struct AddressRecord {
  uint32_t hash;
  uint32_t reserved;
  uint32_t messages;
  uint32_t clean;
  uint32_t virus;
  uint32_t spam;
  uint64_t bytes;
  char key[1];
};
static_assert(offsetof(AddressRecord, key) == 32, "AddressRecord header must be 32 bytes");
constexpr uint32_t kAddressPayload = 24;

struct Tally {
  uint32_t messages;
  uint32_t clean;
  uint32_t virus;
  uint32_t spam;
  uint64_t bytes;
};

void AddAddress(RecordTable* table, const KeyedProbe& key, const Tally& add) {
  void* slot = nullptr;
  bool inserted = false;
  // A new record comes with its counters zeroed.
  if (KeyedTableFindOrInsertProbe(table, key, kAddressPayload, &slot, &inserted) != kOk) return;
  AddressRecord* record = static_cast<AddressRecord*>(slot);
  record->messages += add.messages;
  record->clean += add.clean;
  record->virus += add.virus;
  record->spam += add.spam;
  record->bytes += add.bytes;
}

int KeyOrder(const AddressRecord* a, const AddressRecord* b) { return CompareKeyNoCase(a->key, b->key); }

// Larger message count first, then more bytes, then key.
int CompareByMessages(void* /*context*/, const void* left, const void* right) {
  const auto* a = static_cast<const AddressRecord*>(left);
  const auto* b = static_cast<const AddressRecord*>(right);
  if (a->messages != b->messages) return a->messages > b->messages ? -1 : 1;
  if (a->bytes != b->bytes) return a->bytes > b->bytes ? -1 : 1;
  return KeyOrder(a, b);
}

// More bytes first, then larger message count, then key.
int CompareByBytes(void* /*context*/, const void* left, const void* right) {
  const auto* a = static_cast<const AddressRecord*>(left);
  const auto* b = static_cast<const AddressRecord*>(right);
  if (a->bytes != b->bytes) return a->bytes > b->bytes ? -1 : 1;
  if (a->messages != b->messages) return a->messages > b->messages ? -1 : 1;
  return KeyOrder(a, b);
}

struct AddressListWriter {
  FILE* out;
  const char* label;
  bool bytesFirst;
  uint32_t unit;
  uint32_t remaining;
};

int WriteAddressLine(void* context, void* item) {
  auto* writer = static_cast<AddressListWriter*>(context);
  const auto* record = static_cast<const AddressRecord*>(item);
  char bytes[64];
  FormatSize(record->bytes, writer->unit, bytes, sizeof bytes);
  if (writer->bytesFirst) {
    fprintf(writer->out, "%s;%s;%s;%" PRIu32 "\n", writer->label, record->key, bytes, record->messages);
  } else {
    fprintf(writer->out, "%s;%s;%" PRIu32 ";%s;%" PRIu32 ";%" PRIu32 ";%" PRIu32 "\n", writer->label,
            record->key, record->messages, bytes, record->clean, record->virus, record->spam);
  }
  if (writer->remaining > 0) --writer->remaining;
  return writer->remaining == 0 ? 1 : 0;
}

void WriteAddressList(RecordTable* table, bool bytesFirst, FILE* out, const char* label,
                      const OutputSettings& settings) {
  // Both orders end with the key, so only the lines written need sorting.
  std::vector<void*> top;
  uint32_t limit = settings.topCount == 0 ? 1 : settings.topCount;
  if (RecordTableSelect(table, bytesFirst ? CompareByBytes : CompareByMessages, nullptr, nullptr,
                        nullptr, limit, &top) != kOk) {
    return;
  }
  AddressListWriter writer{out, label, bytesFirst, settings.unitDivisor, settings.topCount};
  for (void* record : top) {
    if (WriteAddressLine(&writer, record) != 0) break;
  }
}

struct RblTraffic {
  Tally hours[kHours] = {};
  RecordTable senders{};     // first key: "TS", "TD"
  RecordTable recipients{};  // second key: "TR", "TE"
  RecordTable virusKeys{};   // "VIR"
  RecordTable virusSources{};  // "TSD"
  RecordTable virusNames{};  // "TVN"
  static constexpr uint32_t kFields = 11;

  void operator()(const LoopLine& line) { Count(line, RblMarksOf(line)); }

  void Count(const LoopLine& line, RblMarks marks) {
    const TextView firstKey = line.Trimmed(2, 512);
    const TextView secondKey = line.Trimmed(3, kLinePieceMax + 1);
    const bool virus = marks.virus;
    const bool spam = marks.spam;
    Tally add{1, !virus && !spam ? 1u : 0u, virus ? 1u : 0u, spam ? 1u : 0u,
              ReadUnsignedDecimal(line.Trimmed(6, 32))};
    if (virus) {
      // VIR key: field 8, ';', field 10 (with its blanks).
      const TextView source = line.Trimmed(8, 32);
      const TextView name = CutField(line.Field(10), kKeyCapacity);
      CounterTableAddView(&virusSources, source.text, source.length, 1, 0, 0);
      char virusKey[32 + kKeyCapacity];
      std::memcpy(virusKey, source.text, source.length);
      virusKey[source.length] = ';';
      std::memcpy(virusKey + source.length + 1, name.text, name.length);
      CounterTableAddView(&virusKeys, virusKey, source.length + 1 + name.length, 1, 0, 0);
      CounterTableAddView(&virusNames, name.text, name.length, 1, 0, 0);
    }
    Tally& hour = hours[line.hour];
    hour.messages += add.messages;
    hour.clean += add.clean;
    hour.virus += add.virus;
    hour.spam += add.spam;
    hour.bytes += add.bytes;
    QueueAddresses(firstKey, secondKey, add);
  }

  // The address updates wait in queues, so that their lookups' memory loads
  // overlap.
  KeyedQueue<Tally> senderQueue{&senders, AddAddress, {}, 0, 0};
  KeyedQueue<Tally> recipientQueue{&recipients, AddAddress, {}, 0, 0};

  void QueueAddresses(TextView first, TextView second, const Tally& add) {
    KeyedProbe firstProbe{"", 0, 0};
    KeyedProbe secondProbe{"", 0, 0};
    const bool hasSecond = second.length != 0;
    if (!KeyedProbeInit(&firstProbe, first.text, first.length) ||
        (hasSecond && !KeyedProbeInit(&secondProbe, second.text, second.length))) {
      return;
    }
    KeyedQueueAdd(&senderQueue, firstProbe, add);
    if (hasSecond) KeyedQueueAdd(&recipientQueue, secondProbe, add);
  }

  void Write(FILE* out, const OutputSettings& settings) {
    KeyedQueueFlush(&senderQueue);
    KeyedQueueFlush(&recipientQueue);
    Tally day{};
    for (const Tally& hour : hours) {
      day.messages += hour.messages;
      day.clean += hour.clean;
      day.virus += hour.virus;
      day.spam += hour.spam;
      day.bytes += hour.bytes;
    }
    char bytes[64];
    fprintf(out, "S;%" PRIu32 ";%" PRIu32 ";%" PRIu32 ";%" PRIu32 ";%s\n", day.messages, day.clean,
            day.virus, day.spam, FormatSize(day.bytes, settings.unitDivisor, bytes, sizeof bytes));
    for (int h = 0; h < kHours; ++h) {
      const Tally& t = hours[h];
      fprintf(out, "H;%02d;%" PRIu32 ";%" PRIu32 ";%" PRIu32 ";%" PRIu32 ";%s\n", h, t.messages, t.clean,
              t.virus, t.spam, FormatSize(t.bytes, settings.unitDivisor, bytes, sizeof bytes));
    }
    WriteAddressList(&senders, false, out, "TS", settings);
    WriteAddressList(&recipients, false, out, "TR", settings);
    WriteAddressList(&senders, true, out, "TD", settings);
    WriteAddressList(&recipients, true, out, "TE", settings);
    WriteTopList(&virusKeys, CompareCountersThenKey, out, "VIR", kAllLines, 0, 1, false, false);
    WriteTopList(&virusSources, CompareCountersThenKey, out, "TSD", kAllLines, 0, 1, false, false);
    WriteTopList(&virusNames, CompareCountersThenKey, out, "TVN", kAllLines, 0, 1, false, false);
  }

  ~RblTraffic() {
    RecordTableFree(&senders);
    RecordTableFree(&recipients);
    RecordTableFree(&virusKeys);
    RecordTableFree(&virusSources);
    RecordTableFree(&virusNames);
  }
};

// Verdict columns of the chart: all, 0, 1000, -1000, other values.
struct VerdictCounts {
  uint32_t column[5];
};

struct RblChart {
  VerdictCounts hours[kHours] = {};
  RecordTable spamReasons{};  // "BMT"
  RecordTable virusNames{};   // "TVN"

  static constexpr uint32_t kFields = 12;

  void operator()(const LoopLine& line) { Count(line, RblMarksOf(line)); }

  void Count(const LoopLine& line, RblMarks marks) {
    const bool virus = marks.virus;
    const bool spam = marks.spam;
    if (spam) {
      const TextView reason = line.Trimmed(9, kKeyCapacity);
      CounterTableAddView(&spamReasons, reason.text, reason.length, 1, 0, 0);
    }
    if (virus) {
      const TextView name = CutField(line.Field(10), kKeyCapacity);
      CounterTableAddView(&virusNames, name.text, name.length, 1, 0, 0);
    }
    const int32_t verdict = ReadSignedDecimal(line.Trimmed(11, 32));
    VerdictCounts& hour = hours[line.hour];
    ++hour.column[0];
    if (verdict == 0) {
      ++hour.column[1];
    } else if (verdict == 1000) {
      ++hour.column[2];
    } else if (verdict == -1000) {
      ++hour.column[3];
    } else {
      ++hour.column[4];
    }
  }

  void Write(FILE* out, const OutputSettings& /*settings*/) {
    VerdictCounts day{};
    for (const VerdictCounts& hour : hours) {
      for (int i = 0; i < 5; ++i) day.column[i] += hour.column[i];
    }
    fprintf(out, "SRC;%" PRIu32 ";%" PRIu32 ";%" PRIu32 ";%" PRIu32 ";%" PRIu32 "\n", day.column[0],
            day.column[1], day.column[2], day.column[3], day.column[4]);
    for (int h = 0; h < kHours; ++h) {
      const VerdictCounts& c = hours[h];
      fprintf(out, "HRC;%02d;%" PRIu32 ";%" PRIu32 ";%" PRIu32 ";%" PRIu32 ";%" PRIu32 "\n", h,
              c.column[0], c.column[1], c.column[2], c.column[3], c.column[4]);
    }
    WriteTopList(&spamReasons, CompareCountersThenKey, out, "BMT", kAllLines, 0, 1, false, false);
    WriteTopList(&virusNames, CompareCountersThenKey, out, "TVN", kAllLines, 0, 1, false, false);
  }

  ~RblChart() {
    RecordTableFree(&spamReasons);
    RecordTableFree(&virusNames);
  }
};

// The handlers of one RBL log that start from one resume point, counted in
// one visit per line: the line's marks are read once for all of them.
struct RblJoint {
  static constexpr uint32_t kFields = 12;
  RblTraffic* traffic = nullptr;  // each null when its type is not joined
  RblChart* chart = nullptr;
  void* bip = nullptr;

  void operator()(const LoopLine& line) {
    const RblMarks marks = RblMarksOf(line);
    if (traffic != nullptr) traffic->Count(line, marks);
    if (chart != nullptr) chart->Count(line, marks);
    if (bip != nullptr) CountBipLine(bip, line, marks);
  }
};

void* CreateRblJoint(void* const* counts, const HandlerKind* const* kinds, size_t count) {
  auto* joint = new (std::nothrow) RblJoint;
  if (joint == nullptr) return nullptr;
  for (size_t i = 0; i < count; ++i) {
    if (kinds[i] == &kRblTrafficKind) joint->traffic = static_cast<RblTraffic*>(counts[i]);
    if (kinds[i] == &kRblChartKind) joint->chart = static_cast<RblChart*>(counts[i]);
    if (kinds[i] == &kBipKind) joint->bip = counts[i];
  }
  return joint;
}

ResultCode FinishRblJoint(void* joint, bool /*counted*/) {
  delete static_cast<RblJoint*>(joint);
  return kOk;
}

}  // namespace

const JointKind kRblJoint{
    CreateRblJoint, [](void* joint, const LoopLine& line) { (*static_cast<RblJoint*>(joint))(line); },
    RunVisitorLoop<RblJoint>, FinishRblJoint};

ResultCode RblTrafficHandler(FILE* primary, FILE* /*secondary*/, FILE* output, TimeValue day,
                             uint32_t* linesProcessed, uint64_t* lastTime,
                             const OutputSettings* settings, ProgressFile* progress,
                             JobEvent* event) {
  if (!HandlerArgumentsValid(primary, output, linesProcessed, lastTime, settings)) {
    return kErrInvalidArgument;
  }
  RblTraffic* counts = new (std::nothrow) RblTraffic();
  if (counts == nullptr) return kErrNoMemory;
  const ResultCode result = 
      RunLineLoop(primary, LogMayGrow(day), linesProcessed, lastTime, progress, event, *counts);
  if (result == kOk) counts->Write(output, *settings);
  delete counts;
  return result;
}

ResultCode RblChartHandler(FILE* primary, FILE* /*secondary*/, FILE* output, TimeValue day,
                           uint32_t* linesProcessed, uint64_t* lastTime,
                           const OutputSettings* settings, ProgressFile* progress,
                           JobEvent* event) {
  if (!HandlerArgumentsValid(primary, output, linesProcessed, lastTime, settings)) {
    return kErrInvalidArgument;
  }
  RblChart counts;
  const ResultCode result = 
      RunLineLoop(primary, LogMayGrow(day), linesProcessed, lastTime, progress, event, counts);
  if (result == kOk) counts.Write(output, *settings);
  return result;
}

const HandlerKind kRblTrafficKind = WithJoint(KindOf<RblTraffic>::Make(), &kRblJoint);
const HandlerKind kRblChartKind = WithJoint(KindOf<RblChart>::Make(), &kRblJoint);
