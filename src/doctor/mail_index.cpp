// SMTP, RBL and postponer passes that collect and correlate the messages of a search.
#include "doctor/mail_index.h"

#include <algorithm>
#include <cstring>
#include <cwchar>

#include "common/dir_enum.h"
#include "common/line_reader.h"
#include "common/list_match.h"
#include "common/paths.h"
#include "common/text_match.h"
#include "common/time.h"
#include "doctor/search_conditions.h"
#include "platform/fs.h"
#include "platform/stream.h"

namespace {

constexpr size_t kInitialRecords = 10000;
constexpr size_t kInitialStore = 720000;
constexpr uint32_t kProgressLines = 10000;
constexpr uint64_t kProgressSizeCap = 0x7FFFFFFF;
constexpr size_t kSortTextMax = 128;
constexpr uint32_t kSmtpFields = 12;
constexpr uint32_t kRblFields = 14;
constexpr uint32_t kPostFields = 9;
constexpr uint32_t kUnlimitedFiles = 60;
constexpr uint32_t kRblWindow = 2;

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= 32; }

// Reports progress within a file every kProgressLines lines.
struct FileProgress {
  MailProgressFn callback;
  void* context;
  uint64_t size;
  uint32_t lines = 0;
};

int TickLine(FileProgress* progress, uint64_t consumed) {
  if (++progress->lines < kProgressLines) return 0;
  progress->lines = 0;
  if (progress->callback == nullptr) return 0;
  uint64_t done = std::min<uint64_t>(consumed, progress->size);
  return progress->callback(progress->context, -1, static_cast<int>(done * 100 / progress->size),
                            nullptr);
}

uint64_t ProgressSize(uint64_t size) {
  return (size == 0 || size > kProgressSizeCap) ? kProgressSizeCap : size;
}

int Report(MailProgressFn callback, void* context, int overall, int item, const wchar_t* text) {
  return callback != nullptr ? callback(context, overall, item, text) : 0;
}

// The pieces of a file, each handed to handleLine(text, length, offset).
template <typename LineFn>
ResultCode ReadLines(FILE* file, FileProgress* progress, LineFn handleLine) {
  LineReader reader;
  ResultCode result = LineReaderInit(&reader, file, 0);
  if (result != kOk) return result;
  LinePiece piece;
  int got = 0;
  while ((got = LineReaderNext(&reader, &piece)) == 1) {
    result = handleLine(piece.text, std::strlen(piece.text), piece.offset);
    if (result == kOk) result = TickLine(progress, piece.consumed);
    if (result != kOk) break;
  }
  if (result == kOk && got < 0) result = got;
  LineReaderFree(&reader);
  return result;
}

// ---- SMTP pass ----------------------------------------------------------------

struct SmtpScan {
  const SearchConditions* conditions;
  MailIndex* mail;
  TimeValue day;
  uint32_t direction;
  uint32_t fileIndex;
  size_t added;
};

bool RecipientsMatch(char* recipients, char* const* patterns) {
  if (patterns == nullptr) return true;
  char* cursor = recipients;
  for (;;) {
    char* comma = std::strchr(cursor, ',');
    if (comma != nullptr) *comma = '\0';
    char* item = TrimBlanks(cursor);
    bool match = MatchPatternList(patterns, item, 1);
    if (comma != nullptr) *comma = ',';
    if (match) return true;
    if (comma == nullptr) return false;
    cursor = comma + 1;
  }
}

bool ClientMatches(const char* client, const SearchConditions* conditions) {
  if (conditions->ipRangeCount == 0 && conditions->ip == nullptr) return true;
  return MatchAddressOrPattern(client, conditions->ip, conditions->ipRanges,
                               conditions->ipRangeCount) != 0;
}

size_t SortTextSize(uint32_t column, const char* sender, const char* recipients) {
  if (column == 1) return std::min(std::strlen(sender), kSortTextMax) + 1;
  if (column == 2) return std::min(std::strcspn(recipients, ","), kSortTextMax) + 1;
  if (column == 3) return 4;
  return 0;
}

void FillSortText(uint32_t column, const char* sender, const char* recipients, const char* client,
                  char* out) {
  if (column == 1 || column == 2) {
    const char* text = column == 1 ? sender : recipients;
    size_t length = column == 1 ? std::strlen(text) : std::strcspn(text, ",");
    length = std::min(length, kSortTextMax);
    std::memcpy(out, text, length);
    out[length] = '\0';
  } else if (column == 3) {
    uint32_t address = 0;
    ParseIPv4(client, &address);
    uint32_t value = AddressOrderValue(address);
    std::memcpy(out, &value, 4);
  }
}

ResultCode AppendRecord(MailIndex* mail, const MailRecord& record, const char* sender,
                        const char* recipients, const char* client) {
  size_t textSize = SortTextSize(mail->sortColumn, sender, recipients);
  size_t total = (sizeof(MailRecord) + textSize + 7) & ~static_cast<size_t>(7);
  size_t at = mail->store.size();
  if (at + total > UINT32_MAX) return kErrNoMemory;
  mail->store.resize(at + total);
  mail->index.push_back(static_cast<uint32_t>(at));
  auto* stored = reinterpret_cast<MailRecord*>(mail->store.data() + at);
  *stored = record;
  stored->sortTextSize = static_cast<uint32_t>(textSize);
  FillSortText(mail->sortColumn, sender, recipients, client, reinterpret_cast<char*>(stored + 1));
  return kOk;
}

ResultCode HandleSmtpLine(SmtpScan* scan, char* line, size_t length, uint64_t offset) {
  const SearchConditions* conditions = scan->conditions;
  char* fields[kSmtpFields];
  SplitLogFields(line, length, fields, kSmtpFields);
  uint64_t ticks = 0;
  if (ParseTimeOfDay(fields[kLogFieldTime], &ticks, nullptr, nullptr, nullptr) != kOk) return kOk;
  TimeValue time = scan->day + ticks;
  if (conditions->start != 0 && time < conditions->start) return kOk;
  if (conditions->end != 0 && time > conditions->end) return kOk;
  const char* sender = fields[kSmtpFieldSender];
  if (conditions->from != nullptr && !MatchPatternList(conditions->from, sender, 1)) return kOk;
  char* recipients = fields[kSmtpFieldRecipients];
  if (!RecipientsMatch(recipients, conditions->to)) return kOk;
  const char* client = fields[kSmtpFieldClient];
  if (!ClientMatches(client, conditions)) return kOk;
  char result = fields[kSmtpFieldResult][0];
  uint32_t flags = 0;
  if (result == 'A' || result == 'a') {
    if ((conditions->flags & 0x3E0) == 0) return kOk;
    flags = scan->direction | kMsgAccepted | kMsgPend;
  } else {
    if ((conditions->flags & kMsgReject) == 0) return kOk;
    flags = scan->direction | kMsgReject;
  }
  const char* id = fields[kSmtpFieldMessageId];
  if (conditions->id != nullptr && !MatchPatternList(conditions->id, id, 1)) return kOk;
  MailRecord record{};
  DecodeMessageKey(id, std::strlen(id), &record.key);
  record.smtpFlags = ParseHexNumber(fields[kSmtpFieldFlags]);
  if (conditions->smtpFlagMask != 0 && (record.smtpFlags & conditions->smtpFlagMask) == 0) {
    return kOk;
  }
  record.smtpOffset = static_cast<uint32_t>(offset);
  record.smtpFile = scan->fileIndex;
  record.time = time;
  record.flags = flags;
  ResultCode stored = AppendRecord(scan->mail, record, sender, recipients, client);
  if (stored == kOk) ++scan->added;
  return stored;
}

uint32_t ExpectedFiles(const SearchConditions* conditions) {
  uint32_t both = (conditions->flags & kMsgDirections) == kMsgDirections ? 2 : 1;
  if (conditions->start == 0) return kUnlimitedFiles * both;
  TimeValue last = conditions->end;
  if (last == 0) last = ToLocalTime(GetRunStartTime() != 0 ? GetRunStartTime() : NowUtc());
  TimeValue first = StartOfDay(conditions->start);
  uint64_t days = last > first ? (StartOfDay(last) - first) / kTicksPerDay : 0;
  return static_cast<uint32_t>(std::min<uint64_t>(days + 1, 100000)) * both;
}

struct PassCounter {
  uint32_t done = 0;
  uint32_t expected = 1;
  int base = 0;
  int limit = 25;
  int Overall() const {
    int value = base + static_cast<int>(static_cast<uint64_t>(done) * 25 / (expected ? expected : 1));
    return std::min(limit, value);
  }
};

ResultCode ScanSmtpFile(const wchar_t* logDir, const FileInfo& info, TimeValue day,
                        uint32_t direction, const SearchConditions* conditions,
                        MailProgressFn callback, void* context, PassCounter* counter,
                        MailIndex* mail) {
  int result = Report(callback, context, counter->Overall(), 0, info.name);
  if (result != 0) return result;
  std::wstring path = JoinPath(logDir, info.name, false);
  FILE* file = OpenStream(path.c_str(), "rb");
  if (file == nullptr) return kErrOpenFailed;
  SmtpScan scan{conditions, mail, day, direction, static_cast<uint32_t>(mail->files.size()), 0};
  FileProgress progress{callback, context, ProgressSize(info.size)};
  result = ReadLines(file, &progress, [&scan](char* line, size_t length, uint64_t offset) {
    return HandleSmtpLine(&scan, line, length, offset);
  });
  if (result == kOk && scan.added != 0) {
    mail->files.push_back(LogFileEntry{day, file, info.name});
    file = nullptr;
  }
  if (file != nullptr) std::fclose(file);
  if (result != kOk) return result;
  ++counter->done;
  return Report(callback, context, counter->Overall(), 100, info.name);
}

ResultCode ScanSmtpDirection(const wchar_t* logDir, uint32_t direction,
                             const SearchConditions* conditions, MailProgressFn callback,
                             void* context, PassCounter* counter, MailIndex* mail) {
  const wchar_t* mask = direction == kMsgIn ? L"smtp*.log" : L"smtp-out*.log";
  const char* templates = direction == kMsgIn ? "smtp*yyyymmdd*.log\0" : "smtp-out*yyyymmdd*.log\0";
  TimeValue firstDay = conditions->start != 0 ? StartOfDay(conditions->start) : 0;
  TimeValue lastDay = conditions->end != 0 ? StartOfDay(conditions->end) : 0;
  std::wstring wildcard = JoinPath(logDir, mask, false);
  DirEnum* search = nullptr;
  FileInfo info;
  uint32_t fields = kFileInfoName | kFileInfoMode | kFileInfoSize;
  ResultCode result = DirEnumOpen(wildcard.c_str(), fields, &search, &info);
  if (result != kOk) return kOk;  // no such files or directory
  while (result == kOk) {
    TimeValue day = 0;
    if ((info.mode & kFileModeRegular) != 0 &&
        MatchDatePatternWide(1, info.name, -1, templates, &day) == 1 &&
        (firstDay == 0 || day >= firstDay) && (lastDay == 0 || day <= lastDay)) {
      // A name with no calendar date (smtp20080231.log) fits with day 0.
      result = ScanSmtpFile(logDir, info, StartOfDay(day), direction, conditions, callback,
                            context, counter, mail);
      if (result != kOk) break;
    }
    result = DirEnumNext(search, fields, &info);
  }
  DirEnumClose(search);
  return result == kErrNoMoreEntries ? kOk : result;
}

uint64_t KeyPrefix(const MessageKey& key) {
  uint64_t value = 0;
  for (int i = 0; i < 8; ++i) value = (value << 8) | key.bytes[i];
  return value;
}

uint64_t FilterSlot(uint64_t prefix, const MessageKey& key, uint32_t shift) {
  uint64_t mixed = prefix ^ (static_cast<uint64_t>(key.bytes[8]) << 56 | key.bytes[19]);
  return (mixed * 0x9E3779B97F4A7C15ULL) >> shift;
}

void BuildKeyLookup(MailIndex* mail) {
  size_t count = mail->index.size();
  mail->keyPrefixes.resize(count);
  uint32_t bits = 16;
  while (bits < 40 && (uint64_t{1} << bits) < count * 16) ++bits;
  mail->filterShift = 64 - bits;
  mail->keyFilter.assign((uint64_t{1} << bits) / 64, 0);
  for (size_t i = 0; i < count; ++i) {
    const MailRecord* record = IndexRecord(mail, i);
    uint64_t prefix = KeyPrefix(record->key);
    mail->keyPrefixes[i] = prefix;
    uint64_t slot = FilterSlot(prefix, record->key, mail->filterShift);
    mail->keyFilter[slot / 64] |= uint64_t{1} << (slot % 64);
  }
}

int CompareRecordKeys(MailIndex* mail, uint32_t a, uint32_t b) {
  const auto* ra = reinterpret_cast<const MailRecord*>(mail->store.data() + a);
  const auto* rb = reinterpret_cast<const MailRecord*>(mail->store.data() + b);
  return CompareMessageKeys(ra->key, rb->key);
}

// ---- RBL and postponer passes ------------------------------------------------

bool FileListed(const MailIndex* mail, const wchar_t* name) {
  for (const LogFileEntry& entry : mail->files) {
    if (entry.name == name) return true;
  }
  return false;
}

std::wstring DayFileName(const wchar_t* prefix, TimeValue day) {
  uint32_t year = 0, month = 0, dayOfMonth = 0;
  SplitTime(day, &year, &month, &dayOfMonth, nullptr, nullptr, nullptr, nullptr);
  wchar_t name[64];
  std::swprintf(name, 64, L"%ls%04u%02u%02u.log", prefix, year, month, dayOfMonth);
  return name;
}

template <typename LineFn>
ResultCode ScanDayFiles(const wchar_t* logDir, const std::vector<ScanDay>& days,
                        const wchar_t* inPrefix, const wchar_t* outPrefix, int base,
                        MailProgressFn callback, void* context, MailIndex* mail,
                        LineFn handleLine) {
  PassCounter counter;
  counter.base = base;
  counter.limit = base + 25;
  counter.expected = 0;
  for (const ScanDay& day : days) {
    counter.expected += ((day.directions & kMsgIn) != 0) + ((day.directions & kMsgOut) != 0);
  }
  for (const ScanDay& day : days) {
    for (uint32_t direction : {kMsgIn, kMsgOut}) {
      if ((day.directions & direction) == 0) continue;
      std::wstring name = DayFileName(direction == kMsgIn ? inPrefix : outPrefix, day.day);
      int result = Report(callback, context, counter.Overall(), 0, name.c_str());
      if (result != 0) return result;
      ++counter.done;
      if (FileListed(mail, name.c_str())) continue;
      std::wstring path = JoinPath(logDir, name.c_str(), false);
      FILE* file = OpenStream(path.c_str(), "rb");
      if (file == nullptr) {
        mail->files.push_back(LogFileEntry{0, nullptr, name});
        continue;
      }
      uint64_t size = 0;
      GetPathSize(path.c_str(), &size);
      FileProgress progress{callback, context, ProgressSize(size)};
      uint32_t fileIndex = static_cast<uint32_t>(mail->files.size());
      result = ReadLines(file, &progress, [&](char* line, size_t length, uint64_t offset) {
        return handleLine(line, length, offset, fileIndex, day.day);
      });
      if (result != kOk) {
        std::fclose(file);
        return result;
      }
      mail->files.push_back(LogFileEntry{0, file, name});
    }
  }
  return kOk;
}

// Key of field `index` read straight from the line, without splitting it.
bool PeekKey(const char* line, size_t length, uint32_t index, MessageKey* key) {
  const char* cursor = line;
  const char* end = line + length;
  for (uint32_t i = 0; i < index; ++i) {
    const char* stop = static_cast<const char*>(std::memchr(cursor, ';', static_cast<size_t>(end - cursor)));
    if (stop == nullptr) return false;
    cursor = stop + 1;
  }
  while (cursor < end && IsBlank(*cursor)) ++cursor;
  DecodeMessageKey(cursor, static_cast<size_t>(end - cursor), key);
  return true;
}

// Kind field of a postponer line: 'S', 'E' or 0 for any other kind.
char PostKind(const char* line, size_t length) {
  const char* end = line + length;
  const char* cursor = line;
  for (int i = 0; i < 2; ++i) {
    const char* stop = static_cast<const char*>(std::memchr(cursor, ';', static_cast<size_t>(end - cursor)));
    if (stop == nullptr) return 0;
    cursor = stop + 1;
  }
  while (cursor < end && IsBlank(*cursor)) ++cursor;
  if (cursor >= end || (*cursor != 'S' && *cursor != 'E')) return 0;
  const char* after = cursor + 1;
  while (after < end && IsBlank(*after)) ++after;
  return (after == end || *after == ';') ? *cursor : 0;
}

ResultCode HandleRblLine(MailIndex* mail, char* line, size_t length, uint64_t offset,
                         uint32_t fileIndex) {
  // Most lines belong to no candidate: look the key up before splitting.
  MessageKey key;
  if (!PeekKey(line, length, kRblFieldMessageId, &key)) return kOk;
  MailRecord* record = FindRecordByKey(mail, key);
  if (record == nullptr || (record->flags & kMsgHasRbl) != 0) return kOk;
  char* fields[kRblFields];
  SplitLogFields(line, length, fields, kRblFields);
  record->rblOffset = static_cast<uint32_t>(offset);
  record->rblFile = fileIndex;
  record->flags |= kMsgHasRbl;
  if (WildcardMatch(1, fields[kRblFieldVirus], "VIRUS")) record->flags |= kMsgVirus;
  if (WildcardMatch(1, fields[kRblFieldSpam], "SPAM")) record->flags |= kMsgSpam;
  if (ParseSignedDecimal(fields[kRblFieldVerdict]) == kRblVerdictStopped) {
    record->flags = (record->flags & ~kMsgPend) | kMsgStop;
  } else {
    record->flags |= kMsgPassedRbl;
  }
  record->rblFlags = ParseHexNumber(fields[kRblFieldFlags]);
  return kOk;
}

ResultCode HandlePostLine(MailIndex* mail, char* line, size_t length, uint64_t offset,
                          uint32_t fileIndex, TimeValue day) {
  char kind0 = PostKind(line, length);
  MessageKey peeked;
  uint32_t idField = kind0 != 0 ? kPostFieldAnnounceId : kPostFieldMessageId;
  if (!PeekKey(line, length, idField, &peeked)) return kOk;
  const MailRecord* candidate = FindRecordByKey(mail, peeked);
  if (candidate == nullptr || (candidate->flags & kMsgPassedRbl) == 0) return kOk;
  char* fields[kPostFields];
  SplitLogFields(line, length, fields, kPostFields);
  uint64_t ticks = 0;
  if (ParseTimeOfDay(fields[kLogFieldTime], &ticks, nullptr, nullptr, nullptr) != kOk) return kOk;
  const char* kind = fields[kPostFieldKind];
  bool announce = std::strcmp(kind, "S") == 0;
  bool ended = std::strcmp(kind, "E") == 0;
  MessageKey key;
  const char* id = fields[announce || ended ? kPostFieldAnnounceId : kPostFieldMessageId];
  DecodeMessageKey(id, std::strlen(id), &key);
  MailRecord* record = FindRecordByKey(mail, key);
  if (record == nullptr || (record->flags & kMsgPassedRbl) == 0) return kOk;
  if (announce) {
    record->announced += static_cast<uint32_t>(ParseSignedDecimal(fields[kPostFieldAnnounceCount]));
  } else if (ended) {
    record->ended += 1;
  } else {
    record->flags |= PostStatusBit(fields[kPostFieldStatus]);
    mail->posts.push_back(PostEntry{static_cast<uint32_t>(offset), fileIndex, day, key});
  }
  return kOk;
}

bool PostBefore(const PostEntry& a, const PostEntry& b) {
  int keys = CompareMessageKeys(a.key, b.key);
  if (keys != 0) return keys < 0;
  if (a.day != b.day) return a.day < b.day;
  return a.offset < b.offset;
}

void SettlePostEntries(MailIndex* mail) {
  std::make_heap(mail->posts.begin(), mail->posts.end(), PostBefore);
  std::sort_heap(mail->posts.begin(), mail->posts.end(), PostBefore);
  size_t count = mail->posts.size();
  for (size_t run = 0; run < count;) {
    size_t next = run + 1;
    while (next < count && CompareMessageKeys(mail->posts[next].key, mail->posts[run].key) == 0) {
      ++next;
    }
    MailRecord* record = FindRecordByKey(mail, mail->posts[run].key);
    if (record != nullptr) {
      record->flags |= kMsgHasPost;
      record->firstPost = static_cast<uint32_t>(run);
      if (record->ended != 0 && record->announced <= record->ended) {
        record->flags = (record->flags & ~kMsgPend) | kMsgFin;
      }
    }
    run = next;
  }
}

}  // namespace

uint32_t SplitLogFields(char* line, size_t length, char** fields, uint32_t maxFields) {
  char* begin[32];
  char* end[32];
  if (maxFields > 32) maxFields = 32;
  uint32_t count = 0;
  char* cursor = line;
  char* lineEnd = line + length;
  while (count < maxFields) {
    char* stop = static_cast<char*>(std::memchr(cursor, ';', static_cast<size_t>(lineEnd - cursor)));
    begin[count] = cursor;
    end[count] = stop != nullptr ? stop : lineEnd;
    ++count;
    if (stop == nullptr) break;
    cursor = stop + 1;
  }
  for (uint32_t i = 0; i < count; ++i) {
    char* b = begin[i];
    char* e = end[i];
    while (b < e && IsBlank(*b)) ++b;
    while (e > b && IsBlank(e[-1])) --e;
    *e = '\0';
    fields[i] = b;
  }
  // Missing fields are the line's own terminating NUL, as writable as the rest.
  for (uint32_t i = count; i < maxFields; ++i) fields[i] = lineEnd;
  return count;
}

ResultCode MailIndexCreate(MailIndex* mail) {
  if (mail == nullptr) return kErrInvalidArgument;
  mail->store.reserve(kInitialStore);
  mail->index.reserve(kInitialRecords);
  mail->posts.reserve(kInitialRecords);
  return kOk;
}

void MailIndexRelease(MailIndex* mail) {
  if (mail == nullptr) return;
  for (LogFileEntry& entry : mail->files) {
    if (entry.file != nullptr) std::fclose(entry.file);
  }
  std::vector<uint8_t>().swap(mail->store);
  std::vector<uint32_t>().swap(mail->index);
  std::vector<LogFileEntry>().swap(mail->files);
  std::vector<PostEntry>().swap(mail->posts);
  std::vector<uint64_t>().swap(mail->keyPrefixes);
  std::vector<uint64_t>().swap(mail->keyFilter);
}

ResultCode RunSmtpPass(const wchar_t* logDir, const SearchConditions* conditions,
                       MailProgressFn callback, void* context, MailIndex* mail) {
  if (logDir == nullptr || conditions == nullptr || mail == nullptr) return kErrInvalidArgument;
  mail->sortColumn = conditions->sortColumn;
  PassCounter counter;
  counter.expected = ExpectedFiles(conditions);
  for (uint32_t direction : {kMsgIn, kMsgOut}) {
    if ((conditions->flags & direction) == 0) continue;
    ResultCode result =
        ScanSmtpDirection(logDir, direction, conditions, callback, context, &counter, mail);
    if (result != kOk) return result;
  }
  auto byKey = [mail](uint32_t a, uint32_t b) { return CompareRecordKeys(mail, a, b) < 0; };
  std::make_heap(mail->index.begin(), mail->index.end(), byKey);
  std::sort_heap(mail->index.begin(), mail->index.end(), byKey);
  BuildKeyLookup(mail);
  return kOk;
}

std::vector<ScanDay> BuildScanDays(MailIndex* mail, uint32_t selectionBit, uint32_t window) {
  std::vector<ScanDay> days;
  auto addDay = [&days](TimeValue day, uint32_t directions) {
    auto at = std::lower_bound(days.begin(), days.end(), day,
                               [](const ScanDay& d, TimeValue t) { return d.day < t; });
    if (at != days.end() && at->day == day) {
      at->directions |= directions;
    } else {
      days.insert(at, ScanDay{directions, day});
    }
  };
  for (size_t i = 0; i < mail->index.size(); ++i) {
    const MailRecord* record = IndexRecord(mail, i);
    if ((record->flags & selectionBit) == 0) continue;
    addDay(StartOfDay(record->time), record->flags & kMsgDirections);
  }
  std::vector<ScanDay> base = days;
  for (const ScanDay& day : base) {
    for (uint32_t k = 1; k < window; ++k) addDay(day.day + k * kTicksPerDay, day.directions);
  }
  return days;
}

ResultCode RunRblPass(const wchar_t* logDir, MailProgressFn callback, void* context,
                      MailIndex* mail) {
  if (logDir == nullptr || mail == nullptr) return kErrInvalidArgument;
  std::vector<ScanDay> days = BuildScanDays(mail, kMsgAccepted, kRblWindow);
  return ScanDayFiles(logDir, days, L"rbl", L"rbl-out", 25, callback, context, mail,
                      [mail](char* line, size_t length, uint64_t offset, uint32_t fileIndex,
                             TimeValue) { return HandleRblLine(mail, line, length, offset, fileIndex); });
}

ResultCode RunPostponerPass(const wchar_t* logDir, uint32_t postmax, MailProgressFn callback,
                            void* context, MailIndex* mail) {
  if (logDir == nullptr || mail == nullptr) return kErrInvalidArgument;
  std::vector<ScanDay> days = BuildScanDays(mail, kMsgPassedRbl, postmax);
  ResultCode result = ScanDayFiles(
      logDir, days, L"postponer", L"postponer-out", 50, callback, context, mail,
      [mail](char* line, size_t length, uint64_t offset, uint32_t fileIndex, TimeValue day) {
        return HandlePostLine(mail, line, length, offset, fileIndex, day);
      });
  if (result != kOk) return result;
  SettlePostEntries(mail);
  return kOk;
}

MailRecord* FindRecordByKey(MailIndex* mail, const MessageKey& key) {
  if (!mail->keyFilter.empty() && mail->keyPrefixes.size() == mail->index.size()) {
    uint64_t prefix = KeyPrefix(key);
    uint64_t slot = FilterSlot(prefix, key, mail->filterShift);
    if ((mail->keyFilter[slot / 64] & (uint64_t{1} << (slot % 64))) == 0) return nullptr;
    auto at = std::lower_bound(mail->keyPrefixes.begin(), mail->keyPrefixes.end(), prefix);
    for (; at != mail->keyPrefixes.end() && *at == prefix; ++at) {
      MailRecord* record = IndexRecord(mail, static_cast<size_t>(at - mail->keyPrefixes.begin()));
      int order = CompareMessageKeys(key, record->key);
      if (order == 0) return record;
      if (order < 0) break;
    }
    return nullptr;
  }
  size_t low = 0;
  size_t high = mail->index.size();
  while (low < high) {
    size_t middle = low + (high - low) / 2;
    MailRecord* record = IndexRecord(mail, middle);
    int order = CompareMessageKeys(key, record->key);
    if (order == 0) return record;
    if (order < 0) {
      high = middle;
    } else {
      low = middle + 1;
    }
  }
  return nullptr;
}

size_t ReadIndexedLine(const MailIndex* mail, uint32_t fileIndex, uint32_t offset, char* buffer,
                       size_t capacity) {
  if (capacity == 0) return 0;
  buffer[0] = '\0';
  if (fileIndex >= mail->files.size() || mail->files[fileIndex].file == nullptr) return 0;
  size_t length = 0;
  if (ReadLineAt(mail->files[fileIndex].file, offset, buffer, capacity, &length) != kOk) {
    buffer[0] = '\0';
    return 0;
  }
  return std::strlen(buffer);
}
