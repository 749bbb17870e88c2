// The progress file a front end watches, and the progress/cancel callback.
#pragma once

#include <cstdint>
#include <string>

#include "platform/types.h"

struct RawFile;
struct JobEvent;

// One per run. The file always holds exactly one line, rewritten in place.
struct ProgressFile {
  RawFile* file;           // null when not open
  std::wstring path;       // full name, to delete the file at close
  uint32_t overallPercent; // 0..100
  uint32_t itemPercent;    // 0..100
  uint32_t counter3;
  uint32_t counter4;
  char text1[32];          // NUL-terminated, at most 31 bytes
  char text2[64];          // NUL-terminated, at most 63 bytes
  TimeValue day;           // day of the HTTP log being read, 0 = none
};

// Clears the stored day in ReportDayProgress.
constexpr TimeValue kProgressNoDay = ~static_cast<TimeValue>(0);

// With dir, only the last component of name (after its last '\' or '/') is
// used, in dir, which is created when missing; without, name as given.
// kErrNoMemory, or the mapped error (fallback kErrCannotCreate) when the file
// cannot be created; *out is then null.
ResultCode OpenProgressFile(const wchar_t* dir, const wchar_t* name, ProgressFile** out);

// Closes and deletes the file and frees the record (null ignored).
void CloseProgressFile(ProgressFile* progress);

// Metadata generator line "%u;%u;%u;%u;%s;%s". A negative number or a null
// text keeps the stored value; percentages are capped at 100; the texts are
// cut to 31 and 63 bytes.
void ReportStatProgress(ProgressFile* progress, int64_t overall, int64_t item, int64_t counter3,
                        int64_t counter4, const wchar_t* text1, const wchar_t* text2);

// Delivery doctor line "%lu;%lu;%s". A new non-empty text is also printed to
// standard error (message 39) at verbosity 1 or more.
void ReportTextProgress(ProgressFile* progress, int64_t overall, int64_t item,
                        const wchar_t* text);

// Web statistics line "%lu;%lu;kelbYYYYMMDD.log" or "%lu;%lu;". A day of 0
// keeps the stored day, kProgressNoDay clears it.
void ReportDayProgress(ProgressFile* progress, int64_t overall, int64_t item, TimeValue day);

// The context handed to ProgressCallback; both members may be null.
struct ProgressContext {
  ProgressFile* progress;
  JobEvent* event;
};

// 2 (user abort) when Ctrl+C was pressed or the job was cancelled; otherwise
// reports the text progress and gives 0. overall may be -1 (keep).
int ProgressCallback(void* context, int overall, int item, const wchar_t* text);
