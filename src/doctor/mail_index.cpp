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
constexpr uint32_t kProgressLines = 10000;
constexpr uint64_t kProgressSizeCap = 0x7FFFFFFF;
constexpr size_t kSortTextMax = 128;
constexpr uint32_t kSmtpFields = 12;
constexpr uint32_t kRblFields = 14;
constexpr uint32_t kPostFields = 9;
constexpr uint32_t kUnlimitedFiles = 60;
constexpr uint32_t kRblWindow = 2;

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= 32; }

// The field boundaries of a line, found by the reader in the pass that
// found the line: the first ';'s before the line's first NUL, as many as a
// look needs, and the line's length; CompleteFields finds the others and
// cuts the length at that NUL (the length a C string of the line has).
using LineFields = PieceFields;

// The separators the first look at a line needs: the key of an RBL line
// (field 7), the kind and both keys of a postponer line (fields 2, 3 and 8).
constexpr uint32_t kRblPeekSeparators = 7;
constexpr uint32_t kPostPeekSeparators = 8;

// All separators of a line whose first look found only some.
LineFields CompleteFields(const char* text, const LineFields& peeked) {
  LineFields fields = peeked;
  CompletePieceFields(text, ';', &fields);
  return fields;
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

// The pieces of a file, each handed to handleLine(piece, fields) as a
// read-only view with its fields, which the reader writes where
// fieldsSlot() says (a handler that keeps lines keeps their fields so).
// finish() runs while the reader's blocks are still there, for a handler
// that holds pieces.
template <typename SlotFn, typename LineFn, typename FinishFn>
ResultCode ReadLines(FILE* file, FileProgress* progress, uint32_t wantedSeparators,
                     SlotFn fieldsSlot, LineFn handleLine, FinishFn finish) {
  BlockLineReader reader;
  ResultCode result = BlockLineReaderInit(&reader, file);
  LineView piece;
  int got = 0;
  for (;;) {
    LineFields* fields = fieldsSlot();
    if (result != kOk || (got = BlockLineReaderNextSplit(&reader, ';', wantedSeparators, &piece,
                                                             fields)) != 1) {
      break;
    }
    result = handleLine(piece, *fields);
    if (result == kOk) result = TickLine(progress, piece.consumed);
  }
  if (result == kOk && got < 0) result = got;
  if (result == kOk) result = finish();
  BlockLineReaderFree(&reader);
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

// The record's sort reference for the from, to and ip orders.
ResultCode AppendSortRef(MailIndex* mail, const char* sender, const char* recipients,
                         const char* client) {
  const uint32_t column = mail->sortColumn;
  if (column == 3) {
    uint32_t address = 0;
    ParseIPv4(client, &address);
    return mail->sortRefs.Append(AddressOrderValue(address)) ? kOk : kErrNoMemory;
  }
  if (column != 1 && column != 2) return kOk;
  const char* text = column == 1 ? sender : recipients;
  const size_t whole = column == 1 ? std::strlen(text) : std::strcspn(text, ",");
  const size_t length = std::min(whole, kSortTextMax);
  const size_t at = mail->sortTexts.size();
  if (at + length + 1 > UINT32_MAX || !mail->sortTexts.Reserve(at + length + 1 + at / 2)) {
    return kErrNoMemory;
  }
  std::memcpy(mail->sortTexts.items + at, text, length);
  mail->sortTexts.items[at + length] = '\0';
  mail->sortTexts.count = at + length + 1;
  return mail->sortRefs.Append(static_cast<uint32_t>(at)) ? kOk : kErrNoMemory;
}

// False when a from condition turns the line away: its sender is looked at
// before the line is split, as the split would give it (trimmed, empty when
// missing), since most lines of a search for a sender are not that sender's.
bool SenderMayMatch(SmtpScan* scan, const LineView& piece, const LineFields& fields) {
  if (scan->conditions->from == nullptr) return true;
  const char* begin = nullptr;
  const char* end = piece.text + fields.length;
  if (!FieldFrom(piece.text, fields, kSmtpFieldSender, &begin)) {
    begin = end;
  } else if (fields.count > kSmtpFieldSender) {
    end = piece.text + fields.at[kSmtpFieldSender];
  }
  while (begin < end && IsBlank(*begin)) ++begin;
  while (end > begin && IsBlank(end[-1])) --end;
  char* sender = scan->copy.Take(begin, static_cast<size_t>(end - begin));
  return MatchPatternList(scan->conditions->from, sender, 1);
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
  const uint32_t smtpFlags = ParseHexNumber(fields[kSmtpFieldFlags]);
  if (conditions->smtpFlagMask != 0 && (smtpFlags & conditions->smtpFlagMask) == 0) return kOk;
  MailIndex* mail = scan->mail;
  if (mail->records.size() >= UINT32_MAX - 1) return kErrNoMemory;  // positions + 1 fit 32 bits
  MailRecord record{};
  DecodeMessageKey(id, std::strlen(id), &record.key);
  record.smtpOffset = static_cast<uint32_t>(offset);
  record.smtpFile = static_cast<uint16_t>(scan->fileIndex);
  record.stamp = static_cast<uint32_t>(ticks / kTicksPerSecond) & kSecondsMask;
  SetRecordFlags(&record, flags);
  ResultCode stored = AppendSortRef(mail, sender, recipients, client);
  if (stored == kOk && !mail->records.Append(record)) stored = kErrNoMemory;
  if (stored != kOk) return stored;
  ++scan->added;
  KeepLine(mail, scan->fileIndex, offset, text, scanned.length);
  return kOk;
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
  if (mail->files.size() >= kMaxLogFiles) return kErrNoMemory;
  std::wstring path = JoinPath(logDir, info.name, false);
  FILE* file = OpenStream(path.c_str(), "rb");
  if (file == nullptr) return kErrOpenFailed;
  auto scan = std::make_unique<SmtpScan>();
  *scan = SmtpScan{conditions, mail, day, direction, static_cast<uint32_t>(mail->files.size()), 0, {}};
  FileProgress progress{callback, context, ProgressSize(info.size)};
  // A search for a sender looks at the sender first: most lines go no further.
  const uint32_t wanted = conditions->from != nullptr ? kSmtpFieldSender + 1 : kPieceSeparatorsMax;
  LineFields fields;
  result = ReadLines(
      file, &progress, wanted, [&fields] { return &fields; },
      [&scan](const LineView& piece, const LineFields& peeked) {
        if (!SenderMayMatch(scan.get(), piece, peeked)) return kOk;
        const LineFields fields = CompleteFields(piece.text, peeked);
        return HandleSmtpLine(scan.get(), piece.text, fields, piece.offset);
      },
      [] { return kOk; });
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

// ---- Key lookup ----------------------------------------------------------------

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

constexpr size_t kTaggedLimit = (size_t{1} << 24) - 1;

bool SameKey(const MailRecord& record, const MessageKey& key) {
  return std::memcmp(record.key.bytes, key.bytes, kMessageKeySize) == 0;
}

// Where the probing for a key starts, its tag, and the slot bits that hold
// a position.
struct KeyProbe {
  size_t slot;
  uint32_t tag;
};

inline uint32_t PositionMask(const MailIndex* mail) {
  return mail->keyTagged ? 0x00FFFFFFu : 0xFFFFFFFFu;
}

inline KeyProbe StartProbe(const MailIndex* mail, uint64_t hash) {
  // The high half of the hash picks the slot (a multiply instead of a
  // division), the low byte is the tag.
  const size_t slot = static_cast<size_t>(((hash >> 32) * mail->keySlots.size()) >> 32);
  return KeyProbe{slot, mail->keyTagged ? static_cast<uint32_t>(hash & 0xFF) << 24 : 0};
}

inline size_t NextSlot(const MailIndex* mail, size_t slot) {
  return slot + 1 == mail->keySlots.size() ? 0 : slot + 1;
}

// The slot from *slot on that is empty (0) or carries the tag; its value.
inline uint32_t ProbeTag(const MailIndex* mail, uint32_t tag, size_t* slot) {
  const uint32_t mask = ~PositionMask(mail);
  for (;; *slot = NextSlot(mail, *slot)) {
    const uint32_t value = mail->keySlots[*slot];
    if (value == 0 || (value & mask) == tag) return value;
  }
}

// Probes on from *probe to the slot of the record with this key, or to the
// empty slot where it would go; the slot's value (0 when empty).
uint32_t ProbeKey(const MailIndex* mail, const MessageKey& key, KeyProbe* probe) {
  for (;;) {
    const uint32_t value = ProbeTag(mail, probe->tag, &probe->slot);
    if (value == 0 || SameKey(mail->records[(value & PositionMask(mail)) - 1], key)) return value;
    probe->slot = NextSlot(mail, probe->slot);
  }
}

size_t PositionOfSlot(const MailIndex* mail, uint32_t value) {
  return value == 0 ? SIZE_MAX : (value & PositionMask(mail)) - 1;
}

// The key filter's bit of a hash: bits the slot and the tag do not use.
inline uint64_t FilterBit(const MailIndex* mail, uint64_t hash) {
  return (hash >> 8) & mail->keyFilterMask;
}

// False when no record has a key of this hash.
inline bool KeyMayHaveRecord(const MailIndex* mail, uint64_t hash) {
  if (mail->keyFilter.empty()) return true;
  const uint64_t bit = FilterBit(mail, hash);
  return ((mail->keyFilter[bit >> 6] >> (bit & 63)) & 1) != 0;
}

// Filters of up to 2^21 bits (256 KiB): larger ones would miss the cache
// as the slots do.
constexpr size_t kFilterBitsMax = size_t{1} << 21;
constexpr size_t kFilterBitsPerRecord = 16;

ResultCode BuildKeyFilter(MailIndex* mail) {
  const size_t count = mail->records.size();
  mail->keyFilter.Free();
  mail->keyFilterMask = 0;
  if (count == 0 || count > kFilterBitsMax / kFilterBitsPerRecord) return kOk;
  size_t bits = size_t{1} << 12;
  while (bits < count * kFilterBitsPerRecord) bits *= 2;
  if (!mail->keyFilter.Reserve(bits / 64)) return kErrNoMemory;
  mail->keyFilter.count = bits / 64;
  std::memset(mail->keyFilter.items, 0, bits / 8);
  mail->keyFilterMask = bits - 1;
  for (const MailRecord& record : mail->records) {
    const uint64_t bit = FilterBit(mail, KeyHash(record.key));
    mail->keyFilter[bit >> 6] |= uint64_t{1} << (bit & 63);
  }
  return kOk;
}

ResultCode BuildKeyLookup(MailIndex* mail) {
  const size_t count = mail->records.size();
  const size_t capacity = count + count / 3 + 16;  // at most three quarters full
  if (capacity > UINT32_MAX || !mail->keySlots.Reserve(capacity)) return kErrNoMemory;
  mail->keySlots.count = capacity;
  std::memset(mail->keySlots.items, 0, capacity * sizeof(uint32_t));
  mail->keyTagged = count < kTaggedLimit;
  const ResultCode filtered = BuildKeyFilter(mail);
  if (filtered != kOk) return filtered;
  constexpr size_t kAhead = 16;
  for (size_t position = 0; position < count; ++position) {
    if (position + kAhead < count) {
      const uint64_t ahead = KeyHash(mail->records[position + kAhead].key);
      __builtin_prefetch(&mail->keySlots[StartProbe(mail, ahead).slot]);
    }
    const MessageKey& key = mail->records[position].key;
    KeyProbe probe = StartProbe(mail, KeyHash(key));
    // An earlier record of this key stays the one found.
    if (ProbeKey(mail, key, &probe) == 0) {
      mail->keySlots[probe.slot] = probe.tag | static_cast<uint32_t>(position + 1);
    }
  }
  return kOk;
}

// A line waiting for the lookup of its key.
struct PendingLine {
  LineFields fields;  // written by the reader in place
  const char* text;
  size_t length;
  uint64_t offset;
  MessageKey key;
  KeyProbe probe;
  uint32_t value;  // the slot value found ahead: empty or the tag's
  char kind;       // what the caller saw of the line (the postponer kind)
  bool probed;
};

// Looks keys up for a run of lines with their cache misses overlapped: a
// line's slot is asked for when it comes, its record kDepth lines later,
// and it is handled kDepth lines after that, in line order. The lines stay
// the reader's: a caller flushes before their block goes.
template <typename HandleFn>
struct LookupQueue {
  static constexpr size_t kDepth = 16;
  static constexpr size_t kSize = 2 * kDepth;
  const MailIndex* mail;
  HandleFn handle;  // (const PendingLine&, size_t position) -> ResultCode
  PendingLine ring[kSize];
  size_t head = 0;  // lines taken
  size_t tail = 0;  // lines handled
  uint64_t block = 0;

  LookupQueue(const MailIndex* index, HandleFn handler) : mail(index), handle(handler) {}

  // Where the reader puts the fields of the line that may come next.
  LineFields* NextFields() { return &ring[head % kSize].fields; }

  // Takes a line whose key is `key` (its fields stand in NextFields()); a
  // line whose key the filter knows no record of goes at once.
  ResultCode Push(const LineView& piece, const MessageKey& key, char kind = 0) {
    ResultCode result = kOk;
    if (piece.block != block) {
      result = Flush();  // the block before goes with the next fill
      block = piece.block;
    }
    const uint64_t hash = KeyHash(key);
    if (!KeyMayHaveRecord(mail, hash)) return result;
    PendingLine& line = ring[head % kSize];
    line.text = piece.text;
    line.length = piece.length;
    line.kind = kind;
    line.offset = piece.offset;
    line.key = key;
    line.probed = false;
    line.probe = StartProbe(mail, hash);
    __builtin_prefetch(&mail->keySlots[line.probe.slot]);
    ++head;
    if (head - tail > kDepth) Probe(&ring[(head - 1 - kDepth) % kSize]);
    if (result == kOk && head - tail == kSize) result = HandleOldest();
    return result;
  }

  ResultCode Flush() {
    ResultCode result = kOk;
    while (tail != head && result == kOk) result = HandleOldest();
    tail = head;
    return result;
  }

  void Probe(PendingLine* line) {
    line->value = ProbeTag(mail, line->probe.tag, &line->probe.slot);
    line->probed = true;
    if (line->value != 0) {
      __builtin_prefetch(&mail->records[(line->value & PositionMask(mail)) - 1]);
    }
  }

  ResultCode HandleOldest() {
    PendingLine& line = ring[tail % kSize];
    ++tail;
    if (!line.probed) Probe(&line);
    size_t position = PositionOfSlot(mail, line.value);
    if (position != SIZE_MAX && !SameKey(mail->records[position], line.key)) {
      line.probe.slot = NextSlot(mail, line.probe.slot);  // a tag alike: probing goes on
      position = PositionOfSlot(mail, ProbeKey(mail, line.key, &line.probe));
    }
    return handle(line, position);
  }
};

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

// Reads the day files of a pass. For each file, startFile(fileIndex) comes
// first, then the lines as ReadLines gives them and finish() while the
// lines are still readable.
template <typename StartFn, typename SlotFn, typename LineFn, typename FinishFn>
ResultCode ScanDayFiles(const wchar_t* logDir, const std::vector<ScanDay>& days,
                        const wchar_t* inPrefix, const wchar_t* outPrefix, int base,
                        MailProgressFn callback, void* context, MailIndex* mail,
                        uint32_t wantedSeparators, StartFn startFile, SlotFn fieldsSlot,
                        LineFn handleLine, FinishFn finish) {
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
      if (mail->files.size() >= kMaxLogFiles) return kErrNoMemory;
      std::wstring path = JoinPath(logDir, name.c_str(), false);
      FILE* file = OpenStream(path.c_str(), "rb");
      if (file == nullptr) {
        mail->files.push_back(LogFileEntry{0, nullptr, name});
        continue;
      }
      uint64_t size = 0;
      GetPathSize(path.c_str(), &size);
      FileProgress progress{callback, context, ProgressSize(size)};
      const auto fileIndex = static_cast<uint32_t>(mail->files.size());
      startFile(fileIndex);
      result = ReadLines(file, &progress, wantedSeparators, fieldsSlot, handleLine, finish);
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

ResultCode HandleRblLine(MailIndex* mail, LineCopy* copy, const PendingLine& line,
                         size_t position, uint32_t fileIndex) {
  if (position == SIZE_MAX) return kOk;
  MailRecord& record = mail->records[position];
  uint32_t flags = RecordFlags(record);
  if ((flags & kMsgHasRbl) != 0) return kOk;
  char* fields[kRblFields];
  const LineFields scanned = CompleteFields(line.text, line.fields);
  SplitScanned(copy->Take(line.text, scanned.length), scanned, fields, kRblFields);
  record.rblOffset = static_cast<uint32_t>(line.offset);
  record.rblFile = static_cast<uint16_t>(fileIndex);
  KeepLine(mail, fileIndex, line.offset, line.text, scanned.length);
  flags |= kMsgHasRbl;
  if (WildcardMatch(1, fields[kRblFieldVirus], "VIRUS")) flags |= kMsgVirus;
  if (WildcardMatch(1, fields[kRblFieldSpam], "SPAM")) flags |= kMsgSpam;
  if (ParseSignedDecimal(fields[kRblFieldVerdict]) == kRblVerdictStopped) {
    flags = (flags & ~kMsgPend) | kMsgStop;
  }
  if (mail->rblFlagMask != 0 && (ParseHexNumber(fields[kRblFieldFlags]) & mail->rblFlagMask) != 0) {
    flags |= kMsgRblFlagsMatch;
  }
  SetRecordFlags(&record, flags);
  return kOk;
}

// Adds to a 16-bit count of the record, moving it to bigCounts when it leaves 16 bits.
void AddCount(MailIndex* mail, size_t position, uint16_t MailRecord::*field,
              uint32_t BigCounts::*big, uint32_t amount) {
  MailRecord& record = mail->records[position];
  const uint16_t small = record.*field;
  if (small != kCountElsewhere) {
    const uint32_t sum = small + amount;  // wraps as the 32-bit count would
    if (sum < kCountElsewhere) {
      record.*field = static_cast<uint16_t>(sum);
      return;
    }
    record.*field = kCountElsewhere;
    mail->bigCounts[static_cast<uint32_t>(position)].*big = sum;
    return;
  }
  mail->bigCounts[static_cast<uint32_t>(position)].*big += amount;
}

bool PassedRbl(const MailRecord& record) {
  return (RecordFlags(record) & kMsgPassedRbl) != 0;
}

ResultCode HandlePostLine(MailIndex* mail, LineCopy* copy, const PendingLine& line,
                          size_t candidatePosition) {
  if (candidatePosition == SIZE_MAX || !PassedRbl(mail->records[candidatePosition])) return kOk;
  char* fields[kPostFields];
  const LineFields scanned = CompleteFields(line.text, line.fields);
  SplitScanned(copy->Take(line.text, scanned.length), scanned, fields, kPostFields);
  uint64_t ticks = 0;
  if (ParseTimeOfDay(fields[kLogFieldTime], &ticks, nullptr, nullptr, nullptr) != kOk) return kOk;
  const char* kind = fields[kPostFieldKind];
  bool announce = std::strcmp(kind, "S") == 0;
  bool ended = std::strcmp(kind, "E") == 0;
  // The split reads the kind the peek read, and so the same key: the
  // candidate is the record.
  size_t position = candidatePosition;
  if ((announce || ended) != (line.kind != 0)) {
    MessageKey key;
    const char* id = fields[announce || ended ? kPostFieldAnnounceId : kPostFieldMessageId];
    DecodeMessageKey(id, std::strlen(id), &key);
    position = FindPositionByKey(mail, key);
  }
  if (position == SIZE_MAX) return kOk;
  MailRecord& record = mail->records[position];
  if (!PassedRbl(record)) return kOk;
  if (announce) {
    AddCount(mail, position, &MailRecord::announced, &BigCounts::announced,
             static_cast<uint32_t>(ParseSignedDecimal(fields[kPostFieldAnnounceCount])));
  } else if (ended) {
    AddCount(mail, position, &MailRecord::ended, &BigCounts::ended, 1);
  } else {
    SetRecordFlags(&record, RecordFlags(record) | PostStatusBit(fields[kPostFieldStatus]));
    if (mail->posts.size() >= UINT32_MAX - 1) return kErrNoMemory;
    if (!mail->posts.Append(PostLink{static_cast<uint32_t>(line.offset), record.lastPost})) {
      return kErrNoMemory;
    }
    record.lastPost = static_cast<uint32_t>(mail->posts.size());
    KeepLine(mail, mail->postFiles.back().fileIndex, line.offset, line.text, scanned.length);
  }
  return kOk;
}

// A message with status lines whose deliveries all ended is finished.
void SettleFinishedMessages(MailIndex* mail) {
  for (size_t position = 0; position < mail->records.size(); ++position) {
    MailRecord& record = mail->records[position];
    if (record.lastPost == 0 || record.ended == 0) continue;
    const uint32_t ended = RecordEnded(mail, position);
    if (ended != 0 && RecordAnnounced(mail, position) <= ended) {
      SetRecordFlags(&record, (RecordFlags(record) & ~kMsgPend) | kMsgFin);
    }
  }
}

}  // namespace

uint32_t RecordAnnounced(const MailIndex* mail, size_t position) {
  const uint16_t small = mail->records[position].announced;
  if (small != kCountElsewhere) return small;
  auto found = mail->bigCounts.find(static_cast<uint32_t>(position));
  return found != mail->bigCounts.end() ? found->second.announced : 0;
}

uint32_t RecordEnded(const MailIndex* mail, size_t position) {
  const uint16_t small = mail->records[position].ended;
  if (small != kCountElsewhere) return small;
  auto found = mail->bigCounts.find(static_cast<uint32_t>(position));
  return found != mail->bigCounts.end() ? found->second.ended : 0;
}

ResultCode MailIndexCreate(MailIndex* mail) {
  if (mail == nullptr) return kErrInvalidArgument;
  if (!mail->records.Reserve(kInitialRecords) || !mail->posts.Reserve(kInitialRecords)) {
    return kErrNoMemory;
  }
  return kOk;
}

void MailIndexRelease(MailIndex* mail) {
  if (mail == nullptr) return;
  for (LogFileEntry& entry : mail->files) {
    if (entry.file != nullptr) std::fclose(entry.file);
  }
  mail->records.Free();
  std::vector<LogFileEntry>().swap(mail->files);
  mail->posts.Free();
  std::vector<PostFileRange>().swap(mail->postFiles);
  std::unordered_map<uint32_t, BigCounts>().swap(mail->bigCounts);
  mail->sortRefs.Free();
  mail->sortTexts.Free();
  mail->keySlots.Free();
  mail->keyFilter.Free();
  mail->kept.Free();
  mail->keptText.Free();
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
  return BuildKeyLookup(mail);
}

std::vector<ScanDay> BuildScanDays(const MailIndex* mail, uint32_t selectionBit, uint32_t window) {
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
  // The records of one SMTP file lie together and share its day and
  // direction: one of them adds what they all would.
  uint32_t lastFile = UINT32_MAX;
  for (const MailRecord& record : mail->records) {
    const uint32_t flags = RecordFlags(record);
    if ((flags & selectionBit) == 0 || record.smtpFile == lastFile) continue;
    lastFile = record.smtpFile;
    addDay(StartOfDay(RecordTime(mail, record)), flags & kMsgDirections);
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
  uint32_t fileIndex = 0;
  auto handle = [mail, &copy, &fileIndex](const PendingLine& line, size_t position) {
    return HandleRblLine(mail, copy.get(), line, position, fileIndex);
  };
  auto queue = std::make_unique<LookupQueue<decltype(handle)>>(mail, handle);
  return ScanDayFiles(
      logDir, days, L"rbl", L"rbl-out", 25, callback, context, mail, kRblPeekSeparators,
      [&fileIndex](uint32_t index) { fileIndex = index; },
      [&queue] { return queue->NextFields(); },
      [&queue](const LineView& piece, const LineFields& fields) {
        // Most lines belong to no candidate: the key is looked up straight
        // from the line, which is split when it is handled.
        MessageKey key;
        if (!PeekKey(piece.text, fields, kRblFieldMessageId, &key)) return kOk;
        return queue->Push(piece, key);
      },
      [&queue] { return queue->Flush(); });
}

ResultCode RunPostponerPass(const wchar_t* logDir, uint32_t postmax, MailProgressFn callback,
                            void* context, MailIndex* mail) {
  if (logDir == nullptr || mail == nullptr) return kErrInvalidArgument;
  std::vector<ScanDay> days = BuildScanDays(mail, kMsgPassedRbl, postmax);
  auto copy = std::make_unique<LineCopy>();
  auto handle = [mail, &copy](const PendingLine& line, size_t position) {
    return HandlePostLine(mail, copy.get(), line, position);
  };
  auto queue = std::make_unique<LookupQueue<decltype(handle)>>(mail, handle);
  ResultCode result = ScanDayFiles(
      logDir, days, L"postponer", L"postponer-out", 50, callback, context, mail,
      kPostPeekSeparators,
      [mail](uint32_t index) {
        mail->postFiles.push_back(PostFileRange{static_cast<uint32_t>(mail->posts.size()), index});
      },
      [&queue] { return queue->NextFields(); },
      [&queue](const LineView& piece, const LineFields& fields) {
        const char kind = PostKind(piece.text, fields);
        MessageKey key;
        const uint32_t idField = kind != 0 ? kPostFieldAnnounceId : kPostFieldMessageId;
        if (!PeekKey(piece.text, fields, idField, &key)) return kOk;
        return queue->Push(piece, key, kind);
      },
      [&queue] { return queue->Flush(); });
  if (result != kOk) return result;
  mail->keySlots.Free();  // no lookups after this pass
  mail->keyFilter.Free();
  SettleFinishedMessages(mail);
  return kOk;
}

size_t FindPositionByKey(const MailIndex* mail, const MessageKey& key) {
  if (mail->keySlots.empty()) return SIZE_MAX;
  KeyProbe probe = StartProbe(mail, KeyHash(key));
  return PositionOfSlot(mail, ProbeKey(mail, key, &probe));
}

uint32_t PostLinkFile(const MailIndex* mail, size_t link) {
  auto after = std::upper_bound(
      mail->postFiles.begin(), mail->postFiles.end(), link,
      [](size_t value, const PostFileRange& range) { return value < range.firstLink; });
  return after == mail->postFiles.begin() ? UINT32_MAX : (after - 1)->fileIndex;
}

namespace {

void LetKeptLinesGo(MailIndex* mail) {
  mail->kept.Free();
  mail->keptText.Free();
  mail->keptBudget = 0;
}

bool KeptBefore(const KeptLine& line, uint32_t fileIndex, uint64_t offset) {
  return line.file != fileIndex ? line.file < fileIndex : line.offset < offset;
}

// The kept line at this file and offset.
bool FindKeptLine(const MailIndex* mail, uint32_t fileIndex, uint64_t offset, const char** text,
                  size_t* length) {
  const KeptLine* found =
      std::lower_bound(mail->kept.begin(), mail->kept.end(), 0, [&](const KeptLine& line, int) {
        return KeptBefore(line, fileIndex, offset);
      });
  if (found == mail->kept.end() || found->file != fileIndex || found->offset != offset) {
    return false;
  }
  *text = mail->keptText.items + found->textStart;
  *length = found->length;
  return true;
}

}  // namespace

void KeepLine(MailIndex* mail, uint32_t fileIndex, uint64_t offset, const char* text,
              size_t length) {
  if (mail->keptBudget == 0) return;
  // Cut as a read at the offset cuts the line: at its first NUL or CR.
  const void* nul = std::memchr(text, '\0', length);
  if (nul != nullptr) length = static_cast<size_t>(static_cast<const char*>(nul) - text);
  const void* cr = std::memchr(text, '\r', length);
  if (cr != nullptr) length = static_cast<size_t>(static_cast<const char*>(cr) - text);
  const size_t textUsed = mail->keptText.size() + length;
  const size_t entriesUsed = (mail->kept.size() + 1) * sizeof(KeptLine);
  const bool inOrder =
      mail->kept.empty() || KeptBefore(mail->kept.items[mail->kept.size() - 1], fileIndex, offset);
  if (!inOrder || fileIndex >= 0xFFFF || offset > UINT32_MAX || length > 0xFFFF ||
      textUsed >= kKeptTextBit || mail->records.size() > kKeptRecordsMax) {
    LetKeptLinesGo(mail);
    return;
  }
  if (textUsed + entriesUsed > mail->keptBudget) return;  // full: the listing reads it
  const size_t grown = std::min(mail->keptBudget, std::max(textUsed, 2 * mail->keptText.capacity));
  if (textUsed > mail->keptText.capacity && !mail->keptText.Reserve(grown)) {
    LetKeptLinesGo(mail);
    return;
  }
  const KeptLine line{static_cast<uint32_t>(offset), static_cast<uint32_t>(mail->keptText.size()),
                      static_cast<uint16_t>(fileIndex), static_cast<uint16_t>(length)};
  if (!mail->kept.Append(line)) {
    LetKeptLinesGo(mail);
    return;
  }
  std::memcpy(mail->keptText.items + mail->keptText.size(), text, length);
  mail->keptText.count = textUsed;
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
constexpr size_t kLoneSpan = 1024;
// A read goes on to the next wanted line when fewer bytes than this lie
// between: reading them costs less than another call.
constexpr size_t kGapMax = 16384;

// Bytes [start, start + length) of one file, read with one positioned read.
struct FileSpan {
  std::vector<char> buffer;
  const char* bytes = nullptr;
  uint64_t start = 0;
  size_t length = 0;
  bool atEnd = false;
};

// Reads the span from `offset` with `size` bytes (fewer at the end of file).
void ReadSpan(FILE* file, uint64_t offset, size_t size, FileSpan* span) {
  if (span->buffer.size() < size) span->buffer.resize(size);
  span->start = offset;
  span->length = 0;
  span->bytes = span->buffer.data();
  span->atEnd = true;
  size_t got = 0;
  if (ReadStreamAt(file, offset, span->buffer.data(), size, &got) != kOk) return;
  span->length = got;
  span->atEnd = got < size;
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
  // Counted into their files first, which keeps the listing's order within a
  // file (mostly offset order already: the listing goes by time); then each
  // file's requests are sorted by offset unless they are. Requests for no
  // known file share the last run.
  const size_t runs = mail->files.size() + 1;
  auto runOf = [runs](const LineRequest& request) {
    return std::min<size_t>(request.fileIndex, runs - 1);
  };
  std::vector<uint32_t> starts(runs + 1, 0);
  for (const LineRequest& request : *requests) ++starts[runOf(request) + 1];
  for (size_t run = 0; run < runs; ++run) starts[run + 1] += starts[run];
  // Each entry holds the request's offset above its index: a run sorts as
  // plain numbers.
  std::vector<uint64_t> order(count);
  {
    std::vector<uint32_t> fill(starts.begin(), starts.end() - 1);
    for (size_t i = 0; i < count; ++i) {
      order[fill[runOf((*requests)[i])]++] = (uint64_t{(*requests)[i].offset} << 32) | i;
    }
  }
  for (size_t run = 0; run < runs; ++run) {
    auto first = order.begin() + starts[run];
    auto last = order.begin() + starts[run + 1];
    if (!std::is_sorted(first, last)) std::sort(first, last);
  }
  auto requestAt = [requests, &order](size_t k) -> LineRequest& {
    return (*requests)[static_cast<uint32_t>(order[k])];
  };
  text->clear();
  FileSpan span;
  uint32_t spanFile = UINT32_MAX;
  for (size_t k = 0; k < count; ++k) {
    LineRequest& request = requestAt(k);
    request.textStart = static_cast<uint32_t>(text->size());
    request.textLength = 0;
    if (request.fileIndex >= mail->files.size()) continue;
    FILE* file = mail->files[request.fileIndex].file;
    if (file == nullptr) continue;
    const char* line = nullptr;
    size_t length = 0;
    if (FindKeptLine(mail, request.fileIndex, request.offset, &line, &length)) {
      request.textStart = kKeptTextBit | static_cast<uint32_t>(line - mail->keptText.items);
      request.textLength = static_cast<uint32_t>(length);
      continue;
    }
    if (spanFile != request.fileIndex || !LineInSpan(span, request.offset, &line, &length)) {
      // One read reaches the later lines of this file that follow each other
      // closely, within kSpanMax.
      uint64_t reach = request.offset;
      for (size_t next = k + 1; next < count; ++next) {
        const LineRequest& ahead = requestAt(next);
        if (ahead.fileIndex != request.fileIndex || ahead.offset - request.offset >= kSpanMax ||
            ahead.offset - reach > kGapMax) {
          break;
        }
        reach = ahead.offset;
      }
      // Most lines are short: the last one gets a small margin first.
      const size_t size = static_cast<size_t>(reach - request.offset) + kLoneSpan;
      ReadSpan(file, request.offset, size, &span);
      spanFile = request.fileIndex;
      if (!LineInSpan(span, request.offset, &line, &length)) {
        ReadSpan(file, request.offset, kLineMax + 1, &span);
        if (!LineInSpan(span, request.offset, &line, &length)) continue;
      }
    }
    if (text->size() + length >= kKeptTextBit) return kErrNoMemory;
    text->insert(text->end(), line, line + length);
    request.textLength = static_cast<uint32_t>(length);
  }
  return kOk;
}
