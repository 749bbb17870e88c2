// Feed name, configuration, cursor and pending files.
#include "dbfeed/feed_state.h"

#include <cstring>

#include "common/key_value_file.h"
#include "common/paths.h"
#include "common/temp_file.h"
#include "common/text_match.h"
#include "common/time.h"
#include "frame/console.h"
#include "platform/clock.h"
#include "platform/fs.h"
#include "platform/stream.h"

namespace {

const char kCursorDates[] = "*yyyy/mm/dd*\0*yyyy-mm-dd*\0";
const char kPendingDates[] = "*yyyy/mm/dd*\0";
constexpr size_t kCursorPartMax = 63;
constexpr size_t kPendingLineMax = 255;
constexpr uint32_t kRenameAttempts = 4;
constexpr uint32_t kRenamePauseMs = 500;

int CompareFeedKey(const void* key, const void* record) {
  return CompareMessageKeys(*static_cast<const MessageKey*>(key),
                            static_cast<const FeedMessage*>(record)->key);
}

std::optional<std::string> OptionalValue(KeyValueFile* file, const char* key) {
  const char* value = KeyValueFileGet(file, key);
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

// Text that goes between double quotes (nodeid) or backquotes (table name)
// of a statement: no quote of any kind, no backslash, no control byte.
bool IsStatementSafe(const std::string& text) {
  for (unsigned char c : text) {
    if (c < 0x20 || c == 0x7F || c == '"' || c == '\'' || c == '`' || c == '\\') return false;
  }
  return true;
}

// A date of the pattern list, or 0.
TimeValue MatchDate(const char* text, const char* patterns) {
  TimeValue day = kNoTime;
  if (!MatchDatePattern(0, text, std::strlen(text), patterns, &day) || day == kNoTime) return 0;
  return day;
}

// Decimal digits followed only by blanks.
bool ParseCursorLines(const char* text, uint32_t* lines) {
  if (*text < '0' || *text > '9') return false;
  uint64_t value = 0;
  for (; *text >= '0' && *text <= '9'; ++text) {
    value = value * 10 + static_cast<uint64_t>(*text - '0');
    if (value > 0xFFFFFFFFULL) return false;
  }
  while (*text == ' ' || *text == '\t') ++text;
  if (*text != '\0') return false;
  *lines = static_cast<uint32_t>(value);
  return true;
}

bool ParseCursorValue(const char* value, FeedCursor* cursor) {
  const char* comma = std::strchr(value, ',');
  if (comma == nullptr) return false;
  char datePart[kCursorPartMax + 1];
  char linesPart[kCursorPartMax + 1];
  size_t dateLength = static_cast<size_t>(comma - value);
  if (dateLength > kCursorPartMax) dateLength = kCursorPartMax;
  std::memcpy(datePart, value, dateLength);
  datePart[dateLength] = '\0';
  std::strncpy(linesPart, comma + 1, kCursorPartMax);
  linesPart[kCursorPartMax] = '\0';
  TimeValue day = MatchDate(TrimBlanks(datePart), kCursorDates);
  uint32_t lines = 0;
  if (day == 0 || !ParseCursorLines(TrimBlanks(linesPart), &lines)) return false;
  cursor->day = StartOfDay(day);
  cursor->lines = lines;
  return true;
}

const char* CursorKey(uint32_t direction) {
  return direction == kFeedOutgoing ? "last-out" : "last-in";
}

// Fields of one pending line into a message; false for a malformed line or
// one too far from the day being fed.
bool ParsePendingLine(const char* line, TimeValue day, FeedMessage* message) {
  char field[kPendingLineMax + 1];
  size_t length = 0;
  const char* cursor = line;
  if (!GetField(&cursor, 0, ';', nullptr, field, sizeof field, &length)) return false;
  if (DecodeMessageKey(field, std::strlen(field), &message->key) == 0) return false;
  if (!GetField(&cursor, 0, ';', nullptr, field, sizeof field, &length)) return false;
  TimeValue date = MatchDate(field, kPendingDates);
  if (date == 0) return false;
  if (!GetField(&cursor, 0, ';', nullptr, field, sizeof field, &length)) return false;
  uint64_t timeOfDay = 0;
  if (ParseTimeOfDay(field, &timeOfDay, nullptr, nullptr, nullptr) != kOk) return false;
  message->time = StartOfDay(date) + timeOfDay;
  TimeValue distance = message->time > day ? message->time - day : day - message->time;
  if (distance > kPendingWindow) return false;
  uint32_t* numbers[] = {&message->flags, &message->smtpFlags, &message->rblFlags,
                         &message->split, &message->endmarks};
  for (uint32_t* number : numbers) {
    if (!GetField(&cursor, 0, ';', nullptr, field, sizeof field, &length)) return false;
    if (!ParseWholeNumber(field, number)) return false;
  }
  message->postDay = 0;
  message->postLine = 0;
  if (GetField(&cursor, 0, ';', nullptr, field, sizeof field, &length)) {
    message->postDay = StartOfDay(MatchDate(field, kPendingDates));
  }
  if (message->postDay != 0 && GetField(&cursor, 0, ';', nullptr, field, sizeof field, &length)) {
    uint32_t postLine = 0;
    if (ParseWholeNumber(field, &postLine)) message->postLine = postLine;
  }
  message->stored = 1;
  message->dirty = 0;
  message->smtpOffset = kNoOffset;
  return true;
}

// A stored message that is neither rejected, stopped nor finished.
bool IsPending(const FeedMessage& message) {
  if (message.stored == 0) return false;
  if ((message.flags & (kMsgReject | kMsgStop)) != 0) return false;
  return message.endmarks == 0 || message.split > message.endmarks;
}

bool WriteDate(FILE* out, TimeValue time, bool withTime) {
  CalendarTime t{};
  if (time == 0 || SplitTime(time, &t) != kOk) t = CalendarTime{};
  if (withTime) {
    return std::fprintf(out, "%04u/%02u/%02u;%02u:%02u:%02u", t.year, t.month, t.day, t.hour,
                        t.minute, t.second) > 0;
  }
  return std::fprintf(out, "%04u/%02u/%02u", t.year, t.month, t.day) > 0;
}

bool WritePendingLine(FILE* out, const FeedMessage& message) {
  char key[41];
  FormatMessageKey(message.key, key);
  if (std::fprintf(out, "%s;", key) < 0 || !WriteDate(out, message.time, true)) return false;
  if (std::fprintf(out, ";0x%08x;0x%08x;0x%08x;%u;%u;", message.flags, message.smtpFlags,
                   message.rblFlags, message.split, message.endmarks) < 0) {
    return false;
  }
  if (!WriteDate(out, message.postDay, false)) return false;
  return std::fprintf(out, ";%u\n", message.postLine) > 0;
}

}  // namespace

ResultCode CheckFeedName(const wchar_t* feedName, std::wstring* jobName) {
  if (feedName == nullptr || jobName == nullptr) return kErrInvalidArgument;
  std::wstring text = std::wstring(feedName) + L"-dbf";
  jobName->clear();
  for (wchar_t c : text) {
    if (c == L' ' || c == L'\t') break;
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    bool allowed = (c >= L'a' && c <= L'z') || (c >= L'0' && c <= L'9') || c == L'_' || c == L'-';
    if (!allowed) {
      jobName->clear();
      return kErrInvalidValue;
    }
    jobName->push_back(c);
  }
  return jobName->empty() ? kErrInvalidValue : kOk;
}

ResultCode LoadFeedConfig(const wchar_t* confDir, const wchar_t* logDir, const wchar_t* jobName,
                          uint32_t direction, FeedConfig* config) {
  if (confDir == nullptr || logDir == nullptr || jobName == nullptr || config == nullptr) {
    return kErrInvalidArgument;
  }
  ReleaseFeedConfig(config);
  config->direction = direction;
  const std::wstring name(jobName);
  const std::wstring confPath = std::wstring(confDir) + name + L".conf";
  config->cursorPath = JoinPath(logDir, (name + L".stat").c_str(), false);
  const wchar_t* pendingSuffix = direction == kFeedOutgoing ? L"-pendout.stat" : L"-pendin.stat";
  config->pendingPath = JoinPath(logDir, (name + pendingSuffix).c_str(), false);
  KeyValueFile* file = KeyValueFileCreate(nullptr, 0, 0);
  if (file == nullptr) return kErrNoMemory;
  ResultCode result = KeyValueFileLoad(file, confPath.c_str());
  if (result != kOk) {
    KeyValueFileFree(file);
    PrintErr(L"Unable to load configuration file, EC:%d\n\tFile: %s\n", static_cast<int>(result),
             confPath.c_str());
    return result;
  }
  config->host = OptionalValue(file, "host");
  config->user = OptionalValue(file, "user");
  config->passwd = OptionalValue(file, "passwd");
  config->db = OptionalValue(file, "db");
  config->port = ParseAutoBaseNumber(KeyValueFileGet(file, "port"));
  config->burst = ParseAutoBaseNumber(KeyValueFileGet(file, "burst"));
  if (config->burst == 0) config->burst = kDefaultBurst;
  const char* nodeid = KeyValueFileGet(file, "nodeid");
  config->nodeid = nodeid ? nodeid : "";
  const char* prefix = KeyValueFileGet(file, "table_prefix");
  const char* suffix = direction == kFeedOutgoing ? "outbound" : "inbound";
  config->table = prefix ? std::string(prefix) + "_" + suffix : std::string(suffix);
  KeyValueFileFree(file);
  const char* refused = !IsStatementSafe(config->nodeid) ? "nodeid"
                        : !IsStatementSafe(config->table) ? "table_prefix"
                                                          : nullptr;
  if (refused != nullptr) {
    PrintErr(L"Invalid value of key \"%hs\" (quotes, backslashes and control characters are "
             L"not allowed), EC:%d\n\tFile: %s\n",
             refused, static_cast<int>(kErrInvalidValue), confPath.c_str());
    return kErrInvalidValue;
  }
  return kOk;
}

void ReleaseFeedConfig(FeedConfig* config) {
  if (config == nullptr) return;
  if (config->smtpFile != nullptr) std::fclose(config->smtpFile);
  RecordTableFree(&config->messages);
  *config = FeedConfig{};
}

void LoadFeedCursor(const wchar_t* cursorPath, uint32_t direction, TimeValue today,
                    FeedCursor* cursor) {
  *cursor = FeedCursor{};
  cursor->day = StartOfDay(today);
  KeyValueFile* file = KeyValueFileCreate(nullptr, 0, 0);
  if (file == nullptr) return;
  if (KeyValueFileLoad(file, cursorPath) == kOk) {
    const char* value = KeyValueFileGet(file, CursorKey(direction));
    if (value == nullptr || !ParseCursorValue(value, cursor)) {
      cursor->day = StartOfDay(today);
      cursor->lines = 0;
    }
  }
  KeyValueFileFree(file);
}

ResultCode SaveFeedCursor(const FeedCursor& cursor, const wchar_t* cursorPath, uint32_t direction) {
  if (cursor.newLines == 0) return kOk;
  KeyValueFile* file = KeyValueFileCreate(nullptr, 0, 0);
  if (file == nullptr) return kErrNoMemory;
  KeyValueFileLoad(file, cursorPath);  // a missing file starts empty
  CalendarTime t{};
  SplitTime(cursor.day, &t);
  char value[64];
  std::snprintf(value, sizeof value, "%04u/%02u/%02u,%u", t.year, t.month, t.day, cursor.lines);
  ResultCode result = KeyValueFileSet(file, CursorKey(direction), value);
  // Saved whole or not at all: a crash leaves either the old or the new file.
  RemoveDeadTemporaries(cursorPath);
  const std::wstring temporary = TemporaryPathOf(cursorPath);
  if (result == kOk) result = KeyValueFileSave(file, temporary.c_str());
  KeyValueFileFree(file);
  return FinishTemporary(temporary, cursorPath, result);
}

ResultCode LoadPendingMessages(FeedConfig* config, TimeValue day) {
  FILE* in = OpenStream(config->pendingPath.c_str(), "rb");
  if (in == nullptr) {
    return MapErrno(StreamLastError(), kErrReadFault) == kErrFileNotFound ? kOk : kErrReadFault;
  }
  char line[kPendingLineMax + 1];
  ResultCode result = kOk;
  while (std::fgets(line, sizeof line, in) != nullptr) {
    FeedMessage message{};
    if (!ParsePendingLine(line, day, &message)) continue;
    result = InsertFeedMessage(&config->messages, message, nullptr);
    if (result != kOk) break;
  }
  if (result == kOk && std::ferror(in)) result = kErrReadFault;
  std::fclose(in);
  return result;
}

ResultCode WritePendingMessages(FeedConfig* config) {
  RemoveDeadTemporaries(config->pendingPath.c_str());
  const std::wstring temporary = TemporaryPathOf(config->pendingPath.c_str());
  FILE* out = OpenStream(temporary.c_str(), "wb");
  if (out == nullptr) return kErrWriteFault;
  bool written = true;
  const uint32_t count = RecordTableCount(&config->messages);
  for (uint32_t i = 0; i < count && written; ++i) {
    const FeedMessage* message = static_cast<const FeedMessage*>(RecordTableAt(&config->messages, i));
    if (IsPending(*message)) written = WritePendingLine(out, *message);
  }
  if (FlushStreamToDisk(out) != kOk) written = false;
  if (std::fclose(out) != 0) written = false;
  if (!written) {
    RemoveFile(temporary.c_str());
    return kErrWriteFault;
  }
  // Renamed over the old file, never deleted first: no moment without one.
  for (uint32_t attempt = 1;; ++attempt) {
    if (RenameReplacing(temporary.c_str(), config->pendingPath.c_str()) == kOk) return kOk;
    if (attempt == kRenameAttempts) return kErrWriteFault;
    PlatformSleepMs(kRenamePauseMs);
  }
}

ResultCode InsertFeedMessage(RecordTable* table, const FeedMessage& message, FeedMessage** record) {
  void* placed = nullptr;
  ResultCode result =
      RecordTableInsert(table, &message, sizeof message, CompareFeedKey, &message.key, &placed);
  if (record != nullptr) *record = static_cast<FeedMessage*>(placed);
  return result;
}

FeedMessage* FindFeedMessage(RecordTable* table, const MessageKey& key) {
  return static_cast<FeedMessage*>(RecordTableFind(table, CompareFeedKey, &key));
}

FeedMessage* FindFeedMessageAt(RecordTable* table, const MessageKey& key, TimeValue time) {
  uint32_t position = 0;
  if (RecordTableSearch(table, CompareFeedKey, &key, &position) != kOk) return nullptr;
  // Equal keys sit side by side; walk back to the first, then forward.
  while (position > 0 && CompareFeedKey(&key, RecordTableAt(table, position - 1)) == 0) --position;
  for (uint32_t count = RecordTableCount(table); position < count; ++position) {
    FeedMessage* message = static_cast<FeedMessage*>(RecordTableAt(table, position));
    if (CompareMessageKeys(key, message->key) != 0) return nullptr;
    if (message->time == time) return message;
  }
  return nullptr;
}

void FormatMessageKey(const MessageKey& key, char text[41]) {
  static const char kDigits[] = "0123456789abcdef";
  for (size_t i = 0; i < kMessageKeySize; ++i) {
    text[2 * i] = kDigits[key.bytes[i] >> 4];
    text[2 * i + 1] = kDigits[key.bytes[i] & 0xF];
  }
  text[40] = '\0';
}
