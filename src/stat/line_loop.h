// The line loop shared by every metadata handler: interruption and
// cancellation polls, the resume filter and progress, over the fast reader.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "frame/console.h"
#include "frame/jobs.h"
#include "frame/progress.h"
#include "common/line_reader.h"
#include "common/text_match.h"
#include "common/time.h"
#include "platform/stream.h"
#include "platform/types.h"

// Most fields a handler reads from a line.
constexpr uint32_t kLoopFieldsMax = 16;

// One line as a handler sees it: its first fields split once, as views into
// the line (field 1 is the time), and the time of day.
struct LoopLine {
  TextView fields[kLoopFieldsMax];
  uint32_t fieldCount;  // fields the line has, up to the handler's kFields
  uint32_t hour;
  uint64_t ticks;  // time of day
  uint64_t id;     // the line's number and its loop's: no two lines share it

  // Field `index` as it stands (empty when the line has no such field).
  TextView Field(uint32_t index) const {
    return index < fieldCount ? fields[index] : TextView{"", 0};
  }
  // Field `index` as GetField reads it into `capacity` bytes.
  TextView Trimmed(uint32_t index, size_t capacity) const {
    return TrimField(Field(index), capacity);
  }
};

constexpr uint32_t kCancelPollLines = 500;
// The time field is read as GetField reads it into this many bytes.
constexpr size_t kTimeFieldCapacity = 32;
static_assert(kTimeFieldCapacity <= kTimeTextMax, "the time field must fit ParseTimeOfDayText");
constexpr uint32_t kProgressLines = 500;

// Size of the stream in bytes; leaves it at its start. -1 when unknown.
int64_t StreamSizeAndRewind(FILE* stream);

// Where a loop reports its item percent: the progress file (a single-thread
// run), or a number another thread reads (a worker's loop); both may be null.
struct LoopReport {
  ProgressFile* progress;
  std::atomic<int64_t>* percent;
};

// Item percent of a read position, reported only when it changed.
struct LoopProgress {
  LoopReport report;
  int64_t size;
  int64_t lastPercent;
};
void ReportLoopProgress(LoopProgress* state, uint64_t position);

// Whether the log of `day` may still grow now (its last line is then left
// until it has its line end).
bool LogMayGrow(TimeValue day);

// One handler fed by a line loop: its visitor and its own resume point. On
// entry lines/lastTime are the resume point; after a loop that returned 0
// they are the number of lines read and the time of the last line whose time
// was read.
struct LoopSlot {
  void* visitor;
  void (*visit)(void* visitor, const LoopLine& line);
  uint32_t lines;
  uint64_t lastTime;
};

// Reads the log line by line; each line is split once (its first `fields`
// fields) and handed to every slot whose resume filter it passes, in slot
// order. In a log that may grow, a last line without its line end is not
// read: the loop stops before it and leaves the stream there, so that the
// stream's position is the size taken. Returns 0, kUserAbort, kErrReadFault
// (the handlers then write nothing), or kErrNoMemory.
ResultCode RunSharedLineLoop(FILE* log, bool mayGrow, uint32_t fields, LoopSlot* slots,
                             size_t slotCount, LoopReport report, JobEvent* event);

template <typename Visitor>
void VisitLine(void* visitor, const LoopLine& line) {
  (*static_cast<Visitor*>(visitor))(line);
}

// The shared loop with one handler: visit(const LoopLine&) gets every line
// with a time that passes the resume filter, split up to Visitor::kFields.
// *linesProcessed and *lastTime are the slot's resume point in and out.
template <typename Visitor>
ResultCode RunLineLoop(FILE* log, bool mayGrow, uint32_t* linesProcessed, uint64_t* lastTime,
                       ProgressFile* progress, JobEvent* event, Visitor& visit) {
  static_assert(Visitor::kFields <= kLoopFieldsMax, "too many fields for one line");
  LoopSlot slot{&visit, VisitLine<Visitor>, *linesProcessed, *lastTime};
  const ResultCode result =
      RunSharedLineLoop(log, mayGrow, Visitor::kFields, &slot, 1, LoopReport{progress, nullptr}, event);
  if (result != kOk) return result;
  *linesProcessed = slot.lines;
  *lastTime = slot.lastTime;
  return kOk;
}
