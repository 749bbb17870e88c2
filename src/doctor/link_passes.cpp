// The RBL and postponer passes of a search: read the day files around the
// candidates' days, look each line's message key up (key_lookup.h) and link
// the lines found to their records: verdict flags, announced and ended
// deliveries, status lines; then settle which messages are finished.
#include <algorithm>
#include <cstring>
#include <cwchar>
#include <memory>

#include "common/list_match.h"
#include "common/paths.h"
#include "common/text_match.h"
#include "common/time.h"
#include "doctor/key_lookup.h"
#include "doctor/mail_index.h"
#include "platform/fs.h"
#include "platform/stream.h"

using namespace mail_pass;

namespace {

constexpr uint32_t kRblFields = 14;
constexpr uint32_t kPostFields = 9;
constexpr uint32_t kRblWindow = 2;

// The separators the first look at a line needs: the key of an RBL line
// (field 7), the kind and both keys of a postponer line (fields 2, 3 and 8).
constexpr uint32_t kRblPeekSeparators = 7;
constexpr uint32_t kPostPeekSeparators = 8;

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
