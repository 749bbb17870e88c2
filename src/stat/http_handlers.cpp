// The HTTP metadata handlers: alerts, traffic and web filter, over the
// combined proxy log and the compact per-kind logs of the same day.
#include <cinttypes>
#include <cstdlib>
#include <cstring>
#include <new>

#include "common/metadata_output.h"
#include "common/proxy_log.h"
#include "common/record_table.h"
#include "common/text_match.h"
#include "stat/handler_support.h"
#include "stat/line_loop.h"
#include "stat/stat_handlers.h"

namespace {

// A field view copied into a buffer of `capacity` bytes with its NUL.
void CopyField(TextView field, char* buffer, size_t capacity) {
  const size_t length = field.length < capacity ? field.length : capacity - 1;
  std::memcpy(buffer, field.text, length);
  buffer[length] = '\0';
}

// Field `index` (from 0) trimmed and cut as GetField reads it into the buffer.
template <size_t kCapacity>
void CopyTrimmedField(const LoopLine& line, uint32_t index, char (&buffer)[kCapacity]) {
  CopyField(line.Trimmed(index, kCapacity), buffer, kCapacity);
}

// The line's fields as the proxy-line readers take them: those the loop
// split, and further ones split when a reader asks.
void ProxyFieldsOf(const LoopLine& line, ProxyFields* fields) {
  fields->text = line.text;
  fields->end = line.end;
  fields->count = line.fieldCount;
  for (uint32_t i = 0; i < line.fieldCount; ++i) {
    fields->ends[i] = static_cast<uint32_t>(line.fields[i].text + line.fields[i].length - line.text);
  }
  const uint32_t stop = fields->ends[fields->count - 1];
  fields->more = stop < fields->end && line.text[stop] == ';';
}

// A combined-log line of kind "E": fields 5 to 9 read into proxy with the
// shared proxy-line readers (10 to 21 come with ReadProxyEndSplit). False for
// other kinds.
bool ReadEndLine(const LoopLine& line, ProxyFields* fields, ProxyLine* proxy) {
  const TextView kind = line.Trimmed(2, 4);
  if (kind.length == 0 || (kind.text[0] != 'E' && kind.text[0] != 'e')) return false;
  ProxyFieldsOf(line, fields);
  ReadProxyTrafficSplit(fields, proxy);
  return true;
}

enum ProxyKey { kKeyIp, kKeyHost, kKeyUser };

// A proxy line's fields as the proxy-line readers take them.
struct ReadLine {
  ProxyFields fields;
  ProxyLine proxy;

  // The lookup probe of one of the line's keys.
  KeyedProbe Key(ProxyKey key) const {
    const char* text = key == kKeyIp ? proxy.ip : key == kKeyHost ? proxy.host : proxy.user;
    KeyedProbe probe{"", 0, 0};
    KeyedProbeInit(&probe, text, std::strlen(text));
    return probe;
  }
};

// The line's fields 5 to 9 (and 10 to 21 with withEndFields) read into
// `read` when it is an "E" line, else null.
ReadLine* EndLine(const LoopLine& line, bool withEndFields, ReadLine* read) {
  if (!ReadEndLine(line, &read->fields, &read->proxy)) return nullptr;
  if (withEndFields) ReadProxyEndSplit(&read->fields, &read->proxy, false);
  return read;
}

// The first number of a category field, in C notation.
uint32_t FirstCategoryMask(const char* text) {
  return static_cast<uint32_t>(std::strtoul(text, nullptr, 0));
}

// Line visitors of the two layouts for the shared line loop.
template <typename Counts>
struct CompactVisitor {
  static constexpr uint32_t kFields = kLoopFieldsMax;
  Counts& counts;
  void operator()(const LoopLine& line) { counts.Compact(line); }
};

template <typename Counts>
struct CombinedVisitor {
  static constexpr uint32_t kFields = kLoopFieldsMax;
  Counts& counts;
  void operator()(const LoopLine& line) { counts.Combined(line); }
};

// Both logs of a day with one resume point: the compact log first; the
// combined log from its start when the compact one moved past the stored time.
template <typename Counts>
ResultCode RunHttpLogs(FILE* combined, FILE* compact, bool mayGrow, uint32_t* linesProcessed, uint64_t* lastTime,
                       ProgressFile* progress, JobEvent* event, Counts& counts) {
  uint32_t lines = *linesProcessed;
  uint64_t time = *lastTime;
  if (compact != nullptr) {
    CompactVisitor<Counts> visit{counts};
    const ResultCode result = RunLineLoop(compact, mayGrow, &lines, &time, progress, event, visit);
    if (result != kOk) return result;
    if (combined == nullptr) {
      *linesProcessed = lines;
      *lastTime = time;
      return kOk;
    }
    if (time > *lastTime) {
      lines = 0;
      time = 0;
    } else {
      lines = *linesProcessed;
      time = *lastTime;
    }
  }
  CombinedVisitor<Counts> visit{counts};
  const ResultCode result = RunLineLoop(combined, mayGrow, &lines, &time, progress, event, visit);
  if (result != kOk) return result;
  *linesProcessed = lines;
  *lastTime = time;
  return kOk;
}

// Block reason words with their own column, in column order.
constexpr const char* kAlertReasons[] = {"VIRUS", "CONTENT", "BANNED", "NOTALLOWED", "BANCON", "SITE"};
constexpr int kAlertColumns = 7;  // all, then one per reason word

struct HttpAlerts {
  ReadLine* own = nullptr;
  uint32_t hours[kHours][kAlertColumns] = {};
  RecordTable ips{};      // "IP"
  RecordTable viruses{};  // "VIR"

  void Count(uint32_t hour, ReadLine& line) {
    CounterTableAddProbe(&ips, line.Key(kKeyIp), 1, 0, 0);
    CountReason(hour, TextView{line.proxy.reason, std::strlen(line.proxy.reason)},
                TextView{line.proxy.detail, std::strlen(line.proxy.detail)});
  }

  // The hour's columns and "VIR" of a counted line (its address apart).
  void CountReason(uint32_t hour, TextView reason, TextView detail) {
    ++hours[hour][0];
    if (reason.length == 0) return;  // most lines have no reason word
    for (int i = 0; i < kAlertColumns - 1; ++i) {
      if (!EqualsNoCase(reason, kAlertReasons[i])) continue;
      ++hours[hour][i + 1];
      if (i == 0) CounterTableAddView(&viruses, detail.text, detail.length, 1, 0, 0);
      break;
    }
  }

  void Combined(const LoopLine& line) {
    ReadLine* end = EndLine(line, true, own);
    if (end != nullptr) Count(line.hour, *end);
  }

  // "kelb-al": 3 client address, 4 (unused), 5 reason word, 6 detail text.
  void Compact(const LoopLine& line) {
    ProxyLine* proxy = &own->proxy;
    CopyTrimmedField(line, 2, proxy->ip);
    CopyTrimmedField(line, 4, proxy->reason);
    CopyField(CutField(line.Field(5), sizeof proxy->detail), proxy->detail, sizeof proxy->detail);
    Count(line.hour, *own);
  }

  void Write(FILE* out, const OutputSettings& /*settings*/) {
    uint32_t day[kAlertColumns] = {};
    for (const auto& hour : hours) {
      for (int i = 0; i < kAlertColumns; ++i) day[i] += hour[i];
    }
    fprintf(out, "S;%" PRIu32 ";%" PRIu32 ";%" PRIu32 ";%" PRIu32 ";%" PRIu32 ";%" PRIu32 ";%" PRIu32 "\n",
            day[0], day[1], day[2], day[3], day[4], day[5], day[6]);
    for (int h = 0; h < kHours; ++h) {
      const uint32_t* c = hours[h];
      fprintf(out, "H;%02d;%" PRIu32 ";%" PRIu32 ";%" PRIu32 ";%" PRIu32 ";%" PRIu32 ";%" PRIu32 ";%" PRIu32 "\n",
              h, c[0], c[1], c[2], c[3], c[4], c[5], c[6]);
    }
    WriteTopList(&ips, CompareCountersThenKey, out, "IP", kAllLines, 0, 1, false, false);
    WriteTopList(&viruses, CompareCountersThenKey, out, "VIR", kAllLines, 0, 1, false, false);
  }

  ~HttpAlerts() {
    RecordTableFree(&ips);
    RecordTableFree(&viruses);
  }
};

struct HttpTraffic {
  ReadLine* own = nullptr;
  uint64_t hours[kHours] = {};
  RecordTable ips{};    // "IP"
  RecordTable hosts{};  // "DM"

  void Count(uint32_t hour, ReadLine& line, uint64_t volume) {
    CounterTableAddProbe(&ips, line.Key(kKeyIp), volume, 0, 0);
    CounterTableAddProbe(&hosts, line.Key(kKeyHost), volume, 0, 0);
    hours[hour] += volume;
  }

  void Combined(const LoopLine& line) {
    ReadLine* end = EndLine(line, false, own);
    if (end != nullptr) Count(line.hour, *end, end->proxy.size6);
  }

  // "kelb-tr": 3 client address, 4 host, 5 volume in bytes.
  void Compact(const LoopLine& line) {
    ProxyLine* proxy = &own->proxy;
    CopyTrimmedField(line, 2, proxy->ip);
    CopyTrimmedField(line, 3, proxy->host);
    Count(line.hour, *own, ReadUnsignedDecimal(line.Trimmed(4, sizeof proxy->scratch)));
  }

  void Write(FILE* out, const OutputSettings& settings) {
    uint64_t day = 0;
    for (uint64_t hour : hours) day += hour;
    char size[64];
    fprintf(out, "S;%s\n", FormatSize(day, settings.unitDivisor, size, sizeof size));
    for (int h = 0; h < kHours; ++h) {
      fprintf(out, "H;%02d;%s\n", h, FormatSize(hours[h], settings.unitDivisor, size, sizeof size));
    }
    WriteTopList(&ips, CompareCountersThenKey, out, "IP", kAllLines, settings.unitDivisor, 1, false, false);
    WriteTopList(&hosts, CompareCountersThenKey, out, "DM", kAllLines, settings.unitDivisor, 1, false,
                 false);
  }

  ~HttpTraffic() {
    RecordTableFree(&ips);
    RecordTableFree(&hosts);
  }
};

// The "MUC" key of each category bit, "0x%08lx" of the bit's value.
struct CategoryKeys {
  char text[32][16];
  KeyedProbe probes[32];
  CategoryKeys() {
    for (uint32_t bit = 0; bit < 32; ++bit) {
      const int length = snprintf(text[bit], sizeof text[bit], "0x%08" PRIx32, static_cast<uint32_t>(1u << bit));
      KeyedProbeInit(&probes[bit], text[bit], static_cast<size_t>(length));
    }
  }
};

const CategoryKeys& CategoryKeyTexts() {
  static const CategoryKeys keys;
  return keys;
}

struct HttpWebFilter {
  ReadLine* own = nullptr;
  RecordTable categories{};  // "MUC"
  RecordTable hosts{};       // "MUD"
  RecordTable users{};       // "MUU"
  RecordTable ips{};         // "MUI"

  void Count(uint32_t mask, ReadLine& line) {
    if (mask == 0) return;
    CountCategoriesAndUser(mask, line.Key(kKeyUser));
    CounterTableAddProbe(&hosts, line.Key(kKeyHost), 1, 0, 0);
    CounterTableAddProbe(&ips, line.Key(kKeyIp), 1, 0, 0);
  }

  // "MUC" and "MUU" of a counted line (its host and address apart).
  void CountCategoriesAndUser(uint32_t mask, const KeyedProbe& user) {
    const CategoryKeys& keys = CategoryKeyTexts();
    for (uint32_t bits = mask; bits != 0; bits &= bits - 1) {
      CounterTableAddProbe(&categories, keys.probes[__builtin_ctz(bits)], 1, 0, 0);
    }
    CounterTableAddProbe(&users, user, 1, 0, 0);
  }

  void Combined(const LoopLine& line) {
    ReadLine* end = EndLine(line, true, own);
    if (end != nullptr) Count(end->proxy.categories1, *end);
  }

  // "kelb-wf": 3 (unused), 4 user, 5 client address, 6 host, 7 category mask.
  void Compact(const LoopLine& line) {
    ProxyLine* proxy = &own->proxy;
    CopyTrimmedField(line, 3, proxy->user);
    CopyTrimmedField(line, 4, proxy->ip);
    CopyTrimmedField(line, 5, proxy->host);
    CopyTrimmedField(line, 6, proxy->scratch);
    Count(FirstCategoryMask(proxy->scratch), *own);
  }

  void Write(FILE* out, const OutputSettings& settings) {
    WriteTopList(&categories, CompareCountersThenKey, out, "MUC", kAllLines, 0, 1, false, false);
    WriteTopList(&hosts, CompareCountersThenKey, out, "MUD", settings.topCount, 0, 1, false, false);
    WriteTopList(&users, CompareCountersThenKey, out, "MUU", settings.topCount, 0, 1, false, false);
    WriteTopList(&ips, CompareCountersThenKey, out, "MUI", settings.topCount, 0, 1, false, false);
  }

  ~HttpWebFilter() {
    RecordTableFree(&categories);
    RecordTableFree(&hosts);
    RecordTableFree(&users);
    RecordTableFree(&ips);
  }
};

// The counts of one HTTP type with the field buffers of its proxy lines, as
// the driver's shared loops feed them.
template <typename Counts>
struct HttpSession {
  static constexpr uint32_t kFields = kLoopFieldsMax;
  Counts counts;
  ReadLine line;
  HttpSession() { counts.own = &line; }
  void operator()(const LoopLine& loopLine) { counts.Combined(loopLine); }
  void Compact(const LoopLine& loopLine) { counts.Compact(loopLine); }
  void Write(FILE* out, const OutputSettings& settings) { counts.Write(out, settings); }
};

// The counts of a client address or host for each HTTP type of a joint.
struct JointCounts {
  uint64_t alerts;    // HTTP-AL "IP": lines
  uint64_t volume;    // HTTP-TR "IP", "DM": bytes
  uint64_t filtered;  // HTTP-WF "MUI", "MUD": lines
  uint64_t webFilterSpelledOtherwise;  // 1: see JointTable
};
constexpr uint32_t kJointPayload = sizeof(JointCounts);

JointCounts& JointCountsOf(void* record) {
  return *reinterpret_cast<JointCounts*>(static_cast<char*>(record) + sizeof(KeyedRecordHeader));
}

// Joint counts by key, and HTTP-WF's own first spelling of the keys whose
// record another type placed with another spelling (HTTP-WF counts only the
// lines with categories, so its first line of a key may differ).
struct JointTable {
  RecordTable records{};
  RecordTable webFilterSpellings{};

  // The key as HTTP-WF writes it.
  const char* WebFilterKey(const char* key, const JointCounts& counts) {
    if (counts.webFilterSpelledOtherwise == 0) return key;
    const CounterRecord* spelling = CounterTableFind(&webFilterSpellings, key);
    return spelling != nullptr ? spelling->key : key;
  }

  ~JointTable() {
    RecordTableFree(&records);
    RecordTableFree(&webFilterSpellings);
  }
};

// The HTTP types that read the same lines of a combined log, counted in one
// visit per line: a line's address and host are looked up once for all of
// them; everything else goes straight to each type's own counts. The fields
// are read as views of the split line, as the proxy-line readers take them.
struct HttpJoint {
  static constexpr uint32_t kFields = kLoopFieldsMax;
  static_assert(kFields >= 14, "the joint reads fields 3 to 14");
  HttpAlerts* alerts = nullptr;  // each null when its type is not joined
  HttpTraffic* traffic = nullptr;
  HttpWebFilter* webFilter = nullptr;
  JointTable ips;
  JointTable hosts;
  bool failed = false;  // a table could not grow
  char categories[kProxyNumberField];

  void operator()(const LoopLine& line) {
    const TextView kind = line.Trimmed(2, 4);
    if (kind.length == 0 || (kind.text[0] != 'E' && kind.text[0] != 'e')) return;
    const uint64_t volume = traffic != nullptr ? ParseProxySizeView(line.Trimmed(5, kProxyNumberField)) : 0;
    const uint32_t mask = webFilter != nullptr ? CategoryMask(line.Trimmed(13, kProxyNumberField)) : 0;
    if (alerts != nullptr || traffic != nullptr || mask != 0) {
      Add(&ips, ProbeOf(line.Trimmed(6, kProxyIpField)), alerts != nullptr ? 1 : 0, volume, mask != 0);
    }
    if (traffic != nullptr || mask != 0) {
      Add(&hosts, ProbeOf(line.Trimmed(8, kProxyHostField)), 0, volume, mask != 0);
    }
    if (alerts != nullptr) {
      alerts->CountReason(line.hour, line.Trimmed(11, kProxyReasonField),
                          CutField(line.Field(12), kProxyDetailField));
    }
    if (traffic != nullptr) traffic->hours[line.hour] += volume;
    if (mask != 0) webFilter->CountCategoriesAndUser(mask, ProbeOf(line.Trimmed(7, kProxyUserField)));
  }

  static KeyedProbe ProbeOf(TextView key) {
    KeyedProbe probe{"", 0, 0};
    KeyedProbeInit(&probe, key.text, key.length);
    return probe;
  }

  // The first number of the categories field, as the proxy-line reader takes it.
  uint32_t CategoryMask(TextView field) {
    std::memcpy(categories, field.text, field.length);
    categories[field.length] = '\0';
    uint32_t first = 0;
    uint32_t second = 0;
    ParseCategories(categories, &first, &second);
    return first;
  }

  void Add(JointTable* table, const KeyedProbe& probe, uint64_t alertLines, uint64_t volume, bool filtered) {
    void* record = nullptr;
    bool inserted = false;
    if (KeyedTableFindOrInsertProbe(&table->records, probe, kJointPayload, &record, &inserted) != kOk) {
      failed = true;
      return;
    }
    JointCounts& counts = JointCountsOf(record);
    counts.alerts += alertLines;
    counts.volume += volume;
    if (!filtered || counts.filtered++ != 0 || inserted) return;
    // HTTP-WF's first line of a key another type placed.
    if (std::memcmp(KeyedRecordKey(record, kJointPayload), probe.key, probe.length) == 0) return;
    counts.webFilterSpelledOtherwise = 1;
    if (CounterTableAddProbe(&table->webFilterSpellings, probe, 0, 0, 0) != kOk) failed = true;
  }

  // Adds the joint counts to each type's tables (records of nothing are left
  // out: they stay below every threshold).
  ResultCode HandOn() {
    if (failed) return kErrNoMemory;
    ResultCode result = kOk;
    const auto add = [&result](RecordTable* table, const char* key, uint64_t total) {
      if (total != 0 && CounterTableAdd(table, key, total, 0, 0) != kOk) result = kErrNoMemory;
    };
    for (uint32_t i = 0, count = RecordTableCount(&ips.records); i < count; ++i) {
      void* record = RecordTableAt(&ips.records, i);
      const char* key = KeyedRecordKey(record, kJointPayload);
      const JointCounts& counts = JointCountsOf(record);
      if (alerts != nullptr) add(&alerts->ips, key, counts.alerts);
      if (traffic != nullptr) add(&traffic->ips, key, counts.volume);
      if (webFilter != nullptr) add(&webFilter->ips, ips.WebFilterKey(key, counts), counts.filtered);
    }
    for (uint32_t i = 0, count = RecordTableCount(&hosts.records); i < count; ++i) {
      void* record = RecordTableAt(&hosts.records, i);
      const char* key = KeyedRecordKey(record, kJointPayload);
      const JointCounts& counts = JointCountsOf(record);
      if (traffic != nullptr) add(&traffic->hosts, key, counts.volume);
      if (webFilter != nullptr) add(&webFilter->hosts, hosts.WebFilterKey(key, counts), counts.filtered);
    }
    return result;
  }
};

template <typename Counts>
Counts& SessionOf(void* session) {
  return static_cast<HttpSession<Counts>*>(session)->counts;
}

void* CreateHttpJoint(void* const* counts, const HandlerKind* const* kinds, size_t count) {
  auto* joint = new (std::nothrow) HttpJoint;
  if (joint == nullptr) return nullptr;
  for (size_t i = 0; i < count; ++i) {
    if (kinds[i] == &kHttpAlertKind) joint->alerts = &SessionOf<HttpAlerts>(counts[i]);
    if (kinds[i] == &kHttpTrafficKind) joint->traffic = &SessionOf<HttpTraffic>(counts[i]);
    if (kinds[i] == &kHttpWebFilterKind) joint->webFilter = &SessionOf<HttpWebFilter>(counts[i]);
  }
  return joint;
}

ResultCode FinishHttpJoint(void* opaque, bool counted) {
  auto* joint = static_cast<HttpJoint*>(opaque);
  const ResultCode result = counted ? joint->HandOn() : kOk;
  delete joint;
  return result;
}

constexpr JointKind kHttpJoint{
    CreateHttpJoint, [](void* joint, const LoopLine& line) { (*static_cast<HttpJoint*>(joint))(line); },
    RunVisitorLoop<HttpJoint>, FinishHttpJoint};


bool HttpArgumentsValid(FILE* primary, FILE* secondary, FILE* output, uint32_t* lines,
                        uint64_t* lastTime, const OutputSettings* settings) {
  return (primary != nullptr || secondary != nullptr) && output != nullptr && lines != nullptr &&
         lastTime != nullptr && settings != nullptr;
}

// Runs the counts over both logs and writes them; the proxy-line buffers and
// the counters live on the heap (the field buffers are large).
template <typename Counts, typename Writer>
ResultCode RunHttpHandler(FILE* primary, FILE* secondary, FILE* output, TimeValue day, uint32_t* linesProcessed,
                          uint64_t* lastTime, const OutputSettings* settings, ProgressFile* progress,
                          JobEvent* event, Writer write) {
  if (!HttpArgumentsValid(primary, secondary, output, linesProcessed, lastTime, settings)) {
    return kErrInvalidArgument;
  }
  Counts* counts = new (std::nothrow) Counts();
  ReadLine* own = new (std::nothrow) ReadLine;
  ResultCode result = kErrNoMemory;
  if (counts != nullptr && own != nullptr) {
    counts->own = own;
    result = RunHttpLogs(primary, secondary, LogMayGrow(day), linesProcessed, lastTime, progress, event, *counts);
    if (result == kOk) write(*counts, output, *settings);
  }
  delete own;
  delete counts;
  return result;
}

}  // namespace

ResultCode HttpAlertHandler(FILE* primary, FILE* secondary, FILE* output, TimeValue day,
                            uint32_t* linesProcessed, uint64_t* lastTime,
                            const OutputSettings* settings, ProgressFile* progress,
                            JobEvent* event) {
  return RunHttpHandler<HttpAlerts>(
      primary, secondary, output, day, linesProcessed, lastTime, settings, progress, event,
      [](HttpAlerts& counts, FILE* out, const OutputSettings& s) { counts.Write(out, s); });
}

ResultCode HttpTrafficHandler(FILE* primary, FILE* secondary, FILE* output, TimeValue day,
                              uint32_t* linesProcessed, uint64_t* lastTime,
                              const OutputSettings* settings, ProgressFile* progress,
                              JobEvent* event) {
  return RunHttpHandler<HttpTraffic>(
      primary, secondary, output, day, linesProcessed, lastTime, settings, progress, event,
      [](HttpTraffic& counts, FILE* out, const OutputSettings& s) { counts.Write(out, s); });
}

ResultCode HttpWebFilterHandler(FILE* primary, FILE* secondary, FILE* output, TimeValue day,
                                uint32_t* linesProcessed, uint64_t* lastTime,
                                const OutputSettings* settings, ProgressFile* progress,
                                JobEvent* event) {
  return RunHttpHandler<HttpWebFilter>(
      primary, secondary, output, day, linesProcessed, lastTime, settings, progress, event,
      [](HttpWebFilter& counts, FILE* out, const OutputSettings& s) { counts.Write(out, s); });
}

const HandlerKind kHttpAlertKind = WithJoint(KindOf<HttpSession<HttpAlerts>>::Make(), &kHttpJoint);
const HandlerKind kHttpTrafficKind = WithJoint(KindOf<HttpSession<HttpTraffic>>::Make(), &kHttpJoint);
const HandlerKind kHttpWebFilterKind = WithJoint(KindOf<HttpSession<HttpWebFilter>>::Make(), &kHttpJoint);
