// The feed run: new messages of the SMTP logs become rows, later RBL and
// postponer lines update them, batch by batch, continuing where the last
// run stopped.
#pragma once

#include <cstdint>
#include <cstdio>

#include <map>

#include "dbfeed/feed_state.h"
#include "dbfeed/log_index.h"
#include "frame/jobs.h"
#include "platform/types.h"

// Where a run finds its configuration folder and client library; null
// members take the defaults ("@@x:c/" and kMysqlClientLibraryNames).
struct FeedRunSettings {
  const wchar_t* confDir = nullptr;
  const char* const* libraryNames = nullptr;
};

// Feeds both directions of logDir into the database of the feed's
// configuration. 0, 2 after the current batch on Ctrl+C or cancellation,
// or the first failure (messages 45, 46 and 47 for a bad name, a connector
// that cannot be loaded and a feed already running).
ResultCode RunFeed(const wchar_t* feedName, const wchar_t* logDir, JobEvent* event,
                   const FeedRunSettings& settings);

// Reads new SMTP lines of the open log (lines up to cursor->lines skipped)
// into the message table, at most config->burst new messages; moves the
// cursor when lines were read. A last line without its line end is read only
// with readUnfinished (the day is over). On a read failure (-11) or a failed insertion
// the cursor stays and the messages taken are left unstorable (offset
// unknown), so that the next run reads them again.
ResultCode ReadSmtpLines(FILE* file, TimeValue day, uint32_t direction, bool readUnfinished,
                         FeedCursor* cursor, FeedConfig* config, uint32_t* inserted);

// Applies the RBL lines of the open log to the table's messages, as a walk
// from its start does: the first line of a message without a verdict counts.
ResultCode ReadRblLines(FILE* file, FeedConfig* config);

// Applies the postponer "S" and "E" lines of the open log of `day`.
ResultCode ReadPostponerLines(FILE* file, TimeValue day, FeedConfig* config);

// The RBL and postponer logs of the days a direction's batches read, indexed
// once and extended as they grow.
struct FeedDayLogs {
  LogIndex rbl;
  LogIndex postponer;
};
using FeedLogCache = std::map<TimeValue, FeedDayLogs>;

// Reads the new SMTP lines of the cursor's day, then applies its RBL and
// postponer logs (through the cache) to the message table; stops at the
// first failure and returns it. A last line without its line end waits while
// the day's logs may still grow at local time now (DayLogMayGrow). A failure of the SMTP log is also reported
// on standard error and stored in *smtpFailure.
ResultCode ReadFeedDay(FeedCursor* cursor, const wchar_t* logDir, FeedConfig* config,
                       FeedLogCache* cache, TimeValue now, ResultCode* smtpFailure);
