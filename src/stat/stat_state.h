// The run state of the statistic types in "_varno.stat", and its backup copy
// "_varno.last".
#pragma once

#include <cstdint>
#include <string>

#include "platform/types.h"

// Fills the run state of the requested types from "_varno.stat" in the output
// directory; a missing file, key or unreadable date leaves a type at zero.
ResultCode LoadStatState(const wchar_t* outputDir, uint32_t mask);

// Stores the state of every requested type that processed a day in this run.
// The file is replaced atomically (temporary file, flush to disk, rename), so
// a failure or crash leaves the previous file intact. Failures are not
// reported; the result is for tests.
ResultCode SaveStatState(const wchar_t* outputDir, uint32_t mask);

// Copies "_varno.stat" to "_varno.last" when the first exists and the second
// does not (atomically as above). Failures end nothing.
ResultCode BackupStatState(const wchar_t* outputDir);
