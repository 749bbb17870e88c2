// The database feed's name, configuration file, cursor file and pending
// files, and the records of one feed direction.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "common/mail_log.h"
#include "common/record_table.h"
#include "platform/types.h"

constexpr uint32_t kFeedIncoming = kMsgIn;   // direction bits
constexpr uint32_t kFeedOutgoing = kMsgOut;
constexpr uint64_t kNoOffset = ~0ULL;
constexpr uint32_t kDefaultBurst = 100;
// Pending lines further than this from the day being fed are dropped.
constexpr TimeValue kPendingWindow = 7 * kTicksPerDay;

// One message of a batch; the message table keeps them ordered by key.
struct FeedMessage {
  uint32_t flags;       // MessageFlags
  uint32_t smtpFlags;   // field 11 of the SMTP line
  uint32_t rblFlags;    // field 13 of the RBL line
  uint32_t split;       // sum of the counts of the postponer "S" lines
  uint32_t endmarks;    // number of postponer "E" lines
  uint32_t dirty;       // 1 when a stored message changed in this batch
  uint32_t stored;      // 1 when the message's row exists in the database
  uint32_t postLine;    // number (from 1) of the last postponer line counted
  TimeValue time;       // day of the SMTP log plus the line's time of day
  TimeValue postDay;    // day of the last postponer line counted, 0 when none
  uint64_t smtpOffset;  // offset of the SMTP line in smtpFile, kNoOffset when unknown
  MessageKey key;
};

// Settings and working set of one direction.
struct FeedConfig {
  std::wstring cursorPath;
  std::wstring pendingPath;
  std::optional<std::string> host;
  std::optional<std::string> user;
  std::optional<std::string> passwd;
  std::optional<std::string> db;
  uint32_t port = 0;
  uint32_t burst = kDefaultBurst;
  std::string nodeid;
  std::string table;
  uint32_t direction = 0;        // kFeedIncoming or kFeedOutgoing
  FILE* smtpFile = nullptr;      // the SMTP log of the batch's new messages
  RecordTable messages{};        // FeedMessage records, ordered by key
};

// Position of one direction: the day being fed and the lines already read.
struct FeedCursor {
  uint32_t newLines = 0;  // set when the batch read lines beyond `lines`
  TimeValue day = 0;      // local midnight
  uint32_t lines = 0;
};

// "%s-dbf" of the feed name, lowered and checked like a job name (a blank
// ends it); -29 when a character is not allowed or the result is empty.
ResultCode CheckFeedName(const wchar_t* feedName, std::wstring* jobName);

// Loads "<jobName>.conf" from confDir for one direction. Prints the
// load failure or a refused value to standard error and returns its code
// (-29 for a nodeid or table name that would break a statement).
ResultCode LoadFeedConfig(const wchar_t* confDir, const wchar_t* logDir, const wchar_t* jobName,
                          uint32_t direction, FeedConfig* config);

// Closes smtpFile, frees the message table and resets every field.
void ReleaseFeedConfig(FeedConfig* config);

// The direction's entry of the cursor file; a missing file, key or bad value
// gives `today` and 0 lines. Never fails.
void LoadFeedCursor(const wchar_t* cursorPath, uint32_t direction, TimeValue today,
                    FeedCursor* cursor);

// Sets the direction's entry (other entries kept), through a temporary file
// renamed over the cursor file. Does nothing when newLines is 0.
ResultCode SaveFeedCursor(const FeedCursor& cursor, const wchar_t* cursorPath, uint32_t direction);

// Adds the pending file's messages within 7 days of `day` to the message
// table as stored; malformed lines are dropped. -11 read error.
ResultCode LoadPendingMessages(FeedConfig* config, TimeValue day);

// Writes the stored, unfinished messages (not rejected or stopped) to the
// pending file's temporary file (common/temp_file.h) and renames it over the
// pending file (4 attempts, 500 ms apart). -10 when the file cannot be
// written or renamed.
ResultCode WritePendingMessages(FeedConfig* config);

// Inserts a copy of the message by key, before equal keys. *record gets the
// table's copy (valid until the next insertion).
ResultCode InsertFeedMessage(RecordTable* table, const FeedMessage& message, FeedMessage** record);

// A message of the table with this key (any of several), or null.
FeedMessage* FindFeedMessage(RecordTable* table, const MessageKey& key);

// A message with this key and time, or null.
FeedMessage* FindFeedMessageAt(RecordTable* table, const MessageKey& key, TimeValue time);

// Every NUL byte of a log line becomes '_', so that the line's fields are
// read, and stored, whole.
void MaskNulBytes(char* text, size_t length);

// The key as 40 lower-case hexadecimal digits (41 bytes with the NUL).
void FormatMessageKey(const MessageKey& key, char text[41]);
