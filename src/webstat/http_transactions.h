// HTTP transactions of the proxy logs: the table of open transactions, the
// day parser, the re-parse of earlier days for transactions in doubt.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

#include "common/proxy_log.h"
#include "webstat/transaction_table.h"
#include "platform/types.h"

struct WebstatConditions;
struct WebstatRun;
struct ProgressFile;
struct JobEvent;

// A transaction in doubt: the fixed part of its record.
using DoubtEntry = WebTransaction;

// One earlier log to re-read up to a time of day.
struct ReparseSpan {
  TimeValue day;
  TimeValue till;  // ticks after midnight
};

constexpr uint32_t kTransactionRecordLimit = 10000;
constexpr uint32_t kTransactionByteLimit = 800000;

// The table of open transactions for a run (10000 records, 800000 bytes).
ResultCode CreateTransactionTable(TransactionTable** table);

// Opens "kelbYYYYMMDD.log" of the day in logDir for binary reading.
// kErrInvalidArgument, kErrOpenFailed (*file is then null).
ResultCode OpenDayLog(const wchar_t* logDir, TimeValue day, FILE** file);

// Reads one day's log into the table and the run's outputs. kOk at the end,
// kUserAbort on Ctrl+C or cancellation (polled every 500 lines),
// kErrInvalidArgument without a file, kErrReadFault.
ResultCode ParseDayLog(TransactionTable* table, WebstatRun* run, FILE* file, uint32_t fileIndex,
                       TimeValue day, WebstatConditions* conditions, ProgressFile* progress,
                       JobEvent* job);

// Re-reads the span's log up to its time of day for the opening lines of the
// doubt list's entries (sorted by id). kOk, kUserAbort, kErrInvalidArgument,
// kErrOpenFailed (no such log), kErrNoMemory.
ResultCode ReparseDayLog(ProgressFile* progress, JobEvent* job, const ReparseSpan* span,
                         const wchar_t* logDir, WebstatConditions* conditions, WebstatRun* run);

// 1 when the reason passes the blocked mask, else 0; *reason gets the bits.
int ClassifyBlockReason(const char* text, uint32_t webFilterFlag, uint32_t blockedMask,
                        uint32_t* reason);

// Reports the table's open transactions: userValue 0 at a proxy reset
// (finished phase), 1 at the end of the run (incomplete phase).
void ReportOpenTransactions(TransactionTable* table, WebstatConditions* conditions,
                            WebstatRun* run, uint32_t userValue);

// Merges the spans of one doubt (its day up to till, then earlierDays full
// earlier days, at most 7) into spans, which stay ordered newest first.
ResultCode MergeReparseSpans(std::vector<ReparseSpan>* spans, TimeValue day, TimeValue till,
                             uint32_t earlierDays);

// Sorts the doubt list by id for the re-parse's lookups.
void SortDoubts(WebstatRun* run);
// Whether any doubt entry still has state 0.
bool AnyDoubtLeft(WebstatRun* run);
