// The SMTP pass of a search: reads the SMTP logs of the interval in both
// directions, keeps the lines that meet the conditions as records of the
// index (with their sort reference and kept text), then builds the key lookup.
#include <algorithm>
#include <cstring>
#include <memory>

#include "common/dir_enum.h"
#include "common/list_match.h"
#include "common/paths.h"
#include "common/text_match.h"
#include "common/time.h"
#include "doctor/key_lookup.h"
#include "doctor/mail_index.h"
#include "doctor/search_conditions.h"
#include "platform/fs.h"
#include "platform/stream.h"

using namespace mail_pass;

namespace {

constexpr size_t kSortTextMax = 128;
constexpr uint32_t kSmtpFields = 12;
constexpr uint32_t kUnlimitedFiles = 60;

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

}  // namespace

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
