// The proxy log parsed into transactions.
#include "webstat/http_transactions.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

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
constexpr uint32_t kMaxEarlierDays = 7;

// A new record's texts: ip, user, host, each NUL-terminated.
struct RecordNames {
  uint32_t length;
  char text[kTransactionNamesMax];
};

// The texts of a record: ip, user, host.
void SplitNames(const char* names, const char** ip, const char** user, const char** host) {
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

// What the report of open transactions works with.
struct ReportContext {
  WebstatConditions* conditions;
  WebstatRun* run;
  uint32_t phase;
};

void ReportOpenTransaction(void* context, const WebTransaction* transaction, const char* names) {
  const auto* report = static_cast<const ReportContext*>(context);
  WebstatConditions* conditions = report->conditions;
  WebstatRun* run = report->run;
  if (transaction->state == 0) {
    RecordTableAppend(&run->doubts, transaction, sizeof(WebTransaction));
    return;
  }
  if (transaction->state != 1 || !VolumePasses(conditions, transaction->volume)) return;
  const char* ip = nullptr;
  const char* userName = nullptr;
  const char* host = nullptr;
  SplitNames(names, &ip, &userName, &host);
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
}

// The fixed part of a line's record.
WebTransaction LineRecord(const ProxyLine& line, uint32_t fileIndex, uint32_t offset,
                          TimeValue day, uint32_t state) {
  WebTransaction fixed{};
  std::memcpy(fixed.id, line.id, kTransactionIdSize);
  fixed.fileIndex = fileIndex;
  fixed.lineOffset = offset;
  fixed.time = day + line.timeOfDay;
  fixed.state = state;
  fixed.day = day;
  fixed.timeOfDay = line.timeOfDay;
  return fixed;
}

// The texts of an opening line; empty ones for a record made by traffic.
void FillNames(RecordNames* names, const ProxyLine& line, bool withTexts) {
  size_t used = 0;
  const char* texts[3] = {withTexts ? line.ip : "", withTexts ? line.user : "",
                          withTexts ? line.host : ""};
  for (const char* text : texts) {
    size_t length = std::strlen(text);
    std::memcpy(names->text + used, text, length + 1);
    used += length + 1;
  }
  names->length = static_cast<uint32_t>(used);
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

bool ConditionsNeedNames(const WebstatConditions* conditions) {
  return conditions->ip != nullptr || conditions->ipRangeCount != 0 || conditions->user != nullptr ||
         conditions->host != nullptr;
}

// The conditions on the closing line's own fields, each field read only when
// a test or the output needs it; on success every field the output uses is read.
bool EndLineMatches(const WebstatConditions* conditions, ProxyFields* fields, ProxyLine* line,
                    uint32_t* reason) {
  if (!VolumePasses(conditions, line->size6)) return false;
  if (conditions->code != nullptr) {
    ReadProxyEndSplit(fields, line, conditions->content != nullptr);
    if (!MatchPatternList(conditions->code, line->code, 1)) return false;
  } else {
    ReadProxyBlock(fields, line);
  }
  int passes = ClassifyBlockReason(line->reason, line->webFilterFlag, conditions->blockedMask,
                                   reason);
  if (conditions->blockedMask != 0 && passes == 0) return false;
  if (conditions->code == nullptr) ReadProxyEndSplit(fields, line, conditions->content != nullptr);
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
  TransactionTable* table;
  WebstatRun* run;
  WebstatConditions* conditions;
  uint32_t fileIndex;
  TimeValue day;
  bool summary;
  bool search;
  ProxyFields fields;  // of the line being handled
  LineView piece;      // the line as read
};

void HandleOpening(DayParse* parse, const ProxyLine& line, uint32_t offset, bool matching,
                   RecordNames* names) {
  TimeValue time = parse->day + line.timeOfDay;
  FillNames(names, line, true);
  uint32_t state = 0;
  TransactionTableUpsert(parse->table,
                         LineRecord(line, parse->fileIndex, offset, parse->day, matching ? 1 : 2),
                         names->text, names->length, line.size5, &state);
  if (matching && parse->run->countOnOpen != 0 && parse->summary) {
    AddToTimeSeries(&parse->run->summary.series, 0, time, 1, 0, 0, 0);
  }
}

void HandleTraffic(DayParse* parse, const ProxyLine& line, uint32_t offset, RecordNames* names) {
  FillNames(names, line, false);
  uint32_t state = 0;
  TransactionTableUpsert(parse->table, LineRecord(line, parse->fileIndex, offset, parse->day, 0),
                         names->text, names->length, line.size6, &state);
  if (parse->summary && parse->run->countOnOpen != 0 && state == 1) {
    AddToTimeSeries(&parse->run->summary.series, 0, parse->day + line.timeOfDay, 0, line.size6, 0,
                    0);
  }
}

// Whether a closing line passes the conditions (every field the output uses
// is read when it does).
bool ClosingLineMatches(DayParse* parse, ProxyLine* line, uint32_t* reason) {
  WebstatConditions* conditions = parse->conditions;
  if (ConditionsNeedNames(conditions)) {
    ReadProxyNames(&parse->fields, line);
    if (!NamesPass(conditions, line->ip, line->user, line->host)) return false;
  }
  line->size6 = ReadProxySize(&parse->fields, 6);
  if (!EndLineMatches(conditions, &parse->fields, line, reason)) return false;
  if (!ConditionsNeedNames(conditions)) ReadProxyNames(&parse->fields, line);
  return true;
}

void HandleEnd(DayParse* parse, ProxyLine* line, uint32_t offset) {
  // The table is empty when only closing lines count (a blocked condition).
  // The line is read while its record is fetched, and removed either way.
  const bool tableInUse = TransactionTableCount(parse->table) != 0;
  if (tableInUse) {
    ReadProxyId(&parse->fields, line);
    TransactionTablePrefetch(parse->table, line->id);
  }
  uint32_t reason = 0;
  const bool matching = ClosingLineMatches(parse, line, &reason);
  uint64_t volumeSeen = 0;
  const bool found = tableInUse && TransactionTableRemove(parse->table, line->id, &volumeSeen);
  if (!matching) return;
  if (!tableInUse) ReadProxyId(&parse->fields, line);
  WebstatConditions* conditions = parse->conditions;
  TimeValue time = parse->day + line->timeOfDay;
  WebstatRun* run = parse->run;
  if (parse->search) {
    SearchHitBlock block{parse->fileIndex, offset, time, 0};
    AddSearchHit(&run->searchHits, &block, conditions->sortColumn, line->id, line->user, line->ip,
                 line->host, line->size6);
    // (Offsets past 32 bits are re-read where the hit's offset points.)
    if (parse->piece.offset == offset) {
      KeepHitLine(&run->hitLines, parse->fileIndex, offset, parse->piece.text, parse->piece.length);
    }
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

void HandleLine(DayParse* parse, ProxyLine* line, uint32_t offset, RecordNames* names) {
  WebstatConditions* conditions = parse->conditions;
  TimeValue time = parse->day + line->timeOfDay;
  if (conditions->start != 0 && time < conditions->start) return;
  if (conditions->end != 0 && time > conditions->end) return;
  const char kind = line->kind;
  if (kind == 'E' && (conditions->phaseMask & kPhaseFinished) == 0) {
    ReadProxyId(&parse->fields, line);
    TransactionTableRemove(parse->table, line->id, nullptr);
    return;
  }
  if (kind != 'E' && (conditions->blockedMask & ~kBlockNone) != 0) return;
  if (kind == 'R') {
    if (parse->run->countOnOpen != 0) {
      ReportOpenTransactions(parse->table, conditions, parse->run, 0);
    }
    TransactionTableClear(parse->table);
    return;
  }
  if (kind == 'E') {
    HandleEnd(parse, line, offset);
  } else if (kind == 'B') {
    ReadProxyId(&parse->fields, line);
    TransactionTablePrefetch(parse->table, line->id);
    line->size5 = ReadProxySize(&parse->fields, 5);
    ReadProxyNames(&parse->fields, line);
    HandleOpening(parse, *line, offset, NamesPass(conditions, line->ip, line->user, line->host),
                  names);
  } else if (kind == 'T') {
    ReadProxyId(&parse->fields, line);
    line->size6 = ReadProxySize(&parse->fields, 6);
    HandleTraffic(parse, *line, offset, names);
  }
}

// Whether the line's kind (field 3) is "E": lines of other kinds are skipped,
// whatever their time, when only closing lines count.
bool IsClosingLine(ProxyFields* fields) {
  ExtendProxyFields(fields, 3);
  const TextView kind = TrimField(fields->Field(3), kProxyTimeField);
  return kind.length != 0 && kind.text[0] == 'E';
}

// The reason words a closing line must hold to pass the blocked condition,
// false when lines without one may pass it too (the web filter flag, or
// "not blocked", is asked for): then no line can be skipped unread.
bool ReasonWordsNeeded(const WebstatConditions* conditions, LineWords* words) {
  static const char* const kLowerWords[] = {"virus",  "content", "banned",  "notallowed",
                                            "bancon", "site",    "phishing"};
  const uint32_t mask = conditions->blockedMask;
  if ((mask & ~kBlockNone) == 0 || (mask & (kBlockWebFilter | kBlockNone)) != 0) return false;
  words->count = 0;
  for (uint32_t i = 0; i < 7; ++i) {
    if ((mask & (1u << i)) != 0) words->words[words->count++] = kLowerWords[i];
  }
  return true;
}

// Counts lines the skip passed over; the cancellation poll and the progress
// see the same line numbers as when each line is read.
void CountSkipped(LoopControl* control, uint32_t skipped, uint64_t position) {
  control->lines += skipped - 1;
  CountLine(control, position);
}

// Buffers of one parse, allocated once per log.
struct ParseBuffers {
  ProxyLine line;
  RecordNames names;
  DayParse parse;
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

ResultCode CreateTransactionTable(TransactionTable** table) {
  return TransactionTableCreate(kTransactionRecordLimit, kTransactionByteLimit, table);
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

void ReportOpenTransactions(TransactionTable* table, WebstatConditions* conditions,
                            WebstatRun* run, uint32_t userValue) {
  ReportContext context{conditions, run, userValue == 0 ? kPhaseFinished : kPhaseIncomplete};
  if ((conditions->phaseMask & context.phase) == 0) return;
  TransactionTableForEach(table, ReportOpenTransaction, &context);
}

ResultCode ParseDayLog(TransactionTable* table, WebstatRun* run, FILE* file, uint32_t fileIndex,
                       TimeValue day, WebstatConditions* conditions, ProgressFile* progress,
                       JobEvent* job) {
  if (file == nullptr || table == nullptr || run == nullptr || conditions == nullptr) {
    return kErrInvalidArgument;
  }
  PrintDayName(L"parse kelb%04u%02u%02u.log\n", day, kNoTime);
  LoopControl control{progress, job, MeasureStream(file), 0};
  auto* buffers = new (std::nothrow) ParseBuffers;
  if (buffers == nullptr) return kErrNoMemory;
  BlockLineReader reader;
  ResultCode result = BlockLineReaderInit(&reader, file);
  DayParse& parse = buffers->parse;
  parse = DayParse{table, run, conditions, fileIndex, day,
                   (conditions->outform & kWebOutSummary) != 0,
                   (conditions->outform & kWebOutSearch) != 0, {}, {}};
  LineView& piece = parse.piece;
  PieceFields ends;
  // When only closing lines count, most lines are known by their kind (field
  // 3): the rest of the line is split only for them.
  const bool closingOnly = (conditions->blockedMask & ~kBlockNone) != 0;
  const uint32_t separators = closingOnly ? 3 : kPieceSeparatorsMax;
  // Closing lines that must name a block reason: lines without any of the
  // words are passed over without being read (they match nothing and change
  // nothing, the table staying empty), up to the next cancellation poll.
  LineWords words;
  const bool skipping = ReasonWordsNeeded(conditions, &words);
  while (result == kOk) {
    result = PollStop(control);
    if (result != kOk) break;
    if (skipping) {
      const uint32_t room = kCancelPollLines - control.lines % kCancelPollLines;
      const uint32_t skipped = BlockLineReaderSkip(&reader, ';', words, room);
      if (skipped != 0) {
        CountSkipped(&control, skipped, BlockLineReaderPosition(reader));
        continue;
      }
    }
    int got = BlockLineReaderNextSplit(&reader, ';', separators, &piece, &ends);
    if (got <= 0) {
      if (got < 0) result = kErrReadFault;
      break;
    }
    CountLine(&control, piece.consumed);
    SplitProxyPiece(piece.text, piece.length, ends, separators, &parse.fields);
    if (closingOnly && !IsClosingLine(&parse.fields)) continue;
    if (ReadProxyTimeAndKind(&parse.fields, &buffers->line) != kOk) continue;
    HandleLine(&parse, &buffers->line, static_cast<uint32_t>(piece.offset), &buffers->names);
  }
  BlockLineReaderFree(&reader);
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
  auto* fields = new (std::nothrow) ProxyFields;
  if (line == nullptr || fields == nullptr) {
    delete line;
    delete fields;
    return kErrNoMemory;
  }
  const bool summary = (conditions->outform & kWebOutSummary) != 0;
  const std::vector<uint64_t> filter = BuildDoubtFilter(&run->doubts);
  BlockLineReader reader;
  result = BlockLineReaderInit(&reader, file);
  LineView piece;
  PieceFields ends;
  while (result == kOk) {
    result = PollStop(control);
    if (result != kOk) break;
    int got = BlockLineReaderNextSplit(&reader, ';', kPieceSeparatorsMax, &piece, &ends);
    if (got <= 0) {
      if (got < 0) result = kErrReadFault;
      break;
    }
    CountLine(&control, piece.consumed);
    SplitProxyPiece(piece.text, piece.length, ends, kPieceSeparatorsMax, fields);
    if (ReadProxyHeadSplit(fields, line) != kOk) continue;
    if (line->timeOfDay > span->till) break;
    // With summary output only openings and traffic count; without it, every
    // kind but traffic is taken as an opening.
    if (summary && line->kind != 'B' && line->kind != 'T') continue;
    if (!MayBeDoubted(filter, line->id)) continue;
    auto* entry = static_cast<DoubtEntry*>(RecordTableFind(&run->doubts, CompareDoubtKey, line->id));
    if (entry == nullptr) continue;
    ReadProxyTrafficSplit(fields, line);
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
  BlockLineReaderFree(&reader);
  delete line;
  delete fields;
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
