// Choice of days and the run over days x types of the metadata generator.
#pragma once

#include <cstdint>

#include "common/output_settings.h"
#include "platform/types.h"

struct NodeTree;
struct ProgressFile;
struct JobEvent;

// Adds to `list` (ascending days) every day whose log is newer than the
// type's stored day, or is the stored day with another size, for each
// requested type. Only names of exactly mask-prefix, eight digits and
// mask-suffix count (ASCII case ignored).
ResultCode ScanNewLogDays(const wchar_t* logDir, const wchar_t* outputDir, uint32_t mask,
                          NodeTree* list);

// Runs the handler of every (day, type) item of the list. force: process
// days older than a type's stored day too; diff: resume a type's stored day
// after its stored lines. The handlers of one day's log count in one pass
// over it; independent logs are read on up to `threads` threads (0: one per
// processor), with the same files, messages and state as on one. Returns 0,
// kUserAbort or the last error.
ResultCode RunStatTypes(const wchar_t* logDir, const wchar_t* outputDir, NodeTree* list,
                        const OutputSettings& settings, bool force, bool diff, uint32_t threads,
                        ProgressFile* progress, JobEvent* event);

// True when name is mask's text before '*', eight digits of a valid date and
// mask's text after '*', ignoring ASCII case; *day is that midnight.
bool LogNameDay(const wchar_t* mask, const wchar_t* name, TimeValue* day);
