// Entry of the metadata generator (--stat) as the dispatch calls it.
#pragma once

#include <cstdint>

#include "common/output_settings.h"
#include "platform/types.h"

struct NodeTree;
struct ProgressFile;
struct JobEvent;

struct StatModeArgs {
  const wchar_t* logDir;     // expanded source directory
  const wchar_t* outputDir;  // expanded output directory (exists)
  NodeTree* dateList;        // days of --date, or null
  bool datesGiven;           // --date was given
  bool diff;                 // --diff was given
  uint32_t mask;             // requested statistic types
  OutputSettings settings;   // --top, --units
  uint32_t threads;          // --threads; 0: one per processor
  ProgressFile* progress;    // or null
  JobEvent* event;           // or null
};

// Takes the lock file "_varno_%s.lock" of every requested single type in the
// output directory. Returns 0 or the first failure (kErrSharingViolation when
// another run holds one); prints nothing. Locks taken stay held until
// ReleaseStatLocks.
ResultCode TakeStatLocks(const wchar_t* outputDir, uint32_t mask);
void ReleaseStatLocks();

// Loads the run state, chooses the days (tags --date days or scans the log
// directory), backs up the state file, runs every item and saves the state
// when the run succeeded and either no --date or --diff was given.
ResultCode RunStatMode(const StatModeArgs& args);
