// The --webstat run: days of the interval parsed into transactions, doubts
// settled, then the summary and/or the sorted, paged list of transactions.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "common/output_settings.h"
#include "common/proxy_log.h"
#include "common/record_table.h"
#include "platform/types.h"
#include "webstat/summary.h"

struct WebstatConditions;
struct ProgressFile;
struct JobEvent;

// A day's log kept open for the whole run: the search output re-reads its lines.
struct OpenLogFile {
  FILE* file;
  TimeValue day;  // midnight
};

// Where a hit's line is, its time, and the volume of a transaction reported
// while still open (0 for a finished one).
struct SearchHitBlock {
  uint32_t fileIndex;
  uint32_t lineOffset;
  TimeValue time;
  uint64_t openVolume;
};

// Record of searchHits: the block, then the key of the sort column.
struct SearchHit {
  SearchHitBlock block;
  unsigned char key[1];
};

constexpr uint32_t kSortKeyTextMax = 511;

// The lines of hits as the main pass read them, in file order, up to
// kHitLinesBytes: the output writes these without reading them again.
struct HitLine {
  uint32_t fileIndex;
  uint32_t lineOffset;
  size_t at;  // in text
  size_t length;
};
struct HitLines {
  std::vector<HitLine> lines;
  std::string text;
};
constexpr size_t kHitLinesBytes = size_t{4} << 20;

// Keeps the line (a piece as read, without its LF) of a hit found at this
// position, when there is room and it comes after the last one kept.
void KeepHitLine(HitLines* kept, uint32_t fileIndex, uint32_t lineOffset, const char* text,
                 size_t length);

struct WebstatRun {
  std::vector<OpenLogFile> openFiles;
  RecordTable searchHits;  // SearchHits
  RecordTable doubts;      // DoubtEntry (http_transactions.h)
  uint32_t countOnOpen;
  WebSummary summary;
  HitLines hitLines;
};

// Closes every open log and frees every table.
void WebstatRunFree(WebstatRun* run);

// Appends a hit with the key of the sort column (missing texts read as empty).
// Always kOk: a hit that cannot be stored is dropped.
ResultCode AddSearchHit(RecordTable* hits, const SearchHitBlock* block, uint32_t sortColumn,
                        const uint8_t* id, const char* user, const char* ip, const char* host,
                        uint64_t volume);
// Sorts the hits by the column, ascending or descending; ties by ascending time.
void SortSearchHits(RecordTable* hits, uint32_t sortColumn, bool descending);
// Writes the hit's line as logged, or, for an open transaction, its opening
// line with the volume so far (KiB) in field 6 and 3 in field 10. kErrWriteFault.
// The line is taken from `kept` when it is there, else read from its log.
ResultCode WriteSearchLine(const std::vector<OpenLogFile>& openFiles, const HitLines& kept,
                           FILE* output, const SearchHit* hit, char* buffer, size_t size);

// The mode. logDir and conditions are required; outputName null writes to
// standard output; progress and job may be null. kOk, kErrNotFound (nothing
// matched; an empty output file is left), kErrCannotCreate, kErrNoMemory,
// kUserAbort, a log open or enumeration error. No output file is left after
// any other failure.
ResultCode RunWebStatistics(const wchar_t* logDir, WebstatConditions* conditions,
                            const OutputSettings* settings, const wchar_t* outputName,
                            ProgressFile* progress, JobEvent* job);
