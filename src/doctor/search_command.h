// The --search run: scan the mail logs, filter, sort and list the messages.
#pragma once

#include <cstdint>

#include "platform/types.h"

struct SearchConditions;
struct ProgressFile;
struct JobEvent;

// Called by the dispatch. Prints "searching..." and the match count at -v.
// kOk, kErrNotFound (no message matched) or the failure; outputFile null
// lists to standard output. progress and event may be null.
ResultCode RunSearchCommand(const wchar_t* logDir, SearchConditions* conditions,
                            const wchar_t* outputFile, ProgressFile* progress, JobEvent* event);

// Progress and cancellation callback: (context, overall or -1, item, text).
using SearchProgressFn = int (*)(void* context, int overall, int item, const wchar_t* text);

// The run itself with an explicit callback; *matchCount gets the matches.
ResultCode RunSearch(const wchar_t* logDir, SearchConditions* conditions,
                     const wchar_t* outputFile, SearchProgressFn callback, void* context,
                     uint32_t* matchCount);

struct MailIndex;

// The status filter on a message's flags: state and RBL flag conditions.
bool FlagsMatchFilter(uint32_t flags, const SearchConditions* conditions);

// Order of the records at two positions by sort column (0 time, 1 from,
// 2 to, 3 ip, 4 id).
int CompareRecordsByColumn(const MailIndex* mail, uint32_t a, uint32_t b, uint32_t column);
