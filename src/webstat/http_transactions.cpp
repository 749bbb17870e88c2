// The proxy log parsed into transactions.
#include "webstat/http_transactions.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "common/cache_table.h"
#include "common/dir_enum.h"
#include "common/line_reader.h"
#include "common/list_match.h"
#include "common/paths.h"
#include "common/text_match.h"
#include "common/time.h"
#include "frame/console.h"
#include "frame/jobs.h"
#include "frame/progress.h"
#include "platform/stream.h"
#include "webstat/webstat_conditions.h"
#include "webstat/webstat_run.h"

namespace {

constexpr uint32_t kCancelPollLines = 500;
constexpr uint32_t kProgressLines = 10000;
constexpr uint32_t kNamesMax = kProxyIpField + kProxyUserField + kProxyHostField;
constexpr uint32_t kMaxEarlierDays = 7;

// The table's user data.
struct TableContext {
  WebstatConditions* conditions;
  WebstatRun* run;
};

// An insertion template: header, fixed part, the three texts.
struct TransactionTemplate {
  uint32_t key;
  uint32_t length;
  WebTransaction fixed;
  char names[kNamesMax];
};

// The update step's argument: the volume to store, and the state found.
struct UpdateStep {
  uint64_t volume;
  uint32_t state;
};

// Removal's argument: the record found by the lookup.
struct RemoveCapture {
  const WebTransaction* found;
};

const WebTransaction* Transaction(const void* record) {
  return reinterpret_cast<const WebTransaction*>(CacheRecordData(record));
}

uint32_t IdKey(const uint8_t* id) {
  uint32_t key = 0;
  std::memcpy(&key, id, sizeof key);
  return key;
}

// Bytes 8 at a time in big-endian order: comparing the words compares the bytes.
uint64_t BigEndianWord(const uint8_t* bytes) {
  uint64_t word = 0;
  std::memcpy(&word, bytes, sizeof word);
  return __builtin_bswap64(word);
}

// The table's order: the 32-bit key, then the whole id bytewise. Many ids
// share their first four bytes (the proxy's worker), so the rest is compared
// in words rather than through memcmp.
int CompareIds(void*, void*, const void* a, const void* b) {
  uint32_t ka = static_cast<const CacheRecordHeader*>(a)->key;
  uint32_t kb = static_cast<const CacheRecordHeader*>(b)->key;
  if (ka != kb) return ka < kb ? -1 : 1;
  // Equal keys are equal first four bytes.
  const uint8_t* x = Transaction(a)->id;
  const uint8_t* y = Transaction(b)->id;
  for (uint32_t offset = 4; offset < kTransactionIdSize; offset += 8) {
    uint64_t wx = BigEndianWord(x + offset);
    uint64_t wy = BigEndianWord(y + offset);
    if (wx != wy) return wx < wy ? -1 : 1;
  }
  return 0;
}

int CompareIdsCapturing(void* user, void* argument, const void* a, const void* b) {
  int order = CompareIds(user, argument, a, b);
  if (order == 0) static_cast<RemoveCapture*>(argument)->found = Transaction(b);
  return order;
}

int RankAllEqual(void*, void*, const void*, const void*) { return 0; }
int NeverEvict(void*, void*, const void*) { return 0; }

ResultCode ConstructTransaction(void*, void*, unsigned char* data, uint32_t length,
                                const void* templ) {
  if (length < sizeof(WebTransaction) + 3) return kErrBufferTooSmall;
  const auto* source = static_cast<const TransactionTemplate*>(templ);
  std::memcpy(data, &source->fixed, sizeof(WebTransaction));
  uint32_t room = length - sizeof(WebTransaction);
  uint32_t textLength = source->length - sizeof(WebTransaction);
  if (textLength > room) textLength = room;
  char* names = reinterpret_cast<char*>(data + sizeof(WebTransaction));
  std::memset(names, 0, room);
  std::memcpy(names, source->names, textLength);
  names[room - 1] = '\0';
  return kOk;
}

int UpdateTransaction(void*, void* argument, void* record) {
  auto* step = static_cast<UpdateStep*>(argument);
  auto* transaction = reinterpret_cast<WebTransaction*>(CacheRecordData(record));
  transaction->volume = step->volume;
  step->state = transaction->state;
  return 0;
}

// The texts of a record: ip, user, host.
void RecordNames(const WebTransaction* transaction, const char** ip, const char** user,
                 const char** host) {
  const char* names = reinterpret_cast<const char*>(transaction + 1);
  *ip = names;
  *user = *ip + std::strlen(*ip) + 1;
  *host = *user + std::strlen(*user) + 1;
}

bool VolumePasses(const WebstatConditions* conditions, uint64_t volume) {
  if (conditions->volumeSign < 0) return volume < conditions->volumeThreshold;
  if (conditions->volumeSign > 0) return volume > conditions->volumeThreshold;
  return true;
}

bool NamesPass(const WebstatConditions* conditions, const char* ip, const char* user,
               const char* host) {
  if ((conditions->ip != nullptr || conditions->ipRangeCount != 0) &&
      !MatchAddressOrPattern(ip, conditions->ip, conditions->ipRanges, conditions->ipRangeCount)) {
    return false;
  }
  if (conditions->user != nullptr && !MatchPatternList(conditions->user, user, 1)) return false;
  if (conditions->host != nullptr && !MatchPatternList(conditions->host, host, 1)) return false;
  return true;
}

int ReportOpenTransaction(void* user, void* argument, void* record) {
  const auto* context = static_cast<const TableContext*>(user);
  WebstatConditions* conditions = context->conditions;
  WebstatRun* run = context->run;
  uint32_t userValue = *static_cast<const uint32_t*>(argument);
  uint32_t phase = userValue == 0 ? kPhaseFinished : kPhaseIncomplete;
  if ((conditions->phaseMask & phase) == 0) return 0;
  const WebTransaction* transaction = Transaction(record);
  if (transaction->state == 0) {
    RecordTableAppend(&run->doubts, transaction, sizeof(WebTransaction));
    return 0;
  }
  if (transaction->state != 1 || !VolumePasses(conditions, transaction->volume)) return 0;
  const char* ip = nullptr;
  const char* userName = nullptr;
  const char* host = nullptr;
  RecordNames(transaction, &ip, &userName, &host);
  if ((conditions->outform & kWebOutSummary) != 0) {
    AddSummaryRecord(&run->summary, userName, host, ip, nullptr, transaction->volume, 0, 0, 0,
                     nullptr);
  }
  if ((conditions->outform & kWebOutSearch) != 0) {
    SearchHitBlock block{transaction->fileIndex, transaction->lineOffset, transaction->time,
                         transaction->volume};
    AddSearchHit(&run->searchHits, &block, conditions->sortColumn, transaction->id, userName, ip,
                 host, transaction->volume);
  }
  return 0;
}

// Builds the template of a line; names null for a record without texts.
void FillTemplate(TransactionTemplate* templ, const ProxyLine& line, uint32_t fileIndex,
                  uint32_t offset, TimeValue day, uint64_t volume, uint32_t state, bool names) {
  templ->key = IdKey(line.id);
  std::memcpy(templ->fixed.id, line.id, kTransactionIdSize);
  templ->fixed.fileIndex = fileIndex;
  templ->fixed.lineOffset = offset;
  templ->fixed.time = day + line.timeOfDay;
  templ->fixed.volume = volume;
  templ->fixed.state = state;
  templ->fixed.day = day;
  templ->fixed.timeOfDay = line.timeOfDay;
  size_t used = 0;
  const char* texts[3] = {names ? line.ip : "", names ? line.user : "", names ? line.host : ""};
  for (const char* text : texts) {
    size_t length = std::strlen(text);
    std::memcpy(templ->names + used, text, length + 1);
    used += length + 1;
  }
  templ->length = static_cast<uint32_t>(sizeof(WebTransaction) + used);
}

// Template with only the id, for lookups and removal.
void FillLookup(TransactionTemplate* templ, const uint8_t* id) {
  templ->key = IdKey(id);
  templ->length = sizeof(WebTransaction) + 3;
  std::memcpy(templ->fixed.id, id, kTransactionIdSize);
}

int64_t MeasureStream(FILE* file) {
  if (std::fseek(file, 0, SEEK_END) != 0) return -1;
  int64_t size = TellStream(file);
  SeekStream(file, 0);
  return size;
}

// Cancellation and progress of the line loops.
struct LoopControl {
  ProgressFile* progress;
  JobEvent* job;
  int64_t size;
  uint32_t lines;
};

// kUserAbort when the user broke or the job was cancelled (before reading a line).
ResultCode PollStop(const LoopControl& control) {
  if (IsInterrupted()) return kUserAbort;
  if (control.job != nullptr && control.lines % kCancelPollLines == 0 &&
      IsJobCancelled(control.job)) {
    return kUserAbort;
  }
  return kOk;
}

void CountLine(LoopControl* control, uint64_t position) {
  ++control->lines;
  if (control->lines % kProgressLines == 0 && control->size > 0) {
    ReportDayProgress(control->progress, -1,
                      static_cast<int64_t>(position * 100 / static_cast<uint64_t>(control->size)), 0);
  }
}

void CutLineEnd(LinePiece* piece) {
  if (piece->length > 0 && piece->text[piece->length - 1] == '\r') {
    piece->text[--piece->length] = '\0';
  }
}

bool EndLineMatches(const WebstatConditions* conditions, ProxyLine* line, uint32_t* reason) {
  if (!VolumePasses(conditions, line->size6)) return false;
  ReadProxyEnd(line);
  if (conditions->code != nullptr && !MatchPatternList(conditions->code, line->code, 1)) {
    return false;
  }
  int passes = ClassifyBlockReason(line->reason, line->webFilterFlag, conditions->blockedMask,
                                   reason);
  if (conditions->blockedMask != 0 && passes == 0) return false;
  if (conditions->wfcatActive != 0) {
    if (line->categories1 == 0) {
      if (conditions->wfUncategorised == 0) return false;
    } else if ((line->categories1 & conditions->wfcatMask) == 0) {
      return false;
    }
  }
  if (conditions->content != nullptr && !MatchPatternList(conditions->content, line->content, 1)) {
    return false;
  }
  return true;
}

// The state of one day's parse.
struct DayParse {
  CacheTable* table;
  WebstatRun* run;
  WebstatConditions* conditions;
  uint32_t fileIndex;
  TimeValue day;
  bool summary;
  bool search;
};

void HandleOpening(DayParse* parse, const ProxyLine& line, uint32_t offset, bool matching,
                   TransactionTemplate* templ) {
  TimeValue time = parse->day + line.timeOfDay;
  FillTemplate(templ, line, parse->fileIndex, offset, parse->day, line.size5, matching ? 1 : 2,
               true);
  UpdateStep step{line.size5, 0};
  CacheTableInsert(parse->table, templ, UpdateTransaction, &step);
  if (matching && parse->run->countOnOpen != 0 && parse->summary) {
    AddToTimeSeries(&parse->run->summary.series, 0, time, 1, 0, 0, 0);
  }
}

void HandleTraffic(DayParse* parse, const ProxyLine& line, uint32_t offset,
                   TransactionTemplate* templ) {
  FillTemplate(templ, line, parse->fileIndex, offset, parse->day, line.size6, 0, false);
  UpdateStep step{line.size6, 0};
  if (CacheTableInsert(parse->table, templ, UpdateTransaction, &step) != kOk) step.state = 0;
  if (parse->summary && parse->run->countOnOpen != 0 && step.state == 1) {
    AddToTimeSeries(&parse->run->summary.series, 0, parse->day + line.timeOfDay, 0, line.size6, 0,
                    0);
  }
}

void HandleEnd(DayParse* parse, ProxyLine* line, uint32_t offset, bool matching,
               TransactionTemplate* templ) {
  FillLookup(templ, line->id);
  RemoveCapture capture{nullptr};
  bool found =
      CacheTableRemove(parse->table, templ, CompareIdsCapturing, &capture) == kOk &&
      capture.found != nullptr;
  uint64_t volumeSeen = found ? capture.found->volume : 0;
  uint32_t reason = 0;
  if (!matching || !EndLineMatches(parse->conditions, line, &reason)) return;
  TimeValue time = parse->day + line->timeOfDay;
  WebstatRun* run = parse->run;
  if (parse->search) {
    SearchHitBlock block{parse->fileIndex, offset, time, 0};
    AddSearchHit(&run->searchHits, &block, parse->conditions->sortColumn, line->id, line->user,
                 line->ip, line->host, line->size6);
  }
  if (parse->summary) {
    AddSummaryRecord(&run->summary, line->user, line->host, line->ip, line->code, line->size6,
                     reason, line->categories1, line->categories2, line->detail);
    uint64_t count = 1;
    uint64_t volume = line->size6;
    if (found && run->countOnOpen != 0) {
      count = 0;
      if (line->size6 > volumeSeen) volume = line->size6 - volumeSeen;
    }
    AddToTimeSeries(&run->summary.series, reason & ~kBlockNone, time, count, volume,
                    line->categories1, line->categories2);
  }
}

void HandleLine(DayParse* parse, ProxyLine* line, uint32_t offset, TransactionTemplate* templ) {
  const WebstatConditions* conditions = parse->conditions;
  TimeValue time = parse->day + line->timeOfDay;
  if (conditions->start != 0 && time < conditions->start) return;
  if (conditions->end != 0 && time > conditions->end) return;
  const char kind = line->kind;
  if (kind == 'E' && (conditions->phaseMask & kPhaseFinished) == 0) {
    FillLookup(templ, line->id);
    CacheTableRemove(parse->table, templ, nullptr, nullptr);
    return;
  }
  if (kind != 'E' && (conditions->blockedMask & ~kBlockNone) != 0) return;
  if (kind == 'R') {
    if (parse->run->countOnOpen != 0) ReportOpenTransactions(parse->table, 0);
    CacheTableClear(parse->table);
    return;
  }
  if (kind != 'B' && kind != 'T' && kind != 'E') return;
  ReadProxyTraffic(line);
  bool matching = kind != 'T' && NamesPass(conditions, line->ip, line->user, line->host);
  if (kind == 'B') {
    HandleOpening(parse, *line, offset, matching, templ);
  } else if (kind == 'T') {
    HandleTraffic(parse, *line, offset, templ);
  } else {
    HandleEnd(parse, line, offset, matching, templ);
  }
}

// Buffers of one parse, allocated once per log.
struct ParseBuffers {
  ProxyLine line;
  TransactionTemplate templ;
};

void PrintDayName(const wchar_t* format, TimeValue day, TimeValue till) {
  if (GetVerbosity() < 10) return;
  CalendarTime at{};
  SplitTime(day, &at);
  if (till == kNoTime) {
    PrintErr(format, at.year, at.month, at.day);
  } else {
    uint32_t seconds = static_cast<uint32_t>(till / kTicksPerSecond);
    PrintErr(format, at.year, at.month, at.day, seconds / 3600, seconds / 60 % 60, seconds % 60);
  }
}

int CompareDoubtKey(const void* key, const void* record) {
  return std::memcmp(key, static_cast<const WebTransaction*>(record)->id, kTransactionIdSize);
}

int CompareDoubtSort(void*, const void* a, const void* b) {
  return std::memcmp(static_cast<const WebTransaction*>(a)->id,
                     static_cast<const WebTransaction*>(b)->id, kTransactionIdSize);
}

void ReparseOpening(WebstatRun* run, WebstatConditions* conditions, DoubtEntry* entry,
                    const ProxyLine& line, uint32_t fileIndex, uint32_t offset, TimeValue time) {
  // Every opening line of a doubted id counts, not only the first.
  if (!NamesPass(conditions, line.ip, line.user, line.host)) return;
  entry->state = 1;
  if ((conditions->outform & kWebOutSearch) != 0) {
    SearchHitBlock block{fileIndex, offset, time, entry->volume};
    AddSearchHit(&run->searchHits, &block, conditions->sortColumn, entry->id, line.user, line.ip,
                 line.host, entry->volume);
  }
  if ((conditions->outform & kWebOutSummary) != 0) {
    AddSummaryRecord(&run->summary, line.user, line.host, line.ip, nullptr, entry->volume, 0, 0, 0,
                     nullptr);
  }
}

// A bit per hash of the doubted ids: most lines of a re-parse belong to no
// doubted transaction, and a clear bit says so without searching the doubts.
constexpr uint32_t kDoubtFilterBits = 1u << 17;

uint32_t DoubtFilterBit(const uint8_t* id) {
  uint64_t word = 0;
  std::memcpy(&word, id + 4, sizeof word);
  return static_cast<uint32_t>((word * 0x9E3779B97F4A7C15ULL) >> 47);
}

std::vector<uint64_t> BuildDoubtFilter(RecordTable* doubts) {
  std::vector<uint64_t> filter(kDoubtFilterBits / 64, 0);
  uint32_t count = RecordTableCount(doubts);
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t bit = DoubtFilterBit(static_cast<const DoubtEntry*>(RecordTableAt(doubts, i))->id);
    filter[bit / 64] |= uint64_t{1} << (bit % 64);
  }
  return filter;
}

bool MayBeDoubted(const std::vector<uint64_t>& filter, const uint8_t* id) {
  uint32_t bit = DoubtFilterBit(id);
  return (filter[bit / 64] >> (bit % 64) & 1) != 0;
}

// The index of the span's day in the run's open logs, opening it when missing.
ResultCode FindOrOpenLog(WebstatRun* run, const wchar_t* logDir, TimeValue day,
                         uint32_t* index) {
  for (size_t i = 0; i < run->openFiles.size(); ++i) {
    if (run->openFiles[i].day == day && run->openFiles[i].file != nullptr) {
      *index = static_cast<uint32_t>(i);
      return kOk;
    }
  }
  FILE* file = nullptr;
  ResultCode result = OpenDayLog(logDir, day, &file);
  if (result != kOk) return result;
  run->openFiles.push_back({file, day});
  *index = static_cast<uint32_t>(run->openFiles.size() - 1);
  return kOk;
}

}  // namespace

ResultCode CreateTransactionTable(WebstatConditions* conditions, WebstatRun* run,
                                  CacheTable** table) {
  TableContext context{conditions, run};
  CacheTableCallbacks callbacks;
  callbacks.order = CompareIds;
  callbacks.lookup = CompareIds;
  callbacks.eviction = RankAllEqual;
  callbacks.evictPredicate = NeverEvict;
  callbacks.construct = ConstructTransaction;
  return CacheTableCreate(table, kTransactionRecordLimit, kTransactionByteLimit, nullptr, &context,
                          sizeof context, &callbacks);
}

ResultCode OpenDayLog(const wchar_t* logDir, TimeValue day, FILE** file) {
  if (logDir == nullptr || file == nullptr) return kErrInvalidArgument;
  *file = nullptr;
  CalendarTime at{};
  if (SplitTime(day, &at) != kOk) return kErrOpenFailed;
  wchar_t name[261];
  std::swprintf(name, 261, L"kelb%04u%02u%02u.log", at.year, at.month, at.day);
  std::wstring path = JoinPath(logDir, name, false);
  *file = OpenStream(path.c_str(), "rb");
  if (*file == nullptr) {
    // File names may differ in letter case ("KELB20240311.LOG"): the
    // enumeration matches its mask ignoring case.
    DirEnum* search = nullptr;
    FileInfo info;
    if (DirEnumOpen(path.c_str(), kFileInfoName, &search, &info) == kOk) {
      *file = OpenStream(JoinPath(logDir, info.name, false).c_str(), "rb");
      DirEnumClose(search);
    }
  }
  return *file != nullptr ? kOk : kErrOpenFailed;
}

int ClassifyBlockReason(const char* text, uint32_t webFilterFlag, uint32_t blockedMask,
                        uint32_t* reason) {
  static const char* const kWords[] = {"VIRUS", "CONTENT", "BANNED", "NOTALLOWED",
                                       "BANCON", "SITE", "PHISHING"};
  uint32_t bits = 0;
  if (text != nullptr && text[0] != '\0') {
    for (uint32_t i = 0; i < 7; ++i) {
      if (CompareKeyNoCase(text, kWords[i]) == 0) {
        bits = 1u << i;
        break;
      }
    }
  }
  if (webFilterFlag != 0) bits |= kBlockWebFilter;
  if (bits == 0 && (blockedMask & kBlockNone) != 0) {
    if (reason != nullptr) *reason = kBlockNone;
    return 1;
  }
  if (reason != nullptr) *reason = bits;
  return (bits & blockedMask) != 0 ? 1 : 0;
}

ResultCode ReportOpenTransactions(CacheTable* table, uint32_t userValue) {
  return CacheTableForEach(table, ReportOpenTransaction, nullptr, &userValue);
}

ResultCode ParseDayLog(CacheTable* table, WebstatRun* run, FILE* file, uint32_t fileIndex,
                       TimeValue day, WebstatConditions* conditions, ProgressFile* progress,
                       JobEvent* job) {
  if (file == nullptr || table == nullptr || run == nullptr || conditions == nullptr) {
    return kErrInvalidArgument;
  }
  PrintDayName(L"parse kelb%04u%02u%02u.log\n", day, kNoTime);
  LoopControl control{progress, job, MeasureStream(file), 0};
  auto* buffers = new (std::nothrow) ParseBuffers;
  if (buffers == nullptr) return kErrNoMemory;
  LineReader reader;
  ResultCode result = LineReaderInit(&reader, file, 0);
  DayParse parse{table, run, conditions, fileIndex, day,
                 (conditions->outform & kWebOutSummary) != 0,
                 (conditions->outform & kWebOutSearch) != 0};
  LinePiece piece;
  while (result == kOk) {
    result = PollStop(control);
    if (result != kOk) break;
    int got = LineReaderNext(&reader, &piece);
    if (got <= 0) {
      if (got < 0) result = kErrReadFault;
      break;
    }
    CountLine(&control, piece.consumed);
    CutLineEnd(&piece);
    if (ReadProxyHead(piece.text, &buffers->line) != kOk) continue;
    HandleLine(&parse, &buffers->line, static_cast<uint32_t>(piece.offset), &buffers->templ);
  }
  LineReaderFree(&reader);
  delete buffers;
  return result;
}

ResultCode ReparseDayLog(ProgressFile* progress, JobEvent* job, const ReparseSpan* span,
                         const wchar_t* logDir, WebstatConditions* conditions, WebstatRun* run) {
  if (span == nullptr || logDir == nullptr || conditions == nullptr || run == nullptr) {
    return kErrInvalidArgument;
  }
  PrintDayName(L"re-parse kelb%04u%02u%02u.log, till %02u:%02u:%02u\n", span->day, span->till);
  uint32_t fileIndex = 0;
  ResultCode result = FindOrOpenLog(run, logDir, span->day, &fileIndex);
  if (result != kOk) return result;
  FILE* file = run->openFiles[fileIndex].file;
  LoopControl control{progress, job, MeasureStream(file), 0};
  auto* line = new (std::nothrow) ProxyLine;
  if (line == nullptr) return kErrNoMemory;
  const bool summary = (conditions->outform & kWebOutSummary) != 0;
  const std::vector<uint64_t> filter = BuildDoubtFilter(&run->doubts);
  LineReader reader;
  result = LineReaderInit(&reader, file, 0);
  LinePiece piece;
  while (result == kOk) {
    result = PollStop(control);
    if (result != kOk) break;
    int got = LineReaderNext(&reader, &piece);
    if (got <= 0) {
      if (got < 0) result = kErrReadFault;
      break;
    }
    CountLine(&control, piece.consumed);
    CutLineEnd(&piece);
    if (ReadProxyHead(piece.text, line) != kOk) continue;
    if (line->timeOfDay > span->till) break;
    // With summary output only openings and traffic count; without it, every
    // kind but traffic is taken as an opening.
    if (summary && line->kind != 'B' && line->kind != 'T') continue;
    if (!MayBeDoubted(filter, line->id)) continue;
    auto* entry = static_cast<DoubtEntry*>(RecordTableFind(&run->doubts, CompareDoubtKey, line->id));
    if (entry == nullptr) continue;
    ReadProxyTraffic(line);
    TimeValue time = span->day + line->timeOfDay;
    if (line->kind == 'T') {
      if (entry->state == 1 && run->countOnOpen != 0 && summary) {
        AddToTimeSeries(&run->summary.series, 0, time, 0, line->size5, 0, 0);
      }
    } else {
      ReparseOpening(run, conditions, entry, *line, fileIndex, static_cast<uint32_t>(piece.offset),
                     time);
    }
  }
  LineReaderFree(&reader);
  delete line;
  return result;
}

ResultCode MergeReparseSpans(std::vector<ReparseSpan>* spans, TimeValue day, TimeValue till,
                             uint32_t earlierDays) {
  if (spans == nullptr) return kErrInvalidArgument;
  if (earlierDays > kMaxEarlierDays) earlierDays = kMaxEarlierDays;
  uint32_t remaining = earlierDays + 1;  // days still to add, the current one included
  TimeValue current = day;
  TimeValue currentTill = till;
  size_t i = 0;
  for (; i < spans->size() && remaining > 0; ++i) {
    ReparseSpan& span = (*spans)[i];
    if (span.day > current) continue;
    if (span.day == current) {
      if (currentTill > span.till) span.till = currentTill;
      if (--remaining == 0) return kOk;
      current -= kTicksPerDay;
      currentTill = kTicksPerDay;
      continue;
    }
    // An older span: insert the missing days before it, then stop.
    uint64_t between = (current - span.day) / kTicksPerDay;
    uint32_t insert = static_cast<uint32_t>(between < remaining ? between : remaining);
    if (insert == 0) insert = 1;
    for (uint32_t k = 0; k < insert; ++k) {
      spans->insert(spans->begin() + static_cast<std::ptrdiff_t>(i + k),
                    ReparseSpan{current, currentTill});
      current -= kTicksPerDay;
      currentTill = kTicksPerDay;
    }
    return kOk;
  }
  while (remaining > 0) {
    spans->push_back({current, currentTill});
    current -= kTicksPerDay;
    currentTill = kTicksPerDay;
    --remaining;
  }
  return kOk;
}

void SortDoubts(WebstatRun* run) { RecordTableSort(&run->doubts, CompareDoubtSort, nullptr, 1); }

bool AnyDoubtLeft(WebstatRun* run) {
  uint32_t count = RecordTableCount(&run->doubts);
  for (uint32_t i = 0; i < count; ++i) {
    if (static_cast<const DoubtEntry*>(RecordTableAt(&run->doubts, i))->state == 0) return true;
  }
  return false;
}
