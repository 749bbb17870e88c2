// SMTP, RBL and postponer passes that collect and correlate the messages of a search.
#include "doctor/mail_index.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <memory>

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

constexpr uint32_t kMaxSeparators = 16;

// The field boundaries of a line found in one pass: the first ';'s before
// the line's first NUL, and the line's length up to that NUL (the length a
// C string of the line has).
struct LineFields {
  size_t length = 0;
  uint32_t count = 0;  // separators found, at most kMaxSeparators
  uint32_t at[kMaxSeparators];
};

// One pass of the shared field splitter; a line with more fields than are
// kept still reports its length up to its first NUL.
void ScanLine(const char* line, size_t length, LineFields* fields) {
  TextView views[kMaxSeparators + 1];
  const uint32_t found = SplitFields(line, length, ';', views, kMaxSeparators + 1);
  fields->count = found == 0 ? 0 : found - 1;
  for (uint32_t i = 0; i < fields->count; ++i) {
    fields->at[i] = static_cast<uint32_t>(views[i].text + views[i].length - line);
  }
  size_t end = found == 0 ? 0 : static_cast<size_t>(views[found - 1].text + views[found - 1].length - line);
  if (found == kMaxSeparators + 1 && end < length && line[end] == ';') {
    const void* nul = std::memchr(line + end, '\0', length - end);
    end = nul != nullptr ? static_cast<size_t>(static_cast<const char*>(nul) - line) : length;
  }
  fields->length = end;
}

// Start of field `index` and the line's end, or false when the line has fewer fields.
bool FieldFrom(const char* line, const LineFields& fields, uint32_t index, const char** begin) {
  if (index > fields.count) return false;
  *begin = line + (index == 0 ? 0 : fields.at[index - 1] + 1);
  return true;
}

// SplitLogFields on a writable copy of the scanned line.
void SplitScanned(char* line, const LineFields& scanned, char** fields, uint32_t maxFields) {
  for (uint32_t i = 0; i < maxFields; ++i) {
    if (i > scanned.count) {
      fields[i] = line + scanned.length;  // the terminating NUL
      continue;
    }
    char* b = line + (i == 0 ? 0 : scanned.at[i - 1] + 1);
    char* e = line + (i < scanned.count ? scanned.at[i] : scanned.length);
    while (b < e && IsBlank(*b)) ++b;
    while (e > b && IsBlank(e[-1])) --e;
    *e = '\0';
    fields[i] = b;
  }
}

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

// The pieces of a file, each handed to handleLine(text, fields, offset) as a
// read-only view with its field boundaries, cut at its first NUL as a C
// string of the piece would be.
template <typename LineFn>
ResultCode ReadLines(FILE* file, FileProgress* progress, LineFn handleLine) {
  MappedLineReader reader;
  ResultCode result = MappedLineReaderInit(&reader, file);
  if (result != kOk) {
    MappedLineReaderFree(&reader);
    return result;
  }
  LineView piece;
  LineFields fields;
  int got = 0;
  while ((got = MappedLineReaderNext(&reader, &piece)) == 1) {
    ScanLine(piece.text, piece.length, &fields);
    result = handleLine(piece.text, fields, piece.offset);
    if (result == kOk) result = TickLine(progress, piece.consumed);
    if (result != kOk) break;
  }
  if (result == kOk && got < 0) result = got;
  MappedLineReaderFree(&reader);
  return result;
}

// A writable, NUL-ended copy of a line for splitting it in place.
struct LineCopy {
  char bytes[kLinePieceMax + 1];
  char* Take(const char* line, size_t length) {
    std::memcpy(bytes, line, length);
    bytes[length] = '\0';
    return bytes;
  }
};

// ---- SMTP pass ----------------------------------------------------------------

struct SmtpScan {
  const SearchConditions* conditions;
  MailIndex* mail;
  TimeValue day;
  uint32_t direction;
  uint32_t fileIndex;
  size_t added;
  LineCopy copy;
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
  size_t total = (sizeof(MailRecord) + textSize + 3) & ~static_cast<size_t>(3);
  size_t at = mail->store.size();
  if (at + total > UINT32_MAX) return kErrNoMemory;
  if (!mail->store.Resize(at + total)) return kErrNoMemory;
  if (!mail->index.Append(static_cast<uint32_t>(at))) return kErrNoMemory;
  auto* stored = reinterpret_cast<MailRecord*>(mail->store.data() + at);
  *stored = record;
  FillSortText(mail->sortColumn, sender, recipients, client, reinterpret_cast<char*>(stored + 1));
  return kOk;
}

ResultCode HandleSmtpLine(SmtpScan* scan, const char* text, const LineFields& scanned,
                          uint64_t offset) {
  const SearchConditions* conditions = scan->conditions;
  char* fields[kSmtpFields];
  SplitScanned(scan->copy.Take(text, scanned.length), scanned, fields, kSmtpFields);
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
  const uint32_t smtpFlags = ParseHexNumber(fields[kSmtpFieldFlags]);
  if (conditions->smtpFlagMask != 0 && (smtpFlags & conditions->smtpFlagMask) == 0) return kOk;
  record.smtpOffset = static_cast<uint32_t>(offset);
  record.smtpFile = scan->fileIndex;
  record.seconds = static_cast<uint32_t>(ticks / kTicksPerSecond);
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
  auto scan = std::make_unique<SmtpScan>();
  *scan = SmtpScan{conditions, mail, day, direction, static_cast<uint32_t>(mail->files.size()), 0, {}};
  FileProgress progress{callback, context, ProgressSize(info.size)};
  result = ReadLines(file, &progress, [&scan](const char* line, const LineFields& fields,
                                               uint64_t offset) {
    return HandleSmtpLine(scan.get(), line, fields, offset);
  });
  if (result == kOk && scan->added != 0) {
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

uint64_t KeyHash(const MessageKey& key) {
  uint64_t a, b;
  uint32_t c;
  std::memcpy(&a, key.bytes, 8);
  std::memcpy(&b, key.bytes + 8, 8);
  std::memcpy(&c, key.bytes + 16, 4);
  uint64_t h = (a ^ 0x9E3779B97F4A7C15ULL) * 0xBF58476D1CE4E5B9ULL;
  h = (h ^ (h >> 31) ^ b) * 0x94D049BB133111EBULL;
  h = (h ^ (h >> 29) ^ c) * 0xBF58476D1CE4E5B9ULL;
  return h ^ (h >> 32);
}

inline uint8_t KeyTag(uint64_t hash) { return static_cast<uint8_t>(hash >> 56); }

constexpr size_t kTaggedLimit = (size_t{1} << 24) - 1;

inline uint32_t SlotPositionMask(const MailIndex* mail) {
  return mail->keyTagged ? 0x00FFFFFFu : 0xFFFFFFFFu;
}

bool SameKey(const MailRecord* record, const MessageKey& key) {
  return std::memcmp(record->key.bytes, key.bytes, kMessageKeySize) == 0;
}

ResultCode BuildKeyLookup(MailIndex* mail) {
  size_t count = mail->index.size();
  size_t capacity = 16;
  while (capacity * 3 < count * 4) capacity *= 2;  // at most three quarters full
  if (!mail->keySlots.Reserve(capacity)) return kErrNoMemory;
  mail->keySlots.count = capacity;
  std::memset(mail->keySlots.items, 0, capacity * sizeof(uint32_t));
  mail->keyTagged = count < kTaggedLimit;
  const size_t mask = capacity - 1;
  for (size_t position = 0; position < count; ++position) {
    PrefetchIndexRecord(mail, position + kPrefetchDistance);
    const MailRecord* record = IndexRecord(mail, position);
    const uint64_t hash = KeyHash(record->key);
    const uint32_t tagged = mail->keyTagged ? uint32_t{KeyTag(hash)} << 24 : 0;
    size_t i = hash & mask;
    bool present = false;
    for (; mail->keySlots[i] != 0; i = (i + 1) & mask) {
      const uint32_t slot = mail->keySlots[i];
      if ((slot & ~SlotPositionMask(mail)) == tagged &&
          SameKey(IndexRecord(mail, (slot & SlotPositionMask(mail)) - 1), record->key)) {
        present = true;  // an earlier record of this key stays the one found
        break;
      }
    }
    if (!present) mail->keySlots[i] = tagged | static_cast<uint32_t>(position + 1);
  }
  return kOk;
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
      result = ReadLines(file, &progress, [&](const char* line, const LineFields& fields,
                                              uint64_t offset) {
        return handleLine(line, fields, offset, fileIndex, day.day);
      });
      if (result != kOk) {
        std::fclose(file);
        return result;
      }
      mail->files.push_back(LogFileEntry{day.day, file, name});
    }
  }
  return kOk;
}

// Key of field `index` read straight from the line, without splitting it.
bool PeekKey(const char* line, const LineFields& fields, uint32_t index, MessageKey* key) {
  const char* cursor = nullptr;
  if (!FieldFrom(line, fields, index, &cursor)) return false;
  const char* end = line + fields.length;
  while (cursor < end && IsBlank(*cursor)) ++cursor;
  DecodeMessageKey(cursor, static_cast<size_t>(end - cursor), key);
  return true;
}

// Kind field of a postponer line: 'S', 'E' or 0 for any other kind.
char PostKind(const char* line, const LineFields& fields) {
  const char* cursor = nullptr;
  if (!FieldFrom(line, fields, kPostFieldKind, &cursor)) return 0;
  const char* end = line + (fields.count > kPostFieldKind ? fields.at[kPostFieldKind] : fields.length);
  while (cursor < end && IsBlank(*cursor)) ++cursor;
  if (cursor >= end || (*cursor != 'S' && *cursor != 'E')) return 0;
  const char* after = cursor + 1;
  while (after < end && IsBlank(*after)) ++after;
  return after == end ? *cursor : 0;
}

ResultCode HandleRblLine(MailIndex* mail, LineCopy* copy, const char* text,
                         const LineFields& scanned, uint64_t offset, uint32_t fileIndex) {
  // Most lines belong to no candidate: look the key up before splitting.
  MessageKey key;
  if (!PeekKey(text, scanned, kRblFieldMessageId, &key)) return kOk;
  MailRecord* record = FindRecordByKey(mail, key);
  if (record == nullptr || (record->flags & kMsgHasRbl) != 0) return kOk;
  char* fields[kRblFields];
  SplitScanned(copy->Take(text, scanned.length), scanned, fields, kRblFields);
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
  if (mail->rblFlagMask != 0 && (ParseHexNumber(fields[kRblFieldFlags]) & mail->rblFlagMask) != 0) {
    record->flags |= kMsgRblFlagsMatch;
  }
  return kOk;
}

ResultCode HandlePostLine(MailIndex* mail, LineCopy* copy, const char* text,
                          const LineFields& scanned, uint64_t offset, uint32_t fileIndex) {
  char kind0 = PostKind(text, scanned);
  MessageKey peeked;
  uint32_t idField = kind0 != 0 ? kPostFieldAnnounceId : kPostFieldMessageId;
  if (!PeekKey(text, scanned, idField, &peeked)) return kOk;
  const size_t candidatePosition = FindPositionByKey(mail, peeked);
  if (candidatePosition == SIZE_MAX ||
      (IndexRecord(mail, candidatePosition)->flags & kMsgPassedRbl) == 0) {
    return kOk;
  }
  char* fields[kPostFields];
  SplitScanned(copy->Take(text, scanned.length), scanned, fields, kPostFields);
  uint64_t ticks = 0;
  if (ParseTimeOfDay(fields[kLogFieldTime], &ticks, nullptr, nullptr, nullptr) != kOk) return kOk;
  const char* kind = fields[kPostFieldKind];
  bool announce = std::strcmp(kind, "S") == 0;
  bool ended = std::strcmp(kind, "E") == 0;
  MessageKey key;
  const char* id = fields[announce || ended ? kPostFieldAnnounceId : kPostFieldMessageId];
  DecodeMessageKey(id, std::strlen(id), &key);
  // The split reads the field the peek read, as a rule: the candidate is the record.
  const size_t position =
      CompareMessageKeys(key, peeked) == 0 ? candidatePosition : FindPositionByKey(mail, key);
  if (position == SIZE_MAX) return kOk;
  MailRecord* record = IndexRecord(mail, position);
  if ((record->flags & kMsgPassedRbl) == 0) return kOk;
  if (announce) {
    record->announced += static_cast<uint32_t>(ParseSignedDecimal(fields[kPostFieldAnnounceCount]));
  } else if (ended) {
    record->ended += 1;
  } else {
    record->flags |= PostStatusBit(fields[kPostFieldStatus]);
    if (!mail->posts.Append(PostEntry{static_cast<uint32_t>(position), fileIndex,
                                      static_cast<uint32_t>(offset)})) {
      return kErrNoMemory;
    }
  }
  return kOk;
}

// Key, then day, then offset: positions stand for keys, one per key in key order.
void SettlePostEntries(MailIndex* mail) {
  const LogFileEntry* files = mail->files.data();
  auto before = [files](const PostEntry& a, const PostEntry& b) {
    if (a.position != b.position) return a.position < b.position;
    if (files[a.fileIndex].day != files[b.fileIndex].day) {
      return files[a.fileIndex].day < files[b.fileIndex].day;
    }
    return a.offset < b.offset;
  };
  std::make_heap(mail->posts.begin(), mail->posts.end(), before);
  std::sort_heap(mail->posts.begin(), mail->posts.end(), before);
  size_t count = mail->posts.size();
  for (size_t run = 0; run < count;) {
    size_t next = run + 1;
    while (next < count && mail->posts[next].position == mail->posts[run].position) ++next;
    MailRecord* record = IndexRecord(mail, mail->posts[run].position);
    record->flags |= kMsgHasPost;
    record->firstPost = static_cast<uint32_t>(run);
    if (record->ended != 0 && record->announced <= record->ended) {
      record->flags = (record->flags & ~kMsgPend) | kMsgFin;
    }
    run = next;
  }
}

}  // namespace

bool RecordStore::Reserve(size_t size) {
  if (size <= capacity) return true;
  void* grown = std::realloc(bytes, size);
  if (grown == nullptr) return false;
  bytes = static_cast<uint8_t*>(grown);
  capacity = size;
  return true;
}

bool RecordStore::Resize(size_t size) {
  if (size > capacity && !Reserve(std::max(size, capacity * 2))) return false;
  if (size > used) std::memset(bytes + used, 0, size - used);
  used = size;
  return true;
}

void RecordStore::Free() {
  std::free(bytes);
  bytes = nullptr;
  used = 0;
  capacity = 0;
}

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
  if (!mail->store.Reserve(kInitialStore)) return kErrNoMemory;
  if (!mail->index.Reserve(kInitialRecords) || !mail->posts.Reserve(kInitialRecords)) {
    return kErrNoMemory;
  }
  return kOk;
}

void MailIndexRelease(MailIndex* mail) {
  if (mail == nullptr) return;
  for (LogFileEntry& entry : mail->files) {
    if (entry.file != nullptr) std::fclose(entry.file);
  }
  mail->store.Free();
  mail->index.Free();
  std::vector<LogFileEntry>().swap(mail->files);
  mail->posts.Free();
  mail->keySlots.Free();
}

ResultCode RunSmtpPass(const wchar_t* logDir, const SearchConditions* conditions,
                       MailProgressFn callback, void* context, MailIndex* mail) {
  if (logDir == nullptr || conditions == nullptr || mail == nullptr) return kErrInvalidArgument;
  mail->sortColumn = conditions->sortColumn;
  mail->rblFlagMask = conditions->rblFlagMask;
  PassCounter counter;
  counter.expected = ExpectedFiles(conditions);
  for (uint32_t direction : {kMsgIn, kMsgOut}) {
    if ((conditions->flags & direction) == 0) continue;
    ResultCode result =
        ScanSmtpDirection(logDir, direction, conditions, callback, context, &counter, mail);
    if (result != kOk) return result;
  }
  // The heap sort runs on copies of the keys next to their offsets: the same
  // comparisons, so the same order, without a trip to the store for each.
  // The first eight key bytes go along; the rest is read from the store
  // only when those are equal.
  // The prefix is held as two 32-bit halves: 12 bytes an entry.
  struct KeyedOffset {
    uint32_t high;
    uint32_t low;
    uint32_t offset;
  };
  auto fill = [mail](std::vector<KeyedOffset>* keyed) {
    keyed->resize(mail->index.size());
    for (size_t i = 0; i < keyed->size(); ++i) {
      const uint64_t prefix = KeyOrderPrefix(IndexRecord(mail, i)->key);
      (*keyed)[i] = KeyedOffset{static_cast<uint32_t>(prefix >> 32), static_cast<uint32_t>(prefix),
                                mail->index[i]};
    }
  };
  const uint8_t* store = mail->store.data();
  auto byKey = [store](const KeyedOffset& a, const KeyedOffset& b) {
    if (a.high != b.high) return a.high < b.high;
    if (a.low != b.low) return a.low < b.low;
    return CompareMessageKeys(reinterpret_cast<const MailRecord*>(store + a.offset)->key,
                              reinterpret_cast<const MailRecord*>(store + b.offset)->key) < 0;
  };
  {
    std::vector<KeyedOffset> keyed;
    fill(&keyed);
    SortAsHeapSortWould(&keyed, byKey, fill);
    for (size_t i = 0; i < keyed.size(); ++i) mail->index[i] = keyed[i].offset;
  }
  return BuildKeyLookup(mail);
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
    PrefetchIndexRecord(mail, i + kPrefetchDistance);
    const MailRecord* record = IndexRecord(mail, i);
    if ((record->flags & selectionBit) == 0) continue;
    addDay(StartOfDay(RecordTime(mail, record)), record->flags & kMsgDirections);
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
  auto copy = std::make_unique<LineCopy>();
  return ScanDayFiles(logDir, days, L"rbl", L"rbl-out", 25, callback, context, mail,
                      [mail, &copy](const char* line, const LineFields& fields, uint64_t offset,
                                    uint32_t fileIndex, TimeValue) {
                        return HandleRblLine(mail, copy.get(), line, fields, offset, fileIndex);
                      });
}

ResultCode RunPostponerPass(const wchar_t* logDir, uint32_t postmax, MailProgressFn callback,
                            void* context, MailIndex* mail) {
  if (logDir == nullptr || mail == nullptr) return kErrInvalidArgument;
  std::vector<ScanDay> days = BuildScanDays(mail, kMsgPassedRbl, postmax);
  auto copy = std::make_unique<LineCopy>();
  ResultCode result = ScanDayFiles(
      logDir, days, L"postponer", L"postponer-out", 50, callback, context, mail,
      [mail, &copy](const char* line, const LineFields& fields, uint64_t offset,
                    uint32_t fileIndex, TimeValue) {
        return HandlePostLine(mail, copy.get(), line, fields, offset, fileIndex);
      });
  if (result != kOk) return result;
  mail->keySlots.Free();  // no lookups after this pass
  SettlePostEntries(mail);
  return kOk;
}

size_t FindPositionByKey(MailIndex* mail, const MessageKey& key) {
  if (!mail->keySlots.empty()) {
    const uint64_t hash = KeyHash(key);
    const uint32_t positionMask = SlotPositionMask(mail);
    const uint32_t tagged = mail->keyTagged ? uint32_t{KeyTag(hash)} << 24 : 0;
    const size_t mask = mail->keySlots.size() - 1;
    for (size_t i = hash & mask;; i = (i + 1) & mask) {
      const uint32_t slot = mail->keySlots[i];
      if (slot == 0) return SIZE_MAX;
      if ((slot & ~positionMask) != tagged) continue;
      const size_t position = (slot & positionMask) - 1;
      if (SameKey(IndexRecord(mail, position), key)) return position;
    }
  }
  size_t low = 0;
  size_t high = mail->index.size();
  while (low < high) {
    size_t middle = low + (high - low) / 2;
    int order = CompareMessageKeys(key, IndexRecord(mail, middle)->key);
    if (order == 0) return middle;
    if (order < 0) {
      high = middle;
    } else {
      low = middle + 1;
    }
  }
  return SIZE_MAX;
}

MailRecord* FindRecordByKey(MailIndex* mail, const MessageKey& key) {
  const size_t position = FindPositionByKey(mail, key);
  return position == SIZE_MAX ? nullptr : IndexRecord(mail, position);
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

namespace {

constexpr size_t kLineMax = 32767;
constexpr size_t kSpanMax = size_t{1} << 20;
constexpr size_t kLoneSpan = 4096;

// A mapped window of one file: bytes [start, start + length) of it.
struct FileSpan {
  MappedView view;
  const char* bytes = nullptr;
  uint64_t start = 0;
  size_t length = 0;
  bool atEnd = false;
  ~FileSpan() { MappedFileUnmap(&view); }
};

// Maps the span from `offset` with `size` bytes (fewer at the end of file).
void ReadSpan(FILE* file, uint64_t offset, size_t size, FileSpan* span) {
  MappedFileUnmap(&span->view);
  span->start = offset;
  span->length = 0;
  span->bytes = nullptr;
  span->atEnd = true;
  MappedFile* mapped = nullptr;
  uint64_t fileSize = 0;
  if (MappedFileOpen(file, &mapped, &fileSize) != kOk) return;
  if (MappedFileMap(mapped, offset, size, &span->view) == kOk) {
    span->bytes = span->view.bytes;
    span->length = span->view.length;
    span->atEnd = offset >= fileSize || span->length < size;
  }
  MappedFileClose(mapped);
}

// The first LF, CR or NUL of text[0, length), or null.
const char* FindLineStop(const char* text, size_t length) {
  size_t i = 0;
#if defined(__SSE2__)
  const __m128i lf = _mm_set1_epi8('\n');
  const __m128i cr = _mm_set1_epi8('\r');
  const __m128i zero = _mm_setzero_si128();
  for (; i + 16 <= length; i += 16) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i));
    const __m128i hits = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(block, lf), _mm_cmpeq_epi8(block, cr)),
                                      _mm_cmpeq_epi8(block, zero));
    const uint32_t mask = static_cast<uint32_t>(_mm_movemask_epi8(hits));
    if (mask != 0) return text + i + static_cast<size_t>(__builtin_ctz(mask));
  }
#endif
  for (; i < length; ++i) {
    if (text[i] == '\n' || text[i] == '\r' || text[i] == '\0') return text + i;
  }
  return nullptr;
}

// The line at `offset` if the span holds it whole: cut at CR or LF, at most
// kLineMax bytes, cut again at a NUL.
bool LineInSpan(const FileSpan& span, uint64_t offset, const char** line, size_t* length) {
  if (offset < span.start || offset - span.start > span.length) return false;
  if (span.bytes == nullptr) return false;
  const char* begin = span.bytes + (offset - span.start);
  const size_t avail = span.length - static_cast<size_t>(offset - span.start);
  const size_t limit = std::min(avail, kLineMax);
  const char* limitEnd = begin + limit;
  const char* end = FindLineStop(begin, limit);
  // Whole when an LF or a CR stands within the limit (one after a NUL counts).
  bool whole = end != nullptr && *end != '\0';
  if (end != nullptr && !whole) {
    const size_t rest = static_cast<size_t>(limitEnd - end);
    whole = std::memchr(end, '\n', rest) != nullptr || std::memchr(end, '\r', rest) != nullptr;
  }
  if (end == nullptr) end = limitEnd;
  if (!whole && avail < kLineMax && !span.atEnd) return false;
  *line = begin;
  *length = static_cast<size_t>(end - begin);
  return true;
}

}  // namespace

ResultCode ReadIndexedLines(const MailIndex* mail, std::vector<LineRequest>* requests,
                            std::vector<char>* text) {
  if (mail == nullptr || requests == nullptr || text == nullptr) return kErrInvalidArgument;
  const size_t count = requests->size();
  // File and offset as one number beside the request's place: a direct sort.
  struct Placed {
    uint64_t where;
    uint32_t request;
  };
  std::vector<Placed> places(count);
  for (size_t i = 0; i < count; ++i) {
    const LineRequest& request = (*requests)[i];
    places[i] = Placed{(uint64_t{request.fileIndex} << 32) | request.offset, static_cast<uint32_t>(i)};
  }
  std::sort(places.begin(), places.end(),
            [](const Placed& a, const Placed& b) { return a.where < b.where; });
  std::vector<uint32_t> order(count);
  for (size_t i = 0; i < count; ++i) order[i] = places[i].request;
  text->clear();
  FileSpan span;
  uint32_t spanFile = UINT32_MAX;
  for (size_t k = 0; k < count; ++k) {
    LineRequest& request = (*requests)[order[k]];
    request.textStart = static_cast<uint32_t>(text->size());
    request.textLength = 0;
    if (request.fileIndex >= mail->files.size()) continue;
    FILE* file = mail->files[request.fileIndex].file;
    if (file == nullptr) continue;
    const char* line = nullptr;
    size_t length = 0;
    if (spanFile != request.fileIndex || !LineInSpan(span, request.offset, &line, &length)) {
      // One read reaches the later lines of this file within kSpanMax.
      uint64_t reach = request.offset;
      for (size_t next = k + 1; next < count; ++next) {
        const LineRequest& ahead = (*requests)[order[next]];
        if (ahead.fileIndex != request.fileIndex || ahead.offset - request.offset >= kSpanMax) break;
        reach = ahead.offset;
      }
      // A line alone is read in a small span first: most lines are short.
      const size_t size = reach > request.offset
                              ? static_cast<size_t>(reach - request.offset) + kLineMax + 1
                              : kLoneSpan;
      ReadSpan(file, request.offset, size, &span);
      spanFile = request.fileIndex;
      if (!LineInSpan(span, request.offset, &line, &length)) {
        ReadSpan(file, request.offset, kLineMax + 1, &span);
        if (!LineInSpan(span, request.offset, &line, &length)) continue;
      }
    }
    if (text->size() + length > UINT32_MAX) return kErrNoMemory;
    text->insert(text->end(), line, line + length);
    request.textLength = static_cast<uint32_t>(length);
  }
  return kOk;
}
