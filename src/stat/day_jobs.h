// One day's handlers of one log, counted in one pass over the log: the
// driver groups a day's items by the log they read and runs each group as a
// job, on its own thread or on a worker's. A job only reads logs and counts;
// the driver writes each handler's file when the item's turn comes.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "stat/line_loop.h"
#include "stat/stat_types.h"

struct DayDate {
  uint32_t year, month, day;
};

// One item of a job: a type's handler with its own resume point and result.
struct JobHandler {
  StatType* type = nullptr;
  uint32_t resumeLines = 0;
  uint64_t resumeTime = 0;
  std::wstring secondaryName;  // the type's second log, when it has one
  FILE* secondary = nullptr;
  ResultCode openResult = kOk;  // a log that exists but cannot be opened
  bool hasLog = false;          // the primary or the second log is open
  void* counts = nullptr;       // the handler's counts (HandlerKind)
  ResultCode result = kOk;
  uint32_t lines = 0;     // resume point reached
  uint64_t lastTime = 0;
  uint32_t size = 0;      // the part of the log taken
};

struct DayJob {
  TimeValue day = 0;
  DayDate date{};
  size_t dayIndex = 0;
  const wchar_t* logMask = nullptr;  // the primary log every handler reads
  std::wstring primaryName;
  FILE* primary = nullptr;
  bool primaryFound = false;
  ResultCode primaryOpen = kOk;
  std::vector<JobHandler> handlers;
  // Run state: 0 not begun, 1 logs open, 2 counted. Read and written under
  // the driver's lock when workers run.
  int stage = 0;
  std::atomic<int64_t> percent{0};  // item percent of the pass running
};

// Opens the primary log and each handler's second log, as the driver finds
// them (a missing log is no error).
void OpenJobLogs(const wchar_t* logDir, DayJob* job);

// Counts every handler that has a log: each second (compact) log alone
// first, then the primary log in one pass for all. Closes the logs. The
// handlers' results say how each ended.
void RunJobPasses(DayJob* job, LoopReport report, JobEvent* event);

// Frees a handler's counts (null ignored).
void FreeHandlerCounts(JobHandler* handler);

// Opens the day's log of a mask when it exists. kErrFileNotFound when there is
// none. Names are matched ignoring case, as the scan found them.
ResultCode OpenDayLog(const wchar_t* logDir, const wchar_t* mask, const DayDate& date,
                      std::wstring* name, FILE** stream);
