// The feed run: batches per direction, the day loop and the log readers.
#include "dbfeed/feed_run.h"

#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "common/line_reader.h"
#include "common/paths.h"
#include "common/text_match.h"
#include "common/time.h"
#include "dbfeed/db_connector.h"
#include "dbfeed/log_index.h"
#include "frame/console.h"
#include "platform/fs.h"
#include "platform/lock_file.h"
#include "platform/stream.h"

namespace {

constexpr uint32_t kLockWaitSeconds = 5;

// Field buffers of one log reader, allocated once per file.
struct FieldBuffers {
  std::vector<char> a = std::vector<char>(kLinePieceMax + 1);
  std::vector<char> b = std::vector<char>(kLinePieceMax + 1);
};

// Reads the field `skip` fields after the cursor into buffer; false when missing.
bool NextField(const char** cursor, uint32_t skip, std::vector<char>* buffer) {
  size_t length = 0;
  return GetField(cursor, skip, ';', nullptr, buffer->data(), buffer->size(), &length) != 0;
}

bool DecodeKey(const char* text, MessageKey* key) {
  return DecodeMessageKey(text, std::strlen(text), key) != 0;
}

std::wstring DayLogName(const wchar_t* format, TimeValue day) {
  CalendarTime t{};
  SplitTime(day, &t);
  wchar_t name[64];
  std::swprintf(name, 64, format, t.year, t.month, t.day);
  return name;
}

// Opens a day's log for binary reading: kOk with a stream, kOk with none when
// the file is missing, -8 for any other failure.
ResultCode OpenDayLog(const wchar_t* logDir, const wchar_t* format, TimeValue day, FILE** file,
                      std::wstring* path) {
  *path = JoinPath(logDir, DayLogName(format, day).c_str(), false);
  *file = OpenStream(path->c_str(), "rb");
  if (*file != nullptr) return kOk;
  return MapErrno(StreamLastError(), kErrOpenFailed) == kErrFileNotFound ? kOk : kErrOpenFailed;
}

int CompareMessageTimes(void* /*context*/, const void* a, const void* b) {
  const TimeValue ta = static_cast<const FeedMessage*>(a)->time;
  const TimeValue tb = static_cast<const FeedMessage*>(b)->time;
  return ta < tb ? -1 : ta > tb ? 1 : 0;
}

// Leaves the messages taken by a failed SMTP read unstorable.
void ForgetNewMessages(FeedConfig* config) {
  const uint32_t count = RecordTableCount(&config->messages);
  for (uint32_t i = 0; i < count; ++i) {
    FeedMessage* message = static_cast<FeedMessage*>(RecordTableAt(&config->messages, i));
    if (message->stored == 0) message->smtpOffset = kNoOffset;
  }
}

// Reads the day loop of one batch: the cursor's day, then following days
// while they bring nothing new and began at least a minute ago.
void ReadDays(FeedCursor* cursor, const wchar_t* logDir, FeedConfig* config, FeedLogCache* cache,
              ResultCode* smtpFailure) {
  for (;;) {
    if (config->smtpFile != nullptr) {
      std::fclose(config->smtpFile);
      config->smtpFile = nullptr;
    }
    // One moment for both decisions: a day read as still growing is not left
    // by the same pass, or its unfinished last line would be lost.
    const TimeValue now = LocalTimeNow();
    ResultCode result = ReadFeedDay(cursor, logDir, config, cache, now, smtpFailure);
    if (result != kOk || cursor->newLines != 0 || config->smtpFile != nullptr) return;
    const TimeValue next = cursor->day + kTicksPerDay;
    if (!DayEntered(next, now)) return;
    cursor->day = next;
    cursor->lines = 0;
    cursor->newLines = 0;
  }
}

// Batches of one direction until no new lines come. The first failure
// ends it; a failed SMTP read is kept in *smtpFailure and ends it too.
ResultCode FeedDirection(DbConnector* connector, FeedConfig* config, const wchar_t* logDir,
                         JobEvent* event, ResultCode* smtpFailure) {
  FeedLogCache cache;
  for (;;) {
    if (config->smtpFile != nullptr) {
      std::fclose(config->smtpFile);
      config->smtpFile = nullptr;
    }
    RecordTableClear(&config->messages);
    FeedCursor cursor;
    LoadFeedCursor(config->cursorPath.c_str(), config->direction, LocalTimeNow(), &cursor);
    // Days before the cursor's are not read again.
    cache.erase(cache.begin(), cache.lower_bound(cursor.day));
    ResultCode result = LoadPendingMessages(config, cursor.day);
    if (result != kOk) return result;
    ResultCode readFailure = kOk;
    ReadDays(&cursor, logDir, config, &cache, &readFailure);
    RecordTableSort(&config->messages, CompareMessageTimes, nullptr, 1);
    result = StoreBatch(connector, config);
    if (result != kOk) return result;
    // The pending list goes first: a crash before the cursor is saved makes
    // the next run read the batch's lines again, and those already pending
    // are recognised (same key and time) instead of being lost.
    result = WritePendingMessages(config);
    if (result == kOk) result = SaveFeedCursor(cursor, config->cursorPath.c_str(), config->direction);
    if (result != kOk) return result;
    if (readFailure != kOk) {
      if (*smtpFailure == kOk) *smtpFailure = readFailure;
      return kOk;
    }
    if (IsInterrupted() || IsJobCancelled(event)) return kUserAbort;
    if (cursor.newLines == 0) return kOk;
  }
}

}  // namespace

ResultCode ReadSmtpLines(FILE* file, TimeValue day, uint32_t direction, bool readUnfinished,
                         FeedCursor* cursor, FeedConfig* config, uint32_t* inserted) {
  *inserted = 0;
  LineReader reader;
  ResultCode result = LineReaderInit(&reader, file, 0);
  if (result != kOk) return result;
  FieldBuffers buffers;
  std::vector<char> flagsField(kLinePieceMax + 1);
  const uint32_t addressField = direction == kFeedOutgoing ? kSmtpFieldSender : kSmtpFieldRecipients;
  uint32_t lineNumber = 0;
  LinePiece piece;
  int status = 0;
  while (*inserted < config->burst && (status = LineReaderNext(&reader, &piece)) == 1) {
    if (!PieceIsWhole(piece) && !readUnfinished) break;
    if (++lineNumber <= cursor->lines) continue;
    MaskNulBytes(piece.text, piece.length);
    const char* fields = piece.text;
    uint64_t timeOfDay = 0;
    if (!NextField(&fields, kLogFieldTime, &buffers.a) ||
        ParseTimeOfDay(buffers.a.data(), &timeOfDay, nullptr, nullptr, nullptr) != kOk) {
      continue;
    }
    // Fields 3 and 4 (the address that must not be empty), 6, 7 and 11.
    if (!NextField(&fields, kSmtpFieldSender - kLogFieldTime - 1, &buffers.a) ||
        !NextField(&fields, 0, &buffers.b)) {
      continue;
    }
    if ((addressField == kSmtpFieldSender ? buffers.a : buffers.b)[0] == '\0') continue;
    if (!NextField(&fields, kSmtpFieldResult - kSmtpFieldRecipients - 1, &buffers.a)) continue;
    const bool accepted = buffers.a[0] == 'A';
    MessageKey key{};
    if (!NextField(&fields, 0, &buffers.b) || !DecodeKey(buffers.b.data(), &key)) continue;
    uint32_t smtpFlags = 0;
    if (!NextField(&fields, kSmtpFieldFlags - kSmtpFieldMessageId - 1, &flagsField) ||
        !ParseWholeNumber(flagsField.data(), &smtpFlags)) {
      continue;
    }
    FeedMessage message{};
    message.time = day + timeOfDay;
    // A message already in the table (pending from a batch whose cursor was
    // not saved) is not taken twice.
    if (FindFeedMessageAt(&config->messages, key, message.time) != nullptr) continue;
    message.key = key;
    message.flags = direction | (accepted ? kMsgAccepted | kMsgPend : kMsgReject);
    message.smtpFlags = smtpFlags;
    message.smtpOffset = piece.offset;
    result = InsertFeedMessage(&config->messages, message, nullptr);
    if (result != kOk) break;
    ++*inserted;
  }
  if (result == kOk && status < 0) result = kErrReadFault;
  if (result != kOk) {
    ForgetNewMessages(config);
    *inserted = 0;
  } else if (lineNumber > cursor->lines) {
    cursor->lines = lineNumber;
    cursor->newLines = 1;
  }
  LineReaderFree(&reader);
  return result;
}

ResultCode ReadRblLines(FILE* file, FeedConfig* config) {
  LogIndex index;
  ResultCode result = UpdateLogIndex(file, &index, true);
  ApplyRblIndex(index, config);
  return result;
}

ResultCode ReadPostponerLines(FILE* file, TimeValue day, FeedConfig* config) {
  LogIndex index;
  index.postponer = true;
  ResultCode result = UpdateLogIndex(file, &index, true);
  ApplyPostponerIndex(index, day, config);
  return result;
}

ResultCode ReadFeedDay(FeedCursor* cursor, const wchar_t* logDir, FeedConfig* config,
                       FeedLogCache* cache, TimeValue now, ResultCode* smtpFailure) {
  const bool outgoing = config->direction == kFeedOutgoing;
  const TimeValue day = cursor->day;
  // A line without its line end at the end of a log may still be being
  // written while the feed can come back to the day: it is read once
  // finished, or as it stands once the feed leaves the day for good.
  const bool dayIsOver = !DayLogMayGrow(day, now);
  std::wstring path;
  FILE* file = nullptr;
  ResultCode result =
      OpenDayLog(logDir, outgoing ? L"smtp-out%04u%02u%02u.log" : L"smtp%04u%02u%02u.log", day,
                 &file, &path);
  if (result == kOk && file != nullptr) {
    uint32_t inserted = 0;
    result = ReadSmtpLines(file, day, config->direction, dayIsOver, cursor, config, &inserted);
    if (result == kOk && inserted > 0) config->smtpFile = file;
    else std::fclose(file);
  }
  if (result != kOk) {
    // Nothing of this read reaches the database or the pending file; the
    // cursor stays, so the next run reads the same lines again.
    PrintErr(L"Failed to read SMTP log, new messages not stored, EC:%d\n\tFile: %s\n",
             static_cast<int>(result), path.c_str());
    if (smtpFailure != nullptr) *smtpFailure = result;
    return result;
  }
  FeedDayLogs& logs = (*cache)[day];
  logs.postponer.postponer = true;
  const wchar_t* formats[2][2] = {{L"rbl%04u%02u%02u.log", L"rbl-out%04u%02u%02u.log"},
                                  {L"postponer%04u%02u%02u.log", L"postponer-out%04u%02u%02u.log"}};
  LogIndex* indexes[2] = {&logs.rbl, &logs.postponer};
  for (int kind = 0; kind < 2; ++kind) {
    result = OpenDayLog(logDir, formats[kind][outgoing ? 1 : 0], day, &file, &path);
    if (result == kOk && file != nullptr) {
      result = UpdateLogIndex(file, indexes[kind], dayIsOver);
      std::fclose(file);
    }
    if (kind == 0) ApplyRblIndex(logs.rbl, config);
    else ApplyPostponerIndex(logs.postponer, day, config);
    if (result != kOk) return result;
  }
  return kOk;
}

ResultCode RunFeed(const wchar_t* feedName, const wchar_t* logDir, JobEvent* event,
                   const FeedRunSettings& settings) {
  std::wstring jobName;
  ResultCode result = CheckFeedName(feedName, &jobName);
  if (result != kOk) {
    PrintMessage(kConsoleErr, kMsgInvalidFeedName, feedName ? feedName : L"",
                 static_cast<int>(result));
    return result;
  }
  DbConnector connector{};
  result = LoadConnector(&connector, settings.libraryNames);
  if (result != kOk) {
    PrintMessage(kConsoleErr, kMsgConnectorInitFailed, static_cast<int>(result));
    return result;
  }
  LockFile* lock = OpenLockFile(logDir, jobName.c_str(), kLockWaitSeconds);
  if (lock == nullptr) {
    PrintMessage(kConsoleErr, kMsgJobRunning, jobName.c_str());
    UnloadConnector(&connector);
    return kErrSharingViolation;
  }
  std::wstring confDir;
  if (settings.confDir != nullptr) confDir = settings.confDir;
  else result = ExpandPath(L"@@x:c/", 0, &confDir);
  ResultCode smtpFailure = kOk;
  const uint32_t directions[] = {kFeedIncoming, kFeedOutgoing};
  for (uint32_t direction : directions) {
    if (result != kOk) break;
    FeedConfig config;
    result = LoadFeedConfig(confDir.c_str(), logDir, jobName.c_str(), direction, &config);
    if (result == kOk) result = FeedDirection(&connector, &config, logDir, event, &smtpFailure);
    ReleaseFeedConfig(&config);
  }
  LockFileClose(lock);
  UnloadConnector(&connector);
  return result != kOk ? result : smtpFailure;
}
